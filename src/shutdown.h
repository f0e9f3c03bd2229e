// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Ends from outside the game: SIGTERM, SIGINT, SIGHUP and SIGQUIT, and a lost X
// display; and ends by a fault of the game's own: SIGSEGV, SIGBUS, SIGFPE, SIGABRT and
// SIGILL.
//
// A quit signal only records itself and sets quitnow, the quit request every loop of
// the game already reads; the main thread then leaves the way it does for the close
// button, and the last log line names the signal. A message box of the library open
// at that moment is closed, and the run ends with the status it was ending with (1
// for a missing picture). The library's own handler for these signals (which shuts
// the library down inside the signal) is replaced once the library is up. A display
// that goes away ends the process at once, with a log line and kLostDisplayStatus. A
// quit signal that was ignored when the process started (as under nohup) stays ignored.
// A crash signal writes one log line naming it (composed and written without the log
// stream, which a signal handler may not use) and then takes its default action: the
// process ends at once, with a core where the system keeps them.

// Exit status when the X display is lost.
constexpr int kLostDisplayStatus = 1;

// Called first thing in start-up, before the library starts: quit signals are held
// back (the library's threads, started meanwhile, keep them held back for good); a
// lost display and crash signals are caught from here on.
void HoldQuitSignals();

// Called right after the library starts (which puts in handlers of its own for the
// crash signals): ours take the crash signals back.
void HandleCrashSignals();

// Called once the library is up: our handler takes over the quit signals, the held
// ones are let through to it, and the end of the process logs the signal, if any.
void HandleQuitSignals();

// The quit signal received (SIGTERM, SIGINT, SIGHUP or SIGQUIT), or 0 while there is none.
int QuitSignal();

// "SIGTERM", "SIGINT", "SIGHUP", "SIGQUIT", or "another signal".
const char* QuitSignalName(int signal);
// "SIGSEGV", "SIGBUS", "SIGFPE", "SIGABRT", "SIGILL", or "another signal".
const char* CrashSignalName(int signal);

// The log line written at the end of a run that a quit signal ended.
void LogQuitSignal();
