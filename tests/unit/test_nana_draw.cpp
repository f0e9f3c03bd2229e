// Where a banana lands on the screen, drawn into memory bitmaps.
#include <allegro.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "nana.h"
#include "test_sprites.h"

namespace {

constexpr int kW = kTestNanaW;
constexpr int kH = kTestNanaH;

class NanaDrawing : public testing::Test {
 protected:
  void SetUp() override {
    dest = create_bitmap(640, 480);
    background = makecol(255, 255, 255);
    clear_to_color(dest, background);
  }
  void TearDown() override {
    destroy_bitmap(dest);
    if (flipped != nullptr) destroy_bitmap(flipped);
  }
  void Draw(const Nana& nana) { DrawNana(nana, sprite.image.bitmap, flipped, dest); }

  // The box of every pixel that differs from the background (inclusive), or false.
  bool DrawnBox(int& left, int& top, int& right, int& bottom) const {
    left = top = 1 << 20;
    right = bottom = -1;
    for (int y = 0; y < dest->h; ++y) {
      for (int x = 0; x < dest->w; ++x) {
        if (getpixel(dest, x, y) == background) continue;
        left = std::min(left, x);
        right = std::max(right, x);
        top = std::min(top, y);
        bottom = std::max(bottom, y);
      }
    }
    return right >= 0;
  }

  // Whether `from` appears unturned with its top-left corner at (x, y).
  ::testing::AssertionResult ShowsAt(BITMAP* from, int x, int y) const {
    for (int j = 0; j < from->h; ++j) {
      for (int i = 0; i < from->w; ++i) {
        if (getpixel(dest, x + i, y + j) != getpixel(from, i, j)) {
          return ::testing::AssertionFailure() << "pixel (" << i << ", " << j << ") differs";
        }
      }
    }
    return ::testing::AssertionSuccess();
  }

