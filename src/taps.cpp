// SPDX-License-Identifier: GPL-3.0-or-later
#include "taps.h"

#include <allegro.h>

#include <atomic>

#include "debug.h"
#include "pad.h"
#include "settings.h"
#include "sound.h"

// Last: X's headers define names (None, Font) that ours use.
#include <X11/XKBlib.h>
#include <xalleg.h>

namespace {

// The library adds this to a key code to tell a release.
constexpr int kReleaseBit = 0x80;
constexpr int kPadsWatched = 2;  // players 1 and 2

// Counted on the library's input thread, taken on the main thread.
std::atomic<int> pausePresses{0};
std::atomic<int> mutePresses{0};
// Whether P and M are down, so that the repeats of a held key count no more.
std::atomic<bool> pDown{false};
std::atomic<bool> mDown{false};
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<bool>::is_always_lock_free,
              "the keyboard callback may only touch lock-free atomics");

// The callback that was in place before ours, if any: still called.
std::atomic<void (*)(int)> previousCallback{nullptr};  // set on the main thread, called on the keyboard's

// Main thread only: each pad's Start at the last sample.
bool padStartDown[kPadsWatched] = {};

// Counts a press of a key that sends a release: once per going down.
void NotePressOrRelease(std::atomic<bool>& down, std::atomic<int>& presses, bool released) {
  if (released) {
    down = false;
  } else if (!down.exchange(true)) {
    ++presses;
  }
}

void OnKeyEvent(int scancode) {
  NoteKeyEvent(scancode);
  if (void (*previous)(int) = previousCallback.load(); previous != nullptr) previous(scancode);
}

// Takes one press from `presses`, if there is one.
bool TakeOne(std::atomic<int>& presses) {
  int count = presses.load();
  while (count > 0) {
    if (presses.compare_exchange_weak(count, count - 1)) return true;
  }
  return false;
}

// Reads each pad's Start; with `count`, one that went down is a pause press.
void LookAtPadStarts(bool count) {
  for (int player = 1; player <= kPadsWatched; ++player) {
    const bool down = PadButtonDown(player, kPadStartButton);
    if (count && down && !padStartDown[player - 1]) ++pausePresses;
    padStartDown[player - 1] = down;
  }
}

// Has the X server send a held key's repeats as presses alone, with no release before
// each. The library tells a repeat's release from a real one only when the repeat's
// press already waits behind it in its queue; on a busy machine it sometimes does not
// yet, and a held key then counted twice. Nothing changes without an X display.
void SendKeyRepeatsWithoutReleases() {
  if (_xwin.display == nullptr) return;
  XLOCK();
  Bool supported = False;
  XkbSetDetectableAutoRepeat(_xwin.display, True, &supported);
  XUNLOCK();
}

}  // namespace

void NoteKeyEvent(int scancode) {
  const int code = scancode & ~kReleaseBit;
  const bool released = (scancode & kReleaseBit) != 0;
  if (code == KEY_PAUSE) {
    // The Pause key sends no release: the library flips its state at every press and
    // reports the flip to "up" as a release. Either way it is a press.
    ++pausePresses;
  } else if (code == KEY_P) {
    NotePressOrRelease(pDown, pausePresses, released);
  } else if (code == KEY_M) {
    NotePressOrRelease(mDown, mutePresses, released);
  }
}

void CountTogglePresses() {
  if (keyboard_lowlevel_callback == OnKeyEvent) return;
  previousCallback = keyboard_lowlevel_callback;
  keyboard_lowlevel_callback = OnKeyEvent;
  SendKeyRepeatsWithoutReleases();
}

void ForgetTogglePresses() {
  pausePresses = 0;
  mutePresses = 0;
  LookAtPadStarts(false);
}

bool TakeTogglePress(Toggle which) {
  if (which == Toggle::Mute) return TakeOne(mutePresses);
  SamplePadStart();
  return TakeOne(pausePresses);
}

void SamplePadStart() {
  if (num_joysticks > 0) LookAtPadStarts(true);
}

void MuteOnKey() {
  if (!TakeTogglePress(Toggle::Mute)) return;
  ToggleMute();
  LOG(Muted() ? "Sound off (M)" : "Sound on (M)");
  ChangeSetting(&Settings::mute, Muted());
}
