// SPDX-License-Identifier: GPL-3.0-or-later
// The game: entry and menu, game play, the banana, the fruit flies and the splats.
#include <allegro.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <list>
#include <string>
#include <utility>

#include <unistd.h>

#include "attract.h"
#include "debug.h"
#include "game.h"
#include "highscores.h"
#include "menu.h"
#include "fly.h"
#include "image.h"
#include "init.h"
#include "input.h"
#include "nana.h"
#include "options.h"
#include "pad.h"
#include "pause.h"
#include "replay.h"
#include "settings.h"
#include "shutdown.h"
#include "sound.h"
#include "splatter.h"
#include "userdata.h"
#include "util.h"

// ===========================================================================
// Banana: body and physics
// ===========================================================================

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
// The library's angle units for half a turn.
constexpr int kHalfTurnUnits = 128;

const char* const kFlippedFailure = "Couldn't create buffer for 180 rot'd copy of sprite";

BITMAP* SpriteOf(const Image* image) { return image != nullptr ? image->bitmap : nullptr; }

// Sprite size in pixels; 0 x 0 without a sprite.
struct SpriteSize {
  int w;
  int h;
};

SpriteSize SizeOf(const Image* image) {
  BITMAP* sprite = SpriteOf(image);
  if (sprite == nullptr) return {0, 0};
  return {sprite->w, sprite->h};
}

// The sprite box around the centre C: corners C +- hv +- wv (pixels).
struct Box {
  Vec2<double> c;
  Vec2<double> hv;
  Vec2<double> wv;

  Vec2<double> Corner(int hs, int ws) const {
    return {c.x + hs * hv.x + ws * wv.x, c.y + hs * hv.y + ws * wv.y};
  }
};

Box BoxOf(const Nana& nana) {
  const SpriteSize size = SizeOf(nana.image);
  const float a = nana.angle;
  Box box;
  box.c = {nana.pos.x - kCentreOffset * sinf(a), nana.pos.y + kCentreOffset * cosf(a)};
  box.hv = {static_cast<float>(0.5 * size.h * sinf(-a)), 0.5 * size.h * cosf(-a)};
  const double side = kHalfPi - a;
  box.wv = {0.5 * size.w * std::sin(side), 0.5 * size.w * std::cos(side)};
  return box;
}

// Makes `nana.flipped`: the sprite turned by half a turn on the mask colour.
void MakeFlipped(Nana& nana) {
  nana.flipped = nullptr;
  BITMAP* sprite = SpriteOf(nana.image);
  if (sprite == nullptr || sprite->w <= 0 || sprite->h <= 0) return;
  nana.flipped = create_bitmap(sprite->w, sprite->h);
  if (nana.flipped == nullptr) {
    LOG(kFlippedFailure);
    return;
  }
  clear_to_color(nana.flipped, makecol(255, 0, 255));
  rotate_sprite(nana.flipped, sprite, 0, 0, itofix(kHalfTurnUnits));
}

// Flight: gravity, motion, and a turn about the centre that leaves the centre in place.
void FlightStep(Nana& n, int previous) {
  if (previous == Rolling) n.vel.x = n.spin * kBackRadius;
  if (n.vel.y < kTerminalFall) n.vel.y += kGravity;
  n.pos.x += n.vel.x;
  n.pos.y += n.vel.y;
  const float a0 = n.angle;
  const float a1 = a0 + n.spin;
  n.angle = a1;
  n.pos.x += kCentreOffset * sinf(a1) - kCentreOffset * sinf(a0);
  n.pos.y += kCentreOffset * cosf(a0) - kCentreOffset * cosf(a1);
}

// On the back: rock like a pendulum and roll without slipping.
int RollingStep(Nana& n, int previous, float a, int ground) {
  if (previous == Airborne) n.spin = n.vel.x / kBackRadius * kLandingSpinShare + n.spin;
  n.spin = n.spin - kRockingPull * sinf(a);
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
    n.pos.y = ground - SizeOf(n.image).h + kUpsideDownPivotDepth;
  }
  if (n.vel.x > -kStopSpeed && n.vel.x < kStopSpeed) n.vel = {0, 0};
  n.pos.x += n.vel.x;
  n.pos.y += n.vel.y;
  if (squashKey) {
    if (n.squash > kSquashFloor) n.squash = (n.squash - kSquashFloor) * kSquashRate + kSquashFloor;
    return UpsideDown;
  }
  if (n.squash < 1) {
    PlayEffect(Effect::Jump, n.pos.x);
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
    const Box box = BoxOf(n);
    const Vec2<double> minus = box.Corner(-1, -1);
    const Vec2<double> plus = box.Corner(-1, +1);
    const int s = minus.y > plus.y ? -1 : +1;
    const Vec2<double> standing = s > 0 ? plus : minus;
    const Vec2<double> raised = s > 0 ? minus : plus;
    if (raised.y > ground) return UpsideDownStep(n, previous, squashKey, ground);
    if (previous == UpsideDown) return UpsideDownStep(n, previous, squashKey, ground);
    if (pass == 1) return Tipping;

    const double anchor = standing.x;
    const double d = cosf(a) <= kTipOverCos ? s * kTipSpin : -s * kTipSpin;
    n.spin = n.spin + d;
    const float b0 = n.angle;
    const float b1 = b0 + n.spin;
    n.angle = b1;
    n.pos.x += kTipSwingX * sinf(b1) - kTipSwingX * sinf(b0);
    n.pos.y += kTipSwingY * cosf(b0) - kTipSwingY * cosf(b1);

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
void SoundOfLanding(const Nana& n, int previous, double fallSpeed) {
  if (previous == Airborne && n.state != Airborne && fallSpeed >= kHeardLandingSpeed) {
    PlayEffect(Effect::Land, n.pos.x);
  }
}

}  // namespace

