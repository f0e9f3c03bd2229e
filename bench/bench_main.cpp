// SPDX-License-Identifier: GPL-3.0-or-later
// Benchmarks of the busiest play the game has: one logic tick, one frame, the floor
// under any frame (a clear and two full-screen copies) and the library's own cost of
// the frame's drawing calls. Prints the ratios and the targets at the end.
//
// The tick and the frame are timed again with the game's sound playing on a real sound
// device (scripts/bench captures ALSA's default device into a file), and the process's
// CPU time per second of play at the game's pace is measured with and without sound.
//
// Needs a display (scripts/bench starts a private Xvfb): the game's rules read the
// screen size, which only a graphics mode gives. All drawing goes to memory bitmaps;
// a memory bitmap of the screen's size stands in for the screen.
#include <allegro.h>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include <time.h>
#include <unistd.h>

#include "game.h"
#include "image.h"
#include "scene.h"
#include "sound.h"

namespace {

// Ticks per timed batch: one second of play from the busy moment (ticks).
constexpr int kTicksPerBatch = 60;
constexpr unsigned kSceneSeed = 8;
constexpr unsigned kTickSeed = 16;
constexpr unsigned kFrameSeed = 24;

// Targets (microseconds, and the frame's allowance over the library's own calls).
constexpr double kFrameTargetUs = 1000;
constexpr double kTickTargetUs = 20;
constexpr double kLibraryAllowance = 1.25;
constexpr double kSoundAllowance = 1.05;  // tick and frame with sound over without
// Paced play: seconds per measurement, and measurements of each kind (alternating).
constexpr double kPacedSeconds = 3;
constexpr int kPacedRounds = 2;
// A replay checked at full speed runs a tick and draws a frame (off-screen, so without
// the copy to the screen) for every tick of play: ten minutes of the busiest play must
// check within this (seconds).
constexpr double kTenMinutesTicks = 36000;
constexpr double kCheckTargetS = 20;

struct Bench {
  Game* game = nullptr;
  Snapshot busy;
  BITMAP* backbuffer = nullptr;
  BITMAP* screenStandIn = nullptr;  // what the frame copies the back buffer to
  std::vector<DrawCall> frameCalls;
  int white = 0;
};
Bench bench;

// What every frame does around its drawing: show the back buffer, clear it, and lay
// the splatter layer on it for the next frame.
void ShowClearAndLaySplats() {
  BITMAP* back = bench.backbuffer;
  blit(back, bench.screenStandIn, 0, 0, 0, 0, back->w, back->h);
  clear_to_color(back, bench.white);
  BITMAP* splats = bench.game->splatterLayer;
  blit(splats, back, 0, 0, 0, 0, splats->w, splats->h);
}

// The timed work, one function each, so that a profiler can count each on its own
// (see ProfileAll). Kept out of line for the same reason.
[[gnu::noinline]] void TickBatch() {
  for (int t = 0; t < kTicksPerBatch; ++t) RunTick(*bench.game);
}
// The frame starts from the random numbers its calls were recorded with, so that it
// draws exactly the replayed picture (which fly frames, where CRAZY wanders).
[[gnu::noinline]] void Frame() {
  std::srand(kFrameSeed);
  DrawFrame(*bench.game, bench.backbuffer);
  ShowClearAndLaySplats();
}
[[gnu::noinline]] void LibraryCalls() {
  ReplayFrameCalls(bench.frameCalls, bench.backbuffer);
  ShowClearAndLaySplats();
}
[[gnu::noinline]] void Floor() { ShowClearAndLaySplats(); }

// Puts the game back to the busy moment with the same random numbers to come.
bool BackToBusyMoment() {
  if (!Restore(*bench.game, bench.busy)) return false;
  std::srand(kTickSeed);
  return true;
}

// The sound on the captured device, the play music running: false without a device.
bool SoundOn() {
  StartSound();
  PlayMusic(Music::Play);
  return SoundDeviceReady();
}

void TimeTicks(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    if (!BackToBusyMoment()) {
      state.SkipWithError("the extras changed during a batch");
      break;
    }
    state.ResumeTiming();
    TickBatch();
  }
  state.SetItemsProcessed(state.iterations() * kTicksPerBatch);
  Restore(*bench.game, bench.busy);
}

