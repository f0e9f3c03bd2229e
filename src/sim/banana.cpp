// SPDX-License-Identifier: GPL-3.0-or-later
#include "banana.h"

#include "trig.h"

#include <algorithm>
#include <cmath>

namespace {

// Turning control (radians per tick): gain per tick held, limit, damping.
constexpr double kTurnRate = 0.003;
constexpr double kSpinLimit = 0.3;
constexpr double kSpinDamping = 0.99;
// Walls: spin and horizontal speed pointing into a wall reverse and grow.
constexpr double kWallSpinBounce = -1.2;
constexpr double kWallSpeedBounce = -1.1;
// Flight: gravity (pixels per tick per tick) while falling slower than the terminal
// speed (pixels per tick).
constexpr double kGravity = 0.4;
constexpr double kTerminalFall = 20;
// On the ground: friction per tick; cos(angle) from which the banana lies on its back.
constexpr double kFriction = 0.99;
constexpr double kOnBackCos = 0.2;
// Rolling: share of the landing speed turned into spin, pendulum pull back to upright,
// and the pivot's height above the ground line (the back dips one pixel below it).
constexpr double kLandingSpinShare = 0.25;
constexpr double kRockingPull = 0.02;
constexpr int kRollingPivotHeight = 94;
// Tipping over a tip: spin gained per tick, cos(angle) from which it keeps turning
// over (else it falls back), the tip's swing (pixels), lift-off and resting heights
// of the standing tip relative to the ground line (pixels).
constexpr double kTipSpin = 0.0035;
constexpr double kTipOverCos = -0.1;
constexpr double kTipSwingX = 30;
constexpr double kTipSwingY = 10;
constexpr double kTipLiftOff = 2;
constexpr double kTipRest = 1;
// Upside down: the pivot lies this far below the ground line less the sprite height
// (pixels); below this horizontal speed it stops dead (pixels per tick); the squash
// approaches its floor by this factor per tick; the jump speed per unit of squash.
constexpr int kUpsideDownPivotDepth = 98;
constexpr double kStopSpeed = 1;
constexpr double kSquashFloor = 0.5;
constexpr double kSquashRate = 0.96;
constexpr double kJumpStrength = 46;
// A landing from flight is heard when the banana comes down at least this fast (pixels
// per tick): the small hops of tipping over a tip stay quiet.
constexpr double kHeardLandingSpeed = 1.5;
// Extra bananas: one degree of the game's half turn (radians).
constexpr double kExtraAngleStep = 0.008726638888888888;

// Flight: gravity, motion, and a turn about the centre that leaves the centre in place.
void FlightStep(Nana& n, int previous) {
  if (previous == Rolling) n.vel.x = n.spin * kBackRadius;
  if (n.vel.y < kTerminalFall) n.vel.y += kGravity;
  n.pos.x += n.vel.x;
  n.pos.y += n.vel.y;
  const float a0 = n.angle;
  const float a1 = a0 + n.spin;
  n.angle = a1;
  n.pos.x += kCentreOffset * SinF(a1, n.math) - kCentreOffset * SinF(a0, n.math);
  n.pos.y += kCentreOffset * CosF(a0, n.math) - kCentreOffset * CosF(a1, n.math);
}

// On the back: rock like a pendulum and roll without slipping.
int RollingStep(Nana& n, int previous, float a, int ground) {
  if (previous == Airborne) n.spin = n.vel.x / kBackRadius * kLandingSpinShare + n.spin;
  n.spin = n.spin - kRockingPull * SinF(a, n.math);
  n.angle = a + n.spin;
  n.pos.x += n.spin * kBackRadius;
  n.pos.y = ground - kRollingPivotHeight;
  return Rolling;
}

// Lying on both tips: settle, slide, squash while the key is held, jump on release.
int UpsideDownStep(Nana& n, int previous, bool squashKey, int ground) {
  if (previous != UpsideDown) {
    n.spin = 0;
    n.angle = static_cast<float>(kPi);
    n.vel.y = 0;
    n.pos.y = ground - n.image.h + kUpsideDownPivotDepth;
  }
  if (n.vel.x > -kStopSpeed && n.vel.x < kStopSpeed) n.vel = {0, 0};
  n.pos.x += n.vel.x;
  n.pos.y += n.vel.y;
  if (squashKey) {
    if (n.squash > kSquashFloor) n.squash = (n.squash - kSquashFloor) * kSquashRate + kSquashFloor;
    return UpsideDown;
  }
  if (n.squash < 1) {
    n.sound = static_cast<int>(NanaSound::Jump);
    n.soundX = n.pos.x;
    n.vel.y = -kJumpStrength * (1 - n.squash);
    n.squash = 1.0f;
    n.pos.x += n.vel.x;
    n.pos.y += n.vel.y;
    return Airborne;
  }
  return UpsideDown;
}

// On a tip or upside down: turn over the standing tip, at most two passes.
int TipStep(Nana& n, int previous, float a, bool squashKey, int ground) {
  for (int pass = 0; pass < 2; ++pass) {
    const NanaBox box = BoxOf(n);
    const Vec2<double> minus = box.Corner(-1, -1);
    const Vec2<double> plus = box.Corner(-1, +1);
    const int s = minus.y > plus.y ? -1 : +1;
    const Vec2<double> standing = s > 0 ? plus : minus;
    const Vec2<double> raised = s > 0 ? minus : plus;
    if (raised.y > ground || previous == UpsideDown) return UpsideDownStep(n, previous, squashKey, ground);
    if (pass == 1) return Tipping;

    const double anchor = standing.x;
    const double d = CosF(a, n.math) <= kTipOverCos ? s * kTipSpin : -s * kTipSpin;
    n.spin = n.spin + d;
    const float b0 = n.angle;
    const float b1 = b0 + n.spin;
    n.angle = b1;
    n.pos.x += kTipSwingX * SinF(b1, n.math) - kTipSwingX * SinF(b0, n.math);
    n.pos.y += kTipSwingY * CosF(b0, n.math) - kTipSwingY * CosF(b1, n.math);

    const Vec2<double> tip = BoxOf(n).Corner(-1, s);
    if (tip.y < ground - kTipLiftOff) {
      n.vel = {n.spin * kBackRadius, kGravity};
      n.pos.x += n.vel.x;
      n.pos.y += n.vel.y;
      return Airborne;
    }
    n.pos.x += anchor - tip.x;
    if (tip.y > ground - kTipRest) n.pos.y -= tip.y - (ground - kTipRest);
  }
  return Tipping;  // not reached: the second pass always returns
}

// Came down from flight onto the back or the tips.
void SoundOfLanding(Nana& n, int previous, double fallSpeed) {
  if (previous == Airborne && n.state != Airborne && fallSpeed >= kHeardLandingSpeed) {
    n.sound = static_cast<int>(NanaSound::Land);
    n.soundX = n.pos.x;
  }
}

}  // namespace

