// SPDX-License-Identifier: GPL-3.0-or-later
#include "pad.h"

#include "debug.h"

namespace {

// A count the library gives, never below 0 nor above what its arrays hold (`most`).
int Bounded(int count, int most) { return count < 0 ? 0 : count < most ? count : most; }

int PadCount() { return Bounded(num_joysticks, MAX_JOYSTICKS); }

// Player 1's pad is the library's joystick 0; null when the player has none.
const JOYSTICK_INFO* PadOf(int player) {
  const int index = player - 1;
  if (index < 0 || index >= PadCount()) return nullptr;
  return &joy[index];
}

bool Down(const JOYSTICK_INFO& pad, int button) {
  return button >= 0 && button < Bounded(pad.num_buttons, MAX_JOYSTICK_BUTTONS) && pad.button[button].b != 0;
}

// The library's digital reading of the first stick's horizontal axis: d1 is left, d2 right.
int Turn(const JOYSTICK_INFO& pad) {
  if (pad.num_sticks < 1 || pad.stick[0].num_axis < 1) return 0;
  const JOYSTICK_AXIS_INFO& across = pad.stick[0].axis[0];
  return (across.d2 ? 1 : 0) - (across.d1 ? 1 : 0);
}

}  // namespace

int InstallPads() {
  if (install_joystick(JOY_TYPE_AUTODETECT) != 0) {
    LOG("Gamepads found: 0 (no joystick driver: ", allegro_error, ")");
    return 0;
  }
  const int count = PadCount();
  LOG("Gamepads found: ", count);
  return count;
}

PadControls ReadPad(int player) {
  poll_joystick();
  const JOYSTICK_INFO* pad = PadOf(player);
  if (pad == nullptr) return {0, false};
  return {Turn(*pad), Down(*pad, kPadSquashButton)};
}

bool PadButtonDown(int player, int button) {
  poll_joystick();
  const JOYSTICK_INFO* pad = PadOf(player);
  return pad != nullptr && Down(*pad, button);
}

PadPresses WatchPadPresses() {
  PadPresses presses{};
  NewPadPress(presses);  // what is down now is only noted
  return presses;
}

bool NewPadPress(PadPresses& presses) {
  poll_joystick();
  bool pressed = false;
  for (int p = 0; p < MAX_JOYSTICKS; ++p) {
    for (int b = 0; b < MAX_JOYSTICK_BUTTONS; ++b) {
      const bool down = p < PadCount() && Down(joy[p], b);
      if (down && !presses.down[p][b]) pressed = true;
      presses.down[p][b] = down;
    }
  }
  return pressed;
}
