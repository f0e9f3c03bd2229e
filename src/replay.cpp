// SPDX-License-Identifier: GPL-3.0-or-later
#include "replay.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

#include "debug.h"
#include "init.h"
#include "sound.h"
#include "userdata.h"
#include "util.h"

#ifndef NANASPLAT_VERSION
#define NANASPLAT_VERSION "unknown"
#endif

// ===========================================================================
// The record
// ===========================================================================

uint32_t ControlsCode(Controls controls) {
  return static_cast<uint32_t>(controls.turn + 1) + (controls.squash ? 3u : 0u);
}

Controls ControlsFromCode(uint32_t code) {
  return {static_cast<int>(code % 3) - 1, code >= 3};
}

void AppendRun(std::vector<ReplayRun>& runs, uint32_t value) {
  if (!runs.empty() && runs.back().value == value && runs.back().count < UINT32_MAX) {
    ++runs.back().count;
  } else {
    runs.push_back({value, 1});
  }
}

namespace {

// ===========================================================================
// The random generator's state
// ===========================================================================

// The C library's generator keeps its state in a table of its own; initstate and
// setstate (POSIX) switch between tables. The game uses the default table, whose bytes
// (a word of position and type, then 31 words of state) are the whole generator.
constexpr size_t kRandomStateBytes = 128;
constexpr int32_t kRandomStateType = 3;   // the library's type of a 128-byte table
constexpr int32_t kRandomStateWords = 31; // its degree
constexpr int32_t kRandomTypes = 5;       // the library codes position * 5 + type

char scratchState[kRandomStateBytes];

std::vector<unsigned char> SaveRandomState() {
  // Switching away makes the library write the default table's position into it.
  char* table = initstate(1, scratchState, sizeof scratchState);
  std::vector<unsigned char> state(table, table + kRandomStateBytes);
  setstate(table);
  return state;
}

// Whether the header word names a table the library can go on from.
bool UsableRandomState(const std::vector<unsigned char>& state) {
  if (state.size() != kRandomStateBytes) return false;
  int32_t head = 0;
  std::memcpy(&head, state.data(), sizeof head);
  return head >= 0 && head % kRandomTypes == kRandomStateType && head / kRandomTypes < kRandomStateWords;
}

void RestoreRandomState(const std::vector<unsigned char>& state) {
  if (!UsableRandomState(state)) return;
  char* table = initstate(1, scratchState, sizeof scratchState);
  std::memcpy(table, state.data(), kRandomStateBytes);
  setstate(table);
}

// ===========================================================================
// Recording and playing back
// ===========================================================================

// Reads a list of runs value by value.
struct RunCursor {
  const std::vector<ReplayRun>* runs = nullptr;
  size_t index = 0;
  uint32_t used = 0;  // values taken from runs[index]

