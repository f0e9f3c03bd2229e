// SPDX-License-Identifier: GPL-3.0-or-later
#include "debug.h"

#include <mutex>

std::ofstream debug("debug.txt", std::ios::out | std::ios::trunc);

namespace {
std::mutex& LogLock() {
  static std::mutex lock;
  return lock;
}
}  // namespace

void WriteLogEntry(const std::string& entry) {
  std::lock_guard<std::mutex> hold(LogLock());
  debug << entry << std::endl;
  debug.flush();
}
