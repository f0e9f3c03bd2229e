// SPDX-License-Identifier: GPL-3.0-or-later
// Crafted replays, intact (right checksum, sound zlib) but holding what no game could:
//
//   craft_replays DIR
//     writes DIR/endless_idle_frames.nsr (197 bytes: one run of 4,294,967,295 frames
//     that run no tick) and DIR/packed_idle_runs.nsr (about 65 KB: 33.5 million runs
//     of one frame that runs no tick, packed by zlib to a thousandth);
//   craft_replays --measure SECONDS COMMAND [ARGUMENT]...
//     runs COMMAND, kills it after SECONDS, and prints "status S, T ms, M KB resident"
//     (its exit status or 128 + signal, the wall time, its peak resident memory).
//
// The files are written in format version 1, as the game wrote them before the bounds.
#include <signal.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace {

void U8(std::string& out, uint32_t v) { out.push_back(static_cast<char>(v & 0xff)); }
void U16(std::string& out, uint32_t v) {
  U8(out, v);
  U8(out, v >> 8);
}
void U32(std::string& out, uint32_t v) {
  U16(out, v);
  U16(out, v >> 16);
}
void Number(std::string& out, uint64_t v) {  // LEB128
  for (; v >= 0x80; v >>= 7) U8(out, static_cast<uint32_t>(v & 0x7f) | 0x80);
  U8(out, static_cast<uint32_t>(v));
}

// A version-1 file of a one-player game quit at level 1 after `ticks` ticks, around `body`.
std::string FileAround(const std::string& body, uint32_t ticks) {
  std::string out = "NSREPLAY";
  U16(out, 1);  // format version
  U8(out, 1);   // players
  U8(out, 0);   // quit
  U8(out, 3);
  out += "1.0";
  U16(out, 128);  // the C library's generator: a table of its default type, position 0
  std::string state(128, '\0');
  state[0] = 3;
  out += state;
  for (uint32_t v : {1u, 0u, 0u, ticks, 1u, 0u}) U32(out, v);  // level, scores, ticks, screens, end
  uLongf packedSize = compressBound(body.size());
  std::string packed(packedSize, '\0');
  compress2(reinterpret_cast<Bytef*>(&packed[0]), &packedSize, reinterpret_cast<const Bytef*>(body.data()),
            body.size(), Z_BEST_COMPRESSION);
  packed.resize(packedSize);
  U32(out, static_cast<uint32_t>(body.size()));
  U32(out, static_cast<uint32_t>(packed.size()));
  out += packed;
  U32(out, static_cast<uint32_t>(crc32(0L, reinterpret_cast<const Bytef*>(out.data()), out.size())));
  return out;
}

bool Write(const std::string& path, const std::string& bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file << bytes;
  return static_cast<bool>(file);
}

int Craft(const std::string& dir) {
  std::string endless;
  Number(endless, 1);           // frames: one run ...
  Number(endless, 0);           // ... of frames that run no tick ...
  Number(endless, UINT32_MAX);  // ... 4,294,967,295 of them
  Number(endless, 0);           // no readings
  Number(endless, 0);
  constexpr uint32_t kPackedRuns = 33500000;
  std::string packed;
  packed.reserve(2 * kPackedRuns + 8);
  Number(packed, kPackedRuns);
  for (uint32_t i = 0; i < kPackedRuns; ++i) packed += std::string("\0\1", 2);  // (0 ticks, 1 frame)
  Number(packed, 0);
  Number(packed, 0);
  const bool ok = Write(dir + "/endless_idle_frames.nsr", FileAround(endless, 0)) &&
                  Write(dir + "/packed_idle_runs.nsr", FileAround(packed, 0));
  return ok ? 0 : 1;
}

int Measure(int seconds, char** command) {
  const auto start = std::chrono::steady_clock::now();
  const pid_t child = fork();
  if (child < 0) return 1;
  if (child == 0) {
    execvp(command[0], command);
    _exit(127);
  }
  int status = 0;
  struct rusage usage {};
  for (;;) {
    const pid_t done = wait4(child, &status, WNOHANG, &usage);
    if (done == child) break;
    if (std::chrono::steady_clock::now() - start > std::chrono::seconds(seconds)) {
      kill(child, SIGKILL);
      wait4(child, &status, 0, &usage);
      break;
    }
    usleep(2000);
  }
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
  const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  std::printf("status %d, %lld ms, %ld KB resident\n", code, static_cast<long long>(ms), usage.ru_maxrss);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 4 && std::string(argv[1]) == "--measure") return Measure(std::atoi(argv[2]), argv + 3);
  if (argc == 2) return Craft(argv[1]);
  std::fprintf(stderr, "usage: craft_replays DIR | craft_replays --measure SECONDS COMMAND [ARGUMENT]...\n");
  return 2;
}
