// SPDX-License-Identifier: GPL-3.0-or-later
// Which results the simulation's trigonometry gives, for every argument the simulation
// passes it: the golden replays and random two-player games are played headless with
// sinf, cosf, sin and cos (and the sincos pairs a compiler may merge them into)
// wrapped at link time, so every argument is collected; then each function is
// evaluated again on every collected argument, with the splat directions too.
//
//   trig_inputs dump FILE [GAMES TICKS]  plays (GAMES random games of TICKS ticks each,
//                                        12 of 10000 by default), collects, and writes
//                                        the arguments and both revisions' results
//   trig_inputs compare FILE             recomputes the results of FILE here; prints how
//                                        many differ; fails if the portable ones do
//
// Run `dump` once, then `compare` with the C library's other code paths chosen through
// GLIBC_TUNABLES (e.g. glibc.cpu.hwcaps=-AVX2,-FMA,-FMA4,-AVX): any difference means the
// library's trigonometry is not the same on every machine for this game's arguments.
#include <allegro.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unordered_set>
#include <vector>

#include <dirent.h>

#include "../sync/drivers.h"
#include "replay.h"
#include "sim/trig.h"

namespace {
std::unordered_set<uint32_t> floatArgs;   // bits of the floats given to sinf/cosf
std::unordered_set<uint64_t> doubleArgs;  // bits of the doubles given to sin/cos
bool collecting = false;

uint32_t Bits(float f) {
  uint32_t b;
  std::memcpy(&b, &f, sizeof b);
  return b;
}
uint64_t Bits(double d) {
  uint64_t b;
  std::memcpy(&b, &d, sizeof b);
  return b;
}
float FloatOf(uint32_t b) {
  float f;
  std::memcpy(&f, &b, sizeof f);
  return f;
}
double DoubleOf(uint64_t b) {
  double d;
  std::memcpy(&d, &b, sizeof d);
  return d;
}
}  // namespace

extern "C" {
float __real_sinf(float);
float __real_cosf(float);
double __real_sin(double);
double __real_cos(double);
void __real_sincosf(float, float*, float*);
void __real_sincos(double, double*, double*);
float __wrap_sinf(float x) {
  if (collecting) floatArgs.insert(Bits(x));
  return __real_sinf(x);
}
float __wrap_cosf(float x) {
  if (collecting) floatArgs.insert(Bits(x));
  return __real_cosf(x);
}
double __wrap_sin(double x) {
  if (collecting) doubleArgs.insert(Bits(x));
  return __real_sin(x);
}
double __wrap_cos(double x) {
  if (collecting) doubleArgs.insert(Bits(x));
  return __real_cos(x);
}
void __wrap_sincosf(float x, float* s, float* c) {
  if (collecting) floatArgs.insert(Bits(x));
  __real_sincosf(x, s, c);
}
void __wrap_sincos(double x, double* s, double* c) {
  if (collecting) doubleArgs.insert(Bits(x));
  __real_sincos(x, s, c);
}
}

namespace {

SpriteSize PictureSize(const char* name) {
  const std::string path = std::string(NANASPLAT_MEDIA_DIR) + "/" + name;
  BITMAP* picture = load_bitmap(path.c_str(), nullptr);
  if (picture == nullptr) return {0, 0};
  const SpriteSize size{picture->w, picture->h};
  destroy_bitmap(picture);
  return size;
}

void PlayEverything(uint32_t games, int ticks) {
  collecting = true;
  DIR* dir = opendir(NANASPLAT_GOLDEN_DIR);
  for (dirent* entry = dir != nullptr ? readdir(dir) : nullptr; entry != nullptr; entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name.size() < 4 || name.compare(name.size() - 4, 4, ".nsr") != 0) continue;
    Replay replay;
    std::string error;
    if (!LoadReplay(std::string(NANASPLAT_GOLDEN_DIR) + "/" + name, replay, error)) continue;
    GameState game(replay.players == 2, PlayArea{}, PictureSize("banana_sm1.bmp"), PictureSize("fly1.bmp"));
    ReplayDriver driver(replay, game);
    while (driver.Step(game)) {
    }
  }
  if (dir != nullptr) closedir(dir);
  for (uint32_t seed = 1; seed <= games; ++seed) {
    // With the C library's functions, so that their arguments are collected.
    GameState game(true, PlayArea{}, SpriteSize{174, 60}, SpriteSize{42, 38}, OwnRandom(seed));
    game.mathRevision = kLibraryMath;
    BeginLevel(game);
    StartLevelClock(game);
    RandomGameDriver driver(seed);
    for (int tick = 0; tick < ticks; ++tick) driver.Step(game);
  }
  SimulationFingerprint();
  collecting = false;
  // The splats' directions: whole degrees times the game's pi over 180.
  for (int degrees = 0; degrees < 360; ++degrees) doubleArgs.insert(Bits(degrees * 3.14159 / 180.0));
}

