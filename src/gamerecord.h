// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The record of a game as it is played, as a replay file keeps it (replayfile.h). Plain
// data; writing it out is the game's business.
#include <cstdint>
#include <string>

#include "replayfile.h"
#include "sim/game.h"

// Where everything that moves was when the game ended, as one number (a CRC-32): a
// replay that ends with the same scores but anything elsewhere does not match.
uint32_t EndStateOf(const GameState& game);

class GameRecorder {
 public:
  // The game that records (its version) and the media it plays with (their fingerprint,
  // 0 when not known).
  GameRecorder(std::string gameVersion, uint32_t mediaFingerprint)
      : gameVersion_(std::move(gameVersion)), mediaFingerprint_(mediaFingerprint) {}

  // A game begins: a fresh record, with the generator's table as it stands now (and the
  // game's own generator, when it has one).
  void BeginGame(const GameState& game);
  // A game whose generator is its own (a network game's), and its seed.
  void SetRandom(uint8_t randomSource, uint64_t seed);
  void Reading(int player, Controls reading);
  void Frame(uint32_t ticks);
  void LevelScreen();
  // A tick whose readings came from elsewhere (a network game's confirmed tick): one
  // frame of one tick.
  void Tick(const TickControls& controls);
  // The game is over: its summary.
  void FinishGame(const GameState& game, LevelEnd end);

  const Replay& Record() const { return record_; }

 private:
  std::string gameVersion_;
  uint32_t mediaFingerprint_;
  bool inGame_ = false;
  Replay record_;
};
