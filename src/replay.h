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

// --- The record -------------------------------------------------------------

// How a game ended, as the replay's header keeps it and the log shows it.
struct ReplaySummary {
  int level = 1;        // the level reached
  int p1Score = 0;      // points
  int p2Score = 0;      // points; 0 in a one-player game
  int64_t ticks = 0;    // logic ticks played (60 to the second)
  bool timeUp = false;  // the clock ran out; otherwise the player quit
  uint32_t endState = 0;  // CRC-32 of where the bananas and flies were at the end
};

// `count` equal values in a row.
struct ReplayRun {
  uint32_t value;
  uint32_t count;
};

// One recorded game.
struct Replay {
  int players = 1;                         // 1 or 2
  std::string gameVersion;                 // the game that recorded it
  uint32_t mediaFingerprint = 0;           // fingerprint of the media that shape play [0 = unknown]
  uint8_t randomSource = 0;                // 0: the C library's rand() (local game); 1: the game's own seeded generator
  uint64_t seed = 0;                       // seed of the game's own generator when randomSource == 1
  uint8_t mathRevision = 0;                // 0: the C library's trigonometry; other values: the simulation's own deterministic functions
  std::vector<unsigned char> randomState;  // the C library's generator as the game began
  ReplaySummary summary;
  uint32_t levelScreens = 0;               // level screens shown before the game ended
  std::vector<ReplayRun> frames;           // ticks run by each frame of play, in order
  std::vector<ReplayRun> controls[2];      // each player's control readings (ControlsCode)
};

// Control readings as one small number: 0 to 5.
uint32_t ControlsCode(Controls controls);
Controls ControlsFromCode(uint32_t code);
// Adds one value to a list of runs.
void AppendRun(std::vector<ReplayRun>& runs, uint32_t value);

// The fingerprint of the pictures whose shapes play reads (the banana's and the flies'
// sizes, and which of their pixels are the mask colour): a CRC-32, never 0.
uint32_t MediaFingerprint(BITMAP* banana, BITMAP* fly1, BITMAP* fly2);

// --- The file ---------------------------------------------------------------
// Little-endian: magic "NSREPLAY", format version (u16), players (u8), ending (u8:
// 1 time up, 0 quit), game version (u8 length + text), random state (u16 length +
// bytes), [from version 2: media fingerprint (u32), random source (u8), seed (u64),
// math revision (u8)], level, P1 score, P2 score, ticks, level screens, end state (u32
// each), then the body's size (u32), its zlib-packed size (u32) and the packed body,
// and last a CRC-32 of everything before it. The body is three lists of runs (frames,
// player 1's and player 2's controls), each a count followed by (value, count) pairs,
// all LEB128 numbers. Version 1 files read with the defaults of the version-2 fields.
//
// A file is read only as far as a game of its recorded length could go: at most
// kMaxReplayFileBytes, a body no longer than its ticks could fill, no more frames
// that run no tick or control readings than a game of its ticks can make (see
// replay.cpp), so reading and checking any file takes memory bounded by its size and
// time in proportion to the ticks it claims.

constexpr char kReplayMagic[] = "NSREPLAY";
constexpr int kReplayFormatVersion = 2;
constexpr size_t kMaxReplayFileBytes = 1 << 20;
constexpr const char* kReplayDirectory = "replays";
constexpr const char* kLastReplay = "last.nsr";
constexpr const char* kBestReplay = "best.nsr";

std::string EncodeReplay(const Replay& replay);
// Reads a replay from the bytes of a file; false, with a short reason in `error`, for
// anything that is not a whole, intact replay of a format this game knows, or that
// holds more than a game of its length could.
bool DecodeReplay(const std::string& bytes, Replay& replay, std::string& error);
// The file at `path` ("-": standard input), read no further than kMaxReplayFileBytes.
bool LoadReplay(const std::string& path, Replay& replay, std::string& error);
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

// Demo: watched like Watch, marked "DEMO" (the title screen's attract mode).
enum class ReplayMode { None, Watch, Check, Demo };

struct ReplayCommand {
  ReplayMode mode = ReplayMode::None;
  std::string file;  // as given on the command line
  std::string error; // set when the command line names a mode without a file
};

// The command line (options.h) names the replay to watch (--replay FILE) or check
// (--check-replay FILE).

// Plays `replay` back through `playGame` (a whole game: PlayGame), at the original pace
// with level screens shown for two seconds and its sound (Watch) or as fast as it goes
// and silent (Check).
// Check prints "replay: level L, P1 S1, P2 S2, T ticks: matches" (or ": differs", with
// what the replay gave and, when it was recorded by another version of the game or
// with other pictures, which) and returns 0 when it matches, 1 when not; Watch returns 0.
// `stop`, when given, is asked at every check for a quit: true ends the playback there
// as if the replay had come to its end.
int RunReplay(ReplayMode mode, const Replay& replay,
              const std::function<void(bool twoPlayer)>& playGame, bool (*stop)() = nullptr);

// Why a replay may not end as recorded: "recorded by nanasplat 1.2 with other pictures",
// comparing its header with `replayed`, the record of its game played back here;
// empty when it came from this very game and media.
std::string ReplayOrigin(const Replay& replay, const Replay& replayed);

// The record of the last game played, and the summary it ended with.
const Replay& LastGameRecord();

// For scripted play in tests: the next game is played from `script` (its controls and
// frames, from the generator's current state when it has none) as fast as it goes, and
// recorded as if played.
void PlayNextGameFrom(const Replay& script);
// Games are played from the devices again.
void StopPlayingBack();
