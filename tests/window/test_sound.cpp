// SPDX-License-Identifier: GPL-3.0-or-later
// What the game asks of the sound module, seen through its recorder, and what a real
// (captured) sound device then plays.
#include <allegro.h>
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "game.h"
#include "nana.h"
#include "init.h"
#include "menu.h"
#include "pause.h"
#include "settings.h"
#include "sound.h"
#include "test_sprites.h"
#include "taps.h"
#include "test_support.h"

namespace {

// Every effect asked for, with the tick of the test's own count at which it came.
struct Heard {
  int tick;
  SoundCall call;
};
std::vector<Heard> heard;
int tick = 0;
void Keep(const SoundCall& call) { heard.push_back({tick, call}); }

std::vector<Heard> EffectsHeard(Effect effect) {
  std::vector<Heard> found;
  for (const Heard& h : heard) {
    if (h.call.verb == SoundCall::Verb::Effect && h.call.effect == effect) found.push_back(h);
  }
  return found;
}

class SoundAsked : public testing::Test {
 protected:
  void SetUp() override {
    srand(1);
    // M keeps its choice in the player's settings: here, in this test's scratch directory.
    setenv("XDG_CONFIG_HOME", ScratchDir().c_str(), 1);
    SetMuted(false);
    heard.clear();
    tick = 0;
    soundRecorder = Keep;
    gameImages.banana1 = gameImages.banana2 = banana.get();
    gameImages.fly1 = fly.get();
    gameImages.fly2 = fly.get();
    splatter = create_bitmap(SCREEN_W, SCREEN_H);
    for (int k = 0; k < KEY_MAX; ++k) key[k] = 0;
    ReleaseKey(KEY_P);
    ReleaseKey(KEY_M);
    ForgetTogglePresses();
  }
  void TearDown() override {
    soundRecorder = nullptr;
    SetMuted(false);
    destroy_bitmap(splatter);
  }

  Game StartedLevel() {
    Game game(false, splatter);
    SetUpLevel(game);
    StartLevelClock(game);
    game.flies.clear();
    return game;
  }
  // A fly right under the pivot of a banana hovering upright: it dies this tick.
  Fly FlyUnder(const Nana& nana) {
    return Fly{{nana.pos.x - 21, nana.pos.y + 75 - 19}, {0, 0}, SizeOf(fly.get()), SCREEN_W, SCREEN_H};
  }
  static void Hover(Nana& nana, double x) {
    nana.pos = {x, 440};
    nana.vel = {0, 0};
    nana.spin = 0;
    nana.angle = 0;
  }
  // Steps one banana as player 1's own in a game without flies, as play does (its
  // sounds come from the tick's events), counting ticks.
  void Step(Nana& nana, int ticks, bool squash) {
    for (int t = 0; t < ticks; ++t, ++tick) StepOnce(nana, squash);
  }
  void StepOnce(Nana& nana, bool squash) {
    Game game(false, splatter);
    game.p1.nana = nana;
    key[KEY_SPACE] = squash ? 1 : 0;
    RunTick(game);
    key[KEY_SPACE] = 0;
    nana = game.p1.nana;
  }

