// SPDX-License-Identifier: GPL-3.0-or-later
// Key presses reported once, and the one-word text prompt driven with scripted keys.
#include <allegro.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "init.h"
#include "input.h"
#include "modal_driver.h"
#include "test_support.h"
#include "util.h"

namespace {

bool Logged(const std::string& message) {
  const std::vector<std::string> all = LogMessages();
  return std::find(all.begin(), all.end(), message) != all.end();
}

// Whether the prompt has drawn its first pass over a buffer filled with blue.
std::function<bool()> Drawn(BITMAP* buffer) {
  return [buffer] { return getpixel(buffer, 0, 0) == makecol(255, 255, 255); };
}

// Feeds `keys` to a running prompt one per pass, then holds Enter. The prompt empties
// the key buffer when it opens, so the keys come only once it has drawn.
PassDriver Typist(BITMAP* buffer, std::vector<int> keys) {
  auto next = std::make_shared<std::size_t>(0);
  return PassDriver(
      [keys, next](int) {
        if (*next < keys.size()) {
          simulate_keypress(keys[(*next)++]);
          return true;
        }
        key[KEY_ENTER] = 1;
        Press(KEY_ENTER, '\r');
        return false;
      },
      Drawn(buffer));
}

// Runs the prompt on the buffer with `keys` typed and Enter pressed after them.
std::string TypeWord(BITMAP* buffer, int maxLength, const std::string& initial,
                     const std::vector<int>& keys) {
  ResetKeys();
  clear_to_color(buffer, makecol(0, 0, 255));
  PassDriver driver = Typist(buffer, keys);
  std::string word = GetWord(buffer, SCREEN_W / 2, 100, maxLength, "Name?", initial);
  driver.Finish();
  return word;
}

int Char(char c) { return (KEY_A << 8) | static_cast<unsigned char>(c); }
const int kBackspace = (KEY_BACKSPACE << 8) | 8;

class GetWordTest : public testing::Test {
 protected:
  void SetUp() override {
    ResetKeys();
    ResetLog();
    buffer = create_bitmap(SCREEN_W, SCREEN_H);
    clear_to_color(buffer, makecol(0, 0, 255));
  }
  void TearDown() override {
    ResetKeys();
    destroy_bitmap(buffer);
  }
  BITMAP* buffer = nullptr;
};

}  // namespace

TEST(Keyhit, ReportsAHeldKeyOnceUntilItIsSeenUp) {
  ResetKeys();
  key[KEY_UP] = 1;  // already down at the very first call: still reported
  EXPECT_TRUE(keyhit(KEY_UP));
  for (int frame = 0; frame < 60; ++frame) EXPECT_FALSE(keyhit(KEY_UP)) << "frame " << frame;

  // Another key has a latch of its own.
  key[KEY_DOWN] = 1;
  EXPECT_TRUE(keyhit(KEY_DOWN));

  key[KEY_UP] = 0;
  EXPECT_FALSE(keyhit(KEY_UP));
  key[KEY_UP] = 1;
  EXPECT_TRUE(keyhit(KEY_UP)) << "a fresh press after the key was seen up";

  // A release that no call sees goes unnoticed.
  key[KEY_DOWN] = 0;
  key[KEY_DOWN] = 1;
  EXPECT_FALSE(keyhit(KEY_DOWN));
  ResetKeys();
}

TEST(Keyhit, CodesTheLibraryDoesNotHaveAreNeverDown) {
  ResetKeys();
  for (int k = 0; k < KEY_MAX; ++k) key[k] = 1;
  // Every char value outside the key table, negative ones included, on two rounds
  // so that a latch written out of range would show as well.
  for (int round = 0; round < 2; ++round) {
    for (int c = CHAR_MIN; c <= CHAR_MAX; ++c) {
      if (c >= 0 && c < KEY_MAX) continue;
      EXPECT_FALSE(keyhit(static_cast<char>(c))) << "code " << c;
    }
  }
  // The real keys still work alongside.
  EXPECT_TRUE(keyhit(KEY_MAX - 1));
  EXPECT_TRUE(keyhit(0));
  ResetKeys();
}

