// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Fonts, single-bitmap loading and the splash screen.
#include <allegro.h>

// The current font; never null. Starts as the library's built-in font.
extern FONT* globalFont;

// The current font.
FONT* Font();
// Makes `f` the current font; null is ignored.
void SetGlobalFont(FONT* f);
// Loads the datafile `file` and returns its first object as a font, or null when the
// file cannot be loaded, its first object is not a font, or a glyph of that font is
// damaged (a file cut short). The datafile of a font returned stays loaded.
FONT* GetFont(const char* file);

// Loads a bitmap the caller owns; ends the process with status 1 when it cannot.
BITMAP* LoadBitmap(const char* file, RGB* palette);
// Shows the picture `file` centred over `buffer` (the back buffer) until Enter is
// pressed, with a prompt once logic_time is above 60. A null buffer or a missing
// picture end the process with status 1; Escape or the quit request with status 0.
void DoSplash(const char* file, BITMAP* buffer);
