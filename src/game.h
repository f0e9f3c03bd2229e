// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Game play: levels, the fixed 60 Hz tick, controls, scores, CRAZY mode, the frame.
#include <allegro.h>

#include <list>

#include "fly.h"
#include "image.h"
#include "pause.h"
#include "player.h"

// The pictures the game uses, looked up once at start-up and owned by the image manager.
struct GameImages {
  Image* banana1 = nullptr;  // player 1's banana
  Image* title = nullptr;
  Image* banana2 = nullptr;  // player 2's banana (the same entry)
  Image* fly1 = nullptr;
  Image* fly2 = nullptr;
  Image* help1 = nullptr;
  Image* help2 = nullptr;
};
extern GameImages gameImages;

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
constexpr int kHudScoreInset = 300;          // "P1: %d" starts this far left of the right edge (pixels)
constexpr int kCrazyJitter = 3;              // the CRAZY text wanders this far (pixels)

int FliesForLevel(int level);
int TimeLimitForLevel(int level);  // ticks
int GroundLine();                  // y of the ground line (pixels)

// A player's inputs, read afresh from the live key and mouse state and the player's
// pad: the only record of input the game logic reads.
struct Controls {
  int turn;     // +1 rolls right, -1 rolls left
  bool squash;  // squash while upside down; release to jump
};
Controls ReadControls(int player);

// The level screens' wait: until a key is pressed (and taken from the key buffer) or a
// pad button goes down. A quit signal ends it too, so that it never outlasts one; the
// window's close button takes effect after the key, as on every "press any key" screen.
void WaitForKeyOrPadButton();

// Everything one game keeps.
struct Game {
  bool twoPlayer;
  int level = 1;
  Player p1;
  Player p2;
  std::list<Fly> flies;
  int timeLeft = 0;  // ticks
  bool cleared = false;
  Pause pause;  // play stands still while pause.paused is set
  BITMAP* splatterLayer;

  Game(bool twoPlayer, BITMAP* splatterLayer);
};

enum class LevelEnd { Cleared, TimeUp, Quit };

// Escape held or the window asked to close.
bool QuitRequested();

// Level start: bananas, a white splatter layer and the level's flies.
void SetUpLevel(Game& game);
// Level clock, streaks and CRAZY countdowns start from zero when play begins.
void StartLevelClock(Game& game);
// One logic tick.
void RunTick(Game& game);
// Start of a frame: notes a cleared level; false when time is up.
bool CheckFlies(Game& game);
// The frame's picture of the play area, into `buffer`.
void DrawFrame(const Game& game, BITMAP* buffer);
// One frame of play; false when the level's frame loop ends.
bool PlayFrame(Game& game, BITMAP* backbuffer);
// How the frame loop ended.
LevelEnd DecideLevelEnd(const Game& game);

// A whole game, from level 1 to the high-score screens (or a quit).
void PlayGame(BITMAP* backbuffer, BITMAP* splatterLayer, bool twoPlayer);
