// SPDX-License-Identifier: GPL-3.0-or-later
#include "pause.h"

#include <atomic>

#include "debug.h"
#include "init.h"
#include "sound.h"
#include "taps.h"
#include "util.h"

namespace {

// Set by the library's thread that watches the window, taken by the next frame.
std::atomic<bool> focusLost{false};

void BeginPause(Pause& pause, BITMAP* backbuffer, bool byFocus) {
  pause.paused = true;
  PauseSound();
  // The picture last shown stays in the back buffer while paused.
  if (screen != nullptr && backbuffer != nullptr) blit(screen, backbuffer, 0, 0, 0, 0, SCREEN_W, SCREEN_H);
  LOG(byFocus ? "Play paused: the window lost the input focus" : "Play paused");
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
  ForgetTogglePresses();
  focusLost = false;
}

bool UpdatePause(Pause& pause, BITMAP* backbuffer, BITMAP* splatterLayer) {
  // One press per frame: presses that came together toggle in the frames that follow.
  const bool pressed = TakeTogglePress(Toggle::Pause);
  const bool lostFocus = focusLost.exchange(false);

  if (!pause.paused && (pressed || lostFocus)) {
    BeginPause(pause, backbuffer, !pressed);
  } else if (pause.paused && pressed) {
    EndPause(pause, backbuffer, splatterLayer);
  }
  return pause.paused;
}

void DrawPauseTexts(BITMAP* buffer) {
  textprintf_centre_ex(buffer, Font(), SCREEN_W / 2, SCREEN_H / 2 - kPausedTitleAbove, makecol(0, 0, 0), -1, "Paused");
  textprintf_centre_ex(buffer, Font(), SCREEN_W / 2, SCREEN_H / 2, makecol(0, 0, 0), -1, "Press P to go on.");
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
