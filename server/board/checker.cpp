// SPDX-License-Identifier: GPL-3.0-or-later
#include "checker.h"

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <limits>
#include <climits>
#include <cstring>
#include <nlohmann/json.hpp>

namespace {

constexpr int kWallSecondsPerCpuSecond = 3;  // a child waits this long per CPU second it may use (the machine is shared)

void SetLimit(int resource, rlim_t value) {
  const rlimit limit{value, value};
  setrlimit(resource, &limit);
}

// In the child, between fork and exec: only system calls.
[[noreturn]] void BecomeChecker(const std::string& checker, int in, int out) {
  dup2(in, STDIN_FILENO);
  dup2(out, STDOUT_FILENO);
  const int null = open("/dev/null", O_WRONLY);
  if (null >= 0) dup2(null, STDERR_FILENO);
  close_range(3, ~0U, 0);
  // No network: a network namespace of its own, with nothing but a loopback that is down.
  if (unshare(CLONE_NEWNET) != 0) unshare(CLONE_NEWUSER | CLONE_NEWNET);
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
  // (A sanitizer's runtime maps terabytes of shadow memory at start and writes files of
  // its own: under these limits its checker could not run. The plain build keeps them.)
  SetLimit(RLIMIT_AS, kCheckMemoryBytes);
  SetLimit(RLIMIT_FSIZE, 0);
#endif
  SetLimit(RLIMIT_CPU, kCheckCpuCeilingSeconds);
  SetLimit(RLIMIT_CORE, 0);
  char* const argv[] = {const_cast<char*>(checker.c_str()), nullptr};
  char* const envp[] = {nullptr};
  execve(checker.c_str(), argv, envp);
  _exit(127);
}

Verdict Refused(std::string reason) {
  Verdict verdict;
  verdict.reason = std::move(reason);
  return verdict;
}

bool WriteAll(int fd, const std::string& bytes) {
  for (size_t at = 0; at < bytes.size();) {
    const ssize_t n = write(fd, bytes.data() + at, bytes.size() - at);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    at += static_cast<size_t>(n);
  }
  return true;
}

// Reads to the end, at most kMaxVerdictBytes, until `deadline`; false on a timeout.
bool ReadUntil(int fd, std::string& text, std::chrono::steady_clock::time_point deadline) {
  char chunk[4096];
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd p{fd, POLLIN, 0};
    const int ready = poll(&p, 1, static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return false;
    const ssize_t n = read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return true;
    if (text.size() < kMaxVerdictBytes) text.append(chunk, static_cast<size_t>(n));
  }
}

std::string HowItEnded(int status) {
  if (WIFSIGNALED(status)) {
    const int signal = WTERMSIG(status);
    if (signal == SIGXCPU || signal == SIGKILL) return "the re-run took longer than a game of its length may";
    return std::string("the re-run failed (") + (sigabbrev_np(signal) ? sigabbrev_np(signal) : "signal") + ")";
  }
  return "the re-run failed (status " + std::to_string(WEXITSTATUS(status)) + ")";
}

}  // namespace

long CpuSecondsFor(int64_t ticks) {
  const int64_t seconds = 1 + std::max<int64_t>(ticks, 0) / kTicksPerCpuSecond;
  return static_cast<long>(std::min<int64_t>(seconds, kCheckCpuCeilingSeconds));
}

std::string CheckerBesideServer() {
  char path[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return "nanasplat-server-check";
  std::string self(path, static_cast<size_t>(n));
  return self.substr(0, self.rfind('/') + 1) + "nanasplat-server-check";
}

Verdict CheckInChild(const std::string& checker, const std::string& replay) {
  int in[2], out[2];
  if (pipe2(in, O_CLOEXEC) != 0) return Refused("the server could not start a re-run");
  if (pipe2(out, O_CLOEXEC) != 0) {
    close(in[0]), close(in[1]);
    return Refused("the server could not start a re-run");
  }
  const pid_t child = fork();
  if (child == 0) BecomeChecker(checker, in[0], out[1]);
  close(in[0]);
  close(out[1]);
  if (child < 0) {
    close(in[1]), close(out[0]);
    return Refused("the server could not start a re-run");
  }
  WriteAll(in[1], replay);  // a child that stops reading has died: its status says why
  close(in[1]);
  std::string text;
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::seconds(kCheckCpuCeilingSeconds * kWallSecondsPerCpuSecond);
  const bool finished = ReadUntil(out[0], text, deadline);
  close(out[0]);
  if (!finished) kill(child, SIGKILL);
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  if (!finished) return Refused("the re-run took longer than a game of its length may");
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return Refused(HowItEnded(status));
  Verdict verdict;
  if (!VerdictFromJson(text, verdict)) return Refused("the re-run gave no verdict");
  return verdict;
}

std::string VerdictToJson(const Verdict& v) {
  nlohmann::json j = {{"verified", v.verified}, {"reason", v.reason}, {"mode", GameModeName(v.mode)},
                      {"level", v.level},       {"p1", v.p1Score},    {"p2", v.p2Score},
                      {"ticks", v.ticks},       {"game", v.game}};
  return j.dump() + "\n";
}

namespace {

// `key`'s value when it is a whole number from `lowest` to `highest` (a fraction, or a
// number beyond them, is no value: converting it would be undefined).
bool WholeNumber(const nlohmann::json& j, const char* key, int64_t lowest, int64_t highest, int64_t& out) {
  const nlohmann::json& value = j.at(key);
  if (value.is_number_unsigned()) {
    const uint64_t u = value.get<uint64_t>();
    if (u > static_cast<uint64_t>(highest)) return false;
    out = static_cast<int64_t>(u);
  } else if (value.is_number_integer()) {
    out = value.get<int64_t>();
  } else {
    return false;
  }
  return out >= lowest && out <= highest;
}

bool WholeInt(const nlohmann::json& j, const char* key, int& out) {
  int64_t wide = 0;
  if (!WholeNumber(j, key, std::numeric_limits<int>::min(), std::numeric_limits<int>::max(), wide)) return false;
  out = static_cast<int>(wide);
  return true;
}

}  // namespace

bool VerdictFromJson(const std::string& text, Verdict& v) {
  const nlohmann::json j = nlohmann::json::parse(text, nullptr, false);
  if (j.is_discarded() || !j.is_object()) return false;
  try {
    v.verified = j.at("verified").get<bool>();
    v.reason = j.at("reason").get<std::string>().substr(0, 300);
    if (!GameModeFromName(j.at("mode").get<std::string>(), v.mode)) return false;
    int64_t ticks = 0;
    if (!WholeInt(j, "level", v.level) || !WholeInt(j, "p1", v.p1Score) || !WholeInt(j, "p2", v.p2Score) ||
        !WholeNumber(j, "ticks", std::numeric_limits<int64_t>::min(), std::numeric_limits<int64_t>::max(), ticks)) {
      return false;
    }
    v.ticks = ticks;
    v.game = j.at("game").get<std::string>().substr(0, 128);
  } catch (const nlohmann::json::exception&) {
    return false;
  }
  return !v.verified || (v.level >= 1 && v.p1Score >= 0 && v.p2Score >= 0 && !v.game.empty());
}
