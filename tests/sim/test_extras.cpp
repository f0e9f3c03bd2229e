// Bananas as plain values, and the extra bananas of CRAZY mode.
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "sim/banana.h"
#include "sim_fixtures.h"

namespace {

TEST(Bananas, ANewBananaRestsUprightInThePlayArea) {
  const Nana nana(kBananaSprite, {12.5, 34.25}, 800, 600);
  EXPECT_EQ(nana.pos.x, 12.5);
  EXPECT_EQ(nana.pos.y, 34.25);
  EXPECT_EQ(nana.angle, 0.0f);
  EXPECT_EQ(nana.vel.x, 0);
  EXPECT_EQ(nana.vel.y, 0);
  EXPECT_EQ(nana.spin, 0.0f);
  EXPECT_EQ(nana.state, Airborne);
  EXPECT_EQ(nana.squash, 1.0f);
  EXPECT_EQ(nana.image.w, kTestNanaW);
  EXPECT_EQ(nana.image.h, kTestNanaH);
  EXPECT_EQ(nana.areaWidth, 800);
}

TEST(Bananas, TheRightWallStandsInsideThePlayAreasWidth) {
  Nana narrow(kBananaSprite, {600 - 20 - 87 + 3, 300}, 600);
  EXPECT_TRUE(narrow.hitSide(20, +1));
  Nana wide(kBananaSprite, {600 - 20 - 87 + 3, 300}, 1024);
  EXPECT_FALSE(wide.hitSide(20, +1));
}

// The six draws an extra banana takes, in order.
struct Draws {
  int x, y, angle, vx, vy, spin;
};

Draws NextDraws(unsigned seed) {
  srand(seed);
  Draws d;
  d.x = rand();
  d.y = rand();
  d.angle = rand();
  d.vx = rand();
  d.vy = rand();
  d.spin = rand();
  srand(seed);
  return d;
}

TEST(Bananas, ExtraBananasScatterAroundTheirPlayersBanana) {
  Nana from(kBananaSprite, {500, 400});
  from.vel = {2.5, -3.5};
  from.spin = 0.05f;
  from.angle = 1.0f;
  from.state = Rolling;
  constexpr double step = 3.14159 / 360;

  for (int player : {1, 2}) {
    const Draws d = NextDraws(17 + player);
    Nana extra = MakeExtraNana(from, player);
    EXPECT_EQ(extra.image.w, from.image.w);
    EXPECT_EQ(extra.pos.x, 500 + (d.x % 201 - 100));
    EXPECT_EQ(extra.pos.y, 400 - d.y % 30);
    EXPECT_EQ(extra.angle, static_cast<float>((d.angle % 360) * step));
    if (player == 1) {
      EXPECT_EQ(extra.vel.x, 2.5 + (d.vx % 11 - 5));
      EXPECT_EQ(extra.vel.y, -3.5 - d.vy % 5);
    } else {
      EXPECT_EQ(extra.vel.x, 2.5 + (d.vx % 3 - 1));
      EXPECT_EQ(extra.vel.y, -3.5 - d.vy % 3);
    }
    EXPECT_NEAR(extra.spin, (d.spin % 5) * step + 0.05, 1e-7);
    EXPECT_EQ(extra.state, Airborne);
    EXPECT_EQ(extra.squash, 1.0f);
  }
}

TEST(Bananas, AGamesOwnGeneratorLeavesTheCLibrarysAlone) {
  const Nana from(kBananaSprite, {500, 400});
  srand(5);
  const int next = rand();
  srand(5);
  RandomSource own = OwnRandom(99);
  RandomSource same = OwnRandom(99);
  const Nana a = MakeExtraNana(from, 1, own);
  const Nana b = MakeExtraNana(from, 1, same);
  EXPECT_EQ(rand(), next) << "rand() untouched";
  EXPECT_EQ(a.pos.x, b.pos.x);
  EXPECT_EQ(a.angle, b.angle);
  EXPECT_EQ(a.spin, b.spin);
}

}  // namespace
