// SPDX-License-Identifier: GPL-3.0-or-later
// Bananas as values: their turned copies, and the extra bananas of CRAZY mode.
#include <allegro.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <list>
#include <utility>
#include <vector>

#include "nana.h"
#include "test_sprites.h"
#include "test_support.h"

namespace {

TEST(NanaCopies, ANewBananaRestsUprightWithItsOwnTurnedCopy) {
  TestSprite sprite(kTestNanaW, kTestNanaH);
  Nana nana(sprite.get(), {12.5, 34.25});
  EXPECT_EQ(nana.image, sprite.get());
  EXPECT_EQ(nana.pos.x, 12.5);
  EXPECT_EQ(nana.pos.y, 34.25);
  EXPECT_EQ(nana.angle, 0.0f);
  EXPECT_EQ(nana.vel.x, 0);
  EXPECT_EQ(nana.vel.y, 0);
  EXPECT_EQ(nana.spin, 0.0f);
  EXPECT_EQ(nana.state, Airborne);
  EXPECT_EQ(nana.squash, 1.0f);
  ASSERT_NE(nana.flipped, nullptr);
  EXPECT_NE(nana.flipped, sprite.image.bitmap);
  EXPECT_TRUE(LogMessages().empty());
}

TEST(NanaCopies, CopiesOwnTheirTurnedCopyAndOutliveTheOriginal) {
  TestSprite sprite(kTestNanaW, kTestNanaH);
  std::list<Nana> extras;
  {
    Nana original(sprite.get(), {100, 100});
    original.spin = 0.2f;
    original.state = UpsideDown;
    original.squash = 0.6f;
    extras.push_back(original);
    Nana copy = original;
    EXPECT_NE(copy.flipped, original.flipped);
    EXPECT_TRUE(SamePixels(copy.flipped, original.flipped));
    EXPECT_EQ(copy.spin, 0.2f);
    EXPECT_EQ(copy.state, UpsideDown);
    EXPECT_EQ(copy.squash, 0.6f);

    Nana moved = std::move(copy);
    EXPECT_EQ(copy.flipped, nullptr) << "moving hands the bitmap over";
    ASSERT_NE(moved.flipped, nullptr);
    extras.push_back(std::move(moved));

    Nana other(sprite.get(), {0, 0});
    other = extras.front();
    EXPECT_NE(other.flipped, extras.front().flipped);
    EXPECT_TRUE(SamePixels(other.flipped, original.flipped));
  }
  // The originals are gone; the list's bananas still draw from their own copies.
  Nana reference(sprite.get(), {0, 0});
  for (const Nana& extra : extras) {
    ASSERT_NE(extra.flipped, nullptr);
    EXPECT_TRUE(SamePixels(extra.flipped, reference.flipped));
  }
  extras.erase(extras.begin());
  EXPECT_TRUE(SamePixels(extras.front().flipped, reference.flipped));
  for (int i = 0; i < 50; ++i) extras.push_back(reference);
  extras.clear();

  std::vector<Nana> grown;
  for (int i = 0; i < 40; ++i) grown.emplace_back(sprite.get(), Vec2<double>{1.0 * i, 0});
  for (const Nana& nana : grown) EXPECT_TRUE(SamePixels(nana.flipped, reference.flipped));
}

TEST(NanaCopies, ABananaWithoutAPictureMakesNoCopyAndLogsNothing) {
  Nana nana(nullptr, {10, 10});
  EXPECT_EQ(nana.flipped, nullptr);
  Nana copy = nana;
  EXPECT_EQ(copy.flipped, nullptr);
  EXPECT_TRUE(LogMessages().empty());
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

TEST(NanaCopies, ExtraBananasScatterAroundTheirPlayersBanana) {
  TestSprite sprite(kTestNanaW, kTestNanaH);
  Nana from(sprite.get(), {500, 400});
  from.vel = {2.5, -3.5};
  from.spin = 0.05f;
  from.angle = 1.0f;
  from.state = Rolling;
  constexpr double step = 3.14159 / 360;

  for (int player : {1, 2}) {
    const Draws d = NextDraws(17 + player);
    Nana extra = MakeExtraNana(from, player);
    EXPECT_EQ(extra.image, from.image);
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
    ASSERT_NE(extra.flipped, nullptr);
    EXPECT_NE(extra.flipped, from.flipped);
    EXPECT_TRUE(SamePixels(extra.flipped, from.flipped));
  }
}

}  // namespace
