// SPDX-License-Identifier: GPL-3.0-or-later
// Attract mode without a window: which demo plays after the idle time, what ends it
// (a key, the mouse, a pad button), what is skipped, and that a key pressed during a
// demo reaches neither the game nor the menu. The demo's game is a stand-in that
// plays frames until the playback says to stop.
#include <allegro.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "attract.h"
#include "game.h"
#include "replay.h"
#include "test_support.h"
#include "userdata.h"

namespace {

constexpr int kFramesBeforeInput = 3;  // frames of the stand-in game before the input
constexpr int kMostFrames = 1000;

class AttractMode : public testing::Test {
 protected:
  void SetUp() override {
    dir = ScratchDir() + "/attract-" + testing::UnitTest::GetInstance()->current_test_info()->name();
    ASSERT_EQ(system(("rm -rf '" + dir + "' && mkdir -p '" + dir + "/demos' '" + dir + "/replays'").c_str()), 0);
    ASSERT_EQ(chdir(dir.c_str()), 0);
    UseScoreTableFor(dir);
    backbuffer = create_bitmap(64, 48);
    Release();
    ResetLog();
  }
  void TearDown() override {
    Release();
    destroy_bitmap(backbuffer);
    ASSERT_EQ(chdir(ScratchDir().c_str()), 0);
  }
  static void Release() {
    num_joysticks = 0;
    std::memset(joy, 0, sizeof(JOYSTICK_INFO) * MAX_JOYSTICKS);
    for (int k = 0; k < KEY_MAX; ++k) key[k] = 0;
    mouse_b = 0;
  }
  static void SaveDemo(const std::string& path, int players) {
    Replay replay;
    replay.players = players;
    replay.gameVersion = "1.0";
    unsigned char table[kCLibraryStateBytes];  // a usable generator state, as a game takes it
    SaveCLibraryState(table);
    replay.randomState.assign(table, table + kCLibraryStateBytes);
    replay.frames = {{1, kMostFrames}};  // one tick a frame
    replay.summary.ticks = kMostFrames;
    ASSERT_TRUE(SaveReplay(path, replay));
  }

  // Attract mode (set up at the first call) with a stand-in game that runs frames,
  // does `input` after a few, and stops when the playback asks; then one pass of the
  // idle menu.
  void Run(std::function<void()> input) {
    nextInput = std::move(input);
    if (!setUp) {
      SetUpAttractMode([this](const Replay& demo, bool (*stop)()) { StandInGame(demo.players == 2, stop); });
      SetAttractIdleMs(1);
      setUp = true;
    }
    usleep(5000);
    AttractModeFrame(menu, backbuffer);
  }
  void StandInGame(bool twoPlayer, bool (*stop)()) {
    games.push_back(twoPlayer);
    for (frames = 0; frames < kMostFrames && !QuitRequested() && !stop(); ++frames) {
      if (frames == kFramesBeforeInput) nextInput();
      demoSeen = demoSeen || DemoPlaying();
    }
  }
  std::vector<std::string> Logged(const std::string& start) {
    std::vector<std::string> lines;
    for (const std::string& line : LogMessages()) {
      if (line.rfind(start, 0) == 0) lines.push_back(line);
    }
    return lines;
  }

