// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the board knows of a replay once it has been re-run: whether the re-run ended
// exactly as the file says, and if so the game's mode, level and scores. This one
// function stands between the board and the game's replay reader and simulation; it
// runs only inside the checker's child process (checker.h), never in the server.
#include <cstdint>
#include <string>

enum class GameMode { OnePlayer, TwoPlayers, Network };

// "1p", "2p", "net": as the API and the database spell them.
const char* GameModeName(GameMode mode);
bool GameModeFromName(const std::string& name, GameMode& mode);

struct Verdict {
  bool verified = false;
  std::string reason;     // why not, in a short sentence shown to the player; empty when verified
  GameMode mode = GameMode::OnePlayer;
  int level = 0;
  int p1Score = 0;        // points
  int p2Score = 0;        // points; 0 in a one-player game
  int64_t ticks = 0;      // logic ticks (60 to the second)
  std::string game;       // hex digest of what makes the game (its start and its controls)

  // The board's score: the better player's.
  int Score() const { return p1Score > p2Score ? p1Score : p2Score; }
};

// Decodes `bytes` and re-runs the game to its end. `claimedTicks` (when not null) is set
// as soon as the file is decoded, before the re-run begins, so the caller may bound the
// re-run's time in proportion to it.
Verdict VerifyReplay(const std::string& bytes, void (*claimedTicks)(int64_t ticks) = nullptr);

// Whether this build re-runs replays at all (false: the stand-in, which verifies nothing).
bool VerifierAvailable();
