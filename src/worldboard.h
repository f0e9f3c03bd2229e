// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The world score board, from the game's side. A game that ended at time up is sent to
// the board the player chose (--scoreboard URL, or "scoreboard = URL" in the settings)
// once the local high-score table is done, by a thread of its own: nothing the player
// does waits for the network. A game that cannot be sent waits in a small queue beside
// the replays ("replays/to-send") and goes at the next start. Each attempt is one log
// line. When the board has verified the game while "Best of the Bunch" is still shown,
// the table shows where it stands in the world.
#include <functional>
#include <optional>
#include <string>

#include "replayfile.h"

struct ScoreScreenCalls;  // highscores.h

constexpr size_t kMaxWorldBoardUrlBytes = 1024;
constexpr int kMaxQueuedGames = 10;  // the oldest goes when an eleventh waits

// Whether `text` is a board's address: http:// or https://, printable, not too long.
bool IsWorldBoardUrl(const std::string& text);

// Starts the sender with the board at `url` (none when empty): what waits in the queue
// goes now, in the background. Either way, from now on the name typed for the table is
// kept in the settings as the board's name.
void StartWorldBoard(const std::string& url);

// A game played here (never a replay: its caller knows), queued and sent when it ended
// at time up; a game is sent once, however often this is called for it.
void OfferGameToWorldBoard(const Replay& record);
// What a high-score screen serves (with `serve`, when given): once its table is done
// (before the screen waits for Enter), the name typed is the board's name from now on and
// `offered`, the game the table is for (none: a game that did not end at time up), goes to
// the board, so that the world line, shown under the table, can come in time. Before
// StartWorldBoard, only `serve`.
ScoreScreenCalls WorldBoardScoreCalls(std::optional<Replay> offered, std::function<void()> serve = {});

// The name the board shows: the one last typed for the table, else the login name.
std::string WorldBoardName();

// "World: 1,234th of 56,789 (this week: 12th)" once the board has verified the last
// game sent; empty until then.
std::string WorldBoardLine();

// A board's answer (JSON), as far as the game reads it: a field that is missing or of
// another kind, or an answer that is no object, reads as its default.
struct BoardAnswer {
  long long id = 0;        // the game's number on the board (the answer to sending it)
  std::string status;      // "verified" or "refused" once decided (the answer to asking after it)
  std::string reason;      // why it was refused; empty: none given
  long long rank = 0;      // once verified: its place in the world,
  long long of = 0;        // among this many games,
  long long weekRank = 0;  // and its place this week
};
BoardAnswer ReadBoardAnswer(const std::string& body);

// "56,789"; and "1st", "22nd", "1,234th".
std::string Thousands(long long n);
std::string Ordinal(long long n);

// A replay named on the command line: a file, or the address of one on a board
// (downloaded, at most kMaxReplayFileBytes).
bool LoadReplayFromFileOrBoard(const std::string& where, Replay& replay, std::string& error);
