// SPDX-License-Identifier: GPL-3.0-or-later
#include "flies.h"

#include "trig.h"

#include <algorithm>

void Fly::flyRandom(int ground, RandomSource& random) {
  vel.x += random.Next() % 3 - 1;
  vel.y += random.Next() % 3 - 1;
  if (vel.x > kFlySpeedCap) vel.x = kFlySpeedCap;
  if (vel.y > kFlySpeedCap) vel.y = kFlySpeedCap;
  const double x = pos.x + vel.x + (random.Next() % 5 - 2);
  const double y = pos.y + vel.y + (random.Next() % 5 - 2);
  pos = {x, y};

  const int right = areaWidth - size.w - kFlyEdge;
  if (pos.x < kFlyEdge) {
    pos.x = kFlyEdge;
    vel.x = -vel.x;
  } else if (pos.x > right) {
    pos.x = right;
    vel.x = -vel.x;
  }
  const int bottom = ground - size.h - kFlyBand;
  if (pos.y > bottom) {
    pos.y = bottom;
    vel.y = -vel.y;
  } else if (pos.y < 0) {
    pos.y = 0;
    vel.y = -vel.y;
  }
}

std::vector<Fly> MakeFlies(int level, SpriteSize size, int width, int height, RandomSource& random) {
  std::vector<Fly> flies;
  const int count = std::min(kFliesPerLevel * level, kMaxFlies);
  flies.reserve(kMaxFlies);
  // An empty play area puts every fly at (0, 0).
  const int w = std::max(width, 1);
  const int h = std::max(height, 1);
  for (int i = 0; i < count; ++i) {
    const int x = random.Next() % w;
    const int y = random.Next() % h;
    flies.push_back(Fly{{static_cast<double>(x), static_cast<double>(y)}, {0, 0}, size, width, height});
  }
  return flies;
}

Crescent CrescentOf(const Nana& nana) {
  return {nana.pos.x, nana.pos.y, nana.pos.x + kMissOffset * SinF(nana.angle, nana.math),
          nana.pos.y - kMissOffset * CosF(nana.angle, nana.math)};
}

bool FlyHits(const Fly& fly, const Crescent& body) {
  const double fx = fly.pos.x + kFlyCentreX;
  const double fy = fly.pos.y + kFlyCentreY;
  const double toPivot = (fx - body.px) * (fx - body.px) + (fy - body.py) * (fy - body.py);
  const double toQ = (fx - body.qx) * (fx - body.qx) + (fy - body.qy) * (fy - body.qy);
  return toPivot < kHitRadius * kHitRadius && toQ > kMissRadius * kMissRadius;
}

bool FlyHits(const Fly& fly, const Nana& nana) { return FlyHits(fly, CrescentOf(nana)); }
