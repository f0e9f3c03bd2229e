// SPDX-License-Identifier: GPL-3.0-or-later
// nanasplat-server-check: re-runs the replay on standard input and writes its verdict as
// one JSON line on standard output. The board starts it in a child process of its own
// (checker.h); it opens nothing: once the replay is read it may hold no file but the
// three it was given, and its CPU time is cut down to what the replay's claimed length
// needs.
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "checker.h"
#include "verify.h"

namespace {

constexpr size_t kMaxInputBytes = (1 << 20) + 1;  // one byte more than any replay may hold

void LimitCpuTo(int64_t ticks) {
  rusage used{};
  getrusage(RUSAGE_SELF, &used);
  const rlim_t seconds = static_cast<rlim_t>(used.ru_utime.tv_sec + used.ru_stime.tv_sec + CpuSecondsFor(ticks));
  rlimit limit{};
  getrlimit(RLIMIT_CPU, &limit);
  if (seconds < limit.rlim_cur) {
    limit.rlim_cur = seconds;
    setrlimit(RLIMIT_CPU, &limit);
  }
}

}  // namespace

int main() {
  std::string bytes;
  char chunk[65536];
  for (;;) {
    const ssize_t n = read(STDIN_FILENO, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return 3;
    if (n == 0) break;
    bytes.append(chunk, static_cast<size_t>(n));
    if (bytes.size() > kMaxInputBytes) break;
  }
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
  // (A sanitizer's runtime opens files of its own when it checks: not in those builds.)
  const rlimit noMoreFiles{3, 3};  // standard input, output and error
  setrlimit(RLIMIT_NOFILE, &noMoreFiles);
#endif
  const Verdict verdict = VerifyReplay(bytes, LimitCpuTo);
  const std::string line = VerdictToJson(verdict);
  return std::fwrite(line.data(), 1, line.size(), stdout) == line.size() && std::fflush(stdout) == 0 ? 0 : 3;
}
