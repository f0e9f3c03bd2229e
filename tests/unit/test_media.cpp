// SPDX-License-Identifier: GPL-3.0-or-later
// The generated pictures and font, loaded the way the game loads them, and the desktop
// icon decoded by libpng.
#include <allegro.h>
#include <gtest/gtest.h>
#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

namespace {

std::string MediaPath(const char* name) { return std::string(NANASPLAT_MEDIA_DIR) + "/" + name; }

// A picture loaded as the image manager loads it (no palette), freed at scope end.
struct Picture {
  BITMAP* bmp;
  explicit Picture(const char* name) : bmp(load_bitmap(MediaPath(name).c_str(), nullptr)) {}
  ~Picture() {
    if (bmp) destroy_bitmap(bmp);
  }
  bool Empty(int x, int y) const { return getpixel(bmp, x, y) == bitmap_mask_color(bmp); }
  int Luma(int x, int y) const {
    int p = getpixel(bmp, x, y), d = bitmap_color_depth(bmp);
    return (getr_depth(d, p) * 299 + getg_depth(d, p) * 587 + getb_depth(d, p) * 114) / 1000;
  }
  bool Reddish(int x, int y) const {
    int p = getpixel(bmp, x, y), d = bitmap_color_depth(bmp);
    return getr_depth(d, p) > 150 && getg_depth(d, p) < 90 && getb_depth(d, p) < 90 && !Empty(x, y);
  }
};

// Lightness and spread of a region of a picture given in screen pixels, for a picture
// shown centred on a 1024 x 768 screen. Parts of the region outside the picture are skipped.
struct Region {
  int minLuma = 255, maxLuma = 0, pixels = 0;
};
Region ScreenRegion(const Picture& pic, int x0, int y0, int x1, int y1) {
  int ox = (1024 - pic.bmp->w) / 2, oy = (768 - pic.bmp->h) / 2;
  Region r;
  for (int y = y0; y < y1; ++y) {
    for (int x = x0; x < x1; ++x) {
      int px = x - ox, py = y - oy;
      if (px < 0 || py < 0 || px >= pic.bmp->w || py >= pic.bmp->h) continue;
      int l = pic.Luma(px, py);
      r.minLuma = std::min(r.minLuma, l);
      r.maxLuma = std::max(r.maxLuma, l);
      ++r.pixels;
    }
  }
  return r;
}

// The icon as 8-bit RGBA from the top row down, decoded by libpng.
struct Icon {
  int size = 0;
  std::vector<uint8_t> rgba;
  const uint8_t* At(int x, int y) const { return &rgba[(size_t(y) * size + x) * 4]; }
  bool Clear(int x, int y) const { return At(x, y)[3] == 0; }
  bool Solid(int x, int y) const { return At(x, y)[3] > 200; }
};
bool DecodeIcon(Icon& icon) {
  png_image image = {};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, NANASPLAT_ICON)) return false;
  if (image.width != image.height) {
    png_image_free(&image);
    return false;
  }
  image.format = PNG_FORMAT_RGBA;
  icon.size = int(image.width);
  icon.rgba.assign(PNG_IMAGE_SIZE(image), 0);
  return png_image_finish_read(&image, nullptr, icon.rgba.data(), 0, nullptr) != 0;
}

long FileBytes(const char* path) {
  std::FILE* f = std::fopen(path, "rb");
  if (!f) return -1;
  std::fseek(f, 0, SEEK_END);
  long n = std::ftell(f);
  std::fclose(f);
  return n;
}

// The banana's body in sprite pixels: the back arc about the pivot 68 pixels above the
// box centre, and the inner arc about the point 129 pixels above that pivot.
constexpr double kBack = 95, kInner = 178, kInnerAbove = 129, kPivotAboveCentre = 68;

}  // namespace

