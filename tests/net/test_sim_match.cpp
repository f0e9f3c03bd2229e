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
