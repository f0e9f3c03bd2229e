// The game: entry and menu, game play, the banana, the fruit flies and the splats.
#include <allegro.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <unistd.h>

#include "debug.h"
#include "game.h"
#include "highscores.h"
#include "menu.h"
#include "fly.h"
#include "image.h"
#include "init.h"
#include "input.h"
#include "nana.h"
#include "splatter.h"
#include "util.h"

// ===========================================================================
// Banana: body and physics
// ===========================================================================

// ===========================================================================
// Banana: drawing
// ===========================================================================

// ===========================================================================
// Fruit flies
// ===========================================================================

// ===========================================================================
// Splatter
// ===========================================================================

// ===========================================================================
// Game play
// ===========================================================================

GameImages gameImages;

namespace {

// Colours of the play screens.
int White() { return makecol(255, 255, 255); }
int Black() { return makecol(0, 0, 0); }
int Red() { return makecol(255, 0, 0); }

constexpr int kTextGap = 40;       // second line of a level screen, below the first (pixels)
constexpr int kHudTop = 50;        // y of "P1: %d" and "Time Left: %d" (pixels)
constexpr int kHudP2Top = 100;     // y of "P2: %d" (pixels)
constexpr int kWallWidth = 20;     // the black walls (pixels)
constexpr int kFloorHeight = 21;   // the black floor, from the ground line down (pixels)

Vec2<double> NanaStart(int player, bool twoPlayer) {
  const double y = SCREEN_H - kNanaStartAboveBottom;
  if (player == 2) return {static_cast<double>(SCREEN_W * 3 / 4), y};
  return {static_cast<double>(twoPlayer ? SCREEN_W / 4 : SCREEN_W / 2), y};
}

void ShowBackBuffer(BITMAP* backbuffer) { blit(backbuffer, screen, 0, 0, 0, 0, SCREEN_W, SCREEN_H); }

// A level screen: two centred lines, then a wait for any key.
void ShowMessageAndWaitForKey(BITMAP* backbuffer, const char* first, const char* second) {
  clear_to_color(backbuffer, White());
  textprintf_centre_ex(backbuffer, Font(), SCREEN_W / 2, SCREEN_H / 2, Black(), -1, "%s", first);
  textprintf_centre_ex(backbuffer, Font(), SCREEN_W / 2, SCREEN_H / 2 + kTextGap, Black(), -1, "%s",
                       second);
  ShowBackBuffer(backbuffer);
  clear_keybuf();
  readkey();
}

void EmptyLevelLists(Game& game) {
  game.flies.clear();
  game.p2.extras.clear();
  game.p1.extras.clear();
}

// --- One tick ---

void CountDown(Game& game) {
  --game.p1.crazy;
  --game.timeLeft;
  --game.p2.crazy;
}

void DropExpiredExtras(Game& game) {
  if (game.p1.crazy <= 0) game.p1.extras.clear();
  if (game.p2.crazy <= 0) game.p2.extras.clear();
}

void StartCrazyMode(Player& player, int which) {
  player.crazy = kCrazyDuration;
  player.extras.clear();
  const int extras = player.streak / kCrazyExtrasPerStreak + kCrazyExtrasBase;
  for (int i = 0; i < extras; ++i) player.extras.push_back(MakeExtraNana(player.nana, which));
}

// The own banana touched the ground: the streak is closed, and may set off CRAZY mode.
void CloseStreak(Player& player, int which) {
  if (player.streak > kCrazyStreak && player.crazy <= kCrazyRestartAt) StartCrazyMode(player, which);
  player.streak = 0;
}

// Steps the player's banana and extras with the controls as they are at each step.
void StepPlayer(Player& player, int which) {
  Controls controls = ReadControls(which);
  const int onGround = player.nana.DoPhysics(controls.turn, controls.squash, GroundLine());
  for (Nana& extra : player.extras) {
    controls = ReadControls(which);
    extra.DoPhysics(controls.turn, controls.squash, GroundLine());
  }
  if (onGround != 0) CloseStreak(player, which);
}

// --- Drawing ---

void DrawBananas(const Player& player, BITMAP* buffer) {
  const_cast<Nana&>(player.nana).Draw(buffer);
  for (const Nana& extra : player.extras) const_cast<Nana&>(extra).Draw(buffer);
}

void DrawScore(BITMAP* buffer, const char* format, int score, int y) {
  textprintf_ex(buffer, Font(), SCREEN_W - kHudScoreInset, y, Black(), -1, format, score);
}

void DrawTimeLeft(const Game& game, BITMAP* buffer) {
  textprintf_centre_ex(buffer, Font(), SCREEN_W / 2, kHudTop, Black(), -1, "Time Left: %d",
                       game.timeLeft / kTicksPerSecond);
}

int Jitter() { return rand() % (2 * kCrazyJitter + 1) - kCrazyJitter; }

// "CRAZY" in red around (x, SCREEN_H / 2); the vertical jitter is drawn first.
void DrawCrazy(BITMAP* buffer, int x, bool jitterX) {
  const int y = SCREEN_H / 2 + Jitter();
  if (jitterX) x += Jitter();
  textprintf_centre_ex(buffer, Font(), x, y, Red(), -1, "CRAZY");
}

void DrawFloorAndWalls(BITMAP* buffer) {
  rectfill(buffer, 0, SCREEN_H - kFloorHeight, SCREEN_W, SCREEN_H, Black());
  rectfill(buffer, 0, 0, kWallWidth, SCREEN_H, Black());
  rectfill(buffer, SCREEN_W - kWallWidth, 0, SCREEN_W, SCREEN_H, Black());
}

void WaitForNextTick() {
  while (logic_time == 0) rest(0);
}

void PlayLevel(Game& game, BITMAP* backbuffer) {
  if (QuitRequested()) return;
  while (PlayFrame(game, backbuffer)) {
  }
}

}  // namespace