Nana::Nana(Image* image, Vec2<double> pos)
    : image(image),
      pos(pos),
      angle(0),
      vel{0, 0},
      spin(0),
      state(Airborne),
      squash(1.0f),
      flipped(nullptr),
      wallOverlap(0) {
  MakeFlipped(*this);
}

Nana::Nana(const Nana& other)
    : image(other.image),
      pos(other.pos),
      angle(other.angle),
      vel(other.vel),
      spin(other.spin),
      state(other.state),
      squash(other.squash),
      flipped(nullptr),
      wallOverlap(other.wallOverlap) {
  if (other.flipped == nullptr) return;
  const int w = other.flipped->w;
  const int h = other.flipped->h;
  flipped = create_bitmap_ex(bitmap_color_depth(other.flipped), w, h);
  if (flipped == nullptr) {
    LOG(kFlippedFailure);
    return;
  }
  blit(other.flipped, flipped, 0, 0, 0, 0, w, h);
}

Nana::Nana(Nana&& other) noexcept
    : image(other.image),
      pos(other.pos),
      angle(other.angle),
      vel(other.vel),
      spin(other.spin),
      state(other.state),
      squash(other.squash),
      flipped(other.flipped),
      wallOverlap(other.wallOverlap) {
  other.flipped = nullptr;
}

Nana& Nana::operator=(Nana other) noexcept {
  image = other.image;
  pos = other.pos;
  angle = other.angle;
  vel = other.vel;
  spin = other.spin;
  state = other.state;
  squash = other.squash;
  std::swap(flipped, other.flipped);  // `other` takes our old copy away with it
  wallOverlap = other.wallOverlap;
  return *this;
}

Nana::~Nana() {
  if (flipped != nullptr) destroy_bitmap(flipped);
}

bool Nana::hitGround(int ground) {
  if (pos.y + kBackRadius <= ground) return false;
  const Box box = BoxOf(*this);
  double lowest = box.Corner(-1, -1).y;
  lowest = std::max(lowest, box.Corner(-1, +1).y);
  lowest = std::max(lowest, box.Corner(+1, -1).y);
  lowest = std::max(lowest, box.Corner(+1, +1).y);
  return lowest > ground;
}

bool Nana::hitSide(int margin, int side) {
  const bool right = side > 0;
  const double line = right ? SCREEN_W - margin : margin;
  const double back = pos.x + kBackRadius * (right ? 1 : -1);
  if (right ? back <= line : back >= line) return false;

  const Box box = BoxOf(*this);
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

  // Turning: the control feeds the spin in every state; the limit acts before damping.
  float s = spin + turn * kTurnRate;
  if (s > kSpinLimit) {
    s = kSpinLimit;
  } else if (s < -kSpinLimit) {
    s = -kSpinLimit;
  }
  spin = s * kSpinDamping;

  // Walls: reverse what points into the wall, push the banana back out.
  int wall = 0;
  if (hitSide(kWallMargin, +1)) {
    wall = +1;
  } else if (hitSide(kWallMargin, -1)) {
    wall = -1;
  }
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
    result = cosf(a) >= kOnBackCos ? RollingStep(*this, previous, a, ground)
                                   : TipStep(*this, previous, a, squashKey, ground);
  }
  state = result;
  SoundOfLanding(*this, previous, fallSpeed);
  return result;
}

Nana MakeExtraNana(const Nana& from, int player) {
  const int dx = rand() % 201 - 100;
  const int dy = rand() % 30;
  Nana extra(from.image, {from.pos.x + dx, from.pos.y - dy});
  extra.angle = (rand() % 360) * kExtraAngleStep;
  if (player == 2) {
    extra.vel.x = from.vel.x + (rand() % 3 - 1);
    extra.vel.y = from.vel.y - rand() % 3;
  } else {
    extra.vel.x = from.vel.x + (rand() % 11 - 5);
    extra.vel.y = from.vel.y - rand() % 5;
  }
  extra.spin = (rand() % 5) * kExtraAngleStep + from.spin;
  return extra;
}

// ===========================================================================
// Banana: drawing
// ===========================================================================

