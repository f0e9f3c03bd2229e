// SPDX-License-Identifier: GPL-3.0-or-later
// Snapshots of the whole game, its checksum, the own generator and the fingerprint.
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "sim/game.h"
#include "sim_fixtures.h"

namespace {

GameState Started(RandomSource random, int level = 16) {
  GameState game(true, PlayArea{}, kBananaSprite, kFlySprite, random);
  game.level = level;
  BeginLevel(game);
  StartLevelClock(game);
  return game;
}

// Both players turning, squashing and letting go in turns.
Controls Reading(int tick, int player) {
  const int phase = (tick + 50 * player) % 200;
  if (phase < 120) return {(phase / 23) % 2 == 0 ? 1 : -1, false};
  return {0, phase < 180};
}

void Play(GameState& game, int from, int ticks) {
  for (int t = from; t < from + ticks; ++t) RunTick(game, OneReadingEach(Reading(t, 1), Reading(t, 2)));
}

TEST(Snapshots, ARestoredGamePlaysOnExactlyAsTheOriginal) {
  for (RandomSource random : {OwnRandom(42), CLibraryRandom()}) {
    srand(3);
    GameState game = Started(random);
    game.p1.crazy = game.p2.crazy = 400;
    for (int i = 0; i < 6; ++i) game.p1.extras.push_back(MakeExtraNana(game.p1.nana, 1, game.random));
    Play(game, 0, 300);
    std::vector<unsigned char> saved;
    SaveGame(game, saved);
    const uint64_t atSave = GameChecksum(game);
    Play(game, 300, 400);
    const uint64_t later = GameChecksum(game);
    const int laterScore = game.p1.score + game.p2.score;
    EXPECT_NE(later, atSave);

    ASSERT_TRUE(RestoreGame(game, saved.data(), saved.size()));
    EXPECT_EQ(GameChecksum(game), atSave);
    Play(game, 300, 400);
    EXPECT_EQ(GameChecksum(game), later);
    EXPECT_EQ(game.p1.score + game.p2.score, laterScore);
  }
}

TEST(Snapshots, ADamagedSnapshotIsRefusedAndChangesNothing) {
  GameState game = Started(OwnRandom(7));
  Play(game, 0, 100);
  std::vector<unsigned char> saved;
  SaveGame(game, saved);
  Play(game, 100, 50);
  const uint64_t before = GameChecksum(game);
  EXPECT_FALSE(RestoreGame(game, saved.data(), saved.size() - 1));
  EXPECT_FALSE(RestoreGame(game, saved.data(), 10));
  EXPECT_FALSE(RestoreGame(game, nullptr, 0));
  std::vector<unsigned char> wrong = saved;
  wrong[0] ^= 1;  // not a snapshot
  EXPECT_FALSE(RestoreGame(game, wrong.data(), wrong.size()));
  wrong = saved;
  wrong[100] ^= 0x40;  // the count of flies: the size no longer agrees
  EXPECT_FALSE(RestoreGame(game, wrong.data(), wrong.size()));
  EXPECT_EQ(GameChecksum(game), before);
}

TEST(Snapshots, TheChecksumCoversEveryPartOfTheState) {
  GameState game = Started(OwnRandom(1));
  Play(game, 0, 50);
  const uint64_t base = GameChecksum(game);
  auto differs = [&](auto change) {
    GameState changed = game;
    change(changed);
    return GameChecksum(changed) != base;
  };
  EXPECT_EQ(GameChecksum(game), base);
  EXPECT_TRUE(differs([](GameState& g) { g.p2.nana.spin += 0.001f; }));
  EXPECT_TRUE(differs([](GameState& g) { g.flies.back().vel.y += 1; }));
  EXPECT_TRUE(differs([](GameState& g) { g.timeLeft -= 1; }));
  EXPECT_TRUE(differs([](GameState& g) { g.p1.streak += 1; }));
  EXPECT_TRUE(differs([](GameState& g) { g.random.own(); }));
  EXPECT_TRUE(differs([](GameState& g) { g.splats.push_back(Splat{}); }));

  // A local game's state holds the C library's generator.
  srand(4);
  GameState local = Started(CLibraryRandom());
  const uint64_t localBase = GameChecksum(local);
  EXPECT_EQ(GameChecksum(local), localBase) << "taking the checksum draws nothing";
  rand();
  EXPECT_NE(GameChecksum(local), localBase);
}

TEST(Snapshots, AGamesOwnGeneratorPlaysTheSameForTheSameSeed) {
  GameState a = Started(OwnRandom(11));
  GameState b = Started(OwnRandom(11));
  GameState c = Started(OwnRandom(12));
  srand(1);
  Play(a, 0, 500);
  srand(99);  // drawing's numbers do not matter to it
  Play(b, 0, 500);
  Play(c, 0, 500);
  EXPECT_EQ(GameChecksum(a), GameChecksum(b));
  EXPECT_NE(GameChecksum(a), GameChecksum(c));
}

TEST(Snapshots, TheFingerprintIsTheSameEveryTimeAndFollowsThePlay) {
  const uint64_t fingerprint = SimulationFingerprint();
  EXPECT_EQ(SimulationFingerprint(), fingerprint);
  std::printf("simulation fingerprint: %016llx\n", static_cast<unsigned long long>(fingerprint));
  // Played the same way, two games agree; one reading apart, they do not.
  GameState a = Started(OwnRandom(3), 1);
  GameState b = Started(OwnRandom(3), 1);
  Play(a, 0, 300);
  Play(b, 0, 299);
  RunTick(b, OneReadingEach({1, true}, Reading(299, 2)));
  EXPECT_NE(GameChecksum(a), GameChecksum(b));
}

TEST(TickEvents, ATickReportsItsSplatsSoundsStreaksAndTheClearedLevel) {
  GameState game = Started(OwnRandom(2), 1);
  game.flies.resize(1);
  game.p1.nana.pos = {512, 440};
  game.flies[0] = Fly{{512 - 21, 440 + 75 - 19}, {0, 0}, kFlySprite, kAreaW, kAreaH};
  const TickEvents events = RunTick(game, OneReadingEach({0, false}, {0, false}));
  EXPECT_EQ(events.splatsMade, 1u);
  EXPECT_EQ(events.firstSplat, 0u);
  ASSERT_EQ(game.splats.size(), 1u);
  EXPECT_EQ(game.splats[0].ownDots, 1u);
  ASSERT_EQ(events.soundCount, 1);
  EXPECT_EQ(events.sounds[0].sound, SimSound::Splat);
  EXPECT_NEAR(events.sounds[0].x, 512, 3);
  EXPECT_TRUE(events.levelCleared);
  EXPECT_EQ(game.p1.streak, 1);

  // The own banana on the ground closes the streak; with more than 3 and the countdown
  // at -180, CRAZY mode starts and is heard.
  game.p1.nana.pos = {512, static_cast<double>(kAreaH - 20 - 94)};
  game.p1.nana.state = Rolling;
  game.p1.streak = 5;
  game.p1.crazy = -179;
  const TickEvents landing = RunTick(game, OneReadingEach({0, false}, {0, false}));
  EXPECT_TRUE(landing.streakClosed[0]);
  EXPECT_TRUE(landing.crazyStarted[0]);
  EXPECT_FALSE(landing.crazyStarted[1]);
  EXPECT_EQ(game.p1.extras.size(), 4u);
  EXPECT_EQ(landing.sounds[landing.soundCount - 1].sound, SimSound::Crazy);
}

TEST(TickEvents, ALocalTickTakesOneReadingForEachBananaInOrder) {
  GameState game = Started(OwnRandom(4), 1);
  game.flies.clear();
  game.p1.crazy = 100;
  game.p1.nana.pos = {200, 100};
  for (int i = 0; i < 3; ++i) game.p1.extras.push_back(Nana(kBananaSprite, {300.0 + 100 * i, 100}));
  EXPECT_EQ(ReadingsForTick(game, 1), 4);
  EXPECT_EQ(ReadingsForTick(game, 2), 1);
  TickControls controls;
  controls.count[0] = 4;
  controls.readings[0][0] = {0, false};
  controls.readings[0][1] = {1, false};
  controls.readings[0][2] = {-1, false};
  controls.readings[0][3] = {1, false};
  controls.count[1] = 1;
  RunTick(game, controls);
  EXPECT_EQ(game.p1.nana.spin, 0.0f);
  EXPECT_GT(game.p1.extras[0].spin, 0.0f);
  EXPECT_LT(game.p1.extras[1].spin, 0.0f);
  EXPECT_GT(game.p1.extras[2].spin, 0.0f);

  // The extras go at the end of the countdown: the tick that ends it reads only one.
  game.p1.crazy = 1;
  EXPECT_EQ(ReadingsForTick(game, 1), 1);
  GameState one = Started(OwnRandom(4), 1);
  one.twoPlayer = false;
  EXPECT_EQ(ReadingsForTick(one, 2), 0);
}

}  // namespace
