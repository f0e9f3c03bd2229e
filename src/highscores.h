// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The table of the ten best scores, its file "scores", name entry and display.
//
// The file holds two lines per entry, best first: the name, then the score in
// decimal. The table logic below is plain functions; HighScores is the modal screen
// built on them.
#include <allegro.h>

#include <istream>
#include <functional>
#include <list>
#include <string>

struct Score {
  std::string name;
  int score;
};

// Entries read from the file, rows shown and the size named on the rank line.
constexpr int kScoreTableSize = 10;
// With fewer stored entries than this every score earns a place.
constexpr int kScoreAlwaysQualifiesBelow = 9;
// Characters a typed name may hold.
constexpr int kMaxScoreNameLength = 14;
// The high-score file's name; userdata.h says which directory holds it.
constexpr const char* kScoresFile = "scores";

struct ScoreTable {
  std::list<Score> entries;  // file order, best first
  int count = 0;             // entries read, 0 to kScoreTableSize
  int lowest = -1;           // running lowest score; -1 stands for none yet
};

// Reads at most kScoreTableSize entries. Reading ends at the end of the stream, at
// an empty name line, or at a malformed entry (a score that is not a number or is
// out of range, or a stream that ends right after a name line); a malformed entry
// is dropped. Carriage returns at the end of a name line are removed, so a table
// saved with CR LF line ends reads the same as one with LF ends. The running lowest
// starts at -1 and is replaced by any score below it, and also by the next score
// whenever it is negative.
ScoreTable ParseScores(std::istream& in);
// ParseScores on the file `path`; a file that cannot be opened is an empty table.
ScoreTable ReadScores(const char* path);

// True when `points` earns a place: fewer than kScoreAlwaysQualifiesBelow entries
// were read, or `points` is strictly above the running lowest.
bool ScoreQualifies(const ScoreTable& table, int points);
// The 1-based place a new score takes: just above the first stored score strictly
// below it, else below all of them (so ties go below).
int ScoreRank(const std::list<Score>& entries, int points);
// `entries` with `entry` inserted at its rank.
std::list<Score> InsertScore(std::list<Score> entries, const Score& entry);
// The file contents for `entries`: name line, score line, in order.
std::string SerialiseScores(const std::list<Score>& entries);
// Replaces the file `path` with `entries` in one step (WriteFileAtomically); on
// failure the old file stays as it was, one line is logged and false is returned.
bool SaveScores(const char* path, const std::list<Score>& entries);

// The name after the key `keycode` (as readkey() gives it: scan code in the high
// byte, character in the low byte): Backspace removes the last character; A-Z,
// a-z, 0-9 and space are appended while the name is shorter than
// kMaxScoreNameLength; everything else leaves it unchanged.
std::string TypeNameKey(std::string name, int keycode);

// What the table's screen serves besides itself; each is optional.
struct ScoreScreenCalls {
  // On every pass of the screen's loops (a network game keeps its connection served).
  std::function<void()> serve;
  // Once the table is saved, with the name typed (the world score board's turn).
  std::function<void(const std::string& name)> tableDone;
  // A line shown under the table while it waits for Enter, once there is one (empty: none).
  std::function<std::string()> worldLine;
  // Whether a key is held, by scan code; null: the library's key[] array (tests script
  // when Enter and Esc go down relative to the typed keys).
  bool (*keyDown)(int scancode) = nullptr;
};

// Offers `points` to the table in "scores". When it earns a place, asks `player`
// for a name, saves the new table and shows it until Enter; otherwise returns at
// once without drawing or touching the file. Esc or the quit request ends the
// process with status 0.
void HighScores(BITMAP* buffer, int points, const char* player, const ScoreScreenCalls& calls = {});