  TestSprite banana{kTestNanaW, kTestNanaH};
  TestSprite fly{kTestFlyW, kTestFlyH};
  BITMAP* splatter = nullptr;
};

TEST_F(SoundAsked, AKillAsksForASplatPannedToWhereTheFlyWas) {
  Game game = StartedLevel();
  Hover(game.p1.nana, 100);
  game.flies.push_back(FlyUnder(game.p1.nana));
  RunTick(game);
  ASSERT_TRUE(game.flies.empty());
  const std::vector<Heard> splats = EffectsHeard(Effect::Splat);
  ASSERT_EQ(splats.size(), 1u);
  EXPECT_LT(splats[0].call.pan, 40) << "a fly near the left wall sounds on the left";

  heard.clear();
  Hover(game.p1.nana, 900);
  game.flies.push_back(FlyUnder(game.p1.nana));
  RunTick(game);
  ASSERT_EQ(EffectsHeard(Effect::Splat).size(), 1u);
  EXPECT_GT(EffectsHeard(Effect::Splat)[0].call.pan, 200);
}

TEST_F(SoundAsked, OnlyTheReleaseIntoAJumpAsksForAJump) {
  Nana nana(SizeOf(banana.get()), {512, 500}, SCREEN_W, SCREEN_H);
  nana.angle = 3.0f;
  Step(nana, 300, false);
  ASSERT_EQ(nana.state, UpsideDown);
  Step(nana, 30, true);
  EXPECT_TRUE(EffectsHeard(Effect::Jump).empty()) << "squashing is silent";
  const int release = tick;
  Step(nana, 1, false);
  ASSERT_EQ(nana.state, Airborne);
  const std::vector<Heard> jumps = EffectsHeard(Effect::Jump);
  ASSERT_EQ(jumps.size(), 1u);
  EXPECT_EQ(jumps[0].tick, release);
  Step(nana, 300, false);
  EXPECT_EQ(EffectsHeard(Effect::Jump).size(), 1u);
}

TEST_F(SoundAsked, ALandingFromFlightAsksForALandOnceNotEveryTickOnTheGround) {
  struct Case {
    const char* what;
    float angle;  // radians
  };
  for (Case c : {Case{"on its back", 0.0f}, Case{"tilted", 0.8f}, Case{"over a tip onto both tips", 3.0f}}) {
    SCOPED_TRACE(c.what);
    heard.clear();
    tick = 0;
    Nana nana(SizeOf(banana.get()), {512, 300}, SCREEN_W, SCREEN_H);
    nana.angle = c.angle;
    int landedAt = -1;
    for (; tick < 600; ++tick) {
      const int before = nana.state;
      StepOnce(nana, false);
      if (landedAt < 0 && before == Airborne && nana.state != Airborne) landedAt = tick;
    }
    const std::vector<Heard> lands = EffectsHeard(Effect::Land);
    ASSERT_EQ(lands.size(), 1u);
    EXPECT_EQ(lands[0].tick, landedAt);
  }
}

TEST_F(SoundAsked, CrazyModeAsksForCrazyAsItStarts) {
  Game game = StartedLevel();
  for (int t = 1; t <= 180; ++t, ++tick) {
    game.p1.nana.pos = {512, static_cast<double>((SCREEN_H - kGroundMargin) - 94)};
    game.p1.nana.state = Rolling;
    game.p1.streak = t == 180 ? 5 : 0;
    RunTick(game);
  }
  ASSERT_EQ(game.p1.crazy, 600);
  const std::vector<Heard> crazy = EffectsHeard(Effect::Crazy);
  ASSERT_EQ(crazy.size(), 1u);
  EXPECT_EQ(crazy[0].tick, 179);
  EXPECT_EQ(crazy[0].call.pan, 128);
}

TEST_F(SoundAsked, MTogglesMuteOnTheMenuAndInPlayOncePerPress) {
  StartLogicTimer();
  Menu menu;
  BuildMenuButtons(menu);
  TestSprite title{600, 400};
  menu.shownImage = title.get()->bitmap;
  BITMAP* buffer = create_bitmap(SCREEN_W, SCREEN_H);
  PressKey(KEY_M);
  MenuFrame(menu, buffer);
  EXPECT_TRUE(Muted());
  EXPECT_TRUE(CurrentSettings().mute) << "the choice is kept for the next run";
  EXPECT_TRUE(LoadSettings().mute);
  MenuFrame(menu, buffer);
  EXPECT_TRUE(Muted()) << "a held key counts once";
  ReleaseKey(KEY_M);
  MenuFrame(menu, buffer);
  PressKey(KEY_M);
  MenuFrame(menu, buffer);
  EXPECT_FALSE(Muted());
  EXPECT_FALSE(LoadSettings().mute);
  ReleaseKey(KEY_M);
  MenuFrame(menu, buffer);  // let go

  Game game = StartedLevel();
  game.flies.push_back(Fly{{100, 100}, {0, 0}, SizeOf(fly.get()), SCREEN_W, SCREEN_H});
  blit(splatter, buffer, 0, 0, 0, 0, SCREEN_W, SCREEN_H);
  PressKey(KEY_M);
  logic_time = 1;
  EXPECT_TRUE(PlayFrame(game, buffer));
  EXPECT_TRUE(Muted());
  ReleaseKey(KEY_M);
  logic_time = 0;
  destroy_bitmap(buffer);
}

TEST_F(SoundAsked, PausedPlayHoldsTheSoundAndMStillMutes) {
  StartLogicTimer();
  Game game = StartedLevel();
  game.flies.push_back(Fly{{100, 100}, {0, 0}, SizeOf(fly.get()), SCREEN_W, SCREEN_H});
  BITMAP* buffer = create_bitmap(SCREEN_W, SCREEN_H);
  StartPause(game.pause);
  PressKey(KEY_P);
  EXPECT_TRUE(PlayFrame(game, buffer));
  ASSERT_TRUE(game.pause.paused);
  PressKey(KEY_M);
  EXPECT_TRUE(PlayFrame(game, buffer));
  EXPECT_TRUE(Muted()) << "M works while paused";
  ReleaseKey(KEY_P);
  ReleaseKey(KEY_M);
  EXPECT_TRUE(PlayFrame(game, buffer));
  PressKey(KEY_P);
  EXPECT_TRUE(PlayFrame(game, buffer));
  EXPECT_FALSE(game.pause.paused);
  ReleaseKey(KEY_P);
  logic_time = 0;
  destroy_bitmap(buffer);

  std::vector<SoundCall::Verb> verbs;
  for (const Heard& h : heard) verbs.push_back(h.call.verb);
  EXPECT_EQ(verbs, (std::vector<SoundCall::Verb>{SoundCall::Verb::Pause, SoundCall::Verb::Mute,
                                                 SoundCall::Verb::Resume}));
}

TEST_F(SoundAsked, AChosenMenuButtonAsksForAClick) {
  Menu menu;
  BuildMenuButtons(menu);
  TestSprite page{600, 400};
  gameImages.help1 = gameImages.help2 = gameImages.title = page.get();
  EXPECT_FALSE(ActOnChoice(menu, ""));
  EXPECT_TRUE(EffectsHeard(Effect::Click).empty());
  EXPECT_FALSE(ActOnChoice(menu, "Help"));
  EXPECT_FALSE(ActOnChoice(menu, "Next"));
  EXPECT_EQ(EffectsHeard(Effect::Click).size(), 2u);
}

// --- A real sound device: the library's ALSA driver into a file ---

// Points the ALSA library at a capture file in this test's scratch directory (through
// an .asoundrc in a scratch HOME), copies the sounds beside it and starts the sound.
class CapturedSound : public SoundAsked {
 protected:
  void SetUp() override {
    SoundAsked::SetUp();
    home = ScratchDir() + "/home";
    capture = ScratchDir() + "/capture.raw";
    ASSERT_EQ(system(("mkdir -p '" + home + "'").c_str()), 0);
    WriteFile(home + "/.asoundrc",
              "pcm.!default { type plug slave { pcm \"capture\" format S16_LE channels 2 rate 44100 } }\n"
              "pcm.capture { type file slave.pcm \"null\" file \"" + capture + "\" format \"raw\" }\n");
    const char* oldHome = getenv("HOME");
    savedHome = oldHome != nullptr ? oldHome : "";
    setenv("HOME", home.c_str(), 1);
    for (const char* name : {"splat.wav", "jump.wav", "land.wav", "crazy.wav", "level.wav", "clear.wav",
                             "timeup.wav", "highscore.wav", "click.wav", "title.wav", "play.wav"}) {
      if (name != missing) {
        WriteFile(name, ReadFile(std::string(NANASPLAT_MEDIA_DIR) + "/" + name));
      } else {
        unlink(name);
      }
    }
    ResetLog();
    StartSound();
    ASSERT_TRUE(SoundDeviceReady()) << "the captured device did not open";
  }
  void TearDown() override {
    StopSound();
    setenv("HOME", savedHome.c_str(), 1);
    SoundAsked::TearDown();
  }

