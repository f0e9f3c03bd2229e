// SPDX-License-Identifier: GPL-3.0-or-later
// STAND-IN: this build has no headless replay checker yet, so nothing is verified and
// every replay is refused with the reason below. It is replaced by the re-run of the
// game's own replay reader and simulation as soon as those build without the game
// library.
#include "verify.h"

Verdict VerifyReplay(const std::string&, void (*)(int64_t)) {
  Verdict verdict;
  verdict.reason = "not verified: this server was built without the replay checker";
  return verdict;
}

bool VerifierAvailable() { return false; }
