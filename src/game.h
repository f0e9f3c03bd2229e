// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Game play: levels, the fixed 60 Hz tick, controls, scores, CRAZY mode, the frame.
// The rules' state and tick live in the simulation (sim/game.h); this layer reads the
// devices into control readings, paints the splats and plays the sounds a tick reports,
// and draws the frames.
#include <allegro.h>

#include <memory>

#include "image.h"
#include "pause.h"
#include "sim/controls.h"
#include "sim/framedraws.h"
#include "sim/game.h"
#include "replayfile.h"

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

constexpr int kHudScoreInset = 300;          // "P1: %d" starts this far left of the right edge (pixels)

// A player's inputs, read afresh from the live key and mouse state and the player's
// pad: the only record of input the game logic reads.
Controls ReadControls(int player);
// Any of this computer's controls for one player (a network game): player 1's keys,
// player 2's mouse buttons and the first pad.
Controls ReadAnyLocalControls();

// The level screens' wait: until a key is pressed (and taken from the key buffer) or a
// pad button goes down. A quit signal ends it too, so that it never outlasts one; the
// window's close button takes effect after the key, as on every "press any key" screen.
void WaitForKeyOrPadButton();

class Presenter;

// A game played at this computer: the simulation's state, with what the screen keeps
// for it.
struct Game : GameState {
  Pause pause;  // play stands still while pause.paused is set
  BITMAP* splatterLayer;
  std::shared_ptr<BITMAP> flipped;  // the banana sprite turned half a turn, for this level

  // The play area is the screen's (or, without a screen, the splatter layer's).
  Game(bool twoPlayer, BITMAP* splatterLayer);
};

// Escape held or the window asked to close.
bool QuitRequested();

// How a game is shown.
struct Showing {
  bool paced = true;           // at the 60 Hz clock's pace, drawn and heard; false: unseen, at full speed
  const char* mark = nullptr;  // "REPLAY" or "DEMO" over a watched replay (its level screens last two seconds)
  bool offerScores = true;     // a game played here: its scores offered, its record written
  bool (*stop)() = nullptr;    // asked with every check for a quit (the demo's interruption)
};

// The pictures of a level: sizes, the banana turned half a turn, a white splatter layer.
void SetUpLevelPictures(Game& game);
// Level start as play makes it: the pictures, then the simulation's (bananas, flies).
void SetUpLevel(Game& game);
// Level clock, streaks and CRAZY countdowns start from zero when play begins.
void StartLevelClock(Game& game);
// One logic tick with the controls read from the devices, its splats painted and its
// sounds played (the play loop's tick).
void RunTick(Game& game);
// Paints the splats and plays the sounds a tick reported.
void ActOnTick(Game& game, const TickEvents& events);
// The frame's picture of the play area, into `buffer`.
void DrawFrame(const Game& game, BITMAP* buffer);
// One frame of play from the devices (the play loop's frame); false when the level's
// frame loop ends.
bool PlayFrame(Game& game, BITMAP* backbuffer);

// A whole game from the devices, from level 1 to the high-score screens (or a quit);
// its record (also written to the replay files).
Replay PlayGame(BITMAP* backbuffer, BITMAP* splatterLayer, bool twoPlayer);
// The presenter of a game on this screen, shown as `showing` says (a game watched live).
std::unique_ptr<Presenter> MakeScreenPresenter(Game& game, BITMAP* backbuffer, const Showing& showing);
// A whole game played back from `replay`, shown as `showing` says; its record.
Replay PlayReplay(BITMAP* backbuffer, BITMAP* splatterLayer, const Replay& replay, const Showing& showing);
// A replay watched at its pace with its sound, `mark` ("REPLAY", "DEMO") over it;
// `stop`, when given, ends it as if it had come to its end.
void WatchReplay(BITMAP* backbuffer, BITMAP* splatterLayer, const Replay& replay, const char* mark, bool (*stop)());
