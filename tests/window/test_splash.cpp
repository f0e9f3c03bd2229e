// SPDX-License-Identifier: GPL-3.0-or-later
// Loading one bitmap, and the splash screen shown until Enter.
#include <allegro.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "init.h"
#include "modal_driver.h"
#include "test_support.h"
#include "util.h"

namespace {

int Red() { return makecol(255, 0, 0); }
int Green() { return makecol(0, 255, 0); }
int Blue() { return makecol(0, 0, 255); }

// Saves a w x h picture filled with red, with one green pixel at (gx, gy).
void SavePicture(const char* file, int w, int h, int gx = -1, int gy = -1) {
  BITMAP* picture = create_bitmap(w, h);
  clear_to_color(picture, Red());
  if (gx >= 0) putpixel(picture, gx, gy, Green());
  ASSERT_EQ(save_bitmap(file, picture, nullptr), 0);
  destroy_bitmap(picture);
}

class SplashTest : public testing::Test {
 protected:
  void SetUp() override {
    ResetKeys();
    ResetLog();
    buffer = create_bitmap(SCREEN_W, SCREEN_H);
    clear_to_color(buffer, Blue());
  }
  void TearDown() override {
    ResetKeys();
    destroy_bitmap(buffer);
  }
  // Shows the splash and presses Enter once the buffer's pixel (x, y) has turned
  // to `colour`, that is once a pass has drawn.
  void ShowUntilDrawn(const char* file, int x, int y, int colour) {
    std::thread player([&] {
      const bool drawn = WaitFor([&] { return getpixel(buffer, x, y) == colour; });
      if (!drawn) ADD_FAILURE() << "the splash never drew";
      key[KEY_ENTER] = 1;
    });
    DoSplash(file, buffer);
    player.join();
  }
  BITMAP* buffer = nullptr;
};

}  // namespace

TEST(LoadBitmap, ReturnsThePictureTheCallerOwns) {
  SavePicture("small.bmp", 7, 5, 3, 2);
  BITMAP* bmp = LoadBitmap("small.bmp", nullptr);
  ASSERT_NE(bmp, nullptr);
  EXPECT_EQ(bmp->w, 7);
  EXPECT_EQ(bmp->h, 5);
  EXPECT_EQ(getpixel(bmp, 3, 2), Green());
  EXPECT_EQ(getpixel(bmp, 0, 0), Red());
  destroy_bitmap(bmp);
}

TEST(LoadBitmap, AMissingFileEndsTheProcessWithStatusOne) {
  EXPECT_EXIT(
      {
        ShowLogAtExit();
        LoadBitmap("nothing here.bmp", nullptr);
      },
      testing::ExitedWithCode(1), "Couldn't load bitmap: nothing here.bmp\nLOG END");
}

TEST_F(SplashTest, WithoutABackBufferTheProcessEndsWithStatusOneBeforeLoading) {
  // The picture is missing too: had it been loaded first, the line would differ.
  EXPECT_EXIT(
      {
        ShowLogAtExit();
        DoSplash("missing.bmp", nullptr);
      },
      testing::ExitedWithCode(1),
      "LOG START\nFailing to make splash screen -- need a back buffer\nLOG END");
}

TEST_F(SplashTest, AMissingPictureEndsTheProcessWithStatusOne) {
  EXPECT_EXIT(
      {
        ShowLogAtExit();
        DoSplash("missing.bmp", buffer);
      },
      testing::ExitedWithCode(1), "Couldn't load bitmap: missing.bmp\nLOG END");
}

TEST_F(SplashTest, ASmallPictureIsCentredOverWhatTheBufferHeld) {
  // Odd margins: the halves are truncated.
  const int w = 101;
  const int h = 51;
  SavePicture("splash.bmp", w, h);
  ShowUntilDrawn("splash.bmp", SCREEN_W / 2, SCREEN_H / 2, Red());

  const int left = (SCREEN_W - w) / 2;
  const int top = (SCREEN_H - h) / 2;
  for (int y = top - 1; y <= top + h; ++y) {
    for (int x = left - 1; x <= left + w; ++x) {
      const bool inPicture = x >= left && x < left + w && y >= top && y < top + h;
      ASSERT_EQ(getpixel(buffer, x, y), inPicture ? Red() : Blue()) << x << "," << y;
    }
  }
  EXPECT_EQ(getpixel(buffer, 0, 0), Blue());
  EXPECT_EQ(getpixel(screen, left, top), Red()) << "the buffer reached the screen";

  const std::vector<std::string> log = LogMessages();
  EXPECT_EQ(log, (std::vector<std::string>{"Ready to display splash screen", "Leaving splash screen"}));
}