void TimeFrames(benchmark::State& state) {
  for (auto _ : state) Frame();
}

void BM_Tick(benchmark::State& state) { TimeTicks(state); }
BENCHMARK(BM_Tick)->Unit(benchmark::kMicrosecond);

void BM_Frame(benchmark::State& state) { TimeFrames(state); }
BENCHMARK(BM_Frame)->Unit(benchmark::kMicrosecond);

// The same with the sound playing: the music loop, and the effects the ticks ask for
// (the busy moment's kills splat; CRAZY bursts fill every splat voice).
void BM_TickWithSound(benchmark::State& state) {
  if (SoundOn()) {
    TimeTicks(state);
  } else {
    state.SkipWithError("no sound device (scripts/bench captures one)");
  }
  StopSound();
}
BENCHMARK(BM_TickWithSound)->Unit(benchmark::kMicrosecond);

void BM_FrameWithSound(benchmark::State& state) {
  if (SoundOn()) {
    TimeFrames(state);
  } else {
    state.SkipWithError("no sound device (scripts/bench captures one)");
  }
  StopSound();
}
BENCHMARK(BM_FrameWithSound)->Unit(benchmark::kMicrosecond);

void BM_LibraryCalls(benchmark::State& state) {
  for (auto _ : state) LibraryCalls();
}
BENCHMARK(BM_LibraryCalls)->Unit(benchmark::kMicrosecond);

void BM_Floor(benchmark::State& state) {
  for (auto _ : state) Floor();
}
BENCHMARK(BM_Floor)->Unit(benchmark::kMicrosecond);

double Nanoseconds(double value, benchmark::TimeUnit unit) {
  switch (unit) {
    case benchmark::kNanosecond: return value;
    case benchmark::kMicrosecond: return value * 1e3;
    case benchmark::kMillisecond: return value * 1e6;
    case benchmark::kSecond: return value * 1e9;
  }
  return value;
}

// The console table as usual, keeping each benchmark's CPU time per iteration (the
// median when repeated) for the summary.
class SummaryReporter : public benchmark::ConsoleReporter {
 public:
  explicit SummaryReporter(OutputOptions options) : ConsoleReporter(options) {}

  std::map<std::string, double> cpuNs;
  std::map<std::string, double> realNs;

  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
      const bool single = run.run_type == Run::RT_Iteration && run.repetitions <= 1;
      if (run.error_occurred || !(median || single)) continue;
      cpuNs[run.run_name.function_name] = Nanoseconds(run.GetAdjustedCPUTime(), run.time_unit);
      realNs[run.run_name.function_name] = Nanoseconds(run.GetAdjustedRealTime(), run.time_unit);
    }
  }
};

const char* Verdict(bool met) { return met ? "met" : "MISSED"; }

double Seconds(clockid_t clock) {
  timespec now{};
  clock_gettime(clock, &now);
  return static_cast<double>(now.tv_sec) + now.tv_nsec * 1e-9;
}

// Play at the game's pace for `seconds`: a tick and a frame of the busy moment 60 times
// a second, asleep for the rest of each sixtieth. Returns the whole process's CPU time
// (every thread: the library's mixer too) per second of play, in milliseconds.
double CpuMsPerSecondOfPlay(double seconds) {
  const int ticks = static_cast<int>(seconds * kTicksPerBatch);
  const double cpu0 = Seconds(CLOCK_PROCESS_CPUTIME_ID);
  const double wall0 = Seconds(CLOCK_MONOTONIC);
  timespec next{};
  clock_gettime(CLOCK_MONOTONIC, &next);
  constexpr long kTickNs = 1000000000L / kTicksPerBatch;
  for (int t = 0; t < ticks; ++t) {
    if (t % kTicksPerBatch == 0 && !BackToBusyMoment()) return -1;
    RunTick(*bench.game);
    Frame();
    next.tv_nsec += kTickNs;
    if (next.tv_nsec >= 1000000000L) {
      next.tv_nsec -= 1000000000L;
      ++next.tv_sec;
    }
    clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
  }
  Restore(*bench.game, bench.busy);
  return (Seconds(CLOCK_PROCESS_CPUTIME_ID) - cpu0) * 1e3 / (Seconds(CLOCK_MONOTONIC) - wall0);
}

