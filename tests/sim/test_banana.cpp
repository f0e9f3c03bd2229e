// The banana's body stepped tick by tick in a 1024 x 768 play area, headless.
#include <gtest/gtest.h>

#include <cmath>

#include "sim/banana.h"
#include "sim_fixtures.h"

namespace {

int Ground() { return kAreaH - 20; }

// Drops a banana held at `angle` from mid-air and steps it with no input until it
// lies upside down; fails the test if it never does.
void SettleUpsideDown(Nana& nana) {
  for (int tick = 0; tick < 300 && nana.state != UpsideDown; ++tick) nana.DoPhysics(0, false, Ground());
  ASSERT_EQ(nana.state, UpsideDown);
}

class NanaPhysics : public testing::Test {
 protected:
  const int ground = Ground();
};

TEST_F(NanaPhysics, FallsAtPointFourPerTickUpToTwentyAndLandsOnItsBack) {
  Nana nana(kBananaSprite, {512, -600});
  bool landed = false;
  for (int tick = 0; tick < 400 && !landed; ++tick) {
    const double before = nana.pos.y;
    const double speed = nana.vel.y;
    const double expectedSpeed = speed < 20 ? speed + 0.4 : speed;
    // At angle 0 the box's lowest corners lie 68 + 60/2 below the pivot.
    const double lowest = before + expectedSpeed + 68 + kTestNanaH / 2;
    ASSERT_GT(std::fabs(lowest - ground), 0.01) << "the landing tick would be ambiguous";
    const int state = nana.DoPhysics(0, false, ground);
    if (lowest < ground) {
      ASSERT_EQ(state, Airborne) << "tick " << tick;
      EXPECT_NEAR(nana.vel.y, expectedSpeed, 1e-9);
      EXPECT_LE(nana.vel.y, 20.4 + 1e-9);
      EXPECT_NEAR(nana.pos.y, before + expectedSpeed, 1e-9);
      EXPECT_EQ(nana.pos.x, 512);
      EXPECT_EQ(nana.angle, 0.0f);
    } else {
      EXPECT_EQ(state, Rolling) << "tick " << tick;
      EXPECT_EQ(nana.state, Rolling);
      EXPECT_EQ(nana.pos.y, ground - 94);
      landed = true;
    }
  }
  EXPECT_TRUE(landed);
  EXPECT_GE(nana.vel.y, 20 * 0.99 - 1e-9) << "it reached its top speed before landing";
}

TEST_F(NanaPhysics, SpinIsLimitedBeforeItIsDamped) {
  Nana nana(kBananaSprite, {512, -100000});
  nana.spin = 1.0f;
  nana.DoPhysics(0, false, ground);
  EXPECT_NEAR(nana.spin, 0.297, 1e-6);
  nana.spin = -1.0f;
  nana.DoPhysics(-1, false, ground);
  EXPECT_NEAR(nana.spin, -0.297, 1e-6);

  // Holding a turn control in the air drives the spin up to 0.297, never beyond.
  nana.spin = 0;
  float previous = 0;
  for (int tick = 0; tick < 2500; ++tick) {
    nana.DoPhysics(+1, false, ground);
    ASSERT_LE(nana.spin, 0.297 + 1e-6);
    ASSERT_GE(nana.spin, previous);
    previous = nana.spin;
  }
  EXPECT_NEAR(nana.spin, 0.297, 1e-5);
  EXPECT_EQ(nana.state, Airborne);
  // Spinning in flight turns it about its centre, which stays where it was.
  EXPECT_NEAR(nana.pos.x - 68 * std::sin(nana.angle), 512, 1e-2);
}

TEST_F(NanaPhysics, RollingMovesThePivotNinetyFivePixelsPerRadianAndRocksBackUpright) {
  Nana nana(kBananaSprite, {400, static_cast<double>(ground - 100)});
  while (nana.DoPhysics(0, false, ground) != Rolling) ASSERT_LT(nana.pos.y, ground);
  for (int tick = 0; tick < 30; ++tick) {
    const double before = nana.pos.x;
    ASSERT_EQ(nana.DoPhysics(+1, false, ground), Rolling);
    EXPECT_NEAR(nana.pos.x - before, 95 * nana.spin, 1e-4);
    EXPECT_EQ(nana.pos.y, ground - 94);
  }
  EXPECT_GT(nana.angle, 0.05f);

  // Let go: it rocks to and fro about upright and comes to rest there.
  bool crossedUpright = false;
  for (int tick = 0; tick < 1200; ++tick) {
    const float before = nana.angle;
    ASSERT_EQ(nana.DoPhysics(0, false, ground), Rolling);
    if ((before > 0) != (nana.angle > 0)) crossedUpright = true;
  }
  EXPECT_TRUE(crossedUpright);
  EXPECT_LT(std::fabs(nana.angle), 0.01f);
  EXPECT_LT(std::fabs(nana.spin), 0.001f);
}

TEST_F(NanaPhysics, RightWallReversesOnlyWhatPointsIntoItAndPushesBackByTheSmallerOverrun) {
  const double wall = kAreaW - 20;
  // Upright, the box's corners (87 to the side) overrun less than the back (95).
  Nana nana(kBananaSprite, {wall - 87 + 3, 300});
  nana.vel = {5, 0};
  nana.spin = 0.1f;
  nana.DoPhysics(0, false, ground);
  const float spin = static_cast<float>(0.1f * 0.99) * -1.2;
  EXPECT_FLOAT_EQ(nana.spin, spin);
  EXPECT_DOUBLE_EQ(nana.vel.x, 5 * -1.1);
  // Pushed back 3, then the flight: -5.5 across and a turn about the centre.
  const double turned = 68 * std::sin(spin);
  EXPECT_NEAR(nana.pos.x, wall - 87 - 5.5 + turned, 1e-3);

  // Moving and turning away from the wall: nothing reverses, the push-back remains.
  Nana leaving(kBananaSprite, {wall - 87 + 3, 300});
  leaving.vel = {-2, 0};
  leaving.spin = -0.1f;
  leaving.DoPhysics(0, false, ground);
  EXPECT_DOUBLE_EQ(leaving.vel.x, -2);
  EXPECT_FLOAT_EQ(leaving.spin, static_cast<float>(-0.1f * 0.99));
  EXPECT_NEAR(leaving.pos.x, wall - 87 - 2 + 68 * std::sin(leaving.spin), 1e-3);

  // Lying on its side with the centre towards the wall, a corner sticks out 98 px,
  // beyond the back: the back's smaller overrun is the push-back.
  Nana side(kBananaSprite, {wall - 95 + 2, 300});
  side.angle = static_cast<float>(-kHalfPi);
  ASSERT_TRUE(side.hitSide(20, +1));
  EXPECT_NEAR(side.wallOverlap, 2, 1e-5);
  side.DoPhysics(0, false, ground);
  EXPECT_NEAR(side.pos.x, wall - 95, 1e-5);
}

TEST_F(NanaPhysics, LeftWallPushesTheBananaBackToTheRight) {
  Nana nana(kBananaSprite, {20 + 87 - 4, 300});
  ASSERT_TRUE(nana.hitSide(20, -1));
  EXPECT_NEAR(nana.wallOverlap, -4, 1e-4);
  EXPECT_FALSE(nana.hitSide(20, +1));
  nana.vel = {-3, 0};
  nana.DoPhysics(0, false, ground);
  EXPECT_DOUBLE_EQ(nana.vel.x, 3.3);
  EXPECT_NEAR(nana.pos.x, 20 + 87 + 3.3, 1e-3);

  // The back's outermost point exactly on the wall line is no contact.
  Nana touching(kBananaSprite, {20 + 95, 300});
  touching.angle = static_cast<float>(kHalfPi);  // the box's corner would be 98 out
  EXPECT_FALSE(touching.hitSide(20, -1));
}

TEST_F(NanaPhysics, HitGroundNeedsTheBackBelowTheLineAndALowCorner) {
  Nana nana(kBananaSprite, {512, static_cast<double>(ground - 95)});
  EXPECT_FALSE(nana.hitGround(ground)) << "P.y + 95 equal to the ground is no contact";
  nana.pos.y = ground - 94;
  EXPECT_TRUE(nana.hitGround(ground));
  // On its side the box reaches only 87 below the pivot.
  nana.angle = static_cast<float>(kHalfPi);
  nana.pos.y = ground - 90;
  EXPECT_FALSE(nana.hitGround(ground));
  nana.pos.y = ground - 86;
  EXPECT_TRUE(nana.hitGround(ground));
}

TEST_F(NanaPhysics, LandingNearlyUpsideDownSettlesOnBothTips) {
  Nana nana(kBananaSprite, {512, 500});
  nana.angle = 3.0f;
  bool tipped = false;
  for (int tick = 0; tick < 300 && nana.state != UpsideDown; ++tick) {
    if (nana.DoPhysics(0, false, ground) == Tipping) tipped = true;
  }
  ASSERT_EQ(nana.state, UpsideDown);
  EXPECT_TRUE(tipped) << "it turned over a tip before lying flat";
  EXPECT_EQ(nana.angle, 3.14159f);
  EXPECT_EQ(nana.spin, 0.0f);
  EXPECT_EQ(nana.pos.y, ground - kTestNanaH + 98);
  // The tips, 68 - 30 above the pivot at half a turn, lie on the ground line.
  EXPECT_NEAR(nana.pos.y - 68 + 30, ground, 1e-3);

  const Vec2<double> rest = nana.pos;
  for (int tick = 0; tick < 100; ++tick) ASSERT_EQ(nana.DoPhysics(0, false, ground), UpsideDown);
  EXPECT_EQ(nana.pos.x, rest.x);
  EXPECT_EQ(nana.pos.y, rest.y);
}

TEST_F(NanaPhysics, SquashingFollowsItsCurveAndReleaseJumps) {
  for (int held : {1, 2, 10, 40, 150}) {
    Nana nana(kBananaSprite, {512, 500});
    nana.angle = 3.0f;
    SettleUpsideDown(nana);
    for (int tick = 0; tick < held; ++tick) ASSERT_EQ(nana.DoPhysics(0, true, ground), UpsideDown);
    const double expected = 0.5 + 0.5 * std::pow(0.96, held);
    EXPECT_NEAR(nana.squash, expected, 1e-5) << held << " ticks";
    EXPECT_GT(nana.squash, 0.5f);
    const float squash = nana.squash;
    const double before = nana.pos.y;
    EXPECT_EQ(nana.DoPhysics(0, false, ground), Airborne);
    EXPECT_DOUBLE_EQ(nana.vel.y, -46 * (1 - static_cast<double>(squash)));
    EXPECT_EQ(nana.squash, 1.0f);
    EXPECT_DOUBLE_EQ(nana.pos.y, before + nana.vel.y);
  }
}

TEST_F(NanaPhysics, ATapOfTheSquashControlGivesASmallHop) {
  Nana nana(kBananaSprite, {512, 500});
  nana.angle = 3.0f;
  SettleUpsideDown(nana);
  nana.DoPhysics(0, true, ground);
  EXPECT_NEAR(nana.squash, 0.98, 1e-6);
  EXPECT_EQ(nana.DoPhysics(0, false, ground), Airborne);
  EXPECT_NEAR(nana.vel.y, -0.92, 1e-5);
  // A hop gathered with the turn control held shows as a somersault afterwards.
  Nana turning(kBananaSprite, {512, 500});
  turning.angle = 3.0f;
  SettleUpsideDown(turning);
  for (int tick = 0; tick < 20; ++tick) turning.DoPhysics(+1, true, ground);
  EXPECT_EQ(turning.angle, 3.14159f);
  EXPECT_GT(turning.spin, 0.05f);
  ASSERT_EQ(turning.DoPhysics(+1, false, ground), Airborne);
  EXPECT_EQ(turning.angle, 3.14159f);
  const float spin = turning.spin;
  turning.DoPhysics(0, false, ground);
  EXPECT_NEAR(turning.angle, 3.14159f + static_cast<float>(spin * 0.99), 1e-5);
}

TEST_F(NanaPhysics, UpsideDownItStopsDeadWhenSlowAndSlidesWhenFast) {
  Nana nana(kBananaSprite, {512, 500});
  nana.angle = 3.0f;
  SettleUpsideDown(nana);
  nana.vel = {0.9, 0};
  double x = nana.pos.x;
  nana.DoPhysics(0, false, ground);
  EXPECT_EQ(nana.vel.x, 0);
  EXPECT_EQ(nana.pos.x, x);

  nana.vel = {-3, 0};
  nana.DoPhysics(0, false, ground);
  EXPECT_DOUBLE_EQ(nana.vel.x, -3 * 0.99);
  EXPECT_DOUBLE_EQ(nana.pos.x, x - 2.97);
  EXPECT_EQ(nana.state, UpsideDown);
}

TEST_F(NanaPhysics, AScriptedRunKeepsTheBananaSane) {
  Nana nana(kBananaSprite, {300, 600});
  bool seen[4] = {false, false, false, false};
  int wallContacts = 0;
  for (int tick = 0; tick < 1500; ++tick) {
    // A player who rocks the banana ever harder (turning with its swing), so that it
    // tumbles, flies and hits the walls, then squashes while turning, then lets go.
    const int phase = (tick / 100) % 5;
    int turn = 0;
    if (phase <= 2) turn = nana.spin > 0 ? +1 : -1;
    if (phase == 3) turn = +1;
    const bool squashKey = phase == 3;

    // Where a tick starts against a wall, its push-back leaves the banana clear of it.
    Nana probe = nana;
    const bool right = probe.hitSide(20, +1);
    if (right || probe.hitSide(20, -1)) {
      ++wallContacts;
      probe.pos.x -= probe.wallOverlap;
      const bool still = probe.hitSide(20, right ? +1 : -1);
      ASSERT_TRUE(!still || std::fabs(probe.wallOverlap) < 1e-3) << "tick " << tick;
    }

    const int state = nana.DoPhysics(turn, squashKey, ground);
    ASSERT_GE(state, 0) << "tick " << tick;
    ASSERT_LE(state, 3) << "tick " << tick;
    ASSERT_EQ(state, nana.state);
    seen[state] = true;
    ASSERT_GE(nana.squash, 0.5f) << "tick " << tick;
    ASSERT_LE(nana.squash, 1.0f) << "tick " << tick;
    ASSERT_TRUE(std::isfinite(nana.pos.x) && std::isfinite(nana.pos.y)) << "tick " << tick;
    ASSERT_TRUE(std::isfinite(nana.vel.x) && std::isfinite(nana.vel.y)) << "tick " << tick;
    ASSERT_TRUE(std::isfinite(nana.angle) && std::isfinite(nana.spin)) << "tick " << tick;
    // The walls keep it in play (its pivot lies outside its body, on the inner side of
    // its curve, so only the body is held between the wall lines).
    ASSERT_GT(nana.pos.x, -95) << "tick " << tick;
    ASSERT_LT(nana.pos.x, kAreaW + 95) << "tick " << tick;
    ASSERT_LT(nana.pos.y, ground + 100) << "tick " << tick;
  }
  for (int state = 0; state < 4; ++state) EXPECT_TRUE(seen[state]) << "state " << state << " never reached";
  EXPECT_GT(wallContacts, 0);
}

}  // namespace
