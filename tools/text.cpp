// SPDX-License-Identifier: GPL-3.0-or-later
#include "text.h"

#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>

namespace {

FT_Face Face(Typeface& tf) { return static_cast<FT_Face>(tf.face); }

// Pen advances and kerning for one line of text, in whole pixels.
struct Placed {
  unsigned code;
  int penX;
};

std::vector<Placed> Layout(Typeface& tf, int pixels, const std::string& text, int* width) {
  std::vector<Placed> out;
  FT_Face face = Face(tf);
  *width = 0;
  if (!face) return out;
  FT_Set_Pixel_Sizes(face, 0, FT_UInt(pixels));
  long pen = 0;  // 26.6 fixed point
  FT_UInt previous = 0;
  for (unsigned char ch : text) {
    FT_UInt index = FT_Get_Char_Index(face, ch);
    if (previous && index && FT_HAS_KERNING(face)) {
      FT_Vector kern;
      if (FT_Get_Kerning(face, previous, index, FT_KERNING_DEFAULT, &kern) == 0) pen += kern.x;
    }
    out.push_back({ch, int((pen + 32) >> 6)});
    if (FT_Load_Glyph(face, index, FT_LOAD_DEFAULT) == 0) pen += face->glyph->advance.x;
    previous = index;
  }
  *width = int((pen + 32) >> 6);
  return out;
}

}  // namespace

bool Typeface::Open(const std::string& path) {
  FT_Library lib = nullptr;
  if (FT_Init_FreeType(&lib) != 0) return false;
  library = lib;
  FT_Face f = nullptr;
  if (FT_New_Face(lib, path.c_str(), 0, &f) != 0) return false;
  face = f;
  return true;
}

Typeface::~Typeface() {
  if (face) FT_Done_Face(static_cast<FT_Face>(face));
  if (library) FT_Done_FreeType(static_cast<FT_Library>(library));
}

int TextWidth(Typeface& tf, int pixels, const std::string& text) {
  int width = 0;
  Layout(tf, pixels, text, &width);
  return width;
}

Mask TextMask(Typeface& tf, int pixels, const std::string& text, int x, int baseline, int pad) {
  int width = 0;
  std::vector<Placed> placed = Layout(tf, pixels, text, &width);
  FT_Face face = Face(tf);
  Mask m;
  if (!face) return m;
  int ascent = int((face->size->metrics.ascender + 63) >> 6);
  int descent = int((-face->size->metrics.descender + 63) >> 6);
  m.x = x - pad;
  m.y = baseline - ascent - pad;
  m.w = width + 2 * pad + pixels / 2;  // room for overhanging glyphs
  m.h = ascent + descent + 2 * pad;
  m.v.assign(size_t(m.w) * m.h, 0.0f);
  for (const Placed& p : placed) {
    if (FT_Load_Char(face, p.code, FT_LOAD_RENDER) != 0) continue;
    FT_GlyphSlot g = face->glyph;
    const FT_Bitmap& b = g->bitmap;
    int ox = pad + p.penX + g->bitmap_left;
    int oy = pad + ascent - g->bitmap_top;
    for (unsigned row = 0; row < b.rows; ++row) {
      for (unsigned col = 0; col < b.width; ++col) {
        int mx = ox + int(col), my = oy + int(row);
        if (mx < 0 || my < 0 || mx >= m.w || my >= m.h) continue;
        float cover = b.buffer[row * b.pitch + col] / 255.0f;
        float& dst = m.v[size_t(my) * m.w + mx];
        dst = std::min(1.0f, dst + cover);
      }
    }
  }
  return m;
}

