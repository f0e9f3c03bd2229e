// SPDX-License-Identifier: GPL-3.0-or-later
// Rollback sessions played against each other over a simulated network, with a small
// deterministic game standing in for the real one.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>

#include "simnet.h"

using namespace simnet;

namespace {

MatchConfig Config(uint64_t seed, int delayMs, double loss) {
  MatchConfig config;
  config.seed = seed;
  config.link.delayMs = delayMs;
  config.link.jitterMs = delayMs / 5;
  config.link.loss = loss;
  config.link.duplicate = loss / 2;
  config.link.reorder = loss;
  config.startGapMs = static_cast<int>(seed % 200);
  config.clockSkew = (seed % 3) * 0.0005;
  config.makeGame = [seed](int) { return MakeToyGame(seed); };
  return config;
}

void ExpectSameGame(const MatchResult& m, const std::string& what) {
  ASSERT_TRUE(m.finished) << what;
  EXPECT_FALSE(m.side[0].outOfStep) << what;
  EXPECT_FALSE(m.side[1].outOfStep) << what;
  EXPECT_EQ(m.side[0].ticks, m.side[1].ticks) << what;
  EXPECT_EQ(m.side[0].finalState, m.side[1].finalState) << what;
  EXPECT_TRUE(m.side[0].replay == m.side[1].replay) << what;
  EXPECT_EQ(m.side[0].replay.size(), m.side[0].ticks) << what;
}

// The number of matches: the suite's default, or NANASPLAT_NET_MATCHES for a long run.
int Matches(int usual) {
  const char* n = std::getenv("NANASPLAT_NET_MATCHES");
  return n != nullptr ? std::atoi(n) : usual;
}

}  // namespace

TEST(RollbackMatches, TwoComputersNeverGoOutOfStepOverAnyNetwork) {
  const int matches = Matches(60);
  for (int i = 0; i < matches; ++i) {
    const int delayMs = (i * 37) % 126;    // one way: round trips of 0 to 250 ms
    const double loss = (i % 11) / 100.0;  // 0 to 10 %
    const MatchConfig config = Config(1000 + static_cast<uint64_t>(i), delayMs, loss);
    const MatchResult m = RunMatch(config);
    ExpectSameGame(m, "match " + std::to_string(i) + ", " + std::to_string(2 * delayMs) +
                          " ms, loss " + std::to_string(loss));
    // Two minutes or more of play each.
    EXPECT_GE(m.side[0].ticks, 7200u);
    if (HasFailure()) break;
  }
}

TEST(RollbackMatches, ItsOwnInputDelayOnEachSide) {
  for (int delay = 0; delay <= net::kMaxInputDelay; ++delay) {
    MatchConfig config = Config(77 + static_cast<uint64_t>(delay), 40, 0.03);
    config.inputDelay[0] = delay;
    config.inputDelay[1] = net::kMaxInputDelay - delay;
    ExpectSameGame(RunMatch(config), "delay " + std::to_string(delay));
  }
}

TEST(RollbackMatches, ANonDeterministicTickIsCaughtByTheChecksums) {
  for (int glitch : {0, 59, 60, 500, 2001}) {
    MatchConfig config = Config(5, 30, 0.02);
    config.makeGame = [glitch](int side) { return MakeToyGame(5, side == 1 ? glitch : -1); };
    const MatchResult m = RunMatch(config);
    for (int s = 0; s < 2; ++s) {
      EXPECT_TRUE(m.side[s].outOfStep) << "glitch at " << glitch << ", side " << s;
      // The first checksum after the odd tick.
      EXPECT_EQ(m.side[s].firstDifferent, (glitch / 60 + 1) * 60u) << glitch;
    }
  }
}

TEST(RollbackMatches, NeitherSideRunsAheadForLong) {
  // One side starts a third of a second late and its clock runs 0.2 % slow: the side
  // ahead gives up frames until the two run level, so few frames wait for readings.
  MatchConfig config = Config(9, 50, 0.02);
  config.startGapMs = 333;
  config.clockSkew = 0.002;
  const MatchResult m = RunMatch(config);
  ExpectSameGame(m, "late start");
  EXPECT_GT(m.side[0].skippedFrames, 10u);
  EXPECT_LT(m.side[0].waitedFrames + m.side[1].waitedFrames, 60u);
}

