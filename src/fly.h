#pragma once
// The flies' pictures.
#include <allegro.h>

#include <vector>

#include "sim/flies.h"

// Draws the flies, now and then with their second frame. One rand() per fly. Without
// one of the pictures the other is drawn, or nothing.
void DrawFlies(const std::vector<Fly>& flies, BITMAP* frame1, BITMAP* frame2, BITMAP* dest);
