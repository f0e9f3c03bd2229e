#pragma once
// The banana: a rocker-shaped rigid body that rolls on its curved back.
#include "random.h"
#include "vec2.h"

// Contact states, returned by DoPhysics.
enum NanaState { Airborne = 0, Rolling = 1, Tipping = 2, UpsideDown = 3 };

// The game's approximations of pi and pi/2 (radians); used as they are, never the
// full-precision values.
constexpr double kPi = 3.14159;
constexpr double kHalfPi = 1.570795;

// Geometry of the banana model (pixels).
constexpr double kBackRadius = 95;    // radius of the back's arc about the pivot
constexpr double kCentreOffset = 68;  // pivot to the sprite's centre
// The ground line lies this far above the play area's bottom edge; the walls this far
// inside its side edges.
constexpr int kGroundMargin = 20;
constexpr int kWallMargin = 20;

// A sprite's size, all the body needs of its picture (pixels). 0 x 0 without one.
struct SpriteSize {
  int w = 0;
  int h = 0;
};

// What a banana's step made heard: nothing, a jump, or a landing from flight.
enum class NanaSound : int { None = 0, Jump = 1, Land = 2 };

// A banana: a plain value (no picture, nothing owned), copied freely.
//
// A banana without a sprite (0 x 0) has its box collapsed onto its centre; it still
// moves on its back radius.
struct Nana {
  Vec2<double> pos{0, 0};  // pivot P: centre of the back's arc (pixels)
  Vec2<double> vel{0, 0};  // pixels per tick
  double soundX = 0;    // where the last step's sound came from (pixels)
  float angle = 0;      // radians, clockwise on screen
  float spin = 0;       // radians per tick
  float squash = 1.0f;  // vertical scale while upside down, 0.5 .. 1
  float wallOverlap = 0;  // push-back written by hitSide (pixels)
  int state = Airborne;   // NanaState of the last step
  int sound = 0;          // NanaSound of the last step
  SpriteSize image;       // the sprite's size (w x h)
  int areaWidth = 0;      // the play area's width: the walls stand inside it (pixels)
  int areaHeight = 0;     // the play area's height (pixels)

  Nana() = default;
  // At rest, upright, at `pos`, with a sprite of `image`'s size, in a play area
  // `areaWidth` pixels wide.
  Nana(SpriteSize image, Vec2<double> pos, int areaWidth = 1024, int areaHeight = 768);

  // One tick; returns (and stores) the new contact state. `turn` is -1, 0 or +1
  // (+1 rolls to the right), `ground` the y of the ground line.
  int DoPhysics(int turn, bool squashKey, int ground);
  // Whether the sprite box's lowest corner lies below the ground line.
  bool hitGround(int ground);
  // Whether the banana touches the wall `margin` pixels inside the right (+1) or left
  // (-1) edge of the play area; if so the push-back (pixels, signed) goes to wallOverlap.
  bool hitSide(int margin, int side);
};

// The sprite box around the centre C: corners C +- hv +- wv (pixels).
struct NanaBox {
  Vec2<double> c;
  Vec2<double> hv;
  Vec2<double> wv;

  Vec2<double> Corner(int hs, int ws) const {
    return {c.x + hs * hv.x + ws * wv.x, c.y + hs * hv.y + ws * wv.y};
  }
};
NanaBox BoxOf(const Nana& nana);

// An extra banana spawned around `from` for CRAZY mode; `player` is 1 or 2 (any
// other value gets player 1's spread). Draws six random numbers from `random`.
Nana MakeExtraNana(const Nana& from, int player, RandomSource& random = SharedCLibraryRandom());