namespace {
// The library's rotate_sprite, with its positions made fixed-point by multiplying:
// the library's inline version shifts x and y left, which a banana reaching past the
// left or top edge (a negative position) must not be. Same call, same picture.
void RotateSprite(BITMAP* dest, BITMAP* sprite, int x, int y, fixed angle) {
  constexpr int kOne = 0x10000;  // 1.0 in the library's 16.16 fixed point
  dest->vtable->pivot_scaled_sprite_flip(dest, sprite, x * kOne + (sprite->w * kOne) / 2,
                                         y * kOne + (sprite->h * kOne) / 2, sprite->w << 15,
                                         sprite->h << 15, angle, kOne, FALSE);
}
}  // namespace

void Nana::Draw(BITMAP* dest) const {
  BITMAP* sprite = SpriteOf(image);
  if (sprite == nullptr || dest == nullptr) return;
  const int w = sprite->w;
  const int h = sprite->h;

  if (state == UpsideDown && flipped != nullptr) {
    // The pre-turned copy, squashed towards its bottom edge.
    const Vec2<double> k = BoxOf(*this).Corner(+1, +1);
    const int dx = static_cast<int>(k.x);
    const double scale = squash;  // the products in double, so truncation is exact
    const int dy = static_cast<int>(k.y + (1 - scale) * h);
    const int dh = static_cast<int>(scale * h);
    if (dh > 0) masked_stretch_blit(flipped, dest, 0, 0, w, h, dx, dy, w, dh);
    return;
  }

  // Turned to its angle about the centre; the library turns in steps of 1/256 turn.
  const int xi = static_cast<int>(pos.x - kCentreOffset * sinf(angle) - w / 2);
  const int yi = static_cast<int>(pos.y + kCentreOffset * cosf(angle) - h / 2);
  const int ai = static_cast<int>(angle * kHalfTurnUnits / kPi);
  // Brought into 0 .. one turn: the library shifts the value left, which a negative
  // number must not be; the library takes angles modulo a turn, so the picture is the same.
  constexpr int kTurnUnits = 2 * kHalfTurnUnits;
  const int turn = (ai % kTurnUnits + kTurnUnits) % kTurnUnits;
  RotateSprite(dest, sprite, xi, yi, itofix(turn));
}

// ===========================================================================
// Fruit flies
// ===========================================================================

namespace {

BITMAP* FrameOf(const Image* frame) { return frame != nullptr ? frame->bitmap : nullptr; }

bool HitsAny(const Fly& fly, const Player& player) {
  if (FlyHits(fly, player.nana)) return true;
  for (const Nana& extra : player.extras) {
    if (FlyHits(fly, extra)) return true;
  }
  return false;
}

}  // namespace

void Fly::flyRandom(int ground) {
  vel.x += rand() % 3 - 1;
  vel.y += rand() % 3 - 1;
  if (vel.x > kFlySpeedCap) vel.x = kFlySpeedCap;
  if (vel.y > kFlySpeedCap) vel.y = kFlySpeedCap;
  const double x = pos.x + vel.x + (rand() % 5 - 2);
  const double y = pos.y + vel.y + (rand() % 5 - 2);
  pos = {x, y};

  BITMAP* sprite = FrameOf(frame1);
  const int fw = sprite != nullptr ? sprite->w : 0;
  const int fh = sprite != nullptr ? sprite->h : 0;
  const int right = SCREEN_W - fw - kFlyEdge;
  if (pos.x < kFlyEdge) {
    pos.x = kFlyEdge;
    vel.x = -vel.x;
  } else if (pos.x > right) {
    pos.x = right;
    vel.x = -vel.x;
  }
  const int bottom = ground - fh - kFlyBand;
  if (pos.y > bottom) {
    pos.y = bottom;
    vel.y = -vel.y;
  } else if (pos.y < 0) {
    pos.y = 0;
    vel.y = -vel.y;
  }
}

std::list<Fly> MakeFlies(int level, Image* frame1, Image* frame2) {
  std::list<Fly> flies;
  const int count = FliesForLevel(level);
  // Without a graphics mode the screen is 0 x 0; every fly then starts at (0, 0).
  const int w = std::max(SCREEN_W, 1);
  const int h = std::max(SCREEN_H, 1);
  for (int i = 0; i < count; ++i) {
    const int x = rand() % w;
    const int y = rand() % h;
    flies.push_back(Fly{{static_cast<double>(x), static_cast<double>(y)}, {0, 0}, frame1, frame2});
  }
  return flies;
}

bool FlyHits(const Fly& fly, const Nana& nana) {
  const double fx = fly.pos.x + kFlyCentreX;
  const double fy = fly.pos.y + kFlyCentreY;
  const double px = nana.pos.x;
  const double py = nana.pos.y;
  const double qx = px + kMissOffset * sinf(nana.angle);
  const double qy = py - kMissOffset * cosf(nana.angle);
  const double toPivot = (fx - px) * (fx - px) + (fy - py) * (fy - py);
  const double toQ = (fx - qx) * (fx - qx) + (fy - qy) * (fy - qy);
  return toPivot < kHitRadius * kHitRadius && toQ > kMissRadius * kMissRadius;
}

