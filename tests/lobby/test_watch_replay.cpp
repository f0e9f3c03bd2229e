// SPDX-License-Identifier: GPL-3.0-or-later
// A spectator's game is the players' game: their stream (as the host's feed builds it)
// played through the spectator's source gives the record the players keep, and both
// check as matching with the same result.
#include <gtest/gtest.h>

#include "gamerecord.h"
#include "net/game_feed.h"
#include "replaycheck.h"
#include "sim/random.h"
#include "watchsource.h"

namespace {

const PlayArea kArea{1024, 768};
const SpriteSize kBanana{174, 60};
const SpriteSize kFly{42, 38};

uint32_t Scripted(int64_t tick, int player) {
  return static_cast<uint32_t>((tick / (player == 1 ? 41 : 53) + player * 2) % 6);
}

struct Played {
  Replay record;
  std::vector<uint8_t> items;
};

// Both players' game as a network game runs it: each tick after the check for a cleared
// level, the level's end where the simulation stops; each confirmed tick recorded and
// fed, each level screen after the ticks before it.
Played PlayersGame(uint64_t seed, int64_t quitAt) {
  GameState game(true, kArea, kBanana, kFly);
  game.random = OwnRandom(seed);
  GameRecorder recorder("test", 0);
  recorder.BeginGame(game);
  recorder.SetRandom(static_cast<uint8_t>(RandomKind::Own), seed);
  net::StreamBuilder stream;
  int64_t ticks = 0;
  LevelEnd end = LevelEnd::Quit;
  for (;;) {
    BeginLevel(game);
    recorder.LevelScreen();
    stream.LevelScreen(static_cast<uint64_t>(ticks));
    StartLevelClock(game);
    while (!LevelOver(game) && ticks != quitAt) {
      CheckFlies(game);
      const uint32_t a = Scripted(ticks, 1), b = Scripted(ticks, 2);
      TickControls recorded;
      for (int p = 0; p < 2; ++p) {
        recorded.count[p] = std::min(ReadingsForTick(game, p + 1), kMaxReadings);
        for (int i = 0; i < recorded.count[p]; ++i) recorded.readings[p][i] = ControlsFromCode(p == 0 ? a : b);
      }
      RunTick(game, OneReadingEach(ControlsFromCode(a), ControlsFromCode(b)));
      recorder.Tick(recorded);
      stream.Tick(a, b);
      ++ticks;
    }
    if (ticks == quitAt) break;
    end = DecideLevelEnd(game);
    if (end != LevelEnd::Cleared) break;
    NextLevel(game);
    recorder.LevelScreen();
    stream.LevelScreen(static_cast<uint64_t>(ticks));
  }
  recorder.FinishGame(game, end);
  stream.End(end == LevelEnd::TimeUp ? net::StreamEnd::TimeUp : net::StreamEnd::Quit);
  EmptyLevelLists(game);
  return {recorder.Record(), stream.Items()};
}

// Unseen, with the spectator's level screens.
class UnseenLive : public UnseenPresenter {
 public:
  explicit UnseenLive(WatchSource& source) : source_(source) {}
  void ShowLevelScreen(LevelScreen, int) override {
    for (int i = 0; i < 1000 && !source_.LevelScreenPassed(); ++i) {
    }
  }

 private:
  WatchSource& source_;
};

Replay SpectatorsGame(const Played& players, uint64_t seed, uint32_t catchUpTo) {
  net::WatchedStream stream;
  stream.header = true;
  stream.seed = seed;
  stream.items = players.items;
  stream.arrivedMs.assign(players.items.size(), 0);
  stream.catchUpTo = catchUpTo;
  stream.over = true;
  WatchSource source(stream, [] {}, [] { return uint32_t{100000}; }, [] { return false; });
  UnseenLive presenter(source);
  GameState game(true, kArea, kBanana, kFly);
  GameRecorder recorder("test", 0);
  PlayLoop play{source, presenter, &recorder};
  PlayGame(play, game);
  EmptyLevelLists(game);
  net::StreamEnd how;
  EXPECT_TRUE(source.Ended(how));
  EXPECT_EQ(source.Played() + 1, players.items.size());  // all but the end itself
  return recorder.Record();
}

}  // namespace