  bool Next(uint32_t& value) {
    while (runs != nullptr && index < runs->size() && used >= (*runs)[index].count) {
      ++index;
      used = 0;
    }
    if (runs == nullptr || index >= runs->size()) return false;
    value = (*runs)[index].value;
    ++used;
    return true;
  }
};

uint64_t TotalCount(const std::vector<ReplayRun>& runs) {
  uint64_t total = 0;
  for (const ReplayRun& run : runs) total += run.count;
  return total;
}

enum class Source { Devices, Replay };

// Everything the module keeps about the game being played.
struct Session {
  bool inGame = false;
  Source source = Source::Devices;
  bool paced = true;      // ticks come at the 60 Hz timer's pace
  bool watched = false;   // a replay shown to the player: the mark and timed level screens
  const char* mark = "REPLAY";  // the mark over a watched replay's frames
  bool (*stop)() = nullptr;     // asked with every check for a quit; true ends the playback
  Replay playback;        // the replay being played back
  bool playbackHasState = false;
  RunCursor frameCursor;
  RunCursor controlCursor[2];
  uint64_t playbackFrames = 0;  // frames in the replay
  uint64_t framesOpened = 0;    // frames begun in this game
  bool frameOpen = false;
  uint32_t frameTicks = 0;      // ticks run in the open frame
  uint32_t ticksLeft = 0;       // playing back: ticks still to run in the open frame
  Replay record;                // the game as it is played
  ReplaySummary replayed;       // how the last game ended
};
Session session;

// Room reserved as a game begins, so that recording a game of ordinary length never
// allocates during a tick (runs).
constexpr size_t kReservedRuns = 16384;

// Until the game played back has returned (its time-up screen included).
bool FromReplay() { return session.source == Source::Replay; }

void OpenFrame() {
  session.frameOpen = true;
  session.frameTicks = 0;
  ++session.framesOpened;
  if (!FromReplay()) return;
  uint32_t ticks = 0;
  session.ticksLeft = session.frameCursor.Next(ticks) ? ticks : 0;
}

void CloseFrame() {
  session.frameOpen = false;
  if (session.inGame) AppendRun(session.record.frames, session.frameTicks);
}

bool StopAsked() { return FromReplay() && session.stop != nullptr && session.stop(); }

bool PlayerQuits() { return key[KEY_ESC] || quitnow || StopAsked(); }

// A watched replay ticks at the timer's pace: it waits for each tick to come.
bool PlaybackTickDue() {
  if (session.ticksLeft == 0) return false;
  if (!session.paced) return true;
  while (logic_time == 0) {
    if (PlayerQuits()) return false;
    rest(1);
  }
  return true;
}

constexpr const char* kUnreadableSuffix = ".unreadable";
constexpr int kWatchedScreenMs = 2000;  // a watched replay's level screens (milliseconds)
constexpr int kMarkInset = 30;          // the mark's distance from the top-left corner (pixels)

// ===========================================================================
// The file
// ===========================================================================

constexpr size_t kMagicBytes = sizeof kReplayMagic - 1;
constexpr uint32_t kMaxFrameTicks = 1 << 20;  // a frame longer than this is not a game's
constexpr uint32_t kMaxControlsCode = 5;
constexpr int kOldestFormatVersion = 1;
constexpr uint32_t kLastRandomSource = 1;

// --- What a game of T ticks can hold ----------------------------------------
//
// Frames. After every frame of play the loop waits until a tick is pending, so the
// next frame runs at least one, unless something threw the pending ticks away in
// between: the start of a level (its clock starts from zero: one frame per level) and
// the end of a pause (the time paused is not made up: one frame per pause, and a pause
// needs a key press, P or Pause or a pad's Start, to end). Paused frames are not kept.
// So the frames that run no tick are about one per level and one per pause; we allow
// one per level screen, one per tick played (a pause more often than 60 times a second
// of play is no one's game) and kSpareIdleFrames besides. Every other frame runs at
// least one tick, so the frames number at most twice the ticks and a little more.
constexpr uint64_t kSpareIdleFrames = 1000;
// Readings. Each tick reads each player's controls once for the banana and once for
// every CRAZY extra; a player's streak, and so the extras, is made of one level's
// flies at most.
constexpr uint64_t kMaxReadingsPerTick = 1 + kMaxFlies / kCrazyExtrasPerStreak + kCrazyExtrasBase;
// Levels. Every level before the last was cleared, which takes a tick at least (its
// flies die only in ticks); each level shows at most two screens ("Level N", then
// "Level N clear!" or the time-up screen).
constexpr uint64_t kMaxScreensPerLevel = 2;
// The body, as packed numbers: a frame's run takes at most 3 bytes for its ticks and 5
// for its count, a reading's run 1 and 5, each list's length 10.
constexpr uint64_t kMaxFrameRunBytes = 8;
constexpr uint64_t kMaxReadingRunBytes = 6;
constexpr uint64_t kMaxListHeadBytes = 3 * 10;
// And whatever the ticks, never more than this (ten minutes of two busy players
// unpack to some 25 KB: this is many hours of play), so that reading a file and
// checking it hold a few times this at most.
constexpr uint64_t kMaxBodyBytes = 4 << 20;

// What a game of `ticks` ticks that showed `levelScreens` level screens can hold.
struct GameBounds {
  uint64_t idleFrames;  // frames that run no tick
  uint64_t readings;    // control readings of one player
  uint64_t bodyBytes;   // the unpacked body
};

GameBounds BoundsFor(uint64_t ticks, uint64_t levelScreens, int players) {
  GameBounds bounds;
  bounds.idleFrames = levelScreens + ticks + kSpareIdleFrames;
  bounds.readings = kMaxReadingsPerTick * ticks;
  const uint64_t frames = ticks + bounds.idleFrames;
  bounds.bodyBytes = std::min(kMaxBodyBytes, kMaxListHeadBytes + kMaxFrameRunBytes * frames +
                                                 kMaxReadingRunBytes * bounds.readings * players);
  return bounds;
}

void PutU8(std::string& out, uint32_t v) { out.push_back(static_cast<char>(v & 0xff)); }
void PutU16(std::string& out, uint32_t v) {
  PutU8(out, v);
  PutU8(out, v >> 8);
}
void PutU32(std::string& out, uint32_t v) {
  PutU16(out, v);
  PutU16(out, v >> 16);
}
void PutNumber(std::string& out, uint64_t v) {  // LEB128
  while (v >= 0x80) {
    PutU8(out, static_cast<uint32_t>(v & 0x7f) | 0x80);
    v >>= 7;
  }
  PutU8(out, static_cast<uint32_t>(v));
}
void PutRuns(std::string& out, const std::vector<ReplayRun>& runs) {
  PutNumber(out, runs.size());
  for (const ReplayRun& run : runs) {
    PutNumber(out, run.value);
    PutNumber(out, run.count);
  }
}

// Reads what a file holds, never past its end.
struct Reader {
  const unsigned char* data;
  size_t size;
  size_t at = 0;
  bool ok = true;

