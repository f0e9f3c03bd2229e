// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Pausing play: the pause controls (P, the Pause key, a pad's Start; their presses are
// counted by taps.h), the pause that follows a loss of the window's input focus, and
// the texts of the paused screen.
// Game play calls it once per frame; other features read `Pause::paused`.
#include <allegro.h>

// The pause of the level being played.
struct Pause {
  bool paused = false;  // no tick runs and the level's clock stands still
};

constexpr int kPausedTitleAbove = 40;  // "Paused" stands this far above the screen's middle (pixels)

// Play begins unpaused. Presses of the pause controls (and of M) before now are
// forgotten, a control held now counts only once it has been let go, and a loss of
// focus before now is forgotten.
void StartPause(Pause& pause);

// Once per frame of play: takes one press of the pause controls (if any came), looks at
// the window's focus, pauses or resumes; true while paused. A pause keeps the picture
// last shown: as it begins, it is copied from the screen into `backbuffer`, where the
// paused frames find it. Resuming discards the pending ticks and puts `splatterLayer`
// back into `backbuffer`, where every frame of play starts.
bool UpdatePause(Pause& pause, BITMAP* backbuffer, BITMAP* splatterLayer);

// "Paused" and "Press P to go on." in black over what `buffer` holds.
void DrawPauseTexts(BITMAP* buffer);

// Asks the library to report when the window loses the input focus (on X11 it does so
// in the default display-switch mode, from its own event thread) and logs whether it
// can. Play pauses at the next frame after such a loss.
bool PauseWhenFocusIsLost();
// The focus-loss callback: safe on any thread.
void WindowLostFocus();
