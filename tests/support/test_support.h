// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Helpers shared by the test programs.
#include <allegro.h>

#include <string>
#include <vector>

// Gives this test process a scratch working directory of its own and reopens the
// log there, so tests running in parallel never share a "debug.txt".
void PrepareTestProcess();
// The scratch directory made by PrepareTestProcess (absolute path).
const std::string& ScratchDir();

// Truncates this process's log.
void ResetLog();
// The lines of this process's log, without line ends.
std::vector<std::string> LogLines();
// The log lines with their "(path:line) " prefix removed.
std::vector<std::string> LogMessages();

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& contents);

// Whether two bitmaps have the same size and the same pixels.
bool SamePixels(BITMAP* a, BITMAP* b);
// How many pixels of `bmp` are not white.
int CountNonWhite(BITMAP* bmp);

// Presses or releases key `k` as the keyboard does: the key state and the low-level
// keyboard callback's report (which counts the toggles' presses, see taps.h).
void PressKey(int k);
void ReleaseKey(int k);

// Installs the game's 60 Hz logic timer once (window tests only).
void StartLogicTimer();
