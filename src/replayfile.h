// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The replay file: the record of one game (its header and its lists of runs), written
// and read with every bound a file from outside is held to. No game library: a server
// that verifies submitted games links it with the simulation alone.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "sim/controls.h"

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

// Reads a list of runs value by value.
struct ReplayRunCursor {
  const std::vector<ReplayRun>* runs = nullptr;
  size_t index = 0;
  uint32_t used = 0;  // values taken from runs[index]

  // The next value; false past the end.
  bool Next(uint32_t& value);
};
// How many values the runs hold; how many ticks a list of frames runs.
uint64_t TotalCount(const std::vector<ReplayRun>& runs);
uint64_t PlayedTicks(const std::vector<ReplayRun>& frames);

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
// replayfile.cpp), so reading and checking any file takes memory bounded by its size and
// time in proportion to the ticks it claims.

constexpr char kReplayMagic[] = "NSREPLAY";
constexpr int kReplayFormatVersion = 2;
constexpr size_t kMaxReplayFileBytes = 1 << 20;  // bytes
std::string EncodeReplay(const Replay& replay);
// Reads a replay from the bytes of a file; false, with a short reason in `error`, for
// anything that is not a whole, intact replay of a format this game knows, or that
// holds more than a game of its length could.
bool DecodeReplay(const std::string& bytes, Replay& replay, std::string& error);
// The bytes of the file at `path` ("-": standard input); false, with the reason in
// `error`, when it cannot be read or holds more than `most` bytes ("too large for a replay").
bool ReadFileBounded(const std::string& path, size_t most, std::string& bytes, std::string& error);
// The file at `path` ("-": standard input), read no further than kMaxReplayFileBytes.
bool LoadReplay(const std::string& path, Replay& replay, std::string& error);
