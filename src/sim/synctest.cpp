#include "synctest.h"

#include <vector>

void RunSyncTest(GameState& game, TickDriver& driver, int distance, int64_t maxTicks,
                 SyncTestReport& report) {
  constexpr int kMaxDistance = 8;
  if (distance < 1) distance = 1;
  if (distance > kMaxDistance) distance = kMaxDistance;
  std::vector<unsigned char> saved;
  uint64_t first[kMaxDistance];
  int64_t played = 0;
  while (played < maxTicks) {
    SaveGame(game, saved);
    driver.Mark();
    int ran = 0;
    while (ran < distance && played + ran < maxTicks && driver.Step(game)) first[ran++] = GameChecksum(game);
    if (ran == 0) return;

    RestoreGame(game, saved.data(), saved.size());
    driver.Rewind();
    for (int i = 0; i < ran; ++i) {
      const bool stepped = driver.Step(game);
      ++report.checks;
      if (!stepped || GameChecksum(game) != first[i]) {
        if (report.firstMismatch < 0) report.firstMismatch = report.ticks + i;
        ++report.mismatches;
      }
    }
    report.ticks += ran;
    played += ran;
    if (ran < distance) return;  // the game ended inside this stretch
  }
}
