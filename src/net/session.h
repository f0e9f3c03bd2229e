// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A rollback session: two players on two computers run one simulation in step.
//
// The session owns the timeline of control readings and the saved states it may go back
// to; the game owns the simulation and carries out what the session asks of it (save,
// load, advance: sim/rollback.h), one request at a time. Player 0 is the host (player
// 1), player 1 the joiner. Every frame the game gives the session its local player's
// reading; the session files it a few ticks ahead (the input delay), predicts the remote
// player's reading (the last one seen) and has the next tick run at once. When the real
// remote readings arrive and a prediction was wrong, it loads the state saved before
// that tick and runs the ticks up to now again, inside the same frame. It never runs
// more than kMaxPrediction ticks past the last tick whose remote reading it knows (such
// a frame runs no tick and waits), and it keeps both computers' clocks close by letting
// the one that runs ahead skip a frame now and then. Every kChecksumInterval confirmed
// ticks both sides exchange a checksum of the state; the first one that differs marks
// the games as out of step.
//
// The session knows nothing of sockets: what it sends goes to an Outbox, and the caller
// hands it each Inputs and Checksum message that arrives.
#include <algorithm>
#include <array>
#include <cstdint>
#include <deque>
#include <initializer_list>
#include <vector>

#include "net/protocol.h"
#include "sim/rollback.h"

namespace net {

constexpr int kMaxPrediction = 8;        // ticks run ahead of the last known remote reading
constexpr int kMaxInputDelay = 6;        // ticks
constexpr int kDefaultInputDelay = 2;    // ticks: chosen by measurement (docs/performance.md)
constexpr uint32_t kChecksumInterval = 60;  // confirmed ticks between checksum exchanges
constexpr uint32_t kMaxRemoteAhead = 256;   // readings further ahead of us are not kept
// States kept to go back to: the prediction window, and room for the other side's end
// of a game that one player leaves (it may lie a round trip behind this side's tick).
constexpr size_t kSavedStates = 64;

class Outbox {
 public:
  virtual ~Outbox() = default;
  virtual void Send(const Message& message, bool reliable) = 0;
};

// What one frame did.
struct FrameReport {
  int rerunTicks = 0;          // ticks run again after going back
  bool ranTick = false;        // a new tick ran
  bool waitedForRemote = false;  // the prediction window was full
  bool skippedForSync = false;   // this computer was ahead and let the other catch up
};

class Session {
 public:
  Session(Outbox& outbox, int localPlayer, int inputDelay);

  // Each of these begins what the session does; its requests then come from Next(),
  // each to be carried out before the next is asked for, until Next() gives none.
  //
  // One frame: goes back and runs again where a prediction was wrong, then runs the next
  // tick with `reading` unless `hold` (paused, a level screen), the game's level is over
  // or the window is full, and sends this side's unacknowledged readings (Report()).
  void BeginFrame(uint8_t reading, bool hold);
  // Leaving a game: it ends at ConfirmedTick() (the game goes back there), the other side
  // is sent reliably the readings of ours it lacks before that tick, then Quit naming it
  // (value: the tick + 1). Changed() when the game went back.
  void BeginLeave();
  // The other side left with Quit value `end` (the number of its game's ticks + 1): the
  // game goes back, or runs on with confirmed readings, to that many ticks, so both
  // computers keep the same game. Without a usable end (0: none named) it takes back
  // the ticks run on predictions, back to ConfirmedTick(): a game that ends before its
  // ticks are all confirmed ends where both computers agree. Changed() when the state
  // changed.
  void BeginSettleAt(uint32_t end);
  // The next request, or nullptr when what was begun is done.
  Request* Next();
  const FrameReport& Report() const { return report_; }
  bool Changed() const { return changed_; }
  // Ticks before this one are confirmed on both computers (as far as this side has heard
  // from the other): the ticks a recording may keep before the game's end is known.
  uint32_t AgreedTick() const { return std::min(ConfirmedTick(), peerConfirmed_); }

  // An Inputs or Checksum message from the other side (others are ignored here).
  void Receive(const Message& message);

