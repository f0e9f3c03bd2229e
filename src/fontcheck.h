// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Damaged font datafiles: the library's font reader is given only whole font objects,
// and a loaded font is used only when every glyph of it can be drawn.
#include <allegro.h>

// Called before loading a font datafile. The library's font reader runs on past the end
// of a font object cut short and writes its glyphs past their allocations; from the
// first call on, it is given each font object whole, from memory (the missing bytes of
// a cut-short object as zeros), and the cut is recorded for FontLoadWasWhole.
void BeginFontLoad();
// Whether every font object read since BeginFontLoad was whole.
bool FontLoadWasWhole();

// Whether every glyph of `f` has a sane size (0 to 1024 pixels a side) and some glyph
// shows on screen. The library hands back the glyphs it could not read with a size of
// -1, and a font of only empty glyphs from a file cut early.
bool AllGlyphsSound(FONT* f);
