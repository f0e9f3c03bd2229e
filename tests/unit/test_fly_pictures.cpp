// The flies' pictures: which frame each shows, and where.
#include <allegro.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "fly.h"
#include "test_sprites.h"

namespace {

TEST(FlyPictures, DrawingShowsTheSecondFrameNowAndThen) {
  TestSprite fly1{kTestFlyW, kTestFlyH, "fly1.bmp"};
  TestSprite fly2{kTestFlyW, kTestFlyH, "fly2.bmp"};
  clear_to_color(fly2.image.bitmap, makecol(0, 0, 200));
  BITMAP* dest = create_bitmap(1024, 768);
  const SpriteSize size{kTestFlyW, kTestFlyH};
  std::vector<Fly> flies = {Fly{{100.7, 50.9}, {0, 0}, size, 1024, 768}, Fly{{-0.5, 300}, {0, 0}, size, 1024, 768}};
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
    DrawFlies(flies, fly1.image.bitmap, fly2.image.bitmap, dest);
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


TEST(FlyPictures, WithoutPicturesNothingIsDrawnButTheNumbersAreTaken) {
  BITMAP* dest = create_bitmap(64, 64);
  clear_to_color(dest, makecol(255, 255, 255));
  const std::vector<Fly> flies(3, Fly{{1, 1}, {0, 0}, {0, 0}, 64, 64});
  srand(3);
  for (int i = 0; i < 3; ++i) rand();
  const int next = rand();
  srand(3);
  DrawFlies(flies, nullptr, nullptr, dest);
  EXPECT_EQ(rand(), next);
  EXPECT_EQ(getpixel(dest, 1, 1), makecol(255, 255, 255));
  destroy_bitmap(dest);
}

}  // namespace
