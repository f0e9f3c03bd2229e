// SPDX-License-Identifier: GPL-3.0-or-later
// The sync test over the golden replays and random two-player games: every tick run
// twice from a restored state gives the same checksums; and a tick that reads
// something outside the state is caught.
#include <allegro.h>
#include <gtest/gtest.h>

#include <dirent.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "drivers.h"
#include "replay.h"
#include "sim/synctest.h"

namespace {

// The media's sprite sizes, read from the pictures the game loads.
SpriteSize PictureSize(const char* name) {
  const std::string path = std::string(NANASPLAT_MEDIA_DIR) + "/" + name;
  BITMAP* picture = load_bitmap(path.c_str(), nullptr);
  if (picture == nullptr) return {0, 0};
  const SpriteSize size{picture->w, picture->h};
  destroy_bitmap(picture);
  return size;
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

GameState GameFor(const Replay& replay) {
  return GameState(replay.players == 2, PlayArea{}, PictureSize("banana_sm1.bmp"), PictureSize("fly1.bmp"));
}

void Print(const char* what, const SyncTestReport& r, double seconds) {
  std::printf("sync test, %s: %lld ticks, %lld checks, %lld mismatches (%.2f s)\n", what,
              static_cast<long long>(r.ticks), static_cast<long long>(r.checks),
              static_cast<long long>(r.mismatches), seconds);
}

double Since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

TEST(SyncTest, GoldenReplaysPlayedWithoutAPictureEndAsRecorded) {
  const std::vector<std::string> files = GoldenReplays();
  ASSERT_GE(files.size(), 4u);
  for (const std::string& file : files) {
    SCOPED_TRACE(file);
    Replay replay;
    std::string error;
    ASSERT_TRUE(LoadReplay(file, replay, error)) << error;
    GameState game = GameFor(replay);
    ReplayDriver driver(replay, game);
    while (driver.Step(game)) {
    }
    const ReplaySummary played = driver.Summary(game);
    EXPECT_EQ(played.level, replay.summary.level);
    EXPECT_EQ(played.p1Score, replay.summary.p1Score);
    EXPECT_EQ(played.p2Score, replay.summary.p2Score);
    EXPECT_EQ(played.ticks, replay.summary.ticks);
    EXPECT_EQ(played.timeUp, replay.summary.timeUp);
  }
}

TEST(SyncTest, GoldenReplaysRunTwiceFromEverySavedStateGiveTheSameChecksums) {
  const auto start = std::chrono::steady_clock::now();
  SyncTestReport report;
  int distance = 1;
  for (int pass = 0; pass < 2; ++pass) {
    for (const std::string& file : GoldenReplays()) {
      Replay replay;
      std::string error;
      ASSERT_TRUE(LoadReplay(file, replay, error)) << error;
      GameState game = GameFor(replay);
      ReplayDriver driver(replay, game);
      SyncTestReport one;
      RunSyncTest(game, driver, distance, INT64_MAX, one);
      // Going back and forth changed nothing: the game still ends as recorded.
      EXPECT_EQ(driver.Summary(game).p1Score, replay.summary.p1Score) << file;
      EXPECT_EQ(one.ticks, replay.summary.ticks) << file;
      report.ticks += one.ticks;
      report.checks += one.checks;
      report.mismatches += one.mismatches;
      distance = distance % 8 + 1;
    }
  }
  Print("golden replays, N = 1 to 8", report, Since(start));
  EXPECT_EQ(report.mismatches, 0);
  EXPECT_GE(report.ticks, 30000);
}

TEST(SyncTest, RandomTwoPlayerGamesWithTheirOwnGeneratorGiveTheSameChecksums) {
  const auto start = std::chrono::steady_clock::now();
  SyncTestReport report;
  int64_t splats = 0, crazies = 0;
  for (int distance = 1; distance <= 8; ++distance) {
    GameState game = NewTwoPlayerGame(OwnRandom(1000 + distance));
    RandomGameDriver driver(77 + distance);
    RunSyncTest(game, driver, distance, 8000, report);
    splats += driver.kills;
    crazies += driver.crazyStarts;
  }
  std::printf("  (%lld splats, %lld CRAZY starts, counted on both runs)\n", static_cast<long long>(splats),
              static_cast<long long>(crazies));
  Print("random two-player games, own generator, N = 1 to 8", report, Since(start));
  EXPECT_EQ(report.mismatches, 0);
  EXPECT_EQ(report.ticks, 64000);
  EXPECT_GT(splats, 0) << "the games killed flies";
  EXPECT_GT(crazies, 0) << "and went CRAZY";
}

TEST(SyncTest, RandomLocalTwoPlayerGamesSharingRandWithDrawingGiveTheSameChecksums) {
  const auto start = std::chrono::steady_clock::now();
  SyncTestReport report;
  srand(12);
  for (int distance = 1; distance <= 8; ++distance) {
    GameState game = NewTwoPlayerGame(CLibraryRandom());
    RandomGameDriver driver(300 + distance, true);
    RunSyncTest(game, driver, distance, 2000, report);
  }
  Print("random local two-player games, rand(), N = 1 to 8", report, Since(start));
  EXPECT_EQ(report.mismatches, 0);
  EXPECT_EQ(report.ticks, 16000);
}

// Drivers with a fault put in on purpose: the tick reads something the state does not hold.
class ReadsRand : public RandomGameDriver {
 public:
  using RandomGameDriver::RandomGameDriver;
  bool Step(GameState& game) override {
    const bool stepped = RandomGameDriver::Step(game);
    // A draw from the C library in a game with its own generator: rand()'s table is
    // not part of this game's state.
    if (!game.flies.empty()) game.flies.front().vel.x += rand() % 3 - 1;
    return stepped;
  }
};

int outside = 0;  // a counter no snapshot holds

class ReadsAGlobal : public RandomGameDriver {
 public:
  using RandomGameDriver::RandomGameDriver;
  bool Step(GameState& game) override {
    const bool stepped = RandomGameDriver::Step(game);
    game.p1.nana.pos.x += (++outside % 7 == 0) ? 0.5 : 0;
    return stepped;
  }
};

TEST(SyncTest, ATickThatReadsOutsideTheStateIsCaught) {
  for (int distance : {1, 4, 8}) {
    SCOPED_TRACE(distance);
    SyncTestReport drawn;
    GameState game = NewTwoPlayerGame(OwnRandom(5));
    ReadsRand randDriver(9);
    RunSyncTest(game, randDriver, distance, 400, drawn);
    EXPECT_GT(drawn.mismatches, 0);
    EXPECT_GE(drawn.firstMismatch, 0);
    EXPECT_LT(drawn.firstMismatch, 16);

    SyncTestReport counted;
    GameState other = NewTwoPlayerGame(OwnRandom(5));
    ReadsAGlobal globalDriver(9);
    RunSyncTest(other, globalDriver, distance, 400, counted);
    EXPECT_GT(counted.mismatches, 0);
  }
  // Without the fault the same games pass.
  SyncTestReport clean;
  GameState game = NewTwoPlayerGame(OwnRandom(5));
  RandomGameDriver driver(9);
  RunSyncTest(game, driver, 4, 400, clean);
  EXPECT_EQ(clean.mismatches, 0);
  EXPECT_EQ(clean.checks, 400);
}

}  // namespace

namespace {

// The sync test's requests for a game of `ticks` ticks whose state is a counter, as
// letters: S saves the state, C takes a checksum, A advances, L loads.
std::string SyncRequests(int distance, int64_t maxTicks, int ticks, SyncTestReport& report, bool glitch = false) {
  SyncTestSession session(distance, maxTicks, report);
  uint64_t state = 0;
  int runs = 0;
  std::string seen;
  while (Request* r = session.Next()) {
    switch (r->kind) {
      case Request::Kind::Save:
        seen += r->checksum ? 'C' : 'S';
        if (r->checksum) r->cell->checksum = state * 7919 + (glitch && ++runs == 3 ? 1 : 0);
        else r->cell->bytes.assign(1, static_cast<uint8_t>(state));
        break;
      case Request::Kind::Load:
        seen += 'L';
        state = r->cell->bytes.at(0);
        break;
      case Request::Kind::Advance:
        seen += 'A';
        r->ran = static_cast<int>(state) < ticks;
        if (r->ran) ++state;
        break;
    }
  }
  return seen;
}

}  // namespace

TEST(SyncTest, IsASessionOfSavesLoadsAndAdvancesLikeTheNetworks) {
  SyncTestReport report;
  // Stretches of two ticks; the game's third is its last.
  EXPECT_EQ(SyncRequests(2, 100, 3, report), "SACACLACACSACALAC");
  EXPECT_EQ(report.ticks, 3);
  EXPECT_EQ(report.checks, 3);
  EXPECT_EQ(report.mismatches, 0);
  // Stopped by the count of ticks, not by the game.
  SyncTestReport counted;
  EXPECT_EQ(SyncRequests(3, 4, 100, counted), "SACACACLACACACSACLAC");
  EXPECT_EQ(counted.ticks, 4);
  // A checksum that differs the second time is caught at its tick.
  SyncTestReport caught;
  SyncRequests(2, 100, 3, caught, true);
  EXPECT_EQ(caught.mismatches, 1);
  EXPECT_EQ(caught.firstMismatch, 0);
}
