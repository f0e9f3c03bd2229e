// SPDX-License-Identifier: GPL-3.0-or-later
// The simulation's snapshots, headless: saving and restoring the busiest state a game
// can reach (80 flies, both players in CRAZY mode with the most extras a level allows,
// a thousand splats), its checksum, and one tick of it. Goal: under 20 us each for save
// and restore of a game with its own generator (what an online game rolls back).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <vector>

#include "sim/game.h"
#include "sim/trig.h"

namespace {

constexpr SpriteSize kBanana{174, 60};
constexpr SpriteSize kFly{42, 38};
constexpr int kBusiestLevel = 16;
constexpr int kMostExtras = kMaxFlies / kCrazyExtrasPerStreak + kCrazyExtrasBase;  // 29
constexpr int kSplats = 1000;

GameState Busiest(RandomSource random) {
  GameState game(true, PlayArea{}, kBanana, kFly, random);
  game.mathRevision = kPortableMath;
  game.level = kBusiestLevel;
  BeginLevel(game);
  StartLevelClock(game);
  for (Player* p : {&game.p1, &game.p2}) {
    p->crazy = kCrazyDuration;
    for (int i = 0; i < kMostExtras; ++i) p->extras.push_back(MakeExtraNana(p->nana, 1, game.random));
  }
  // A thousand splats, their dots drawn as a tick draws them.
  std::vector<Fly> flies = game.flies;
  for (int i = 0; i < kSplats; ++i) {
    game.p1.nana.pos.y = 440;
    game.p1.nana.vel = {0, 0};
    game.flies.assign(1, Fly{{game.p1.nana.pos.x - 21, game.p1.nana.pos.y + 75 - 19}, {0, 0}, kFly, 1024, 768});
    TickEvents events;
    FlyPass(game, events);
  }
  game.flies = flies;
  return game;
}

void Report(benchmark::State& state, const GameState& game, size_t bytes) {
  state.counters["bytes"] = static_cast<double>(bytes);
  state.counters["splats"] = static_cast<double>(game.splats.size());
  state.counters["bananas"] = static_cast<double>(2 + game.p1.extras.size() + game.p2.extras.size());
}

template <int kind>
void BM_Save(benchmark::State& state) {
  const GameState game = Busiest(kind == 1 ? OwnRandom(1) : CLibraryRandom());
  std::vector<unsigned char> buffer;
  SaveGame(game, buffer);
  for (auto _ : state) {
    SaveGame(game, buffer);
    benchmark::DoNotOptimize(buffer.data());
  }
  Report(state, game, buffer.size());
}

template <int kind>
void BM_Restore(benchmark::State& state) {
  GameState game = Busiest(kind == 1 ? OwnRandom(1) : CLibraryRandom());
  std::vector<unsigned char> buffer;
  SaveGame(game, buffer);
  RestoreGame(game, buffer.data(), buffer.size());  // capacities in place, as in a session
  for (auto _ : state) {
    if (!RestoreGame(game, buffer.data(), buffer.size())) state.SkipWithError("not restored");
    benchmark::ClobberMemory();
  }
  Report(state, game, buffer.size());
}

template <int kind>
void BM_Checksum(benchmark::State& state) {
  const GameState game = Busiest(kind == 1 ? OwnRandom(1) : CLibraryRandom());
  for (auto _ : state) benchmark::DoNotOptimize(GameChecksum(game));
}

void BM_TickOfTheBusiestState(benchmark::State& state) {
  const GameState start = Busiest(OwnRandom(1));
  GameState game = start;
  std::vector<unsigned char> buffer;
  SaveGame(start, buffer);
  int ticks = 0;
  for (auto _ : state) {
    if (++ticks == 60) {  // back to the busy moment before the extras run out
      state.PauseTiming();
      RestoreGame(game, buffer.data(), buffer.size());
      ticks = 0;
      state.ResumeTiming();
    }
    benchmark::DoNotOptimize(RunTick(game, OneReadingEach({1, false}, {-1, true})));
  }
}

void BM_Fingerprint(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(SimulationFingerprint());
}

BENCHMARK(BM_Save<1>)->Name("Save/own generator")->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Restore<1>)->Name("Restore/own generator")->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Checksum<1>)->Name("Checksum/own generator")->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Save<0>)->Name("Save/C library (local game)")->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Restore<0>)->Name("Restore/C library (local game)")->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_TickOfTheBusiestState)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Fingerprint)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
