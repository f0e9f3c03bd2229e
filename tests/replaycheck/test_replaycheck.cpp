// SPDX-License-Identifier: GPL-3.0-or-later
// The unseen re-run of a replay, as a server links it: no game library in this program.
// Every golden replay re-run ends exactly as recorded (its end state included); a
// replay with one reading changed does not.
#include <gtest/gtest.h>

#include <dirent.h>

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "replaycheck.h"

namespace {

// A BMP file's size from its header (width and height, little-endian, at bytes 18 and 22).
SpriteSize BmpSize(const char* name) {
  std::ifstream in(std::string(NANASPLAT_MEDIA_DIR) + "/" + name, std::ios::binary);
  unsigned char head[26] = {};
  in.read(reinterpret_cast<char*>(head), sizeof head);
  if (!in || head[0] != 'B' || head[1] != 'M') return {0, 0};
  auto word = [&](int at) { return head[at] | head[at + 1] << 8 | head[at + 2] << 16 | head[at + 3] << 24; };
  const int height = word(22);
  return {word(18), height < 0 ? -height : height};
}

RerunSetup GameSetup() {
  RerunSetup setup;
  setup.area = {1024, 768};
  setup.banana = BmpSize("banana_sm1.bmp");
  setup.fly = BmpSize("fly1.bmp");
  setup.gameVersion = NANASPLAT_VERSION;
  return setup;
}

std::vector<std::string> GoldenReplays() {
  std::vector<std::string> files;
  DIR* dir = opendir(NANASPLAT_GOLDEN_DIR);
  if (dir == nullptr) return files;
  while (dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".nsr") == 0) {
      files.push_back(std::string(NANASPLAT_GOLDEN_DIR) + "/" + name);
    }
  }
  closedir(dir);
  return files;
}

Replay Load(const std::string& file) {
  Replay replay;
  std::string error;
  EXPECT_TRUE(LoadReplay(file, replay, error)) << file << ": " << error;
  return replay;
}

TEST(ReplayCheck, EveryGoldenReplayRerunUnseenEndsAsRecorded) {
  const RerunSetup setup = GameSetup();
  ASSERT_GT(setup.banana.w, 0);
  ASSERT_GT(setup.fly.w, 0);
  const std::vector<std::string> files = GoldenReplays();
  ASSERT_GE(files.size(), 4u);
  for (const std::string& file : files) {
    SCOPED_TRACE(file);
    const Replay replay = Load(file);
    const Replay replayed = RerunReplay(replay, setup);
    EXPECT_TRUE(SameEnd(replayed.summary, replay.summary)) << CheckReport(replay, replayed);
    EXPECT_EQ(CheckReport(replay, replayed), "replay: " + SummaryText(replay.summary) + ": matches");
    // The re-run's own record is the replay again: the same readings and frames.
    EXPECT_EQ(TotalCount(replayed.frames), TotalCount(replay.frames));
    EXPECT_EQ(replayed.levelScreens, replay.levelScreens);
    // Twice in one process: the re-run starts from the replay, not from what ran before.
    EXPECT_TRUE(SameEnd(RerunReplay(replay, setup).summary, replay.summary));
  }
}

TEST(ReplayCheck, AReplayWithOneReadingChangedDiffers) {
  Replay replay = Load(std::string(NANASPLAT_GOLDEN_DIR) + "/quit_in_level_two_crazy.nsr");
  ASSERT_FALSE(replay.controls[0].empty());
  // Player 1 holds right through the first runs of the game instead of what was played.
  std::vector<ReplayRun> changed;
  for (int i = 0; i < 400; ++i) AppendRun(changed, ControlsCode({1, false}));
  const uint64_t skip = TotalCount(changed);
  uint64_t dropped = 0;
  for (const ReplayRun& run : replay.controls[0]) {
    for (uint32_t k = 0; k < run.count; ++k, ++dropped) {
      if (dropped >= skip) AppendRun(changed, run.value);
    }
  }
  replay.controls[0] = changed;
  const Replay replayed = RerunReplay(replay, GameSetup());
  EXPECT_FALSE(SameEnd(replayed.summary, replay.summary));
  const std::string report = CheckReport(replay, replayed);
  EXPECT_NE(report.find(": differs (replayed: "), std::string::npos) << report;
}

TEST(ReplayCheck, TheMediaFingerprintReadsSizesAndMasks) {
  PictureMask banana{true, 3, 2, {1, 0, 1, 0, 0, 0}};
  PictureMask fly{true, 9, 1, {0, 0, 0, 0, 0, 0, 0, 0, 1}};
  const uint32_t print = MediaFingerprint(banana, fly, fly);
  EXPECT_NE(print, 0u);
  EXPECT_EQ(MediaFingerprint(banana, fly, fly), print);
  PictureMask moved = fly;
  moved.masked = {1, 0, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_NE(MediaFingerprint(banana, moved, fly), print);
  PictureMask wider = fly;
  wider.width = 10;
  wider.masked.push_back(0);
  EXPECT_NE(MediaFingerprint(banana, wider, fly), print);
  EXPECT_NE(MediaFingerprint(banana, fly, PictureMask{}), print);
}

}  // namespace
