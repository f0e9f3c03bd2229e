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

int BestScore(const ReplaySummary& summary) { return std::max(summary.p1Score, summary.p2Score); }

// A best replay this game cannot read (damaged, or from a newer game) is never simply
// written over: it is kept beside, as best.nsr.unreadable. False when it could not be.
bool KeepUnreadableAside(const std::string& best, const std::string& error) {
  const std::string aside = best + ".unreadable";
  if (std::rename(best.c_str(), aside.c_str()) != 0) {
    LOG("Couldn't keep the unreadable replay ", best, " (", error, ") aside: ", std::strerror(errno));
    return false;
  }
  LOG("The replay ", best, " cannot be read (", error, "); kept as ", aside);
  return true;
}

// The pictures' masks as play sees them (a picture absent: none).
PictureMask MaskOf(BITMAP* picture) {
  PictureMask mask;
  if (picture == nullptr) return mask;
  mask = {true, picture->w, picture->h, {}};
  const int maskColour = bitmap_mask_color(picture);
  for (int y = 0; y < picture->h; ++y) {
    for (int x = 0; x < picture->w; ++x) mask.masked.push_back(getpixel(picture, x, y) == maskColour ? 1 : 0);
  }
  return mask;
}

}  // namespace

void WriteGameRecord(const Replay& replay) {
  const std::string dir = ReplayDirectory();
  if (!MakeDirectories(dir)) {  // with the table's directory above it, which a player's own may not be yet
    LOG("Couldn't make the directory \"", dir, "\" for replays: ", std::strerror(errno));
    return;
  }
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

// In the media directory when the player may write it, else in the player's own data
// directory (userdata.h).
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
