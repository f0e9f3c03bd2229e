// SPDX-License-Identifier: GPL-3.0-or-later
// The generated sounds loaded the way the game loads them, and the sound module where
// there is no sound device at all.
#include <allegro.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sound.h"
#include "test_support.h"

namespace {

struct Loaded {
  const char* name;
  double shortest, longest;  // seconds
};

TEST(SoundFilesInTheGame, EveryEffectAndLoopLoadsAsSixteenBitMono) {
  for (Loaded sound : {Loaded{"splat.wav", 0.1, 1.5}, Loaded{"jump.wav", 0.1, 1.5}, Loaded{"land.wav", 0.1, 1.5},
                       Loaded{"crazy.wav", 0.1, 1.5}, Loaded{"level.wav", 0.1, 1.5}, Loaded{"clear.wav", 0.1, 1.5},
                       Loaded{"timeup.wav", 0.1, 1.5}, Loaded{"highscore.wav", 0.1, 1.5},
                       Loaded{"click.wav", 0.01, 0.1}, Loaded{"title.wav", 20, 40}, Loaded{"play.wav", 20, 40}}) {
    SCOPED_TRACE(sound.name);
    SAMPLE* sample = load_sample((std::string(NANASPLAT_MEDIA_DIR) + "/" + sound.name).c_str());
    ASSERT_NE(sample, nullptr);
    EXPECT_EQ(sample->bits, 16);
    EXPECT_EQ(sample->stereo, 0);
    EXPECT_EQ(sample->freq, 22050);
    const double seconds = static_cast<double>(sample->len) / sample->freq;
    EXPECT_GE(seconds, sound.shortest);
    EXPECT_LE(seconds, sound.longest);
    destroy_sample(sample);
  }
}

int calls = 0;
void Count(const SoundCall&) { ++calls; }

TEST(SoundWithoutADevice, OneLogLineThenEveryVerbDoesNothing) {
  ResetLog();
  StartSound();
  StartSound();  // only the first call acts
  EXPECT_EQ(LogMessages(), std::vector<std::string>{"No sound device found; playing silently"});
  EXPECT_FALSE(SoundDeviceReady());
  calls = 0;
  soundRecorder = Count;
  PlayMusic(Music::Play);
  PlayEffect(Effect::Crazy, 100);
  SetMuted(true);
  SetMuted(false);
  PauseSound();
  ResumeSound();
  soundRecorder = nullptr;
  EXPECT_EQ(calls, 6);
  EXPECT_FALSE(MusicSounding());
  EXPECT_EQ(EffectVoicesSounding(Effect::Crazy), 0);
  EXPECT_EQ(LogLines().size(), 1u) << "the verbs log nothing";
  StopSound();
}

TEST(SoundWithoutADevice, MuteOutlivesStoppingTheSound) {
  SetMuted(true);
  StartSound();
  StopSound();
  EXPECT_TRUE(Muted());
  ToggleMute();
  EXPECT_FALSE(Muted());
}

}  // namespace
