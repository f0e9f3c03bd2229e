// Fruit flies in a 1024 x 768 play area, headless: their band, the crescent hit test,
// the fly pass.
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "sim/flies.h"
#include "sim/game.h"
#include "sim_fixtures.h"

namespace {

int Ground() { return kAreaH - 20; }

class Flies : public testing::Test {
 protected:
  static Fly At(double x, double y, double vx = 0, double vy = 0) {
    return Fly{{x, y}, {vx, vy}, kFlySprite, kAreaW, kAreaH};
  }
  static Player PlayerAt(double x, double y) {
    Player player;
    player.nana = Nana(kBananaSprite, {x, y});
    return player;
  }
  // A fly whose centre lies at (x, y).
  static Fly CentredAt(double x, double y) { return At(x - 21, y - 19); }

  // One fly pass of a game with these players and flies, on `level`.
  TickEvents Pass(std::vector<Fly>& flies, Player& p1, Player& p2, bool twoPlayer, int level) {
    GameState game(twoPlayer, PlayArea{}, kBananaSprite, kFlySprite);
    game.p1 = p1;
    game.p2 = p2;
    game.flies = flies;
    game.level = level;
    TickEvents events;
    FlyPass(game, events);
    flies = game.flies;
    p1 = game.p1;
    p2 = game.p2;
    splats = game.splats.size();
    return events;
  }

  size_t splats = 0;  // splats the last pass left
  // The lowest top edge of a fly: 200 above the ground line, less its height.
  const int bandBottom = Ground() - kTestFlyH - 200;
  const int bandRight = kAreaW - kTestFlyW - 20;
};

TEST_F(Flies, ALevelStartsWithFivePerLevelUpToEighty) {
  EXPECT_EQ(MakeFlies(1, kFlySprite, kAreaW, kAreaH).size(), 5u);
  EXPECT_EQ(MakeFlies(3, kFlySprite, kAreaW, kAreaH).size(), 15u);
  EXPECT_EQ(MakeFlies(15, kFlySprite, kAreaW, kAreaH).size(), 75u);
  EXPECT_EQ(MakeFlies(16, kFlySprite, kAreaW, kAreaH).size(), 80u);
  EXPECT_EQ(MakeFlies(40, kFlySprite, kAreaW, kAreaH).size(), 80u);

  srand(11);
  const int x1 = rand(), y1 = rand(), x2 = rand(), y2 = rand();
  srand(11);
  const std::vector<Fly> flies = MakeFlies(2, kFlySprite, kAreaW, kAreaH);
  auto it = flies.begin();
  EXPECT_EQ(it->pos.x, x1 % 1024);
  EXPECT_EQ(it->pos.y, y1 % 768);
  EXPECT_EQ(it->vel.x, 0);
  EXPECT_EQ(it->vel.y, 0);
  EXPECT_EQ(it->size.w, kTestFlyW);
  EXPECT_EQ(it->size.h, kTestFlyH);
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
  std::vector<Fly> flies = MakeFlies(16, kFlySprite, kAreaW, kAreaH);
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
  Nana nana(kBananaSprite, {500, 400});
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
  std::vector<Fly> flies = {CentredAt(480, 325), At(800, 100), CentredAt(520, 325)};
  Pass(flies, p1, p2, false, 3);
  ASSERT_EQ(flies.size(), 1u);
  EXPECT_GE(flies.front().pos.x, 800 - 3) << "the fly between them survives";
  EXPECT_LE(flies.front().pos.x, 800 + 3);
  EXPECT_EQ(p1.streak, 2);
  EXPECT_EQ(p1.score, 6);
  EXPECT_EQ(p2.streak, 0);
  EXPECT_EQ(p2.score, 0);
  EXPECT_EQ(splats, 2u) << "a splat for each kill";
}

TEST_F(Flies, AFlyInsideBothPlayersBananasScoresForBothWithOneSplat) {
  Player p1 = PlayerAt(500, 250);
  Player p2 = PlayerAt(500, 250);
  p1.score = 10;
  std::vector<Fly> flies = {CentredAt(500, 325)};
  // One flight step and one splat: 4 + 900 draws.
  srand(9);
  for (int i = 0; i < 904; ++i) rand();
  const int next = rand();
  srand(9);
  Pass(flies, p1, p2, true, 4);
  EXPECT_EQ(rand(), next);
  EXPECT_TRUE(flies.empty());
  EXPECT_EQ(p1.score, 14);
  EXPECT_EQ(p1.streak, 1);
  EXPECT_EQ(p2.score, 4);
  EXPECT_EQ(p2.streak, 1);
  EXPECT_EQ(splats, 1u);

  // In a one-player game player 2's banana kills nothing.
  Player q1 = PlayerAt(200, 250);
  Player q2 = PlayerAt(500, 250);
  std::vector<Fly> alone = {CentredAt(500, 325)};
  Pass(alone, q1, q2, false, 4);
  EXPECT_EQ(alone.size(), 1u);
  EXPECT_EQ(q2.score, 0);
  EXPECT_EQ(q2.streak, 0);
}

TEST_F(Flies, ExtraBananasKillForTheirPlayerOnceAFly) {
  Player p1 = PlayerAt(100, 100);
  Player p2 = PlayerAt(900, 100);
  p1.extras.push_back(Nana(kBananaSprite, {500, 250}));
  p1.extras.push_back(Nana(kBananaSprite, {500, 250}));
  std::vector<Fly> flies = {CentredAt(500, 325), CentredAt(700, 100)};
  Pass(flies, p1, p2, true, 2);
  EXPECT_EQ(flies.size(), 1u);
  EXPECT_EQ(p1.streak, 1);
  EXPECT_EQ(p1.score, 2);
  EXPECT_EQ(p2.streak, 0);
}

TEST_F(Flies, EveryFlyMovesOnceEvenWhenOneBeforeItDies) {
  Player p1 = PlayerAt(500, 250);
  Player p2 = PlayerAt(900, 100);
  std::vector<Fly> flies = {At(100, 100), CentredAt(500, 325), At(300, 100)};
  // Three flight steps and one splat.
  srand(4);
  for (int i = 0; i < 3 * 4 + 900; ++i) rand();
  const int next = rand();
  srand(4);
  Pass(flies, p1, p2, false, 1);
  EXPECT_EQ(rand(), next);
  ASSERT_EQ(flies.size(), 2u);
  EXPECT_LT(flies.front().pos.x, 200);
  EXPECT_GT(flies.back().pos.x, 200);

  // The last fly of the list dying ends the pass cleanly.
  std::vector<Fly> last = {CentredAt(500, 325)};
  Pass(last, p1, p2, false, 1);
  EXPECT_TRUE(last.empty());
  Pass(last, p1, p2, false, 1);
  EXPECT_TRUE(last.empty());
}

}  // namespace
