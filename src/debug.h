// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The trace log "debug.txt": one line per entry, "(src/init.cpp:42) Installing mouse."
#include <fstream>
#include <sstream>
#include <string>

// Opened (truncated) during static initialisation in the directory the process
// started in; closed at the normal end of the process.
extern std::ofstream debug;

// Writes one finished entry and flushes it. Entries are composed first and written
// whole under a lock, so the close notice from the window thread never interleaves
// with a main-thread line.
void WriteLogEntry(const std::string& entry);

// Reopens the log as `path` (truncated), for tests that keep a log of their own.
void ReopenLog(const std::string& path);

// Appends one finished entry of `length` bytes (its line end included) with a single
// write to the file, bypassing the stream: safe inside a signal handler, where the
// stream's lock and allocations are not. For the crash notice only.
void WriteLogEntryFromSignal(const char* entry, size_t length);

template <typename... Pieces>
void LogEntry(const char* file, int line, const Pieces&... pieces) {
  std::ostringstream entry;
  entry << "(" << file << ":" << line << ") ";
  (entry << ... << pieces);
  WriteLogEntry(entry.str());
}

// The source path and line number are those of the point of use.
#define LOG(...) LogEntry(__FILE__, __LINE__, __VA_ARGS__)
