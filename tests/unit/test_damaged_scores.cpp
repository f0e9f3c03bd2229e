// SPDX-License-Identifier: GPL-3.0-or-later
// A damaged high-score file (cut short, or bytes scrambled) reads as a table of at most
// ten entries, and every name read from it draws in the game's font and the built-in one.
#include <allegro.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "highscores.h"
#include "test_support.h"
#include "util.h"

namespace {

class DamagedScores : public testing::Test {
 protected:
  void SetUp() override {
    for (int i = 0; i < kScoreTableSize; ++i) {
      whole += "Player " + std::to_string(i + 1) + "\n" + std::to_string(1000 - 50 * i) + "\n";
    }
    gameFont = GetFont(NANASPLAT_MEDIA_DIR "/font.dat");
    screenLike = create_bitmap(1024, 768);
  }
  void TearDown() override {
    destroy_bitmap(screenLike);
    std::srand(1);
  }

  // Reads `contents` as the file "scores" and draws every entry as the table does.
  void ReadAndDraw(const std::string& contents, const std::string& what) {
    WriteFile("scores", contents);
    const ScoreTable table = ReadScores("scores");
    EXPECT_LE(table.count, kScoreTableSize) << what;
    EXPECT_EQ(static_cast<int>(table.entries.size()), table.count) << what;
    int row = 0;
    for (const Score& entry : table.entries) {
      EXPECT_FALSE(entry.name.empty()) << what;
      for (FONT* f : {gameFont, font}) {
        textprintf_centre_ex(screenLike, f, 512, 90 + 35 * row, makecol(0, 0, 0), -1, "%s -- %d",
                             entry.name.c_str(), entry.score);
      }
      ++row;
    }
  }

  std::string whole;
  FONT* gameFont = nullptr;
  BITMAP* screenLike = nullptr;
};

TEST_F(DamagedScores, CutShortAtAnyLengthReadAndDraw) {
  ASSERT_NE(gameFont, nullptr);
  for (size_t length = 0; length <= whole.size(); ++length) {
    ReadAndDraw(whole.substr(0, length), std::to_string(length) + " bytes");
  }
  EXPECT_EQ(ReadScores("scores").count, kScoreTableSize);  // the whole file, last
}

TEST_F(DamagedScores, ScrambledReadAndDraw) {
  ASSERT_NE(gameFont, nullptr);
  for (unsigned seed = 1; seed <= 200; ++seed) {
    std::srand(seed);
    std::string scrambled = whole;
    // Seeds up to 100 scramble a few bytes (names and numbers half readable), the
    // rest scramble every byte.
    const size_t changes = seed <= 100 ? 1 + seed % 8 : scrambled.size();
    for (size_t i = 0; i < changes; ++i) {
      const size_t at = changes == scrambled.size() ? i : std::rand() % scrambled.size();
      scrambled[at] = static_cast<char>(std::rand());
    }
    ReadAndDraw(scrambled, "seed " + std::to_string(seed));
  }
}

}  // namespace
