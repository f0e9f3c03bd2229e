#pragma once
// What the game keeps for each player.
#include <vector>

#include "banana.h"

struct Player {
  Nana nana;                // the player's own banana, rebuilt every level
  std::vector<Nana> extras; // CRAZY mode's extra bananas
  int score = 0;            // points, kept from level to level
  int streak = 0;           // flies killed since the own banana last touched the ground
  int crazy = 0;            // CRAZY countdown in ticks; positive while it lasts
};
