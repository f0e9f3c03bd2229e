// SPDX-License-Identifier: GPL-3.0-or-later
// libFuzzer target for the reader of the high-score file: any bytes must parse
// without a crash, a hang or undefined behaviour into a table that keeps its rules
// and reads back unchanged once written.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "highscores.h"

namespace {
void Check(bool holds) {
  if (!holds) std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
  const ScoreTable table = ParseScores(in);
  Check(table.count >= 0 && table.count <= kScoreTableSize);
  Check(static_cast<size_t>(table.count) == table.entries.size());
  Check(table.count > 0 || table.lowest == -1);
  for (const Score& entry : table.entries) {
    Check(!entry.name.empty());
    Check(entry.name.find('\n') == std::string::npos);
    Check(entry.name.back() != '\r');
  }
  // What is written reads back as the same table.
  std::istringstream again(SerialiseScores(table.entries));
  const ScoreTable back = ParseScores(again);
  Check(back.count == table.count && back.lowest == table.lowest);
  auto b = back.entries.begin();
  for (const Score& entry : table.entries) {
    Check(b->name == entry.name && b->score == entry.score);
    ++b;
  }
  return 0;
}
