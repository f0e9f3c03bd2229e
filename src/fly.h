// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Fruit flies: the targets of a level.
#include <allegro.h>

#include <list>

#include "image.h"
#include "player.h"
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

// A fly. When an image entry is missing (null, or without a bitmap), the fly counts
// as zero-sized for its band, and is drawn with the other frame, or not at all.
class Fly {
 public:
  Vec2<double> pos;  // top-left corner of the sprite (pixels)
  Vec2<double> vel;  // pixels per tick
  Image* frame1;
  Image* frame2;

  // One tick of jittery flight inside the band above `ground`. Draws four random
  // numbers.
  void flyRandom(int ground);
};

// The flies of a level at random places on the screen (x drawn before y for each fly).
// Without a graphics mode (a 0 x 0 screen) they all start at (0, 0), drawing as usual.
std::list<Fly> MakeFlies(int level, Image* frame1, Image* frame2);
// Whether the fly's centre lies in the banana's crescent-shaped body.
bool FlyHits(const Fly& fly, const Nana& nana);
// Moves every fly once and lets both players' bananas kill it: each kill adds 1 to the
// player's streak and `level` to the score; a fly killed by either player leaves one
// splat on `splatterLayer` and leaves the list.
void FlyPass(std::list<Fly>& flies, Player& p1, Player& p2, bool twoPlayer, int level,
             BITMAP* splatterLayer);
// Draws the flies, now and then with their second frame. One random number per fly.
void DrawFlies(const std::list<Fly>& flies, BITMAP* dest);