  TestSprite sprite{kW, kH, "banana_sm1.bmp"};
  const SpriteSize size{kW, kH};
  BITMAP* flipped = MakeFlippedCopy(sprite.image.bitmap);
  BITMAP* dest = nullptr;
  int background = 0;
};

TEST_F(NanaDrawing, UprightTheSpriteHangsBelowThePivot) {
  Nana nana(size, {300.7, 100.6});
  Draw(nana);
  const int x = static_cast<int>(300.7 - kW / 2);
  const int y = static_cast<int>(100.6 + 68 - kH / 2);
  EXPECT_TRUE(ShowsAt(sprite.image.bitmap, x, y));
  int left, top, right, bottom;
  ASSERT_TRUE(DrawnBox(left, top, right, bottom));
  EXPECT_EQ(left, x);
  EXPECT_EQ(top, y);
  EXPECT_EQ(right, x + kW - 1);
  EXPECT_EQ(bottom, y + kH - 1);
}

TEST_F(NanaDrawing, ASmallNegativeAngleIsDrawnUnturnedAroundTheMovedCentre) {
  Nana nana(size, {300.2, 100.2});
  nana.angle = -0.01f;
  Draw(nana);
  const int x = static_cast<int>(300.2 + 68 * std::sin(0.01) - kW / 2);
  const int y = static_cast<int>(100.2 + 68 * std::cos(0.01) - kH / 2);
  EXPECT_TRUE(ShowsAt(sprite.image.bitmap, x, y));
}

TEST_F(NanaDrawing, ATurnedBananaIsDrawnAroundItsCentreInWholeLibrarySteps) {
  Nana nana(size, {320, 150});
  nana.angle = 0.5f;
  Draw(nana);
  // 0.5 rad is 20.37 library units; drawn at 20 units of 1/256 turn.
  const double drawn = 20 * 3.14159 / 128;
  const double cx = 320 - 68 * std::sin(0.5);
  const double cy = 150 + 68 * std::cos(0.5);
  const double width = kW * std::cos(drawn) + kH * std::sin(drawn);
  const double height = kW * std::sin(drawn) + kH * std::cos(drawn);
  int left, top, right, bottom;
  ASSERT_TRUE(DrawnBox(left, top, right, bottom));
  EXPECT_NEAR(right - left + 1, width, 2.5);
  EXPECT_NEAR(bottom - top + 1, height, 2.5);
  EXPECT_NEAR((left + right + 1) / 2.0, cx, 2);
  EXPECT_NEAR((top + bottom + 1) / 2.0, cy, 2);
}

// Near the left or top edge the turned sprite's box starts off the bitmap (a negative
// position); the part on the bitmap is the same picture as further in, moved by the
// shift (one pixel less where a negative position is truncated toward zero).
TEST_F(NanaDrawing, ATurnedBananaPastTheTopLeftEdgeIsTheSamePictureMoved) {
  constexpr int kShift = 200;  // pixels
  Nana inside(size, {60 + kShift, -60 + kShift});
  inside.angle = 0.5f;
  Draw(inside);
  BITMAP* further = create_bitmap(dest->w, dest->h);
  blit(dest, further, 0, 0, 0, 0, dest->w, dest->h);

  clear_to_color(dest, background);
  Nana past(size, {60, -60});
  past.angle = 0.5f;
  Draw(past);
  int left, top, right, bottom;
  ASSERT_TRUE(DrawnBox(left, top, right, bottom));
  EXPECT_EQ(left, 0);  // the picture reaches past both edges
  EXPECT_EQ(top, 0);
  int fewestDiffering = dest->w * dest->h;
  for (int dy : {kShift - 1, kShift}) {
    for (int dx : {kShift - 1, kShift}) {
      int differing = 0;
      for (int y = 0; y + dy < dest->h; ++y) {
        for (int x = 0; x + dx < dest->w; ++x) {
          differing += getpixel(dest, x, y) != getpixel(further, x + dx, y + dy);
        }
      }
      fewestDiffering = std::min(fewestDiffering, differing);
    }
  }
  EXPECT_EQ(fewestDiffering, 0);
  destroy_bitmap(further);
}

TEST_F(NanaDrawing, ABananaTurnedBackIsDrawnTurnedTheOtherWayAroundItsCentre) {
  Nana nana(size, {320, 150});
  nana.angle = -0.5f;
  Draw(nana);
  // -20 library units, the same size of box as a turn of +20.
  const double drawn = 20 * 3.14159 / 128;
  const double cx = 320 + 68 * std::sin(0.5);
  const double cy = 150 + 68 * std::cos(0.5);
  int left, top, right, bottom;
  ASSERT_TRUE(DrawnBox(left, top, right, bottom));
  EXPECT_NEAR(right - left + 1, kW * std::cos(drawn) + kH * std::sin(drawn), 2.5);
  EXPECT_NEAR(bottom - top + 1, kW * std::sin(drawn) + kH * std::cos(drawn), 2.5);
  EXPECT_NEAR((left + right + 1) / 2.0, cx, 2);
  EXPECT_NEAR((top + bottom + 1) / 2.0, cy, 2);
  // The left tip hangs lower than the right one.
  int leftEdgeY = -1, rightEdgeY = -1;
  for (int y = top; y <= bottom; ++y) {
    if (getpixel(dest, left, y) != background && leftEdgeY < 0) leftEdgeY = y;
    if (getpixel(dest, right, y) != background && rightEdgeY < 0) rightEdgeY = y;
  }
  EXPECT_GT(leftEdgeY, rightEdgeY);
}

TEST_F(NanaDrawing, UpsideDownItShowsItsTurnedCopySquashedTowardsItsBottomEdge) {
  Nana nana(size, {300.5, 400.5});
  ASSERT_NE(flipped, nullptr);
  nana.state = UpsideDown;
  nana.angle = 3.14159f;
  // The box's top-left corner at half a turn: 87 left of the pivot, 68 + 30 above it.
  const int x = static_cast<int>(300.5 - 87);
  const int y = static_cast<int>(400.5 - 98);

  Draw(nana);
  EXPECT_TRUE(ShowsAt(flipped, x, y));

  clear_to_color(dest, background);
  nana.squash = 0.5f;
  Draw(nana);
  int left, top, right, bottom;
  ASSERT_TRUE(DrawnBox(left, top, right, bottom));
  EXPECT_EQ(left, x);
  EXPECT_EQ(right, x + kW - 1);
  EXPECT_EQ(top, y + kH / 2) << "half as high, its top lowered by h/2";
  EXPECT_EQ(bottom, y + kH - 1) << "the bottom edge stays";
  // Every other row of the copy, full width.
  for (int i = 0; i < kW; i += 7) {
    EXPECT_EQ(getpixel(dest, x + i, y + kH / 2 + 5), getpixel(flipped, i, 10)) << i;
  }
}

TEST_F(NanaDrawing, SquashedHeightIsTruncatedFromTheExactProduct) {
  static_assert(kH == 60, "the squash below is chosen for a 60-pixel sprite");
  Nana nana(size, {300.5, 400.5});
  nana.state = UpsideDown;
  nana.angle = 3.14159f;
  // The float nearest 31/60 lies just below it: 30.99999 pixels high, so 30 rows
  // (a product rounded to float would come to 31.0 and draw 31).
  nana.squash = 0.516666651f;
  Draw(nana);
  int left, top, right, bottom;
  ASSERT_TRUE(DrawnBox(left, top, right, bottom));
  EXPECT_EQ(bottom - top + 1, 30);
}

TEST_F(NanaDrawing, TheTurnedCopyIsTheSpriteUpsideDown) {
  Nana nana(size, {0, 0});
  ASSERT_NE(flipped, nullptr);
  EXPECT_EQ(flipped->w, kW);
  EXPECT_EQ(flipped->h, kH);
  int matches = 0;
  for (int j = 0; j < kH; ++j) {
    for (int i = 0; i < kW; ++i) {
      if (getpixel(flipped, i, j) == getpixel(sprite.image.bitmap, kW - 1 - i, kH - 1 - j)) ++matches;
    }
  }
  EXPECT_GE(matches, kW * kH * 95 / 100);
}

TEST_F(NanaDrawing, DrawingChangesNothingInTheBanana) {
  Nana nana(size, {300.5, 200.25});
  nana.angle = 1.25f;
  nana.spin = 0.1f;
  nana.vel = {3, -4};
  nana.squash = 0.75f;
  nana.state = Tipping;
  Draw(nana);
  EXPECT_EQ(nana.pos.x, 300.5);
  EXPECT_EQ(nana.pos.y, 200.25);
  EXPECT_EQ(nana.angle, 1.25f);
  EXPECT_EQ(nana.spin, 0.1f);
  EXPECT_EQ(nana.vel.x, 3);
  EXPECT_EQ(nana.squash, 0.75f);
  EXPECT_EQ(nana.state, Tipping);
}

TEST_F(NanaDrawing, WithoutItsTurnedCopyAnUpsideDownBananaIsDrawnTurned) {
  Nana nana(size, {300.5, 400.5});
  nana.state = UpsideDown;
  nana.angle = 3.14159f;
  nana.squash = 0.5f;
  DrawNana(nana, sprite.image.bitmap, nullptr, dest);
  int left, top, right, bottom;
  ASSERT_TRUE(DrawnBox(left, top, right, bottom));
  EXPECT_NEAR(left, 300.5 - 87, 2);
  EXPECT_NEAR(top, 400.5 - 98, 2);
  EXPECT_NEAR(bottom - top + 1, kH, 2) << "unsquashed";
  // Half a turn: the sprite's bottom-right corner shows at the top left.
  EXPECT_EQ(getpixel(dest, left + 3, top + 3), getpixel(sprite.image.bitmap, kW - 4, kH - 4));
}

TEST_F(NanaDrawing, ABananaWithoutAPictureDrawsNothing) {
  Nana nana(SpriteSize{}, {300, 200});
  EXPECT_EQ(MakeFlippedCopy(nullptr), nullptr);
  DrawNana(nana, nullptr, nullptr, dest);
  nana.state = UpsideDown;
  DrawNana(nana, nullptr, nullptr, dest);
  int left, top, right, bottom;
  EXPECT_FALSE(DrawnBox(left, top, right, bottom));
}

}  // namespace
