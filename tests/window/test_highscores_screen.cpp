// SPDX-License-Identifier: GPL-3.0-or-later
// The name entry and table screens, driven by scripted keys in the 1024 x 768 window.
#include <allegro.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <deque>
#include <string>
#include <sys/stat.h>

#include "highscores.h"
#include "test_support.h"
#include "util.h"

namespace {

// A scripted keyboard. The screens ask whether Enter is down each time round their
// loops; the script answers from a queue of steps, but only once every key it put in
// the buffer has been taken, so the answers fall between keys deterministically.
// A sentinel key in the buffer before the call keeps the script waiting until the
// screen has emptied the buffer at its start.
struct Step {
  enum Kind { kKeys, kEnter, kEsc, kSnapshot } kind;
  std::vector<int> keys;  // readkey() values for kKeys
};
std::deque<Step> script;
bool esc_down = false;
BITMAP* watched = nullptr;   // the buffer HighScores draws into
BITMAP* snapshot = nullptr;  // a copy of it taken by a kSnapshot step

bool ScriptedKeyDown(int scancode) {
  if (scancode == KEY_ESC) return esc_down;
  if (scancode != KEY_ENTER || keypressed()) return false;
  // Nothing left: Enter is down (this ends the table screen).
  while (!script.empty()) {
    Step step = script.front();
    script.pop_front();
    switch (step.kind) {
      case Step::kKeys:
        for (int k : step.keys) simulate_keypress(k);
        return false;
      case Step::kEnter:
        // A real Enter also puts its key in the buffer.
        simulate_keypress((KEY_ENTER << 8) | '\r');
        return true;
      case Step::kEsc:
        esc_down = true;
        return false;
      case Step::kSnapshot:
        blit(watched, snapshot, 0, 0, 0, 0, SCREEN_W, SCREEN_H);
        break;
    }
  }
  return true;
}

int KeyFor(char c) {
  int scancode = KEY_SPACE;
  if (c >= 'a' && c <= 'z') scancode = KEY_A + (c - 'a');
  if (c >= 'A' && c <= 'Z') scancode = KEY_A + (c - 'A');
  if (c >= '0' && c <= '9') scancode = KEY_0 + (c - '0');
  if (c == '.') scancode = KEY_STOP;
  if (c == '-') scancode = KEY_MINUS;
  return (scancode << 8) | static_cast<unsigned char>(c);
}

Step Typed(const std::string& text) {
  Step step{Step::kKeys, {}};
  for (char c : text) step.keys.push_back(KeyFor(c));
  return step;
}
Step Keys(std::vector<int> keys) { return Step{Step::kKeys, keys}; }
Step Enter() { return Step{Step::kEnter, {}}; }
const int kBackspace = (KEY_BACKSPACE << 8) | 8;

class HighScoreScreen : public testing::Test {
 protected:
  void SetUp() override {
    buffer = create_bitmap(SCREEN_W, SCREEN_H);
    snapshot = create_bitmap(SCREEN_W, SCREEN_H);
    watched = buffer;
    script.clear();
    esc_down = false;
    // A screen that waits for a key the script never gives ends the test here
    // (SIGALRM), not at the suite's timeout.
    alarm(20);
  }
  void TearDown() override {
    alarm(0);
    destroy_bitmap(buffer);
    destroy_bitmap(snapshot);
  }
  // Runs HighScores with `steps` played as described above.
  void Play(int points, std::deque<Step> steps) {
    script = std::move(steps);
    clear_keybuf();
    simulate_keypress((KEY_LSHIFT << 8));  // the sentinel
    ScoreScreenCalls scripted;
    scripted.keyDown = ScriptedKeyDown;
    HighScores(buffer, points, "Player 1", scripted);
  }
  BITMAP* buffer = nullptr;
};

// Pixels of colour `colour` in the text band starting at y, and whether they are
// centred on the middle of the screen.
struct Band {
  int count = 0;
  int min_x = 1 << 30;
  int max_x = -1;
  bool Centred() const { return count > 0 && std::abs((min_x + max_x) / 2 - SCREEN_W / 2) <= 8; }
};
Band InBand(BITMAP* bmp, int y, int colour) {
  Band band;
  for (int row = y; row < y + text_height(globalFont); ++row)
    for (int x = 0; x < bmp->w; ++x)
      if (getpixel(bmp, x, row) == colour) {
        ++band.count;
        band.min_x = std::min(band.min_x, x);
        band.max_x = std::max(band.max_x, x);
      }
  return band;
}
int Black() { return makecol(0, 0, 0); }
int Red() { return makecol(255, 0, 0); }

std::string TableText(int n, int top) {
  std::string text;
  for (int i = 0; i < n; ++i) text += "P" + std::to_string(i + 1) + "\n" + std::to_string(top - 10 * i) + "\n";
  return text;
}

}  // namespace

TEST_F(HighScoreScreen, TypedLettersDigitsAndSpacesBecomeTheNameInTheFile) {
  Play(120, {Typed("Ann Lee7"), Enter()});
  EXPECT_EQ(ReadFile("scores"), "Ann Lee7\n120\n");
  EXPECT_TRUE(LogLines().empty());
}

TEST_F(HighScoreScreen, BackspaceRemovesTheLastLetterAndDoesNothingOnAnEmptyName) {
  Play(5, {Keys({kBackspace, kBackspace}), Typed("Bx"), Keys({kBackspace}), Typed("ob"), Enter()});
  EXPECT_EQ(ReadFile("scores"), "Bob\n5\n");
}

