// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Re-running a replay away from the server: each job runs the checker program
// (nanasplat-server-check, beside the server) in a child process of its own, with
// limits on its memory and CPU time, no network and no files, and reads its verdict
// back. A child that dies, overruns or answers nonsense gives a refusal.
#include <string>

#include "verify.h"

// The limits.
constexpr long kCheckMemoryBytes = 512L << 20;      // address space of the child
constexpr long kCheckCpuCeilingSeconds = 120;       // whatever the replay claims
constexpr long kTicksPerCpuSecond = 20000;          // the slowest re-run we allow (ticks per CPU second)
constexpr size_t kMaxVerdictBytes = 64 * 1024;

// The checker program beside the running server.
std::string CheckerBesideServer();

// Runs `checker` on `replay` and returns what it found.
Verdict CheckInChild(const std::string& checker, const std::string& replay);

// The verdict as one JSON line (the checker writes it), and read back; false when
// `text` is no verdict.
std::string VerdictToJson(const Verdict& verdict);
bool VerdictFromJson(const std::string& text, Verdict& verdict);

// The checker's CPU limit for a replay that claims `ticks` (seconds): one second and
// one more per kTicksPerCpuSecond ticks.
long CpuSecondsFor(int64_t ticks);
