// SPDX-License-Identifier: GPL-3.0-or-later
// The game's own simulation played by two rollback sessions over the simulated network.
#include <gtest/gtest.h>

#include <cstdlib>

#include "sim_match.h"

using namespace simnet;

namespace {

int Matches(int usual) {
  const char* n = std::getenv("NANASPLAT_NET_MATCHES");
  return n != nullptr ? std::atoi(n) : usual;
}

}  // namespace

TEST(NetworkGames, BothComputersPlayTheSameGameOverAnyNetwork) {
  const int matches = Matches(24);
  for (int i = 0; i < matches; ++i) {
    MatchConfig config;
    config.seed = 300 + static_cast<uint64_t>(i);
    config.link.delayMs = (i * 29) % 126;  // round trips of 0 to 250 ms
    config.link.jitterMs = config.link.delayMs / 5;
    config.link.loss = (i % 11) / 100.0;   // 0 to 10 %
    config.link.duplicate = config.link.loss / 2;
    config.link.reorder = config.link.loss;
    config.startGapMs = i * 13 % 150;
    const uint64_t seed = config.seed;
    config.makeGame = [seed](int) { return MakeSimulationGame(seed); };
    const MatchResult m = RunMatch(config);
    const std::string what = "match " + std::to_string(i);
    ASSERT_TRUE(m.finished) << what;
    EXPECT_FALSE(m.side[0].outOfStep || m.side[1].outOfStep) << what;
    EXPECT_EQ(m.side[0].ticks, m.side[1].ticks) << what;
    EXPECT_GE(m.side[0].ticks, 3300u) << what;  // at least level 1's 55 seconds
    EXPECT_EQ(m.side[0].finalState, m.side[1].finalState) << what;
    EXPECT_TRUE(m.side[0].replay == m.side[1].replay) << what;
    if (HasFailure()) break;
  }
}

TEST(NetworkGames, ATickOfTheGameThatDiffersIsCaught) {
  MatchConfig config;
  config.seed = 8;
  config.link.delayMs = 40;
  config.link.loss = 0.02;
  config.makeGame = [](int side) { return MakeSimulationGame(8, side == 1 ? 1000 : -1); };
  const MatchResult m = RunMatch(config);
  EXPECT_TRUE(m.side[0].outOfStep);
  EXPECT_TRUE(m.side[1].outOfStep);
  EXPECT_EQ(m.side[0].firstDifferent, 1020u);
}

// A game one player quits ends at the same tick on both computers, with the same
// record, whoever quits and whatever the delay and loss: the last tick both confirmed.
TEST(NetworkGames, AGameOnePlayerQuitsEndsAtTheSameTickOnBoth) {
  struct Case {
    int delayMs;
    double loss;
  } cases[] = {{0, 0}, {8, 0.02}, {30, 0.05}, {60, 0.10}, {125, 0.05}, {125, 0.10}};
  int n = 0;
  for (const Case& c : cases) {
    for (int quitter = 0; quitter < 2; ++quitter, ++n) {
      MatchConfig config;
      config.seed = 900 + static_cast<uint64_t>(n);
      config.link.delayMs = c.delayMs;
      config.link.jitterMs = c.delayMs / 5;
      config.link.loss = c.loss;
      config.link.duplicate = c.loss / 2;
      config.link.reorder = c.loss;
      config.startGapMs = n * 17 % 120;
      config.quitter = quitter;
      config.quitAtFrame = 200 + 97 * n;  // mid-level, at a different moment each time
      const uint64_t seed = config.seed;
      config.makeGame = [seed](int) { return MakeSimulationGame(seed); };
      const MatchResult m = RunMatch(config);
      const std::string what = std::to_string(2 * c.delayMs) + " ms, loss " +
                               std::to_string(c.loss) + ", player " + std::to_string(quitter + 1) + " quits";
      ASSERT_TRUE(m.finished) << what;
      EXPECT_TRUE(m.side[0].left && m.side[1].left) << what;
      EXPECT_FALSE(m.side[0].outOfStep || m.side[1].outOfStep) << what;
      EXPECT_EQ(m.side[0].ticks, m.side[1].ticks) << what;
      EXPECT_GT(m.side[0].ticks, 100u) << what;
      EXPECT_EQ(m.side[0].finalState, m.side[1].finalState) << what;
      EXPECT_TRUE(m.side[0].replay == m.side[1].replay) << what;
      EXPECT_EQ(m.side[0].replay.size(), m.side[0].ticks) << what;
      // Nothing past the end was recorded during play on either side.
      EXPECT_LE(m.side[0].mostAgreed, m.side[0].ticks) << what;
      EXPECT_LE(m.side[1].mostAgreed, m.side[1].ticks) << what;
      if (HasFailure()) return;
    }
  }
}

namespace {

// Everything a match leaves on both sides, as one number (FNV-1a).
uint64_t Digest(const MatchResult& m) {
  uint64_t h = 1469598103934665603u;
  auto add = [&](uint64_t v) {
    for (int i = 0; i < 8; ++i) h = (h ^ ((v >> (8 * i)) & 0xff)) * 1099511628211u;
  };
  add(m.finished);
  for (const SideResult& r : m.side) {
    for (uint64_t v : {uint64_t{r.ticks}, uint64_t{r.outOfStep}, uint64_t{r.firstDifferent}, r.sounds, r.frames,
                       r.waitedFrames, r.skippedFrames, r.bytesSent, r.datagramsSent, uint64_t{r.mostAgreed},
                       uint64_t{r.left}}) {
      add(v);
    }
    for (uint8_t b : r.finalState) add(b);
    for (const auto& t : r.replay) add(t[0] * 256u + t[1]);
    for (int n : r.rerunPerFrame) add(static_cast<uint64_t>(n));
  }
  return h;
}

}  // namespace

// The figures of matches played before the session handed its work to the game as
// requests: the same datagrams, ticks run again, sounds, states and replays, to the byte.
TEST(NetworkGames, TheSessionsRequestsPlayEveryMatchAsBefore) {
  struct Case {
    const char* what;
    bool toy;
    int delayMs;
    double loss;
    int quitter;
    int glitch;
    uint64_t digest;
  };
  const Case cases[] = {
      {"the game, 160 ms, 5 % lost", false, 80, 0.05, -1, -1, 3275245988670366293u},
      {"the game, a player quits", false, 60, 0.03, 1, -1, 17135901995156959604u},
      {"the game, a tick that differs", false, 40, 0.02, -1, 1000, 4638288024548921461u},
      {"the toy game, 250 ms, 10 % lost", true, 125, 0.10, -1, -1, 2845979166467395763u},
  };
  for (const Case& c : cases) {
    MatchConfig config;
    config.seed = 41;
    config.link.delayMs = c.delayMs;
    config.link.jitterMs = c.delayMs / 5;
    config.link.loss = c.loss;
    config.link.duplicate = c.loss / 2;
    config.link.reorder = c.loss;
    config.startGapMs = 70;
    config.clockSkew = 0.001;
    config.quitter = c.quitter;
    config.quitAtFrame = 2500;
    const bool toy = c.toy;
    const int glitch = c.glitch;
    config.makeGame = [toy, glitch](int side) {
      const int odd = side == 1 ? glitch : -1;
      return toy ? MakeToyGame(41, odd) : MakeSimulationGame(41, odd);
    };
    const uint64_t digest = Digest(RunMatch(config));
    EXPECT_EQ(digest, c.digest) << c.what;
  }
}
