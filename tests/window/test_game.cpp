// SPDX-License-Identifier: GPL-3.0-or-later
// Game play driven tick by tick and frame by frame, without the timer, in a real
// 1024 x 768 window (positions come from SCREEN_W and SCREEN_H).
#include <allegro.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "game.h"
#include "nana.h"
#include "init.h"
#include "test_support.h"
#include "util.h"

namespace {

constexpr int kBananaW = 174, kBananaH = 60;  // the banana sprite (pixels)
constexpr int kFlyW = 42, kFlyH = 38;         // a fly sprite (pixels)

class GameTest : public testing::Test {
 protected:
  void SetUp() override {
    srand(1);
    banana = MakeImage(kBananaW, kBananaH, makecol(250, 220, 60));
    fly1 = MakeImage(kFlyW, kFlyH, makecol(40, 40, 40));
    fly2 = MakeImage(kFlyW, kFlyH, makecol(60, 60, 60));
    gameImages.banana1 = gameImages.banana2 = &banana;
    gameImages.fly1 = &fly1;
    gameImages.fly2 = &fly2;
    splatter = create_bitmap(SCREEN_W, SCREEN_H);
    buffer = create_bitmap(SCREEN_W, SCREEN_H);
    for (int k = 0; k < KEY_MAX; ++k) key[k] = 0;
    mouse_b = 0;
  }
  void TearDown() override {
    for (Image* image : {&banana, &fly1, &fly2}) destroy_bitmap(image->bitmap);
    destroy_bitmap(splatter);
    destroy_bitmap(buffer);
    mouse_b = 0;
  }

  static Image MakeImage(int w, int h, int colour) {
    BITMAP* bitmap = create_bitmap(w, h);
    clear_to_color(bitmap, makecol(255, 0, 255));
    rectfill(bitmap, 2, 2, w - 3, h - 3, colour);
    return Image{bitmap, "test"};
  }

  // A banana in the air above the fly band, and a fly right under its pivot, inside
  // the crescent whatever the fly's jitter in one tick.
  Fly FlyUnder(const Nana& nana) {
    constexpr double kBelowPivot = 75;  // pixels: between 49 and 105 from the pivot
    return Fly{{nana.pos.x - 21, nana.pos.y + kBelowPivot - 19}, {0, 0}, SizeOf(&fly1), SCREEN_W, SCREEN_H};
  }
  static void Hover(Nana& nana, double x) { nana.pos = {x, 440}; }

  // A level in progress: set up, clock started, no flies unless a test adds them.
  Game StartedLevel(bool twoPlayer, int level = 1) {
    Game game(twoPlayer, splatter);
    game.level = level;
    SetUpLevel(game);
    StartLevelClock(game);
    game.flies.clear();
    return game;
  }

  // The player's banana rolling on the ground: every tick reports ground contact.
  static void Grounded(Player& player) {
    player.nana.pos = {512, static_cast<double>((SCREEN_H - kGroundMargin) - 94)};
    player.nana.state = Rolling;
  }

  // Runs ticks with the player's own banana on the ground and a streak of `streak` flies
  // waiting to be closed, until `ticks` ticks of the level have passed.
  static void ClosedStreakAtTick(Game& game, int ticks, int streak) {
    for (int t = 1; t <= ticks; ++t) {
      Grounded(game.p1);
      game.p1.streak = t == ticks ? streak : 0;
      RunTick(game);
    }
  }