  bool Take(size_t n) {
    if (!ok || size - at < n) return ok = false;
    at += n;
    return true;
  }
  uint32_t U8() { return Take(1) ? data[at - 1] : 0; }
  uint32_t U16() {
    const uint32_t lo = U8();
    return lo | U8() << 8;
  }
  uint32_t U32() {
    const uint32_t lo = U16();
    return lo | U16() << 16;
  }
  uint64_t U64() {
    const uint64_t lo = U32();
    return lo | static_cast<uint64_t>(U32()) << 32;
  }
  std::string Bytes(size_t n) {
    if (!Take(n)) return {};
    return std::string(reinterpret_cast<const char*>(data + at - n), n);
  }
  uint64_t Number() {
    uint64_t v = 0;
    for (int shift = 0; shift < 64; shift += 7) {
      const uint32_t byte = U8();
      if (!ok) return 0;
      v |= static_cast<uint64_t>(byte & 0x7f) << shift;
      if ((byte & 0x80) == 0) return v;
    }
    ok = false;
    return 0;
  }
  // A list of runs, each value at most `maxValue` and each count at least 1; no more
  // runs than `maxRuns`.
  bool Runs(std::vector<ReplayRun>& runs, uint32_t maxValue, uint64_t maxRuns) {
    const uint64_t n = Number();
    if (!ok || n > (size - at) / 2 || n > maxRuns) return ok = false;  // a run takes two bytes at least
    runs.clear();
    runs.reserve(n);
    for (uint64_t i = 0; i < n && ok; ++i) {
      const uint64_t value = Number();
      const uint64_t count = Number();
      if (value > maxValue || count == 0 || count > UINT32_MAX) return ok = false;
      runs.push_back({static_cast<uint32_t>(value), static_cast<uint32_t>(count)});
    }
    return ok;
  }
};

// Unpacks a zlib stream that must come to exactly `size` bytes. The room grows with
// what actually comes out, so a size claimed but not there costs nothing.
bool Unpack(const std::string& packed, uint32_t size, std::string& body) {
  z_stream stream{};
  if (inflateInit(&stream) != Z_OK) return false;
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed.data()));
  stream.avail_in = static_cast<uInt>(packed.size());
  unsigned char chunk[16384];
  int status = Z_OK;
  while (status == Z_OK && body.size() <= size) {
    stream.next_out = chunk;
    stream.avail_out = sizeof chunk;
    status = inflate(&stream, Z_NO_FLUSH);
    if (status == Z_BUF_ERROR && stream.avail_out == sizeof chunk) break;  // no progress: cut short
    body.append(reinterpret_cast<char*>(chunk), sizeof chunk - stream.avail_out);
  }
  inflateEnd(&stream);
  return status == Z_STREAM_END && stream.avail_in == 0 && body.size() == size;
}

