// SPDX-License-Identifier: GPL-3.0-or-later
// The board's decoders of outside input: a name sent with a replay (checked, then
// escaped for the page: what is accepted is valid UTF-8 and its escape holds no markup),
// and the verdict line a checker child writes (read back whole or refused).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "checker.h"
#include "name.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  if (NameProblem(text).empty()) {
    if (text.empty() || text.size() > kMaxNameBytes) std::abort();
    const std::string escaped = EscapeHtml(text);
    if (escaped.find_first_of("<>\"'") != std::string::npos) std::abort();
  }
  Verdict verdict;
  if (VerdictFromJson(text, verdict) && verdict.verified && (verdict.level < 1 || verdict.game.empty())) std::abort();
  return 0;
}
