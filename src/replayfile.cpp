// SPDX-License-Identifier: GPL-3.0-or-later
#include "replayfile.h"

#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include "sim/game.h"
#include "sim/random.h"

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

bool ReplayRunCursor::Next(uint32_t& value) {
  while (runs != nullptr && index < runs->size() && used >= (*runs)[index].count) {
    ++index;
    used = 0;
  }
  if (runs == nullptr || index >= runs->size()) return false;
  value = (*runs)[index].value;
  ++used;
  return true;
}

uint64_t TotalCount(const std::vector<ReplayRun>& runs) {
  uint64_t total = 0;
  for (const ReplayRun& run : runs) total += run.count;
  return total;
}

uint64_t PlayedTicks(const std::vector<ReplayRun>& frames) {
  uint64_t ticks = 0;
  for (const ReplayRun& run : frames) ticks += static_cast<uint64_t>(run.value) * run.count;
  return ticks;
}

namespace {

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

// `bytes` bytes of `v`, little-endian.
void PutLE(std::string& out, uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>(v >> (8 * i) & 0xff));
}
void PutNumber(std::string& out, uint64_t v) {  // LEB128
  for (; v >= 0x80; v >>= 7) out.push_back(static_cast<char>((v & 0x7f) | 0x80));
  out.push_back(static_cast<char>(v));
}
void PutRuns(std::string& out, const std::vector<ReplayRun>& runs) {
  PutNumber(out, runs.size());
  for (const ReplayRun& run : runs) {
    PutNumber(out, run.value);
    PutNumber(out, run.count);
  }
}

