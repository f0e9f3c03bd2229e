// SPDX-License-Identifier: GPL-3.0-or-later
// The game: entry and menu, the play loop and its level screens, the banana sprite's turned copy.
#include <allegro.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <memory>
#include <utility>

#include <unistd.h>

#include "attract.h"
#include "debug.h"
#include "draw.h"
#include "game.h"
#include "highscores.h"
#include "menu.h"
#include "fly.h"
#include "image.h"
#include "init.h"
#include "input.h"
#include "nana.h"
#include "netplay.h"
#include "options.h"
#include "pad.h"
#include "pause.h"
#include "playloop.h"
#include "gamerecord.h"
#include "replay.h"
#include "settings.h"
#include "shutdown.h"
#include "sound.h"
#include "sim/trig.h"
#include "splatter.h"
#include "taps.h"
#include "userdata.h"
#include "watchplay.h"
#include "worldboard.h"
#include "util.h"

// ===========================================================================
// Banana: the turned copy of its sprite
// ===========================================================================

namespace {
const char* const kFlippedFailure = "Couldn't create buffer for 180 rot'd copy of sprite";
}  // namespace

BITMAP* MakeFlippedCopy(BITMAP* sprite) {
  if (sprite == nullptr || sprite->w <= 0 || sprite->h <= 0) return nullptr;
  BITMAP* flipped = create_bitmap(sprite->w, sprite->h);
  if (flipped == nullptr) {
    LOG(kFlippedFailure);
    return nullptr;
  }
  clear_to_color(flipped, makecol(255, 0, 255));
  rotate_sprite(flipped, sprite, 0, 0, itofix(kHalfTurnUnits));
  return flipped;
}

// ===========================================================================
// Game play
// ===========================================================================

namespace {

constexpr int kWatchedScreenMs = 2000;  // a watched replay's level screens (milliseconds)
constexpr int kMarkInset = 30;          // the mark's distance from the top-left corner (pixels)

void ShowBackBuffer(BITMAP* backbuffer) { blit(backbuffer, screen, 0, 0, 0, 0, SCREEN_W, SCREEN_H); }

// The sounds of the rules' events.
Effect EffectOf(SimSound sound) {
  switch (sound) {
    case SimSound::Jump: return Effect::Jump;
    case SimSound::Land: return Effect::Land;
    case SimSound::Crazy: return Effect::Crazy;
    case SimSound::Splat: break;
  }
  return Effect::Splat;
}

// The devices as a source: this computer's controls, as many ticks a frame as the
// 60 Hz clock has pending, and the portable trigonometry.
class DeviceSource : public ControlSource {
 public:
  void BeginGame(GameState& game) override { game.mathRevision = kPortableMath; }
  FramePlan OpenFrame() override { return {kPendingTicks, false}; }
  Controls Read(int player) override { return ReadControls(player); }
  bool ReachedItsEnd(uint64_t, uint32_t) const override { return false; }
};

// A game on this screen: paced by the 60 Hz clock, drawn and heard; or unseen.
class ScreenPresenter : public Presenter {
 public:
  ScreenPresenter(Game& game, BITMAP* backbuffer, const Showing& showing)
      : game_(game), backbuffer_(backbuffer), showing_(showing) {}

  bool QuitAsked() override { return key[KEY_ESC] || quitnow || (showing_.stop != nullptr && showing_.stop()); }

  // A watched replay waits for each of its ticks to come; the devices run those pending.
  bool TickCame(bool wait) override {
    if (!showing_.paced) return true;
    if (!wait) return logic_time > 0;
    while (logic_time == 0) {
      if (QuitAsked()) return false;
      rest(1);
    }
    return true;
  }
  void TickUsed() override {
    if (showing_.paced && logic_time > 0) --logic_time;
  }

  void SetUpLevel(GameState&) override { SetUpLevelPictures(game_); }
  void StartLevelClock() override { logic_time = 0; }

