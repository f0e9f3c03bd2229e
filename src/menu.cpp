// SPDX-License-Identifier: GPL-3.0-or-later
// The main menu: the title with its buttons, and the two help pages.
#include "menu.h"

#include <allegro.h>

#include <iterator>
#include <string>
#include <utility>

#include "clock.h"
#include "debug.h"
#include "draw.h"
#include "game.h"
#include "util.h"
#include "sound.h"
#include "taps.h"
#include "vec2.h"

namespace {

// Room between the main menu's buttons, and from the lowest one to the bottom (pixels).
constexpr int kMenuPitch = 50;
// The help pages' buttons are centred this far in from the left and right edges (pixels).
constexpr int kHelpButtonInset = 100;
constexpr int kPointerSize = 5;  // the pointer: a red square from the mouse to this far right and down (pixels)

void AddCentredButton(Buttons& set, int centreX, int y, const char* label) {
  set.AddButton(Vec2<int>{centreX - text_length(Font(), label) / 2, y}, label);
}

void ShowPage(Menu& menu, Image* page, Buttons& buttons) {
  menu.shownImage = page->bitmap;
  menu.shownButtons = &buttons;
}

}  // namespace

void BuildMenuButtons(Menu& menu) {
  const char* const titleLabels[] = {"Single Player", "Two Player", "Help", "Quit"};  // top to bottom
  const int rows = static_cast<int>(std::size(titleLabels));
  for (int i = 0; i < rows; ++i) {
    AddCentredButton(menu.mainMenu, SCREEN_W / 2, SCREEN_H - (rows - i) * kMenuPitch, titleLabels[i]);
  }
  for (auto [page, onward] : {std::pair{&menu.helpPage1, "Next"}, std::pair{&menu.helpPage2, "Done"}}) {
    AddCentredButton(*page, kHelpButtonInset, SCREEN_H - kMenuPitch, "Back");
    AddCentredButton(*page, SCREEN_W - kHelpButtonInset, SCREEN_H - kMenuPitch, onward);
  }
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
  // "Back" leads from the second help page to the first, from the first to the title.
  const bool back = label == "Back";
  if (label == "Help" || (back && menu.shownButtons != &menu.helpPage1)) {
    ShowPage(menu, gameImages.help1, menu.helpPage1);
  } else if (label == "Next") {
    ShowPage(menu, gameImages.help2, menu.helpPage2);
  } else if (back || label == "Done") {
    ShowPage(menu, gameImages.title, menu.mainMenu);
  } else if (label == "Quit") {
    LOG("Quitting game from main menu.");
    quitnow = true;
  }
  return false;
}

void DrawMenuPage(const Menu& menu, BITMAP* backbuffer) {
  BITMAP* image = menu.shownImage;
  blit(image, backbuffer, 0, 0, (SCREEN_W - image->w) / 2, (SCREEN_H - image->h) / 2, image->w, image->h);
  menu.shownButtons->DrawButtons(backbuffer, mouse_x, mouse_y);
}

bool MenuFrame(Menu& menu, BITMAP* backbuffer) {
  if (logic_time > 0) logic_time = 0;
  MuteOnKey();
  if (mouse_b & 1) menu.clicked = true;
  if (mouse_b == 0) {
    if (menu.clicked && ActOnChoice(menu, menu.shownButtons->GetButtonUnder(mouse_x, mouse_y))) return true;
    menu.clicked = false;
  }
  DrawMenuPage(menu, backbuffer);
  rect(backbuffer, mouse_x, mouse_y, mouse_x + kPointerSize, mouse_y + kPointerSize, Red());  // the pointer
  blit(backbuffer, screen, 0, 0, 0, 0, SCREEN_W, SCREEN_H);
  clear_to_color(backbuffer, White());
  return false;
}