// The process's CPU time per second while the main thread sleeps: the library's own
// threads (input, timer; with the sound on, its mixer and the ALSA library), in
// milliseconds.
double CpuMsPerSecondAsleep(double seconds) {
  const double cpu0 = Seconds(CLOCK_PROCESS_CPUTIME_ID);
  const double wall0 = Seconds(CLOCK_MONOTONIC);
  usleep(static_cast<useconds_t>(seconds * 1e6));
  return (Seconds(CLOCK_PROCESS_CPUTIME_ID) - cpu0) * 1e3 / (Seconds(CLOCK_MONOTONIC) - wall0);
}

// Paced play without and with sound, alternating; the lower of each kind.
void PrintPacedPlay() {
  double without = 1e9, with = 1e9, quiet = 1e9, music = 1e9;
  for (int round = 0; round < kPacedRounds; ++round) {
    without = std::min(without, CpuMsPerSecondOfPlay(kPacedSeconds));
    quiet = std::min(quiet, CpuMsPerSecondAsleep(kPacedSeconds));
    if (!SoundOn()) {
      StopSound();
      std::printf("\n(no sound device: no paced play with sound)\n");
      return;
    }
    with = std::min(with, CpuMsPerSecondOfPlay(kPacedSeconds));
    music = std::min(music, CpuMsPerSecondAsleep(kPacedSeconds));
    StopSound();
  }
  std::printf("\nPaced play at 60 ticks and frames a second (process CPU time, all threads)\n");
  std::printf("  without sound           %8.1f ms per second of play\n", without);
  std::printf("  with sound              %8.1f ms per second of play\n", with);
  std::printf("  asleep, without sound   %8.1f ms per second (the library's threads)\n", quiet);
  std::printf("  asleep, music playing   %8.1f ms per second\n", music);
}

void PrintSummary(const SummaryReporter& r) {
  for (const char* name : {"BM_Tick", "BM_Frame", "BM_LibraryCalls", "BM_Floor"}) {
    if (r.cpuNs.count(name) == 0) {
      std::printf("\n(%s did not run: no summary)\n", name);
      return;
    }
  }
  const double tickUs = r.cpuNs.at("BM_Tick") / kTicksPerBatch / 1e3;
  const double frameUs = r.cpuNs.at("BM_Frame") / 1e3;
  const double libraryUs = r.cpuNs.at("BM_LibraryCalls") / 1e3;
  const double floorUs = r.cpuNs.at("BM_Floor") / 1e3;
  const double frameRealUs = r.realNs.at("BM_Frame") / 1e3;
  std::printf("\nSummary (CPU time; medians when repeated)\n");
  std::printf("  tick                    %8.2f us   target < %.0f us: %s\n", tickUs, kTickTargetUs,
              Verdict(tickUs < kTickTargetUs));
  std::printf("  frame                   %8.1f us   target < %.0f us: %s (wall %.1f us)\n", frameUs,
              kFrameTargetUs, Verdict(frameUs < kFrameTargetUs), frameRealUs);
  std::printf("  library's own calls     %8.1f us\n", libraryUs);
  std::printf("  floor                   %8.1f us\n", floorUs);
  std::printf("  frame / library calls   %8.3f      target <= %.2f: %s\n", frameUs / libraryUs,
              kLibraryAllowance, Verdict(frameUs / libraryUs <= kLibraryAllowance));
  std::printf("  frame / floor           %8.3f\n", frameUs / floorUs);
  const double checkS = kTenMinutesTicks * (tickUs + frameUs) / 1e6;
  std::printf("  replay check, ten minutes of the busiest play %6.1f s   target < %.0f s: %s\n", checkS,
              kCheckTargetS, Verdict(checkS < kCheckTargetS));
  if (r.cpuNs.count("BM_TickWithSound") == 0 || r.cpuNs.count("BM_FrameWithSound") == 0) {
    std::printf("  (no figures with sound: no sound device)\n");
    return;
  }
  const double tickSoundUs = r.cpuNs.at("BM_TickWithSound") / kTicksPerBatch / 1e3;
  const double frameSoundUs = r.cpuNs.at("BM_FrameWithSound") / 1e3;
  const double frameSoundRealUs = r.realNs.at("BM_FrameWithSound") / 1e3;
  std::printf("  tick with sound         %8.2f us   / without %.3f, target <= %.2f: %s\n", tickSoundUs,
              tickSoundUs / tickUs, kSoundAllowance, Verdict(tickSoundUs / tickUs <= kSoundAllowance));
  std::printf("  frame with sound        %8.1f us   / without %.3f, target <= %.2f: %s (wall %.1f us)\n",
              frameSoundUs, frameSoundUs / frameUs, kSoundAllowance,
              Verdict(frameSoundUs / frameUs <= kSoundAllowance), frameSoundRealUs);
}