  void ShowLevelScreen(LevelScreen screen, int level) override {
    char title[32];
    if (screen == LevelScreen::Begin) {
      std::snprintf(title, sizeof title, "Level %d", level);
      PlayEffect(Effect::Level, SCREEN_W / 2);
    } else {
      std::snprintf(title, sizeof title, "Level %d clear!", level);
      PlayEffect(Effect::Clear, SCREEN_W / 2);
    }
    ShowMessageAndWait(title, screen == LevelScreen::Begin ? "Press any key to begin." : "Press any key to continue.");
  }

  // A level screen: two centred lines, then a wait: for a key in a game, for two
  // seconds in a replay watched (M still mutes), none unseen.
  void ShowMessageAndWait(const char* first, const char* second) {
    DrawTextScreen(backbuffer_, first, second);
    if (!showing_.paced) return;
    ShowBackBuffer(backbuffer_);
    clear_keybuf();
    if (showing_.mark == nullptr) {
      WaitForKeyOrPadButton();
      return;
    }
    DrawMark();
    ShowBackBuffer(backbuffer_);
    for (int waited = 0; waited < kWatchedScreenMs && !QuitAsked(); waited += 10) {
      MuteOnKey();
      rest(10);
    }
  }

  void LevelBegins(GameState&) override { StartPause(game_.pause); }
  void LevelEnds() override { ResumeSound(); }  // a level left while paused holds no sound back

  // While paused the picture kept when the pause began (it draws no random numbers, so
  // a pause of any length leaves the game's sequence as it was), the pause texts over
  // it; the ticks are dropped as they come, each frame waiting for a fresh one.
  bool PausedFrame(GameState&) override {
    if (!UpdatePause(game_.pause, backbuffer_, game_.splatterLayer)) return false;
    MuteOnKey();
    DrawPauseTexts(backbuffer_);
    ShowBackBuffer(backbuffer_);
    logic_time = 0;
    while (logic_time == 0 && !QuitAsked()) {
      SamplePadStart();
      rest(1);
    }
    return true;
  }

  void BeforeTicks() override { MuteOnKey(); }

  void ActOnTick(GameState&, const TickEvents& events) override {
    for (size_t i = 0; i < events.splatsMade && showing_.paced; ++i) {
      PaintSplat(game_.splatterLayer, game_, game_.splats[events.firstSplat + i]);
    }
    for (int i = 0; i < events.soundCount; ++i) PlayEffect(EffectOf(events.sounds[i].sound), events.sounds[i].x);
  }

  void ShowFrame(const GameState&) override {
    if (!showing_.paced) {
      TakeFrameDraws(game_);  // unseen: only the numbers drawing takes
      return;
    }
    DrawFrame(game_, backbuffer_);
    DrawMark();
    ShowBackBuffer(backbuffer_);
    clear_to_color(backbuffer_, White());
    while (logic_time == 0) {
      SamplePadStart();
      rest(0);
    }
    blit(game_.splatterLayer, backbuffer_, 0, 0, 0, 0, game_.splatterLayer->w, game_.splatterLayer->h);
  }

 private:
  // "REPLAY" over a watched replay's frame (above the play area's texts), or "DEMO".
  void DrawMark() {
    if (showing_.mark == nullptr) return;
    textprintf_ex(backbuffer_, Font(), kMarkInset, kMarkInset / 3, Red(), -1, "%s", showing_.mark);
  }