TEST_F(HighScoreScreen, TheNameStopsGrowingAtFourteenCharacters) {
  Play(5, {Typed("abcdefghijklmnopqrst"), Keys({kBackspace}), Typed("Z"), Enter()});
  EXPECT_EQ(ReadFile("scores"), "abcdefghijklmZ\n5\n");
}

TEST_F(HighScoreScreen, PunctuationAndKeysWithoutACharacterAreIgnored) {
  Play(5, {Typed("A.-"), Keys({KEY_LEFT << 8, KEY_F1 << 8, (KEY_1 << 8) | '!', (KEY_TAB << 8) | '\t'}),
           Typed("b"), Enter()});
  EXPECT_EQ(ReadFile("scores"), "Ab\n5\n");
}

TEST_F(HighScoreScreen, EnterOnAnEmptyNameIsIgnoredAndOneLetterIsEnough) {
  Play(5, {Enter(), Keys({kBackspace}), Enter(), Typed("Q"), Enter()});
  EXPECT_EQ(ReadFile("scores"), "Q\n5\n");
}

TEST_F(HighScoreScreen, TheEntryScreenShowsRankScoreAndPrompt) {
  WriteFile("scores", TableText(3, 100));  // 100, 90, 80: 85 is third
  Play(85, {Typed("Al"), Step{Step::kSnapshot, {}}, Enter()});
  for (int y : {50, 85, SCREEN_H / 2}) EXPECT_TRUE(InBand(snapshot, y, Black()).Centred()) << "y = " << y;
  EXPECT_EQ(InBand(snapshot, 20, Black()).count, 0);
  // The rank line differs between rank 3 and rank 1 (and only there).
  BITMAP* third = create_bitmap(SCREEN_W, SCREEN_H);
  blit(snapshot, third, 0, 0, 0, 0, SCREEN_W, SCREEN_H);
  WriteFile("scores", TableText(3, 10));
  Play(85, {Typed("Al"), Step{Step::kSnapshot, {}}, Enter()});
  Band first = InBand(snapshot, 50, Black());
  Band was_third = InBand(third, 50, Black());
  EXPECT_NE(first.count, was_third.count);
  EXPECT_EQ(InBand(snapshot, 85, Black()).count, InBand(third, 85, Black()).count);
  destroy_bitmap(third);
}

TEST_F(HighScoreScreen, TheTableShowsTenRowsOfAFullTable) {
  WriteFile("scores", TableText(10, 100));
  Play(55, {Typed("New"), Enter()});
  EXPECT_TRUE(InBand(buffer, 20, Black()).Centred());
  for (int i = 0; i < 10; ++i) EXPECT_TRUE(InBand(buffer, 90 + 35 * i, Black()).Centred()) << "row " << i;
  EXPECT_EQ(InBand(buffer, 90 + 35 * 10, Black()).count, 0);  // the eleventh entry is not drawn
  EXPECT_EQ(InBand(buffer, 440, Red()).count, 0);
  EXPECT_TRUE(InBand(buffer, 475, Black()).Centred());
  // Eleven entries written.
  std::string text = ReadFile("scores");
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 22);
}

TEST_F(HighScoreScreen, AShortTableLeavesTheLowerRowsEmpty) {
  WriteFile("scores", TableText(2, 100));
  Play(95, {Typed("Mid"), Enter()});
  EXPECT_EQ(ReadFile("scores"), "P1\n100\nMid\n95\nP2\n90\n");
  for (int i = 0; i < 3; ++i) EXPECT_GT(InBand(buffer, 90 + 35 * i, Black()).count, 0) << "row " << i;
  for (int i = 3; i < 10; ++i) EXPECT_EQ(InBand(buffer, 90 + 35 * i, Black()).count, 0) << "row " << i;
}

TEST_F(HighScoreScreen, ATableThatCannotBeSavedSaysSoInRed) {
  ASSERT_EQ(mkdir("scores", 0777), 0);  // nothing can replace a directory
  Play(10, {Typed("Ann"), Enter()});
  EXPECT_TRUE(InBand(buffer, 440, Red()).Centred());
  EXPECT_GT(InBand(buffer, 90, Black()).count, 0);  // the table is still shown
  EXPECT_EQ(LogLines().size(), 1u);
}

TEST_F(HighScoreScreen, AScoreThatEarnsNoPlaceShowsNothingAndLeavesTheFile) {
  const std::string text = TableText(9, 100);  // lowest 20
  WriteFile("scores", text);
  clear_to_color(buffer, makecol(0, 0, 255));
  Play(20, {Typed("Nobody"), Enter()});
  EXPECT_EQ(ReadFile("scores"), text);
  EXPECT_EQ(getpixel(buffer, SCREEN_W / 2, 20), makecol(0, 0, 255));
  EXPECT_EQ(getpixel(buffer, 0, 0), makecol(0, 0, 255));
}

TEST_F(HighScoreScreen, EscapeDuringNameEntryEndsTheGameAndKeepsTheFile) {
  // The death-test child runs this test afresh in a scratch directory of its own; it
  // is sent to the parent's directory, so the parent can look at the file afterwards.
  setenv("NANASPLAT_SCORES_TEST_DIR", ScratchDir().c_str(), 0);
  const std::string text = "Old\n7\r\nKeep  me\n3 trailing\n";
  WriteFile("scores", text);
  EXPECT_EXIT(
      {
        if (chdir(std::getenv("NANASPLAT_SCORES_TEST_DIR")) != 0) std::_Exit(3);
        Play(50, {Typed("Half"), Step{Step::kEsc, {}}, Enter()});
        std::_Exit(4);  // not reached: Escape ends the process
      },
      testing::ExitedWithCode(0), "");
  EXPECT_EQ(ReadFile("scores"), text);
}
