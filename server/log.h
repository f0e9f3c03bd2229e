// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The server's log: one line per event on standard error, composed first and written
// with one write, so lines from several threads never interleave (journald keeps each
// as one entry). No time stamp: the journal adds its own.
#include <sstream>
#include <string>

void WriteServerLogLine(const std::string& line);

template <typename... Pieces>
void ServerLog(const Pieces&... pieces) {
  std::ostringstream line;
  (line << ... << pieces);
  WriteServerLogLine(line.str());
}
