// SPDX-License-Identifier: GPL-3.0-or-later
#include "pause.h"

#include <atomic>

#include "debug.h"
#include "init.h"
#include "pad.h"
#include "sound.h"
#include "util.h"

namespace {

// Set by the library's thread that watches the window, taken by the next frame.
std::atomic<bool> focusLost{false};

// P, or Start on either player's pad, held down.
bool PauseControlDown() {
  // Every control is read, each pad alike, whatever the first ones say.
  const bool p = key[KEY_P] != 0;
  const bool pad1 = PadButtonDown(1, kPadStartButton);
  const bool pad2 = PadButtonDown(2, kPadStartButton);
  return p || pad1 || pad2;
}

// The Pause key sends no release: the library flips its state at every press, so a
// press is a change of that state.
bool PauseKeyState() { return key[KEY_PAUSE] != 0; }

// The picture last shown stays in the back buffer while paused.
void KeepLastPicture(BITMAP* backbuffer) {
  if (screen == nullptr || backbuffer == nullptr) return;
  blit(screen, backbuffer, 0, 0, 0, 0, SCREEN_W, SCREEN_H);
}

void BeginPause(Pause& pause, BITMAP* backbuffer, bool byFocus) {
  pause.paused = true;
  PauseSound();
  KeepLastPicture(backbuffer);
  if (byFocus) {
    LOG("Play paused: the window lost the input focus");
  } else {
    LOG("Play paused");
  }
}

void EndPause(Pause& pause, BITMAP* backbuffer, BITMAP* splatterLayer) {
  pause.paused = false;
  ResumeSound();
  LOG("Play resumed");
  if (backbuffer != nullptr && splatterLayer != nullptr) {
    blit(splatterLayer, backbuffer, 0, 0, 0, 0, splatterLayer->w, splatterLayer->h);
  }
  // The time spent paused is never made up in a burst of ticks (done last, right
  // before the frame looks at the pending ticks).
  logic_time = 0;
}

}  // namespace

void StartPause(Pause& pause) {
  pause.paused = false;
  pause.controlDown = PauseControlDown();
  pause.pauseKey = PauseKeyState();
  focusLost = false;
}

bool UpdatePause(Pause& pause, BITMAP* backbuffer, BITMAP* splatterLayer) {
  const bool down = PauseControlDown();
  const bool pauseKey = PauseKeyState();
  const bool pressed = (down && !pause.controlDown) || pauseKey != pause.pauseKey;
  pause.controlDown = down;
  pause.pauseKey = pauseKey;
  const bool lostFocus = focusLost.exchange(false);

  if (!pause.paused && (pressed || lostFocus)) {
    BeginPause(pause, backbuffer, !pressed);
  } else if (pause.paused && pressed) {
    EndPause(pause, backbuffer, splatterLayer);
  }
  return pause.paused;
}

void DrawPauseTexts(BITMAP* buffer) {
  const int black = makecol(0, 0, 0);
  textprintf_centre_ex(buffer, Font(), SCREEN_W / 2, SCREEN_H / 2 - kPausedTitleAbove, black, -1,
                       "%s", "Paused");
  textprintf_centre_ex(buffer, Font(), SCREEN_W / 2, SCREEN_H / 2, black, -1, "%s",
                       "Press P to go on.");
}

bool PauseWhenFocusIsLost() {
  if (set_display_switch_callback(SWITCH_OUT, WindowLostFocus) != 0) {
    LOG("The window does not report the input focus; play pauses only on P");
    return false;
  }
  LOG("Play pauses when the window loses the input focus");
  return true;
}

void WindowLostFocus() { focusLost = true; }
