#pragma once
// What the simulation's tests share: the game's sprite sizes and play area, no pictures.
#include "sim/banana.h"

constexpr int kAreaW = 1024;  // the play area (pixels)
constexpr int kAreaH = 768;
constexpr SpriteSize kBananaSprite{174, 60};  // the banana sprite (pixels)
constexpr SpriteSize kFlySprite{42, 38};      // a fly's first picture (pixels)
constexpr int kTestNanaW = 174;
constexpr int kTestNanaH = 60;
constexpr int kTestFlyW = 42;
constexpr int kTestFlyH = 38;