TEST(SpectatorReplay, ASpectatorsRecordChecksAsMatchingWithThePlayersResult) {
  RerunSetup setup;
  setup.area = kArea;
  setup.banana = kBanana;
  setup.fly = kFly;
  setup.gameVersion = "test";
  struct Case {
    const char* what;
    uint64_t seed;
    int64_t quitAt;  // -1: played to time up
    bool timeUp;
  } cases[] = {
      {"to time up", 7, -1, true},
      {"a player quits mid-level", 8, 900, false},
      {"a player quits at once", 9, 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Played players = PlayersGame(c.seed, c.quitAt);
    EXPECT_EQ(players.record.summary.timeUp, c.timeUp);
    for (uint32_t catchUpTo : {0u, static_cast<uint32_t>(players.items.size() / 2)}) {
      const Replay spectator = SpectatorsGame(players, c.seed, catchUpTo);
      EXPECT_TRUE(SameEnd(spectator.summary, players.record.summary))
          << SummaryText(spectator.summary) << " vs " << SummaryText(players.record.summary);
      EXPECT_EQ(spectator.randomSource, players.record.randomSource);
      EXPECT_EQ(spectator.seed, c.seed);
      EXPECT_EQ(spectator.levelScreens, players.record.levelScreens);
      EXPECT_EQ(TotalCount(spectator.controls[0]), TotalCount(players.record.controls[0]));
      EXPECT_EQ(TotalCount(spectator.controls[1]), TotalCount(players.record.controls[1]));
      // Both check: the same line.
      const Replay again = RerunReplay(spectator, setup);
      EXPECT_EQ(CheckReport(spectator, again), CheckReport(players.record, RerunReplay(players.record, setup)));
      EXPECT_NE(CheckReport(spectator, again).find(": matches"), std::string::npos) << CheckReport(spectator, again);
    }
  }
}

TEST(SpectatorReplay, EachItemIsPlayedOnlyOnceHeldForTheDelayAndWhatWasThereAtOnce) {
  // The items come as the clock reaches their time (ms); the source waits with it.
  const std::vector<std::pair<uint32_t, uint8_t>> coming = {{0, net::kStreamScreen}, {100, 7}, {5000, 8}};
  net::WatchedStream stream;
  stream.header = true;
  uint32_t clock = 0;
  const auto pump = [&] {
    clock += 50;
    while (stream.items.size() < coming.size() && coming[stream.items.size()].first <= clock) {
      stream.items.push_back(coming[stream.items.size()].second);
      stream.arrivedMs.push_back(clock);
    }
  };
  WatchSource source(stream, pump, [&] { return clock; }, [] { return false; }, 3000);
  GameState game(true, kArea, kBanana, kFly);
  source.BeginGame(game);
  while (!source.LevelScreenPassed()) {
  }
  EXPECT_GE(clock, 3100u);  // the players left their screen when the next tick came
  EXPECT_EQ(source.OpenFrame().ticks, 1u);
  EXPECT_EQ(ControlsCode(source.Read(1)), 1u);  // 7: player 1's reading 1, player 2's 1
  EXPECT_EQ(ControlsCode(source.Read(2)), 1u);
  EXPECT_EQ(source.OpenFrame().ticks, 1u);
  EXPECT_GE(clock, 8000u);
  EXPECT_FALSE(source.ReachedItsEnd(0, 0));
  stream.items.push_back(net::kStreamEnd + static_cast<uint8_t>(net::StreamEnd::Lost));
  stream.arrivedMs.push_back(clock);
  EXPECT_TRUE(source.ReachedItsEnd(0, 0));
  EXPECT_EQ(source.OpenFrame().ticks, 0u);
  net::StreamEnd how = net::StreamEnd::Quit;
  ASSERT_TRUE(source.Ended(how));
  EXPECT_EQ(how, net::StreamEnd::Lost);
  // A spectator who came late plays what the lobby held at once (unseen), the rest on time.
  stream.catchUpTo = 3;
  const uint32_t late = clock;
  source.BeginGame(game);
  EXPECT_TRUE(source.CatchingUp());
  EXPECT_TRUE(source.LevelScreenPassed());
  EXPECT_EQ(source.OpenFrame().ticks, 1u);
  EXPECT_EQ(source.OpenFrame().ticks, 1u);
  EXPECT_LT(clock - late, 1000u);
  EXPECT_FALSE(source.CatchingUp());
}
