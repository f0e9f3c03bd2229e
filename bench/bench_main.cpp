// Benchmarks of the busiest play the game has: one logic tick, one frame, the floor
// under any frame (a clear and two full-screen copies) and the library's own cost of
// the frame's drawing calls. Prints the ratios and the targets at the end.
//
// Needs a display (scripts/bench starts a private Xvfb): the game's rules read the
// screen size, which only a graphics mode gives. All drawing goes to memory bitmaps;
// a memory bitmap of the screen's size stands in for the screen.
#include <allegro.h>
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include <unistd.h>

#include "game.h"
#include "image.h"
#include "scene.h"

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

void BM_Tick(benchmark::State& state) {
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
BENCHMARK(BM_Tick)->Unit(benchmark::kMicrosecond);

void BM_Frame(benchmark::State& state) {
  for (auto _ : state) Frame();
}
BENCHMARK(BM_Frame)->Unit(benchmark::kMicrosecond);

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
}

// `runs` of each piece of work, outside the benchmark library: under callgrind with
// --toggle-collect naming one of them, the instruction count of exactly that work.
[[gnu::noinline]] void ProfileTicks(int runs) {
  for (int i = 0; i < runs; ++i) {
    if (!BackToBusyMoment()) return;
    TickBatch();
  }
  Restore(*bench.game, bench.busy);
}
[[gnu::noinline]] void ProfileFrames(int runs) {
  for (int i = 0; i < runs; ++i) Frame();
}
[[gnu::noinline]] void ProfileLibraryCalls(int runs) {
  for (int i = 0; i < runs; ++i) LibraryCalls();
}
[[gnu::noinline]] void ProfileFloors(int runs) {
  for (int i = 0; i < runs; ++i) Floor();
}

void ProfileAll(int runs) {
  ProfileTicks(runs);
  ProfileFrames(runs);
  ProfileLibraryCalls(runs);
  ProfileFloors(runs);
}

bool HasFlag(int argc, char** argv, const char* flag) {
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], flag, std::strlen(flag)) == 0) return true;
  }
  return false;
}

bool SetUp(const std::string& mediaDir, ImageManager& images) {
  if (!StartLibrary() || !LoadPlayMedia(images, mediaDir)) return false;
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

  SummaryReporter reporter(isatty(STDOUT_FILENO) != 0 ? benchmark::ConsoleReporter::OO_ColorTabular
                                                     : benchmark::ConsoleReporter::OO_Tabular);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  PrintSummary(reporter);
  benchmark::Shutdown();
  return 0;
}
END_OF_MAIN()