// Reads what a file holds, never past its end; past it, every value is 0 and `ok` false.
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
  uint64_t LE(size_t bytes) {  // little-endian
    uint64_t v = 0;
    if (!Take(bytes)) return 0;
    for (size_t i = 0; i < bytes; ++i) v |= static_cast<uint64_t>(data[at - bytes + i]) << (8 * i);
    return v;
  }
  uint32_t U8() { return static_cast<uint32_t>(LE(1)); }
  uint32_t U16() { return static_cast<uint32_t>(LE(2)); }
  uint32_t U32() { return static_cast<uint32_t>(LE(4)); }
  std::string Bytes(size_t n) {
    if (!Take(n)) return {};
    return std::string(reinterpret_cast<const char*>(data + at - n), n);
  }
  uint64_t Number() {  // LEB128, of 64 bits at most
    uint64_t v = 0;
    for (int shift = 0; shift < 64 && ok; shift += 7) {
      const uint32_t byte = U8();
      v |= static_cast<uint64_t>(byte & 0x7f) << shift;
      if (ok && (byte & 0x80) == 0) return v;
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

const unsigned char* Data(const std::string& bytes) { return reinterpret_cast<const unsigned char*>(bytes.data()); }

bool Fail(std::string& error, std::string reason) {
  error = std::move(reason);
  return false;
}

// "too long (`what`; a game of T ticks `verb` at most `most`)".
bool TooLong(std::string& error, const std::string& what, uint32_t ticks, const char* verb, uint64_t most) {
  return Fail(error, "too long (" + what + "; a game of " + std::to_string(ticks) + " ticks " + verb + " at most " +
                         std::to_string(most) + ")");
}

// The magic, the format's version (into `format`), the size and the checksum.
bool CheckWholeFile(const std::string& bytes, uint32_t& format, std::string& error) {
  if (bytes.size() < kMagicBytes || bytes.compare(0, kMagicBytes, kReplayMagic) != 0) {
    return Fail(error, "not a replay (wrong magic)");
  }
  Reader in{Data(bytes), bytes.size(), kMagicBytes};
  format = in.U16();
  if (in.ok && (format < kOldestFormatVersion || format > kReplayFormatVersion)) {
    return Fail(error, "unknown replay format version");
  }
  if (bytes.size() > kMaxReplayFileBytes) return Fail(error, "too large for a replay");
  if (bytes.size() < kMagicBytes + 4 + 4) return Fail(error, "truncated");
  const size_t end = bytes.size() - 4;
  Reader tail{in.data, bytes.size(), end};
  if (tail.U32() != crc32(0L, in.data, static_cast<uInt>(end))) return Fail(error, "corrupt or truncated (checksum)");
  return true;
}

// Only as much as a game of `ticks` ticks could hold is read: its levels, its level
// screens, then its lists of runs.
bool ReadWithinBounds(const std::string& packed, uint32_t bodySize, uint32_t ticks, Replay& replay,
                      std::string& error) {
  const uint32_t level = static_cast<uint32_t>(replay.summary.level);
  if (level - 1 > ticks) {
    return Fail(error, "corrupt (level " + std::to_string(level) + " cannot be reached in " + std::to_string(ticks) +
                           " ticks)");
  }
  if (replay.levelScreens > kMaxScreensPerLevel * level) {
    return Fail(error, "corrupt (" + std::to_string(replay.levelScreens) +
                           " level screens for a game that reached level " + std::to_string(level) + ")");
  }
  const GameBounds bounds = BoundsFor(ticks, replay.levelScreens, replay.players);
  if (bodySize > bounds.bodyBytes) {
    return TooLong(error, "a body of " + std::to_string(bodySize) + " bytes", ticks, "takes", bounds.bodyBytes);
  }
  std::string body;
  if (!Unpack(packed, bodySize, body)) return Fail(error, "corrupt (body)");
  Reader runs{Data(body), body.size()};
  runs.Runs(replay.frames, kMaxFrameTicks, ticks + bounds.idleFrames);
  runs.Runs(replay.controls[0], kMaxControlsCode, bounds.readings);
  runs.Runs(replay.controls[1], kMaxControlsCode, bounds.readings);
  if (!runs.ok || runs.at != runs.size) return Fail(error, "corrupt (body)");
  if (PlayedTicks(replay.frames) != ticks) return Fail(error, "corrupt (frames and ticks disagree)");
  uint64_t idle = 0;
  for (const ReplayRun& run : replay.frames) idle += run.value == 0 ? run.count : 0;
  if (idle > bounds.idleFrames) {
    return TooLong(error, std::to_string(idle) + " frames that run no tick", ticks, "has", bounds.idleFrames);
  }
  for (int p = 0; p < 2; ++p) {
    const uint64_t readings = TotalCount(replay.controls[p]);
    if (readings > bounds.readings) {
      return TooLong(error, std::to_string(readings) + " control readings of player " + std::to_string(p + 1), ticks,
                     "has", bounds.readings);
    }
  }
  if (replay.players == 1 && !replay.controls[1].empty()) return Fail(error, "corrupt (player 2)");
  return true;
}

// Reads `fd` to its end, refusing anything longer than `most` bytes.
bool ReadBounded(int fd, size_t most, std::string& bytes, std::string& error) {
  char chunk[65536];
  for (;;) {
    const ssize_t n = read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Fail(error, std::strerror(errno));
    if (n == 0) return true;
    bytes.append(chunk, static_cast<size_t>(n));
    if (bytes.size() > most) return Fail(error, "too large for a replay");
  }
}

}  // namespace

std::string EncodeReplay(const Replay& replay) {
  std::string out(kReplayMagic, kMagicBytes);
  PutLE(out, kReplayFormatVersion, 2);
  PutLE(out, static_cast<uint32_t>(replay.players), 1);
  PutLE(out, replay.summary.timeUp ? 1 : 0, 1);
  const std::string version = replay.gameVersion.substr(0, 255);
  PutLE(out, version.size(), 1);
  out += version;
  PutLE(out, replay.randomState.size(), 2);
  out.append(replay.randomState.begin(), replay.randomState.end());
  PutLE(out, replay.mediaFingerprint, 4);
  PutLE(out, replay.randomSource, 1);
  PutLE(out, replay.seed, 8);
  PutLE(out, replay.mathRevision, 1);
  const ReplaySummary& s = replay.summary;
  for (const uint32_t v : {static_cast<uint32_t>(s.level), static_cast<uint32_t>(s.p1Score),
                           static_cast<uint32_t>(s.p2Score), static_cast<uint32_t>(s.ticks), replay.levelScreens,
                           s.endState}) {
    PutLE(out, v, 4);
  }
  std::string body;
  for (const auto* runs : {&replay.frames, &replay.controls[0], &replay.controls[1]}) PutRuns(body, *runs);
  uLongf packedSize = compressBound(body.size());
  std::string packed(packedSize, '\0');
  compress2(reinterpret_cast<Bytef*>(&packed[0]), &packedSize, Data(body), body.size(), Z_BEST_COMPRESSION);
  packed.resize(packedSize);
  PutLE(out, body.size(), 4);
  PutLE(out, packed.size(), 4);
  out += packed;
  PutLE(out, crc32(0L, Data(out), static_cast<uInt>(out.size())), 4);
  return out;
}

bool DecodeReplay(const std::string& bytes, Replay& replay, std::string& error) {
  replay = Replay();
  uint32_t format = 0;
  if (!CheckWholeFile(bytes, format, error)) return false;
  Reader in{Data(bytes), bytes.size() - 4, kMagicBytes + 2};
  ReplaySummary& summary = replay.summary;
  replay.players = static_cast<int>(in.U8());
  summary.timeUp = in.U8() != 0;
  replay.gameVersion = in.Bytes(in.U8());
  const std::string state = in.Bytes(in.U16());
  replay.randomState.assign(state.begin(), state.end());
  if (format >= 2) {
    replay.mediaFingerprint = in.U32();
    replay.randomSource = static_cast<uint8_t>(in.U8());
    replay.seed = in.LE(8);
    replay.mathRevision = static_cast<uint8_t>(in.U8());
  }
  summary.level = static_cast<int>(in.U32());  // each checked below
  summary.p1Score = static_cast<int>(in.U32());
  summary.p2Score = static_cast<int>(in.U32());
  summary.ticks = in.U32();
  replay.levelScreens = in.U32();
  summary.endState = in.U32();
  const uint32_t bodySize = in.U32();
  const std::string packed = in.Bytes(in.U32());
  if (!in.ok || in.at != in.size) return Fail(error, "corrupt (header)");
  if (replay.players != 1 && replay.players != 2) return Fail(error, "corrupt (players)");
  if (replay.randomSource > kLastRandomSource) return Fail(error, "corrupt (random source)");
  // The game's own generator needs no state of the C library's; a state given is sound.
  const bool stateNeeded = replay.randomSource == 0 || !replay.randomState.empty();
  if (stateNeeded && !UsableCLibraryState(replay.randomState.data(), replay.randomState.size())) {
    return Fail(error, "corrupt (random state)");
  }
  if (summary.level < 1 || summary.p1Score < 0 || summary.p2Score < 0 || summary.ticks > INT_MAX) {
    return Fail(error, "corrupt (summary)");
  }
  return ReadWithinBounds(packed, bodySize, static_cast<uint32_t>(summary.ticks), replay, error);
}

bool ReadFileBounded(const std::string& path, size_t most, std::string& bytes, std::string& error) {
  const int fd = path == "-" ? STDIN_FILENO : open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return Fail(error, std::strerror(errno));
  const bool read = ReadBounded(fd, most, bytes, error);
  if (fd != STDIN_FILENO) close(fd);
  return read;
}

bool LoadReplay(const std::string& path, Replay& replay, std::string& error) {
  std::string bytes;
  return ReadFileBounded(path, kMaxReplayFileBytes, bytes, error) && DecodeReplay(bytes, replay, error);
}
