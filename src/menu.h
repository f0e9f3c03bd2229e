// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The title menu and the help pages.
#include <allegro.h>

#include <string>

#include "input.h"

struct Menu {
  Buttons mainMenu;
  Buttons helpPage1;
  Buttons helpPage2;
  Buttons* shownButtons = &mainMenu;
  BITMAP* shownImage = nullptr;  // the title or a help page
  bool clicked = false;          // left button seen down since all buttons were last up
  bool twoPlayer = false;
};

// The three button sets, sized to the current font.
void BuildMenuButtons(Menu& menu);
// Reacts to the label of a chosen button; true when it starts a game.
bool ActOnChoice(Menu& menu, const std::string& label);
// The shown page (the title or a help page) centred, with its buttons.
void DrawMenuPage(const Menu& menu, BITMAP* backbuffer);
// One pass of the menu loop; true when a game was chosen.
bool MenuFrame(Menu& menu, BITMAP* backbuffer);
