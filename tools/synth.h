// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The game's sound effects and music loops, synthesised from code, and the WAV writer.
//
// Every sound is mono at kSoundRate samples per second, values in -1 .. 1, with its
// mean removed (no DC offset) and scaled to a fixed peak below full scale. The noise
// comes from our own seeded generator, so the same code always gives the same samples.
#include <string>
#include <vector>

constexpr int kSoundRate = 22050;  // samples per second

struct Sound {
  std::string name;            // file name without ".wav"
  std::vector<float> samples;  // -1 .. 1
  bool loop;                   // a music loop: its end joins its start
};

// Peaks the sounds are scaled to (full scale is 1).
constexpr double kEffectPeak = 0.8;
constexpr double kMusicPeak = 0.5;

// The effects (splat, jump, land, crazy, level, clear, timeup, highscore, click) and the
// two music loops (title, play), in that order.
std::vector<Sound> MakeSounds();

// Writes `samples` as a 16-bit PCM mono WAV file through libsndfile. On failure says why
// on standard error and returns false.
bool WriteWav(const std::string& path, const std::vector<float>& samples);
