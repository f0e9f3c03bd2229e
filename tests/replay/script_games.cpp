// SPDX-License-Identifier: GPL-3.0-or-later
// Scripted play: games played one after the other in this process from random
// controls and frame lengths, each recorded exactly as the game records a game played
// at the keyboard, and written as a replay file.
//
//   script_games [--no-window] [--name NAME] DIR SEED GAMES [--two] [--rock]
//                [--frames MIN MAX] [--hold MIN MAX]
//
// writes DIR/SEED-1.nsr ... DIR/SEED-GAMES.nsr (NAME-1.nsr ... with --name) and prints
// one line per game: its file, how it ended and what it went through (levels cleared,
// CRAZY extras seen). Every game after the first starts from the random numbers the
// ones before it left behind, as the games of one run of the game do. With --no-window
// the games are played on a 1024 x 768 memory bitmap standing in for the window, so no
// display is needed: the build plays the title screen's demo games this way.
#include <allegro.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

#include "game.h"
#include "image.h"
#include "init.h"
#include "replay.h"
#include "sim/trig.h"

namespace {

struct Options {
  bool noWindow = false;
  std::string name;  // the files' name before "-N.nsr"; the seed when empty
  std::string dir;
  unsigned seed = 1;
  int games = 1;
  bool twoPlayer = false;
  int minFrames = 300, maxFrames = 3000;  // frames of play before the script quits
  int minHold = 2, maxHold = 90;          // control readings a control is held for
  bool rock = false;                      // play as a player would (below)
};

// A player's way to the flies: rock the banana harder and harder by turning with its
// swing (it swings to and fro in about 45 ticks) until it tips over onto its ends, then
// squash, let go and fly. Each round a little different.
std::vector<ReplayRun> RockingControls(std::mt19937& random, const Options&, int reads) {
  std::vector<ReplayRun> runs;
  std::uniform_int_distribution<int> pumps(6, 10), swing(22, 24), squash(100, 140), rest(40, 80);
  std::uniform_int_distribution<int> side(0, 1);
  for (int done = 0; done < reads;) {
    const uint32_t first = side(random) ? ControlsCode({1, false}) : ControlsCode({-1, false});
    const uint32_t second = 2 - first;
    const uint32_t w = static_cast<uint32_t>(swing(random));
    for (int i = pumps(random); i > 0; --i) {
      runs.push_back({first, w});
      runs.push_back({second, w});
      done += 2 * static_cast<int>(w);
    }
    const uint32_t s = static_cast<uint32_t>(squash(random));
    const uint32_t r = static_cast<uint32_t>(rest(random));
    runs.push_back({ControlsCode({0, true}), s});
    runs.push_back({ControlsCode({0, false}), r});
    done += static_cast<int>(s + r);
  }
  return runs;
}

// Runs of random controls; squashes are held longer (a jump needs the squash).
std::vector<ReplayRun> RandomControls(std::mt19937& random, const Options& o, int reads) {
  std::vector<ReplayRun> runs;
  std::uniform_int_distribution<int> hold(o.minHold, o.maxHold);
  std::uniform_int_distribution<int> code(0, 5);
  for (int done = 0; done < reads;) {
    const uint32_t value = static_cast<uint32_t>(code(random));
    const int count = hold(random) * (value >= 3 ? 2 : 1);
    runs.push_back({value, static_cast<uint32_t>(count)});
    done += count;
  }
  return runs;
}

// Mostly one tick a frame, now and then none (right after a pause) or a few (a slow frame).
std::vector<ReplayRun> RandomFrames(std::mt19937& random, int frames) {
  std::vector<ReplayRun> runs;
  std::uniform_int_distribution<int> kind(0, 99);
  for (int i = 0; i < frames; ++i) {
    const int k = kind(random);
    AppendRun(runs, k < 90 ? 1 : k < 93 ? 0 : static_cast<uint32_t>(2 + k % 3));
  }
  return runs;
}

bool Parse(int argc, char** argv, Options& o) {
  int first = 1;
  for (; first < argc; ++first) {
    const std::string a = argv[first];
    if (a == "--no-window") {
      o.noWindow = true;
    } else if (a == "--name" && first + 1 < argc) {
      o.name = argv[++first];
    } else {
      break;
    }
  }
  if (argc - first < 3) return false;
  o.dir = argv[first];
  o.seed = static_cast<unsigned>(std::strtoul(argv[first + 1], nullptr, 10));
  o.games = std::atoi(argv[first + 2]);
  for (int i = first + 3; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--two") {
      o.twoPlayer = true;
    } else if (a == "--rock") {
      o.rock = true;
    } else if (a == "--frames" && i + 2 < argc) {
      o.minFrames = std::atoi(argv[++i]);
      o.maxFrames = std::atoi(argv[++i]);
    } else if (a == "--hold" && i + 2 < argc) {
      o.minHold = std::atoi(argv[++i]);
      o.maxHold = std::atoi(argv[++i]);
    } else {
      return false;
    }
  }
  return o.games > 0 && o.minFrames <= o.maxFrames && o.minHold >= 1 && o.minHold <= o.maxHold;
}

uint64_t Reads(const std::vector<ReplayRun>& runs) {
  uint64_t n = 0;
  for (const ReplayRun& run : runs) n += run.count;
  return n;
}

// A graphics driver that only tells the screen's size, and a memory bitmap as the
// screen: the game's positions read SCREEN_W and SCREEN_H, and nothing is shown.
GFX_DRIVER memoryScreen;

