// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Replays of this computer's games: where they are written, the media they were played
// with, and the check of one (--check-replay).
//
// A game depends on three things only: each control reading its bananas make, how many
// ticks each frame runs (frames draw random numbers: the flies' pictures and the CRAZY
// text), and the C library's random generator, which the game never seeds. The play
// loop (playloop.h) records all three through its GameRecorder; the replay file
// (replayfile.h) keeps them.
#include <allegro.h>

#include <cstdint>
#include <string>

#include "replaycheck.h"
#include "replayfile.h"

constexpr const char* kReplayDirectory = "replays";
constexpr const char* kLastReplay = "last.nsr";
constexpr const char* kBestReplay = "best.nsr";

// The directory that holds the replays: beside the high-score table.
std::string ReplayDirectory();
// Writes the file whole or not at all (a temporary file renamed over `path`).
bool SaveReplay(const std::string& path, const Replay& replay);
// A game played from the devices goes to last.nsr, and to best.nsr when it beats that
// one (a best.nsr this game cannot read is kept aside as best.nsr.unreadable first).
void WriteGameRecord(const Replay& replay);

// The fingerprint of the pictures whose shapes play reads (replaycheck.h computes it
// from their plain sizes and masks), and that of the game's own pictures.
uint32_t MediaFingerprint(BITMAP* banana, BITMAP* fly1, BITMAP* fly2);
uint32_t GameMediaFingerprint();

// "Game over (time up): level L, P1 S1, P2 S2, T ticks"; `reason` replaces "time up"
// or "quit" (a network game's own endings).
void LogGameOver(const ReplaySummary& summary, const char* reason);

// Re-runs `replay` unseen (replaycheck.h) and prints the check's line: 0 when it
// matches, 1 when not.
int CheckReplay(const Replay& replay, const RerunSetup& setup);
