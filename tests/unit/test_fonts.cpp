// The current font: loaded from a datafile at start-up, or the built-in font.
#include <allegro.h>
#include <gtest/gtest.h>

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

}  // namespace
