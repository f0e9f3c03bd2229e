// SPDX-License-Identifier: GPL-3.0-or-later
// Splats kept as records and painted from them: the pixels a local game always painted,
// and a layer rebuilt after a restore as play left it.
#include <allegro.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "sim/game.h"
#include "splatter.h"
#include "test_support.h"

namespace {

constexpr SpriteSize kBanana{174, 60};
constexpr SpriteSize kFly{42, 38};

bool Same(BITMAP* a, BITMAP* b) {
  for (int y = 0; y < a->h; ++y) {
    for (int x = 0; x < a->w; ++x) {
      if (getpixel(a, x, y) != getpixel(b, x, y)) return false;
    }
  }
  return true;
}

BITMAP* WhiteLayer() {
  BITMAP* layer = create_bitmap(1024, 768);
  clear_to_color(layer, makecol(255, 255, 255));
  return layer;
}

// Player 1's banana held in the air above the band, and a fly right under it: the fly
// dies in the next tick.
void FlyUnderBanana(GameState& game) {
  Nana& nana = game.p1.nana;
  nana.pos = {nana.pos.x, 440};
  nana.vel = {0, 0};
  nana.angle = 0;
  nana.spin = 0;
  game.flies.insert(game.flies.begin(), Fly{{nana.pos.x - 21, nana.pos.y + 75 - 19}, {0, 0}, kFly, 1024, 768});
}

TEST(SplatRecords, ALocalGamesSplatPaintsTheDotsSplatterDrewFromTheSameNumbers) {
  GameState game(false, PlayArea{}, kBanana, kFly);
  BeginLevel(game);
  StartLevelClock(game);
  game.flies.clear();
  game.p1.nana.pos = {500.5, 300.25};
  FlyUnderBanana(game);
  game.p1.nana.pos.y = 440.25;
  srand(31);
  const TickEvents events = RunTick(game, OneReadingEach({0, false}, {0, false}));
  ASSERT_EQ(events.splatsMade, 1u);
  BITMAP* fromRecord = WhiteLayer();
  PaintSplat(fromRecord, game, game.splats[0]);
  const int after = rand();

  srand(31);
  for (int i = 0; i < 4; ++i) rand();  // the fly's flight step
  BITMAP* painted = WhiteLayer();
  Splatter(painted, game.splats[0].pos);
  EXPECT_EQ(rand(), after) << "the record took the splat's 900 numbers in the tick";
  EXPECT_GT(CountNonWhite(painted), 100);
  EXPECT_TRUE(Same(fromRecord, painted));
  destroy_bitmap(fromRecord);
  destroy_bitmap(painted);
}

TEST(SplatRecords, AfterARestoreTheLayerIsRepaintedAsPlayLeftIt) {
  for (RandomSource random : {OwnRandom(8), CLibraryRandom()}) {
    GameState game(true, PlayArea{}, kBanana, kFly, random);
    BeginLevel(game);
    StartLevelClock(game);
    BITMAP* live = WhiteLayer();
    BITMAP* atSave = WhiteLayer();
    std::vector<unsigned char> saved;
    for (int tick = 0; tick < 200; ++tick) {
      if (tick % 20 == 0) FlyUnderBanana(game);
      const TickEvents events = RunTick(game, OneReadingEach({1, false}, {-1, false}));
      for (size_t i = 0; i < events.splatsMade; ++i) PaintSplat(live, game, game.splats[events.firstSplat + i]);
      if (tick == 119) {
        SaveGame(game, saved);
        blit(live, atSave, 0, 0, 0, 0, live->w, live->h);
      }
    }
    EXPECT_GE(game.splats.size(), 9u);
    ASSERT_TRUE(RestoreGame(game, saved.data(), saved.size()));
    BITMAP* rebuilt = create_bitmap(1024, 768);
    RepaintSplats(rebuilt, game);
    EXPECT_TRUE(Same(rebuilt, atSave));
    EXPECT_FALSE(Same(rebuilt, live));
    destroy_bitmap(live);
    destroy_bitmap(atSave);
    destroy_bitmap(rebuilt);
  }
}

}  // namespace
