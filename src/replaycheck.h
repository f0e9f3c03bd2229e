// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A replay re-run to its result, and what a check of it reports. No game library: the
// world score board's server links this (with the replay file and the simulation) to
// verify a submitted replay by playing it again.
//
// The re-run plays the game exactly as the game's own --check-replay does: the play
// loop (playloop.h) with the replay as its source, unseen, as fast as it goes; each
// frame still takes the random numbers drawing takes (sim/framedraws.h), so a local
// game's sequence is the one it was recorded with. Play reads the play area's size and
// the sprites' sizes, and nothing else of the media: give the ones the game plays with
// (1024 x 768; the banana's and the first fly's pictures). The C library's generator
// is one per process: re-run one replay at a time.
#include <cstdint>
#include <string>
#include <vector>

#include "playloop.h"
#include "replayfile.h"
#include "sim/game.h"

// A replay as a source of play: its readings, its frames' ticks, its end.
class ReplaySource : public ControlSource {
 public:
  explicit ReplaySource(const Replay& replay) : replay_(replay) {}
  void BeginGame(GameState& game) override;
  FramePlan OpenFrame() override;
  Controls Read(int player) override;
  bool ReachedItsEnd(uint64_t framesOpened, uint32_t levelScreens) const override;

 private:
  const Replay& replay_;
  uint64_t frames_ = 0;  // frames in the replay
  ReplayRunCursor frameCursor_;
  ReplayRunCursor controlCursor_[2];
};

// Frames unseen: nothing drawn, shown or heard, no waiting; only the random numbers a
// frame's drawing takes.
class UnseenPresenter : public Presenter {
 public:
  void ShowFrame(const GameState& game) override;
};

// What the re-run needs to know of the game that runs it.
struct RerunSetup {
  PlayArea area;                  // pixels
  SpriteSize banana{0, 0};        // the banana's picture (pixels)
  SpriteSize fly{0, 0};           // the flies' first picture (pixels)
  std::string gameVersion;        // the re-running game's version, for the report
  uint32_t mediaFingerprint = 0;  // its media's (MediaFingerprint), 0 when not known
};

// Plays `replay` again from its start to where it ended: the record of the game so
// played, whose summary is the replayed result.
Replay RerunReplay(const Replay& replay, const RerunSetup& setup);

// Whether two summaries tell of the same ending (every field).
bool SameEnd(const ReplaySummary& a, const ReplaySummary& b);
// "level L, P1 S1, P2 S2, T ticks".
std::string SummaryText(const ReplaySummary& summary);
// Why a replay may not end as recorded: "recorded by nanasplat 1.2 with other pictures",
// comparing its header with `replayed`, the record of its game played back here;
// empty when it came from this very game and media.
std::string ReplayOrigin(const Replay& replay, const Replay& replayed);
// The check's one line: "replay: level L, P1 S1, P2 S2, T ticks: matches" or ": differs"
// with what the re-run gave and, when it was recorded elsewhere, by what.
std::string CheckReport(const Replay& replay, const Replay& replayed);

// --- The media's fingerprint ---------------------------------------------------

// A picture as play sees it: its size, and which pixels are the mask colour.
struct PictureMask {
  bool present = false;        // false: no picture
  int width = 0;               // pixels
  int height = 0;              // pixels
  std::vector<uint8_t> masked; // width * height, row by row: 1 where the mask colour is
};
// The fingerprint of the pictures whose shapes play reads (the banana's and the two
// flies'): a CRC-32 of their sizes and masks, never 0 (0 stands for "unknown").
uint32_t MediaFingerprint(const PictureMask& banana, const PictureMask& fly1, const PictureMask& fly2);
