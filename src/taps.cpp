#include "taps.h"

#include <allegro.h>

#include <atomic>
#include <chrono>
#include <cstdint>

#include "pad.h"

namespace {

// The library adds this to a key code to tell a release.
constexpr int kReleaseBit = 0x80;
constexpr int kPadsWatched = 2;  // players 1 and 2

// Counted on the library's input thread, taken on the main thread.
std::atomic<int> pausePresses{0};
std::atomic<int> mutePresses{0};
// A key held this long may be repeating: the X server's repeats begin after a delay
// of at least this much (milliseconds; 660 by default).
constexpr int64_t kRepeatsBeginAfter = 200;
// A repeat arrives as a release and a press of the same moment. When the two reach
// the library apart (it looks at the events as they have arrived), the press comes
// within this much of the release (milliseconds), far sooner than a player lets go of
// a key held that long and presses it again.
constexpr int64_t kRepeatPairGap = 100;

// What the callback knows of P or M: whether it is down, and when it last went down
// and up (milliseconds on the steady clock).
struct KeyTimes {
  std::atomic<bool> down{false};
  std::atomic<int64_t> pressedAt{0};
  std::atomic<int64_t> releasedAt{0};
};
KeyTimes pKey, mKey;
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<bool>::is_always_lock_free &&
                  std::atomic<int64_t>::is_always_lock_free,
              "the keyboard callback may only touch lock-free atomics");

// The callback that was in place before ours, if any: still called.
void (*previousCallback)(int) = nullptr;

// Main thread only: each pad's Start at the last sample.
bool padStartDown[kPadsWatched] = {};

int64_t Now() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// Counts a press of a key that sends a release: once per going down. A press while
// the key is down, or one that only ends a repeat's release of a key held long, is
// the key's repeat.
void NotePressOrRelease(KeyTimes& times, std::atomic<int>& presses, bool released) {
  const int64_t now = Now();
  if (released) {
    times.down = false;
    times.releasedAt = now;
    return;
  }
  if (times.down.exchange(true)) return;
  const int64_t releasedAt = times.releasedAt.load();
  const bool repeat = now - releasedAt < kRepeatPairGap &&
                      releasedAt - times.pressedAt.load() >= kRepeatsBeginAfter;
  if (repeat) return;
  times.pressedAt = now;
  ++presses;
}

void OnKeyEvent(int scancode) {
  NoteKeyEvent(scancode);
  if (previousCallback != nullptr) previousCallback(scancode);
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

}  // namespace

void NoteKeyEvent(int scancode) {
  const int code = scancode & ~kReleaseBit;
  const bool released = (scancode & kReleaseBit) != 0;
  if (code == KEY_PAUSE) {
    // The Pause key sends no release: the library flips its state at every press and
    // reports the flip to "up" as a release. Either way it is a press.
    ++pausePresses;
  } else if (code == KEY_P) {
    NotePressOrRelease(pKey, pausePresses, released);
  } else if (code == KEY_M) {
    NotePressOrRelease(mKey, mutePresses, released);
  }
}

void CountTogglePresses() {
  if (keyboard_lowlevel_callback == OnKeyEvent) return;
  previousCallback = keyboard_lowlevel_callback;
  keyboard_lowlevel_callback = OnKeyEvent;
}

void ForgetTogglePresses() {
  pausePresses = 0;
  mutePresses = 0;
  // A press from now on is a press, whatever came before.
  pKey.releasedAt = 0;
  mKey.releasedAt = 0;
  LookAtPadStarts(false);
}

bool TakeTogglePress(Toggle which) {
  if (which == Toggle::Mute) return TakeOne(mutePresses);
  SamplePadStart();
  return TakeOne(pausePresses);
}

void SamplePadStart() {
  if (num_joysticks <= 0) return;
  LookAtPadStarts(true);
}
