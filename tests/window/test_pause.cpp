// SPDX-License-Identifier: GPL-3.0-or-later
// Pausing play, frame by frame in a real 1024 x 768 window with the logic timer
// running: what starts and ends a pause, what stands still meanwhile, what a paused
// frame shows, and the level screens' wait for a key or a pad button.
#include <allegro.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "game.h"
#include "nana.h"
#include "init.h"
#include "pad.h"
#include "pause.h"
#include "taps.h"
#include "test_support.h"
#include "util.h"

namespace {

class PauseTest : public testing::Test {
 protected:
  void SetUp() override {
    StartLogicTimer();  // every frame waits for a tick before it ends
    srand(1);
    banana = MakeImage(174, 60);
    fly = MakeImage(42, 38);
    gameImages.banana1 = gameImages.banana2 = &banana;
    gameImages.fly1 = gameImages.fly2 = &fly;
    splatter = create_bitmap(SCREEN_W, SCREEN_H);
    buffer = create_bitmap(SCREEN_W, SCREEN_H);
    ReleaseAll();
  }
  void TearDown() override {
    ReleaseAll();
    destroy_bitmap(banana.bitmap);
    destroy_bitmap(fly.bitmap);
    destroy_bitmap(splatter);
    destroy_bitmap(buffer);
  }

  static void ReleaseAll() {
    for (int k = 0; k < KEY_MAX; ++k) key[k] = 0;
    ReleaseKey(KEY_P);
    ReleaseKey(KEY_M);
    ForgetTogglePresses();
    mouse_b = 0;
    num_joysticks = 0;
    std::memset(joy, 0, sizeof(JOYSTICK_INFO) * MAX_JOYSTICKS);
    clear_keybuf();
    quitnow = false;
  }
  static Image MakeImage(int w, int h) {
    BITMAP* bitmap = create_bitmap(w, h);
    clear_to_color(bitmap, makecol(255, 0, 255));
    rectfill(bitmap, 2, 2, w - 3, h - 3, makecol(40, 40, 40));
    return Image{bitmap, "test"};
  }

  // A level in play with one fly in the top-left corner, well away from the
  // pause texts: the level is neither clear nor over.
  Game PlayingLevel() {
    Game game(false, splatter);
    SetUpLevel(game);
    StartLevelClock(game);
    game.flies.clear();
    game.flies.push_back(Fly{{30, 10}, {0, 0}, SizeOf(&fly), SCREEN_W, SCREEN_H});
    blit(splatter, buffer, 0, 0, 0, 0, SCREEN_W, SCREEN_H);
    StartPause(game.pause);
    return game;
  }
  // One frame with key `k` held, then one with it let go; whether play is paused after.
  bool Tap(Game& game, int k) {
    PressKey(k);
    EXPECT_TRUE(PlayFrame(game, buffer));
    ReleaseKey(k);
    EXPECT_TRUE(PlayFrame(game, buffer));
    return game.pause.paused;
  }

  // What a paused frame shows over `picture`.
  static void DrawPausedOver(BITMAP* picture) {
    const int black = makecol(0, 0, 0);
    textprintf_centre_ex(picture, Font(), SCREEN_W / 2, SCREEN_H / 2 - 40, black, -1, "Paused");
    textprintf_centre_ex(picture, Font(), SCREEN_W / 2, SCREEN_H / 2, black, -1, "Press P to go on.");
  }
  static BITMAP* ScreenCopy() {
    BITMAP* copy = create_bitmap(SCREEN_W, SCREEN_H);
    blit(screen, copy, 0, 0, 0, 0, SCREEN_W, SCREEN_H);
    return copy;
  }