bool StartWithoutWindow() {
  if (install_allegro(SYSTEM_NONE, &errno, std::atexit) != 0) return false;
  set_color_depth(16);
  memoryScreen.name = memoryScreen.desc = memoryScreen.ascii_name = "memory";
  memoryScreen.w = 1024;  // pixels
  memoryScreen.h = 768;
  gfx_driver = &memoryScreen;
  screen = create_bitmap(memoryScreen.w, memoryScreen.h);
  return screen != nullptr;
}

bool StartWithWindow() {
  if (allegro_init() != 0) {
    std::fprintf(stderr, "the library did not start: is DISPLAY set?\n");
    return false;
  }
  install_keyboard();
  install_timer();
  set_color_depth(16);
  if (set_gfx_mode(GFX_AUTODETECT_WINDOWED, 1024, 768, 0, 0) != 0) {
    std::fprintf(stderr, "no 1024 x 768 window: %s\n", allegro_error);
    return false;
  }
  return true;
}

}  // namespace

// The replay IN with one control reading changed (player 1's first squash let go at
// once), written to OUT: a game that no longer ends as recorded. With VERSION (and
// FINGERPRINT), it also claims to come from that version of the game (and pictures).
int Tamper(const char* in, const char* out, const char* version, const char* fingerprint) {
  Replay replay;
  std::string error;
  if (!LoadReplay(in, replay, error)) {
    std::fprintf(stderr, "%s: %s\n", in, error.c_str());
    return 1;
  }
  if (version != nullptr) replay.gameVersion = version;
  if (fingerprint != nullptr) replay.mediaFingerprint = static_cast<uint32_t>(std::strtoul(fingerprint, nullptr, 0));
  for (ReplayRun& run : replay.controls[0]) {
    if (ControlsFromCode(run.value).squash && run.count > 2) {
      std::vector<ReplayRun> runs;
      for (const ReplayRun& r : replay.controls[0]) {
        if (&r != &run) {
          runs.push_back(r);
          continue;
        }
        runs.push_back({run.value, 1});
        runs.push_back({ControlsCode({0, false}), 1});
        runs.push_back({run.value, run.count - 2});
      }
      replay.controls[0] = runs;
      return SaveReplay(out, replay) ? 0 : 1;
    }
  }
  return 1;
}

int main(int argc, char** argv) {
  if (argc >= 4 && argc <= 6 && std::string(argv[1]) == "--tamper") {
    return Tamper(argv[2], argv[3], argc > 4 ? argv[4] : nullptr, argc > 5 ? argv[5] : nullptr);
  }
  Options o;
  if (!Parse(argc, argv, o)) {
    std::fprintf(stderr,
                 "usage: script_games [--no-window] [--name NAME] DIR SEED GAMES [--two] [--rock] "
                 "[--frames MIN MAX] [--hold MIN MAX]\n");
    return 2;
  }
  if (!(o.noWindow ? StartWithoutWindow() : StartWithWindow())) return 1;
  char here[4096];
  if (o.dir[0] != '/' && getcwd(here, sizeof here) == nullptr) return 1;
  const std::string dir = o.dir[0] == '/' ? o.dir : std::string(here) + "/" + o.dir;
  if (chdir(NANASPLAT_MEDIA_DIR) != 0) return 1;
  SetFont("font.dat");
  ImageManager images;
  gameImages.banana1 = gameImages.banana2 = images.GetImage("banana_sm1.bmp");
  gameImages.fly1 = images.GetImage("fly1.bmp");
  gameImages.fly2 = images.GetImage("fly2.bmp");
  if (!gameImages.banana1 || !gameImages.fly1 || !gameImages.fly2) return 1;
  BITMAP* backbuffer = create_bitmap(SCREEN_W, SCREEN_H);
  BITMAP* splatterLayer = create_bitmap(SCREEN_W, SCREEN_H);

  std::mt19937 random(o.seed);
  for (int g = 1; g <= o.games; ++g) {
    std::uniform_int_distribution<int> length(o.minFrames, o.maxFrames);
    Replay script;
    script.players = o.twoPlayer ? 2 : 1;
    script.mathRevision = kPortableMath;  // the arithmetic a game played at the keyboard takes
    script.frames = RandomFrames(random, length(random));
    // Enough readings for every banana of a busy game (extras read too).
    const int reads = 8 * static_cast<int>(Reads(script.frames)) + 8;
    auto controls = o.rock ? RockingControls : RandomControls;
    script.controls[0] = controls(random, o, reads);
    if (o.twoPlayer) script.controls[1] = controls(random, o, reads);
    Showing unseen;
    unseen.paced = false;
    unseen.offerScores = false;
    const Replay game = PlayReplay(backbuffer, splatterLayer, script, unseen);
    const std::string file =
        dir + "/" + (o.name.empty() ? std::to_string(o.seed) : o.name) + "-" + std::to_string(g) + ".nsr";
    if (!SaveReplay(file, game)) return 1;
    const ReplaySummary& s = game.summary;
    const bool extras = Reads(game.controls[0]) > static_cast<uint64_t>(s.ticks) ||
                        Reads(game.controls[1]) > (o.twoPlayer ? static_cast<uint64_t>(s.ticks) : 0);
    std::printf("%s: level %d, P1 %d, P2 %d, %lld ticks, %s%s\n", file.c_str(), s.level, s.p1Score,
                s.p2Score, static_cast<long long>(s.ticks), s.timeUp ? "time up" : "quit",
                extras ? ", crazy" : "");
  }
  destroy_bitmap(splatterLayer);
  destroy_bitmap(backbuffer);
  if (o.noWindow) {  // the library must not take the stand-in for a mode to leave
    destroy_bitmap(screen);
    screen = nullptr;
    gfx_driver = nullptr;
  }
  return 0;
}
END_OF_MAIN()