TEST_F(GetWordTest, DrawsThePromptAndTheTextAndReturnsTheWordTyped) {
  std::string word = TypeWord(buffer, 10, "Bo", {Char('b'), Char('9')});
  EXPECT_EQ(word, "Bob9");
  EXPECT_EQ(logic_time, 0) << "the tick left by the last pass is dropped at the end";

  const std::vector<std::string> log = LogMessages();
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.front(), "Trying to get a word from user, with prompt of Name?");
  EXPECT_EQ(log.back(), "Got word \"Bob9\" from prompt Name?");

  // The screen as last drawn: white, the prompt, and the text before the last key.
  BITMAP* expected = create_bitmap(SCREEN_W, SCREEN_H);
  clear_to_color(expected, makecol(255, 255, 255));
  const int th = text_height(Font());
  textout_centre_ex(expected, Font(), "Name?", SCREEN_W / 2, 100, makecol(0, 0, 0), -1);
  textout_centre_ex(expected, Font(), "Bob", SCREEN_W / 2, 100 + th + 2, makecol(0, 0, 0), -1);
  int differing = 0;
  for (int y = 0; y < SCREEN_H; ++y) {
    for (int x = 0; x < SCREEN_W; ++x) differing += getpixel(buffer, x, y) != getpixel(expected, x, y);
  }
  EXPECT_EQ(differing, 0);
  EXPECT_EQ(getpixel(screen, 0, 0), makecol(255, 255, 255)) << "the prompt reached the screen";
  destroy_bitmap(expected);
}

TEST_F(GetWordTest, InitialTextIsCutOneShortOfTheLimit) {
  // With room for one letter the prompt starts empty and takes one letter.
  EXPECT_EQ(TypeWord(buffer, 1, "Zed", {Char('x'), Char('y')}), "x");
  // Twelve letters offered, nine kept; typing can bring it to ten and no further.
  EXPECT_EQ(TypeWord(buffer, 10, "abcdefghijkl", {Char('X'), Char('Y'), Char('Z')}),
            "abcdefghiX");
  EXPECT_EQ(TypeWord(buffer, 10, "abcdefghijkl", {}), "abcdefghi");
}

TEST_F(GetWordTest, TypingAtTheLimitChangesNothingButBackspaceStillWorks) {
  EXPECT_EQ(TypeWord(buffer, 3, "",
                     {Char('a'), Char('b'), Char('c'), Char('d'), kBackspace, Char('e')}),
            "abe");
  // Backspace on an empty text leaves it empty.
  EXPECT_EQ(TypeWord(buffer, 5, "", {kBackspace, kBackspace, Char('q')}), "q");
  EXPECT_EQ(TypeWord(buffer, 5, "ab", {kBackspace, kBackspace, kBackspace}), "");
}

TEST_F(GetWordTest, AcceptsOnlyLettersDigitsBlanksAndFullStops) {
  const std::vector<int> keys = {
      Char('-'), Char('_'), Char(','), Char('\xe9'), Char('\t'), Char('/'),
      Char('A'), Char('z'), Char(' '), Char('0'),    Char('9'),  Char('.'),
      (KEY_ESC << 8) | 27 /* the character only; Escape itself is not held */};
  EXPECT_EQ(TypeWord(buffer, 20, "", keys), "Az 09.");
}

TEST_F(GetWordTest, WaitsForAnEnterHeldFromBeforeToGoUp) {
  key[KEY_ENTER] = 1;
  Press(KEY_A, 'z');  // typed before the prompt: thrown away with the key buffer
  const int untouched = makecol(0, 0, 255);
  bool drewWhileHeld = false;
  std::thread player([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    drewWhileHeld = getpixel(buffer, 0, 0) != untouched;
    key[KEY_ENTER] = 0;
    // The first pass draws the prompt, then waits for a key.
    if (!WaitFor([&] { return getpixel(buffer, 0, 0) == makecol(255, 255, 255); })) return;
    Press(KEY_A, 'k');
    if (!WaitFor([] { return logic_time == 0; })) return;
    key[KEY_ENTER] = 1;
    logic_time = 1;
  });
  logic_time = 1;
  std::string word = GetWord(buffer, 300, 200, 8, "Who?", "");
  player.join();
  EXPECT_FALSE(drewWhileHeld) << "nothing is drawn while Enter is still held";
  EXPECT_EQ(word, "k");
}

