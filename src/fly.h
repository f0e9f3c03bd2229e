#pragma once
// Fruit flies: the targets of a level.
#include <allegro.h>

#include <list>

#include "image.h"
#include "player.h"
#include "vec2.h"

class Fly {
 public:
  Vec2<double> pos;  // top-left corner of the sprite (pixels)
  Vec2<double> vel;  // pixels per tick
  Image* frame1;
  Image* frame2;

  // One tick of jittery flight inside the band above `ground`.
  void flyRandom(int ground);
};

// The flies of a level at random places (x drawn before y for each fly).
std::list<Fly> MakeFlies(int level, Image* frame1, Image* frame2);
// Whether the fly's centre lies in the banana's crescent-shaped body.
bool FlyHits(const Fly& fly, const Nana& nana);
// Moves every fly once and lets both players' bananas kill it.
void FlyPass(std::list<Fly>& flies, Player& p1, Player& p2, bool twoPlayer, int level,
             BITMAP* splatterLayer);
// Draws the flies, now and then with their second frame.
void DrawFlies(const std::list<Fly>& flies, BITMAP* dest);
