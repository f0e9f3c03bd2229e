#pragma once
// Painting splats into the splatter layer.
#include <allegro.h>

#include "sim/game.h"
#include "vec2.h"

// Paints a splat of 150 green-yellow dots within 27 pixels of `pos` onto `bmp`
// (clipped at its edges), drawing its numbers from rand(): six per dot, also when
// `bmp` is null.
void Splatter(BITMAP* bmp, Vec2<double> pos);
// Paints a splat from its record: the same pixels as Splatter gave when the record's
// numbers were drawn. Draws no random number.
void PaintSplat(BITMAP* bmp, const GameState& game, const Splat& splat);
// The layer as the game's splats left it: white, then every splat in order.
void RepaintSplats(BITMAP* bmp, const GameState& game);
