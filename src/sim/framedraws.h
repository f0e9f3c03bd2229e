// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The random numbers a frame of play takes, in the order it takes them: the picture
// each fly shows (the second one time in four), then for each player in CRAZY mode
// where the text wanders (down or up first, then across when it does). A local game's
// sequence runs through rand(), shared with its ticks, so a frame drawn and a frame
// run unseen (a replay checked at full speed) must take exactly these: both take them
// here. They come from the C library's generator in every game; a network game's ticks
// draw from a generator of their own and never see them.
#include <cstdint>

#include "flies.h"
#include "game.h"

constexpr int kCrazyJitter = 3;  // the CRAZY text wanders this far (pixels)

struct CrazyJitter {
  bool shown = false;  // the player is in CRAZY mode
  int dx = 0;          // pixels; 0 when it does not wander across
  int dy = 0;          // pixels
};

struct FrameDraws {
  uint8_t secondPicture[kMaxFlies] = {};  // by fly: 1 shows the flies' second picture
  CrazyJitter crazy[2];                   // by player
};

// The frame's draws for `game` as it stands after the frame's ticks.
FrameDraws TakeFrameDraws(const GameState& game);
