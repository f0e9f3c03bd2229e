// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the game keeps for each player.
#include <list>
#include <utility>

#include "nana.h"

struct Player {
  explicit Player(Nana nana) : nana(std::move(nana)) {}

  Nana nana;               // the player's own banana, rebuilt every level
  std::list<Nana> extras;  // CRAZY mode's extra bananas
  int score = 0;           // points, kept from level to level
  int streak = 0;          // flies killed since the own banana last touched the ground
  int crazy = 0;           // CRAZY countdown in ticks; positive while it lasts
};