Nana::Nana(SpriteSize image, Vec2<double> pos, int areaWidth, int areaHeight)
    : pos(pos), vel{0, 0}, image(image), areaWidth(areaWidth), areaHeight(areaHeight) {}

NanaBox BoxOf(const Nana& nana) {
  const SpriteSize size = nana.image;
  const float a = nana.angle;
  NanaBox box;
  box.c = {nana.pos.x - kCentreOffset * SinF(a, nana.math), nana.pos.y + kCentreOffset * CosF(a, nana.math)};
  box.hv = {static_cast<float>(0.5 * size.h * SinF(-a, nana.math)), 0.5 * size.h * CosF(-a, nana.math)};
  const double side = kHalfPi - a;
  box.wv = {0.5 * size.w * Sin(side, nana.math), 0.5 * size.w * Cos(side, nana.math)};
  return box;
}

bool Nana::hitGround(int ground) {
  if (pos.y + kBackRadius <= ground) return false;
  const NanaBox box = BoxOf(*this);
  double lowest = box.Corner(-1, -1).y;
  for (Vec2<double> corner : {box.Corner(-1, +1), box.Corner(+1, -1), box.Corner(+1, +1)}) {
    lowest = std::max(lowest, corner.y);
  }
  return lowest > ground;
}

bool Nana::hitSide(int margin, int side) {
  const bool right = side > 0;
  const double line = right ? areaWidth - margin : margin;
  const double back = pos.x + kBackRadius * (right ? 1 : -1);
  if (right ? back <= line : back >= line) return false;

  const NanaBox box = BoxOf(*this);
  double extreme = box.Corner(-1, -1).x;
  for (Vec2<double> corner : {box.Corner(-1, +1), box.Corner(+1, -1), box.Corner(+1, +1)}) {
    extreme = right ? std::max(extreme, corner.x) : std::min(extreme, corner.x);
  }
  if (right ? extreme <= line : extreme >= line) return false;

  const float cornerOverrun = static_cast<float>(extreme - line);
  const double backOverrun = back - line;
  wallOverlap = std::fabs(cornerOverrun) <= std::fabs(backOverrun) ? cornerOverrun
                                                                    : static_cast<float>(backOverrun);
  return true;
}

int Nana::DoPhysics(int turn, bool squashKey, int ground) {
  const int previous = state;
  sound = static_cast<int>(NanaSound::None);

  // Turning: the control feeds the spin in every state; the limit acts before damping.
  const float limit = static_cast<float>(kSpinLimit);
  spin = std::clamp(static_cast<float>(spin + turn * kTurnRate), -limit, limit) * kSpinDamping;

  // Walls: reverse what points into the wall, push the banana back out.
  const int wall = hitSide(kWallMargin, +1) ? +1 : hitSide(kWallMargin, -1) ? -1 : 0;
  if (wall != 0) {
    if (wall * spin > 0) spin = spin * kWallSpinBounce;
    if (wall * vel.x > 0) vel.x = vel.x * kWallSpeedBounce;
    pos.x = pos.x - wallOverlap;
  }

  int result = Airborne;
  bool touching = hitGround(ground);
  if (!touching) {
    FlightStep(*this, previous);
    touching = hitGround(ground);
  }
  const double fallSpeed = vel.y;  // pixels per tick, before the ground takes it
  if (touching) {
    vel.x *= kFriction;
    vel.y *= kFriction;
    const float a = angle;
    result = CosF(a, math) >= kOnBackCos ? RollingStep(*this, previous, a, ground)
                                   : TipStep(*this, previous, a, squashKey, ground);
  }
  state = result;
  SoundOfLanding(*this, previous, fallSpeed);
  return result;
}

Nana MakeExtraNana(const Nana& from, int player, RandomSource& random) {
  const int dx = random.Next() % 201 - 100;
  const int dy = random.Next() % 30;
  Nana extra(from.image, {from.pos.x + dx, from.pos.y - dy}, from.areaWidth, from.areaHeight);
  extra.angle = (random.Next() % 360) * kExtraAngleStep;
  const int spread = player == 2 ? 1 : 5;  // across: -spread .. +spread (pixels per tick)
  const int lift = player == 2 ? 3 : 5;    // upwards: 0 .. lift - 1 (pixels per tick)
  extra.vel.x = from.vel.x + (random.Next() % (2 * spread + 1) - spread);
  extra.vel.y = from.vel.y - random.Next() % lift;
  extra.spin = (random.Next() % 5) * kExtraAngleStep + from.spin;
  extra.math = from.math;
  return extra;
}