  Game& game_;
  BITMAP* backbuffer_;
  Showing showing_;
};

void ShowTimeUpAndOfferScores(const Game& game, ScreenPresenter& presenter, BITMAP* backbuffer, bool offer,
                              const Replay& record) {
  PlayEffect(Effect::TimeUp, SCREEN_W / 2);
  presenter.ShowMessageAndWait("Time up!  The fruit flies got to you ...", "Press any key to continue.");
  if (!offer) return;  // a replayed game's scores were offered when it was played
  SetWorldBoardTableGame(record);
  HighScores(backbuffer, game.p1.score, "Player 1");
  if (game.twoPlayer) HighScores(backbuffer, game.p2.score, "Player 2");
  OfferGameToWorldBoard(record);
}

// A whole game from `source`, shown as `showing` says, recorded.
Replay PlayFrom(ControlSource& source, const Showing& showing, BITMAP* backbuffer, BITMAP* splatterLayer,
                bool twoPlayer) {
  Game game(twoPlayer, splatterLayer);
  ScreenPresenter presenter(game, backbuffer, showing);
  GameRecorder recorder(NANASPLAT_VERSION, GameMediaFingerprint());
  PlayLoop play{source, presenter, &recorder};
  PlayMusic(Music::Play);
  const LevelEnd end = PlayGame(play, game);
  LogGameOver(recorder.Record().summary, nullptr);
  if (showing.offerScores) WriteGameRecord(recorder.Record());
  if (end == LevelEnd::TimeUp) ShowTimeUpAndOfferScores(game, presenter, backbuffer, showing.offerScores, recorder.Record());
  EmptyLevelLists(game);
  return recorder.Record();
}

}  // namespace







void SetUpLevelPictures(Game& game) {
  logic_time = 0;
  game.bananaSize = SizeOf(gameImages.banana1);
  game.flySize = SizeOf(gameImages.fly1);
  game.flipped.reset(MakeFlippedCopy(PictureOf(gameImages.banana1)),
                     [](BITMAP* bitmap) { if (bitmap != nullptr) destroy_bitmap(bitmap); });
  if (game.splatterLayer != nullptr) clear_to_color(game.splatterLayer, White());
}

void SetUpLevel(Game& game) {
  SetUpLevelPictures(game);
  BeginLevel(game);
}

void StartLevelClock(Game& game) {
  logic_time = 0;
  StartLevelClock(static_cast<GameState&>(game));
}

bool PlayFrame(Game& game, BITMAP* backbuffer) {
  DeviceSource devices;
  ScreenPresenter presenter(game, backbuffer, Showing{});
  PlayLoop play{devices, presenter};
  return PlayFrame(play, game);
}

void RunTick(Game& game) {
  DeviceSource devices;
  ScreenPresenter presenter(game, nullptr, Showing{});
  PlayLoop play{devices, presenter};
  RunTick(play, game);
}

void ActOnTick(Game& game, const TickEvents& events) {
  ScreenPresenter presenter(game, nullptr, Showing{});
  presenter.ActOnTick(game, events);
}

Replay PlayGame(BITMAP* backbuffer, BITMAP* splatterLayer, bool twoPlayer) {
  DeviceSource devices;
  return PlayFrom(devices, Showing{}, backbuffer, splatterLayer, twoPlayer);
}

Replay PlayReplay(BITMAP* backbuffer, BITMAP* splatterLayer, const Replay& replay, const Showing& showing) {
  ReplaySource source(replay);
  return PlayFrom(source, showing, backbuffer, splatterLayer, replay.players == 2);
}

void WatchReplay(BITMAP* backbuffer, BITMAP* splatterLayer, const Replay& replay, const char* mark, bool (*stop)()) {
  LOG("Playing back the replay", " of ", SummaryText(replay.summary));
  StartSound();  // a watched game sounds as it did (M and --mute as in play)
  Showing watched;
  watched.mark = mark;
  watched.offerScores = false;
  watched.stop = stop;
  PlayReplay(backbuffer, splatterLayer, replay, watched);
}

// ===========================================================================
// Program entry and main menu
// ===========================================================================

namespace {

// Room between the main menu's buttons, and from the lowest one to the bottom (pixels).
constexpr int kMenuPitch = 50;
// The help pages' buttons are centred this far in from the left and right edges (pixels).
constexpr int kHelpButtonInset = 100;

void AddCentredButton(Buttons& set, int centreX, int y, const char* label) {
  set.AddButton(Vec2<int>{centreX - text_length(Font(), label) / 2, y}, label);
}

void ShowPage(Menu& menu, Image* page, Buttons& buttons) {
  menu.shownImage = page->bitmap;
  menu.shownButtons = &buttons;
}

void DrawShownImage(const Menu& menu, BITMAP* backbuffer) {
  BITMAP* image = menu.shownImage;
  blit(image, backbuffer, 0, 0, (SCREEN_W - image->w) / 2, (SCREEN_H - image->h) / 2, image->w,
       image->h);
}

void DrawPointer(BITMAP* backbuffer) {
  constexpr int kPointerSize = 5;  // pixels
  rect(backbuffer, mouse_x, mouse_y, mouse_x + kPointerSize, mouse_y + kPointerSize, makecol(255, 0, 0));
}

}  // namespace

