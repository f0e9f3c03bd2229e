// SPDX-License-Identifier: GPL-3.0-or-later
#include "debug.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <mutex>

std::ofstream debug("debug.txt", std::ios::out | std::ios::trunc);

namespace {
std::mutex& LogLock() {
  static std::mutex lock;
  return lock;
}

// The same file once more, appending: what a signal handler writes through.
int OpenForAppending(const char* path) { return open(path, O_WRONLY | O_APPEND | O_CLOEXEC); }
std::atomic<int> appendingLog{OpenForAppending("debug.txt")};
}  // namespace

void WriteLogEntry(const std::string& entry) {
  std::lock_guard<std::mutex> hold(LogLock());
  debug << entry << std::endl;
  debug.flush();
}

void ReopenLog(const std::string& path) {
  std::lock_guard<std::mutex> hold(LogLock());
  debug.close();
  debug.clear();
  debug.open(path, std::ios::out | std::ios::trunc);
  const int old = appendingLog.exchange(OpenForAppending(path.c_str()));
  if (old >= 0) close(old);
}

void WriteLogEntryFromSignal(const char* entry, size_t length) {
  const int fd = appendingLog.load();
  if (fd < 0) return;
  // One attempt: a short write leaves a torn line rather than a handler that loops.
  if (write(fd, entry, length) < 0) return;
}
