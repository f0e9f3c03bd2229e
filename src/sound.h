// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Sound: owns the library's digital sound driver, the effects and the two music loops.
//
// The game speaks to it in terms of what happened and where: play an effect for an
// origin (its x sets the stereo position), change the music, pause and resume with the
// game, mute. The verbs never wait and never fail: without a sound device, or before
// StartSound, or for a sound whose file could not be loaded, they do nothing audible.
// Every verb is reported to `soundRecorder` (when set) first, so tests can see what
// the game asked for.

enum class Effect { Splat, Jump, Land, Crazy, Level, Clear, TimeUp, HighScore, Click };
constexpr int kEffectCount = 9;

enum class Music { None, Title, Play };

// At most this many voices of one effect sound at once; a new one replaces the oldest.
constexpr int kVoicesPerEffect = 3;

// Installs the sound driver (logging which one, or that there is none; the ALSA
// library's own complaints go to the log) and loads the sounds from the working
// directory. Only the first call does anything. Call it after the first title frame:
// the title must not wait for it.
void StartSound();
// Stops every sound, frees the samples and removes the driver; StartSound may follow.
void StopSound();

// An effect made at screen x (pixels; left edge to the left speaker).
void PlayEffect(Effect effect, double x);
// Makes `music` the loop that plays (from its start, when it changes); None is silence.
// Asking again for the loop already playing changes nothing.
void PlayMusic(Music music);
// Holds the music and every sounding effect where they are, and lets them go on.
void PauseSound();
void ResumeSound();

// Mute silences the music and every effect, sounding or asked for, until unmuted.
void SetMuted(bool muted);
bool Muted();
void ToggleMute();
// Quiet: everything at a low level (a demo on the title screen); not quiet: as made.
void SetQuiet(bool quiet);
bool Quiet();

// What the module holds now (for tests and the benchmark).
bool SoundDeviceReady();               // a driver that mixes, after StartSound
int EffectVoicesSounding(Effect effect);  // voices of `effect` playing now
bool MusicSounding();                  // the music voice is playing now

// One verb as the game called it.
struct SoundCall {
  enum class Verb { Effect, Music, Pause, Resume, Mute };
  Verb verb;
  Effect effect;  // for Effect
  Music music;    // for Music
  int pan;        // for Effect: 0 (left) .. 255 (right)
  bool muted;     // for Mute: the new state; otherwise whether sound was muted
};
// Called with every verb before it acts; null (the default) records nothing.
extern void (*soundRecorder)(const SoundCall& call);
