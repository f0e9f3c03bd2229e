// SPDX-License-Identifier: GPL-3.0-or-later
// The game's entry: the command line, start-up, the menu's loop and the ways a game is played.
#include <allegro.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <unistd.h>

#include "attract.h"
#include "debug.h"
#include "game.h"
#include "image.h"
#include "init.h"
#include "menu.h"
#include "nana.h"
#include "netplay.h"
#include "options.h"
#include "pad.h"
#include "pause.h"
#include "replay.h"
#include "settings.h"
#include "sound.h"
#include "taps.h"
#include "userdata.h"
#include "watchplay.h"
#include "worldboard.h"

namespace {

// The window's size (pixels).
constexpr int kScreenWidth = 1024;
constexpr int kScreenHeight = 768;

// The pictures, in the order the game looks them up.
struct PictureSlot {
  Image* GameImages::*slot;
  const char* name;
};
constexpr PictureSlot kPictures[] = {
    {&GameImages::banana1, "banana_sm1.bmp"}, {&GameImages::title, "title800_3.bmp"},
    {&GameImages::banana2, "banana_sm1.bmp"}, {&GameImages::fly1, "fly1.bmp"},
    {&GameImages::fly2, "fly2.bmp"},          {&GameImages::help1, "help1.bmp"},
    {&GameImages::help2, "help2.bmp"},
};

// The working directory, or `unknown` when it cannot be told; once Init has run it
// is the media directory.
std::string WorkingDirectory(const char* unknown) {
  char path[4096];
  return getcwd(path, sizeof path) ? path : unknown;
}

// The game cannot run without a picture: say which one is missing, and where, then stop.
[[noreturn]] void MissingPicture(const char* name) {
  const std::string dir = WorkingDirectory("the media directory");
  LOG("Missing picture \"", name, "\" in ", dir, ", can't go on");
  allegro_message("Could not load the picture %s from %s", name, dir.c_str());
  std::exit(1);
}

void LoadGamePictures(ImageManager& imageManager) {
  for (const PictureSlot& picture : kPictures) {
    Image* image = imageManager.GetImage(picture.name);
    if (image == nullptr) MissingPicture(picture.name);
    gameImages.*picture.slot = image;
  }
}

BITMAP* CreateSplatterLayer() {
  BITMAP* layer = create_bitmap(SCREEN_W, SCREEN_H);
  if (layer == nullptr) {
    LOG("Couldn't create the splatter layer, can't go on");
    allegro_message("Could not create the splatter layer (out of memory?)");
    std::exit(1);
  }
  return layer;
}

// Returns when a game was chosen (true) or the player quit (false).
bool RunMenu(Menu& menu, BITMAP* backbuffer) {
  menu.clicked = false;
  menu.twoPlayer = false;
  logic_time = 0;
  ForgetTogglePresses();  // e.g. an M typed into a name is no toggle
  menu.shownImage = gameImages.title->bitmap;
  PlayMusic(Music::Title);
  while (!QuitRequested()) {
    if (MenuFrame(menu, backbuffer)) return true;
    StartSound();  // once, with the first title frame already on the screen
    AttractModeFrame(menu, backbuffer);
  }
  return false;
}

// A replay named on the command line, read before start-up (the path is the caller's);
// one that cannot be read ends the program with status 2.
ReplayCommand ReplayToPlay(const Options& options, Replay& replay) {
  const ReplayCommand& command = options.replay;
  std::string error = command.error;
  if (error.empty() && command.mode != ReplayMode::None) LoadReplayFromFileOrBoard(command.file, replay, error);
  if (error.empty()) return command;
  std::fprintf(stderr, "nanasplat: %s%s%s\n", command.file.c_str(), command.file.empty() ? "" : ": ",
               error.c_str());
  std::exit(2);
}

// A replay checked without a display: the library without a system driver (memory
// bitmaps only) and the pictures the bananas and flies need for their sizes; the game
// re-run unseen.
int CheckReplayWithoutDisplay(const Replay& replay) {
  if (install_allegro(SYSTEM_NONE, &errno, std::atexit) != 0) return 2;
  set_color_depth(16);
  ChangeToMediaDirectoryWithoutDisplay();
  ImageManager imageManager;
  LoadGamePictures(imageManager);
  RerunSetup setup;
  setup.area = {kScreenWidth, kScreenHeight};
  setup.banana = SizeOf(gameImages.banana1);
  setup.fly = SizeOf(gameImages.fly1);
  setup.gameVersion = NANASPLAT_VERSION;
  setup.mediaFingerprint = GameMediaFingerprint();
  return CheckReplay(replay, setup);
}

}  // namespace

int main(int argc, char** argv) {
  // Read before the library starts, so that --help and --version need no display.
  // (The library takes its executable's name from /proc, not from argv.)
  const Options options = HandleCommandLine(argc, argv);
  Replay replay;
  const ReplayCommand command = ReplayToPlay(options, replay);
  if (command.mode == ReplayMode::Check) return CheckReplayWithoutDisplay(replay);
  BITMAP* backbuffer = Init(kScreenWidth, kScreenHeight, "demo");
  if (backbuffer == nullptr) {
    LOG("Initialization failed -- invalid backbuffer on exit");
    exit(1);
  }
  LOG("Initialization succeeded");
  SetFont("font.dat");
  LOG("Beginning game loop");
  UseScoreTableFor(WorkingDirectory("."));
  SetMuted(LoadSettings().mute || options.mute);
  StartWorldBoard(options.scoreboard.empty() ? CurrentSettings().scoreboard : options.scoreboard);

  Menu menu;
  BuildMenuButtons(menu);
  // Declared after the buttons so that it is destroyed first, with every picture.
  ImageManager imageManager;
  LoadGamePictures(imageManager);
  BITMAP* splatterLayer = CreateSplatterLayer();
  InstallPads();
  CountTogglePresses();

  int status = 0;
  const bool watching = options.network.role == NetworkOptions::Role::Watch;
  if (watching) WatchLiveGame(backbuffer, splatterLayer, options.network);  // a game watched live, then the menu
  if (!watching && options.network.role != NetworkOptions::Role::None) {
    status = PlayNetworkGames(backbuffer, splatterLayer, options.network);
  } else if (command.mode != ReplayMode::None) {
    WatchReplay(backbuffer, splatterLayer, replay, "REPLAY", nullptr);
  } else {
    PauseWhenFocusIsLost();
    SetUpAttractMode([&](const Replay& demo, bool (*stop)()) {
      WatchReplay(backbuffer, splatterLayer, demo, "DEMO", stop);
    });
    while (!QuitRequested()) {
      if (RunMenu(menu, backbuffer)) PlayGame(backbuffer, splatterLayer, menu.twoPlayer);
    }
  }
  StopSound();
  destroy_bitmap(splatterLayer);
  destroy_bitmap(backbuffer);
  return status;
}
END_OF_MAIN()
