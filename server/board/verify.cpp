// SPDX-License-Identifier: GPL-3.0-or-later
// The board's verdict on a replay: read with the game's own replay reader, played again
// with the game's own play loop and simulation (no game library), against the media
// this server was built with (board_media.h, generated from the build's media).
#include "verify.h"

#include <openssl/evp.h>

#include <cstdio>

#include "board_media.h"
#include "replaycheck.h"
#include "replayfile.h"
#include "sim/trig.h"

#ifndef NANASPLAT_VERSION
#error "NANASPLAT_VERSION is set by the build from the project's version"
#endif

namespace {

constexpr int kAreaWidth = 1024;   // the play area every game is played in (pixels)
constexpr int kAreaHeight = 768;
constexpr uint8_t kOwnRandom = 1;  // Replay::randomSource of a network game

Verdict Refused(std::string reason) {
  Verdict verdict;
  verdict.reason = std::move(reason);
  return verdict;
}

std::string Hex(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "%08x", value);
  return text;
}

// What makes the game: its start (players, generators, arithmetic) and every frame and
// reading, without what it claims of its end or where it was recorded; SHA-256, hex.
std::string GameDigest(Replay replay) {
  replay.gameVersion.clear();
  replay.mediaFingerprint = 0;
  replay.summary = ReplaySummary();
  replay.levelScreens = 0;
  const std::string bytes = EncodeReplay(replay);
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr);
  std::string hex;
  for (unsigned int i = 0; i < length; ++i) {
    char pair[3];
    std::snprintf(pair, sizeof pair, "%02x", digest[i]);
    hex += pair;
  }
  return hex;
}

}  // namespace

Verdict VerifyReplay(const std::string& bytes, void (*claimedTicks)(int64_t ticks)) {
  Replay replay;
  std::string error;
  if (!DecodeReplay(bytes, replay, error)) return Refused("the file cannot be read as a replay: " + error);
  if (claimedTicks != nullptr) claimedTicks(replay.summary.ticks);
  if (!replay.summary.timeUp) return Refused("the game did not end at time up");
  if (replay.mediaFingerprint == 0) {
    return Refused("recorded with other pictures (an older game that does not name its pictures; this board's " +
                   Hex(kMediaFingerprint) + ")");
  }
  if (replay.mediaFingerprint != kMediaFingerprint) {
    return Refused("recorded with other pictures (media " + Hex(replay.mediaFingerprint) + ", this board's " +
                   Hex(kMediaFingerprint) + ")");
  }
  if (replay.mathRevision != kPortableMath) {
    return Refused("recorded with arithmetic this board cannot reproduce exactly (math revision " +
                   std::to_string(replay.mathRevision) + ")");
  }
  RerunSetup setup;
  setup.area = PlayArea{kAreaWidth, kAreaHeight};
  setup.banana = SpriteSize{kMediaBananaWidth, kMediaBananaHeight};
  setup.fly = SpriteSize{kMediaFlyWidth, kMediaFlyHeight};
  setup.gameVersion = NANASPLAT_VERSION;
  setup.mediaFingerprint = kMediaFingerprint;
  const Replay again = RerunReplay(replay, setup);
  if (!SameEnd(replay.summary, again.summary)) {
    return Refused("the re-run does not end as the file says: " + CheckReport(replay, again).substr(8));
  }
  Verdict verdict;
  verdict.verified = true;
  verdict.mode = replay.randomSource == kOwnRandom ? GameMode::Network
                 : replay.players == 2             ? GameMode::TwoPlayers
                                                   : GameMode::OnePlayer;
  verdict.level = again.summary.level;
  verdict.p1Score = again.summary.p1Score;
  verdict.p2Score = again.summary.p2Score;
  verdict.ticks = again.summary.ticks;
  verdict.game = GameDigest(replay);
  return verdict;
}

bool VerifierAvailable() { return true; }
