// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <allegro.h>

#include "vec2.h"

// Dots per splat, and the greatest distance of a dot from the centre (pixels).
constexpr int kSplatDots = 150;
constexpr int kSplatReach = 27;

// Paints a splat of 150 green-yellow dots within 27 pixels of `pos` onto `bmp`
// (clipped at its edges). Draws six random numbers per dot, also when `bmp` is null.
void Splatter(BITMAP* bmp, Vec2<double> pos);
