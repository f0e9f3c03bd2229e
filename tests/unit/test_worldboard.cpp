// SPDX-License-Identifier: GPL-3.0-or-later
// The game's side of the world score board, without a network: what counts as a board's
// address, the world line's numbers, and the two text settings it keeps.
#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <sstream>
#include <string>
#include <vector>

#include "options.h"
#include "settings.h"
#include "worldboard.h"

namespace {

TEST(WorldBoard, AnAddressIsHttpOrHttpsPrintableAndShort) {
  for (const char* good : {"http://127.0.0.1:8479", "https://scores.example.org/", "http://[::1]:8479/board"}) {
    EXPECT_TRUE(IsWorldBoardUrl(good)) << good;
  }
  for (const std::string& bad : std::vector<std::string>{"", "ftp://x", "http://", "https://a b", "http://a\n", "file:///etc/passwd",
                                "https://" + std::string(1100, 'a')}) {
    EXPECT_FALSE(IsWorldBoardUrl(bad)) << bad;
  }
  const char* misuse[] = {"nanasplat", "--scoreboard", "gopher://x"};
  EXPECT_EQ(ParseCommandLine(3, misuse).action, CommandAction::Misuse);
  const char* use[] = {"nanasplat", "--scoreboard", "https://scores.example.org"};
  EXPECT_EQ(ParseCommandLine(3, use).options.scoreboard, "https://scores.example.org");
}

// A board's answer is read field by field: a field of another kind, a null, an answer that
// is no object or no JSON at all reads as the defaults (and never throws in the sender).
TEST(WorldBoard, AnAnswerOfAnyShapeReadsAsItsFieldsOrTheDefaults) {
  const struct {
    const char* body;
    long long id;
    const char* status;
    const char* reason;
    long long rank, of, weekRank;
  } cases[] = {
      {R"({"id":7,"status":"pending"})", 7, "pending", "", 0, 0, 0},
      {R"({"id":7,"status":"verified","reason":"","rank":3,"of":1234,"week_rank":1})", 7, "verified", "", 3, 1234,
       1},
      {R"({"status":"refused","reason":"too long"})", 0, "refused", "too long", 0, 0, 0},
      {R"({"id":"7","status":5,"reason":["x"],"rank":null,"of":{},"week_rank":"1"})", 0, "", "", 0, 0, 0},
      {R"({"id":7,"status":"verified","rank":null})", 7, "verified", "", 0, 0, 0},
      {R"([1,2,3])", 0, "", "", 0, 0, 0},
      {R"("verified")", 0, "", "", 0, 0, 0},
      {"<html>502 Bad Gateway</html>", 0, "", "", 0, 0, 0},
      {"", 0, "", "", 0, 0, 0},
  };
  for (const auto& c : cases) {
    const BoardAnswer answer = ReadBoardAnswer(c.body);
    EXPECT_EQ(answer.id, c.id) << c.body;
    EXPECT_EQ(answer.status, c.status) << c.body;
    EXPECT_EQ(answer.reason, c.reason) << c.body;
    EXPECT_EQ(answer.rank, c.rank) << c.body;
    EXPECT_EQ(answer.of, c.of) << c.body;
    EXPECT_EQ(answer.weekRank, c.weekRank) << c.body;
  }
}

TEST(WorldBoard, PlacesReadAsOrdinalsWithThousands) {
  const struct {
    long long n;
    const char* text;
  } cases[] = {{1, "1st"},   {2, "2nd"},     {3, "3rd"},     {4, "4th"},      {11, "11th"},
               {12, "12th"}, {13, "13th"},   {21, "21st"},   {102, "102nd"},  {111, "111th"},
               {1234, "1,234th"}, {56789, "56,789th"}, {1000001, "1,000,001st"}};
  for (const auto& c : cases) EXPECT_EQ(Ordinal(c.n), c.text) << c.n;
  EXPECT_EQ(Thousands(56789), "56,789");
  EXPECT_EQ(Thousands(999), "999");
}

TEST(WorldBoard, TheBoardAndTheNameAreSettingsOfText) {
  std::istringstream in("mute = on\nscoreboard =  https://scores.example.org/  \nNAME = Ann Lee\n");
  const Settings settings = ParseSettings(in, "test");
  EXPECT_EQ(settings.scoreboard, "https://scores.example.org/");
  EXPECT_EQ(settings.playerName, "Ann Lee");
  EXPECT_TRUE(settings.mute);
  std::istringstream again(SerialiseSettings(settings));
  const Settings back = ParseSettings(again, "test");
  EXPECT_EQ(back.scoreboard, settings.scoreboard);
  EXPECT_EQ(back.playerName, settings.playerName);
  // Without them the file is as it always was.
  EXPECT_EQ(SerialiseSettings(DefaultSettings()).find("\nname ="), std::string::npos);
  EXPECT_EQ(SerialiseSettings(DefaultSettings()).find("\nscoreboard ="), std::string::npos);
}

TEST(WorldBoard, TheNameIsTheLoginNameUntilOneIsTyped) {
  ASSERT_TRUE(CurrentSettings().playerName.empty());
  const passwd* entry = getpwuid(getuid());
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(WorldBoardName(), entry->pw_name);
}

}  // namespace
