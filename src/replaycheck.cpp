// SPDX-License-Identifier: GPL-3.0-or-later
#include "replaycheck.h"

#include <zlib.h>

#include <algorithm>

#include "gamerecord.h"
#include "sim/framedraws.h"
#include "sim/random.h"

void ReplaySource::BeginGame(GameState& game) {
  game.mathRevision = replay_.mathRevision;
  if (UsableCLibraryState(replay_.randomState.data(), replay_.randomState.size())) {
    unsigned char table[kCLibraryStateBytes];
    std::copy(replay_.randomState.begin(), replay_.randomState.end(), table);
    RestoreCLibraryState(table);
  }
  frameCursor_ = ReplayRunCursor{&replay_.frames};
  for (int p = 0; p < 2; ++p) controlCursor_[p] = ReplayRunCursor{&replay_.controls[p]};
  frames_ = TotalCount(replay_.frames);
  if (replay_.randomSource == static_cast<uint8_t>(RandomKind::Own)) game.random = OwnRandom(replay_.seed);
}

FramePlan ReplaySource::OpenFrame() {
  uint32_t ticks = 0;
  return {frameCursor_.Next(ticks) ? ticks : 0, true};
}

Controls ReplaySource::Read(int player) {
  uint32_t code = 0;
  return controlCursor_[player == 2 ? 1 : 0].Next(code) ? ControlsFromCode(code) : Controls{0, false};
}

bool ReplaySource::ReachedItsEnd(uint64_t framesOpened, uint32_t levelScreens) const {
  if (framesOpened > frames_) return true;  // played past its end
  return framesOpened == frames_ && levelScreens >= replay_.levelScreens;
}

void UnseenPresenter::ShowFrame(const GameState& game) { TakeFrameDraws(game); }

// --- The re-run and its report ---------------------------------------------

Replay RerunReplay(const Replay& replay, const RerunSetup& setup) {
  GameState game(replay.players == 2, setup.area, setup.banana, setup.fly);
  ReplaySource source(replay);
  UnseenPresenter presenter;
  GameRecorder recorder(setup.gameVersion, setup.mediaFingerprint);
  PlayLoop play{source, presenter, &recorder};
  PlayGame(play, game);
  EmptyLevelLists(game);
  return recorder.Record();
}

bool SameEnd(const ReplaySummary& a, const ReplaySummary& b) {
  return a.level == b.level && a.p1Score == b.p1Score && a.p2Score == b.p2Score && a.ticks == b.ticks &&
         a.timeUp == b.timeUp && a.endState == b.endState;
}

std::string SummaryText(const ReplaySummary& s) {
  return "level " + std::to_string(s.level) + ", P1 " + std::to_string(s.p1Score) + ", P2 " +
         std::to_string(s.p2Score) + ", " + std::to_string(s.ticks) + " ticks";
}

std::string ReplayOrigin(const Replay& replay, const Replay& replayed) {
  std::vector<std::string> others;
  if (replay.mediaFingerprint != 0 && replayed.mediaFingerprint != 0 &&
      replay.mediaFingerprint != replayed.mediaFingerprint) {
    others.push_back("other pictures");
  }
  if (replay.mathRevision != replayed.mathRevision) others.push_back("other arithmetic");
  if (replay.randomSource != replayed.randomSource) others.push_back("another random generator");
  if (others.empty() && replay.gameVersion == replayed.gameVersion) return "";
  std::string origin = "recorded by nanasplat " + (replay.gameVersion.empty() ? "(unknown version)" : replay.gameVersion);
  for (size_t i = 0; i < others.size(); ++i) origin += (i == 0 ? " with " : " and ") + others[i];
  return origin;
}

std::string CheckReport(const Replay& replay, const Replay& replayed) {
  const ReplaySummary& again = replayed.summary;
  if (SameEnd(replay.summary, again)) return "replay: " + SummaryText(replay.summary) + ": matches";
  std::string line = "replay: " + SummaryText(replay.summary) + ": differs (replayed: " + SummaryText(again);
  if (replay.summary.timeUp != again.timeUp) line += again.timeUp ? ", time up" : ", quit";
  if (replay.summary.endState != again.endState) line += ", bananas and flies elsewhere";
  const std::string origin = ReplayOrigin(replay, replayed);
  if (!origin.empty()) line += "; " + origin;
  return line + ")";
}

// --- The media's fingerprint --------------------------------------------------

namespace {
// Feeds a picture's size and mask into a CRC-32: which pixels are drawn and which are
// the mask colour, row by row, one bit each. Nothing without a picture but its absence.
uLong FingerprintPicture(uLong crc, const PictureMask& picture) {
  const int width = picture.present ? picture.width : 0;  // pixels
  const int height = picture.present ? picture.height : 0;
  unsigned char head[8];
  for (int i = 0; i < 4; ++i) {
    head[i] = static_cast<unsigned char>(width >> (8 * i));
    head[4 + i] = static_cast<unsigned char>(height >> (8 * i));
  }
  crc = crc32(crc, head, sizeof head);
  for (int y = 0; y < height; ++y) {
    unsigned char bits = 0;
    for (int x = 0; x < width; ++x) {
      const size_t at = static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x);
      const bool masked = at < picture.masked.size() && picture.masked[at] != 0;
      bits = static_cast<unsigned char>(bits << 1 | (masked ? 1 : 0));
      if (x % 8 == 7 || x == width - 1) {
        crc = crc32(crc, &bits, 1);
        bits = 0;
      }
    }
  }
  return crc;
}
}  // namespace

uint32_t MediaFingerprint(const PictureMask& banana, const PictureMask& fly1, const PictureMask& fly2) {
  uLong crc = crc32(0L, Z_NULL, 0);
  for (const PictureMask* picture : {&banana, &fly1, &fly2}) crc = FingerprintPicture(crc, *picture);
  return crc != 0 ? static_cast<uint32_t>(crc) : 1;  // 0 stands for "unknown"
}
