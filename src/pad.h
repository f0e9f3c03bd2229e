// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Gamepads: finding them at start-up, reading them, and what their controls mean.
// Pad 1 steers player 1 and pad 2 player 2, beside the keyboard and the mouse. This
// module alone installs and polls the library's joystick driver; the game reads the
// pads through the functions below, which poll before they read.
#include <allegro.h>

// Button numbers as the library counts them (from 0).
constexpr int kPadSquashButton = 0;  // the first face button: squash while held, jump on release
constexpr int kPadStartButton = 7;   // Start in the common layout: A B X Y LB RB Back Start

// Looks for gamepads with the library's autodetection and logs how many it found.
// Returns that count (0 when there are none or no driver could start).
int InstallPads();

// What one player's pad asks for now; nothing without that pad.
struct PadControls {
  int turn;     // +1 rolls right, -1 rolls left: the horizontal of the pad's first stick
  bool squash;  // the squash button is held
};
PadControls ReadPad(int player);

// Whether button `button` of player `player`'s pad is down now (false without that
// pad or that button).
bool PadButtonDown(int player, int button);

// Presses of any button of any pad, counted from a moment on: a button that was
// already down at that moment counts only after it has been let go and pressed again.
struct PadPresses {
  bool down[MAX_JOYSTICKS][MAX_JOYSTICK_BUTTONS];  // seen down at the last look
};
// Starts counting presses from now.
PadPresses WatchPadPresses();
// True when some button went down since the last look.
bool NewPadPress(PadPresses& presses);
