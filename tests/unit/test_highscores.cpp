// SPDX-License-Identifier: GPL-3.0-or-later
// The high-score table's file reading, ranking, insertion and saving.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "highscores.h"
#include "test_support.h"

namespace {

ScoreTable Parse(const std::string& text) {
  std::istringstream in(text);
  return ParseScores(in);
}

// A file of `n` entries "P1".."Pn" scoring top, top - step, ... written by hand.
std::string TableText(int n, int top, int step = 10) {
  std::string text;
  for (int i = 0; i < n; ++i) text += "P" + std::to_string(i + 1) + "\n" + std::to_string(top - step * i) + "\n";
  return text;
}

std::vector<std::string> Names(const std::list<Score>& entries) {
  std::vector<std::string> names;
  for (const Score& s : entries) names.push_back(s.name);
  return names;
}

std::vector<int> Points(const std::list<Score>& entries) {
  std::vector<int> points;
  for (const Score& s : entries) points.push_back(s.score);
  return points;
}

int LineCount(const std::string& text) {
  int lines = 0;
  for (char c : text) lines += c == '\n';
  return lines;
}

// Dates the file back two days.
void MakeOld(const std::string& path) {
  const timespec twoDaysAgo{time(nullptr) - 2 * 24 * 60 * 60, 0};
  const timespec times[2] = {twoDaysAgo, twoDaysAgo};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << path;
}

}  // namespace

TEST(HighScoreTable, WithoutAFileEveryScoreIsFirstOfTenAndOneEntryIsWritten) {
  ScoreTable table = ReadScores("scores");
  EXPECT_EQ(table.count, 0);
  EXPECT_TRUE(ScoreQualifies(table, 0));
  EXPECT_EQ(ScoreRank(table.entries, 0), 1);
  ASSERT_TRUE(SaveScores("scores", InsertScore(table.entries, Score{"Ann", 0})));
  EXPECT_EQ(ReadFile("scores"), "Ann\n0\n");
}

TEST(HighScoreTable, ALowScoreAfterEightEntriesTakesTheNinthPlace) {
  ScoreTable table = Parse(TableText(8, 100));
  ASSERT_EQ(table.count, 8);
  EXPECT_TRUE(ScoreQualifies(table, 1));
  EXPECT_EQ(ScoreRank(table.entries, 1), 9);
  std::list<Score> updated = InsertScore(table.entries, Score{"Low", 1});
  EXPECT_EQ(updated.back().name, "Low");
  EXPECT_EQ(updated.size(), 9u);
}

TEST(HighScoreTable, WithNineOrTenEntriesAScoreNotAboveTheLowestEarnsNothing) {
  ScoreTable nine = Parse(TableText(9, 100));  // lowest 20
  EXPECT_FALSE(ScoreQualifies(nine, 20));
  EXPECT_FALSE(ScoreQualifies(nine, 5));
  EXPECT_TRUE(ScoreQualifies(nine, 21));
  ScoreTable ten = Parse(TableText(10, 100));  // lowest 10
  EXPECT_FALSE(ScoreQualifies(ten, 10));
  EXPECT_TRUE(ScoreQualifies(ten, 11));
}

TEST(HighScoreTable, ABetterScoreOnAFullTableWritesElevenAndReadsBackTen) {
  WriteFile("scores", TableText(10, 100));
  ScoreTable table = ReadScores("scores");
  ASSERT_TRUE(ScoreQualifies(table, 55));
  EXPECT_EQ(ScoreRank(table.entries, 55), 6);
  ASSERT_TRUE(SaveScores("scores", InsertScore(table.entries, Score{"New", 55})));
  EXPECT_EQ(LineCount(ReadFile("scores")), 22);
  ScoreTable again = ReadScores("scores");
  EXPECT_EQ(Names(again.entries),
            (std::vector<std::string>{"P1", "P2", "P3", "P4", "P5", "New", "P6", "P7", "P8", "P9"}));
}

TEST(HighScoreTable, AnEqualScoreGoesBelowTheEqualOnes) {
  ScoreTable table = Parse("A\n50\nB\n30\nC\n30\nD\n10\n");
  EXPECT_EQ(ScoreRank(table.entries, 30), 4);
  EXPECT_EQ(Names(InsertScore(table.entries, Score{"New", 30})),
            (std::vector<std::string>{"A", "B", "C", "New", "D"}));
  EXPECT_EQ(Names(InsertScore(table.entries, Score{"Top", 50})),
            (std::vector<std::string>{"A", "Top", "B", "C", "D"}));
}

TEST(HighScoreTable, OnlyTheFirstTenEntriesOfALongerFileAreRead) {
  ScoreTable table = Parse(TableText(13, 130));
  EXPECT_EQ(table.count, 10);
  EXPECT_EQ(table.entries.back().name, "P10");
  EXPECT_EQ(table.lowest, 40);
}

TEST(HighScoreTable, AnEmptyNameLineEndsTheTable) {
  ScoreTable table = Parse("A\n50\n\nB\n30\n");
  EXPECT_EQ(Names(table.entries), (std::vector<std::string>{"A"}));
  // A line holding only a CR counts as empty too.
  EXPECT_EQ(Parse("A\r\n50\r\n\r\nB\r\n30\r\n").count, 1);
}

