// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The simulation of a game: players, levels, CRAZY mode and the tick, as data in and
// data out. A tick reads nothing but the game state and the control readings it is
// given, and returns what happened as events; it paints nothing, plays nothing and
// reads no device, so it can be run again (after a restore) with nothing seen or heard.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "banana.h"
#include "controls.h"
#include "flies.h"
#include "player.h"
#include "random.h"
#include "splats.h"

// Rules of the game.
constexpr int kNanaStartAboveBottom = 100;   // bananas start this high above the bottom (pixels)
constexpr int kFullTime = 3600;              // ticks; a level lasts this less ...
constexpr int kTimeCutPerLevel = 300;        // ... this much per level (ticks) ...
constexpr int kLastShorterLevel = 8;         // ... up to this level
constexpr int kCrazyStreak = 3;              // a streak of more than this sets off CRAZY mode
constexpr int kCrazyRestartAt = -180;        // countdown needed before CRAZY mode can start again (ticks)
constexpr int kCrazyDuration = 600;          // ticks
constexpr int kCrazyExtrasBase = 3;          // extras = streak / 3 + 3
constexpr int kCrazyExtrasPerStreak = 3;

// The play area: its size, taken from the screen when a game starts (pixels).
struct PlayArea {
  int width = 1024;
  int height = 768;
  int Ground() const { return height - kGroundMargin; }  // y of the ground line
};

// Everything one game keeps, and nothing else: saved and restored whole.
struct GameState {
  bool twoPlayer = false;
  int level = 1;
  Player p1;
  Player p2;
  std::vector<Fly> flies;
  int timeLeft = 0;  // ticks
  bool cleared = false;
  PlayArea area;
  SpriteSize bananaSize;  // the banana sprite (pixels)
  SpriteSize flySize;     // the flies' first picture (pixels)
  RandomSource random;
  std::vector<Splat> splats;        // this level's splats, in the order they were made
  std::vector<uint32_t> splatDots;  // their dots' draws (C library source; PackSplatDot)
  int64_t ticks = 0;                // ticks run in the whole game
  uint8_t mathRevision = 0;         // the trigonometry its bananas move with (trig.h)

  GameState() = default;
  GameState(bool twoPlayer, PlayArea area, SpriteSize banana, SpriteSize fly,
       RandomSource random = CLibraryRandom());
};

// Level start: the bananas, no splats, the level's flies (drawn from the game's source).
void BeginLevel(GameState& game);
// Level clock, streaks and CRAZY countdowns start from zero when play begins.
void StartLevelClock(GameState& game);

// How a level's frames ended.
enum class LevelEnd { Cleared, TimeUp, Quit };
// Once the level's frames have stopped: cleared (noted at the start of a frame), time up
// (the clock below zero), or else a quit.
LevelEnd DecideLevelEnd(const GameState& game);
// A cleared level is followed by the next: its number, and no flies or extras left.
void NextLevel(GameState& game);
// The level's flies and both players' extras, gone (between levels and at a game's end).
void EmptyLevelLists(GameState& game);
// A game whose ticks the rollback session runs checks its level before every tick: over
// when it is cleared, or when flies are left and the clock is below zero.
bool LevelOver(const GameState& game);

// --- The tick -------------------------------------------------------------------

// Readings for one tick. In a local game each banana's step reads the controls afresh:
// a player has one reading for the own banana and one for each extra, in that order.
// A game on two computers gives one reading per player, which every banana of that
// player then follows.
constexpr int kMaxReadings = 32;
struct TickControls {
  Controls readings[2][kMaxReadings] = {};
  int count[2] = {0, 0};

  // The reading banana `banana` (0: the own one, then the extras) of `player` (1, 2)
  // steps with: the last one given when there are fewer; none held without any.
  Controls For(int player, int banana) const;
};
TickControls OneReadingEach(Controls p1, Controls p2);
// How many readings the next tick takes for `player` in a local game: its own banana
// and the extras still flying after the tick's count-down; 0 for a player not playing.
int ReadingsForTick(const GameState& game, int player);

enum class SimSound : int { Splat, Jump, Land, Crazy };
struct SoundEvent {
  SimSound sound;
  double x;  // where it happened (pixels)
};
constexpr int kMaxTickSounds = 2 * kMaxReadings + 2 + kMaxFlies;

// What one tick did.
struct TickEvents {
  size_t firstSplat = 0;  // splats made: game.splats[firstSplat ...]
  size_t splatsMade = 0;
  SoundEvent sounds[kMaxTickSounds];  // in the order they happened
  int soundCount = 0;
  bool streakClosed[2] = {false, false};
  bool crazyStarted[2] = {false, false};
  bool levelCleared = false;  // the last fly died in this tick

  void Add(SimSound sound, double x);
};

// One logic tick.
TickEvents RunTick(GameState& game, const TickControls& controls);
// The tick's fly pass: every fly moves once and meets both players' bananas; each kill
// adds 1 to the player's streak and the level to the score; a fly killed by either
// player leaves one splat and leaves the list.
void FlyPass(GameState& game, TickEvents& events);

// Start of a frame: notes a cleared level; false when time is up.
bool CheckFlies(GameState& game);

// --- Snapshots ------------------------------------------------------------------

// The whole state (the generator's included: the C library's table in a local game)
// into `out`, replacing what it held; its capacity is kept from call to call.
void SaveGame(const GameState& game, std::vector<unsigned char>& out);
// Puts a saved state back; false (the game unchanged) if `data` is not one.
bool RestoreGame(GameState& game, const unsigned char* data, size_t size);
// A checksum of the whole state.
uint64_t GameChecksum(const GameState& game);

// A short fixed game (two players, the game's own generator, scripted controls) run
// and hashed: two builds that give the same number play the same games.
uint64_t SimulationFingerprint();
