// SPDX-License-Identifier: GPL-3.0-or-later
#include "gamerecord.h"

#include <zlib.h>

#include <vector>

#include "sim/random.h"

uint32_t EndStateOf(const GameState& game) {
  std::vector<double> values;
  for (const Player* player : {&game.p1, &game.p2}) {
    const Nana& nana = player->nana;
    values.insert(values.end(), {nana.pos.x, nana.pos.y, nana.vel.x, nana.vel.y, nana.angle, nana.spin,
                                 nana.squash, static_cast<double>(nana.state)});
    for (const Nana& extra : player->extras) values.insert(values.end(), {extra.pos.x, extra.pos.y});
    values.insert(values.end(), {static_cast<double>(player->streak), static_cast<double>(player->crazy)});
  }
  for (const Fly& fly : game.flies) values.insert(values.end(), {fly.pos.x, fly.pos.y, fly.vel.x, fly.vel.y});
  values.push_back(game.timeLeft);
  return static_cast<uint32_t>(crc32(0L, reinterpret_cast<const Bytef*>(values.data()),
                                     static_cast<uInt>(values.size() * sizeof(double))));
}

// Room reserved as a game begins, so that recording a game of ordinary length never
// allocates during a tick (runs).
constexpr size_t kReservedRuns = 16384;

void GameRecorder::BeginGame(const GameState& game) {
  inGame_ = true;
  record_ = Replay();
  record_.players = game.twoPlayer ? 2 : 1;
  record_.gameVersion = gameVersion_;
  record_.mediaFingerprint = mediaFingerprint_;
  unsigned char table[kCLibraryStateBytes];
  SaveCLibraryState(table);
  record_.randomState.assign(table, table + kCLibraryStateBytes);
  record_.randomSource = static_cast<uint8_t>(game.random.kind);  // a game of its own generator plays again with it
  record_.seed = game.random.seed;
  record_.frames.reserve(kReservedRuns);
  record_.controls[0].reserve(kReservedRuns);
  record_.controls[1].reserve(game.twoPlayer ? kReservedRuns : 0);
}

void GameRecorder::SetRandom(uint8_t randomSource, uint64_t seed) {
  record_.randomSource = randomSource;
  record_.seed = seed;
}

void GameRecorder::Reading(int player, Controls reading) {
  if (inGame_) AppendRun(record_.controls[player == 2 ? 1 : 0], ControlsCode(reading));
}

void GameRecorder::Frame(uint32_t ticks) {
  if (inGame_) AppendRun(record_.frames, ticks);
}

void GameRecorder::LevelScreen() {
  if (inGame_) ++record_.levelScreens;
}

void GameRecorder::Tick(const TickControls& controls) {
  Frame(1);
  for (int p = 0; p < record_.players; ++p) {
    for (int i = 0; i < controls.count[p]; ++i) Reading(p + 1, controls.readings[p][i]);
  }
}

void GameRecorder::FinishGame(const GameState& game, LevelEnd end) {
  if (!inGame_) return;
  inGame_ = false;
  record_.mathRevision = game.mathRevision;
  ReplaySummary& summary = record_.summary;
  summary.level = game.level;
  summary.p1Score = game.p1.score;
  summary.p2Score = game.twoPlayer ? game.p2.score : 0;
  summary.ticks = static_cast<int64_t>(PlayedTicks(record_.frames));
  summary.timeUp = end == LevelEnd::TimeUp;
  summary.endState = EndStateOf(game);
}