TEST_F(GetWordTest, EnterAndEscapeHeldTogetherReturnTheInitialTextWithoutDrawing) {
  key[KEY_ENTER] = 1;
  key[KEY_ESC] = 1;
  EXPECT_EQ(GetWord(buffer, 300, 200, 8, "Who?", "Ann"), "Ann");
  EXPECT_EQ(getpixel(buffer, 0, 0), makecol(0, 0, 255));
  EXPECT_TRUE(Logged("Got word \"Ann\" from prompt Who?"));
}

TEST_F(GetWordTest, EscapeEndsTheProcessWithStatusZero) {
  // Escape is read from the buffer like any key; the next pass finds it held.
  EXPECT_EXIT(
      {
        ShowLogAtExit();
        ResetKeys();
        PassDriver driver(
            [](int pass) {
              if (pass == 0) {
                Press(KEY_A, 'a');
                Press(KEY_ESC, 27);
                return true;
              }
              if (keypressed()) return true;
              key[KEY_ESC] = 1;
              return false;
            },
            Drawn(buffer));
        GetWord(buffer, 300, 200, 8, "Who?", "");
      },
      testing::ExitedWithCode(0),
      "Trying to get a word from user, with prompt of Who\\?\n"
      "Quit signal received in main GetWord loop, exit\\(0\\)ing\nLOG END");
}

TEST_F(GetWordTest, CloseRequestWhileWaitingForAKeyEndsTheProcess) {
  EXPECT_EXIT(
      {
        ShowLogAtExit();
        ResetKeys();
        std::thread closer([&] {
          WaitFor([&] { return getpixel(buffer, 0, 0) == makecol(255, 255, 255); });
          quitnow = true;
        });
        closer.detach();
        GetWord(buffer, 300, 200, 8, "Who?", "");
      },
      testing::ExitedWithCode(0),
      "Quit signal received while waiting for keypress in GetWord, exit\\(0\\)ing\nLOG END");
}

TEST_F(GetWordTest, ImpossibleLengthsFailLikeAnAllocationWithoutWaiting) {
  // Keys in the buffer and no Enter: a prompt that went on would never return.
  Press(KEY_A, 'a');
  EXPECT_EQ(GetWord(buffer, 300, 200, 0, "Who?", "x"), "malloc failed");
  EXPECT_EQ(GetWord(buffer, 300, 200, INT_MAX, "Who?", "x"), "malloc failed");
  EXPECT_EQ(GetWord(buffer, 300, 200, -5, "Who?", "x"), "malloc failed");
  EXPECT_EQ(GetWord(buffer, 300, 200, INT_MIN, "Who?", "x"), "malloc failed");

  const std::string tail = " bytes for word-to-input, can't read word.";
  EXPECT_TRUE(Logged("Failed to allocate 1" + tail));
  EXPECT_TRUE(Logged("Failed to allocate 2147483648" + tail));
  EXPECT_TRUE(Logged("Failed to allocate -4" + tail));
  EXPECT_TRUE(Logged("Failed to allocate -2147483647" + tail));
  EXPECT_EQ(getpixel(buffer, 0, 0), makecol(0, 0, 255)) << "nothing drawn";
  EXPECT_TRUE(keypressed()) << "no key read";
}

TEST_F(GetWordTest, CentredFormFitsTheLimitToTheScreenWidth) {
  // As many W as fit across the screen, less two: typing one more changes nothing.
  const int limit = SCREEN_W / text_length(Font(), "W") - 2;
  PassDriver driver = Typist(buffer, std::vector<int>(limit + 1, Char('w')));
  std::string word = GetWord(buffer, "Type", "");
  driver.Finish();
  EXPECT_EQ(word, std::string(limit, 'w'));
}