// `runs` of each piece of work, outside the benchmark library: under callgrind with
// --toggle-collect naming one of them, the instruction count of exactly that work.
void TickRuns(int runs) {
  for (int i = 0; i < runs; ++i) {
    if (!BackToBusyMoment()) return;
    TickBatch();
  }
  Restore(*bench.game, bench.busy);
}
void FrameRuns(int runs) {
  for (int i = 0; i < runs; ++i) Frame();
}
[[gnu::noipa]] void ProfileTicks(int runs) { TickRuns(runs); }
[[gnu::noipa]] void ProfileFrames(int runs) { FrameRuns(runs); }
[[gnu::noinline]] void ProfileLibraryCalls(int runs) {
  for (int i = 0; i < runs; ++i) LibraryCalls();
}
[[gnu::noinline]] void ProfileFloors(int runs) {
  for (int i = 0; i < runs; ++i) Floor();
}

// The tick and the frame again with the sound on (the mixer runs on its own thread,
// which callgrind does not count inside these). Kept apart from the two above
// (noipa: the compiler would otherwise fold the identical bodies into one symbol).
[[gnu::noipa]] void ProfileTicksWithSound(int runs) { TickRuns(runs); }
[[gnu::noipa]] void ProfileFramesWithSound(int runs) { FrameRuns(runs); }

void ProfileAll(int runs) {
  ProfileTicks(runs);
  ProfileFrames(runs);
  ProfileLibraryCalls(runs);
  ProfileFloors(runs);
  if (!SoundOn()) std::fprintf(stderr, "no sound device: the runs with sound are silent\n");
  ProfileTicksWithSound(runs);
  ProfileFramesWithSound(runs);
  StopSound();
}

bool HasFlag(int argc, char** argv, const char* flag) {
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], flag, std::strlen(flag)) == 0) return true;
  }
  return false;
}

