#pragma once
// The banana: a rocker-shaped rigid body that rolls on its curved back.
#include <allegro.h>

#include "image.h"
#include "vec2.h"

// Contact states, returned by DoPhysics.
enum NanaState { Airborne = 0, Rolling = 1, Tipping = 2, UpsideDown = 3 };

class Nana {
 public:
  Image* image;       // the sprite (w x h); read afresh at each use
  Vec2<double> pos;   // pivot P: centre of the back's arc (pixels)
  float angle;        // radians, clockwise on screen
  Vec2<double> vel;   // pixels per tick
  float spin;         // radians per tick
  int state;          // NanaState of the last step
  float squash;       // vertical scale while upside down, 0.5 .. 1
  BITMAP* flipped;    // own copy of the sprite turned 180 degrees
  float wallOverlap;  // push-back written by hitSide (pixels)

  Nana(Image* image, Vec2<double> pos);
  // A copy owns a copy of `flipped`; the copy is released with its banana.
  Nana(const Nana& other);
  Nana(Nana&& other) noexcept;
  Nana& operator=(Nana other) noexcept;
  ~Nana();

  // One tick; returns (and stores) the new contact state.
  int DoPhysics(int turn, bool squashKey, int ground);
  bool hitGround(int ground);
  bool hitSide(int margin, int side);
  void Draw(BITMAP* dest);
};

// An extra banana spawned around `from` for CRAZY mode; `player` is 1 or 2.
Nana MakeExtraNana(const Nana& from, int player);
