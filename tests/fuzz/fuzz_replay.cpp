// SPDX-License-Identifier: GPL-3.0-or-later
// libFuzzer target for the reader of replay files: any bytes are either refused with a
// reason or read into a replay that writes back into the very same bytes, without a
// crash, a hang or undefined behaviour.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "replay.h"

namespace {
void Check(bool holds) {
  if (!holds) std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  Replay replay;
  std::string error;
  if (!DecodeReplay(bytes, replay, error)) {
    Check(!error.empty());
    return 0;
  }
  Check(replay.players == 1 || replay.players == 2);
  Check(replay.summary.level >= 1 && replay.summary.ticks >= 0);
  for (const auto& runs : replay.controls) {
    for (const ReplayRun& run : runs) Check(run.value <= 5 && run.count > 0);
  }
  Replay again;
  Check(DecodeReplay(EncodeReplay(replay), again, error));
  Check(EncodeReplay(again) == EncodeReplay(replay));
  return 0;
}