  std::string dir;
  BITMAP* backbuffer = nullptr;
  Menu menu;
  bool setUp = false;
  std::function<void()> nextInput;
  std::vector<bool> games;
  int frames = 0;
  bool demoSeen = false;
};

TEST_F(AttractMode, TheIdleMenuPlaysTheMediaDemosInTurn) {
  SaveDemo("demos/demo-1.nsr", 1);
  SaveDemo("demos/demo-2.nsr", 2);
  Run([] {});
  Run([] {});
  Run([] {});
  EXPECT_EQ(games, (std::vector<bool>{false, true, false}));
  EXPECT_TRUE(demoSeen);
  EXPECT_FALSE(DemoPlaying());
  EXPECT_EQ(Logged("Attract mode:"),
            (std::vector<std::string>{"Attract mode: playing demos/demo-1.nsr", "Attract mode: back to the title menu",
                                      "Attract mode: playing demos/demo-2.nsr", "Attract mode: back to the title menu",
                                      "Attract mode: playing demos/demo-1.nsr", "Attract mode: back to the title menu"}));
}

TEST_F(AttractMode, ThePlayersOwnBestGameComesFirst) {
  SaveDemo("demos/demo-1.nsr", 1);
  SaveDemo(dir + "/replays/best.nsr", 2);
  Run([] {});
  EXPECT_EQ(games, std::vector<bool>{true});
  EXPECT_EQ(Logged("Attract mode: playing"), std::vector<std::string>{"Attract mode: playing " + dir + "/replays/best.nsr"});
}

TEST_F(AttractMode, ADemoThatCannotBeReadIsSkippedWithOneLine) {
  WriteFile(dir + "/replays/best.nsr", "not a replay");
  WriteFile("demos/demo-1.nsr", "NSREPLAY but cut short");
  SaveDemo("demos/demo-2.nsr", 1);
  Run([] {});
  EXPECT_EQ(games.size(), 1u);
  EXPECT_EQ(Logged("Attract mode: skipping").size(), 2u);
  EXPECT_EQ(Logged("Attract mode: playing"), std::vector<std::string>{"Attract mode: playing demos/demo-2.nsr"});
}

TEST_F(AttractMode, NoDemoAtAllLeavesTheMenuAsItIs) {
  Run([] {});
  EXPECT_TRUE(games.empty());
  EXPECT_TRUE(Logged("Attract mode:").empty());
}

TEST_F(AttractMode, InputOnTheMenuKeepsTheDemoAway) {
  SaveDemo("demos/demo-1.nsr", 1);
  SetUpAttractMode([this](const Replay& demo, bool (*)()) { games.push_back(demo.players == 2); });
  SetAttractIdleMs(50);
  for (int i = 0; i < 20; ++i) {
    mouse_x = i;  // the pointer keeps moving
    usleep(5000);
    AttractModeFrame(menu, backbuffer);
  }
  EXPECT_TRUE(games.empty());
}

TEST_F(AttractMode, AKeyEndsTheDemoAndIsKeptFromTheGameUntilLetGo) {
  SaveDemo("demos/demo-1.nsr", 1);
  Run([] {
    key[KEY_P] = -1;  // as the library's keyboard thread marks a press, then tells us
    keyboard_lowlevel_callback(KEY_P);
  });
  EXPECT_EQ(frames, kFramesBeforeInput + 1);  // the frame of the input is the last
  EXPECT_EQ(key[KEY_P], 0) << "the game and the menu would see P";
  key[KEY_P] = -1;  // held: the library repeats it
  keyboard_lowlevel_callback(KEY_P);
  EXPECT_EQ(key[KEY_P], 0);
  key[KEY_P] = 0;  // let go
  keyboard_lowlevel_callback(KEY_P | 0x80);
  key[KEY_P] = -1;  // a new press on the menu is the menu's
  keyboard_lowlevel_callback(KEY_P);
  EXPECT_EQ(key[KEY_P], -1);
}

TEST_F(AttractMode, TheMouseMovedOrClickedEndsTheDemo) {
  SaveDemo("demos/demo-1.nsr", 1);
  Run([] { mouse_x += 3; });
  EXPECT_EQ(frames, kFramesBeforeInput + 1);  // the frame of the input is the last
  Run([] { mouse_callback(MOUSE_FLAG_MOVE); });
  EXPECT_EQ(frames, kFramesBeforeInput + 1);  // the frame of the input is the last
  EXPECT_EQ(games.size(), 2u);
}

TEST_F(AttractMode, APadButtonEndsTheDemo) {
  SaveDemo("demos/demo-1.nsr", 1);
  num_joysticks = 1;
  joy[0].num_buttons = 10;
  Run([] { joy[0].button[0].b = 1; });
  EXPECT_EQ(frames, kFramesBeforeInput + 1);  // the frame of the input is the last
}

TEST_F(AttractMode, ADemoWritesNoReplay) {
  SaveDemo("demos/demo-1.nsr", 1);
  Run([] {});
  EXPECT_EQ(access((dir + "/replays/last.nsr").c_str(), F_OK), -1);
  EXPECT_EQ(access((dir + "/replays/best.nsr").c_str(), F_OK), -1);
}

}  // namespace