std::string Body(const Replay& replay) {
  std::string body;
  PutRuns(body, replay.frames);
  PutRuns(body, replay.controls[0]);
  PutRuns(body, replay.controls[1]);
  return body;
}

bool Fail(std::string& error, std::string reason) {
  error = std::move(reason);
  return false;
}

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

std::string SummaryText(const ReplaySummary& s) {
  return "level " + std::to_string(s.level) + ", P1 " + std::to_string(s.p1Score) + ", P2 " +
         std::to_string(s.p2Score) + ", " + std::to_string(s.ticks) + " ticks";
}

bool SameEnd(const ReplaySummary& a, const ReplaySummary& b) {
  return a.level == b.level && a.p1Score == b.p1Score && a.p2Score == b.p2Score && a.ticks == b.ticks &&
         a.timeUp == b.timeUp && a.endState == b.endState;
}

// Where everything that moves was when the game ended, as one number: a replay that
// ends with the same scores but anything elsewhere moved otherwise does not match.
uint32_t EndStateOf(const Game& game) {
  std::vector<double> values;
  for (const Player* player : {&game.p1, &game.p2}) {
    const Nana& nana = player->nana;
    values.insert(values.end(), {nana.pos.x, nana.pos.y, nana.vel.x, nana.vel.y, nana.angle, nana.spin,
                                 nana.squash, static_cast<double>(nana.state)});
    for (const Nana& extra : player->extras) values.insert(values.end(), {extra.pos.x, extra.pos.y});
    values.insert(values.end(), {static_cast<double>(player->streak), static_cast<double>(player->crazy)});
  }
  for (const Fly& fly : game.flies) values.insert(values.end(), {fly.pos.x, fly.pos.y, fly.vel.x, fly.vel.y});
  values.push_back(game.timeLeft);
  return static_cast<uint32_t>(crc32(0L, reinterpret_cast<const Bytef*>(values.data()),
                                     static_cast<uInt>(values.size() * sizeof(double))));
}

void StartPlayback(const Replay& replay, bool paced, bool watched) {
  session.source = Source::Replay;
  session.paced = paced;
  session.watched = watched;
  session.playback = replay;
  session.playbackHasState = !replay.randomState.empty();
}

// Feeds a picture's size and mask into a CRC-32: which pixels are drawn and which are
// the mask colour, row by row, one bit each. Nothing without a picture but its absence.
uLong FingerprintPicture(uLong crc, BITMAP* picture) {
  unsigned char head[8] = {};
  if (picture != nullptr) {
    for (int i = 0; i < 4; ++i) {
      head[i] = static_cast<unsigned char>(picture->w >> (8 * i));
      head[4 + i] = static_cast<unsigned char>(picture->h >> (8 * i));
    }
  }
  crc = crc32(crc, head, sizeof head);
  if (picture == nullptr) return crc;
  const int mask = bitmap_mask_color(picture);
  for (int y = 0; y < picture->h; ++y) {
    unsigned char bits = 0;
    for (int x = 0; x < picture->w; ++x) {
      bits = static_cast<unsigned char>(bits << 1 | (getpixel(picture, x, y) == mask ? 1 : 0));
      if (x % 8 == 7 || x == picture->w - 1) {
        crc = crc32(crc, &bits, 1);
        bits = 0;
      }
    }
  }
  return crc;
}

