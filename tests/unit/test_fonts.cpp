// SPDX-License-Identifier: GPL-3.0-or-later
// The current font: loaded from a datafile at start-up, or the built-in font.
#include <allegro.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "init.h"
#include "test_support.h"
#include "util.h"

namespace {

const std::string kFixtures = NANASPLAT_FIXTURE_DIR;

std::vector<std::string> FallbackLines(const std::string& file, const std::string& failure) {
  return {"Loading font " + file, failure + file,
          "Loading font from " + file + " failed, falling back on default", "Setting global font"};
}

TEST(Fonts, BeforeStartUpTheCurrentFontIsTheBuiltInOne) {
  EXPECT_EQ(Font(), font);
  EXPECT_NE(Font(), nullptr);
}

TEST(Fonts, MissingDatafileFallsBackOnTheBuiltInFont) {
  ResetLog();
  SetFont("font.dat");
  EXPECT_EQ(Font(), font);
  EXPECT_EQ(LogMessages(), FallbackLines("font.dat", "Failed to load font data file "));
}

TEST(Fonts, EmptyDatafileFallsBackOnTheBuiltInFont) {
  const std::string file = kFixtures + "/empty.dat";
  ResetLog();
  SetFont(file.c_str());
  EXPECT_EQ(Font(), font);
  EXPECT_EQ(LogMessages(), FallbackLines(file, "Failed to load font as first item in data file "));
}

TEST(Fonts, DatafileWhoseFirstObjectIsABitmapIsNeverUsedAsAFont) {
  const std::string file = kFixtures + "/bitmap_first.dat";
  ResetLog();
  EXPECT_EQ(GetFont(file.c_str()), nullptr);
  SetFont(file.c_str());
  EXPECT_EQ(Font(), font);
  auto messages = LogMessages();
  ASSERT_EQ(messages.size(), 6u);
  EXPECT_EQ(std::vector<std::string>(messages.begin() + 2, messages.end()),
            FallbackLines(file, "Failed to load font as first item in data file "));
  // The built-in font still draws text.
  EXPECT_GT(text_length(Font(), "Level 1"), 0);
}

TEST(Fonts, TheLogLinesComeFromTheirOwnModules) {
  ResetLog();
  SetFont("font.dat");
  auto lines = LogLines();
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0].rfind("(src/util.cpp:", 0), 0u);
  EXPECT_EQ(lines[1].rfind("(src/util.cpp:", 0), 0u);
  EXPECT_EQ(lines[2].rfind("(src/init.cpp:", 0), 0u);
  EXPECT_EQ(lines[3].rfind("(src/init.cpp:", 0), 0u);
}

TEST(Fonts, NullNeverReplacesTheCurrentFont) {
  FONT* built = font;
  SetGlobalFont(nullptr);
  EXPECT_EQ(Font(), built);
  FONT* other = reinterpret_cast<FONT*>(&built);  // any non-null pointer, never drawn with
  SetGlobalFont(other);
  SetGlobalFont(nullptr);
  EXPECT_EQ(Font(), other);
  SetGlobalFont(built);
}

// A datafile cut short or scrambled: the library may still load it, with glyphs it
// could not read; such a font is never used.
class DamagedFonts : public testing::Test {
 protected:
  void SetUp() override { whole = ReadFile(std::string(NANASPLAT_MEDIA_DIR) + "/font.dat"); }
  void TearDown() override {
    SetGlobalFont(font);
    std::srand(1);
  }

  // Writes `contents` as "damaged.dat" in the scratch directory and returns its path.
  std::string Damaged(const std::string& contents) {
    const std::string path = ScratchDir() + "/damaged.dat";
    WriteFile(path, contents);
    return path;
  }

  // Whether every printable character draws with `f` on a bitmap as wide as the text.
  static bool DrawsAllCharacters(FONT* f) {
    std::string all;
    for (char c = ' '; c <= '~'; ++c) all += c;
    const int w = text_length(f, all.c_str());
    const int h = text_height(f);
    if (w <= 0 || h <= 0) return false;
    BITMAP* bmp = create_bitmap(w, h);
    textout_ex(bmp, f, all.c_str(), 0, 0, makecol(0, 0, 0), makecol(255, 255, 255));
    destroy_bitmap(bmp);
    return true;
  }

  std::string whole;
};

TEST_F(DamagedFonts, TheGamesOwnFontIsWhole) {
  ASSERT_GT(whole.size(), 1000u);
  FONT* loaded = GetFont(Damaged(whole).c_str());
  ASSERT_NE(loaded, nullptr);
  EXPECT_TRUE(DrawsAllCharacters(loaded));
}

TEST_F(DamagedFonts, CutShortTheyFallBackOnTheBuiltInFontAsAFileThatCouldNotBeLoaded) {
  for (int percent : {10, 25, 50, 75, 90}) {
    const std::string file = Damaged(whole.substr(0, whole.size() * percent / 100));
    ResetLog();
    SetFont(file.c_str());
    EXPECT_EQ(Font(), font) << percent << " %";
    EXPECT_EQ(LogMessages(), FallbackLines(file, "Failed to load font data file ")) << percent << " %";
  }
}

TEST_F(DamagedFonts, CutAtAnyLengthTheyAreRefused) {
  // (Under AddressSanitizer this also shows that the library's reader never runs past
  // the end of a cut-short font object.)
  const size_t step = whole.size() / 150 + 1;
  for (size_t length = 0; length < whole.size(); length += step) {
    EXPECT_EQ(GetFont(Damaged(whole.substr(0, length)).c_str()), nullptr) << length << " bytes";
  }
  EXPECT_EQ(GetFont(Damaged(whole.substr(0, whole.size() - 1)).c_str()), nullptr) << "one byte short";
}

TEST_F(DamagedFonts, ScrambledAfterTheHeaderTheFontIsEitherRefusedOrDrawsEveryCharacter) {
  constexpr size_t kHeader = 64;  // bytes kept
  for (unsigned seed = 1; seed <= 8; ++seed) {
    std::srand(seed);
    std::string scrambled = whole;
    for (size_t i = kHeader; i < scrambled.size(); ++i) scrambled[i] = static_cast<char>(std::rand());
    FONT* loaded = GetFont(Damaged(scrambled).c_str());
    if (loaded != nullptr) {
      EXPECT_TRUE(DrawsAllCharacters(loaded)) << "seed " << seed;
    }
  }
}

}  // namespace