TEST(HighScoreTable, BlanksAndTextAroundTheNumberAreSkipped) {
  ScoreTable table = Parse("A\n   42 points, well done\nB\n\n 7\t\nC\n-3x\n");
  EXPECT_EQ(Names(table.entries), (std::vector<std::string>{"A", "B", "C"}));
  EXPECT_EQ(Points(table.entries), (std::vector<int>{42, 7, -3}));
}

TEST(HighScoreTable, ANegativeRunningLowestIsReplacedByTheNextScore) {
  EXPECT_EQ(Parse("A\n100\nB\n-5\nC\n50\n").lowest, 50);
  EXPECT_EQ(Parse("A\n100\nB\n-5\n").lowest, -5);
  EXPECT_EQ(Parse("").lowest, -1);
}

TEST(HighScoreTable, MalformedEntriesEndTheReadingAndAreDropped) {
  EXPECT_EQ(Names(Parse("A\n50\nB\nlots\nC\n10\n").entries), (std::vector<std::string>{"A"}));
  EXPECT_EQ(Names(Parse("A\n50\nB\n99999999999\nC\n10\n").entries), (std::vector<std::string>{"A"}));
  EXPECT_EQ(Names(Parse("A\n50\nB\n-99999999999\n").entries), (std::vector<std::string>{"A"}));
  EXPECT_EQ(Names(Parse("A\n50\nB\n").entries), (std::vector<std::string>{"A"}));
  EXPECT_EQ(Names(Parse("A\n50\nB").entries), (std::vector<std::string>{"A"}));
  EXPECT_EQ(Parse("A\n50\nB\n-\n").count, 1);
}

TEST(HighScoreTable, OddLineEndsAndJunkAreReadSafely) {
  // No newline after the last number: the entry is complete.
  EXPECT_EQ(Points(Parse("A\n50\nB\n40").entries), (std::vector<int>{50, 40}));
  // CR LF line ends: the CR is not part of the name.
  EXPECT_EQ(Names(Parse("Ann\r\n50\r\nBob Two\r\n40\r\n").entries),
            (std::vector<std::string>{"Ann", "Bob Two"}));
  // Nor are several: the name reads back the same once saved with LF ends.
  EXPECT_EQ(Names(Parse("x\r\r\n1\n\r\r\n2\n").entries), (std::vector<std::string>{"x"}));
  // A very long name line is one name.
  std::string long_name(200000, 'x');
  ScoreTable longer = Parse(long_name + "\n7\nB\n6\n");
  ASSERT_EQ(longer.count, 2);
  EXPECT_EQ(longer.entries.front().name, long_name);
  // Bytes of every value, NULs included, stay in the name; junk where a number
  // belongs ends the table.
  std::string junk;
  for (int i = 0; i < 256; ++i) junk += static_cast<char>(i == '\n' ? 0 : i);
  ScoreTable binary = Parse(junk + "\n5\n" + junk + "\n" + junk + "\n");
  ASSERT_EQ(binary.count, 1);
  EXPECT_EQ(binary.entries.front().name, junk);
}

TEST(HighScoreTable, TheWrittenFileReadsBackAsTheSameTable) {
  std::list<Score> entries{{"Ann", 300}, {"Bob Two", 0}, {"C", -4}};
  ASSERT_TRUE(SaveScores("scores", entries));
  EXPECT_EQ(ReadFile("scores"), "Ann\n300\nBob Two\n0\nC\n-4\n");
  ScoreTable back = ReadScores("scores");
  EXPECT_EQ(Names(back.entries), Names(entries));
  EXPECT_EQ(Points(back.entries), Points(entries));
}

TEST(HighScoreSaving, ADiskThatFillsUpLeavesTheOldFileAndIsReported) {
  const std::string old_text = TableText(3, 30);
  WriteFile("scores", old_text);
  ResetLog();
  // More than the file-size limit below, as a full disk would refuse it.
  std::list<Score> big{{std::string(20000, 'n'), 5}};
  rlimit saved;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  rlimit small = saved;
  small.rlim_cur = 4096;
  signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const bool ok = SaveScores("scores", big);
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, SIG_DFL);

  EXPECT_FALSE(ok);
  EXPECT_EQ(ReadFile("scores"), old_text);
  EXPECT_EQ(LogMessages().size(), 1u);
  // Nothing but the table and the log is left in the directory.
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(ScratchDir())) {
    (void)entry;
    ++files;
  }
  EXPECT_EQ(files, 2);
}

