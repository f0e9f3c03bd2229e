// SPDX-License-Identifier: GPL-3.0-or-later
// Replays the board must refuse, made from a real one and written intact (sound
// checksum and zlib), so that only the board's re-run can tell:
//
//   craft_board_replays forge IN OUT   the summary claims five points more
//   craft_board_replays math IN OUT    it claims the C library's trigonometry
#include <cstdio>
#include <string>

#include "replay.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: craft_board_replays forge|math IN OUT\n");
    return 2;
  }
  const std::string what = argv[1];
  Replay replay;
  std::string error;
  if (!LoadReplay(argv[2], replay, error)) {
    std::fprintf(stderr, "%s: %s\n", argv[2], error.c_str());
    return 1;
  }
  if (what == "forge") {
    replay.summary.p1Score += 5;
  } else if (what == "math") {
    replay.mathRevision = 0;
  } else {
    return 2;
  }
  FILE* out = std::fopen(argv[3], "wb");
  if (out == nullptr) return 1;
  const std::string bytes = EncodeReplay(replay);
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
  return std::fclose(out) == 0 && written ? 0 : 1;
}
