// SPDX-License-Identifier: GPL-3.0-or-later
// The file chooser on a scratch directory, driven one pass at a time.
#include <allegro.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "init.h"
#include "input.h"
#include "modal_driver.h"
#include "test_support.h"
#include "util.h"

namespace {

const char kSawPrefix[] = "Saw file \"";
const char kSawSuffix[] = " during file selection";

// The entries in the order the chooser listed them, read back from its log.
std::vector<std::string> ListedEntries() {
  std::vector<std::string> entries;
  for (const std::string& m : LogMessages()) {
    if (m.rfind(kSawPrefix, 0) != 0) continue;
    const std::string rest = m.substr(sizeof(kSawPrefix) - 1);
    entries.push_back(rest.substr(0, rest.size() - (sizeof(kSawSuffix) - 1)));
  }
  return entries;
}

bool Logged(const std::string& message) {
  const std::vector<std::string> all = LogMessages();
  return std::find(all.begin(), all.end(), message) != all.end();
}

// Line pitch of the list, in pixels.
int Pitch() { return text_height(Font()) + 2; }

// Where the selected row's green frame should start: one pitch per row below the
// prompt band, but never closer than three pitches to the bottom of the screen.
int ExpectedFrameTop(int selection) {
  return std::min((selection + 1) * Pitch(), SCREEN_H - 3 * Pitch()) + 2;
}

// The top of the green frame down the column x = 10, or -1 when there is none.
int FrameTop(BITMAP* buffer) {
  for (int y = 0; y < SCREEN_H; ++y) {
    if (getpixel(buffer, 10, y) == makecol(0, 255, 0)) return y;
  }
  return -1;
}

class SelectFileTest : public testing::Test {
 protected:
  void SetUp() override {
    ResetKeys();
    std::filesystem::create_directory(ScratchDir() + "/list");
    buffer = create_bitmap(SCREEN_W, SCREEN_H);
    clear_to_color(buffer, makecol(0, 0, 255));
  }
  void TearDown() override {
    ResetKeys();
    destroy_bitmap(buffer);
  }
  // Files list/f000.txt ... in the scratch directory.
  void MakeFiles(int count) {
    for (int i = 0; i < count; ++i) {
      char name[32];
      std::snprintf(name, sizeof(name), "/list/f%03d.txt", i);
      WriteFile(ScratchDir() + name, "x");
    }
    ResetLog();
  }
  BITMAP* buffer = nullptr;
};

}  // namespace

TEST_F(SelectFileTest, NothingMatchingReturnsEmptyWithoutAScreen) {
  std::filesystem::create_directory(ScratchDir() + "/list/folder.txt");
  WriteFile(ScratchDir() + "/list/other.dat", "x");
  key[KEY_ENTER] = 1;  // would hold up any screen
  EXPECT_EQ(SelectFile(buffer, "list/*.txt", "Pick"), "");
  EXPECT_EQ(SelectFile(buffer, "nowhere/*", "Pick"), "");
  EXPECT_TRUE(Logged("Trying to select a file"));
  EXPECT_TRUE(Logged(
      "Tried to select a file with wildcard \"list/*.txt\" but there are no such files!"));
  EXPECT_TRUE(Logged(
      "Tried to select a file with wildcard \"nowhere/*\" but there are no such files!"));
  EXPECT_TRUE(ListedEntries().empty()) << "directories are left out";
  EXPECT_EQ(getpixel(buffer, 0, 0), makecol(0, 0, 255)) << "nothing drawn";
}

TEST_F(SelectFileTest, ArrowsWrapAroundBothWays) {
  MakeFiles(3);
  std::vector<int> frames;
  PassDriver driver([&](int pass) {
    frames.push_back(FrameTop(buffer));
    switch (pass) {
      case 1: key[KEY_UP] = 1; return true;   // from the first entry up to the last
      case 2: key[KEY_UP] = 0; return true;
      case 3: key[KEY_DOWN] = 1; return true; // from the last down to the first
      case 4: key[KEY_DOWN] = 0; return true;
      case 5: key[KEY_UP] = 1; return true;   // and up again to the last
      default: key[KEY_ENTER] = 1; return false;
    }
  });
  const std::string chosen = SelectFile(buffer, "list/*.txt", "Pick a file");
  driver.Finish();

  const std::vector<std::string> entries = ListedEntries();
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(chosen, entries[2]);
  EXPECT_TRUE(Logged("Selected file \"" + entries[2] + "\""));
  const std::vector<int> expected = {ExpectedFrameTop(0), ExpectedFrameTop(2),
                                     ExpectedFrameTop(2), ExpectedFrameTop(0),
                                     ExpectedFrameTop(0), ExpectedFrameTop(2)};
  EXPECT_EQ(frames, expected);

  // The frame ends two pixels past the entry and a blank, measured from x = 0; its
  // bottom edge runs one pixel above the next row, below the entry's letters.
  const int right = text_length(Font(), (entries[2] + " ").c_str()) + 2;
  const int bottom = ExpectedFrameTop(2) + Pitch() - 3;
  EXPECT_EQ(getpixel(buffer, right, bottom), makecol(0, 255, 0));
  EXPECT_EQ(getpixel(buffer, 10, bottom), makecol(0, 255, 0));
  EXPECT_NE(getpixel(buffer, right + 1, bottom), makecol(0, 255, 0));
  EXPECT_NE(getpixel(buffer, 9, bottom), makecol(0, 255, 0));
  EXPECT_NE(getpixel(buffer, right, bottom + 1), makecol(0, 255, 0));
}

