// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Attract mode: while nobody plays, the title menu shows a recorded game.
//
// This module owns the title menu's idle clock, the choice of the demo to show (the
// player's own best replay when it reads back, otherwise the demo games installed with
// the media in "demos/", one after the other), the demo's quiet sound, and the
// player's input while a demo plays: any key, mouse movement, click or pad button ends
// the demo at once and does nothing else (a key pressed then is kept from the game
// and the menu until it is let go; the menu waits for the mouse buttons to be let go).
// A demo is played back like a watched replay, marked "DEMO": it writes no replay and
// offers no score. The setting "attract = off" turns the mode off.
#include <allegro.h>

#include <functional>

#include "menu.h"
#include "replayfile.h"

// Idle time on the title menu before a demo starts (milliseconds). The environment
// variable NANASPLAT_ATTRACT_IDLE_MS sets another, for tests.
constexpr int kAttractIdleMs = 30000;

// How a demo is played (watched with the game's bitmaps, marked "DEMO"; `stop` says when
// input has interrupted it). Called once before the menu first shows; reads the idle time.
using PlayDemoGame = std::function<void(const Replay& demo, bool (*stop)())>;
void SetUpAttractMode(PlayDemoGame playDemo);

// Once per pass of the title menu's loop: watches for input and, after the idle time
// without any on the title page, plays one demo and returns to the menu when it ends
// or the player touches a control.
void AttractModeFrame(Menu& menu, BITMAP* backbuffer);

// For tests: the idle time (milliseconds), and whether a demo is being shown.
void SetAttractIdleMs(int ms);
bool DemoPlaying();