  Image banana{}, fly1{}, fly2{};
  BITMAP* splatter = nullptr;
  BITMAP* buffer = nullptr;
};

TEST_F(GameTest, LevelTableGivesFliesTimeAndPoints) {
  struct Row { int level, flies, ticks, seconds; };
  const Row table[] = {{1, 5, 3300, 55},  {2, 10, 3000, 50}, {7, 35, 1500, 25}, {8, 40, 1200, 20},
                       {15, 75, 1200, 20}, {16, 80, 1200, 20}, {20, 80, 1200, 20}};
  for (const Row& row : table) {
    SCOPED_TRACE(row.level);
    Game game(false, splatter);
    game.level = row.level;
    SetUpLevel(game);
    StartLevelClock(game);
    EXPECT_EQ(static_cast<int>(game.flies.size()), row.flies);
    EXPECT_EQ(game.timeLeft, row.ticks);
    EXPECT_EQ(game.timeLeft / 60, row.seconds);

    // Each fly is worth the level's number.
    game.flies.clear();
    Hover(game.p1.nana, 512);
    game.flies.push_back(FlyUnder(game.p1.nana));
    RunTick(game);
    EXPECT_TRUE(game.flies.empty());
    EXPECT_EQ(game.p1.score, row.level);
  }
}

TEST_F(GameTest, LevelStartPlacesBananasAndClearsTheSplatterLayer) {
  clear_to_color(splatter, makecol(1, 2, 3));
  Game two(true, splatter);
  SetUpLevel(two);
  EXPECT_EQ(two.p1.nana.pos.x, 256);
  EXPECT_EQ(two.p2.nana.pos.x, 768);
  EXPECT_EQ(two.p1.nana.pos.y, 668);
  EXPECT_EQ(CountNonWhite(splatter), 0);
  Game one(false, splatter);
  SetUpLevel(one);
  EXPECT_EQ(one.p1.nana.pos.x, 512);
}

TEST_F(GameTest, TimeRunsOutAtTheFirstFrameThatStartsBelowZero) {
  Game game = StartedLevel(false);
  game.flies.push_back(Fly{{100, 100}, {0, 0}, SizeOf(&fly1), SCREEN_W, SCREEN_H});
  game.timeLeft = 1;
  RunTick(game);
  EXPECT_EQ(game.timeLeft, 0);
  EXPECT_TRUE(CheckFlies(game));  // zero is not yet below zero
  RunTick(game);
  EXPECT_FALSE(CheckFlies(game));
  EXPECT_EQ(DecideLevelEnd(game), LevelEnd::TimeUp);
}

TEST_F(GameTest, LastFlyKilledAsTimeRunsOutStillClearsTheLevel) {
  Game game = StartedLevel(false);
  Hover(game.p1.nana, 512);
  game.flies.push_back(FlyUnder(game.p1.nana));
  game.timeLeft = 0;
  ASSERT_TRUE(CheckFlies(game));
  RunTick(game);
  EXPECT_LT(game.timeLeft, 0);
  EXPECT_TRUE(game.flies.empty());
  EXPECT_FALSE(game.cleared);     // noticed only when the next frame starts
  EXPECT_TRUE(CheckFlies(game));  // that frame still runs
  EXPECT_TRUE(game.cleared);
  EXPECT_EQ(DecideLevelEnd(game), LevelEnd::Cleared);
}

TEST_F(GameTest, FrameAfterTheLastKillRunsItsTicksThenEndsTheLevel) {
  StartLogicTimer();  // the frame waits for the next tick before it ends
  Game game = StartedLevel(false);
  clear_to_color(buffer, makecol(255, 255, 255));
  logic_time = 3;  // ticks pending: the frame runs them all before drawing
  const int before = game.timeLeft;
  EXPECT_FALSE(PlayFrame(game, buffer));
  EXPECT_TRUE(game.cleared);
  EXPECT_LE(game.timeLeft, before - 3);
  EXPECT_GT(logic_time, 0);  // the frame ended on a fresh tick, left for the next frame
}

TEST_F(GameTest, FirstFrameOfLevelOneShows55Seconds) {
  Game game = StartedLevel(false);
  auto showsTime = [&](int seconds) {
    clear_to_color(buffer, makecol(255, 255, 255));
    DrawFrame(game, buffer);
    BITMAP* expected = create_bitmap(SCREEN_W, SCREEN_H);
    clear_to_color(expected, makecol(255, 255, 255));
    textprintf_centre_ex(expected, Font(), SCREEN_W / 2, 50, makecol(0, 0, 0), -1, "Time Left: %d",
                         seconds);
    bool same = true;
    for (int y = 50; y < 50 + text_height(Font()) && same; ++y)
      for (int x = 300; x < 700 && same; ++x) same = getpixel(buffer, x, y) == getpixel(expected, x, y);
    destroy_bitmap(expected);
    return same;
  };
  EXPECT_TRUE(showsTime(55));
  RunTick(game);
  EXPECT_TRUE(showsTime(54));  // 3299 ticks: the display truncates
  game.timeLeft = 59;
  EXPECT_TRUE(showsTime(0));  // the last partial second
  game.timeLeft = -1;
  EXPECT_TRUE(showsTime(0));
}

TEST_F(GameTest, QuitWhenNeitherClearedNorOutOfTime) {
  Game game = StartedLevel(false);
  game.flies.push_back(Fly{{100, 100}, {0, 0}, SizeOf(&fly1), SCREEN_W, SCREEN_H});
  EXPECT_EQ(DecideLevelEnd(game), LevelEnd::Quit);
}

TEST_F(GameTest, StreaksSetOffCrazyModeWithMoreExtrasForLongerStreaks) {
  struct Case { int streak, extras; };
  for (Case c : {Case{4, 4}, Case{5, 4}, Case{6, 5}, Case{8, 5}, Case{9, 6}, Case{11, 6}}) {
    SCOPED_TRACE(c.streak);
    Game game = StartedLevel(false);
    ClosedStreakAtTick(game, 180, c.streak);
    EXPECT_EQ(game.p1.crazy, 600);
    EXPECT_EQ(static_cast<int>(game.p1.extras.size()), c.extras);
    EXPECT_EQ(game.p1.streak, 0);
  }
}

TEST_F(GameTest, StreakOfThreeSetsOffNothing) {
  Game game = StartedLevel(false);
  ClosedStreakAtTick(game, 200, 3);
  EXPECT_TRUE(game.p1.extras.empty());
  EXPECT_LE(game.p1.crazy, 0);
  EXPECT_EQ(game.p1.streak, 0);
}

TEST_F(GameTest, NoCrazyModeInTheFirst179TicksOfALevelAndTheStreakIsLost) {
  Game game = StartedLevel(false);
  ClosedStreakAtTick(game, 179, 4);
  EXPECT_TRUE(game.p1.extras.empty());
  EXPECT_EQ(game.p1.crazy, -179);
  EXPECT_EQ(game.p1.streak, 0);
}

TEST_F(GameTest, NoNewCrazyModeUntil180TicksAfterTheLastOneEnded) {
  Game game = StartedLevel(false);
  ClosedStreakAtTick(game, 180, 4);
  ASSERT_EQ(game.p1.crazy, 600);

  // While it lasts, closed streaks change nothing.
  ClosedStreakAtTick(game, 300, 7);
  EXPECT_EQ(game.p1.crazy, 300);
  EXPECT_EQ(game.p1.extras.size(), 4u);

  // The extras go when the countdown reaches zero.
  ClosedStreakAtTick(game, 299, 0);
  EXPECT_EQ(game.p1.extras.size(), 4u);
  ClosedStreakAtTick(game, 1, 0);
  EXPECT_EQ(game.p1.crazy, 0);
  EXPECT_TRUE(game.p1.extras.empty());

  // 179 ticks later a streak is still refused; at the 180th it starts a new one.
  ClosedStreakAtTick(game, 179, 4);
  EXPECT_TRUE(game.p1.extras.empty());
  ClosedStreakAtTick(game, 1, 4);
  EXPECT_EQ(game.p1.crazy, 600);
  EXPECT_EQ(game.p1.extras.size(), 4u);
}

TEST_F(GameTest, ExtraBananasKillForTheirPlayer) {
  Game game = StartedLevel(false);
  ClosedStreakAtTick(game, 180, 4);
  ASSERT_FALSE(game.p1.extras.empty());
  Nana& extra = game.p1.extras.back();
  Hover(extra, 300);
  extra.vel = {0, 0};
  extra.spin = 0;
  extra.angle = 0;
  game.p1.nana.pos = {800, 300};  // far away from the fly
  game.flies.push_back(FlyUnder(extra));
  RunTick(game);
  EXPECT_TRUE(game.flies.empty());
  EXPECT_EQ(game.p1.score, 1);
  EXPECT_EQ(game.p1.streak, 1);
}

TEST_F(GameTest, FlyHitByBothPlayersScoresForBothAndLeavesOneSplat) {
  Game game = StartedLevel(true, 3);
  Hover(game.p1.nana, 512);
  Hover(game.p2.nana, 512);
  game.flies.push_back(FlyUnder(game.p1.nana));
  RunTick(game);
  EXPECT_TRUE(game.flies.empty());
  EXPECT_EQ(game.p1.score, 3);
  EXPECT_EQ(game.p2.score, 3);
  EXPECT_EQ(game.p1.streak, 1);
  EXPECT_EQ(game.p2.streak, 1);
  const int dots = CountNonWhite(splatter);
  EXPECT_GT(dots, 0);
  EXPECT_LE(dots, 150);  // one splat of 150 dots, some of them on the same pixel
}

TEST_F(GameTest, ControlsFollowTheKeysAndTheMouseButtons) {
  key[KEY_RIGHT] = 1;
  EXPECT_EQ(ReadControls(1).turn, 1);
  key[KEY_A] = 1;
  EXPECT_EQ(ReadControls(1).turn, 0);
  key[KEY_RIGHT] = 0;
  EXPECT_EQ(ReadControls(1).turn, -1);
  key[KEY_A] = 0;
  for (int squashKey : {KEY_SPACE, KEY_DOWN, KEY_S}) {
    key[squashKey] = 1;
    EXPECT_TRUE(ReadControls(1).squash);
    key[squashKey] = 0;
  }
  EXPECT_FALSE(ReadControls(1).squash);

  mouse_b = 1;
  EXPECT_EQ(ReadControls(2).turn, -1);
  EXPECT_FALSE(ReadControls(2).squash);
  mouse_b = 2;
  EXPECT_EQ(ReadControls(2).turn, 1);
  mouse_b = 3;  // both buttons squash and cannot turn
  EXPECT_EQ(ReadControls(2).turn, 0);
  EXPECT_TRUE(ReadControls(2).squash);
}

TEST_F(GameTest, OnePlayerGameIgnoresTheMouse) {
  Game game = StartedLevel(false);
  const Vec2<double> start = game.p2.nana.pos;
  mouse_b = 3;
  for (int t = 0; t < 30; ++t) RunTick(game);
  EXPECT_EQ(game.p2.nana.pos.x, start.x);
  EXPECT_EQ(game.p2.nana.pos.y, start.y);
  EXPECT_EQ(game.p2.crazy, -30);  // still counts down, unseen

  // Nothing of player 2 is drawn.
  clear_to_color(buffer, makecol(255, 255, 255));
  DrawFrame(game, buffer);
  const int th = text_height(Font());
  for (int y = 100; y < 100 + th; ++y)
    for (int x = SCREEN_W - 300; x < SCREEN_W - 20; ++x)
      ASSERT_EQ(getpixel(buffer, x, y), makecol(255, 255, 255)) << x << "," << y;
}

TEST_F(GameTest, FrameIsFramedByABlackFloorAndWalls) {
  Game game = StartedLevel(false);
  clear_to_color(buffer, makecol(255, 255, 255));
  DrawFrame(game, buffer);
  const int black = makecol(0, 0, 0);
  EXPECT_EQ(getpixel(buffer, 512, 747), black);   // floor from SCREEN_H - 21
  EXPECT_NE(getpixel(buffer, 512, 746), black);
  EXPECT_EQ(getpixel(buffer, 20, 300), black);    // left wall to x = 20
  EXPECT_NE(getpixel(buffer, 21, 300), black);
  EXPECT_EQ(getpixel(buffer, 1004, 300), black);  // right wall from SCREEN_W - 20
  EXPECT_NE(getpixel(buffer, 1003, 300), black);
}

TEST_F(GameTest, CrazyTextShowsOnlyWhileItLasts) {
  auto redPixels = [&](const Game& game) {
    clear_to_color(buffer, makecol(255, 255, 255));
    DrawFrame(game, buffer);
    int count = 0;
    for (int y = SCREEN_H / 2 - 5; y < SCREEN_H / 2 + 40; ++y)
      for (int x = 400; x < 624; ++x) count += getpixel(buffer, x, y) == makecol(255, 0, 0);
    return count;
  };
  Game game = StartedLevel(false);
  game.p1.crazy = 0;
  EXPECT_EQ(redPixels(game), 0);
  game.p1.crazy = 1;
  EXPECT_GT(redPixels(game), 0);
}

}  // namespace
