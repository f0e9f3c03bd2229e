// The logic tick allocates nothing: operator new is counted for the whole test program.
#include <allegro.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <list>
#include <new>

#include "sim/game.h"
#include "nana.h"
#include "player.h"
#include "splatter.h"
#include "test_sprites.h"

namespace {
std::atomic<long> allocations{0};

void* CountedAllocation(std::size_t size) {
  ++allocations;
  if (void* memory = std::malloc(size == 0 ? 1 : size)) return memory;
  throw std::bad_alloc();
}
}  // namespace

void* operator new(std::size_t size) { return CountedAllocation(size); }
void* operator new[](std::size_t size) { return CountedAllocation(size); }
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete[](void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete[](void* memory, std::size_t) noexcept { std::free(memory); }

namespace {

TEST(NoAllocation, TicksOfBananasAndFliesAllocateNothing) {
  for (RandomSource random : {CLibraryRandom(), OwnRandom(3)}) {
    GameState game(true, PlayArea{SCREEN_W, SCREEN_H}, {kTestNanaW, kTestNanaH}, {kTestFlyW, kTestFlyH},
                   random);
    game.level = 16;
    BeginLevel(game);
    StartLevelClock(game);
    game.p1.nana.pos = {300, 300};
    game.p2.nana.pos = {700, 300};
    srand(2);
    game.p1.crazy = game.p2.crazy = 1000;
    for (int i = 0; i < 6; ++i) game.p1.extras.push_back(MakeExtraNana(game.p1.nana, 1));
    for (int i = 0; i < 6; ++i) game.p2.extras.push_back(MakeExtraNana(game.p2.nana, 2));
    // Some flies start right inside the bananas, so that the pass kills some too.
    game.flies.resize(kMaxFlies - 2);
    for (const Nana* nana : {&game.p1.nana, &game.p2.nana}) {
      game.flies.push_back(Fly{{nana->pos.x - 21, nana->pos.y + 75 - 19}, {0, 0}, {kTestFlyW, kTestFlyH},
                               SCREEN_W, SCREEN_H});
    }
    const size_t startingFlies = game.flies.size();

    const long before = allocations.load();
    for (int tick = 0; tick < 900; ++tick) {
      const int turn = (tick / 50) % 3 - 1;
      const bool squash = (tick / 70) % 4 == 0;
      RunTick(game, OneReadingEach({turn, squash}, {-turn, !squash}));
    }
    const long after = allocations.load();

    EXPECT_EQ(after - before, 0);
    EXPECT_LT(game.flies.size(), startingFlies) << "the pass also removed flies";
    EXPECT_FALSE(game.splats.empty());
  }
}

TEST(NoAllocation, TheCounterSeesAllocations) {
  const long before = allocations.load();
  std::list<int>* made = new std::list<int>{1, 2, 3};
  const long after = allocations.load();
  delete made;
  EXPECT_GE(after - before, 4);
}

}  // namespace