int FliesForLevel(int level) { return std::min(kFliesPerLevel * level, kMostFlies); }

int TimeLimitForLevel(int level) {
  return kFullTime - kTimeCutPerLevel * std::min(level, kLastShorterLevel);
}

int GroundLine() { return SCREEN_H - kGroundAboveBottom; }

Controls ReadControls(int player) {
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

Game::Game(bool twoPlayer, BITMAP* splatterLayer)
    : twoPlayer(twoPlayer),
      p1{Nana(gameImages.banana1, NanaStart(1, twoPlayer))},
      p2{Nana(gameImages.banana2, NanaStart(2, twoPlayer))},
      splatterLayer(splatterLayer) {}

bool QuitRequested() { return key[KEY_ESC] || quitnow; }

void SetUpLevel(Game& game) {
  logic_time = 0;
  game.p1.nana = Nana(gameImages.banana1, NanaStart(1, game.twoPlayer));
  game.p2.nana = Nana(gameImages.banana2, NanaStart(2, game.twoPlayer));
  game.p1.extras.clear();
  game.p2.extras.clear();
  clear_to_color(game.splatterLayer, White());
  game.flies = MakeFlies(game.level, gameImages.fly1, gameImages.fly2);
}

void StartLevelClock(Game& game) {
  logic_time = 0;
  game.cleared = false;
  game.p1.streak = game.p2.streak = 0;
  game.p1.crazy = game.p2.crazy = 0;
  game.timeLeft = TimeLimitForLevel(game.level);
}

void RunTick(Game& game) {
  CountDown(game);
  DropExpiredExtras(game);
  StepPlayer(game.p1, 1);
  if (game.twoPlayer) StepPlayer(game.p2, 2);
  FlyPass(game.flies, game.p1, game.p2, game.twoPlayer, game.level, game.splatterLayer);
}

bool CheckFlies(Game& game) {
  if (game.flies.empty()) {
    game.cleared = true;
    return true;
  }
  return game.timeLeft >= 0;
}

void DrawFrame(const Game& game, BITMAP* buffer) {
  DrawFlies(game.flies, buffer);
  DrawBananas(game.p1, buffer);
  DrawScore(buffer, "P1: %d", game.p1.score, kHudTop);
  DrawTimeLeft(game, buffer);
  if (game.p1.crazy > 0) DrawCrazy(buffer, game.twoPlayer ? SCREEN_W / 4 : SCREEN_W / 2, !game.twoPlayer);
  if (game.twoPlayer) {
    DrawBananas(game.p2, buffer);
    DrawScore(buffer, "P2: %d", game.p2.score, kHudP2Top);
    if (game.p2.crazy > 0) DrawCrazy(buffer, SCREEN_W * 3 / 4, true);
  }
  DrawFloorAndWalls(buffer);
}

bool PlayFrame(Game& game, BITMAP* backbuffer) {
  if (!CheckFlies(game)) return false;
  for (; logic_time > 0; --logic_time) RunTick(game);
  DrawFrame(game, backbuffer);
  ShowBackBuffer(backbuffer);
  clear_to_color(backbuffer, White());
  WaitForNextTick();
  blit(game.splatterLayer, backbuffer, 0, 0, 0, 0, game.splatterLayer->w, game.splatterLayer->h);
  return !QuitRequested() && !game.cleared;
}

LevelEnd DecideLevelEnd(const Game& game) {
  if (game.cleared) return LevelEnd::Cleared;
  if (game.timeLeft < 0) return LevelEnd::TimeUp;
  return LevelEnd::Quit;
}

void PlayGame(BITMAP* backbuffer, BITMAP* splatterLayer, bool twoPlayer) {
  Game game(twoPlayer, splatterLayer);
  while (!QuitRequested()) {
    SetUpLevel(game);
    char title[32];
    std::snprintf(title, sizeof title, "Level %d", game.level);
    ShowMessageAndWaitForKey(backbuffer, title, "Press any key to begin.");
    StartLevelClock(game);
    PlayLevel(game, backbuffer);

    switch (DecideLevelEnd(game)) {
      case LevelEnd::Cleared:
        std::snprintf(title, sizeof title, "Level %d clear!", game.level);
        ++game.level;
        ShowMessageAndWaitForKey(backbuffer, title, "Press any key to continue.");
        EmptyLevelLists(game);
        break;
      case LevelEnd::TimeUp:
        ShowMessageAndWaitForKey(backbuffer, "Time up!  The fruit flies got to you ...",
                                 "Press any key to continue.");
        HighScores(backbuffer, game.p1.score, "Player 1");
        if (game.twoPlayer) HighScores(backbuffer, game.p2.score, "Player 2");
        EmptyLevelLists(game);
        return;
      case LevelEnd::Quit:
        EmptyLevelLists(game);
        return;
    }
  }
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

std::string WorkingDirectory() {
  char path[4096];
  return getcwd(path, sizeof path) ? path : "the media directory";
}

// The game cannot run without a picture: say which one is missing, and where, then stop.
[[noreturn]] void MissingPicture(const char* name) {
  const std::string dir = WorkingDirectory();
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
  menu.shownImage = gameImages.title->bitmap;
  while (!QuitRequested()) {
    if (MenuFrame(menu, backbuffer)) return true;
  }
  return false;
}

}  // namespace

int main() {
  BITMAP* backbuffer = Init(1024, 768, "demo");
  if (backbuffer == nullptr) {
    LOG("Initialization failed -- invalid backbuffer on exit");
    exit(1);
  }
  LOG("Initialization succeeded");
  SetFont("font.dat");
  LOG("Beginning game loop");

  Menu menu;
  BuildMenuButtons(menu);
  // Declared after the buttons so that it is destroyed first, with every picture.
  ImageManager imageManager;
  LoadGamePictures(imageManager);
  BITMAP* splatterLayer = CreateSplatterLayer();

  while (!QuitRequested()) {
    if (RunMenu(menu, backbuffer)) PlayGame(backbuffer, splatterLayer, menu.twoPlayer);
  }
  return 0;
}
END_OF_MAIN()
#endif