TEST(Media, BananaSpriteIsTheCrescentTheGameCollidesWith) {
  Picture banana("banana_sm1.bmp");
  ASSERT_NE(banana.bmp, nullptr);
  const int w = banana.bmp->w, h = banana.bmp->h;
  // Only a 60-pixel box puts the upside-down banana's tips on the ground.
  EXPECT_EQ(h, 60);
  // Its top corners lie on the back arc, so the width follows from the height.
  const double px = w / 2.0, py = h / 2.0 - kPivotAboveCentre;
  EXPECT_NEAR(std::hypot(px, py), kBack, 0.5) << "width " << w;

  int strayPixels = 0, holes = 0, opaque = 0;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      double cx = x + 0.5, cy = y + 0.5;
      double fromPivot = std::hypot(cx - px, cy - py);
      double fromInner = std::hypot(cx - px, cy - (py - kInnerAbove));
      // Signed distance to the crescent's edge, positive inside.
      double inside = std::min(kBack - fromPivot, fromInner - kInner);
      bool empty = banana.Empty(x, y);
      if (!empty) ++opaque;
      if (!empty && inside < -0.75) ++strayPixels;
      if (empty && inside > 1.0) ++holes;
    }
  }
  EXPECT_EQ(strayPixels, 0) << "opaque pixels outside the body";
  EXPECT_EQ(holes, 0) << "mask-coloured pixels inside the body";
  EXPECT_GT(opaque, w * h / 4);

  // The tips fill the top corners and are drawn darker than the middle of the body.
  EXPECT_FALSE(banana.Empty(0, 0));
  EXPECT_FALSE(banana.Empty(w - 1, 0));
  EXPECT_TRUE(banana.Empty(w / 2, 0));
  EXPECT_TRUE(banana.Empty(0, h - 1));
  EXPECT_TRUE(banana.Empty(w - 1, h - 1));
  EXPECT_LT(banana.Luma(1, 1), banana.Luma(w / 2, 35) - 60);
  EXPECT_LT(banana.Luma(w - 2, 1), banana.Luma(w / 2, 35) - 60);
}

TEST(Media, FlyPicturesAreTwoWingPosesOfOneRedEyedFly) {
  Picture one("fly1.bmp"), two("fly2.bmp");
  ASSERT_NE(one.bmp, nullptr);
  ASSERT_NE(two.bmp, nullptr);
  int differing = 0;
  for (const Picture* fly : {&one, &two}) {
    // The hit test takes (21, 19) as the centre of a 42 x 38 sprite.
    ASSERT_EQ(fly->bmp->w, 42);
    ASSERT_EQ(fly->bmp->h, 38);
    EXPECT_FALSE(fly->Empty(21, 19)) << "the body is at the centre";
    EXPECT_TRUE(fly->Empty(0, 0));
    EXPECT_TRUE(fly->Empty(41, 0));
    EXPECT_TRUE(fly->Empty(0, 37));
    EXPECT_TRUE(fly->Empty(41, 37));
    int empty = 0, red = 0, dark = 0;
    for (int y = 0; y < 38; ++y) {
      for (int x = 0; x < 42; ++x) {
        empty += fly->Empty(x, y);
        red += fly->Reddish(x, y);
        dark += !fly->Empty(x, y) && fly->Luma(x, y) < 90;
      }
    }
    EXPECT_GT(empty, 42 * 38 / 4) << "the fly stands on a transparent background";
    EXPECT_GT(red, 20) << "red eyes";
    EXPECT_GT(dark, 100) << "a dark body";
  }
  for (int y = 0; y < 38; ++y)
    for (int x = 0; x < 42; ++x) differing += getpixel(one.bmp, x, y) != getpixel(two.bmp, x, y);
  EXPECT_GT(differing, 60) << "the wings move between the two pictures";
}

TEST(Media, TitleLeavesTheMenuButtonsOnACalmLightBackground) {
  Picture title("title800_3.bmp");
  ASSERT_NE(title.bmp, nullptr);
  EXPECT_EQ(title.bmp->w, 800);
  EXPECT_EQ(title.bmp->h, 600);
  // The menu's column of buttons: about x = 512 on the screen, from y = 568 down.
  Region menu = ScreenRegion(title, 432, 560, 592, 768);
  ASSERT_GT(menu.pixels, 0);
  EXPECT_GE(menu.minLuma, 200);
  EXPECT_LE(menu.maxLuma - menu.minLuma, 40);
  // Elsewhere the picture is busy: the name, bananas and flies.
  Region top = ScreenRegion(title, 112, 84, 912, 400);
  EXPECT_LT(top.minLuma, 60);
  EXPECT_GT(top.maxLuma - top.minLuma, 150);
}