void FlyPass(std::list<Fly>& flies, Player& p1, Player& p2, bool twoPlayer, int level,
             BITMAP* splatterLayer) {
  for (auto it = flies.begin(); it != flies.end();) {
    it->flyRandom(GroundLine());
    const int hit1 = HitsAny(*it, p1) ? 1 : 0;
    p1.streak += hit1;
    p1.score += level * hit1;
    int hit2 = 0;
    if (twoPlayer) {
      hit2 = HitsAny(*it, p2) ? 1 : 0;
      p2.streak += hit2;
      p2.score += level * hit2;
    }
    if (hit1 != 0 || hit2 != 0) {
      Splatter(splatterLayer, it->pos);
      PlayEffect(Effect::Splat, it->pos.x + kFlyCentreX);
      it = flies.erase(it);
    } else {
      ++it;
    }
  }
}

void DrawFlies(const std::list<Fly>& flies, BITMAP* dest) {
  for (const Fly& fly : flies) {
    BITMAP* first = FrameOf(fly.frame1);
    BITMAP* second = FrameOf(fly.frame2);
    BITMAP* sprite = rand() % 4 == 1 ? second : first;
    if (sprite == nullptr) sprite = first != nullptr ? first : second;
    if (sprite == nullptr || dest == nullptr) continue;
    draw_sprite(dest, sprite, static_cast<int>(fly.pos.x), static_cast<int>(fly.pos.y));
  }
}

// ===========================================================================
// Splatter
// ===========================================================================

void Splatter(BITMAP* bmp, Vec2<double> pos) {
  for (int dot = 0; dot < kSplatDots; ++dot) {
    // Distance 0..27, most often near the middle: the sum of three draws.
    int d = rand() % 10;
    d += rand() % 10;
    d += rand() % 10;
    const double a = (rand() % 360) * kPi / 180.0;
    const int px = static_cast<int>(pos.x + d * std::cos(a));
    const int py = static_cast<int>(pos.y + d * std::sin(a));
    const int green = 155 + rand() % 100;
    const int red = rand() % 100;
    if (bmp != nullptr) putpixel(bmp, px, py, makecol(red, green, 0));
  }
}

// ===========================================================================
// Game play
// ===========================================================================

GameImages gameImages;