BITMAP* PictureOf(const Image* image) { return image != nullptr ? image->bitmap : nullptr; }

}  // namespace

uint32_t MediaFingerprint(BITMAP* banana, BITMAP* fly1, BITMAP* fly2) {
  uLong crc = crc32(0L, Z_NULL, 0);
  for (BITMAP* picture : {banana, fly1, fly2}) crc = FingerprintPicture(crc, picture);
  return crc != 0 ? static_cast<uint32_t>(crc) : 1;  // 0 stands for "unknown"
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

// ===========================================================================
// The file
// ===========================================================================

std::string EncodeReplay(const Replay& replay) {
  std::string out(kReplayMagic, kMagicBytes);
  PutU16(out, kReplayFormatVersion);
  PutU8(out, static_cast<uint32_t>(replay.players));
  PutU8(out, replay.summary.timeUp ? 1 : 0);
  const std::string version = replay.gameVersion.substr(0, 255);
  PutU8(out, static_cast<uint32_t>(version.size()));
  out += version;
  PutU16(out, static_cast<uint32_t>(replay.randomState.size()));
  out.append(replay.randomState.begin(), replay.randomState.end());
  PutU32(out, replay.mediaFingerprint);
  PutU8(out, replay.randomSource);
  PutU32(out, static_cast<uint32_t>(replay.seed));
  PutU32(out, static_cast<uint32_t>(replay.seed >> 32));
  PutU8(out, replay.mathRevision);
  PutU32(out, static_cast<uint32_t>(replay.summary.level));
  PutU32(out, static_cast<uint32_t>(replay.summary.p1Score));
  PutU32(out, static_cast<uint32_t>(replay.summary.p2Score));
  PutU32(out, static_cast<uint32_t>(replay.summary.ticks));
  PutU32(out, replay.levelScreens);
  PutU32(out, replay.summary.endState);

  const std::string body = Body(replay);
  uLongf packedSize = compressBound(body.size());
  std::string packed(packedSize, '\0');
  compress2(reinterpret_cast<Bytef*>(&packed[0]), &packedSize, reinterpret_cast<const Bytef*>(body.data()),
            body.size(), Z_BEST_COMPRESSION);
  packed.resize(packedSize);
  PutU32(out, static_cast<uint32_t>(body.size()));
  PutU32(out, static_cast<uint32_t>(packed.size()));
  out += packed;
  PutU32(out, crc32(0L, reinterpret_cast<const Bytef*>(out.data()), out.size()));
  return out;
}

bool DecodeReplay(const std::string& bytes, Replay& replay, std::string& error) {
  replay = Replay();
  if (bytes.size() < kMagicBytes || bytes.compare(0, kMagicBytes, kReplayMagic) != 0) {
    return Fail(error, "not a replay (wrong magic)");
  }
  Reader in{reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()};
  in.Take(kMagicBytes);
  const uint32_t format = in.U16();
  if (in.ok && (format < kOldestFormatVersion || format > kReplayFormatVersion)) {
    return Fail(error, "unknown replay format version");
  }
  if (bytes.size() > kMaxReplayFileBytes) return Fail(error, "too large for a replay");
  if (bytes.size() < kMagicBytes + 4 + 4) return Fail(error, "truncated");
  const size_t end = bytes.size() - 4;
  Reader tail{in.data, bytes.size(), end};
  const uint32_t crc = tail.U32();
  if (crc != crc32(0L, in.data, static_cast<uInt>(end))) return Fail(error, "corrupt or truncated (checksum)");
  in.size = end;

  replay.players = static_cast<int>(in.U8());
  replay.summary.timeUp = in.U8() != 0;
  replay.gameVersion = in.Bytes(in.U8());
  const std::string state = in.Bytes(in.U16());
  replay.randomState.assign(state.begin(), state.end());
  if (format >= 2) {
    replay.mediaFingerprint = in.U32();
    replay.randomSource = static_cast<uint8_t>(in.U8());
    replay.seed = in.U64();
    replay.mathRevision = static_cast<uint8_t>(in.U8());
  }
  const uint32_t level = in.U32();
  const uint32_t p1 = in.U32();
  const uint32_t p2 = in.U32();
  const uint32_t ticks = in.U32();
  replay.levelScreens = in.U32();
  replay.summary.endState = in.U32();
  const uint32_t bodySize = in.U32();
  const uint32_t packedSize = in.U32();
  const std::string packed = in.Bytes(packedSize);
  if (!in.ok || in.at != in.size) return Fail(error, "corrupt (header)");
  if (replay.players != 1 && replay.players != 2) return Fail(error, "corrupt (players)");
  if (replay.randomSource > kLastRandomSource) return Fail(error, "corrupt (random source)");
  // The game's own generator needs no state of the C library's; a state given is sound.
  const bool stateNeeded = replay.randomSource == 0 || !replay.randomState.empty();
  if (stateNeeded && !UsableRandomState(replay.randomState)) return Fail(error, "corrupt (random state)");
  if (level < 1 || level > INT_MAX || p1 > INT_MAX || p2 > INT_MAX || ticks > INT_MAX) {
    return Fail(error, "corrupt (summary)");
  }
  replay.summary.level = static_cast<int>(level);
  replay.summary.p1Score = static_cast<int>(p1);
  replay.summary.p2Score = static_cast<int>(p2);
  replay.summary.ticks = ticks;

  // Only as much as a game of this length could hold is read any further.
  const std::string length = "; a game of " + std::to_string(ticks) + " ticks";
  if (level - 1 > ticks) {
    return Fail(error, "corrupt (level " + std::to_string(level) + " cannot be reached in " +
                           std::to_string(ticks) + " ticks)");
  }
  if (replay.levelScreens > kMaxScreensPerLevel * level) {
    return Fail(error, "corrupt (" + std::to_string(replay.levelScreens) + " level screens for a game that reached level " +
                           std::to_string(level) + ")");
  }
  const GameBounds bounds = BoundsFor(ticks, replay.levelScreens, replay.players);
  if (bodySize > bounds.bodyBytes) {
    return Fail(error, "too long (a body of " + std::to_string(bodySize) + " bytes" + length + " takes at most " +
                           std::to_string(bounds.bodyBytes) + ")");
  }
  std::string body;
  if (!Unpack(packed, bodySize, body)) return Fail(error, "corrupt (body)");
  Reader runs{reinterpret_cast<const unsigned char*>(body.data()), body.size()};
  runs.Runs(replay.frames, kMaxFrameTicks, ticks + bounds.idleFrames);
  runs.Runs(replay.controls[0], kMaxControlsCode, bounds.readings);
  runs.Runs(replay.controls[1], kMaxControlsCode, bounds.readings);
  if (!runs.ok || runs.at != runs.size) return Fail(error, "corrupt (body)");
  uint64_t played = 0;
  uint64_t idle = 0;
  for (const ReplayRun& run : replay.frames) {
    played += static_cast<uint64_t>(run.value) * run.count;
    if (run.value == 0) idle += run.count;
  }
  if (played != ticks) return Fail(error, "corrupt (frames and ticks disagree)");
  if (idle > bounds.idleFrames) {
    return Fail(error, "too long (" + std::to_string(idle) + " frames that run no tick" + length + " has at most " +
                           std::to_string(bounds.idleFrames) + ")");
  }
  for (int p = 0; p < 2; ++p) {
    const uint64_t readings = TotalCount(replay.controls[p]);
    if (readings > bounds.readings) {
      return Fail(error, "too long (" + std::to_string(readings) + " control readings of player " + std::to_string(p + 1) +
                             length + " has at most " + std::to_string(bounds.readings) + ")");
    }
  }
  if (replay.players == 1 && !replay.controls[1].empty()) return Fail(error, "corrupt (player 2)");
  return true;
}

namespace {

// Reads `fd` to its end, refusing anything longer than a replay can be.
bool ReadBounded(int fd, std::string& bytes, std::string& error) {
  bytes.clear();
  char chunk[65536];
  for (;;) {
    const ssize_t n = read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Fail(error, std::strerror(errno));
    if (n == 0) return true;
    bytes.append(chunk, static_cast<size_t>(n));
    if (bytes.size() > kMaxReplayFileBytes) return Fail(error, "too large for a replay");
  }
}

}  // namespace

bool LoadReplay(const std::string& path, Replay& replay, std::string& error) {
  std::string bytes;
  if (path == "-") {
    if (!ReadBounded(STDIN_FILENO, bytes, error)) return false;
  } else {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return Fail(error, std::strerror(errno));
    const bool read = ReadBounded(fd, bytes, error);
    close(fd);
    if (!read) return false;
  }
  return DecodeReplay(bytes, replay, error);
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

// ===========================================================================
// What game play calls
// ===========================================================================

void BeginGameRecord(bool twoPlayer) {
  session.inGame = true;
  session.frameOpen = false;
  session.framesOpened = 0;
  if (session.source == Source::Replay) {
    if (session.playbackHasState) RestoreRandomState(session.playback.randomState);
    session.frameCursor = RunCursor{&session.playback.frames};
    session.controlCursor[0] = RunCursor{&session.playback.controls[0]};
    session.controlCursor[1] = RunCursor{&session.playback.controls[1]};
    session.playbackFrames = TotalCount(session.playback.frames);
  }
  Replay& record = session.record;
  record = Replay();
  record.players = twoPlayer ? 2 : 1;
  record.gameVersion = NANASPLAT_VERSION;
  record.mediaFingerprint =
      MediaFingerprint(PictureOf(gameImages.banana1), PictureOf(gameImages.fly1), PictureOf(gameImages.fly2));
  record.randomState = SaveRandomState();
  record.frames.reserve(kReservedRuns);
  record.controls[0].reserve(kReservedRuns);
  record.controls[1].reserve(twoPlayer ? kReservedRuns : 0);
}

uint8_t GameMathRevision(uint8_t fresh) { return FromReplay() ? session.playback.mathRevision : fresh; }

void FinishGameRecord(const Game& game, LevelEnd end, const char* reason) {
  if (!session.inGame) return;
  session.inGame = false;
  Replay& record = session.record;
  record.mathRevision = game.mathRevision;
  ReplaySummary& summary = record.summary;
  summary.level = game.level;
  summary.p1Score = game.p1.score;
  summary.p2Score = game.twoPlayer ? game.p2.score : 0;
  summary.ticks = 0;
  for (const ReplayRun& run : record.frames) summary.ticks += static_cast<int64_t>(run.value) * run.count;
  summary.timeUp = end == LevelEnd::TimeUp;
  summary.endState = EndStateOf(game);
  session.replayed = summary;
  LOG("Game over (", reason != nullptr ? reason : summary.timeUp ? "time up" : "quit", "): ",
      SummaryText(summary));
  if (session.source == Source::Devices) WriteGameRecord(record);
}

void SetGameRecordRandom(uint8_t randomSource, uint64_t seed) {
  session.record.randomSource = randomSource;
  session.record.seed = seed;
}

void RecordTick(const TickControls& controls) {
  if (!session.inGame) return;
  Replay& record = session.record;
  AppendRun(record.frames, 1);
  for (int p = 0; p < record.players; ++p) {
    for (int i = 0; i < controls.count[p]; ++i) AppendRun(record.controls[p], ControlsCode(controls.readings[p][i]));
  }
}

bool PlaybackOwnRandom(uint64_t& seed) {
  if (!FromReplay() || session.playback.randomSource != 1) return false;
  seed = session.playback.seed;
  return true;
}

void CountLevelScreen() {
  if (session.inGame) ++session.record.levelScreens;
}

Controls ReplayControls(int player, Controls (*live)(int player)) {
  const int index = player == 2 ? 1 : 0;
  Controls controls{0, false};
  if (FromReplay()) {
    uint32_t code = 0;
    if (session.controlCursor[index].Next(code)) controls = ControlsFromCode(code);
  } else {
    controls = live(player);
  }
  if (session.inGame) AppendRun(session.record.controls[index], ControlsCode(controls));
  return controls;
}

// Frames drawn while paused are not recorded and need not be: a paused frame runs no
// tick and draws no random number (it shows the picture kept when the pause began), so
// the game goes on after a pause exactly as if there had been none.
bool TickDue() {
  if (!session.frameOpen) OpenFrame();
  const bool due = FromReplay() ? PlaybackTickDue() : logic_time > 0;
  if (!due) CloseFrame();
  return due;
}

void TickDone() {
  if (FromReplay()) {
    --session.ticksLeft;
    if (session.paced && logic_time > 0) --logic_time;
  } else {
    --logic_time;
  }
  ++session.frameTicks;
}

bool NextTickArrived() { return (FromReplay() && !session.paced) || logic_time != 0; }

void WaitAtLevelScreen(BITMAP* backbuffer, void (*live)(), void (*watching)()) {
  if (session.inGame) ++session.record.levelScreens;
  if (!FromReplay()) {
    live();
    return;
  }
  if (!session.watched) return;
  DrawReplayMark(backbuffer);
  blit(backbuffer, screen, 0, 0, 0, 0, SCREEN_W, SCREEN_H);
  for (int waited = 0; waited < kWatchedScreenMs && !PlayerQuits(); waited += 10) {
    watching();
    rest(10);
  }
}

void DrawReplayMark(BITMAP* buffer) {
  if (!FromReplay() || !session.watched) return;
  textprintf_ex(buffer, Font(), kMarkInset, kMarkInset / 3, makecol(255, 0, 0), -1, "%s", session.mark);
}

bool ReplayShowsFrames() { return !FromReplay() || session.paced; }

bool ReplayReachedItsEnd() {
  if (!FromReplay()) return false;
  if (StopAsked()) return true;
  if (session.framesOpened > session.playbackFrames) return true;  // played past its end
  return session.framesOpened == session.playbackFrames &&
         session.record.levelScreens >= session.playback.levelScreens;
}

bool PlayingBack() { return FromReplay(); }

// ===========================================================================
// Watching and checking
// ===========================================================================

int RunReplay(ReplayMode mode, const Replay& replay, const std::function<void(bool twoPlayer)>& playGame,
              bool (*stop)()) {
  const bool check = mode == ReplayMode::Check;
  StartPlayback(replay, !check, !check);
  session.mark = mode == ReplayMode::Demo ? "DEMO" : "REPLAY";
  session.stop = stop;
  LOG(check ? "Checking the replay" : "Playing back the replay", " of ", SummaryText(replay.summary));
  if (!check) StartSound();  // a watched game sounds as it did (M and --mute as in play)
  session.replayed = ReplaySummary();
  playGame(replay.players == 2);
  StopPlayingBack();
  if (!check) return 0;
  const bool matches = SameEnd(replay.summary, session.replayed);
  std::string line = "replay: " + SummaryText(replay.summary) + (matches ? ": matches" : ": differs");
  if (!matches) {
    line += " (replayed: " + SummaryText(session.replayed);
    if (replay.summary.timeUp != session.replayed.timeUp) {
      line += session.replayed.timeUp ? ", time up" : ", quit";
    }
    if (replay.summary.endState != session.replayed.endState) line += ", bananas and flies elsewhere";
    const std::string origin = ReplayOrigin(replay, session.record);
    if (!origin.empty()) line += "; " + origin;
    line += ")";
  }
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
  return matches ? 0 : 1;
}

const Replay& LastGameRecord() { return session.record; }

void PlayNextGameFrom(const Replay& script) { StartPlayback(script, false, false); }

void StopPlayingBack() {
  session.source = Source::Devices;
  session.paced = true;
  session.watched = false;
  session.mark = "REPLAY";
  session.stop = nullptr;
}
