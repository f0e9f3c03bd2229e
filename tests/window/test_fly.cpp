// SPDX-License-Identifier: GPL-3.0-or-later
// Fruit flies in a 1024 x 768 window: their band, the crescent hit test, the fly pass.
#include <allegro.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <list>

#include "fly.h"
#include "nana.h"
#include "player.h"
#include "test_sprites.h"
#include "test_support.h"

namespace {

int Ground() { return SCREEN_H - 20; }

class Flies : public testing::Test {
 protected:
  void SetUp() override {
    clear_to_color(fly2.image.bitmap, makecol(0, 0, 200));
    layer = create_bitmap(SCREEN_W, SCREEN_H);
    clear_to_color(layer, makecol(255, 255, 255));
  }
  void TearDown() override { destroy_bitmap(layer); }

  Fly At(double x, double y, double vx = 0, double vy = 0) {
    return Fly{{x, y}, {vx, vy}, fly1.get(), fly2.get()};
  }
  Player PlayerAt(double x, double y) { return Player(Nana(banana.get(), {x, y})); }
  // A fly whose centre lies at (x, y).
  Fly CentredAt(double x, double y) { return At(x - 21, y - 19); }

  TestSprite fly1{kTestFlyW, kTestFlyH, "fly1.bmp"};
  TestSprite fly2{kTestFlyW, kTestFlyH, "fly2.bmp"};
  TestSprite banana{kTestNanaW, kTestNanaH, "banana_sm1.bmp"};
  BITMAP* layer = nullptr;
  // The lowest top edge of a fly: 200 above the ground line, less its height.
  const int bandBottom = Ground() - kTestFlyH - 200;
  const int bandRight = SCREEN_W - kTestFlyW - 20;
};

TEST_F(Flies, ALevelStartsWithFivePerLevelUpToEighty) {
  ASSERT_EQ(SCREEN_W, 1024);
  EXPECT_EQ(MakeFlies(1, fly1.get(), fly2.get()).size(), 5u);
  EXPECT_EQ(MakeFlies(3, fly1.get(), fly2.get()).size(), 15u);
  EXPECT_EQ(MakeFlies(15, fly1.get(), fly2.get()).size(), 75u);
  EXPECT_EQ(MakeFlies(16, fly1.get(), fly2.get()).size(), 80u);
  EXPECT_EQ(MakeFlies(40, fly1.get(), fly2.get()).size(), 80u);

  srand(11);
  const int x1 = rand(), y1 = rand(), x2 = rand(), y2 = rand();
  srand(11);
  const std::list<Fly> flies = MakeFlies(2, fly1.get(), fly2.get());
  auto it = flies.begin();
  EXPECT_EQ(it->pos.x, x1 % 1024);
  EXPECT_EQ(it->pos.y, y1 % 768);
  EXPECT_EQ(it->vel.x, 0);
  EXPECT_EQ(it->vel.y, 0);
  EXPECT_EQ(it->frame1, fly1.get());
  EXPECT_EQ(it->frame2, fly2.get());
  ++it;
  EXPECT_EQ(it->pos.x, x2 % 1024);
  EXPECT_EQ(it->pos.y, y2 % 768);
}

TEST_F(Flies, AFlightStepDrawsFourNumbersInOrder) {
  srand(21);
  const int vx = rand() % 3 - 1, vy = rand() % 3 - 1, jx = rand() % 5 - 2, jy = rand() % 5 - 2;
  srand(21);
  Fly fly = At(300, 200, 2, -3);
  fly.flyRandom(Ground());
  EXPECT_EQ(fly.vel.x, 2 + vx);
  EXPECT_EQ(fly.vel.y, -3 + vy);
  EXPECT_EQ(fly.pos.x, 300 + 2 + vx + jx);
  EXPECT_EQ(fly.pos.y, 200 - 3 + vy + jy);
}

TEST_F(Flies, AFlyBelowItsBandIsPutOnItsLowerEdgeAndTurnedRound) {
  Fly fly = At(500, 700, 0, 5);
  fly.flyRandom(Ground());
  EXPECT_EQ(fly.pos.y, bandBottom);
  EXPECT_LE(fly.vel.y, -4);
  EXPECT_GE(fly.vel.y, -6);

  Fly high = At(500, 1, 0, -6);
  high.flyRandom(Ground());
  EXPECT_EQ(high.pos.y, 0);
  EXPECT_GE(high.vel.y, 5);
  EXPECT_LE(high.vel.y, 7);

  Fly right = At(bandRight + 5, 300, 4, 0);
  right.flyRandom(Ground());
  EXPECT_EQ(right.pos.x, bandRight);
  EXPECT_LE(right.vel.x, -3);
}

TEST_F(Flies, SpeedIsCappedAtEightButNotBelow) {
  Fly fast = At(500, 300, 8, 8);
  fast.flyRandom(Ground());
  EXPECT_GE(fast.vel.x, 7);
  EXPECT_LE(fast.vel.x, 8);
  EXPECT_GE(fast.vel.y, 7);
  EXPECT_LE(fast.vel.y, 8);

  Fly falling = At(500, 300, -20, -20);
  falling.flyRandom(Ground());
  EXPECT_LE(falling.vel.x, -19);
  EXPECT_LE(falling.vel.y, -19);

  // Reaching the left limit at -30 it turns round at 30, cut to 8 on its next tick.
  Fly wanderer = At(25, 300, -30, 0);
  wanderer.flyRandom(Ground());
  EXPECT_EQ(wanderer.pos.x, 20);
  EXPECT_GE(wanderer.vel.x, 29);
  EXPECT_LE(wanderer.vel.x, 31);
  wanderer.flyRandom(Ground());
  EXPECT_EQ(wanderer.vel.x, 8);
}

TEST_F(Flies, AfterItsFirstStepAFlyStaysInItsBand) {
  srand(5);
  std::list<Fly> flies = MakeFlies(16, fly1.get(), fly2.get());
  for (int tick = 0; tick < 2000; ++tick) {
    for (Fly& fly : flies) {
      fly.flyRandom(Ground());
      ASSERT_GE(fly.pos.x, 20);
      ASSERT_LE(fly.pos.x, bandRight);
      ASSERT_GE(fly.pos.y, 0);
      ASSERT_LE(fly.pos.y, bandBottom);
      // Only a fly turned round at an edge can be faster than 8 for a tick.
      if (fly.pos.x > 20 && fly.pos.x < bandRight) {
        ASSERT_LE(fly.vel.x, 8);
      }
      if (fly.pos.y > 0 && fly.pos.y < bandBottom) {
        ASSERT_LE(fly.vel.y, 8);
      }
    }
  }
}

TEST_F(Flies, TheBananasBodyIsACrescentBelowItsPivot) {
  Nana nana(banana.get(), {500, 400});
  EXPECT_FALSE(FlyHits(CentredAt(500, 400), nana)) << "at the pivot";
  EXPECT_FALSE(FlyHits(CentredAt(500, 505), nana)) << "105 from the pivot";
  EXPECT_TRUE(FlyHits(CentredAt(500, 504), nana));
  EXPECT_FALSE(FlyHits(CentredAt(500, 449), nana)) << "178 from the point 129 above the pivot";
  EXPECT_TRUE(FlyHits(CentredAt(500, 450), nana));
  EXPECT_TRUE(FlyHits(CentredAt(500, 468), nana)) << "at the sprite's centre";
  EXPECT_FALSE(FlyHits(CentredAt(604, 400), nana)) << "beside the pivot, inside the inner curve";
  EXPECT_FALSE(FlyHits(CentredAt(500, 320), nana)) << "above the pivot";
  EXPECT_TRUE(FlyHits(CentredAt(570, 470), nana));

  // Turned a quarter clockwise, the body lies to the left of the pivot.
  nana.angle = static_cast<float>(kHalfPi);
  EXPECT_TRUE(FlyHits(CentredAt(420, 400), nana));
  EXPECT_FALSE(FlyHits(CentredAt(580, 400), nana));
  EXPECT_FALSE(FlyHits(CentredAt(500, 468), nana));
}

TEST_F(Flies, OneBananaKillsTwoFliesInOneTick) {
  Player p1 = PlayerAt(500, 250);
  Player p2 = PlayerAt(200, 250);
  std::list<Fly> flies = {CentredAt(480, 325), At(800, 100), CentredAt(520, 325)};
  FlyPass(flies, p1, p2, false, 3, layer);
  ASSERT_EQ(flies.size(), 1u);
  EXPECT_GE(flies.front().pos.x, 800 - 3) << "the fly between them survives";
  EXPECT_LE(flies.front().pos.x, 800 + 3);
  EXPECT_EQ(p1.streak, 2);
  EXPECT_EQ(p1.score, 6);
  EXPECT_EQ(p2.streak, 0);
  EXPECT_EQ(p2.score, 0);
  EXPECT_GT(CountNonWhite(layer), 0);
}

TEST_F(Flies, AFlyInsideBothPlayersBananasScoresForBothWithOneSplat) {
  Player p1 = PlayerAt(500, 250);
  Player p2 = PlayerAt(500, 250);
  p1.score = 10;
  std::list<Fly> flies = {CentredAt(500, 325)};
  // One flight step and one splat: 4 + 900 draws.
  srand(9);
  for (int i = 0; i < 904; ++i) rand();
  const int next = rand();
  srand(9);
  FlyPass(flies, p1, p2, true, 4, layer);
  EXPECT_EQ(rand(), next);
  EXPECT_TRUE(flies.empty());
  EXPECT_EQ(p1.score, 14);
  EXPECT_EQ(p1.streak, 1);
  EXPECT_EQ(p2.score, 4);
  EXPECT_EQ(p2.streak, 1);

  // In a one-player game player 2's banana kills nothing.
  Player q1 = PlayerAt(200, 250);
  Player q2 = PlayerAt(500, 250);
  std::list<Fly> alone = {CentredAt(500, 325)};
  FlyPass(alone, q1, q2, false, 4, layer);
  EXPECT_EQ(alone.size(), 1u);
  EXPECT_EQ(q2.score, 0);
  EXPECT_EQ(q2.streak, 0);
}

TEST_F(Flies, ExtraBananasKillForTheirPlayerOnceAFly) {
  Player p1 = PlayerAt(100, 100);
  Player p2 = PlayerAt(900, 100);
  p1.extras.push_back(Nana(banana.get(), {500, 250}));
  p1.extras.push_back(Nana(banana.get(), {500, 250}));
  std::list<Fly> flies = {CentredAt(500, 325), CentredAt(700, 100)};
  FlyPass(flies, p1, p2, true, 2, layer);
  EXPECT_EQ(flies.size(), 1u);
  EXPECT_EQ(p1.streak, 1);
  EXPECT_EQ(p1.score, 2);
  EXPECT_EQ(p2.streak, 0);
}

TEST_F(Flies, EveryFlyMovesOnceEvenWhenOneBeforeItDies) {
  Player p1 = PlayerAt(500, 250);
  Player p2 = PlayerAt(900, 100);
  std::list<Fly> flies = {At(100, 100), CentredAt(500, 325), At(300, 100)};
  // Three flight steps and one splat.
  srand(4);
  for (int i = 0; i < 3 * 4 + 900; ++i) rand();
  const int next = rand();
  srand(4);
  FlyPass(flies, p1, p2, false, 1, layer);
  EXPECT_EQ(rand(), next);
  ASSERT_EQ(flies.size(), 2u);
  EXPECT_LT(flies.front().pos.x, 200);
  EXPECT_GT(flies.back().pos.x, 200);

  // The last fly of the list dying ends the pass cleanly.
  std::list<Fly> last = {CentredAt(500, 325)};
  FlyPass(last, p1, p2, false, 1, layer);
  EXPECT_TRUE(last.empty());
  FlyPass(last, p1, p2, false, 1, layer);
  EXPECT_TRUE(last.empty());
}

TEST_F(Flies, DrawingShowsTheSecondFrameNowAndThen) {
  BITMAP* dest = create_bitmap(SCREEN_W, SCREEN_H);
  std::list<Fly> flies = {At(100.7, 50.9), At(-0.5, 300)};
  const int white = makecol(255, 255, 255);
  int seconds = 0;
  srand(8);
  for (int frame = 0; frame < 400; ++frame) {
    const int state = rand();
    srand(state);
    const bool firstShowsSecond = rand() % 4 == 1;
    const bool otherShowsSecond = rand() % 4 == 1;
    const int after = rand();
    srand(state);
    clear_to_color(dest, white);
    DrawFlies(flies, dest);
    ASSERT_EQ(rand(), after) << "one draw per fly";
    seconds += firstShowsSecond;
    // Drawn at the truncated position, (100, 50) and (0, 300).
    const int shown = firstShowsSecond ? makecol(0, 0, 200) : getpixel(fly1.image.bitmap, 0, 0);
    EXPECT_EQ(getpixel(dest, 100, 50), shown);
    EXPECT_EQ(getpixel(dest, 99, 50), white);
    EXPECT_EQ(getpixel(dest, 100, 49), white);
    const int other = otherShowsSecond ? makecol(0, 0, 200) : getpixel(fly1.image.bitmap, 0, 0);
    EXPECT_EQ(getpixel(dest, 0, 300), other);
    srand(state + 1);
  }
  EXPECT_GT(seconds, 60);
  EXPECT_LT(seconds, 140);
  destroy_bitmap(dest);
}

}  // namespace