namespace {

// Colours of the play screens.
int White() { return makecol(255, 255, 255); }
int Black() { return makecol(0, 0, 0); }
int Red() { return makecol(255, 0, 0); }

constexpr int kTextGap = 40;       // second line of a level screen, below the first (pixels)
constexpr int kHudTop = 50;        // y of "P1: %d" and "Time Left: %d" (pixels)
constexpr int kHudP2Top = 100;     // y of "P2: %d" (pixels)
constexpr int kWallWidth = 20;     // the black walls (pixels)
constexpr int kFloorHeight = 21;   // the black floor, from the ground line down (pixels)

Vec2<double> NanaStart(int player, bool twoPlayer) {
  const double y = SCREEN_H - kNanaStartAboveBottom;
  if (player == 2) return {static_cast<double>(SCREEN_W * 3 / 4), y};
  return {static_cast<double>(twoPlayer ? SCREEN_W / 4 : SCREEN_W / 2), y};
}

void ShowBackBuffer(BITMAP* backbuffer) {
  if (!ReplayShowsFrames()) return;  // a replay checked at full speed draws off-screen
  blit(backbuffer, screen, 0, 0, 0, 0, SCREEN_W, SCREEN_H);
}

// A level screen: two centred lines, then a wait for any key.
void ShowMessageAndWaitForKey(BITMAP* backbuffer, const char* first, const char* second) {
  clear_to_color(backbuffer, White());
  textprintf_centre_ex(backbuffer, Font(), SCREEN_W / 2, SCREEN_H / 2, Black(), -1, "%s", first);
  textprintf_centre_ex(backbuffer, Font(), SCREEN_W / 2, SCREEN_H / 2 + kTextGap, Black(), -1, "%s",
                       second);
  ShowBackBuffer(backbuffer);
  clear_keybuf();
  WaitAtLevelScreen(backbuffer, WaitForKeyOrPadButton);
}

void EmptyLevelLists(Game& game) {
  game.flies.clear();
  game.p2.extras.clear();
  game.p1.extras.clear();
}

// --- One tick ---

void CountDown(Game& game) {
  --game.p1.crazy;
  --game.timeLeft;
  --game.p2.crazy;
}

void DropExpiredExtras(Game& game) {
  if (game.p1.crazy <= 0) game.p1.extras.clear();
  if (game.p2.crazy <= 0) game.p2.extras.clear();
}

void StartCrazyMode(Player& player, int which) {
  player.crazy = kCrazyDuration;
  PlayEffect(Effect::Crazy, player.nana.pos.x);
  player.extras.clear();
  const int extras = player.streak / kCrazyExtrasPerStreak + kCrazyExtrasBase;
  for (int i = 0; i < extras; ++i) player.extras.push_back(MakeExtraNana(player.nana, which));
}

// The own banana touched the ground: the streak is closed, and may set off CRAZY mode.
void CloseStreak(Player& player, int which) {
  if (player.streak > kCrazyStreak && player.crazy <= kCrazyRestartAt) StartCrazyMode(player, which);
  player.streak = 0;
}

// Steps the player's banana and extras with the controls as they are at each step.
void StepPlayer(Player& player, int which) {
  Controls controls = ReadControls(which);
  const int onGround = player.nana.DoPhysics(controls.turn, controls.squash, GroundLine());
  for (Nana& extra : player.extras) {
    controls = ReadControls(which);
    extra.DoPhysics(controls.turn, controls.squash, GroundLine());
  }
  if (onGround != 0) CloseStreak(player, which);
}

// --- Drawing ---

void DrawBananas(const Player& player, BITMAP* buffer) {
  player.nana.Draw(buffer);
  for (const Nana& extra : player.extras) extra.Draw(buffer);
}

void DrawScore(BITMAP* buffer, const char* format, int score, int y) {
  textprintf_ex(buffer, Font(), SCREEN_W - kHudScoreInset, y, Black(), -1, format, score);
}

void DrawTimeLeft(const Game& game, BITMAP* buffer) {
  textprintf_centre_ex(buffer, Font(), SCREEN_W / 2, kHudTop, Black(), -1, "Time Left: %d",
                       game.timeLeft / kTicksPerSecond);
}

int Jitter() { return rand() % (2 * kCrazyJitter + 1) - kCrazyJitter; }

// "CRAZY" in red around (x, SCREEN_H / 2); the vertical jitter is drawn first.
void DrawCrazy(BITMAP* buffer, int x, bool jitterX) {
  const int y = SCREEN_H / 2 + Jitter();
  if (jitterX) x += Jitter();
  textprintf_centre_ex(buffer, Font(), x, y, Red(), -1, "CRAZY");
}

void DrawFloorAndWalls(BITMAP* buffer) {
  rectfill(buffer, 0, SCREEN_H - kFloorHeight, SCREEN_W, SCREEN_H, Black());
  rectfill(buffer, 0, 0, kWallWidth, SCREEN_H, Black());
  rectfill(buffer, SCREEN_W - kWallWidth, 0, SCREEN_W, SCREEN_H, Black());
}

// M turns all sound off and on again; the choice is kept for the next run.
void MuteOnKey() {
  if (!keyhit(KEY_M)) return;
  ToggleMute();
  ChangeSetting(&Settings::mute, Muted());
}

void WaitForNextTick() {
  while (!NextTickArrived()) rest(0);
}

// While paused the ticks are dropped as they come: each paused frame waits for a fresh
// one, sleeping rather than spinning, and a quit request ends the wait at once.
void WaitOutPausedTick() {
  logic_time = 0;
  while (logic_time == 0 && !QuitRequested()) rest(1);
}

// A frame while paused: no tick runs; the picture kept when the pause began (it draws
// no random numbers, so a pause of any length leaves the game's sequence as it was)
// with the pause texts over it.
bool PlayPausedFrame(BITMAP* backbuffer) {
  MuteOnKey();
  DrawPauseTexts(backbuffer);
  ShowBackBuffer(backbuffer);
  WaitOutPausedTick();
  return !QuitRequested();
}

// Either input sways the banana; each device turns it one way at most.
Controls Combined(Controls a, PadControls b) {
  return {std::clamp(a.turn + b.turn, -1, 1), a.squash || b.squash};
}

// Player 1's keys, or player 2's mouse buttons.
Controls ReadKeysOrMouse(int player) {
  if (player == 1) {
    const int right = (key[KEY_RIGHT] || key[KEY_D]) ? 1 : 0;
    const int left = (key[KEY_LEFT] || key[KEY_A]) ? 1 : 0;
    return {right - left, key[KEY_SPACE] || key[KEY_DOWN] || key[KEY_S]};
  }
  const int buttons = mouse_b;
  const bool leftButton = buttons & 1;
  const bool rightButton = buttons & 2;
  return {(rightButton ? 1 : 0) - (leftButton ? 1 : 0), leftButton && rightButton};
}

// What the player's devices say now.
Controls ReadDeviceControls(int player) { return Combined(ReadKeysOrMouse(player), ReadPad(player)); }

void PlayLevel(Game& game, BITMAP* backbuffer) {
  if (QuitRequested()) return;
  StartPause(game.pause);
  while (PlayFrame(game, backbuffer)) {
  }
  ResumeSound();  // a level left while paused holds no sound back
}

// All pending ticks, one after the other (ticks that come meanwhile run too).
void RunPendingTicks(Game& game) {
  for (; TickDue(); TickDone()) RunTick(game);
}

// Levels one after the other, each begun with its set-up and intro screen, until one
// ends other than cleared or a quit is asked for before the next one begins.
LevelEnd PlayLevels(Game& game, BITMAP* backbuffer) {
  while (!QuitRequested()) {
    SetUpLevel(game);
    char title[32];
    std::snprintf(title, sizeof title, "Level %d", game.level);
    PlayEffect(Effect::Level, SCREEN_W / 2);
    ShowMessageAndWaitForKey(backbuffer, title, "Press any key to begin.");
    StartLevelClock(game);
    PlayLevel(game, backbuffer);

    const LevelEnd end = DecideLevelEnd(game);
    if (end != LevelEnd::Cleared) return end;
    std::snprintf(title, sizeof title, "Level %d clear!", game.level);
    ++game.level;
    PlayEffect(Effect::Clear, SCREEN_W / 2);
    ShowMessageAndWaitForKey(backbuffer, title, "Press any key to continue.");
    EmptyLevelLists(game);
  }
  return LevelEnd::Quit;
}

void ShowTimeUpAndOfferScores(const Game& game, BITMAP* backbuffer) {
  PlayEffect(Effect::TimeUp, SCREEN_W / 2);
  ShowMessageAndWaitForKey(backbuffer, "Time up!  The fruit flies got to you ...",
                           "Press any key to continue.");
  if (PlayingBack()) return;  // a replayed game's scores were offered when it was played
  HighScores(backbuffer, game.p1.score, "Player 1");
  if (game.twoPlayer) HighScores(backbuffer, game.p2.score, "Player 2");
}

}  // namespace

