// SPDX-License-Identifier: GPL-3.0-or-later
#include "replay.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "debug.h"
#include "game.h"
#include "userdata.h"
#include "util.h"

namespace {

constexpr const char* kUnreadableSuffix = ".unreadable";

// The directory exists, or is made (with the table's directory above it, which a
// player's own data directory may not be yet).
bool MakeDirectory(const std::string& dir) {
  if (MakeDirectories(dir)) return true;
  LOG("Couldn't make the directory \"", dir, "\" for replays: ", std::strerror(errno));
  return false;
}

int BestScore(const ReplaySummary& summary) { return std::max(summary.p1Score, summary.p2Score); }

// A best replay this game cannot read (damaged, or from a newer game) is never simply
// written over: it is kept beside, as best.nsr.unreadable. False when it could not be.
bool KeepUnreadableAside(const std::string& best, const std::string& error) {
  const std::string aside = best + kUnreadableSuffix;
  if (std::rename(best.c_str(), aside.c_str()) != 0) {
    LOG("Couldn't keep the unreadable replay ", best, " (", error, ") aside: ", std::strerror(errno));
    return false;
  }
  LOG("The replay ", best, " cannot be read (", error, "); kept as ", aside);
  return true;
}

}  // namespace

// The game just played goes to last.nsr, and to best.nsr when it beats that one.
void WriteGameRecord(const Replay& replay) {
  const std::string dir = ReplayDirectory();
  if (!MakeDirectory(dir)) return;
  const std::string last = dir + "/" + kLastReplay;
  const std::string best = dir + "/" + kBestReplay;
  if (SaveReplay(last, replay)) LOG("Replay saved in ", last);
  Replay previous;
  std::string error;
  const bool hasBest = LoadReplay(best, previous, error);
  if (hasBest && BestScore(replay.summary) <= BestScore(previous.summary)) return;
  struct stat st;
  if (!hasBest && lstat(best.c_str(), &st) == 0 && !KeepUnreadableAside(best, error)) return;
  if (SaveReplay(best, replay)) LOG("Replay saved in ", best, " (best score so far)");
}

namespace {


// The pictures' masks as play sees them (a picture absent: none).
PictureMask MaskOf(BITMAP* picture) {
  PictureMask mask;
  if (picture == nullptr) return mask;
  mask.present = true;
  mask.width = picture->w;
  mask.height = picture->h;
  mask.masked.resize(static_cast<size_t>(picture->w) * static_cast<size_t>(picture->h));
  const int maskColour = bitmap_mask_color(picture);
  size_t at = 0;
  for (int y = 0; y < picture->h; ++y) {
    for (int x = 0; x < picture->w; ++x) mask.masked[at++] = getpixel(picture, x, y) == maskColour ? 1 : 0;
  }
  return mask;
}

}  // namespace

uint32_t MediaFingerprint(BITMAP* banana, BITMAP* fly1, BITMAP* fly2) {
  return MediaFingerprint(MaskOf(banana), MaskOf(fly1), MaskOf(fly2));
}

uint32_t GameMediaFingerprint() {
  return MediaFingerprint(PictureOf(gameImages.banana1), PictureOf(gameImages.fly1), PictureOf(gameImages.fly2));
}

bool SaveReplay(const std::string& path, const Replay& replay) {
  std::string failure;
  if (WriteFileAtomically(path, EncodeReplay(replay), &failure)) return true;
  LOG("Failed to save the replay \"", path, "\" (", failure, ")");
  return false;
}

// Beside the high-score table: in the media directory when the player may write it,
// else in the player's own data directory (userdata.h).
std::string ReplayDirectory() { return GameDataDirectory() + "/" + kReplayDirectory; }

void LogGameOver(const ReplaySummary& summary, const char* reason) {
  LOG("Game over (", reason != nullptr ? reason : summary.timeUp ? "time up" : "quit", "): ", SummaryText(summary));
}

int CheckReplay(const Replay& replay, const RerunSetup& setup) {
  LOG("Checking the replay", " of ", SummaryText(replay.summary));
  const Replay replayed = RerunReplay(replay, setup);
  LogGameOver(replayed.summary, nullptr);
  std::printf("%s\n", CheckReport(replay, replayed).c_str());
  std::fflush(stdout);
  return SameEnd(replay.summary, replayed.summary) ? 0 : 1;
}