  // Whether the capture holds anything but silence after byte `from`.
  bool SoundAfter(long from) {
    const std::string data = ReadFile(capture);
    for (size_t i = from; i + 1 < data.size(); i += 2) {
      const int sample = static_cast<int16_t>(static_cast<uint8_t>(data[i]) | static_cast<uint8_t>(data[i + 1]) << 8);
      if (std::abs(sample) > 64) return true;
    }
    return false;
  }
  long CaptureSize() { return static_cast<long>(ReadFile(capture).size()); }
  // Waits (up to 5 s: the mixer's thread may be kept waiting on a busy machine) until
  // something is heard after byte `from`.
  bool HeardWithin(long from) {
    for (int waited = 0; waited < 50; ++waited) {
      if (SoundAfter(from)) return true;
      rest(100);
    }
    return false;
  }
  // The capture's size once whatever was mixed before now has been written out.
  long SettledCaptureSize() {
    rest(300);
    return CaptureSize();
  }

  std::string home, capture, savedHome;
  std::string missing;  // a sound file left out
};

TEST_F(CapturedSound, TheVoiceCapHoldsInACrazyBurst) {
  Game game = StartedLevel();
  Hover(game.p1.nana, 512);
  for (int i = 0; i < 20; ++i) game.flies.push_back(FlyUnder(game.p1.nana));
  RunTick(game);
  ASSERT_TRUE(game.flies.empty());
  EXPECT_EQ(EffectsHeard(Effect::Splat).size(), 20u);
  EXPECT_EQ(EffectVoicesSounding(Effect::Splat), kVoicesPerEffect);
  // Played again, the oldest gives way: never more than the cap.
  for (int i = 0; i < 5; ++i) PlayEffect(Effect::Splat, 512);
  EXPECT_EQ(EffectVoicesSounding(Effect::Splat), kVoicesPerEffect);
  PlayEffect(Effect::Jump, 512);
  EXPECT_EQ(EffectVoicesSounding(Effect::Jump), 1) << "each effect has voices of its own";
}

TEST_F(CapturedSound, MusicPlaysChangesAndIsHeard) {
  EXPECT_FALSE(MusicSounding());
  PlayMusic(Music::Title);
  EXPECT_TRUE(MusicSounding());
  EXPECT_TRUE(HeardWithin(0));
  PlayMusic(Music::Play);
  EXPECT_TRUE(MusicSounding());
  PlayMusic(Music::None);
  EXPECT_FALSE(MusicSounding());
}

TEST_F(CapturedSound, PauseHoldsMusicAndEffectsAndResumeLetsThemGoOn) {
  PlayMusic(Music::Play);
  PlayEffect(Effect::HighScore, 512);
  ASSERT_TRUE(MusicSounding());
  ASSERT_EQ(EffectVoicesSounding(Effect::HighScore), 1);
  PauseSound();
  EXPECT_FALSE(MusicSounding());
  EXPECT_EQ(EffectVoicesSounding(Effect::HighScore), 0);
  PlayEffect(Effect::Splat, 512);
  EXPECT_EQ(EffectVoicesSounding(Effect::Splat), 0) << "nothing starts while paused";
  const long paused = SettledCaptureSize();
  rest(300);
  EXPECT_FALSE(SoundAfter(paused));
  ResumeSound();
  EXPECT_TRUE(MusicSounding());
  EXPECT_EQ(EffectVoicesSounding(Effect::HighScore), 1);
  EXPECT_TRUE(HeardWithin(paused));
}

TEST_F(CapturedSound, MuteSilencesEverythingUntilUnmuted) {
  PlayMusic(Music::Title);
  PlayEffect(Effect::Clear, 512);
  SetMuted(true);
  EXPECT_FALSE(MusicSounding());
  EXPECT_EQ(EffectVoicesSounding(Effect::Clear), 0);
  PlayEffect(Effect::Click, 512);
  EXPECT_EQ(EffectVoicesSounding(Effect::Click), 0);
  const long muted = SettledCaptureSize();
  rest(300);
  EXPECT_FALSE(SoundAfter(muted));
  SetMuted(false);
  EXPECT_TRUE(MusicSounding());
}

class CapturedSoundWithoutSplat : public CapturedSound {
 protected:
  void SetUp() override {
    missing = "splat.wav";
    CapturedSound::SetUp();
  }
};

TEST_F(CapturedSoundWithoutSplat, AMissingFileIsNamedOnceAndOnlyThatSoundIsSilent) {
  const std::vector<std::string> log = LogMessages();
  EXPECT_EQ(std::count(log.begin(), log.end(), "Couldn't load sound \"splat.wav\"; it stays silent"), 1);
  EXPECT_EQ(std::count_if(log.begin(), log.end(),
                          [](const std::string& m) { return m.find("Couldn't load sound") == 0; }),
            1);
  PlayEffect(Effect::Splat, 512);
  EXPECT_EQ(EffectVoicesSounding(Effect::Splat), 0);
  PlayEffect(Effect::Land, 512);
  EXPECT_EQ(EffectVoicesSounding(Effect::Land), 1);
}

}  // namespace
