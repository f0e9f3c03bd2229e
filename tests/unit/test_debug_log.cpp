// SPDX-License-Identifier: GPL-3.0-or-later
// The trace log: one whole, flushed line per entry in a fixed format.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <thread>

#include "debug.h"
#include "test_support.h"

namespace {

TEST(DebugLog, EntryNamesSourcePathAndLineOfItsPointOfUse) {
  ResetLog();
  const int line = __LINE__; LOG("Failed to load image \"", "fly1.bmp", "\"");
  auto lines = LogLines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], "(tests/unit/test_debug_log.cpp:" + std::to_string(line) +
                          ") Failed to load image \"fly1.bmp\"");
}

TEST(DebugLog, PiecesAreJoinedWithoutSeparatorsAndNumbersInDecimal) {
  ResetLog();
  LOG("Failed to allocate ", 11, " bytes");
  LOG("count ", -5, "/", 0);
  auto messages = LogMessages();
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0], "Failed to allocate 11 bytes");
  EXPECT_EQ(messages[1], "count -5/0");
}

TEST(DebugLog, StringValuesAreWrittenUnescaped) {
  ResetLog();
  std::string typed = "a \"quoted\"  word";
  LOG("Got word \"", typed, "\"");
  ASSERT_EQ(LogMessages().size(), 1u);
  EXPECT_EQ(LogMessages()[0], "Got word \"a \"quoted\"  word\"");
}

TEST(DebugLog, EachLineIsInTheFileBeforeTheNextStatement) {
  ResetLog();
  LOG("first");
  EXPECT_EQ(LogMessages().size(), 1u);
  LOG("second");
  EXPECT_EQ(LogMessages().size(), 2u);
}

TEST(DebugLog, LinesFromTwoThreadsNeverInterleave) {
  ResetLog();
  constexpr int kLinesPerThread = 2000;
  std::thread closer([] {
    for (int i = 0; i < kLinesPerThread; ++i) LOG("Received close message; quitnow variable set");
  });
  for (int i = 0; i < kLinesPerThread; ++i) LOG("Main thread line number ", i, " of the run");
  closer.join();

  const std::regex wellFormed(
      R"(\(tests/unit/test_debug_log\.cpp:\d+\) (Received close message; quitnow variable set|Main thread line number \d+ of the run))");
  auto lines = LogLines();
  ASSERT_EQ(lines.size(), 2u * kLinesPerThread);
  for (const std::string& line : lines) ASSERT_TRUE(std::regex_match(line, wellFormed)) << line;
}

}  // namespace
