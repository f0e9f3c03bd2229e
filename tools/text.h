// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Text for the media generator, rasterised with FreeType: anti-aliased coverage masks for
// the pictures, and the one-colour glyph grid from which the game's font is packed.
#include <cstdint>
#include <string>
#include <vector>

#include "paint.h"

struct Typeface {
  void* library = nullptr;  // FT_Library
  void* face = nullptr;     // FT_Face
  bool Open(const std::string& path);
  ~Typeface();
};

// Advance width of `text` at `pixels` em size, in pixels.
int TextWidth(Typeface& tf, int pixels, const std::string& text);

// The text's coverage with its baseline's left end at (x, baseline), padded by `pad`
// pixels on every side so that it can be dilated into an outline.
Mask TextMask(Typeface& tf, int pixels, const std::string& text, int x, int baseline, int pad = 0);

// A one-colour glyph grid in the library's bitmap-font layout for the characters
// 32..126: 8-bit pixels, 0 = empty, 1 = ink, 255 = the border around every glyph cell.
// Every cell is `height` pixels high. Returns false if the face cannot fit in it.
struct GlyphGrid {
  int w = 0, h = 0;
  std::vector<uint8_t> pixels;
};
bool MakeGlyphGrid(Typeface& tf, int height, GlyphGrid& grid, int* emPixels);
