// SPDX-License-Identifier: GPL-3.0-or-later
// libFuzzer target for replays: any bytes are either refused with a reason, or read
// into a replay that writes back into the very same replay and then plays back to its
// end (headless, as fast as it goes, as --check-replay plays it), without a crash, a
// hang, undefined behaviour or more memory than the file's size allows.
//
// An input that starts with the replay magic is a file as it is; when only its checksum
// is wrong it is also read with the checksum mended, so that mutations reach what lies
// behind it. Any other input is the unpacked body of a replay: its first bytes choose
// the header (players, level, ticks, level screens), the rest is packed as the game
// packs it, so that the body's lists of runs are fuzzed without zlib in the way.
#include <allegro.h>
#include <zlib.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "debug.h"
#include "game.h"
#include "replay.h"
#include "worldboard.h"

namespace {

// Playback is bounded: a replay that claims more ticks is read but not played (a
// ten seconds of play).
constexpr int64_t kMaxPlayedTicks = 600;

void Check(bool holds) {
  if (!holds) std::abort();
}

// The sprites as the real pictures have them: their sizes are what play reads.
struct Sprites {
  Image banana{nullptr, "banana"};
  Image fly1{nullptr, "fly1"};
  Image fly2{nullptr, "fly2"};
  BITMAP* backbuffer = nullptr;
  BITMAP* splatterLayer = nullptr;
};
Sprites sprites;

BITMAP* Sprite(int w, int h) {
  BITMAP* sprite = create_bitmap(w, h);
  clear_to_color(sprite, bitmap_mask_color(sprite));
  circlefill(sprite, w / 2, h / 2, h / 3, makecol(250, 220, 40));
  return sprite;
}

void Play(const Replay& replay) {
  if (replay.summary.ticks > kMaxPlayedTicks) return;
  Showing unseen;
  unseen.paced = false;
  unseen.offerScores = false;
  const Replay played = PlayReplay(sprites.backbuffer, sprites.splatterLayer, replay, unseen);
  // A playback never runs past the replay's end.
  Check(played.summary.ticks <= replay.summary.ticks);
  uint64_t frames = 0;
  for (const ReplayRun& run : played.frames) frames += run.count;
  uint64_t recorded = 0;
  for (const ReplayRun& run : replay.frames) recorded += run.count;
  Check(frames <= recorded + 1);
}

// Returns why the bytes were refused (empty when they were read and played).
std::string DecodeAndPlay(const std::string& bytes) {
  Replay replay;
  std::string error;
  if (!DecodeReplay(bytes, replay, error)) {
    Check(!error.empty());
    return error;
  }
  Check(replay.players == 1 || replay.players == 2);
  Check(replay.summary.level >= 1 && replay.summary.ticks >= 0);
  for (const auto& runs : replay.controls) {
    for (const ReplayRun& run : runs) Check(run.value <= 5 && run.count > 0);
  }
  const std::string written = EncodeReplay(replay);
  Replay again;
  Check(DecodeReplay(written, again, error));
  Check(EncodeReplay(again) == written);
  Play(replay);
  return "";
}

void PutU32(std::string& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>(v >> (8 * i)));
}

// A whole file around `body`, its header chosen by the input's first bytes.
std::string FileAround(const uint8_t* data, size_t size) {
  uint8_t head[7] = {};
  for (size_t i = 0; i < sizeof head && i < size; ++i) head[i] = data[i];
  const size_t used = size < sizeof head ? size : sizeof head;
  const std::string body(reinterpret_cast<const char*>(data + used), size - used);
  Replay replay;
  replay.players = head[0] % 2 + 1;
  replay.summary.level = head[1] % 8 + 1;
  replay.summary.ticks = head[2] | head[3] << 8 | (head[4] % 8) << 16;
  replay.levelScreens = head[5] % 20;
  replay.summary.timeUp = head[6] % 2 != 0;
  replay.gameVersion = "1.0";
  replay.randomState.assign(128, 0);
  replay.randomState[0] = 3;  // a usable table of the C library's generator
  // The header as the game writes it, up to the body's size (its fields' bytes).
  std::string file = EncodeReplay(replay);
  file.resize(8 + 2 + 1 + 1 + 1 + replay.gameVersion.size() + 2 + replay.randomState.size() + 4 + 1 + 8 + 1 + 6 * 4);
  uLongf packedSize = compressBound(body.size());
  std::string packed(packedSize, '\0');
  compress2(reinterpret_cast<Bytef*>(&packed[0]), &packedSize, reinterpret_cast<const Bytef*>(body.data()),
            body.size(), Z_BEST_SPEED);
  packed.resize(packedSize);
  PutU32(file, static_cast<uint32_t>(body.size()));
  PutU32(file, static_cast<uint32_t>(packed.size()));
  file += packed;
  PutU32(file, static_cast<uint32_t>(crc32(0L, reinterpret_cast<const Bytef*>(file.data()), file.size())));
  return file;
}

}  // namespace

// AddressSanitizer holds freed memory back for a while to catch late uses (256 MB by
// default); the target runs under a 256 MB limit, so it holds back less.
extern "C" const char* __asan_default_options() { return "quarantine_size_mb=32"; }

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Headless: the library without a system driver, pictures in memory, no log file.
  debug.close();
  debug.open("/dev/null");
  if (install_allegro(SYSTEM_NONE, &errno, std::atexit) != 0) std::abort();
  set_color_depth(16);
  sprites.banana.bitmap = Sprite(174, 60);
  sprites.fly1.bitmap = Sprite(42, 38);
  sprites.fly2.bitmap = Sprite(42, 38);
  gameImages.banana1 = gameImages.banana2 = &sprites.banana;
  gameImages.fly1 = &sprites.fly1;
  gameImages.fly2 = &sprites.fly2;
  sprites.backbuffer = create_bitmap(64, 64);
  sprites.splatterLayer = create_bitmap(64, 64);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  ReadBoardAnswer(bytes);  // what a board answers is read from any bytes without throwing
  if (bytes.rfind(std::string(kReplayMagic, sizeof kReplayMagic - 1), 0) != 0) {
    DecodeAndPlay(FileAround(data, size));
    return 0;
  }
  const std::string error = DecodeAndPlay(bytes);
  if (size > 12 && error.find("checksum") != std::string::npos) {
    std::string mended = bytes.substr(0, size - 4);
    PutU32(mended, static_cast<uint32_t>(crc32(0L, reinterpret_cast<const Bytef*>(mended.data()), mended.size())));
    DecodeAndPlay(mended);
  }
  return 0;
}
