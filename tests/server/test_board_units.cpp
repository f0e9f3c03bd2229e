// SPDX-License-Identifier: GPL-3.0-or-later
// The board's parts without a network: names, escaping, weeks, the checker's verdict
// line, and the SQLite store (ranks, weeks, one game once, a job finished once).
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "checker.h"
#include "name.h"
#include "store.h"
#include "store_common.h"

namespace {

TEST(BoardName, OnlyShortValidUtf8WithoutControlsStands) {
  const struct {
    std::string name;
    std::string problem;
  } cases[] = {
      {"Ann", ""},
      {"Zo\xc3\xab", ""},
      {"<b>x</b>", ""},
      {"\xf0\x9f\x8d\x8c banana", ""},
      {std::string(24, 'x'), ""},
      {std::string(25, 'x'), "the name is too long"},
      {std::string(22, 'x') + "\xf0\x9f\x8d\x8c\xf0\x9f\x8d\x8c\xf0\x9f\x8d\x8c", "the name is too long"},
      {"", "a name is needed"},
      {"   ", "a name is needed"},
      {"a\nb", "the name holds a control character"},
      {"a\x7f", "the name holds a control character"},
      {"a\xc2\x85", "the name holds a control character"},
      {"\xff", "the name is not valid UTF-8"},
      {"\xc0\xaf", "the name is not valid UTF-8"},          // an overlong "/"
      {"\xed\xa0\x80", "the name is not valid UTF-8"},      // a surrogate
      {"\xf4\x90\x80\x80", "the name is not valid UTF-8"},  // above U+10FFFF
      {"ab\xe2\x82", "the name is not valid UTF-8"},        // cut short
  };
  for (const auto& c : cases) EXPECT_EQ(NameProblem(c.name), c.problem) << c.name;
  EXPECT_EQ(EscapeHtml("<a href=\"x\">'&'</a>"), "&lt;a href=&quot;x&quot;&gt;&#39;&amp;&#39;&lt;/a&gt;");
}

TEST(BoardWeek, BeginsOnMondayAtMidnightUtc) {
  EXPECT_EQ(WeekOf(1765152000), 1765152000);           // Monday 2025-12-08 00:00:00 UTC
  EXPECT_EQ(WeekOf(1765152000 + 7 * 86400 - 1), 1765152000);
  EXPECT_EQ(WeekOf(1765152000 - 1), 1765152000 - 7 * 86400);
  EXPECT_EQ(WeekOf(0), -3 * 86400);                   // 1970-01-01 was a Thursday
}

TEST(BoardVerdict, GoesThroughItsLineAndNothingElseIsOne) {
  Verdict v;
  v.verified = true;
  v.mode = GameMode::TwoPlayers;
  v.level = 3;
  v.p1Score = 12;
  v.p2Score = 40;
  v.ticks = 9000;
  v.game = "abc";
  Verdict back;
  ASSERT_TRUE(VerdictFromJson(VerdictToJson(v), back));
  EXPECT_TRUE(back.verified);
  EXPECT_EQ(back.mode, GameMode::TwoPlayers);
  EXPECT_EQ(back.Score(), 40);
  EXPECT_EQ(back.ticks, 9000);
  for (const char* bad : {"", "[]", "{}", "{\"verified\":true}", "null", "{\"verified\":\"yes\",\"reason\":\"\"}",
                          "{\"verified\":true,\"reason\":\"\",\"mode\":\"4p\",\"level\":1,\"p1\":0,\"p2\":0,\"ticks\":1,\"game\":\"g\"}",
                          "{\"verified\":true,\"reason\":\"\",\"mode\":\"1p\",\"level\":0,\"p1\":0,\"p2\":0,\"ticks\":1,\"game\":\"g\"}",
                          // numbers no int holds, or not whole, are no verdict (converting them is undefined)
                          "{\"verified\":true,\"reason\":\"\",\"mode\":\"1p\",\"level\":5.5e28,\"p1\":0,\"p2\":0,\"ticks\":1,\"game\":\"g\"}",
                          "{\"verified\":true,\"reason\":\"\",\"mode\":\"1p\",\"level\":1.5,\"p1\":0,\"p2\":0,\"ticks\":1,\"game\":\"g\"}",
                          "{\"verified\":true,\"reason\":\"\",\"mode\":\"1p\",\"level\":1,\"p1\":4294967296,\"p2\":0,\"ticks\":1,\"game\":\"g\"}",
                          "{\"verified\":true,\"reason\":\"\",\"mode\":\"1p\",\"level\":1,\"p1\":0,\"p2\":0,\"ticks\":18446744073709551615,\"game\":\"g\"}"}) {
    EXPECT_FALSE(VerdictFromJson(bad, back)) << bad;
  }
  EXPECT_EQ(CpuSecondsFor(0), 1);
  EXPECT_EQ(CpuSecondsFor(36000), 2);
  EXPECT_EQ(CpuSecondsFor(int64_t{1} << 40), kCheckCpuCeilingSeconds);
}

// A store in a directory of its own, and verdicts given by the test.
class SqliteBoard : public ::testing::Test {
 protected:
  void SetUp() override {
    char dir[] = "/tmp/board-store-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    dir_ = dir;
    std::string error;
    store_ = OpenStore("", dir_, error);
    ASSERT_TRUE(store_) << error;
  }
  void TearDown() override {
    store_.reset();
    std::system(("rm -rf " + dir_).c_str());
  }
  // Sends a replay at `at` and finishes it with `verdict`; its id.
  int64_t Play(const std::string& name, int64_t at, Verdict verdict) {
    std::string error;
    const int64_t id = store_->Submit({name, "192.0.2.1", "bytes of " + name, at}, error);
    next_ = verdict;
    const auto done = store_->VerifyNext([](const Job&, void* self) { return static_cast<SqliteBoard*>(self)->next_; }, this);
    EXPECT_TRUE(done && done->id == id);
    return id;
  }
  static Verdict Game(int score, const std::string& game, GameMode mode = GameMode::OnePlayer) {
    Verdict v;
    v.verified = true;
    v.mode = mode;
    v.level = 1;
    v.p1Score = score;
    v.ticks = 3301;
    v.game = game;
    return v;
  }
  std::string dir_;
  std::unique_ptr<Store> store_;
  Verdict next_;
};

TEST_F(SqliteBoard, RanksByScoreThenBySendingAndByWeek) {
  const int64_t monday = 1765152000;
  Play("Old", monday - 86400, Game(50, "g1"));
  const int64_t ann = Play("Ann", monday + 10, Game(30, "g2"));
  const int64_t bob = Play("Bob", monday + 20, Game(30, "g3"));
  Play("Two", monday + 30, Game(99, "g4", GameMode::TwoPlayers));
  const auto state = store_->State(bob);
  ASSERT_TRUE(state);
  EXPECT_EQ(state->status, SubmissionStatus::Verified);
  EXPECT_EQ(state->rank, 3);      // below Old (50) and Ann (30, sent first)
  EXPECT_EQ(state->total, 3);     // the two-player game is another board
  EXPECT_EQ(state->weekRank, 2);  // Old was last week
  EXPECT_EQ(state->weekTotal, 2);
  const auto week = store_->Top(GameMode::OnePlayer, Period::ThisWeek, 100, monday + 100);
  ASSERT_EQ(week.size(), 2u);
  EXPECT_EQ(week[0].id, ann);
  EXPECT_EQ(store_->Top(GameMode::OnePlayer, Period::AllTime, 1, monday + 100)[0].name, "Old");
  EXPECT_EQ(store_->OfPlayer("Ann", 100).size(), 1u);
  int best = 0;
  const auto bins = store_->Spread(GameMode::OnePlayer, 10, best);
  EXPECT_EQ(best, 50);
  EXPECT_EQ(bins[6], 2);  // 30 * 10 / 50
  EXPECT_EQ(bins[9], 1);  // the best is in the last bin
}

TEST_F(SqliteBoard, OneGameOnceAndARefusalKeepsItsReason) {
  Play("Ann", 1000, Game(30, "same"));
  const int64_t again = Play("Bob", 2000, Game(30, "same"));
  const auto state = store_->State(again);
  ASSERT_TRUE(state);
  EXPECT_EQ(state->status, SubmissionStatus::Refused);
  EXPECT_EQ(state->reason, "the same game is already on the board (replay 1)");
  EXPECT_EQ(store_->Top(GameMode::OnePlayer, Period::AllTime, 100, 3000).size(), 1u);
  EXPECT_TRUE(store_->ReplayFile(again).empty());  // only verified games are offered
  EXPECT_EQ(store_->ReplayFile(1), "bytes of Ann");
  EXPECT_FALSE(store_->VerifyNext([](const Job&, void*) { return Verdict(); }, nullptr));  // nothing left
}

TEST_F(SqliteBoard, MigratesOnceAndKeepsWhatItHolds) {
  std::string error;
  Play("Ann", 1000, Game(30, "g"));
  store_.reset();
  store_ = OpenStore("", dir_, error);  // opened again: nothing to migrate, nothing lost
  ASSERT_TRUE(store_) << error;
  EXPECT_EQ(store_->Top(GameMode::OnePlayer, Period::AllTime, 100, 2000).size(), 1u);
  EXPECT_EQ(SpellMigration("a @ID@, b @BLOB@ @ID@", "X", "Y"), "a X, b Y X");
}

}  // namespace