TEST(RollbackMatches, ReadingsAreRedundantAndSmall) {
  // Even with a tenth of the datagrams lost the game goes on, and the readings of a
  // frame take a few dozen bytes.
  const MatchResult m = RunMatch(Config(11, 50, 0.10));
  ExpectSameGame(m, "lossy");
  for (int s = 0; s < 2; ++s) {
    EXPECT_LT(static_cast<double>(m.side[s].bytesSent) / m.side[s].datagramsSent, 30.0);
  }
}

// --- One session up close ------------------------------------------------------

namespace {

// Counts how each tick was run.
class CountingGame : public RollbackGame {
 public:
  void SaveState(std::vector<uint8_t>& into) override {
    into.assign(reinterpret_cast<uint8_t*>(&sum_), reinterpret_cast<uint8_t*>(&sum_) + sizeof sum_);
    into.push_back(static_cast<uint8_t>(tick_));
    into.push_back(static_cast<uint8_t>(tick_ >> 8));
  }
  void LoadState(const std::vector<uint8_t>& from) override {
    std::copy(from.begin(), from.begin() + sizeof sum_, reinterpret_cast<uint8_t*>(&sum_));
    tick_ = from[sizeof sum_] | from[sizeof sum_ + 1] << 8;
  }
  void AdvanceTick(const std::array<uint8_t, 2>& r, bool firstRun) override {
    sum_ = sum_ * 31 + r[0] * 7 + r[1];
    if (firstRun) ++firstRuns[tick_]; else ++reruns[tick_];
    ++tick_;
  }
  uint32_t Checksum() override { return static_cast<uint32_t>(sum_); }
  bool Stopped() override { return false; }
  std::map<int, int> firstRuns, reruns;
  uint64_t sum_ = 0;
  int tick_ = 0;
};

class Collect : public net::Outbox {
 public:
  void Send(const net::Message& m, bool) override { sent.push_back(m); }
  std::vector<net::Message> sent;
};

net::Message ReadingsFrom(uint32_t first, std::vector<uint8_t> values) {
  net::Message m;
  m.type = net::MessageType::Inputs;
  m.inputs.first = first;
  m.inputs.count = static_cast<uint8_t>(values.size());
  std::copy(values.begin(), values.end(), m.inputs.readings.begin());
  m.inputs.echoAge = 255;
  return m;
}

}  // namespace

TEST(RollbackSession, AWrongPredictionIsRunAgainWithoutSounds) {
  CountingGame game;
  Collect out;
  net::Session session(out, 0, 0);
  for (int f = 0; f < 5; ++f) RunFrame(session, game, 1, false);  // remote predicted as 0
  EXPECT_EQ(session.Tick(), 5u);
  session.Receive(ReadingsFrom(0, {0, 0, 3, 3}));  // tick 2 was different
  const net::FrameReport report = RunFrame(session, game, 1, false);
  EXPECT_EQ(report.rerunTicks, 3);  // ticks 2, 3 and 4 again
  EXPECT_TRUE(report.ranTick);
  for (int t = 0; t < 6; ++t) EXPECT_EQ(game.firstRuns[t], 1) << t;
  EXPECT_EQ(game.reruns[2], 1);
  EXPECT_EQ(game.reruns[1], 0);
  EXPECT_EQ(session.ConfirmedTick(), 4u);
  EXPECT_EQ(session.ConfirmedReadings(3), (std::array<uint8_t, 2>{1, 3}));
}

TEST(RollbackSession, ARightPredictionRunsNothingAgain) {
  CountingGame game;
  Collect out;
  net::Session session(out, 1, 2);
  for (int f = 0; f < 5; ++f) RunFrame(session, game, 4, false);
  session.Receive(ReadingsFrom(0, {0, 0, 0}));
  EXPECT_EQ(RunFrame(session, game, 4, false).rerunTicks, 0);
  // Player 2's first two ticks are the input delay's neutral readings.
  EXPECT_EQ(session.ConfirmedReadings(1), (std::array<uint8_t, 2>{0, 0}));
  EXPECT_EQ(session.ConfirmedReadings(2), (std::array<uint8_t, 2>{0, 4}));
}

