#pragma once
// The sync test: catches a tick that reads anything outside the game state before it
// reaches a network. At every check it saves the state, runs the next N ticks keeping
// each tick's checksum, goes back to the saved state, runs the same ticks again and
// compares the checksums. A tick that depends on anything but the state and its
// readings (a forgotten device read, a draw from a generator the state does not hold,
// memory it does not own) gives different checksums the second time.
#include <cstdint>

#include "game.h"

// What drives a game tick by tick: where its readings come from, and what happens
// between ticks (level screens, a frame's drawing). What it keeps besides the game state
// must be able to go back to a mark.
class TickDriver {
 public:
  virtual ~TickDriver() = default;
  // Runs one tick (with what comes before it); false, running none, when the game is over.
  virtual bool Step(GameState& game) = 0;
  // Remembers where the driver stands; Rewind goes back there.
  virtual void Mark() = 0;
  virtual void Rewind() = 0;
};

struct SyncTestReport {
  int64_t ticks = 0;        // ticks played (each run twice)
  int64_t checks = 0;       // checksums compared
  int64_t mismatches = 0;   // checksums that differed
  int64_t firstMismatch = -1;  // tick of the first, or -1
};

// Plays `game` with `driver` to its end (or `maxTicks`), checking every `distance`
// ticks (1 to 8) as above. Adds to `report`.
void RunSyncTest(GameState& game, TickDriver& driver, int distance, int64_t maxTicks,
                 SyncTestReport& report);
