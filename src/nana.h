#pragma once
// The banana's picture: drawing a banana body (sim/banana.h) with its sprite.
#include <allegro.h>

#include "image.h"
#include "sim/banana.h"

// The size of an entry's picture; 0 x 0 without one.
SpriteSize SizeOf(const Image* image);

// The sprite turned by half a turn on the mask colour (255, 0, 255), for drawing
// upside-down bananas squashed; null (logged) when it cannot be made, or without a
// sprite. The caller destroys it.
BITMAP* MakeFlippedCopy(BITMAP* sprite);

// Draws `nana` into `dest`: turned to its angle, or, upside down, `flipped` stretched
// to its squash (without a flipped copy, turned like any other). Nothing without a sprite.
void DrawNana(const Nana& nana, BITMAP* sprite, BITMAP* flipped, BITMAP* dest);