int FliesForLevel(int level) { return std::min(kFliesPerLevel * level, kMaxFlies); }

int TimeLimitForLevel(int level) {
  return kFullTime - kTimeCutPerLevel * std::min(level, kLastShorterLevel);
}

int GroundLine() { return SCREEN_H - kGroundMargin; }

Controls ReadControls(int player) { return ReplayControls(player, ReadDeviceControls); }

void WaitForKeyOrPadButton() {
  PadPresses presses = WatchPadPresses();
  while (!keypressed() && !NewPadPress(presses) && QuitSignal() == 0) rest(1);
  if (keypressed()) readkey();
}

Game::Game(bool twoPlayer, BITMAP* splatterLayer)
    : twoPlayer(twoPlayer),
      // Placeholders without a sprite (nothing to copy); every level builds the real ones.
      p1{Nana(nullptr, NanaStart(1, twoPlayer))},
      p2{Nana(nullptr, NanaStart(2, twoPlayer))},
      splatterLayer(splatterLayer) {}

bool QuitRequested() { return key[KEY_ESC] || quitnow || ReplayReachedItsEnd(); }

void SetUpLevel(Game& game) {
  logic_time = 0;
  game.p1.nana = Nana(gameImages.banana1, NanaStart(1, game.twoPlayer));
  game.p2.nana = Nana(gameImages.banana2, NanaStart(2, game.twoPlayer));
  game.p1.extras.clear();
  game.p2.extras.clear();
  clear_to_color(game.splatterLayer, White());
  game.flies = MakeFlies(game.level, gameImages.fly1, gameImages.fly2);
}

void StartLevelClock(Game& game) {
  logic_time = 0;
  game.cleared = false;
  game.p1.streak = game.p2.streak = 0;
  game.p1.crazy = game.p2.crazy = 0;
  game.timeLeft = TimeLimitForLevel(game.level);
}

void RunTick(Game& game) {
  CountDown(game);
  DropExpiredExtras(game);
  StepPlayer(game.p1, 1);
  if (game.twoPlayer) StepPlayer(game.p2, 2);
  FlyPass(game.flies, game.p1, game.p2, game.twoPlayer, game.level, game.splatterLayer);
}

bool CheckFlies(Game& game) {
  if (game.flies.empty()) {
    game.cleared = true;
    return true;
  }
  return game.timeLeft >= 0;
}

void DrawFrame(const Game& game, BITMAP* buffer) {
  DrawFlies(game.flies, buffer);
  DrawBananas(game.p1, buffer);
  DrawScore(buffer, "P1: %d", game.p1.score, kHudTop);
  DrawTimeLeft(game, buffer);
  if (game.p1.crazy > 0) DrawCrazy(buffer, game.twoPlayer ? SCREEN_W / 4 : SCREEN_W / 2, !game.twoPlayer);
  if (game.twoPlayer) {
    DrawBananas(game.p2, buffer);
    DrawScore(buffer, "P2: %d", game.p2.score, kHudP2Top);
    if (game.p2.crazy > 0) DrawCrazy(buffer, SCREEN_W * 3 / 4, true);
  }
  DrawFloorAndWalls(buffer);
}

