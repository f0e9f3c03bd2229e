#pragma once
// Games for the sync test: a replay played back as the game plays it when checking one
// (no picture, the frames' random numbers taken as drawing takes them), and random
// two-player games, local or with the game's own generator.
#include <cstdint>
#include <random>

#include "replay.h"
#include "sim/game.h"
#include "sim/synctest.h"

// Plays a recorded game: its frames, each banana's readings, its level screens.
class ReplayDriver : public TickDriver {
 public:
  // `game` is set up for the replay (players, the media's sizes, rand() where it began).
  ReplayDriver(const Replay& replay, GameState& game);
  bool Step(GameState& game) override;
  void Mark() override { marked = at; }
  void Rewind() override { at = marked; }

  // How the game ended, as the replay's summary says it.
  ReplaySummary Summary(const GameState& game) const;

 private:
  struct Cursor {
    size_t run = 0;
    uint32_t used = 0;
    bool Next(const std::vector<ReplayRun>& runs, uint32_t& value);
  };
  enum class Phase { LevelStart, FrameStart, InFrame, Over };
  struct Position {
    Phase phase = Phase::LevelStart;
    Cursor frames;
    Cursor controls[2];
    uint64_t framesOpened = 0;
    uint32_t levelScreens = 0;
    uint32_t ticksLeft = 0;
    int64_t ticks = 0;
    bool timeUp = false;
  };

  bool ReachedItsEnd() const;
  // The frame loop has ended: the level is clear (the next begins) or the game is over.
  void EndLevel(GameState& game);
  TickControls Readings(const GameState& game);

  const Replay& replay;
  uint64_t playbackFrames = 0;
  Position at;
  Position marked;
};

// Random two-player games played as a player plays (rock the banana until it tips onto
// its ends, squash, let go and fly), level after level, a new game after time up. One
// reading per player per tick, as a game on two computers gives them; or, for a local
// game, a reading for each banana and a frame's random numbers after every tick.
class RandomGameDriver : public TickDriver {
 public:
  explicit RandomGameDriver(uint32_t seed, bool perBanana = false) : perBanana(perBanana) {
    at.random.seed(seed);
  }
  bool Step(GameState& game) override;
  void Mark() override { marked = at; }
  void Rewind() override { at = marked; }

  int64_t kills = 0;        // splats made, counted again when ticks run again
  int64_t crazyStarts = 0;  // likewise

 private:
  struct Bot {
    int phase = 0;      // 0 rocking, 1 squashing, 2 resting
    int left = 0;       // ticks left in this phase (or in this swing while rocking)
    int pumps = 0;      // swings left
    int swing = 23;     // ticks per swing
    int side = 1;       // the way it turns now
  };
  struct Position {
    std::mt19937 random;
    Bot bots[2];
  };
  Controls Next(int player);
  bool perBanana;
  Position at;
  Position marked;
};

// A new two-player game at the start of its first level, in a 1024 x 768 area with the
// game's sprite sizes.
GameState NewTwoPlayerGame(RandomSource random);