struct Row {
  uint64_t arg;
  uint64_t sine;      // the C library's
  uint64_t cosine;
  uint64_t portableSine;  // revision 1's
  uint64_t portableCosine;
};

std::vector<Row> Evaluate(const std::vector<uint32_t>& floats, const std::vector<uint64_t>& doubles) {
  std::vector<Row> rows;
  for (uint32_t b : floats) {
    const float x = FloatOf(b);
    rows.push_back({b, Bits(__real_sinf(x)), Bits(__real_cosf(x)), Bits(SinF(x, kPortableMath)),
                    Bits(CosF(x, kPortableMath))});
  }
  for (uint64_t b : doubles) {
    const double x = DoubleOf(b);
    rows.push_back({b, Bits(__real_sin(x)), Bits(__real_cos(x)), Bits(Sin(x, kPortableMath)),
                    Bits(Cos(x, kPortableMath))});
  }
  return rows;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 && argc != 5) {
    std::fprintf(stderr, "usage: trig_inputs dump FILE [GAMES TICKS] | compare FILE\n");
    return 2;
  }
  const std::string mode = argv[1];
  if (mode == "dump") {
    if (install_allegro(SYSTEM_NONE, &errno, std::atexit) != 0) return 2;
    set_color_depth(16);
    const uint32_t games = argc == 5 ? static_cast<uint32_t>(std::atoi(argv[3])) : 12;
    const int ticks = argc == 5 ? std::atoi(argv[4]) : 10000;
    PlayEverything(games, ticks);
    std::vector<uint32_t> floats(floatArgs.begin(), floatArgs.end());
    std::vector<uint64_t> doubles(doubleArgs.begin(), doubleArgs.end());
    const std::vector<Row> rows = Evaluate(floats, doubles);
    FILE* out = std::fopen(argv[2], "wb");
    if (out == nullptr) return 2;
    const uint64_t counts[2] = {floats.size(), doubles.size()};
    std::fwrite(counts, sizeof counts, 1, out);
    std::fwrite(rows.data(), sizeof(Row), rows.size(), out);
    std::fclose(out);
    std::printf("%zu float arguments (sinf, cosf), %zu double arguments (sin, cos)\n", floats.size(),
                doubles.size());
    return 0;
  }
  FILE* in = std::fopen(argv[2], "rb");
  if (in == nullptr) return 2;
  uint64_t counts[2];
  if (std::fread(counts, sizeof counts, 1, in) != 1 || counts[0] > (1u << 28) || counts[1] > (1u << 28)) return 2;
  std::vector<Row> rows(counts[0] + counts[1]);
  if (std::fread(rows.data(), sizeof(Row), rows.size(), in) != rows.size()) return 2;
  std::fclose(in);
  std::vector<uint32_t> floats;
  std::vector<uint64_t> doubles;
  for (size_t i = 0; i < rows.size(); ++i) {
    if (i < counts[0]) {
      floats.push_back(static_cast<uint32_t>(rows[i].arg));
    } else {
      doubles.push_back(rows[i].arg);
    }
  }
  const std::vector<Row> here = Evaluate(floats, doubles);
  uint64_t floatDiffer = 0, doubleDiffer = 0, portableDiffer = 0;
  for (size_t i = 0; i < rows.size(); ++i) {
    if (here[i].sine != rows[i].sine || here[i].cosine != rows[i].cosine) ++(i < counts[0] ? floatDiffer : doubleDiffer);
    if (here[i].portableSine != rows[i].portableSine || here[i].portableCosine != rows[i].portableCosine) {
      ++portableDiffer;
    }
  }
  std::printf("C library: %llu of %llu float arguments (sinf, cosf) and %llu of %llu double arguments "
              "(sin, cos) give other results; portable (revision 1): %llu differ\n",
              static_cast<unsigned long long>(floatDiffer), static_cast<unsigned long long>(counts[0]),
              static_cast<unsigned long long>(doubleDiffer), static_cast<unsigned long long>(counts[1]),
              static_cast<unsigned long long>(portableDiffer));
  return portableDiffer == 0 ? 0 : 1;
}
