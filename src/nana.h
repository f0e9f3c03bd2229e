// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The banana: a rocker-shaped rigid body that rolls on its curved back.
#include <allegro.h>

#include "image.h"
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
// The ground line lies this far above the screen's bottom edge; the walls this far
// inside its side edges.
constexpr int kGroundMargin = 20;
constexpr int kWallMargin = 20;

// A banana.
//
// Ownership: every banana owns its `flipped` copy. Copying a banana makes a new copy
// of the bitmap, moving one hands the bitmap over (the moved-from banana keeps none),
// and the destructor destroys it; bananas can therefore be copied into, moved around
// in and erased from standard containers freely.
//
// A banana without a sprite (null `image`, or an entry without a bitmap) is treated
// as a zero-sized sprite: its box collapses onto its centre, it makes no `flipped`
// copy (and logs nothing: the image manager has already reported the missing
// picture), it still moves on its back radius, and Draw draws nothing.
//
// An upside-down banana whose `flipped` copy could not be made is drawn like any
// other banana, the sprite turned to its angle (half a turn), unsquashed.
class Nana {
 public:
  Image* image;       // the sprite (w x h); read afresh at each use
  Vec2<double> pos;   // pivot P: centre of the back's arc (pixels)
  float angle;        // radians, clockwise on screen
  Vec2<double> vel;   // pixels per tick
  float spin;         // radians per tick
  int state;          // NanaState of the last step
  float squash;       // vertical scale while upside down, 0.5 .. 1
  BITMAP* flipped;    // own copy of the sprite turned 180 degrees (mask colour 255,0,255)
  float wallOverlap;  // push-back written by hitSide (pixels)

  Nana(Image* image, Vec2<double> pos);
  // A copy owns a copy of `flipped`; the copy is released with its banana.
  Nana(const Nana& other);
  Nana(Nana&& other) noexcept;
  Nana& operator=(Nana other) noexcept;
  ~Nana();

  // One tick; returns (and stores) the new contact state. `turn` is -1, 0 or +1
  // (+1 rolls to the right), `ground` the y of the ground line.
  int DoPhysics(int turn, bool squashKey, int ground);
  // Whether the sprite box's lowest corner lies below the ground line.
  bool hitGround(int ground);
  // Whether the banana touches the wall `margin` pixels inside the right (+1) or left
  // (-1) screen edge; if so the push-back (pixels, signed) goes to wallOverlap.
  bool hitSide(int margin, int side);
  void Draw(BITMAP* dest) const;
};

// An extra banana spawned around `from` for CRAZY mode; `player` is 1 or 2 (any
// other value gets player 1's spread). Draws six random numbers.
Nana MakeExtraNana(const Nana& from, int player);