namespace {

struct MonoGlyph {
  int w = 0;             // cell width
  int left = 0, top = 0;  // offset of the ink from the cell's left edge and the baseline
  int inkW = 0, inkH = 0;
  std::vector<uint8_t> ink;  // inkW * inkH, 1 = set
};

// Hinted one-colour rendering: FreeType's monochrome mode keeps stems whole pixels wide.
bool RenderMono(FT_Face face, unsigned code, MonoGlyph& out) {
  if (FT_Load_Char(face, code, FT_LOAD_RENDER | FT_LOAD_TARGET_MONO) != 0) return false;
  FT_GlyphSlot g = face->glyph;
  const FT_Bitmap& b = g->bitmap;
  out.inkW = int(b.width);
  out.inkH = int(b.rows);
  out.left = std::max(0, int(g->bitmap_left));
  out.top = g->bitmap_top;
  out.w = std::max(int((g->advance.x + 32) >> 6), out.left + out.inkW);
  out.ink.assign(size_t(out.inkW) * out.inkH, 0);
  for (int row = 0; row < out.inkH; ++row) {
    for (int col = 0; col < out.inkW; ++col) {
      const unsigned char* line = b.buffer + row * b.pitch;
      bool set = b.pixel_mode == FT_PIXEL_MODE_MONO ? (line[col >> 3] >> (7 - (col & 7))) & 1
                                                    : line[col] >= 128;
      out.ink[size_t(row) * out.inkW + col] = set ? 1 : 0;
    }
  }
  return true;
}

constexpr int kFirstChar = 32;
constexpr int kLastChar = 126;
constexpr int kGlyphsPerRow = 16;

}  // namespace

bool MakeGlyphGrid(Typeface& tf, int height, GlyphGrid& grid, int* emPixels) {
  FT_Face face = Face(tf);
  if (!face) return false;
  // The largest em size whose ink, from the highest top to the lowest descender of all
  // printable characters, fits in the cell height.
  std::vector<MonoGlyph> glyphs;
  int baseline = 0;
  int em = height;
  for (; em > 4; --em) {
    FT_Set_Pixel_Sizes(face, 0, FT_UInt(em));
    glyphs.assign(kLastChar - kFirstChar + 1, MonoGlyph{});
    int above = 0, below = 0;
    bool ok = true;
    for (int c = kFirstChar; c <= kLastChar; ++c) {
      MonoGlyph& g = glyphs[c - kFirstChar];
      if (!RenderMono(face, unsigned(c), g)) ok = false;
      if (g.inkH > 0) {
        above = std::max(above, g.top);
        below = std::max(below, g.inkH - g.top);
      }
    }
    if (ok && above + below <= height) {
      baseline = above + (height - above - below) / 2;
      break;
    }
  }
  if (em <= 4) return false;
  *emPixels = em;

  int rows = (kLastChar - kFirstChar + kGlyphsPerRow) / kGlyphsPerRow;
  grid.w = 1;
  for (int r = 0; r < rows; ++r) {
    int rowW = 1;
    for (int i = r * kGlyphsPerRow; i < std::min<int>((r + 1) * kGlyphsPerRow, glyphs.size()); ++i)
      rowW += glyphs[i].w + 1;
    grid.w = std::max(grid.w, rowW);
  }
  grid.h = 1 + rows * (height + 1);
  grid.pixels.assign(size_t(grid.w) * grid.h, 255);
  for (int r = 0; r < rows; ++r) {
    int x = 1, y = 1 + r * (height + 1);
    for (int i = r * kGlyphsPerRow; i < std::min<int>((r + 1) * kGlyphsPerRow, glyphs.size()); ++i) {
      const MonoGlyph& g = glyphs[i];
      for (int gy = 0; gy < height; ++gy)
        for (int gx = 0; gx < g.w; ++gx) grid.pixels[size_t(y + gy) * grid.w + x + gx] = 0;
      for (int row = 0; row < g.inkH; ++row) {
        for (int col = 0; col < g.inkW; ++col) {
          if (!g.ink[size_t(row) * g.inkW + col]) continue;
          int gy = baseline - g.top + row, gx = g.left + col;
          if (gy < 0 || gy >= height || gx >= g.w) continue;
          grid.pixels[size_t(y + gy) * grid.w + x + gx] = 1;
        }
      }
      x += g.w + 1;
    }
  }
  return true;
}
