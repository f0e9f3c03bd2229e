// SPDX-License-Identifier: GPL-3.0-or-later
#include "drivers.h"

#include <algorithm>
#include <cstring>

#include "game.h"
#include "sim/trig.h"

// ---------------------------------------------------------------------------
// A replay
// ---------------------------------------------------------------------------

bool ReplayDriver::Cursor::Next(const std::vector<ReplayRun>& runs, uint32_t& value) {
  while (run < runs.size() && used >= runs[run].count) {
    ++run;
    used = 0;
  }
  if (run >= runs.size()) return false;
  value = runs[run].value;
  ++used;
  return true;
}

ReplayDriver::ReplayDriver(const Replay& replay, GameState& game) : replay(replay) {
  for (const ReplayRun& run : replay.frames) playbackFrames += run.count;
  game.twoPlayer = replay.players == 2;
  if (replay.randomState.size() == kCLibraryStateBytes) {
    unsigned char table[kCLibraryStateBytes];
    std::memcpy(table, replay.randomState.data(), sizeof table);
    RestoreCLibraryState(table);
  }
}

bool ReplayDriver::ReachedItsEnd() const {
  if (at.framesOpened > playbackFrames) return true;
  return at.framesOpened == playbackFrames && at.levelScreens >= replay.levelScreens;
}

TickControls ReplayDriver::Readings(const GameState& game) {
  TickControls controls;
  for (int player = 1; player <= 2; ++player) {
    const int n = std::min(ReadingsForTick(game, player), kMaxReadings);
    for (int i = 0; i < n; ++i) {
      uint32_t code = 0;
      Controls reading{0, false};
      if (at.controls[player - 1].Next(replay.controls[player - 1], code)) reading = ControlsFromCode(code);
      controls.readings[player - 1][i] = reading;
    }
    controls.count[player - 1] = n;
  }
  return controls;
}

void ReplayDriver::EndLevel(GameState& game) {
  if (!game.cleared) {
    at.timeUp = game.timeLeft < 0;
    at.phase = Phase::Over;
    return;
  }
  NextLevel(game);
  ++at.levelScreens;
  at.phase = Phase::LevelStart;
}

bool ReplayDriver::Step(GameState& game) {
  for (;;) {
    switch (at.phase) {
      case Phase::Over:
        return false;
      case Phase::LevelStart:
        if (ReachedItsEnd()) {
          at.phase = Phase::Over;
          return false;
        }
        BeginLevel(game);
        ++at.levelScreens;  // "Level %d"
        StartLevelClock(game);
        if (ReachedItsEnd()) {
          EndLevel(game);
          break;
        }
        at.phase = Phase::FrameStart;
        break;
      case Phase::FrameStart: {
        if (!CheckFlies(game)) {
          EndLevel(game);  // time is up
          break;
        }
        ++at.framesOpened;
        uint32_t ticks = 0;
        at.ticksLeft = at.frames.Next(replay.frames, ticks) ? ticks : 0;
        at.phase = Phase::InFrame;
        break;
      }
      case Phase::InFrame:
        if (at.ticksLeft > 0) {
          --at.ticksLeft;
          RunTick(game, Readings(game));
          ++at.ticks;
          return true;
        }
        TakeFrameDraws(game);
        if (ReachedItsEnd() || game.cleared) {
          EndLevel(game);
        } else {
          at.phase = Phase::FrameStart;
        }
        break;
    }
  }
}

ReplaySummary ReplayDriver::Summary(const GameState& game) const {
  ReplaySummary summary;
  summary.level = game.level;
  summary.p1Score = game.p1.score;
  summary.p2Score = game.twoPlayer ? game.p2.score : 0;
  summary.ticks = at.ticks;
  summary.timeUp = at.timeUp;
  return summary;
}

// ---------------------------------------------------------------------------
// Random games
// ---------------------------------------------------------------------------

Controls RandomGameDriver::Next(int player) {
  Bot& bot = at.bots[player - 1];
  std::mt19937& random = at.random;
  if (bot.left <= 0) {
    if (bot.phase == 0 && bot.pumps > 0) {
      --bot.pumps;
      bot.side = -bot.side;
      bot.left = bot.swing;
    } else if (bot.phase == 0) {
      bot.phase = 1;
      bot.left = 100 + static_cast<int>(random() % 41);
    } else if (bot.phase == 1) {
      bot.phase = 2;
      bot.left = 40 + static_cast<int>(random() % 41);
    } else {
      bot.phase = 0;
      bot.pumps = 12 + static_cast<int>(random() % 9);
      bot.swing = 22 + static_cast<int>(random() % 3);
      bot.side = random() % 2 == 0 ? 1 : -1;
      bot.left = bot.swing;
    }
  }
  --bot.left;
  if (bot.phase == 0) return {bot.side, false};
  return {0, bot.phase == 1};
}

bool RandomGameDriver::Step(GameState& game) {
  if (game.flies.empty()) {
    NextLevel(game);
    BeginLevel(game);
    StartLevelClock(game);
  } else if (game.timeLeft < 0) {
    game.level = 1;
    game.p1.score = game.p2.score = 0;
    BeginLevel(game);
    StartLevelClock(game);
  }
  TickControls controls;
  if (perBanana) {
    for (int player = 1; player <= 2; ++player) {
      const int n = std::min(ReadingsForTick(game, player), kMaxReadings);
      for (int k = 0; k < n; ++k) controls.readings[player - 1][k] = Next(player);
      controls.count[player - 1] = n;
    }
  } else {
    const Controls p1 = Next(1);
    controls = OneReadingEach(p1, Next(2));
  }
  const TickEvents events = RunTick(game, controls);
  kills += static_cast<int64_t>(events.splatsMade);
  crazyStarts += events.crazyStarted[0] + events.crazyStarted[1];
  if (perBanana) TakeFrameDraws(game);  // one frame per tick
  return true;
}

GameState NewTwoPlayerGame(RandomSource random) {
  GameState game(true, PlayArea{}, SpriteSize{174, 60}, SpriteSize{42, 38}, random);
  // A game with its own generator is one played on two computers: the portable math.
  if (random.kind == RandomKind::Own) game.mathRevision = kPortableMath;
  BeginLevel(game);
  StartLevelClock(game);
  return game;
}
