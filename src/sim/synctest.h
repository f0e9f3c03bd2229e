// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The sync test: catches a tick that reads anything outside the game state before it
// reaches a network. At every check it saves the state, runs the next N ticks keeping
// each tick's checksum, goes back to the saved state, runs the same ticks again and
// compares the checksums. A tick that depends on anything but the state and its
// readings (a forgotten device read, a draw from a generator the state does not hold,
// memory it does not own) gives different checksums the second time. It asks the game
// to save, load and advance as the rollback session of a game on two computers does
// (rollback.h).
#include <cstdint>

#include "game.h"
#include "rollback.h"

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

// The test's requests: stretches of `distance` ticks (1 to 8), each run, gone back over
// and run again, until `maxTicks` or a tick the game does not run (an Advance answered
// with `ran` false). Adds to `report`.
class SyncTestSession {
 public:
  SyncTestSession(int distance, int64_t maxTicks, SyncTestReport& report);
  // The next request, or nullptr when the test is over.
  Request* Next();

 private:
  static constexpr int kMaxDistance = 8;
  Request* BeginStretch();
  Request* Step();
  Request* Back();
  void Compare(bool same);

  int distance_;
  int64_t maxTicks_;
  SyncTestReport& report_;
  Request request_;
  StateCell mark_;
  StateCell check_;
  uint64_t first_[kMaxDistance] = {};
  int64_t played_ = 0;
  int ran_ = 0;      // ticks of this stretch run the first time
  int again_ = -1;   // ... and the second (-1: still the first run)
  bool begun_ = false;
  bool over_ = false;
};

// Plays `game` with `driver` to its end (or `maxTicks`), checking every `distance`
// ticks as above: the test's requests carried out on the game. Adds to `report`.
void RunSyncTest(GameState& game, TickDriver& driver, int distance, int64_t maxTicks,
                 SyncTestReport& report);