bool PlayFrame(Game& game, BITMAP* backbuffer) {
  if (UpdatePause(game.pause, backbuffer, game.splatterLayer)) return PlayPausedFrame(backbuffer);
  if (!CheckFlies(game)) return false;
  MuteOnKey();
  RunPendingTicks(game);
  DrawFrame(game, backbuffer);
  DrawReplayMark(backbuffer);
  ShowBackBuffer(backbuffer);
  clear_to_color(backbuffer, White());
  WaitForNextTick();
  blit(game.splatterLayer, backbuffer, 0, 0, 0, 0, game.splatterLayer->w, game.splatterLayer->h);
  return !QuitRequested() && !game.cleared;
}

LevelEnd DecideLevelEnd(const Game& game) {
  if (game.cleared) return LevelEnd::Cleared;
  if (game.timeLeft < 0) return LevelEnd::TimeUp;
  return LevelEnd::Quit;
}

void PlayGame(BITMAP* backbuffer, BITMAP* splatterLayer, bool twoPlayer) {
  Game game(twoPlayer, splatterLayer);
  PlayMusic(Music::Play);
  BeginGameRecord(twoPlayer);
  const LevelEnd end = PlayLevels(game, backbuffer);
  FinishGameRecord(game, end);
  if (end == LevelEnd::TimeUp) ShowTimeUpAndOfferScores(game, backbuffer);
  EmptyLevelLists(game);
}

// ===========================================================================
// Program entry and main menu
// ===========================================================================

namespace {

// Room between the main menu's buttons, and from the lowest one to the bottom (pixels).
constexpr int kMenuPitch = 50;
// The help pages' buttons are centred this far in from the left and right edges (pixels).
constexpr int kHelpButtonInset = 100;

void AddCentredButton(Buttons& set, int centreX, int y, const char* label) {
  set.AddButton(Vec2<int>{centreX - text_length(Font(), label) / 2, y}, label);
}

void ShowPage(Menu& menu, Image* page, Buttons& buttons) {
  menu.shownImage = page->bitmap;
  menu.shownButtons = &buttons;
}

void DrawShownImage(const Menu& menu, BITMAP* backbuffer) {
  BITMAP* image = menu.shownImage;
  blit(image, backbuffer, 0, 0, (SCREEN_W - image->w) / 2, (SCREEN_H - image->h) / 2, image->w,
       image->h);
}

void DrawPointer(BITMAP* backbuffer) {
  constexpr int kPointerSize = 5;  // pixels
  rect(backbuffer, mouse_x, mouse_y, mouse_x + kPointerSize, mouse_y + kPointerSize, makecol(255, 0, 0));
}

}  // namespace

void BuildMenuButtons(Menu& menu) {
  const int middle = SCREEN_W / 2;
  AddCentredButton(menu.mainMenu, middle, SCREEN_H - 4 * kMenuPitch, "Single Player");
  AddCentredButton(menu.mainMenu, middle, SCREEN_H - 3 * kMenuPitch, "Two Player");
  AddCentredButton(menu.mainMenu, middle, SCREEN_H - 2 * kMenuPitch, "Help");
  AddCentredButton(menu.mainMenu, middle, SCREEN_H - kMenuPitch, "Quit");
  AddCentredButton(menu.helpPage1, kHelpButtonInset, SCREEN_H - kMenuPitch, "Back");
  AddCentredButton(menu.helpPage1, SCREEN_W - kHelpButtonInset, SCREEN_H - kMenuPitch, "Next");
  AddCentredButton(menu.helpPage2, kHelpButtonInset, SCREEN_H - kMenuPitch, "Back");
  AddCentredButton(menu.helpPage2, SCREEN_W - kHelpButtonInset, SCREEN_H - kMenuPitch, "Done");
  menu.shownButtons = &menu.mainMenu;
}

bool ActOnChoice(Menu& menu, const std::string& label) {
  if (label.empty()) return false;
  PlayEffect(Effect::Click, mouse_x);
  if (label == "Single Player") return true;
  if (label == "Two Player") {
    menu.twoPlayer = true;
    return true;
  }
  if (label == "Help") {
    ShowPage(menu, gameImages.help1, menu.helpPage1);
  } else if (label == "Back") {
    if (menu.shownButtons == &menu.helpPage1) {
      ShowPage(menu, gameImages.title, menu.mainMenu);
    } else {
      ShowPage(menu, gameImages.help1, menu.helpPage1);
    }
  } else if (label == "Next") {
    ShowPage(menu, gameImages.help2, menu.helpPage2);
  } else if (label == "Done") {
    ShowPage(menu, gameImages.title, menu.mainMenu);
  } else if (label == "Quit") {
    LOG("Quitting game from main menu.");
    quitnow = true;
  } else {
    allegro_message("Functionality for %s not yet implemented", label.c_str());
  }
  return false;
}

bool MenuFrame(Menu& menu, BITMAP* backbuffer) {
  if (logic_time > 0) logic_time = 0;
  MuteOnKey();
  if (mouse_b & 1) menu.clicked = true;
  if (mouse_b == 0) {
    if (menu.clicked && ActOnChoice(menu, menu.shownButtons->GetButtonUnder(mouse_x, mouse_y))) {
      return true;
    }
    menu.clicked = false;
  }
  DrawShownImage(menu, backbuffer);
  menu.shownButtons->DrawButtons(backbuffer, mouse_x, mouse_y);
  DrawPointer(backbuffer);
  ShowBackBuffer(backbuffer);
  clear_to_color(backbuffer, makecol(255, 255, 255));
  return false;
}

