// SPDX-License-Identifier: GPL-3.0-or-later
// The logic tick allocates nothing: operator new is counted for the whole test program.
#include <allegro.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <list>
#include <new>

#include "fly.h"
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
  TestSprite banana(kTestNanaW, kTestNanaH, "banana_sm1.bmp");
  TestSprite fly1(kTestFlyW, kTestFlyH, "fly1.bmp");
  TestSprite fly2(kTestFlyW, kTestFlyH, "fly2.bmp");
  BITMAP* layer = create_bitmap(SCREEN_W, SCREEN_H);
  const int ground = SCREEN_H - 20;
  Player p1(Nana(banana.get(), {300, 300}));
  Player p2(Nana(banana.get(), {700, 300}));
  srand(2);
  for (int i = 0; i < 6; ++i) p1.extras.push_back(MakeExtraNana(p1.nana, 1));
  for (int i = 0; i < 6; ++i) p2.extras.push_back(MakeExtraNana(p2.nana, 2));
  std::list<Fly> flies = MakeFlies(16, fly1.get(), fly2.get());
  // Some flies start right inside the bananas, so that the pass kills some too.
  for (const Nana* nana : {&p1.nana, &p2.nana}) {
    flies.push_back(Fly{{nana->pos.x - 21, nana->pos.y + 75 - 19}, {0, 0}, fly1.get(), fly2.get()});
  }
  const size_t startingFlies = flies.size();

  const long before = allocations.load();
  for (int tick = 0; tick < 900; ++tick) {
    const int turn = (tick / 50) % 3 - 1;
    const bool squash = (tick / 70) % 4 == 0;
    p1.nana.DoPhysics(turn, squash, ground);
    for (Nana& extra : p1.extras) extra.DoPhysics(turn, squash, ground);
    p2.nana.DoPhysics(-turn, !squash, ground);
    for (Nana& extra : p2.extras) extra.DoPhysics(-turn, !squash, ground);
    FlyPass(flies, p1, p2, true, 5, layer);
  }
  Splatter(layer, {100, 100});
  const long after = allocations.load();

  EXPECT_EQ(after - before, 0);
  EXPECT_LT(flies.size(), startingFlies) << "the pass also removed flies";
  destroy_bitmap(layer);
}

TEST(NoAllocation, TheCounterSeesAllocations) {
  const long before = allocations.load();
  std::list<int>* made = new std::list<int>{1, 2, 3};
  const long after = allocations.load();
  delete made;
  EXPECT_GE(after - before, 4);
}

}  // namespace
