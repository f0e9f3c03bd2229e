// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Start-up on the library, the logic clock and the quit request.
#include <allegro.h>

#include "clock.h"

// Brings up the library, a w x h graphics mode, the media directory as the working
// directory, the logic timer, the close handler and the window title; quit signals
// are held back until all of it is up, then set the quit request (src/shutdown.h).
// Returns a new back buffer of w x h (null if it cannot be created). Ends the process
// with status 1 when no graphics mode can be set.
BITMAP* Init(int w, int h, const char* title);

// Makes the directory "media" beside the executable the working directory, for a run
// without a display (the library started without a system driver).
void ChangeToMediaDirectoryWithoutDisplay();

// Timer callback: one more pending logic tick.
void logic_timer();
// Close-button callback: logs the request and sets quitnow.
void Close();

// Makes the font of the datafile `file` the global font, or the built-in font when it
// cannot be loaded.
void SetFont(const char* file);
