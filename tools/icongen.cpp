// SPDX-License-Identifier: GPL-3.0-or-later
// Draws the game's desktop icon from the same artwork as its sprites:
//   icongen <output.png> <size>
// writes a size x size RGBA PNG (compressed, through libpng), any size from 16 to 512
// pixels: a tilted banana with a fly above it, on a clear ground.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "art.h"
#include "save.h"

namespace {

constexpr int kMinSize = 16, kMaxSize = 512;  // pixels
constexpr double kTilt = -0.3;                // radians: the banana leans left
constexpr double kBananaShare = 0.8;          // of the icon's width taken by the banana
constexpr double kFlyShare = 0.42;            // of the icon's width taken by the fly

Canvas Icon(int size) {
  Canvas c(size, size);
  const double s = size * kBananaShare / kBananaW;
  // The middle of the banana's sprite box sits a little below the icon's middle.
  const V2 boxMiddle = Rotate({0, kCentreBelowPivot * s}, kTilt);
  const V2 origin{size * 0.5 - boxMiddle.x, size * 0.62 - boxMiddle.y};
  DrawBanana(c, Place{origin, s, kTilt}, size / 40.0, 0);
  const double fs = size * kFlyShare / kFlyW;
  DrawFly(c, Place{{size * 0.46, size * 0.06}, fs, 0.2}, 1);
  return c;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: icongen <output.png> <size>\n");
    return 2;
  }
  const int size = std::atoi(argv[2]);
  if (size < kMinSize || size > kMaxSize) {
    std::fprintf(stderr, "icongen: size %s is not in %d..%d\n", argv[2], kMinSize, kMaxSize);
    return 2;
  }
  if (!SavePng(argv[1], Icon(size))) {
    std::fprintf(stderr, "icongen: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
