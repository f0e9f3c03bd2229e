// SPDX-License-Identifier: GPL-3.0-or-later
// The game: entry and menu, the play loop and its level screens, the banana sprite's turned copy.
#include <allegro.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
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
#include "replay.h"
#include "settings.h"
#include "shutdown.h"
#include "sound.h"
#include "sim/trig.h"
#include "splatter.h"
#include "taps.h"
#include "userdata.h"
#include "worldboard.h"
#include "util.h"

// ===========================================================================
// Banana: the turned copy of its sprite
// ===========================================================================

namespace {
// The library's angle units for half a turn.
constexpr int kHalfTurnUnits = 128;
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

constexpr int kTextGap = 40;       // second line of a level screen, below the first (pixels)

void ShowBackBuffer(BITMAP* backbuffer) {
  if (!ReplayShowsFrames()) return;  // a replay checked at full speed draws off-screen
  blit(backbuffer, screen, 0, 0, 0, 0, SCREEN_W, SCREEN_H);
}

void MuteOnKey();

// A level screen: two centred lines, then a wait for any key.
void ShowMessageAndWaitForKey(BITMAP* backbuffer, const char* first, const char* second) {
  clear_to_color(backbuffer, White());
  textprintf_centre_ex(backbuffer, Font(), SCREEN_W / 2, SCREEN_H / 2, Black(), -1, "%s", first);
  textprintf_centre_ex(backbuffer, Font(), SCREEN_W / 2, SCREEN_H / 2 + kTextGap, Black(), -1, "%s",
                       second);
  ShowBackBuffer(backbuffer);
  clear_keybuf();
  WaitAtLevelScreen(backbuffer, WaitForKeyOrPadButton, MuteOnKey);
}

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

// M turns all sound off and on again; the choice is kept for the next run.
void MuteOnKey() {
  if (!TakeTogglePress(Toggle::Mute)) return;
  ToggleMute();
  LOG(Muted() ? "Sound off (M)" : "Sound on (M)");
  ChangeSetting(&Settings::mute, Muted());
}

void WaitForNextTick() {
  while (!NextTickArrived()) {
    SamplePadStart();
    rest(0);
  }
}

// While paused the ticks are dropped as they come: each paused frame waits for a fresh
// one, sleeping rather than spinning, and a quit request ends the wait at once.
void WaitOutPausedTick() {
  logic_time = 0;
  while (logic_time == 0 && !QuitRequested()) {
    SamplePadStart();
    rest(1);
  }
}

// A frame while paused: no tick runs; the picture kept when the pause began (it draws
// no random numbers, so a pause of any length leaves the game's sequence as it was)
// with the pause texts over it.
bool PlayPausedFrame(BITMAP* backbuffer) {
  MuteOnKey();
  DrawPauseTexts(backbuffer);
  ShowBackBuffer(backbuffer);
  WaitOutPausedTick();
  return !QuitRequested();
}

// Either input sways the banana; each device turns it one way at most.
Controls Combined(Controls a, PadControls b) {
  return {std::clamp(a.turn + b.turn, -1, 1), a.squash || b.squash};
}

// Player 1's keys, or player 2's mouse buttons.
Controls ReadKeysOrMouse(int player) {
  if (player == 1) {
    const int right = (key[KEY_RIGHT] || key[KEY_D]) ? 1 : 0;
    const int left = (key[KEY_LEFT] || key[KEY_A]) ? 1 : 0;
    return {right - left, key[KEY_SPACE] || key[KEY_DOWN] || key[KEY_S]};
  }
  const int buttons = mouse_b;
  const bool leftButton = buttons & 1;
  const bool rightButton = buttons & 2;
  return {(rightButton ? 1 : 0) - (leftButton ? 1 : 0), leftButton && rightButton};
}

// What the player's devices say now.
Controls ReadDeviceControls(int player) { return Combined(ReadKeysOrMouse(player), ReadPad(player)); }

void PlayLevel(Game& game, BITMAP* backbuffer) {
  if (QuitRequested()) return;
  StartPause(game.pause);
  while (PlayFrame(game, backbuffer)) {
  }
  ResumeSound();  // a level left while paused holds no sound back
}

// All pending ticks, one after the other (ticks that come meanwhile run too).
void RunPendingTicks(Game& game) {
  for (; TickDue(); TickDone()) RunTick(game);
}

// Levels one after the other, each begun with its set-up and intro screen, until one
// ends other than cleared or a quit is asked for before the next one begins.
LevelEnd PlayLevels(Game& game, BITMAP* backbuffer) {
  while (!QuitRequested()) {
    SetUpLevel(game);
    char title[32];
    std::snprintf(title, sizeof title, "Level %d", game.level);
    PlayEffect(Effect::Level, SCREEN_W / 2);
    ShowMessageAndWaitForKey(backbuffer, title, "Press any key to begin.");
    StartLevelClock(game);
    PlayLevel(game, backbuffer);

    const LevelEnd end = DecideLevelEnd(game);
    if (end != LevelEnd::Cleared) return end;
    std::snprintf(title, sizeof title, "Level %d clear!", game.level);
    NextLevel(game);
    PlayEffect(Effect::Clear, SCREEN_W / 2);
    ShowMessageAndWaitForKey(backbuffer, title, "Press any key to continue.");
  }
  return LevelEnd::Quit;
}

void ShowTimeUpAndOfferScores(const Game& game, BITMAP* backbuffer) {
  PlayEffect(Effect::TimeUp, SCREEN_W / 2);
  ShowMessageAndWaitForKey(backbuffer, "Time up!  The fruit flies got to you ...",
                           "Press any key to continue.");
  if (PlayingBack()) return;  // a replayed game's scores were offered when it was played
  HighScores(backbuffer, game.p1.score, "Player 1");
  if (game.twoPlayer) HighScores(backbuffer, game.p2.score, "Player 2");
  OfferLastGameToWorldBoard();
}

}  // namespace

