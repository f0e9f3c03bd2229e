// SPDX-License-Identifier: GPL-3.0-or-later
#include "input.h"

#include <algorithm>

#include <climits>
#include <cstdlib>
#include <cstring>

#include "debug.h"
#include "game.h"
#include "pad.h"
#include "shutdown.h"
#include "init.h"
#include "util.h"

// ---- Buttons ----

namespace {
// Room left and right of a button's label, in pixels (five on each side).
constexpr int kButtonLabelRoom = 10;
}  // namespace

bool Button::Inside(int x, int y) { return x1 < x && x < x2 && y1 < y && y < y2; }

void Button::Draw(BITMAP* bmp, int mouseX, int mouseY) {
  const bool hover = Inside(mouseX, mouseY);
  rect(bmp, x1, y1, x2, y2, hover ? makecol(0, 255, 0) : makecol(255, 0, 0));
  rectfill(bmp, x1 + 1, y1 + 1, x2 - 1, y2 - 1, makecol(255, 255, 255));
  // For a button sized to its label the label's top lands exactly on y1.
  textprintf_centre_ex(bmp, Font(), (x1 + x2) / 2, (y1 + y2 - text_height(Font())) / 2,
                       makecol(0, 0, 255), -1, "%s", name.c_str());
}

std::string Button::GetName() { return name; }

void Buttons::AddButton(Button b) { buttons.push_back(b); }

void Buttons::AddButton(Vec2<int> pos, std::string name) {
  Button b;
  b.x1 = pos.x;
  b.y1 = pos.y;
  b.x2 = pos.x + text_length(Font(), name.c_str()) + kButtonLabelRoom;
  b.y2 = pos.y + text_height(Font());
  b.name = name;
  buttons.push_back(b);
}

void Buttons::DrawButtons(BITMAP* bmp, int mouseX, int mouseY) {
  // Insertion order: where buttons overlap, the last one added ends up on top.
  for (Button& b : buttons) b.Draw(bmp, mouseX, mouseY);
}

std::string Buttons::GetButtonUnder(int x, int y) {
  // Insertion order: where buttons overlap, the first one added wins.
  for (Button& b : buttons) {
    if (b.Inside(x, y)) return b.name;
  }
  return "";
}

// ---- Key presses and text entry ----

namespace {
// One latch per possible key code.
constexpr int kKeyLatches = 256;

// One tick of pacing for the modal loops: a pass uses up a pending tick; when that
// leaves none at all, wait for the timer to bring the next one.
void PaceAgainstLogicTime() {
  if (--logic_time == 0) {
    while (logic_time == 0) rest(0);
  }
}

// Let an Enter still held from the previous screen go up first.
void WaitForEnterUp() {
  while (key[KEY_ENTER] && !key[KEY_ESC] && !quitnow) rest(0);
  clear_keybuf();
}

// A modal screen's check on every pass: Escape or the quit request end the process
// (`owned`, the screen's buffer, freed first: a leak checker sees no leak).
void ExitOnEscapeOrQuit(char* owned = nullptr) {
  if (!QuitRequested()) return;
  LOG("Quit signal received in main GetWord loop, exit(0)ing");
  std::free(owned);
  std::exit(0);
}

// Letters, digits, the blank and the full stop: everything else is refused.
bool AcceptedInWord(int c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
         c == ' ' || c == '.';
}
}  // namespace

bool keyhit(char k) {
  static unsigned char array[kKeyLatches];  // zero until a press is reported
  // A code the library has no key for (negative, or KEY_MAX and above) is never
  // down; it must not reach the key-state array or the latches.
  const int code = k;
  if (code < 0 || code >= KEY_MAX) return false;
  if (!key[code]) {
    array[code] = 0;
    return false;
  }
  if (array[code] == 0) {
    array[code] = 1;
    return true;
  }
  return false;
}

std::string GetWord(BITMAP* buffer, int x, int y, int maxLength, std::string prompt,
                    std::string initial) {
  LOG("Trying to get a word from user, with prompt of ", prompt);

  // The byte count in a wider type, so that maxLength + 1 cannot overflow. A word
  // needs room for at least one character, and its length is kept in an int, so a
  // count below 2 or above INT_MAX cannot be served and fails like malloc would.
  const long long bytes = static_cast<long long>(maxLength) + 1;
  char* word = nullptr;
  if (bytes >= 2 && bytes <= INT_MAX) word = static_cast<char*>(std::malloc(bytes));
  if (word == nullptr) {
    LOG("Failed to allocate ", bytes, " bytes for word-to-input, can't read word.");
    return "malloc failed";
  }

  // A pre-filled text is one character shorter than the most the player can type.
  int length = static_cast<int>(std::min(initial.size(), static_cast<std::size_t>(maxLength - 1)));
  std::memcpy(word, initial.data(), length);
  word[length] = '\0';

  const int th = text_height(Font());

  WaitForEnterUp();
  while (!key[KEY_ENTER]) {
    ExitOnEscapeOrQuit(word);
    clear_to_color(buffer, makecol(255, 255, 255));
    textprintf_centre_ex(buffer, Font(), x, y, makecol(0, 0, 0), -1, "%s", prompt.c_str());
    textprintf_centre_ex(buffer, Font(), x, y + th + 2, makecol(0, 0, 0), -1, "%s", word);
    blit(buffer, screen, 0, 0, 0, 0, SCREEN_W, SCREEN_H);

    while (!keypressed()) {
      if (quitnow) {
        LOG("Quit signal received while waiting for keypress in GetWord, exit(0)ing");
        std::free(word);
        std::exit(0);
      }
      rest(0);
    }
    // High byte: the key code; low byte: the character.
    const int k = readkey();
    const int code = k >> 8;
    const int c = k & 0xff;

    if (code == KEY_BACKSPACE) {
      if (length > 0) --length;
      word[length] = '\0';
    }
    // Enter's own character is refused here too: the next pass sees the key held.
    if (length < maxLength && AcceptedInWord(c)) {
      word[length++] = static_cast<char>(c);
      word[length] = '\0';
    }

    PaceAgainstLogicTime();
  }

  std::string result(word);
  std::free(word);
  // Time spent typing is not made up afterwards in a burst of ticks.
  logic_time = 0;
  LOG("Got word \"", result, "\" from prompt ", prompt);
  return result;
}