TEST_F(SelectFileTest, OneEntryStaysSelectedEitherWay) {
  MakeFiles(1);
  PassDriver driver([&](int pass) {
    EXPECT_EQ(FrameTop(buffer), ExpectedFrameTop(0)) << "pass " << pass;
    key[KEY_UP] = pass == 1;
    key[KEY_DOWN] = pass == 3;
    if (pass < 4) return true;
    key[KEY_ENTER] = 1;
    return false;
  });
  EXPECT_EQ(SelectFile(buffer, "list/*.txt", "Pick"), "list/f000.txt");
  driver.Finish();
}

TEST_F(SelectFileTest, AHeldKeyMovesTheSelectionOnce) {
  MakeFiles(5);
  std::vector<int> frames;
  PassDriver driver([&](int pass) {
    frames.push_back(FrameTop(buffer));
    key[KEY_DOWN] = 1;
    if (pass < 6) return true;
    key[KEY_ENTER] = 1;
    return false;
  });
  const std::string chosen = SelectFile(buffer, "list/*.txt", "Pick");
  driver.Finish();
  EXPECT_EQ(chosen, ListedEntries().at(1));
  const std::vector<int> expected = {ExpectedFrameTop(0), ExpectedFrameTop(1),
                                     ExpectedFrameTop(1), ExpectedFrameTop(1),
                                     ExpectedFrameTop(1), ExpectedFrameTop(1)};
  EXPECT_EQ(frames, expected);
}

TEST_F(SelectFileTest, ALongListScrollsToKeepTheSelectionThreePitchesAboveTheBottom) {
  const int count = SCREEN_H / Pitch() + 10;
  MakeFiles(count);
  const int p = Pitch();

  // The prompt band as it must look whatever has scrolled under it.
  BITMAP* band = create_bitmap(SCREEN_W, p + 2);
  clear_to_color(band, makecol(255, 255, 255));
  textout_ex(band, Font(), "Choose", 15, 2, makecol(0, 0, 0), -1);

  int selection = 0;
  int mismatches = 0;
  int bandFaults = 0;
  PassDriver driver([&](int pass) {
    // Down was pressed for the pass just drawn on every other pass.
    if (key[KEY_DOWN]) ++selection;
    if (FrameTop(buffer) != ExpectedFrameTop(selection)) ++mismatches;
    for (int y = 0; y < p + 2; ++y) {
      for (int x = 0; x < SCREEN_W; ++x) bandFaults += getpixel(buffer, x, y) != getpixel(band, x, y);
    }
    // Down on odd passes, up again on even ones: one step per two passes.
    key[KEY_DOWN] = pass % 2;
    if (selection < count - 1) return true;
    key[KEY_ENTER] = 1;
    return false;
  });
  const std::string chosen = SelectFile(buffer, "list/*.txt", "Choose");
  driver.Finish();
  destroy_bitmap(band);

  EXPECT_EQ(mismatches, 0);
  EXPECT_EQ(bandFaults, 0);
  EXPECT_EQ(chosen, ListedEntries().back());
  EXPECT_EQ(FrameTop(buffer), SCREEN_H - 3 * p + 2) << "the last entry, scrolled into view";
}

TEST_F(SelectFileTest, WaitsForAnEnterHeldFromBeforeToGoUp) {
  MakeFiles(2);
  key[KEY_ENTER] = 1;
  bool drewWhileHeld = false;
  bool released = false;
  PassDriver driver(
      [&](int pass) {
        if (pass == 0) return true;
        key[KEY_DOWN] = 1;
        if (pass < 2) return true;
        key[KEY_ENTER] = 1;
        return false;
      },
      [&] {
        if (!released) {
          std::this_thread::sleep_for(std::chrono::milliseconds(100));
          drewWhileHeld = getpixel(buffer, 0, 0) != makecol(0, 0, 255);
          released = true;
          key[KEY_ENTER] = 0;
        }
        return true;
      });
  const std::string chosen = SelectFile(buffer, "list/*.txt", "Pick");
  driver.Finish();
  EXPECT_FALSE(drewWhileHeld);
  EXPECT_EQ(chosen, ListedEntries().at(1)) << "Enter held on entry did not pick the first";
}

TEST_F(SelectFileTest, PassesRunWithoutWaitingWhileTicksAreBehind) {
  MakeFiles(2);
  logic_time = -3;
  std::thread player([] {
    // Every pass drives the counter further below zero; none waits for the timer.
    const bool ran = WaitFor([] { return logic_time <= -20; });
    if (!ran) ADD_FAILURE() << "the chooser stopped at " << logic_time;
    key[KEY_ENTER] = 1;
  });
  const std::string chosen = SelectFile(buffer, "list/*.txt", "Pick");
  player.join();
  EXPECT_EQ(chosen, ListedEntries().at(0));
}

TEST_F(SelectFileTest, EscapeEndsTheProcessWithStatusZero) {
  EXPECT_EXIT(
      {
        ShowLogAtExit();
        MakeFiles(2);
        key[KEY_ESC] = 1;
        SelectFile(buffer, "list/*.txt", "Pick");
      },
      testing::ExitedWithCode(0),
      "Quit signal received in main GetWord loop, exit\\(0\\)ing\nLOG END");
}

TEST(FileList, FillAppendsEachNameAndLogsIt) {
  ResetLog();
  std::vector<std::string> names;
  EXPECT_EQ(fill("a/b.txt", FA_ARCH, &names), 0);
  EXPECT_EQ(fill("a/c.txt", 0, &names), 0);
  EXPECT_EQ(names, (std::vector<std::string>{"a/b.txt", "a/c.txt"}));
  EXPECT_TRUE(Logged("Saw file \"a/b.txt during file selection"));
}