int GroundLine() { return SCREEN_H - kGroundMargin; }

Controls ReadControls(int player) { return ReplayControls(player, ReadDeviceControls); }

void WaitForKeyOrPadButton() {
  PadPresses presses = WatchPadPresses();
  while (!keypressed() && !NewPadPress(presses) && QuitSignal() == 0) rest(1);
  if (keypressed()) readkey();
}

namespace {
// The screen's size; without a screen, the splatter layer's (pixels).
PlayArea ScreenArea(BITMAP* splatterLayer) {
  if (SCREEN_W > 0 || splatterLayer == nullptr) return {SCREEN_W, SCREEN_H};
  return {splatterLayer->w, splatterLayer->h};
}
}  // namespace

Game::Game(bool twoPlayer, BITMAP* splatterLayer)
    : GameState(twoPlayer, ScreenArea(splatterLayer), SizeOf(gameImages.banana1), SizeOf(gameImages.fly1)),
      splatterLayer(splatterLayer) {}

bool QuitRequested() { return key[KEY_ESC] || quitnow || ReplayReachedItsEnd(); }

void SetUpLevel(Game& game) {
  logic_time = 0;
  game.bananaSize = SizeOf(gameImages.banana1);
  game.flySize = SizeOf(gameImages.fly1);
  game.flipped.reset(MakeFlippedCopy(gameImages.banana1 != nullptr ? gameImages.banana1->bitmap : nullptr),
                     [](BITMAP* bitmap) { if (bitmap != nullptr) destroy_bitmap(bitmap); });
  if (game.splatterLayer != nullptr) clear_to_color(game.splatterLayer, White());
  BeginLevel(game);
}

void StartLevelClock(Game& game) {
  logic_time = 0;
  StartLevelClock(static_cast<GameState&>(game));
}

TickControls ReadTickControls(const GameState& game) {
  TickControls controls;
  for (int player = 1; player <= 2; ++player) {
    const int readings = std::min(ReadingsForTick(game, player), kMaxReadings);
    for (int i = 0; i < readings; ++i) controls.readings[player - 1][i] = ReadControls(player);
    controls.count[player - 1] = readings;
  }
  return controls;
}

void ActOnTick(Game& game, const TickEvents& events) {
  for (size_t i = 0; i < events.splatsMade && ReplayShowsFrames(); ++i) {
    PaintSplat(game.splatterLayer, game, game.splats[events.firstSplat + i]);
  }
  for (int i = 0; i < events.soundCount; ++i) PlayEffect(EffectOf(events.sounds[i].sound), events.sounds[i].x);
}

void RunTick(Game& game) { ActOnTick(game, RunTick(game, ReadTickControls(game))); }

bool PlayFrame(Game& game, BITMAP* backbuffer) {
  if (UpdatePause(game.pause, backbuffer, game.splatterLayer)) return PlayPausedFrame(backbuffer);
  if (!CheckFlies(game)) return false;
  MuteOnKey();
  RunPendingTicks(game);
  if (!ReplayShowsFrames()) {
    // A replay checked at full speed: no picture, only the numbers drawing takes.
    TakeFrameDraws(game);
    WaitForNextTick();
    return !QuitRequested() && !game.cleared;
  }
  DrawFrame(game, backbuffer);
  DrawReplayMark(backbuffer);
  ShowBackBuffer(backbuffer);
  clear_to_color(backbuffer, White());
  WaitForNextTick();
  blit(game.splatterLayer, backbuffer, 0, 0, 0, 0, game.splatterLayer->w, game.splatterLayer->h);
  return !QuitRequested() && !game.cleared;
}

// New local games move with the portable trigonometry once replays record which they
// moved with (format version 2); until then with the C library's, as always.
constexpr uint8_t kLocalMathRevision = kReplayFormatVersion >= 2 ? kPortableMath : kLibraryMath;

void PlayGame(BITMAP* backbuffer, BITMAP* splatterLayer, bool twoPlayer) {
  Game game(twoPlayer, splatterLayer);
  game.mathRevision = GameMathRevision(kLocalMathRevision);
  PlayMusic(Music::Play);
  BeginGameRecord(twoPlayer);
  uint64_t seed = 0;
  if (PlaybackOwnRandom(seed)) game.random = OwnRandom(seed);  // a network game's replay
  const LevelEnd end = PlayLevels(game, backbuffer);
  FinishGameRecord(game, end);
  if (end == LevelEnd::TimeUp) ShowTimeUpAndOfferScores(game, backbuffer);
  EmptyLevelLists(game);
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
  setup.mediaFingerprint = MediaFingerprint(PictureOf(gameImages.banana1), PictureOf(gameImages.fly1),
                                            PictureOf(gameImages.fly2));
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
  if (options.network.role != NetworkOptions::Role::None) {
    status = PlayNetworkGames(backbuffer, splatterLayer, options.network);
  } else if (command.mode != ReplayMode::None) {
    status = RunReplay(command.mode == ReplayMode::Demo, replay,
                       [&](bool twoPlayer) { PlayGame(backbuffer, splatterLayer, twoPlayer); });
  } else {
    PauseWhenFocusIsLost();
    SetUpAttractMode([&](bool twoPlayer) { PlayGame(backbuffer, splatterLayer, twoPlayer); });
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