bool SetUp(const std::string& mediaDir, ImageManager& images) {
  if (!StartLibrary() || !LoadPlayMedia(images, mediaDir)) return false;
  // The sound module loads its files from the working directory, as the game does.
  if (chdir(mediaDir.c_str()) != 0) std::fprintf(stderr, "cannot change to %s\n", mediaDir.c_str());
  bench.backbuffer = create_bitmap(SCREEN_W, SCREEN_H);
  bench.screenStandIn = create_bitmap(SCREEN_W, SCREEN_H);
  BITMAP* splats = create_bitmap(SCREEN_W, SCREEN_H);
  if (bench.backbuffer == nullptr || bench.screenStandIn == nullptr || splats == nullptr) {
    std::fprintf(stderr, "out of memory for the frame's bitmaps\n");
    return false;
  }
  bench.white = makecol(255, 255, 255);
  bench.game = new Game(true, splats);
  if (!ReachBusyMoment(*bench.game, kSceneSeed)) return false;
  bench.busy = TakeSnapshot(*bench.game);

  // The replayed calls must paint exactly the frame's picture.
  bench.frameCalls = RecordFrameCalls(*bench.game, kFrameSeed);
  BITMAP* fromGame = create_bitmap(SCREEN_W, SCREEN_H);
  BITMAP* fromCalls = create_bitmap(SCREEN_W, SCREEN_H);
  blit(splats, fromGame, 0, 0, 0, 0, SCREEN_W, SCREEN_H);
  blit(splats, fromCalls, 0, 0, 0, 0, SCREEN_W, SCREEN_H);
  std::srand(kFrameSeed);
  DrawFrame(*bench.game, fromGame);
  ReplayFrameCalls(bench.frameCalls, fromCalls);
  const bool same = SamePixels(fromGame, fromCalls);
  // NANASPLAT_BENCH_FRAME=file.bmp keeps the picture, to see what is being timed.
  const char* keep = std::getenv("NANASPLAT_BENCH_FRAME");
  if (keep != nullptr) save_bitmap(keep, fromGame, nullptr);
  destroy_bitmap(fromGame);
  destroy_bitmap(fromCalls);
  if (!same) {
    std::fprintf(stderr, "the replayed calls do not paint the frame's picture\n");
    return false;
  }
  std::fprintf(stderr, "frame: %zu drawing calls, replay checked against the game's picture\n",
               bench.frameCalls.size());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  // --profile=N: N runs of each piece of work, no timing (for callgrind).
  constexpr char kProfileFlag[] = "--profile=";
  int profileRuns = 0;
  if (argc > 1 && std::strncmp(argv[1], kProfileFlag, std::strlen(kProfileFlag)) == 0) {
    profileRuns = std::atoi(argv[1] + std::strlen(kProfileFlag));
    if (profileRuns <= 0) return 2;
  }
  // Repeated in short runs and interleaved by default, so that a busy moment of the
  // machine does not land on one benchmark alone; the median of the repetitions is
  // reported.
  std::vector<char*> args(argv, argv + argc);
  if (profileRuns > 0) args.erase(args.begin() + 1);
  // --paced: only the paced play, with and without sound.
  const bool pacedOnly = argc > 1 && std::strcmp(argv[1], "--paced") == 0;
  if (pacedOnly) args.erase(args.begin() + 1);
  char repetitions[] = "--benchmark_repetitions=12";
  char minTime[] = "--benchmark_min_time=0.25";
  char aggregatesOnly[] = "--benchmark_report_aggregates_only=true";
  char interleave[] = "--benchmark_enable_random_interleaving=true";
  if (!HasFlag(argc, argv, "--benchmark_repetitions")) {
    args.push_back(repetitions);
    args.push_back(aggregatesOnly);
    args.push_back(interleave);
    if (!HasFlag(argc, argv, "--benchmark_min_time")) args.push_back(minTime);
  }
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 2;

  const char* mediaDir = std::getenv("NANASPLAT_MEDIA");
  ImageManager images;
  if (!SetUp(mediaDir != nullptr ? mediaDir : NANASPLAT_MEDIA_DIR, images)) return 1;

  if (profileRuns > 0) {
    ProfileAll(profileRuns);
    return 0;
  }
  if (pacedOnly) {
    PrintPacedPlay();
    return 0;
  }

  SummaryReporter reporter(isatty(STDOUT_FILENO) != 0 ? benchmark::ConsoleReporter::OO_ColorTabular
                                                     : benchmark::ConsoleReporter::OO_Tabular);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  PrintSummary(reporter);
  if (!HasFlag(argc, argv, "--benchmark_filter")) PrintPacedPlay();
  benchmark::Shutdown();
  return 0;
}
END_OF_MAIN()
