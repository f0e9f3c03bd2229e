// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The two globals every loop reads: the logic clock's pending ticks and the quit
// request. The start-up module (init.h) starts the clock and installs the close handler.
#include <atomic>

// Ticks of the 60 Hz logic clock not yet consumed by the main thread. Raised by the
// timer thread; the main thread decrements it and resets it to 0.
extern std::atomic<int> logic_time;
// Set by the window's close button, the menu's "Quit" or a quit signal; never cleared.
extern std::atomic<bool> quitnow;

// Logic ticks per second.
constexpr int kTicksPerSecond = 60;
