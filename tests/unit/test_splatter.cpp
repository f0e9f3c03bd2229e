// SPDX-License-Identifier: GPL-3.0-or-later
// The splat a killed fly leaves behind.
#include <allegro.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <map>
#include <utility>

#include "splatter.h"

namespace {

// The value rand() gives after `calls` further calls from seed `seed`.
int RandAfter(unsigned seed, int calls) {
  srand(seed);
  for (int i = 0; i < calls; ++i) rand();
  return rand();
}

// The dots a splat from seed `seed` should paint: pixel -> colour components.
using Dots = std::map<std::pair<int, int>, std::pair<int, int>>;  // (x, y) -> (red, green)
Dots ExpectedDots(unsigned seed, double cx, double cy) {
  srand(seed);
  Dots dots;
  for (int i = 0; i < 150; ++i) {
    const int a = rand() % 10;
    const int b = rand() % 10;
    const int c = rand() % 10;
    const double d = a + b + c;
    const double angle = (rand() % 360) * 3.14159 / 180.0;
    const int green = 155 + rand() % 100;
    const int red = rand() % 100;
    dots[{static_cast<int>(cx + d * std::cos(angle)), static_cast<int>(cy + d * std::sin(angle))}] = {red, green};
  }
  return dots;
}

class Splat : public testing::Test {
 protected:
  void SetUp() override {
    target = create_bitmap(200, 160);
    white = makecol(255, 255, 255);
    clear_to_color(target, white);
  }
  void TearDown() override { destroy_bitmap(target); }

  Dots Painted() const {
    Dots dots;
    for (int y = 0; y < target->h; ++y) {
      for (int x = 0; x < target->w; ++x) {
        const int colour = getpixel(target, x, y);
        if (colour != white) dots[{x, y}] = {getr(colour), getg(colour)};
      }
    }
    return dots;
  }

  BITMAP* target = nullptr;
  int white = 0;
};

TEST_F(Splat, TakesExactlyNineHundredRandomNumbers) {
  const int expected = RandAfter(1, 900);
  srand(1);
  Splatter(target, {100, 80});
  EXPECT_EQ(rand(), expected);

  const int afterNull = RandAfter(5, 900);
  srand(5);
  Splatter(nullptr, {100, 80});
  EXPECT_EQ(rand(), afterNull) << "a missing target still takes its draws";
}

TEST_F(Splat, PaintsOneHundredAndFiftyGreenYellowDotsWhereTheDrawsPutThem) {
  const Dots expected = ExpectedDots(1, 100.25, 80.75);
  srand(1);
  Splatter(target, {100.25, 80.75});
  const Dots painted = Painted();
  ASSERT_EQ(painted.size(), expected.size());
  for (const auto& [at, colour] : expected) {
    auto found = painted.find(at);
    ASSERT_NE(found, painted.end()) << "no dot at " << at.first << ", " << at.second;
    // 16-bit pixels keep the top 5 bits of red and 6 of green.
    EXPECT_EQ(found->second.first >> 3, colour.first >> 3);
    EXPECT_EQ(found->second.second >> 2, colour.second >> 2);
  }
  for (int y = 0; y < target->h; ++y) {
    for (int x = 0; x < target->w; ++x) {
      const int colour = getpixel(target, x, y);
      if (colour == white) continue;
      EXPECT_EQ(getb(colour), 0);
      EXPECT_GE(getg(colour), 152);
      EXPECT_LT(getr(colour), 100);
    }
  }
}

TEST_F(Splat, EveryDotLiesWithinTwentySevenPixels) {
  for (unsigned seed = 1; seed <= 20; ++seed) {
    clear_to_color(target, white);
    srand(seed);
    Splatter(target, {100.5, 80.5});
    const Dots painted = Painted();
    EXPECT_GT(painted.size(), 60u);
    EXPECT_LE(painted.size(), 150u);
    for (const auto& [at, colour] : painted) {
      // The nearest point of the pixel's square to the centre.
      const double nx = std::clamp(100.5, 1.0 * at.first, at.first + 1.0);
      const double ny = std::clamp(80.5, 1.0 * at.second, at.second + 1.0);
      EXPECT_LE(std::hypot(nx - 100.5, ny - 80.5), 27.0) << at.first << ", " << at.second;
    }
  }
}

TEST_F(Splat, IsClippedAtTheEdgesNotWrapped) {
  const Dots expected = ExpectedDots(3, -0.5, 2.5);
  srand(3);
  Splatter(target, {-0.5, 2.5});
  const Dots painted = Painted();
  size_t inside = 0;
  for (const auto& [at, colour] : expected) {
    if (at.first >= 0 && at.second >= 0) {
      ++inside;
      EXPECT_TRUE(painted.count(at)) << at.first << ", " << at.second;
    }
  }
  EXPECT_EQ(painted.size(), inside);
  EXPECT_LT(inside, expected.size()) << "some dots fell off the edge";
  // Dots between -1 and 0 truncate into column 0.
  EXPECT_TRUE(std::any_of(painted.begin(), painted.end(), [](const auto& dot) { return dot.first.first == 0; }));
  for (const auto& [at, colour] : painted) {
    EXPECT_LE(at.first, 27);
    EXPECT_LE(at.second, 30);
  }
}

TEST_F(Splat, ASecondSplatAddsDotsAndErasesNothing) {
  const int red = makecol(255, 0, 0);
  putpixel(target, 5, 5, red);
  srand(1);
  Splatter(target, {100, 80});
  const Dots first = Painted();
  srand(2);
  Splatter(target, {100, 80});
  const Dots both = Painted();
  EXPECT_GT(both.size(), first.size());
  for (const auto& [at, colour] : first) EXPECT_TRUE(both.count(at));
  EXPECT_EQ(getpixel(target, 5, 5), red);
}

}  // namespace