TEST_F(SplashTest, ALargePictureIsCentredAndClipped) {
  // 77 and 33 pixels too large: the negative offsets truncate toward zero.
  const int w = SCREEN_W + 77;
  const int h = SCREEN_H + 33;
  const int gx = 77 / 2;
  const int gy = 33 / 2;
  SavePicture("large.bmp", w, h, gx, gy);
  ShowUntilDrawn("large.bmp", 0, 0, Green());
  EXPECT_EQ(getpixel(buffer, 1, 0), Red());
  EXPECT_EQ(getpixel(buffer, 0, 1), Red());
  // One screen's worth of the picture is copied from its top-left corner, so the
  // copy ends gx columns and gy rows short of the buffer's far edges.
  EXPECT_EQ(getpixel(buffer, SCREEN_W - 1 - gx, SCREEN_H - 1 - gy), Red());
  EXPECT_EQ(getpixel(buffer, SCREEN_W - gx, SCREEN_H - 1 - gy), Blue());
  EXPECT_EQ(getpixel(buffer, SCREEN_W - 1 - gx, SCREEN_H - gy), Blue());
}

TEST_F(SplashTest, ThePromptAppearsOnlyAfterASecondOfTicks) {
  SavePicture("splash.bmp", 20, 20);
  const int th = text_height(globalFont);
  const int promptTop = SCREEN_H - 40;

  // The bottom band as it must look with the prompt on the blue background.
  BITMAP* expected = create_bitmap(SCREEN_W, th);
  clear_to_color(expected, Blue());
  textout_centre_ex(expected, globalFont, "Press [Enter] to continue", SCREEN_W / 2, 0,
                    makecol(0, 0, 0), -1);
  auto bandDiffers = [&] {
    int differing = 0;
    for (int y = 0; y < th; ++y) {
      for (int x = 0; x < SCREEN_W; ++x) {
        differing += getpixel(buffer, x, promptTop + y) != getpixel(expected, x, y);
      }
    }
    return differing;
  };
  auto bandIsBlue = [&] {
    for (int y = promptTop - 2; y < promptTop + th + 2; ++y) {
      for (int x = 0; x < SCREEN_W; ++x) {
        if (getpixel(buffer, x, y) != Blue()) return false;
      }
    }
    return true;
  };

  logic_time = 60;
  ShowUntilDrawn("splash.bmp", SCREEN_W / 2, SCREEN_H / 2, Red());
  EXPECT_TRUE(bandIsBlue()) << "no prompt at 60 ticks";
  EXPECT_EQ(logic_time, 60) << "the splash does not use up ticks";

  key[KEY_ENTER] = 0;
  clear_to_color(buffer, Blue());
  logic_time = 61;
  ShowUntilDrawn("splash.bmp", SCREEN_W / 2, SCREEN_H / 2, Red());
  EXPECT_EQ(bandDiffers(), 0) << "the prompt at 61 ticks";
  EXPECT_EQ(logic_time, 61);
  destroy_bitmap(expected);
}

TEST_F(SplashTest, AnEnterHeldFromBeforeDoesNotSkipIt) {
  SavePicture("splash.bmp", 20, 20);
  key[KEY_ENTER] = 1;
  bool drewWhileHeld = true;
  std::thread player([&] {
    WaitFor([] {
      const std::vector<std::string> log = LogMessages();
      return std::find(log.begin(), log.end(), "Ready to display splash screen") != log.end();
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    drewWhileHeld = getpixel(buffer, SCREEN_W / 2, SCREEN_H / 2) != Blue();
    key[KEY_ENTER] = 0;
    const bool drawn = WaitFor([&] { return getpixel(buffer, SCREEN_W / 2, SCREEN_H / 2) == Red(); });
    if (!drawn) ADD_FAILURE() << "the splash never drew";
    key[KEY_ENTER] = 1;
  });
  DoSplash("splash.bmp", buffer);
  player.join();
  EXPECT_FALSE(drewWhileHeld);
  EXPECT_EQ(getpixel(buffer, SCREEN_W / 2, SCREEN_H / 2), Red());
}

TEST_F(SplashTest, EscapeEndsTheProcessWithStatusZeroWithoutLeaving) {
  EXPECT_EXIT(
      {
        ShowLogAtExit();
        SavePicture("splash.bmp", 20, 20);
        key[KEY_ESC] = 1;
        DoSplash("splash.bmp", buffer);
      },
      testing::ExitedWithCode(0), "Ready to display splash screen\nLOG END");
}
