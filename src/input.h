// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Buttons, key presses, the text prompt and the file selector.
#include <allegro.h>

#include <functional>
#include <string>
#include <vector>

#include "vec2.h"

// A labelled rectangle covering x1..x2 and y1..y2 inclusive.
class Button {
 public:
  int x1;
  int y1;
  int x2;
  int y2;
  std::string name;

  // Strictly inside: a point on the outline is outside.
  bool Inside(int x, int y);
  // Outline green under the mouse, red otherwise; white face; blue centred label.
  void Draw(BITMAP* bmp, int mouseX, int mouseY);
  std::string GetName();
};

class Buttons {
 public:
  std::vector<Button> buttons;

  void AddButton(Button b);
  // A button at `pos` sized to its label in the current font.
  void AddButton(Vec2<int> pos, std::string name);
  void DrawButtons(BITMAP* bmp, int mouseX, int mouseY);
  // The label of the first button under (x, y), or "" when there is none.
  std::string GetButtonUnder(int x, int y);
};

// True once per press of key code `k`: when the key is down and that press has not
// been reported yet. Latches are shared by all callers. A code the library has no
// key for (negative, or KEY_MAX and above) is never down.
bool keyhit(char k);

// The one wait of the game's own screens: until `done` says so, calling `serve` (when
// given: the network connection's service, say) on every pass, a millisecond apart.
void WaitUntil(const std::function<bool()>& done, const std::function<void()>& serve = nullptr);
bool AnyKeyHeld();
// The keys still held (the one that ended a screen) go up, for two seconds at the most,
// and type nothing on the next screen.
void WaitForKeysUp(const std::function<void()>& serve = nullptr);

// Modal prompt for one word of at most maxLength characters (letters, digits, blanks,
// full stops), prompt line centred on x with its top at y; starts with `initial` cut
// to maxLength - 1 characters and ends on Enter. Returns "malloc failed" without
// drawing when no buffer of maxLength + 1 bytes can be had (also for maxLength below
// 1 or equal to INT_MAX). Escape or the quit request end the process with status 0.
std::string GetWord(BITMAP* buffer, int x, int y, int maxLength, std::string prompt,
                    std::string initial);
// The same prompt centred on the screen, as many characters long as letters W fit
// across it, less two.
std::string GetWord(BITMAP* buffer, std::string prompt, std::string initial);

// Modal chooser among the files matching `wildcard` (directories left out), moved
// with Up and Down and ended by Enter; "" without drawing when none matches. Escape or
// the quit request end the process with status 0.
std::string SelectFile(BITMAP* buffer, const char* wildcard, const char* prompt);
// File enumeration callback: appends the name to the std::vector<std::string> at param.
int fill(const char* filename, int attrib, void* param);
