#pragma once
#include <allegro.h>

#include "vec2.h"

// Paints a splat of 150 green-yellow dots within 27 pixels of `pos` onto `bmp`.
void Splatter(BITMAP* bmp, Vec2<double> pos);