TEST(HighScoreSaving, AFileThatCannotBeReplacedIsReportedAndNoTemporaryIsLeft) {
  // A directory in the way: the rename fails after the new table has been written.
  ASSERT_EQ(mkdir("scores", 0777), 0);
  WriteFile("scores/keep", "kept");
  ResetLog();
  EXPECT_FALSE(SaveScores("scores", {{"Ann", 1}}));
  EXPECT_EQ(ReadFile("scores/keep"), "kept");
  EXPECT_EQ(LogMessages().size(), 1u);
  for (const auto& entry : std::filesystem::directory_iterator(ScratchDir())) {
    EXPECT_EQ(entry.path().filename().string().find("scores.tmp."), std::string::npos) << entry.path();
  }
  // A directory that does not exist: nothing can be created.
  ResetLog();
  EXPECT_FALSE(SaveScores("no/such/dir/scores", {{"Ann", 1}}));
  EXPECT_EQ(LogMessages().size(), 1u);
}

TEST(HighScoreSaving, AWriterKilledAtAnyMomentLeavesTheOldOrTheNewTable) {
  const std::string old_text = TableText(10, 100);
  std::list<Score> old_table = Parse(old_text).entries;
  std::list<Score> new_table = InsertScore(old_table, Score{"Newcomer", 95});
  const std::string new_text = SerialiseScores(new_table);
  ASSERT_EQ(SerialiseScores(old_table), old_text);
  WriteFile("scores", old_text);
  std::srand(12345);
  for (int round = 0; round < 60; ++round) {
    // The writer reports each save it finished with one byte: the table is then that
    // save's, or the next one's when the kill fell between its rename and its report.
    int done[2];
    ASSERT_EQ(pipe(done), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      close(done[0]);
      for (bool flip = false;; flip = !flip) {
        SaveScores("scores", flip ? old_table : new_table);
        if (write(done[1], "s", 1) != 1) _exit(1);
      }
    }
    close(done[1]);
    char report;
    ASSERT_EQ(read(done[0], &report, 1), 1);  // the first save is through: new table
    usleep(static_cast<useconds_t>(std::rand() % 3000));
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    int saves = 1;
    while (read(done[0], &report, 1) == 1) ++saves;
    close(done[0]);
    // Saves alternate new, old, new, ...: odd counts leave the new table.
    const std::string& last = saves % 2 == 1 ? new_text : old_text;
    const std::string& next = saves % 2 == 1 ? old_text : new_text;
    const std::string text = ReadFile("scores");
    EXPECT_TRUE(text == last || text == next) << "round " << round << ", " << saves << " saves";
    WriteFile("scores", old_text);
  }
  // The writers killed between writing and renaming left their temporary files; once
  // they are a day old, the next save clears them all away.
  for (const auto& entry : std::filesystem::directory_iterator(ScratchDir())) {
    if (entry.path().filename().string().find("scores.tmp.") == 0) MakeOld(entry.path().string());
  }
  ASSERT_TRUE(SaveScores("scores", old_table));
  for (const auto& entry : std::filesystem::directory_iterator(ScratchDir())) {
    EXPECT_EQ(entry.path().filename().string().find("scores.tmp."), std::string::npos) << entry.path();
  }
}

// Process ids: one that has ended, and one that runs until `Stop`.
struct DeadAndLive {
  pid_t dead;
  pid_t live;
  DeadAndLive() {
    dead = fork();
    if (dead == 0) _exit(0);
    waitpid(dead, nullptr, 0);
    live = fork();
    if (live == 0) {
      pause();
      _exit(0);
    }
  }
  void Stop() {
    kill(live, SIGKILL);
    waitpid(live, nullptr, 0);
  }
};

TEST(HighScoreSaving, TheNextSaveRemovesOnlyDayOldTemporaryFilesOfEndedSavers) {
  ASSERT_EQ(mkdir("media", 0777), 0);
  DeadAndLive pids;
  const std::string dead = "media/scores.tmp." + std::to_string(pids.dead) + ".Ab3xYz";
  const std::string deadOldName = "media/scores.tmp." + std::to_string(pids.dead);
  const std::string recent = "media/scores.tmp." + std::to_string(pids.dead) + ".recent";
  const std::string live = "media/scores.tmp." + std::to_string(pids.live) + ".q1w2e3";
  const std::string other = "media/other.tmp." + std::to_string(pids.dead);
  const std::string notAPid = "media/scores.tmp.12ab";
  for (const std::string& file : {dead, deadOldName, recent, live, other, notAPid}) WriteFile(file, "P1\n");
  for (const std::string& file : {dead, deadOldName, live, other, notAPid}) MakeOld(file);

  EXPECT_TRUE(SaveScores("media/scores", {{"Ann", 1}}));
  pids.Stop();
  EXPECT_FALSE(std::filesystem::exists(dead)) << "a save killed before its rename";
  EXPECT_FALSE(std::filesystem::exists(deadOldName)) << "an older version's save killed before its rename";
  // Its process id may be another namespace's: only age makes it certain.
  EXPECT_TRUE(std::filesystem::exists(recent)) << "a save of a day's age or less";
  EXPECT_TRUE(std::filesystem::exists(live)) << "a save still under way";
  EXPECT_TRUE(std::filesystem::exists(other)) << "another file's";
  EXPECT_TRUE(std::filesystem::exists(notAPid)) << "not a save's";
  EXPECT_EQ(ReadFile("media/scores"), "Ann\n1\n");
}
