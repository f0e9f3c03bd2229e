// SPDX-License-Identifier: GPL-3.0-or-later
// A whole session through the game's own functions, with the real pictures and font:
// the title menu and both help pages, two levels of play with CRAZY mode, and Escape.
// Ticks and frames are stepped by the test, so the same session runs the same way at
// any speed (it is also run under valgrind's memcheck).
#include <allegro.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "game.h"
#include "image.h"
#include "init.h"
#include "menu.h"
#include "test_support.h"
#include "util.h"

namespace {

const std::string kMedia = NANASPLAT_MEDIA_DIR;

class Session : public testing::Test {
 protected:
  void SetUp() override {
    srand(7);
    for (int k = 0; k < KEY_MAX; ++k) key[k] = 0;
    mouse_b = 0;
    SetFont((kMedia + "/font.dat").c_str());
    gameImages.banana1 = gameImages.banana2 = Picture("banana_sm1.bmp");
    gameImages.title = Picture("title800_3.bmp");
    gameImages.fly1 = Picture("fly1.bmp");
    gameImages.fly2 = Picture("fly2.bmp");
    gameImages.help1 = Picture("help1.bmp");
    gameImages.help2 = Picture("help2.bmp");
    backbuffer = create_bitmap(SCREEN_W, SCREEN_H);
    splatter = create_bitmap(SCREEN_W, SCREEN_H);
  }
  void TearDown() override {
    destroy_bitmap(backbuffer);
    destroy_bitmap(splatter);
    for (int k = 0; k < KEY_MAX; ++k) key[k] = 0;
  }

  Image* Picture(const char* name) {
    Image* image = pictures.GetImage(kMedia + "/" + name);
    EXPECT_NE(image, nullptr) << name;
    return image;
  }

  // One drawn frame of play after one tick, as the game shows it.
  void TickAndDraw(Game& game) {
    RunTick(game);
    DrawFrame(game, backbuffer);
    blit(backbuffer, screen, 0, 0, 0, 0, SCREEN_W, SCREEN_H);
    blit(splatter, backbuffer, 0, 0, 0, 0, SCREEN_W, SCREEN_H);
  }

  // The banana held up in the air with the first fly right under it: that tick kills
  // the fly (or an extra banana got to it first). Returns whether a fly died.
  bool KillOneFly(Game& game) {
    const size_t before = game.flies.size();
    Nana& nana = game.p1.nana;
    nana.pos = {512, 440};
    nana.vel = {0, 0};
    nana.spin = 0;
    nana.angle = 0;
    nana.state = Airborne;
    game.flies.front().pos = {nana.pos.x - 21, nana.pos.y + 75 - 19};
    game.flies.front().vel = {0, 0};
    TickAndDraw(game);
    return game.flies.size() < before;
  }

  // The banana put down on its back: the next tick closes the streak.
  static void PutDown(Game& game) {
    game.p1.nana.pos = {512, static_cast<double>((SCREEN_H - kGroundMargin) - 94)};
    game.p1.nana.state = Rolling;
  }

  // A level played through: some free play with the arrows and the squash key, a
  // streak of four closed on the ground that sets off CRAZY mode, a while with the
  // extra bananas, then the remaining flies.
  void PlayLevelWithCrazyMode(Game& game) {
    SetUpLevel(game);
    StartLevelClock(game);
    for (int t = 0; t < 200; ++t) {
      key[KEY_RIGHT] = (t / 40) % 2;
      key[KEY_LEFT] = !key[KEY_RIGHT];
      key[KEY_SPACE] = t > 150;  // lands upside down and squashes now and then
      TickAndDraw(game);
      ASSERT_TRUE(CheckFlies(game));
    }
    key[KEY_RIGHT] = key[KEY_LEFT] = key[KEY_SPACE] = 0;

    int kills = 0;
    while (kills < 4 && !game.flies.empty()) kills += KillOneFly(game) ? 1 : 0;
    ASSERT_GE(game.p1.streak, 4);
    PutDown(game);
    TickAndDraw(game);
    EXPECT_EQ(game.p1.crazy, kCrazyDuration);
    EXPECT_GE(game.p1.extras.size(), 4u);
    for (int t = 0; t < 120; ++t) {
      key[KEY_LEFT] = t % 30 < 10;
      TickAndDraw(game);
    }
    key[KEY_LEFT] = 0;
    while (!game.flies.empty()) KillOneFly(game);
    EXPECT_TRUE(CheckFlies(game));
    EXPECT_EQ(DecideLevelEnd(game), LevelEnd::Cleared);
  }

  ImageManager pictures;
  BITMAP* backbuffer = nullptr;
  BITMAP* splatter = nullptr;
};

TEST_F(Session, MenuHelpPagesTwoLevelsWithCrazyModeThenEscape) {
  // The title menu, both help pages and back, then "Single Player".
  Menu menu;
  BuildMenuButtons(menu);
  menu.shownImage = gameImages.title->bitmap;
  for (const char* label : {"Help", "Next", "Back", "Back", "Help", "Next", "Done"}) {
    EXPECT_FALSE(ActOnChoice(menu, label)) << label;
    EXPECT_FALSE(MenuFrame(menu, backbuffer));
  }
  EXPECT_EQ(menu.shownImage, gameImages.title->bitmap);
  EXPECT_EQ(menu.shownButtons, &menu.mainMenu);
  ASSERT_TRUE(ActOnChoice(menu, "Single Player"));

  Game game(menu.twoPlayer, splatter);
  PlayLevelWithCrazyMode(game);
  EXPECT_EQ(game.p1.score, 5);  // five flies of level 1
  ++game.level;
  PlayLevelWithCrazyMode(game);
  EXPECT_EQ(game.p1.score, 5 + 10 * 2);

  // Level 3 under the real clock, until Escape is held.
  ++game.level;
  StartLogicTimer();
  SetUpLevel(game);
  StartLevelClock(game);
  int frames = 0;
  while (PlayFrame(game, backbuffer)) {
    if (++frames == 30) key[KEY_ESC] = 1;
    ASSERT_LT(frames, 600);
  }
  EXPECT_EQ(frames, 30);
  EXPECT_EQ(DecideLevelEnd(game), LevelEnd::Quit);
}

}  // namespace
