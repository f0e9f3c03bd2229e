// SPDX-License-Identifier: GPL-3.0-or-later
#include "log.h"

#include <unistd.h>

#include <cerrno>

void WriteServerLogLine(const std::string& line) {
  std::string whole = line;
  for (char& c : whole) {
    if (c == '\n' || c == '\r') c = ' ';  // one event, one line
  }
  whole.push_back('\n');
  const char* data = whole.data();
  size_t left = whole.size();
  while (left > 0) {
    const ssize_t n = write(STDERR_FILENO, data, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    data += n;
    left -= static_cast<size_t>(n);
  }
}
