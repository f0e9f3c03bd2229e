// SPDX-License-Identifier: GPL-3.0-or-later
// Gamepads, set up in the library's pad state (num_joysticks, joy[]) without a driver:
// what each player's controls become with a pad alone and together with the keys and
// the mouse, and which button presses count on the level screens.
#include <allegro.h>
#include <gtest/gtest.h>

#include <cstring>

#include "game.h"
#include "pad.h"

namespace {

class Pads : public testing::Test {
 protected:
  void SetUp() override { Release(); }
  void TearDown() override { Release(); }

  static void Release() {
    num_joysticks = 0;
    std::memset(joy, 0, sizeof(JOYSTICK_INFO) * MAX_JOYSTICKS);
    for (int k = 0; k < KEY_MAX; ++k) key[k] = 0;
    mouse_b = 0;
  }
  // `count` pads, each with one two-axis stick and ten buttons, at rest.
  static void Plug(int count) {
    num_joysticks = count;
    for (int p = 0; p < count; ++p) {
      joy[p].num_sticks = 1;
      joy[p].stick[0].num_axis = 2;
      joy[p].num_buttons = 10;
    }
  }
  // Pushes pad `player`'s stick to the left (-1), the right (+1) or lets it go (0).
  static void Stick(int player, int side) {
    JOYSTICK_AXIS_INFO& across = joy[player - 1].stick[0].axis[0];
    across.d1 = side < 0;
    across.d2 = side > 0;
  }
  static void Button(int player, int button, bool down) { joy[player - 1].button[button].b = down; }
};

TEST_F(Pads, EachPadSteersItsOwnPlayer) {
  Plug(2);
  Stick(1, -1);
  EXPECT_EQ(ReadControls(1).turn, -1);
  EXPECT_EQ(ReadControls(2).turn, 0);
  Stick(1, +1);
  EXPECT_EQ(ReadControls(1).turn, 1);
  Stick(1, 0);
  EXPECT_EQ(ReadControls(1).turn, 0);

  Stick(2, -1);
  EXPECT_EQ(ReadControls(2).turn, -1);
  EXPECT_EQ(ReadControls(1).turn, 0);

  // The first face button squashes (its release is the jump); no other button does.
  Button(2, kPadSquashButton, true);
  EXPECT_TRUE(ReadControls(2).squash);
  EXPECT_FALSE(ReadControls(1).squash);
  Button(2, kPadSquashButton, false);
  Button(2, 1, true);
  EXPECT_FALSE(ReadControls(2).squash);
  // Unlike both mouse buttons, the pad can turn while it squashes.
  Button(2, kPadSquashButton, true);
  EXPECT_EQ(ReadControls(2).turn, -1);
}

TEST_F(Pads, PadsWorkAlongsideTheKeysAndTheMouse) {
  Plug(2);
  // Player 1: each device turns one way at most; opposite ways cancel.
  key[KEY_RIGHT] = 1;
  Stick(1, +1);
  EXPECT_EQ(ReadControls(1).turn, 1);
  Stick(1, -1);
  EXPECT_EQ(ReadControls(1).turn, 0);
  key[KEY_RIGHT] = 0;
  key[KEY_A] = 1;
  EXPECT_EQ(ReadControls(1).turn, -1);
  key[KEY_A] = 0;
  Stick(1, 0);
  key[KEY_DOWN] = 1;
  EXPECT_TRUE(ReadControls(1).squash);
  key[KEY_DOWN] = 0;
  Button(1, kPadSquashButton, true);
  EXPECT_TRUE(ReadControls(1).squash);
  Button(1, kPadSquashButton, false);

  // Player 2: the mouse as before, the pad beside it.
  mouse_b = 1;
  EXPECT_EQ(ReadControls(2).turn, -1);
  Stick(2, +1);
  EXPECT_EQ(ReadControls(2).turn, 0);
  mouse_b = 3;  // both buttons: squash, no turn from the mouse; the stick still turns
  Controls both = ReadControls(2);
  EXPECT_TRUE(both.squash);
  EXPECT_EQ(both.turn, 1);
  Stick(2, 0);
  both = ReadControls(2);
  EXPECT_TRUE(both.squash);
  EXPECT_EQ(both.turn, 0);
  mouse_b = 0;
  Button(2, kPadSquashButton, true);
  EXPECT_TRUE(ReadControls(2).squash);
}

TEST_F(Pads, MissingPadsAndControlsReadAsNothing) {
  // A stale state of a pad the library no longer counts is not read.
  Plug(2);
  Stick(2, +1);
  Button(2, kPadSquashButton, true);
  num_joysticks = 1;
  EXPECT_EQ(ReadControls(2).turn, 0);
  EXPECT_FALSE(ReadControls(2).squash);
  EXPECT_FALSE(PadButtonDown(2, kPadSquashButton));
  EXPECT_FALSE(PadButtonDown(3, 0));
  EXPECT_FALSE(PadButtonDown(0, 0));

  // A pad without a stick, or with fewer buttons than the one asked for.
  joy[0].num_sticks = 0;
  joy[0].stick[0].axis[0].d2 = 1;
  joy[0].num_buttons = 1;
  joy[0].button[kPadStartButton].b = 1;
  EXPECT_EQ(ReadControls(1).turn, 0);
  EXPECT_FALSE(PadButtonDown(1, kPadStartButton));
  EXPECT_FALSE(PadButtonDown(1, -1));
  EXPECT_FALSE(PadButtonDown(1, MAX_JOYSTICK_BUTTONS));
  joy[0].num_buttons = MAX_JOYSTICK_BUTTONS + 5;  // more than the library's array
  EXPECT_TRUE(PadButtonDown(1, kPadStartButton));
  EXPECT_FALSE(PadButtonDown(1, MAX_JOYSTICK_BUTTONS));

  num_joysticks = MAX_JOYSTICKS + 3;  // never read past the library's pads
  EXPECT_FALSE(PadButtonDown(MAX_JOYSTICKS + 1, 0));
  PadPresses presses = WatchPadPresses();
  EXPECT_FALSE(NewPadPress(presses));
}

TEST_F(Pads, AButtonCountsOncePressedAfterTheWatchBegins) {
  Plug(2);
  Button(1, kPadSquashButton, true);  // held over from play
  PadPresses presses = WatchPadPresses();
  EXPECT_FALSE(NewPadPress(presses));
  Button(1, kPadSquashButton, false);
  EXPECT_FALSE(NewPadPress(presses));
  Button(1, kPadSquashButton, true);  // pressed afresh
  EXPECT_TRUE(NewPadPress(presses));
  EXPECT_FALSE(NewPadPress(presses));  // held: one press counts once

  // Any button of any pad.
  Button(2, 9, true);
  EXPECT_TRUE(NewPadPress(presses));
  // The stick is no button.
  Stick(1, -1);
  EXPECT_FALSE(NewPadPress(presses));
}

}  // namespace