std::string GetWord(BITMAP* buffer, std::string prompt, std::string initial) {
  // As many letters W as fit across the screen, less two. A font whose W has no
  // width counts it as one pixel wide rather than dividing by zero.
  int wWidth = text_length(Font(), "W");
  if (wWidth < 1) wWidth = 1;
  return GetWord(buffer, SCREEN_W / 2, SCREEN_H / 2, SCREEN_W / wWidth - 2, prompt, initial);
}

// ---- File selector ----

std::string SelectFile(BITMAP* buffer, const char* wildcard, const char* prompt) {
  LOG("Trying to select a file");

  std::vector<std::string> list;
  // No attribute required of a file; directories left out.
  for_each_file_ex(wildcard, 0, FA_DIREC, fill, &list);
  if (list.empty()) {
    LOG("Tried to select a file with wildcard \"", wildcard, "\" but there are no such files!");
    return "";
  }

  WaitForEnterUp();
  // Line pitch in pixels.
  const int p = text_height(Font()) + 2;
  const unsigned count = static_cast<unsigned>(list.size());
  unsigned selection = 0;

  while (!key[KEY_ENTER]) {
    ExitOnEscapeOrQuit();
    if (keyhit(KEY_UP)) {
      selection = selection == 0 ? count - 1 : selection - 1;
    } else if (keyhit(KEY_DOWN)) {
      selection = (selection + 1) % count;
    }

    clear_to_color(buffer, makecol(255, 255, 255));

    // Scroll so that the selected row stays at least three pitches above the bottom.
    const long long selectedBottom = (static_cast<long long>(selection) + 4) * p;
    const int offset = selectedBottom > SCREEN_H ? static_cast<int>(SCREEN_H - selectedBottom) : 0;

    for (unsigned i = 0; i < count; ++i) {
      const int row = offset + static_cast<int>(i + 1) * p;
      if (i == selection) {
        // The right edge leaves out the text's indent.
        const std::string padded = list[i] + " ";
        rect(buffer, 10, row + 2, text_length(Font(), padded.c_str()) + 2, row + p - 1,
             makecol(0, 255, 0));
      }
      textprintf_ex(buffer, Font(), 15, row, makecol(0, 0, 0), -1, "%s", list[i].c_str());
    }

    // The prompt band covers rows scrolled up under it.
    rectfill(buffer, 0, 0, SCREEN_W, p + 1, makecol(255, 255, 255));
    textprintf_ex(buffer, Font(), 15, 2, makecol(0, 0, 0), -1, "%s", prompt);
    blit(buffer, screen, 0, 0, 0, 0, SCREEN_W, SCREEN_H);

    PaceAgainstLogicTime();
  }

  LOG("Selected file \"", list[selection], "\"");
  return list[selection];
}

int fill(const char* filename, int /*attrib*/, void* param) {
  static_cast<std::vector<std::string>*>(param)->push_back(filename);
  LOG("Saw file \"", filename, " during file selection");
  return 0;
}

// ---- Controls ----

namespace {
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
}  // namespace

Controls ReadControls(int player) { return Combined(ReadKeysOrMouse(player), ReadPad(player)); }

Controls ReadAnyLocalControls() {
  const Controls keys = ReadKeysOrMouse(1);
  const Controls mouse = ReadKeysOrMouse(2);
  const PadControls pad = ReadPad(1);
  return {std::clamp(keys.turn + mouse.turn + pad.turn, -1, 1), keys.squash || mouse.squash || pad.squash};
}

void WaitUntil(const std::function<bool()>& done, const std::function<void()>& serve) {
  while (!done()) {
    if (serve) serve();
    rest(1);
  }
}

bool AnyKeyHeld() {
  for (int k = 1; k < KEY_MAX; ++k) {
    if (key[k]) return true;
  }
  return false;
}

void WaitForKeysUp(const std::function<void()>& serve) {
  constexpr int kKeyReleaseWaitMs = 2000;
  int waited = 0;  // ms
  WaitUntil([&] { return waited++ >= kKeyReleaseWaitMs || !AnyKeyHeld(); }, serve);
  clear_keybuf();
}

void WaitForKeyOrPadButton() {
  PadPresses presses = WatchPadPresses();
  WaitUntil([&] { return keypressed() || NewPadPress(presses) || QuitSignal() != 0; });
  if (keypressed()) readkey();
}

bool QuitRequested() { return key[KEY_ESC] || quitnow; }
