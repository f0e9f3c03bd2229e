// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Fruit flies: the targets of a level.
#include <vector>

#include "banana.h"
#include "random.h"
#include "vec2.h"

// Flies per level (up to the cap) and the cap.
constexpr int kFliesPerLevel = 5;
constexpr int kMaxFlies = 80;
// A fly's centre relative to its top-left corner (pixels), whatever its image size.
constexpr double kFlyCentreX = 21;
constexpr double kFlyCentreY = 19;
// Greatest speed a fly gathers (pixels per tick); there is no lower limit.
constexpr double kFlySpeedCap = 8;
// The band the flies keep to: this far inside the side edges, at least kFlyBand
// pixels above the ground line, and below the top edge (pixels).
constexpr int kFlyEdge = 20;
constexpr int kFlyBand = 200;
// The banana's body as a crescent: within kHitRadius of the pivot and farther than
// kMissRadius from the point kMissOffset beyond the pivot, away from the centre.
constexpr double kHitRadius = 105;
constexpr double kMissRadius = 178;
constexpr double kMissOffset = 129;

// A fly: a plain value. Its size is that of its first picture (0 x 0 without one).
struct Fly {
  Vec2<double> pos;    // top-left corner of the sprite (pixels)
  Vec2<double> vel;    // pixels per tick
  SpriteSize size;     // of the first picture (pixels)
  int areaWidth = 1024;   // the play area it flies in (pixels)
  int areaHeight = 768;

  // One tick of jittery flight inside the band above `ground`. Draws four random
  // numbers from `random`.
  void flyRandom(int ground, RandomSource& random = SharedCLibraryRandom());
};

// The flies of a level at random places in a play area of `width` x `height` (x drawn
// before y for each fly). An empty area puts them all at (0, 0), drawing as usual.
std::vector<Fly> MakeFlies(int level, SpriteSize size, int width, int height,
                           RandomSource& random = SharedCLibraryRandom());
// Whether the fly's centre lies in the banana's crescent-shaped body.
bool FlyHits(const Fly& fly, const Nana& nana);
// A banana's body for the hit test: its pivot P and the point Q beyond it (pixels),
// worked out once per tick for all the flies.
struct Crescent {
  double px, py;
  double qx, qy;
};
Crescent CrescentOf(const Nana& nana);
bool FlyHits(const Fly& fly, const Crescent& body);
