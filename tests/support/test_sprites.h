// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Sprites for tests, made in memory: no picture files involved.
#include <allegro.h>

#include "image.h"

// A w x h memory bitmap whose every pixel differs from its neighbours and from the
// mask colour, wrapped in an image entry; the bitmap is destroyed with it.
struct TestSprite {
  Image image;

  TestSprite(int w, int h, const char* name = "test sprite") : image{create_bitmap(w, h), name} {
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        putpixel(image.bitmap, x, y, makecol(8 + (x * 8) % 240, 8 + (y * 4) % 240, 8 + ((x + y) * 8) % 128));
      }
    }
  }
  ~TestSprite() { destroy_bitmap(image.bitmap); }
  TestSprite(const TestSprite&) = delete;
  TestSprite& operator=(const TestSprite&) = delete;

  Image* get() { return &image; }
};

// The banana sprite's size and the flies' (pixels).
constexpr int kTestNanaW = 174;
constexpr int kTestNanaH = 60;
constexpr int kTestFlyW = 42;
constexpr int kTestFlyH = 38;
