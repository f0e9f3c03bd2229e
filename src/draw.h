// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Drawing the play screen: the splatter layer, the flies, the bananas, the texts over
// them and the walls. Drawing reads the game and changes nothing in it; in a local game
// it draws from rand() as the rules have it (the flies' pictures, the CRAZY text).
#include <allegro.h>

constexpr int kHalfTurnUnits = 128;  // the library's angle units for half a turn

// Colours of the play screens.
int White();
int Black();
int Red();

// A screen of one or two lines (`second` may be null), centred, black on white: the level
// screens and the network game's own.
void DrawTextScreen(BITMAP* buffer, const char* first, const char* second);
