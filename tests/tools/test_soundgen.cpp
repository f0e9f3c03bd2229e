// SPDX-License-Identifier: GPL-3.0-or-later
// The generated sounds as the build leaves them in the media directory, read back
// through libsndfile, and the generator run again.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "synth.h"

namespace {

const std::vector<std::string> kEffects{"splat", "jump",   "land",      "crazy", "level",
                                        "clear", "timeup", "highscore", "click"};
const std::vector<std::string> kLoops{"title", "play"};

std::string MediaFile(const std::string& name) { return std::string(NANASPLAT_MEDIA_DIR) + "/" + name + ".wav"; }

std::string Bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A sound file as libsndfile reads it, samples in -1 .. 1.
struct Read {
  SF_INFO info{};
  std::vector<double> samples;
  bool ok = false;

  explicit Read(const std::string& path) {
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr) return;
    samples.resize(static_cast<size_t>(info.frames * info.channels));
    ok = sf_read_double(file, samples.data(), static_cast<sf_count_t>(samples.size())) ==
         static_cast<sf_count_t>(samples.size());
    sf_close(file);
  }
  double Seconds() const { return static_cast<double>(info.frames) / info.samplerate; }
  double Peak() const {
    double peak = 0;
    for (double s : samples) peak = std::max(peak, std::fabs(s));
    return peak;
  }
  double Rms() const {
    double sum = 0;
    for (double s : samples) sum += s * s;
    return std::sqrt(sum / samples.size());
  }
  double Mean() const {
    double sum = 0;
    for (double s : samples) sum += s;
    return sum / samples.size();
  }
};

TEST(SoundFiles, TheGeneratorWritesTheSameBytesAsTheBuildDid) {
  const std::string dir = testing::TempDir() + "/soundgen_again";
  ASSERT_EQ(std::system(("rm -rf '" + dir + "' && mkdir -p '" + dir + "'").c_str()), 0);
  ASSERT_EQ(std::system(("'" SOUNDGEN "' '" + dir + "'").c_str()), 0);
  std::vector<std::string> all = kEffects;
  all.insert(all.end(), kLoops.begin(), kLoops.end());
  for (const std::string& name : all) {
    SCOPED_TRACE(name);
    const std::string built = Bytes(MediaFile(name));
    ASSERT_GT(built.size(), 44u);
    EXPECT_TRUE(Bytes(dir + "/" + name + ".wav") == built);
  }
}

TEST(SoundFiles, EveryFileIsSixteenBitMonoWavThatLibsndfileReads) {
  std::vector<std::string> all = kEffects;
  all.insert(all.end(), kLoops.begin(), kLoops.end());
  for (const std::string& name : all) {
    SCOPED_TRACE(name);
    const Read sound(MediaFile(name));
    ASSERT_TRUE(sound.ok);
    EXPECT_EQ(sound.info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    EXPECT_EQ(sound.info.channels, 1);
    EXPECT_EQ(sound.info.samplerate, kSoundRate);
  }
}

TEST(SoundFiles, EffectsAreShortAndClearlyAudibleWithoutClipping) {
  for (const std::string& name : kEffects) {
    SCOPED_TRACE(name);
    const Read sound(MediaFile(name));
    ASSERT_TRUE(sound.ok);
    const double shortest = name == "click" ? 0.01 : 0.1;  // seconds
    const double longest = name == "click" ? 0.1 : 1.5;
    EXPECT_GE(sound.Seconds(), shortest);
    EXPECT_LE(sound.Seconds(), longest);
    EXPECT_GT(sound.Peak(), 0.7);
    EXPECT_LT(sound.Peak(), 0.9);
    EXPECT_GT(sound.Rms(), 0.08);
    EXPECT_LT(sound.Rms(), 0.4);
    EXPECT_LT(std::fabs(sound.Mean()), 0.002) << "no DC offset";
    EXPECT_LT(std::fabs(sound.samples.front()), 0.02) << "starts without a click";
    EXPECT_LT(std::fabs(sound.samples.back()), 0.02) << "ends without a click";
  }
}

TEST(SoundFiles, LoopsAreLongGentleAndCentred) {
  for (const std::string& name : kLoops) {
    SCOPED_TRACE(name);
    const Read sound(MediaFile(name));
    ASSERT_TRUE(sound.ok);
    EXPECT_GE(sound.Seconds(), 20.0);
    EXPECT_LE(sound.Seconds(), 40.0);
    EXPECT_LT(sound.Peak(), 0.6) << "gentle, far below clipping";
    EXPECT_GT(sound.Rms(), 0.05) << "but heard";
    EXPECT_LT(std::fabs(sound.Mean()), 0.001) << "no DC offset";
  }
}

TEST(SoundFiles, LoopsJoinWithoutAJumpAtTheSeam) {
  for (const std::string& name : kLoops) {
    SCOPED_TRACE(name);
    const Read sound(MediaFile(name));
    ASSERT_TRUE(sound.ok);
    const std::vector<double>& s = sound.samples;
    // The step from the last sample back to the first is no bigger than the usual step
    // between neighbours inside the loop.
    std::vector<double> steps;
    for (size_t i = 1; i < s.size(); ++i) steps.push_back(std::fabs(s[i] - s[i - 1]));
    std::sort(steps.begin(), steps.end());
    const double median = steps[steps.size() / 2];
    EXPECT_LE(std::fabs(s.front() - s.back()), std::max(median, 1.0 / 32768));
    // Nor is the loop's end a cut-off note: the last tenth of a second is quiet.
    const size_t tail = static_cast<size_t>(kSoundRate / 10);
    double tailPeak = 0;
    for (size_t i = s.size() - tail; i < s.size(); ++i) tailPeak = std::max(tailPeak, std::fabs(s[i]));
    EXPECT_LT(tailPeak, 0.5 * sound.Peak());
  }
}

TEST(SoundFiles, AnUnwritablePathIsReportedNotIgnored) {
  EXPECT_FALSE(WriteWav("/nonexistent-directory/x.wav", {0.0f, 0.5f}));
}

}  // namespace