#ifndef NANASPLAT_NO_ENTRY
namespace {

// The pictures, in the order the game looks them up.
struct PictureSlot {
  Image* GameImages::*slot;
  const char* name;
};
constexpr PictureSlot kPictures[] = {
    {&GameImages::banana1, "banana_sm1.bmp"}, {&GameImages::title, "title800_3.bmp"},
    {&GameImages::banana2, "banana_sm1.bmp"}, {&GameImages::fly1, "fly1.bmp"},
    {&GameImages::fly2, "fly2.bmp"},          {&GameImages::help1, "help1.bmp"},
    {&GameImages::help2, "help2.bmp"},
};

// The working directory, or `unknown` when it cannot be told; once Init has run it
// is the media directory.
std::string WorkingDirectory(const char* unknown) {
  char path[4096];
  return getcwd(path, sizeof path) ? path : unknown;
}

// The game cannot run without a picture: say which one is missing, and where, then stop.
[[noreturn]] void MissingPicture(const char* name) {
  const std::string dir = WorkingDirectory("the media directory");
  LOG("Missing picture \"", name, "\" in ", dir, ", can't go on");
  allegro_message("Could not load the picture %s from %s", name, dir.c_str());
  std::exit(1);
}

void LoadGamePictures(ImageManager& imageManager) {
  for (const PictureSlot& picture : kPictures) {
    Image* image = imageManager.GetImage(picture.name);
    if (image == nullptr) MissingPicture(picture.name);
    gameImages.*picture.slot = image;
  }
}

BITMAP* CreateSplatterLayer() {
  BITMAP* layer = create_bitmap(SCREEN_W, SCREEN_H);
  if (layer == nullptr) {
    LOG("Couldn't create the splatter layer, can't go on");
    allegro_message("Could not create the splatter layer (out of memory?)");
    std::exit(1);
  }
  return layer;
}

// Returns when a game was chosen (true) or the player quit (false).
bool RunMenu(Menu& menu, BITMAP* backbuffer) {
  menu.clicked = false;
  menu.twoPlayer = false;
  logic_time = 0;
  menu.shownImage = gameImages.title->bitmap;
  PlayMusic(Music::Title);
  while (!QuitRequested()) {
    if (MenuFrame(menu, backbuffer)) return true;
    StartSound();  // once, with the first title frame already on the screen
    AttractModeFrame(menu, backbuffer);
  }
  return false;
}

// A replay named on the command line, read before start-up (the path is the caller's);
// one that cannot be read ends the program with status 2.
ReplayCommand ReplayToPlay(const Options& options, Replay& replay) {
  const ReplayCommand& command = options.replay;
  std::string error = command.error;
  if (error.empty() && command.mode != ReplayMode::None) LoadReplay(command.file, replay, error);
  if (error.empty()) return command;
  std::fprintf(stderr, "nanasplat: %s%s%s\n", command.file.c_str(), command.file.empty() ? "" : ": ",
               error.c_str());
  std::exit(2);
}

}  // namespace

int main(int argc, char** argv) {
  // Read before the library starts, so that --help and --version need no display.
  // (The library takes its executable's name from /proc, not from argv.)
  const Options options = HandleCommandLine(argc, argv);
  Replay replay;
  const ReplayCommand command = ReplayToPlay(options, replay);
  BITMAP* backbuffer = Init(1024, 768, "demo");
  if (backbuffer == nullptr) {
    LOG("Initialization failed -- invalid backbuffer on exit");
    exit(1);
  }
  LOG("Initialization succeeded");
  SetFont("font.dat");
  LOG("Beginning game loop");
  UseScoreTableFor(WorkingDirectory("."));
  SetMuted(LoadSettings().mute || options.mute);

  Menu menu;
  BuildMenuButtons(menu);
  // Declared after the buttons so that it is destroyed first, with every picture.
  ImageManager imageManager;
  LoadGamePictures(imageManager);
  BITMAP* splatterLayer = CreateSplatterLayer();
  InstallPads();

  int status = 0;
  if (command.mode != ReplayMode::None) {
    status = RunReplay(command.mode, replay,
                       [&](bool twoPlayer) { PlayGame(backbuffer, splatterLayer, twoPlayer); });
  } else {
    PauseWhenFocusIsLost();
    SetUpAttractMode([&](bool twoPlayer) { PlayGame(backbuffer, splatterLayer, twoPlayer); });
    while (!QuitRequested()) {
      if (RunMenu(menu, backbuffer)) PlayGame(backbuffer, splatterLayer, menu.twoPlayer);
    }
  }
  StopSound();
  destroy_bitmap(splatterLayer);
  destroy_bitmap(backbuffer);
  return status;
}
END_OF_MAIN()
#endif
