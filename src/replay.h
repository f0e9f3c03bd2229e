// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Replays: recording every game, the replay file, playing a game back and checking it.
//
// A game depends on three things only: each control reading its bananas make, how many
// ticks each frame runs (frames draw random numbers: the flies' pictures and the CRAZY
// text), and the C library's random generator, which the game never seeds. This module
// stands between the game and all three. Game play reads its controls and its frame
// clock through the calls below; while a game is played from the devices they are
// recorded, while a replay is played back they come from the replay, and the game
// cannot tell which. When a game ends its record is written to "replays/last.nsr" (and
// "replays/best.nsr" when it beats that one) in the directory of the high-score table.
#include <allegro.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "game.h"
#include "replaycheck.h"
#include "replayfile.h"

// The fingerprint of the pictures whose shapes play reads (the banana's and the flies'
// sizes, and which of their pixels are the mask colour): a CRC-32, never 0.
// (replaycheck.h computes it from the plain sizes and masks.)
uint32_t MediaFingerprint(BITMAP* banana, BITMAP* fly1, BITMAP* fly2);

// --- The files ----------------------------------------------------------------

constexpr const char* kReplayDirectory = "replays";
constexpr const char* kLastReplay = "last.nsr";
constexpr const char* kBestReplay = "best.nsr";

// Writes the file whole or not at all (a temporary file renamed over `path`).
bool SaveReplay(const std::string& path, const Replay& replay);

// The directory that holds the replays: beside the high-score table.
std::string ReplayDirectory();

// --- What game play calls ---------------------------------------------------

// A game begins: recording starts, and a replay being played back sets the random
// generator to the state its game began with.
void BeginGameRecord(bool twoPlayer);
// The trigonometry a game begins with: a replay played back moves with the functions it
// was recorded with; a game played from the devices with `fresh`.
uint8_t GameMathRevision(uint8_t fresh);
// The game is over (time up or quit): its summary is logged; a game played from the
// devices is written to the replay files.
// `reason` replaces "time up" or "quit" in the log line (a network game's own endings).
void FinishGameRecord(const Game& game, LevelEnd end, const char* reason = nullptr);

// A game whose ticks come from elsewhere (a network game, whose ticks are final only
// once both computers' readings are in): the random source it plays with, each tick
// as one frame of one tick with its readings, and each level screen shown.
void SetGameRecordRandom(uint8_t randomSource, uint64_t seed);
void RecordTick(const TickControls& controls);
void CountLevelScreen();
// A replay being played back of a game with the game's own generator: true, with its seed.
bool PlaybackOwnRandom(uint64_t& seed);

// One reading of a player's controls: from `live` (the devices), or from the replay.
Controls ReplayControls(int player, Controls (*live)(int player));

// The frame's clock: whether one more tick runs in this frame, and that it has run.
// A frame ends when TickDue says no.
bool TickDue();
void TickDone();
// The end of a frame waits until this is true: a tick of the 60 Hz timer has come (a
// replay checked at full speed never waits).
bool NextTickArrived();

// A level screen waits here: for `live` (a key) in a game, for two seconds in a replay
// being watched (calling `watching` as it waits, so that M still mutes), not at all in
// one being checked.
void WaitAtLevelScreen(BITMAP* backbuffer, void (*live)(), void (*watching)());
// The "REPLAY" mark over a watched replay's frame (above the play area's texts), or
// "DEMO" over a demo's.
void DrawReplayMark(BITMAP* buffer);
// Whether frames go to the screen: not while a replay is checked at full speed.
bool ReplayShowsFrames();
// A replay played back has come to where its game ended.
bool ReplayReachedItsEnd();
// A replay is being played back (its scores are not offered to the table again).
bool PlayingBack();

// --- Watching and checking --------------------------------------------------


// Plays `replay` back through `playGame` (a whole game: PlayGame), at the original pace
// with level screens shown for two seconds and its sound; returns 0.
// `stop`, when given, is asked at every check for a quit: true ends the playback there
// as if the replay had come to its end.
// A demo (the title screen's attract mode) is marked "DEMO" rather than "REPLAY".
int RunReplay(bool demo, const Replay& replay,
              const std::function<void(bool twoPlayer)>& playGame, bool (*stop)() = nullptr);
// Re-runs `replay` unseen (replaycheck.h) and prints the check's line: 0 when it
// matches, 1 when not.
int CheckReplay(const Replay& replay, const RerunSetup& setup);

// The record of the last game played, and the summary it ended with.
const Replay& LastGameRecord();

// For scripted play in tests: the next game is played from `script` (its controls and
// frames, from the generator's current state when it has none) as fast as it goes, and
// recorded as if played.
void PlayNextGameFrom(const Replay& script);
// Games are played from the devices again.
void StopPlayingBack();