TEST(Media, HelpPagesFitTheScreenWithTheirButtonsOnCalmGround) {
  for (const char* name : {"help1.bmp", "help2.bmp"}) {
    SCOPED_TRACE(name);
    Picture page(name);
    ASSERT_NE(page.bmp, nullptr);
    EXPECT_LE(page.bmp->w, 1024);
    EXPECT_LE(page.bmp->h, 768);
    // "Back", "Next" and "Done" stand 50 pixels above the bottom, around x = 100 and 924.
    for (int centreX : {100, 924}) {
      Region buttons = ScreenRegion(page, centreX - 60, 712, centreX + 60, 750);
      if (buttons.pixels == 0) continue;  // the page does not reach down there
      EXPECT_GE(buttons.minLuma, 200);
      EXPECT_LE(buttons.maxLuma - buttons.minLuma, 40);
    }
    // Text: plenty of dark pixels above that band.
    int dark = 0;
    for (int y = 0; y < page.bmp->h * 3 / 4; ++y)
      for (int x = 0; x < page.bmp->w; ++x) dark += page.Luma(x, y) < 80;
    EXPECT_GT(dark, 5000);
  }
}

TEST(Media, FontIsTheFirstObjectAndCoversPrintableAsciiInOneColour) {
  DATAFILE* data = load_datafile(MediaPath("font.dat").c_str());
  ASSERT_NE(data, nullptr);
  ASSERT_EQ(data[0].type, DAT_FONT);
  FONT* f = static_cast<FONT*>(data[0].dat);
  ASSERT_NE(f, nullptr);
  EXPECT_GE(text_height(f), 24);
  EXPECT_LE(text_height(f), 28);
  EXPECT_TRUE(is_mono_font(f));

  BITMAP* b = create_bitmap(64, 64);
  ASSERT_NE(b, nullptr);
  const int blue = makecol(0, 0, 255), white = makecol(255, 255, 255);
  for (int ch = 32; ch <= 126; ++ch) {
    char s[2] = {char(ch), 0};
    EXPECT_GT(text_length(f, s), 0) << "character " << ch;
    EXPECT_LT(text_length(f, s), 40) << "character " << ch;
    // Drawn in the button colour, every glyph pixel is exactly that colour.
    clear_to_color(b, white);
    textout_ex(b, f, s, 0, 0, blue, -1);
    int ink = 0, other = 0;
    for (int y = 0; y < 64; ++y) {
      for (int x = 0; x < 64; ++x) {
        int p = getpixel(b, x, y);
        ink += p == blue;
        other += p != blue && p != white;
      }
    }
    EXPECT_EQ(other, 0) << "character " << ch;
    if (ch != ' ') {
      EXPECT_GT(ink, 0) << "character " << ch;
    }
  }
  // Lines of the game fit the screen.
  EXPECT_LT(text_length(f, "Time up!  The fruit flies got to you ..."), 700);
  destroy_bitmap(b);
  unload_datafile(data);
}

TEST(Media, PicturesAreTrueColourSoTheGameLoadsEveryColourExactly) {
  const int conversion = get_color_conversion();
  set_color_conversion(COLORCONV_NONE);
  for (const char* name : {"banana_sm1.bmp", "fly1.bmp", "fly2.bmp", "title800_3.bmp", "help1.bmp",
                           "help2.bmp"}) {
    SCOPED_TRACE(name);
    BITMAP* b = load_bitmap(MediaPath(name).c_str(), nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(bitmap_color_depth(b), 24);
    destroy_bitmap(b);
  }
  set_color_conversion(conversion);
}

TEST(Media, IconIsACompressedPictureOfTheBananaAndTheFlyOnAClearGround) {
  Icon icon;
  ASSERT_TRUE(DecodeIcon(icon)) << NANASPLAT_ICON << " is not a square PNG";
  const int n = icon.size;
  EXPECT_GE(n, 48);
  for (int corner : {0, n - 1}) {
    EXPECT_TRUE(icon.Clear(corner, 0));
    EXPECT_TRUE(icon.Clear(corner, n - 1));
  }
  int clear = 0, yellowBelow = 0, redAbove = 0;
  for (int y = 0; y < n; ++y) {
    for (int x = 0; x < n; ++x) {
      const uint8_t* p = icon.At(x, y);
      clear += icon.Clear(x, y);
      if (!icon.Solid(x, y)) continue;
      yellowBelow += y >= n / 2 && p[0] > 200 && p[1] > 160 && p[2] < 120;
      redAbove += y < n / 2 && p[0] > 150 && p[1] < 90 && p[2] < 90;
    }
  }
  EXPECT_GT(clear, n * n / 2) << "the ground stays clear";
  EXPECT_GT(yellowBelow, n * n / 20) << "the banana lies in the lower half";
  EXPECT_GT(redAbove, 0) << "the fly's red eyes are in the upper half";
  EXPECT_LT(FileBytes(NANASPLAT_ICON), long(n) * n * 2) << "compressed to under half its raw pixels";
}