  uint32_t Tick() const { return tick_; }  // the next tick to run
  // Ticks before this one ran with both players' real readings and are final.
  uint32_t ConfirmedTick() const;
  // Both players' readings for a confirmed tick.
  std::array<uint8_t, 2> ConfirmedReadings(uint32_t tick) const;
  // True when a checksum differed; `firstDifferent` is the earliest such tick.
  bool OutOfStep() const { return outOfStep_; }
  uint32_t FirstDifferentTick() const { return firstDifferent_; }

 private:
  struct Check {
    uint32_t tick;
    uint32_t value;
  };
  // What Next() goes through, in order.
  enum class Step : uint8_t { GoBack, NewTick, SettleEnd, SendFrame, SendLeave };
  // A run of ticks under way: each tick's state saved (the game says whether its level
  // is over), the tick run, every kChecksumInterval-th state's checksum taken.
  struct TickRun {
    enum class Phase : uint8_t { Idle, Loaded, Saved, Advanced, Checked };
    Phase phase = Phase::Idle;
    uint32_t until = 0;     // runs no tick from this one on
    bool firstRun = true;   // false: ticks run again after going back
    bool fresh = false;     // the frame's new tick (the window and the clocks may hold it)
    bool settling = false;  // ticks run on to where the other side ended
  };

  void Plan(std::initializer_list<Step> steps);
  Request* Begin(Step step);
  Request* GoBack();
  StateCell* SavedAt(uint32_t tick);
  Request* LoadAt(uint32_t tick);
  Request* SettleEnd();
  Request* StartRun(uint32_t until);  // a first run (the run before it has ended)
  Request* ContinueRun();
  Request* SaveBeforeTick();
  Request* Advance();
  Request* EndRun();
  bool MayRunFreshTick();
  void KeepOwnCheck(uint32_t value);
  uint8_t RemoteReadingFor(uint32_t tick) const;
  bool AheadOfRemote();
  void SendChecksums();
  void CompareChecksums();
  void SendLeave();
  Message InputsFrom(size_t from) const;

  // What was begun.
  std::vector<Step> plan_;
  size_t planAt_ = 0;
  TickRun run_;
  Request request_;
  uint8_t reading_ = 0;
  bool hold_ = false;
  uint32_t settleEnd_ = 0;
  FrameReport report_;
  bool changed_ = false;
  StateCell scratch_;  // the state before a tick, until the tick runs
  StateCell check_;    // a state whose checksum is taken

  Outbox& outbox_;
  int local_;
  int delay_;
  uint32_t tick_ = 0;
  std::vector<uint8_t> localReadings_;   // by tick; the first `delay_` are 0
  std::vector<uint8_t> remoteReadings_;  // by tick, as far as known without a gap
  std::vector<uint8_t> usedRemote_;      // by tick: the remote reading each tick ran with
  uint32_t goBackTo_ = UINT32_MAX;       // earliest tick run with a wrong prediction
  std::array<StateCell, kSavedStates> saved_;
  uint32_t remoteAck_ = 0;  // the other side has our readings for ticks before this
  uint32_t peerConfirmed_ = 0;  // the other side has confirmed the ticks before this

  // Clocks.
  uint16_t frame_ = 0;
  uint16_t lastStamp_ = 0;
  uint16_t lastStampFrame_ = 0;
  bool heardStamp_ = false;
  std::deque<int> roundTrips_;     // frames (60 to the second), the latest few; averaged for the round trip
  std::deque<int> advantages_;     // ticks we ran ahead, sampled at each Inputs message
  int remoteAdvantage_ = 0;
  int framesSinceSkip_ = 0;

  // Checksums.
  std::deque<Check> ownChecks_;    // computed states at multiples of the interval
  std::deque<Check> sentChecks_;   // confirmed, sent, awaiting the other's
  std::deque<Check> remoteChecks_; // received, awaiting ours
  uint32_t nextCheck_ = kChecksumInterval;
  bool outOfStep_ = false;
  uint32_t firstDifferent_ = 0;
};

}  // namespace net
