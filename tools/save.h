// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The media generator's output files, written by well-kept libraries: BMP pictures by
// the game library itself (so the game loads exactly what it saved) and PNG icons by
// libpng. This module owns the step from a finished canvas to 8-bit pixels on disk;
// it starts the game library headless (no system driver) when it needs it.
#include <cstdint>
#include <string>
#include <vector>

#include "paint.h"

// Writes a 24-bit BMP. With `empty` given (magenta for sprites), a pixel whose alpha is
// below one half becomes that colour and every other pixel keeps its own colour, never
// exactly `empty`. Without it every pixel keeps its colour (for opaque pictures).
bool SaveBmp24(const std::string& path, const Canvas& c, const Rgb* empty);

// Writes an 8-bit BMP of w x h palette indices (row by row from the top) with a palette
// of 256 entries of r, g, b. The library keeps six bits per palette channel, so only
// values it gives back unchanged (0, 255, and the other multiples of its scale) are
// accepted; anything else is refused rather than saved as a different colour.
bool SaveBmp8(const std::string& path, int w, int h, const std::vector<uint8_t>& pixels,
              const std::vector<uint8_t>& palette);

// Writes a compressed RGBA PNG with every pixel's own colour and opacity.
bool SavePng(const std::string& path, const Canvas& c);

// The 8-bit value of a channel (0..255, rounded to nearest).
uint8_t ToByte(float v);
