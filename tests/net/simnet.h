// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A network inside one process, for testing and measuring rollback sessions: two sides
// joined by a seeded link with delay, jitter, loss, duplication and reordering, played
// against each other frame by frame on a virtual clock. Every datagram goes through the
// real encoder and decoder.
#include <cstdint>
#include <functional>
#include <memory>
#include <random>
#include <vector>

#include "net/protocol.h"
#include "net/session.h"

namespace simnet {

// One direction of the link.
struct LinkConditions {
  int delayMs = 0;        // one way
  int jitterMs = 0;       // each datagram waits up to this much longer
  double loss = 0;        // unreliable datagrams lost (reliable ones are sent again)
  double duplicate = 0;   // datagrams that arrive twice
  double reorder = 0;     // datagrams held back one to three frames more
};

// A game as the tests carry out what a session asks of it.
class RollbackGame {
 public:
  virtual ~RollbackGame() = default;
  virtual void SaveState(std::vector<uint8_t>& into) = 0;
  virtual void LoadState(const std::vector<uint8_t>& from) = 0;
  // One tick with both players' readings; `firstRun` false: run again, nothing heard.
  virtual void AdvanceTick(const std::array<uint8_t, 2>& readings, bool firstRun) = 0;
  virtual uint32_t Checksum() = 0;
  virtual bool Stopped() = 0;  // its level is over: no further tick may run
};

// Carries out the session's requests on `game` until it asks nothing more; each of
// these begins what it names first.
void CarryOut(net::Session& session, RollbackGame& game);
net::FrameReport RunFrame(net::Session& session, RollbackGame& game, uint8_t reading, bool hold);
bool Leave(net::Session& session, RollbackGame& game);
bool SettleAt(net::Session& session, RollbackGame& game, uint32_t end);

// What a match plays: a game of levels that the session drives.
class MatchGame : public RollbackGame {
 public:
  virtual bool GameOver() = 0;   // stopped for good (time up)
  virtual void NextLevel() = 0;  // stopped with its level won: the next one begins
  virtual uint64_t Sounds() const = 0;  // effects played (from first runs only)
};

struct MatchConfig {
  uint64_t seed = 1;
  LinkConditions link;           // both directions alike
  int inputDelay[2] = {net::kDefaultInputDelay, net::kDefaultInputDelay};
  int startGapMs = 0;            // the second side starts this much later
  double clockSkew = 0;          // the second side's frames are this much longer (0.001 = 0.1 %)
  int maxFrames = 60 * 60 * 10;  // a match that has not ended by then has failed
  std::function<std::unique_ptr<MatchGame>(int side)> makeGame;
  bool timeFrames = false;       // measure each frame's CPU time
  int quitter = -1;              // this side's player quits (0 or 1; -1: nobody)...
  int quitAtFrame = 0;           // ... at this frame of its own
};

struct SideResult {
  uint32_t ticks = 0;
  bool outOfStep = false;
  uint32_t firstDifferent = 0;
  std::vector<uint8_t> finalState;
  std::vector<std::array<uint8_t, 2>> replay;  // both readings of every tick played
  uint64_t sounds = 0;
  uint64_t frames = 0;         // frames of play (not on a level screen)
  uint64_t waitedFrames = 0;   // frames the prediction window stopped
  uint64_t skippedFrames = 0;  // frames given up to let the other side catch up
  std::vector<int> rerunPerFrame;  // ticks re-run, per frame of play
  uint64_t bytesSent = 0;      // payload
  uint64_t datagramsSent = 0;
  double worstFrameMs = 0;     // CPU time of the slowest frame, re-runs included
  uint32_t mostAgreed = 0;     // the highest AgreedTick() seen during play (what was recorded)
  bool left = false;           // the game ended as one player quit
};

struct MatchResult {
  bool finished = false;  // both games reached their end within maxFrames
  SideResult side[2];
  double seconds = 0;     // virtual time the match took
};

MatchResult RunMatch(const MatchConfig& config);

// Bytes a datagram of `payload` bytes takes on the wire: ENet's header and command,
// then UDP over IPv4.
constexpr uint64_t kEnetOverhead = 12;
constexpr uint64_t kUdpIpOverhead = 28;

// A small deterministic stand-in for the game: two rollers on a line, flies that drift
// with the game's own seeded generator, kills and levels. `glitchTick` >= 0 makes the
// tick with that number differ on the side that has it (a non-deterministic tick).
std::unique_ptr<MatchGame> MakeToyGame(uint64_t seed, int glitchTick = -1);

}  // namespace simnet
