// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Pausing play: the pause controls (P, the Pause key, a pad's Start), the pause that
// follows a loss of the window's input focus, and the texts of the paused screen.
// Game play calls it once per frame; other features read `Pause::paused`.
#include <allegro.h>

// The pause of the level being played.
struct Pause {
  bool paused = false;       // no tick runs and the level's clock stands still
  bool controlDown = false;  // P or a pad's Start was down at the last look: a press toggles once
  bool pauseKey = false;     // the library's Pause key state at the last look (see below)
};

constexpr int kPausedTitleAbove = 40;  // "Paused" stands this far above the screen's middle (pixels)

// Play begins unpaused. A pause control held now counts only once it has been let go,
// and a loss of focus before now is forgotten.
void StartPause(Pause& pause);

// Once per frame of play: looks at the pause controls and the window's focus, pauses
// or resumes, and returns whether play is paused. A pause keeps the picture last shown:
// as it begins, that picture is copied from the screen into `backbuffer`, where the
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