  Image banana{}, fly{};
  BITMAP* splatter = nullptr;
  BITMAP* buffer = nullptr;
};

TEST_F(PauseTest, PStopsTheClockUntilPressedAgainAndTheWaitIsNotMadeUp) {
  Game game = PlayingLevel();
  const int before = game.timeLeft;
  const Fly flyBefore = game.flies.front();

  PressKey(KEY_P);
  logic_time = 50;  // ticks pending when the pause begins: none of them runs
  EXPECT_TRUE(PlayFrame(game, buffer));
  EXPECT_TRUE(game.pause.paused);
  for (int frame = 0; frame < 3; ++frame) EXPECT_TRUE(PlayFrame(game, buffer));  // P held
  ReleaseKey(KEY_P);
  for (int frame = 0; frame < 3; ++frame) EXPECT_TRUE(PlayFrame(game, buffer));
  EXPECT_TRUE(game.pause.paused);
  EXPECT_EQ(game.timeLeft, before);
  EXPECT_EQ(game.flies.front().pos.x, flyBefore.pos.x);
  EXPECT_EQ(game.flies.front().pos.y, flyBefore.pos.y);

  PressKey(KEY_P);
  logic_time = 1000;  // ticks that came in while paused
  EXPECT_TRUE(PlayFrame(game, buffer));
  EXPECT_FALSE(game.pause.paused);
  EXPECT_GT(game.timeLeft, before - 1000);  // discarded, not run in a burst
  for (int frame = 0; frame < 3; ++frame) EXPECT_TRUE(PlayFrame(game, buffer));  // P still held
  EXPECT_FALSE(game.pause.paused);
  EXPECT_LT(game.timeLeft, before);  // the clock runs again
}

TEST_F(PauseTest, ThePauseKeyAndEitherPadsStartToggleToo) {
  Game game = PlayingLevel();
  // The library flips the Pause key's state at each press (the key sends no release).
  PressKey(KEY_PAUSE);
  EXPECT_TRUE(PlayFrame(game, buffer));
  EXPECT_TRUE(game.pause.paused);
  EXPECT_TRUE(PlayFrame(game, buffer));
  EXPECT_TRUE(game.pause.paused);
  ReleaseKey(KEY_PAUSE);
  EXPECT_TRUE(PlayFrame(game, buffer));
  EXPECT_FALSE(game.pause.paused);

  num_joysticks = 2;
  for (int p = 0; p < 2; ++p) joy[p].num_buttons = 10;
  joy[1].button[kPadStartButton].b = 1;  // player 2's Start
  EXPECT_TRUE(PlayFrame(game, buffer));
  EXPECT_TRUE(game.pause.paused);
  joy[1].button[kPadStartButton].b = 0;
  EXPECT_TRUE(PlayFrame(game, buffer));
  joy[0].button[kPadStartButton].b = 1;  // player 1's Start
  EXPECT_TRUE(PlayFrame(game, buffer));
  EXPECT_FALSE(game.pause.paused);
  // The squash button is no pause control.
  joy[0].button[kPadStartButton].b = 0;
  joy[0].button[kPadSquashButton].b = 1;
  EXPECT_TRUE(PlayFrame(game, buffer));
  EXPECT_FALSE(game.pause.paused);
}

TEST_F(PauseTest, EveryTapTogglesOnceHoweverShortAndAHeldKeyOnce) {
  Game game = PlayingLevel();
  // Three taps whose presses and releases all come before the next frame looks: one
  // toggle per frame, three in all.
  for (int tap = 0; tap < 3; ++tap) {
    PressKey(KEY_P);
    ReleaseKey(KEY_P);
  }
  for (bool paused : {true, false, true, true}) {
    EXPECT_TRUE(PlayFrame(game, buffer));
    EXPECT_EQ(game.pause.paused, paused);
  }
  // A held key's repeats are no presses.
  for (int report = 0; report < 5; ++report) NoteKeyEvent(KEY_P);
  for (int frame = 0; frame < 4; ++frame) EXPECT_TRUE(PlayFrame(game, buffer));
  EXPECT_FALSE(game.pause.paused);
  ReleaseKey(KEY_P);
  // A pad's Start pressed and let go while the game waits between frames counts too.
  num_joysticks = 1;
  joy[0].num_buttons = 10;
  joy[0].button[kPadStartButton].b = 1;
  SamplePadStart();
  joy[0].button[kPadStartButton].b = 0;
  EXPECT_TRUE(PlayFrame(game, buffer));
  EXPECT_TRUE(game.pause.paused);
}

TEST_F(PauseTest, APauseControlHeldAsPlayBeginsDoesNotPause) {
  PressKey(KEY_P);  // e.g. P was the key that began the level
  Game game = PlayingLevel();
  EXPECT_TRUE(PlayFrame(game, buffer));
  EXPECT_FALSE(game.pause.paused);
  ReleaseKey(KEY_P);
  EXPECT_TRUE(PlayFrame(game, buffer));
  EXPECT_FALSE(game.pause.paused);
  EXPECT_TRUE(Tap(game, KEY_P));  // the next press does
}

TEST_F(PauseTest, PausedFramesKeepTheLastPictureWithTheTextsOverIt) {
  Game game = PlayingLevel();
  // Whatever the last frame showed.
  clear_to_color(screen, makecol(200, 230, 250));
  rectfill(screen, 300, 300, 700, 420, makecol(250, 40, 40));
  BITMAP* expected = ScreenCopy();
  DrawPausedOver(expected);

  PressKey(KEY_P);
  EXPECT_TRUE(PlayFrame(game, buffer));
  EXPECT_TRUE(SamePixels(buffer, expected));
  BITMAP* shown = ScreenCopy();
  EXPECT_TRUE(SamePixels(shown, expected));
  destroy_bitmap(shown);
  ReleaseKey(KEY_P);
  EXPECT_TRUE(PlayFrame(game, buffer));
  shown = ScreenCopy();
  EXPECT_TRUE(SamePixels(shown, expected));
  destroy_bitmap(shown);
  destroy_bitmap(expected);

  // Going on, the frame is drawn afresh over the splats: no pause text is left.
  PressKey(KEY_P);
  EXPECT_TRUE(PlayFrame(game, buffer));
  ASSERT_FALSE(game.pause.paused);
  shown = ScreenCopy();
  const int white = makecol(255, 255, 255);
  int notWhite = 0;
  for (int y = SCREEN_H / 2 - 40; y < SCREEN_H / 2 + 40; ++y)
    for (int x = 300; x < 724; ++x) notWhite += getpixel(shown, x, y) != white;
  EXPECT_EQ(notWhite, 0);
  destroy_bitmap(shown);
}

TEST_F(PauseTest, PausedFramesDrawNoRandomNumbers) {
  Game game = PlayingLevel();
  for (int i = 0; i < 10; ++i) game.flies.push_back(Fly{{100.0 + 60 * i, 100}, {0, 0}, SizeOf(&fly), SCREEN_W, SCREEN_H});
  PressKey(KEY_P);
  srand(7);
  for (int frame = 0; frame < 5; ++frame) EXPECT_TRUE(PlayFrame(game, buffer));
  ASSERT_TRUE(game.pause.paused);
  const int next = rand();
  srand(7);
  EXPECT_EQ(next, rand());
}

TEST_F(PauseTest, LosingTheFocusPausesUntilP) {
  WindowLostFocus();  // before play began: forgotten
  Game game = PlayingLevel();
  EXPECT_TRUE(PlayFrame(game, buffer));
  EXPECT_FALSE(game.pause.paused);

  WindowLostFocus();
  const int before = game.timeLeft;
  EXPECT_TRUE(PlayFrame(game, buffer));
  EXPECT_TRUE(game.pause.paused);
  for (int frame = 0; frame < 20; ++frame) EXPECT_TRUE(PlayFrame(game, buffer));
  WindowLostFocus();  // lost again while paused: still paused, never resumed by it
  EXPECT_TRUE(PlayFrame(game, buffer));
  EXPECT_TRUE(game.pause.paused);
  EXPECT_EQ(game.timeLeft, before);
  EXPECT_FALSE(Tap(game, KEY_P));
}

TEST_F(PauseTest, EscapeOrACloseRequestWhilePausedEndsTheGame) {
  for (bool byClose : {false, true}) {
    SCOPED_TRACE(byClose ? "close request" : "Escape");
    Game game = PlayingLevel();
    ASSERT_TRUE(Tap(game, KEY_P));
    if (byClose) {
      quitnow = true;
    } else {
      key[KEY_ESC] = 1;
    }
    EXPECT_FALSE(PlayFrame(game, buffer));
    EXPECT_EQ(DecideLevelEnd(game), LevelEnd::Quit);
    ReleaseAll();
  }
}

TEST_F(PauseTest, LevelScreensGoOnAtAKeyButNotAtTheCloseButton) {
  simulate_keypress((KEY_SPACE << 8) | ' ');
  WaitForKeyOrPadButton();
  EXPECT_FALSE(keypressed());  // the key was taken, as readkey() takes it

  // A close request made during the wait takes effect after the key: the wait still
  // needs one, pressed here a moment later from another thread.
  quitnow = true;
  const auto start = std::chrono::steady_clock::now();
  std::thread presser([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    simulate_keypress((KEY_X << 8) | 'x');
  });
  WaitForKeyOrPadButton();
  presser.join();
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(250));
  EXPECT_FALSE(keypressed());
  EXPECT_TRUE(quitnow);  // still there for the level loop to act on
}

}  // namespace

// The key reports a display can send for P and M, and the presses each counts: a
// repeat comes as a press alone (XKB's detectable auto-repeat, asked for at start-up)
// or, without it, as a release and a press together.
TEST_F(PauseTest, KeyReportsCountAsPressesOnlyWhenTheKeyWentDown) {
  constexpr int kUp = 0x80;
  struct Case { const char* what; std::vector<int> reports; int presses; };
  for (const int key : {KEY_P, KEY_M}) {
    const Toggle toggle = key == KEY_P ? Toggle::Pause : Toggle::Mute;
    const Case cases[] = {
        {"one tap", {key, key | kUp}, 1},
        {"a held key's repeats as presses alone", {key, key, key, key, key | kUp}, 1},
        {"a release first (a key held as play began)", {key | kUp, key, key | kUp}, 1},
        {"two taps", {key, key | kUp, key, key | kUp}, 2},
    };
    for (const Case& c : cases) {
      ForgetTogglePresses();
      for (const int report : c.reports) NoteKeyEvent(report);
      int presses = 0;
      while (presses < 10 && TakeTogglePress(toggle)) ++presses;
      EXPECT_EQ(presses, c.presses) << c.what << ", key " << key;
    }
  }
}
