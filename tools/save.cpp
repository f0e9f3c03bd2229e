// SPDX-License-Identifier: GPL-3.0-or-later
#include "save.h"

#include <allegro.h>
#include <png.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace {

// The game library without a system driver: enough for memory bitmaps and its savers.
bool LibraryReady() {
  return system_driver != nullptr || install_allegro(SYSTEM_NONE, &errno, std::atexit) == 0;
}

// A memory bitmap of the given depth, freed at scope end.
struct MemoryBitmap {
  BITMAP* bmp;
  MemoryBitmap(int depth, int w, int h) : bmp(create_bitmap_ex(depth, w, h)) {}
  ~MemoryBitmap() {
    if (bmp) destroy_bitmap(bmp);
  }
  MemoryBitmap(const MemoryBitmap&) = delete;
  MemoryBitmap& operator=(const MemoryBitmap&) = delete;
};

}  // namespace

uint8_t ToByte(float v) { return uint8_t(std::clamp(std::lround(v), 0L, 255L)); }

bool SaveBmp24(const std::string& path, const Canvas& c, const Rgb* empty) {
  if (!LibraryReady()) return false;
  MemoryBitmap out(24, c.w, c.h);
  if (!out.bmp) return false;
  Rgb e = empty ? *empty : Rgb{};
  const uint8_t er = ToByte(e.r), eg = ToByte(e.g), eb = ToByte(e.b);
  for (int y = 0; y < c.h; ++y) {
    for (int x = 0; x < c.w; ++x) {
      uint8_t r = er, g = eg, b = eb;
      if (!empty || c.Alpha(x, y) >= 0.5f) {
        Rgb col = c.Colour(x, y);
        r = ToByte(col.r);
        g = ToByte(col.g);
        b = ToByte(col.b);
        if (empty && r == er && g == eg && b == eb) g = uint8_t(g ^ 1);  // never the empty colour
      }
      putpixel(out.bmp, x, y, makecol_depth(24, r, g, b));
    }
  }
  // A 24-bit file carries no palette; the saver is given one so that it need not ask
  // for the current one.
  PALETTE unused = {};
  return save_bmp(path.c_str(), out.bmp, unused) == 0;
}

bool SaveBmp8(const std::string& path, int w, int h, const std::vector<uint8_t>& pixels,
              const std::vector<uint8_t>& palette) {
  if (w <= 0 || h <= 0 || pixels.size() != size_t(w) * h || palette.size() != 256 * 3) return false;
  if (!LibraryReady()) return false;
  PALETTE pal;
  for (int i = 0; i < 256; ++i) {
    uint8_t* channels[3] = {&pal[i].r, &pal[i].g, &pal[i].b};
    for (int k = 0; k < 3; ++k) {
      const uint8_t v = palette[size_t(i) * 3 + k];
      const int six = v >> 2;  // the library's palette keeps 0..63
      if (_rgb_scale_6[six] != v) return false;
      *channels[k] = uint8_t(six);
    }
    pal[i].filler = 0;
  }
  MemoryBitmap out(8, w, h);
  if (!out.bmp) return false;
  for (int y = 0; y < h; ++y) std::copy_n(&pixels[size_t(y) * w], w, out.bmp->line[y]);
  return save_bmp(path.c_str(), out.bmp, pal) == 0;
}

bool SavePng(const std::string& path, const Canvas& c) {
  std::vector<uint8_t> rgba;
  rgba.reserve(size_t(c.w) * c.h * 4);
  for (int y = 0; y < c.h; ++y) {
    for (int x = 0; x < c.w; ++x) {
      Rgb col = c.Colour(x, y);
      rgba.insert(rgba.end(), {ToByte(col.r), ToByte(col.g), ToByte(col.b), ToByte(c.Alpha(x, y) * 255)});
    }
  }
  png_image image = {};
  image.version = PNG_IMAGE_VERSION;
  image.width = png_uint_32(c.w);
  image.height = png_uint_32(c.h);
  image.format = PNG_FORMAT_RGBA;
  const bool ok = png_image_write_to_file(&image, path.c_str(), 0, rgba.data(), 0, nullptr) != 0;
  png_image_free(&image);
  return ok;
}
