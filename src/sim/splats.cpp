#include "splats.h"

#include <random>

uint32_t PackSplatDot(SplatDot dot) {
  return static_cast<uint32_t>(dot.distance) | static_cast<uint32_t>(dot.degrees) << 5 |
         static_cast<uint32_t>(dot.green - 155) << 14 | static_cast<uint32_t>(dot.red) << 21;
}

SplatDot UnpackSplatDot(uint32_t packed) {
  return {static_cast<int>(packed & 31u), static_cast<int>(packed >> 5 & 511u),
          155 + static_cast<int>(packed >> 14 & 127u), static_cast<int>(packed >> 21 & 127u)};
}

SplatDot DrawSplatDot(RandomSource& random) {
  SplatDot dot;
  // Distance 0..27, most often near the middle: the sum of three draws.
  dot.distance = random.Next() % 10;
  dot.distance += random.Next() % 10;
  dot.distance += random.Next() % 10;
  dot.degrees = random.Next() % 360;
  dot.green = 155 + random.Next() % 100;
  dot.red = random.Next() % 100;
  return dot;
}

void OwnSplatDots(uint64_t seed, SplatDot (&dots)[kSplatDots]) {
  RandomSource random = OwnRandom(seed);
  for (SplatDot& dot : dots) dot = DrawSplatDot(random);
}
