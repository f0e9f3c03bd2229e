#pragma once
// Splats as records: where a fly died and what its dots are drawn from. Painting them
// is drawing's job (a splat painted again from its record gives the same pixels).
#include <cstdint>
#include <vector>

#include "random.h"
#include "vec2.h"

// Dots per splat, and the greatest distance of a dot from the centre (pixels).
constexpr int kSplatDots = 150;
constexpr int kSplatReach = 27;

// One dot's random draws, packed: distance 0..27 (5 bits), direction in degrees 0..359
// (9 bits), green - 155 (0..99, 7 bits), red (0..99, 7 bits).
struct SplatDot {
  int distance;  // pixels
  int degrees;   // 0 .. 359
  int green;     // 155 .. 254
  int red;       // 0 .. 99
};
uint32_t PackSplatDot(SplatDot dot);
SplatDot UnpackSplatDot(uint32_t packed);

struct Splat {
  Vec2<double> pos;        // centre: the fly's top-left corner (pixels)
  uint64_t seed = 0;       // own generator: the seed its dots are drawn from
  uint32_t firstDot = 0;   // C library: its dots' draws in GameState::splatDots
  uint32_t ownDots = 0;    // 1 when the dots come from `seed`, 0 from splatDots
};

// The six draws of one dot, in the order they are taken: three for the distance, one
// for the direction, green, red.
SplatDot DrawSplatDot(RandomSource& random);
// The dots of a splat made in a game with its own generator: drawn from `seed` by a
// generator of the splat's own, so painting never touches the game's generator.
void OwnSplatDots(uint64_t seed, SplatDot (&dots)[kSplatDots]);
