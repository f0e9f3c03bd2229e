// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The play loop: one game, level after level, frame after frame, tick after tick, the
// same for every way a game is played. What differs is handed in:
//   - a ControlSource: where the control readings and each frame's ticks come from
//     (the devices and the 60 Hz clock, a replay, a scripted game or the rollback
//     session of a game on two computers), and when a level's frames end;
//   - a Presenter: whether frames are paced and drawn, what the level screens show and
//     how long they wait, the sounds and splats of each tick, the pause;
//   - a GameRecorder, when the game is recorded.
// The loop itself knows no library: a server re-runs a replay through it unseen.
#include <cstdint>

#include "sim/game.h"

class GameRecorder;
struct PlayLoop;

// What a frame runs: at most `ticks` ticks, each as it comes (`waitForEach`: a replay
// watched at its pace waits for each of its ticks; the devices run only those pending).
struct FramePlan {
  uint32_t ticks = 0;
  bool waitForEach = false;
};
constexpr uint32_t kPendingTicks = UINT32_MAX;  // as many as the clock has pending

class ControlSource {
 public:
  virtual ~ControlSource() = default;
  // A game begins: what it moves with (trigonometry, generator) and where it starts.
  virtual void BeginGame(GameState& game) = 0;
  // A frame of play begins.
  virtual FramePlan OpenFrame() = 0;
  // One reading of `player`'s controls (1 or 2).
  virtual Controls Read(int player) = 0;
  // Whether the game has come to where its source ends (a replay's last frame and
  // level screen), given the frames opened and the level screens shown so far.
  virtual bool ReachedItsEnd(uint64_t framesOpened, uint32_t levelScreens) const = 0;

  // A frame's start: whether it may run. A game played here notes a cleared level and
  // stops when time is up.
  virtual bool FrameStarts(GameState& game) { return CheckFlies(game); }
  // One tick of the frame's clock: one tick of the game, read from this source (the
  // rollback session runs as many as it asks for, none or several).
  virtual void RunClockTick(PlayLoop& play, GameState& game);
  // After the frame's ticks, before it is shown.
  virtual void TicksRan(GameState&) {}
  // After the frame: whether the level's frames go on (here: until it is cleared).
  virtual bool LevelGoesOn(const GameState& game) { return !game.cleared; }
  // Once the level's frames have stopped: how it ended.
  virtual LevelEnd LevelEndOf(const GameState& game) { return DecideLevelEnd(game); }
};

enum class LevelScreen { Begin, Cleared };

class Presenter {
 public:
  virtual ~Presenter() = default;
  // Escape, the window's close button, a signal or the demo's interruption.
  virtual bool QuitAsked() { return false; }
  // The frame's clock: whether the next tick has come (waiting for it when asked to),
  // and that it was used.
  virtual bool TickCame(bool /*wait*/) { return true; }
  virtual void TickUsed() {}
  // A level's pictures and clock (before the simulation's BeginLevel and StartLevelClock).
  virtual void SetUpLevel(GameState&) {}
  virtual void StartLevelClock() {}
  // "Level N" or "Level N clear!", with its sound and its wait.
  virtual void ShowLevelScreen(LevelScreen /*screen*/, int /*level*/) {}
  // A level's frames begin and end (the pause is set up; sound held back is let go).
  virtual void LevelBegins(GameState&) {}
  virtual void LevelEnds() {}
  // A frame while paused: true when the game is paused (the frame shown, no tick run).
  virtual bool PausedFrame(GameState&) { return false; }
  // Before the frame's ticks (M mutes).
  virtual void BeforeTicks() {}
  // A tick's splats and sounds.
  virtual void ActOnTick(GameState&, const TickEvents&) {}
  // The frame drawn and shown (or, unseen, only the random numbers drawing takes),
  // then a wait for the next tick.
  virtual void ShowFrame(const GameState& game) = 0;
};

struct PlayLoop {
  ControlSource& source;
  Presenter& presenter;
  GameRecorder* recorder = nullptr;
  uint64_t framesOpened = 0;   // in this game
  uint32_t levelScreens = 0;   // shown in this game

  // A quit asked for, or the source at its end.
  bool QuitRequested() const;
};

// A whole game, from level 1 until a level ends other than cleared (or a quit); the
// recorder, if any, has finished its record when this returns.
LevelEnd PlayGame(PlayLoop& play, GameState& game);
// One frame of play; false when the level's frames end.
bool PlayFrame(PlayLoop& play, GameState& game);
// One tick: each banana's reading from the source (recorded), the simulation's tick,
// and what the presenter makes of its events (unless `heard` is false: a tick run again).
void RunTick(PlayLoop& play, GameState& game, bool heard = true);
