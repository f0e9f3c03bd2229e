// SPDX-License-Identifier: GPL-3.0-or-later
// The media generator's savers: what they write decodes to exactly the pixels given,
// through the game library's own loader (BMP) and through libpng (PNG).
#include <allegro.h>
#include <gtest/gtest.h>
#include <png.h>

#include <cstdio>
#include <string>
#include <vector>

#include "save.h"
#include "test_support.h"

namespace {

std::string Scratch(const char* name) { return ScratchDir() + "/" + name; }

bool Exists(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f) std::fclose(f);
  return f != nullptr;
}

// A BMP loaded in the depth it was saved in (no conversion to the current depth), with
// its palette; freed at scope end.
struct Saved {
  BITMAP* bmp = nullptr;
  PALETTE pal = {};
  explicit Saved(const std::string& path) {
    const int conversion = get_color_conversion();
    set_color_conversion(COLORCONV_NONE);
    bmp = load_bitmap(path.c_str(), pal);
    set_color_conversion(conversion);
  }
  ~Saved() {
    if (bmp) destroy_bitmap(bmp);
  }
  std::vector<int> Colour(int x, int y) const {
    int p = getpixel(bmp, x, y);
    return {getr24(p), getg24(p), getb24(p)};
  }
};

// A PNG decoded by libpng as 8-bit RGBA, row by row from the top.
struct Decoded {
  int w = 0, h = 0;
  std::vector<uint8_t> rgba;
};
bool DecodePng(const std::string& path, Decoded& out) {
  png_image image = {};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return false;
  image.format = PNG_FORMAT_RGBA;
  out.w = int(image.width);
  out.h = int(image.height);
  out.rgba.assign(PNG_IMAGE_SIZE(image), 0);
  return png_image_finish_read(&image, nullptr, out.rgba.data(), 0, nullptr) != 0;
}

}  // namespace

TEST(MediaFiles, SpriteBmpKeepsEveryOpaqueColourAndMarksTheRestEmpty) {
  const Rgb magenta{255, 0, 255};
  Canvas c(5, 3);  // odd width: rows are padded in the file
  c.Blend(0, 0, {10, 20, 30}, 1.0f);
  c.Blend(1, 0, {200, 100, 50}, 0.6f);  // mostly opaque: keeps its colour
  c.Blend(2, 0, {200, 100, 50}, 0.4f);  // mostly clear: empty
  c.Blend(3, 0, magenta, 1.0f);         // opaque magenta is nudged off the empty colour
  c.Blend(4, 2, {255, 255, 255}, 1.0f);
  const std::string path = Scratch("sprite.bmp");
  ASSERT_TRUE(SaveBmp24(path, c, &magenta));

  Saved s(path);
  ASSERT_NE(s.bmp, nullptr);
  EXPECT_EQ(bitmap_color_depth(s.bmp), 24);
  EXPECT_EQ(s.bmp->w, 5);
  EXPECT_EQ(s.bmp->h, 3);
  EXPECT_EQ(s.Colour(0, 0), (std::vector<int>{10, 20, 30}));
  EXPECT_EQ(s.Colour(1, 0), (std::vector<int>{200, 100, 50}));
  EXPECT_EQ(s.Colour(2, 0), (std::vector<int>{255, 0, 255}));
  EXPECT_EQ(s.Colour(3, 0), (std::vector<int>{255, 1, 255}));
  EXPECT_EQ(s.Colour(4, 2), (std::vector<int>{255, 255, 255}));
  EXPECT_EQ(s.Colour(0, 2), (std::vector<int>{255, 0, 255})) << "untouched pixels are empty";
}

TEST(MediaFiles, PaletteBmpKeepsIndicesAndColours) {
  const int w = 3, h = 2;
  const std::vector<uint8_t> pixels = {0, 1, 255, 7, 0, 1};
  std::vector<uint8_t> palette(256 * 3, 0);
  palette[0] = palette[1] = palette[2] = 255;  // white
  palette[255 * 3] = palette[255 * 3 + 1] = 255;  // yellow
  palette[7 * 3 + 2] = 255;                       // blue
  const std::string path = Scratch("grid.bmp");
  ASSERT_TRUE(SaveBmp8(path, w, h, pixels, palette));

  Saved s(path);
  ASSERT_NE(s.bmp, nullptr);
  ASSERT_EQ(bitmap_color_depth(s.bmp), 8);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) EXPECT_EQ(getpixel(s.bmp, x, y), pixels[size_t(y) * w + x]) << x << "," << y;
  for (int i = 0; i < 256; ++i) {
    EXPECT_EQ(_rgb_scale_6[s.pal[i].r], palette[size_t(i) * 3]) << "entry " << i;
    EXPECT_EQ(_rgb_scale_6[s.pal[i].g], palette[size_t(i) * 3 + 1]) << "entry " << i;
    EXPECT_EQ(_rgb_scale_6[s.pal[i].b], palette[size_t(i) * 3 + 2]) << "entry " << i;
  }
}

TEST(MediaFiles, PaletteColoursTheLibraryWouldChangeAreRefused) {
  std::vector<uint8_t> palette(256 * 3, 0);
  palette[5 * 3 + 1] = 100;  // six bits give back 97 or 101, never 100
  const std::string path = Scratch("refused.bmp");
  EXPECT_FALSE(SaveBmp8(path, 1, 1, {5}, palette));
  EXPECT_FALSE(Exists(path));
  EXPECT_FALSE(SaveBmp8(path, 2, 2, {0, 0, 0}, std::vector<uint8_t>(256 * 3, 0)))
      << "fewer pixels than the size";
}

TEST(MediaFiles, PngKeepsColourAndOpacityAndIsCompressed) {
  const int size = 64;
  Canvas c(size, size);
  for (int y = 0; y < size; ++y)
    for (int x = 0; x < size / 2; ++x) c.Blend(x, y, {250, 200, 40}, 1.0f);
  c.Blend(40, 10, {200, 30, 30}, 0.5f);
  const std::string path = Scratch("icon.png");
  ASSERT_TRUE(SavePng(path, c));

  Decoded d;
  ASSERT_TRUE(DecodePng(path, d));
  ASSERT_EQ(d.w, size);
  ASSERT_EQ(d.h, size);
  auto at = [&](int x, int y) {
    const uint8_t* p = &d.rgba[(size_t(y) * size + x) * 4];
    return std::vector<int>{p[0], p[1], p[2], p[3]};
  };
  EXPECT_EQ(at(0, 0), (std::vector<int>{250, 200, 40, 255}));
  EXPECT_EQ(at(31, 63), (std::vector<int>{250, 200, 40, 255}));
  EXPECT_EQ(at(40, 10), (std::vector<int>{200, 30, 30, 128}));
  EXPECT_EQ(at(63, 63), (std::vector<int>{0, 0, 0, 0}));

  std::FILE* f = std::fopen(path.c_str(), "rb");
  ASSERT_NE(f, nullptr);
  std::fseek(f, 0, SEEK_END);
  const long bytes = std::ftell(f);
  std::fclose(f);
  EXPECT_LT(bytes, size * size * 4 / 20) << "two flat halves compress to almost nothing";
}

TEST(MediaFiles, SaversReportAPlaceThatCannotBeWritten) {
  const std::string path = Scratch("no such directory/picture");
  Canvas c(4, 4);
  EXPECT_FALSE(SaveBmp24(path + ".bmp", c, nullptr));
  EXPECT_FALSE(SaveBmp8(path + ".bmp", 1, 1, {0}, std::vector<uint8_t>(256 * 3, 0)));
  EXPECT_FALSE(SavePng(path + ".png", c));
}