void BuildMenuButtons(Menu& menu) {
  const int middle = SCREEN_W / 2;
  AddCentredButton(menu.mainMenu, middle, SCREEN_H - 4 * kMenuPitch, "Single Player");
  AddCentredButton(menu.mainMenu, middle, SCREEN_H - 3 * kMenuPitch, "Two Player");
  AddCentredButton(menu.mainMenu, middle, SCREEN_H - 2 * kMenuPitch, "Help");
  AddCentredButton(menu.mainMenu, middle, SCREEN_H - kMenuPitch, "Quit");
  AddCentredButton(menu.helpPage1, kHelpButtonInset, SCREEN_H - kMenuPitch, "Back");
  AddCentredButton(menu.helpPage1, SCREEN_W - kHelpButtonInset, SCREEN_H - kMenuPitch, "Next");
  AddCentredButton(menu.helpPage2, kHelpButtonInset, SCREEN_H - kMenuPitch, "Back");
  AddCentredButton(menu.helpPage2, SCREEN_W - kHelpButtonInset, SCREEN_H - kMenuPitch, "Done");
  menu.shownButtons = &menu.mainMenu;
}

bool ActOnChoice(Menu& menu, const std::string& label) {
  if (label.empty()) return false;
  PlayEffect(Effect::Click, mouse_x);
  if (label == "Single Player") return true;
  if (label == "Two Player") {
    menu.twoPlayer = true;
    return true;
  }
  if (label == "Help") {
    ShowPage(menu, gameImages.help1, menu.helpPage1);
  } else if (label == "Back") {
    if (menu.shownButtons == &menu.helpPage1) {
      ShowPage(menu, gameImages.title, menu.mainMenu);
    } else {
      ShowPage(menu, gameImages.help1, menu.helpPage1);
    }
  } else if (label == "Next") {
    ShowPage(menu, gameImages.help2, menu.helpPage2);
  } else if (label == "Done") {
    ShowPage(menu, gameImages.title, menu.mainMenu);
  } else if (label == "Quit") {
    LOG("Quitting game from main menu.");
    quitnow = true;
  } else {
    allegro_message("Functionality for %s not yet implemented", label.c_str());
  }
  return false;
}

bool MenuFrame(Menu& menu, BITMAP* backbuffer) {
  if (logic_time > 0) logic_time = 0;
  MuteOnKey();
  if (mouse_b & 1) menu.clicked = true;
  if (mouse_b == 0) {
    if (menu.clicked && ActOnChoice(menu, menu.shownButtons->GetButtonUnder(mouse_x, mouse_y))) {
      return true;
    }
    menu.clicked = false;
  }
  DrawShownImage(menu, backbuffer);
  menu.shownButtons->DrawButtons(backbuffer, mouse_x, mouse_y);
  DrawPointer(backbuffer);
  ShowBackBuffer(backbuffer);
  clear_to_color(backbuffer, makecol(255, 255, 255));
  return false;
}

#ifndef NANASPLAT_NO_ENTRY
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
  if (watching) {  // a game watched live, then the menu
    WatchLiveGame(backbuffer, splatterLayer, options.network, [&](Game& game) {
      Showing live;
      live.mark = "LIVE";
      live.offerScores = false;
      return std::make_unique<ScreenPresenter>(game, backbuffer, live);
    });
  }
  if (!watching && options.network.role != NetworkOptions::Role::None) {
    status = PlayNetworkGames(backbuffer, splatterLayer, options.network,
                              [&](Game& game) { return std::make_unique<ScreenPresenter>(game, backbuffer, Showing{}); });
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
#endif