TEST(RollbackSession, NoMoreThanEightTicksPastTheLastKnownReading) {
  CountingGame game;
  Collect out;
  net::Session session(out, 0, 2);
  int waited = 0;
  for (int f = 0; f < 20; ++f) waited += RunFrame(session, game, 1, false).waitedForRemote;
  EXPECT_EQ(session.Tick(), static_cast<uint32_t>(net::kMaxPrediction));
  EXPECT_EQ(waited, 20 - net::kMaxPrediction);
  session.Receive(ReadingsFrom(0, {0, 0, 0}));  // three more ticks known: three more run
  for (int f = 0; f < 3; ++f) EXPECT_TRUE(RunFrame(session, game, 1, false).ranTick);
  EXPECT_FALSE(RunFrame(session, game, 1, false).ranTick);
}

TEST(RollbackSession, EveryPacketRepeatsWhatTheOtherSideHasNotAcknowledged) {
  CountingGame game;
  Collect out;
  net::Session session(out, 0, 1);
  for (int f = 0; f < 4; ++f) RunFrame(session, game, static_cast<uint8_t>(f + 1), false);
  const net::Message& last = out.sent.back();
  EXPECT_EQ(last.inputs.first, 0u);
  ASSERT_EQ(last.inputs.count, 5);  // the neutral one of the delay, then four readings
  EXPECT_EQ(last.inputs.readings[4], 4);
  net::Message ack = ReadingsFrom(0, {});
  ack.inputs.ack = 3;
  session.Receive(ack);
  RunFrame(session, game, 5, false);
  EXPECT_EQ(out.sent.back().inputs.first, 3u);
  EXPECT_EQ(out.sent.back().inputs.count, 3);
}

TEST(RollbackSession, ReadingsFarAheadOrWithAGapAreNotKept) {
  CountingGame game;
  Collect out;
  net::Session session(out, 0, 0);
  session.Receive(ReadingsFrom(5, {1, 1}));           // a gap: ticks 0..4 unknown
  session.Receive(ReadingsFrom(4000000000u, {1, 1}));  // absurdly far
  RunFrame(session, game, 0, false);
  EXPECT_EQ(session.ConfirmedTick(), 0u);
  EXPECT_EQ(out.sent.back().inputs.ack, 0u);
}

TEST(RollbackSession, LeavingSendsTheMissingReadingsThenQuitNamingTheEnd) {
  CountingGame game;
  Collect out;
  net::Session session(out, 0, 0);
  for (int f = 0; f < 100; ++f) {
    session.Receive(ReadingsFrom(static_cast<uint32_t>(f), {2}));
    RunFrame(session, game, 1, false);
  }
  out.sent.clear();
  session.Receive(ReadingsFrom(100, {2, 2, 2}));  // the other side is three ticks on
  Leave(session, game);
  // Nothing of ours was acknowledged: 100 readings, reliably, in two messages, then Quit.
  ASSERT_EQ(out.sent.size(), 3u);
  EXPECT_EQ(out.sent[0].inputs.first, 0u);
  EXPECT_EQ(out.sent[0].inputs.count, net::kMaxReadingsPerMessage);
  EXPECT_EQ(out.sent[1].inputs.first, net::kMaxReadingsPerMessage);
  EXPECT_EQ(out.sent[1].inputs.count, 100 - net::kMaxReadingsPerMessage);
  EXPECT_EQ(out.sent[2].type, net::MessageType::Quit);
  EXPECT_EQ(out.sent[2].value, 101u);
  EXPECT_EQ(session.Tick(), 100u);

  // The other side, which ran and confirmed further (it had more of the leaver's
  // readings), ends at that same tick, with the same game.
  for (uint32_t ahead : {0u, 5u, 30u}) {
    CountingGame other;
    Collect out2;
    net::Session remaining(out2, 1, 0);
    for (uint32_t f = 0; f < 100 + ahead; ++f) {
      remaining.Receive(ReadingsFrom(f, {1}));
      RunFrame(remaining, other, 2, false);
    }
    EXPECT_EQ(remaining.ConfirmedTick(), 100u + ahead);
    for (const net::Message& m : out.sent) {
      if (m.type == net::MessageType::Inputs) remaining.Receive(m);
    }
    EXPECT_EQ(SettleAt(remaining, other, out.sent[2].value), ahead > 0) << ahead;
    EXPECT_EQ(remaining.Tick(), 100u) << ahead;
    EXPECT_EQ(remaining.ConfirmedTick(), 100u) << ahead;
    EXPECT_EQ(other.sum_, game.sum_) << ahead;
  }
}
