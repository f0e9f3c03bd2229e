// SPDX-License-Identifier: GPL-3.0-or-later
#include "attract.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "debug.h"
#include "init.h"
#include "pad.h"
#include "replay.h"
#include "settings.h"
#include "sound.h"
#include "vec2.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kDemoDirectory = "demos";  // in the media directory
constexpr int kLongestIdleMs = 24 * 3600 * 1000;  // the most a test may ask for (milliseconds)
constexpr int kReleaseWaitMs = 10;               // between looks at held mouse buttons (milliseconds)

// The menu side: what the main thread keeps between passes of the menu loop.
struct Attract {
  PlayDemoGame playDemo;
  int idleMs = kAttractIdleMs;
  Clock::time_point lastInput = Clock::now();
  Vec2<int> pointer{0, 0};  // pixels: where the pointer was at the last look
  int pauseKey = 0;  // the Pause key's state (it sends no release: a change is a press)
  PadPresses pads{};
  int nextDemo = 0;  // the media demo to try first next time
};
Attract attract;

// Shared with the library's input threads.
std::atomic<bool> playing{false};     // a demo is shown: any input ends it
std::atomic<bool> inputSeen{false};   // input came while a demo was shown
std::atomic<bool> keptBack[KEY_MAX];  // pressed during a demo: kept from the game until let go
// The hooks that stood before ours: set on the main thread, called on the input threads.
std::atomic<void (*)(int scancode)> chainedKeyCallback{nullptr};
std::atomic<void (*)(int flags)> chainedMouseCallback{nullptr};

// The library's keyboard thread, after it has marked the key down in key[] (scancode
// with bit 7 set for a release). A key pressed during a demo ends it and is cleared
// from key[] again, as are its repeats, until it is let go.
void OnKey(int scancode) {
  const int code = scancode & 0x7f;
  const bool release = (scancode & 0x80) != 0;
  if (code > 0 && code < KEY_MAX) {
    if (release) {
      keptBack[code] = false;
    } else if (playing || keptBack[code]) {
      keptBack[code] = true;
      key[code] = 0;
      inputSeen = true;
      return;
    }
  }
  if (void (*chained)(int) = chainedKeyCallback.load(); chained != nullptr) chained(scancode);
}

// The library's mouse thread: a movement, a button or the wheel.
void OnMouse(int flags) {
  if (playing) inputSeen = true;
  if (void (*chained)(int) = chainedMouseCallback.load(); chained != nullptr) chained(flags);
}

// The pointer moved since the last look, or a mouse button is held.
bool PointerTouched() { return mouse_x != attract.pointer.x || mouse_y != attract.pointer.y || mouse_b != 0; }

// Any key held, the pointer moved, a mouse button or a pad control: someone is there.
bool InputNow() {
  bool any = false;
  for (int k = 1; k < KEY_MAX; ++k) {
    if (k != KEY_PAUSE && key[k]) any = true;
  }
  if (key[KEY_PAUSE] != attract.pauseKey) any = true;
  attract.pauseKey = key[KEY_PAUSE];
  if (PointerTouched()) any = true;
  attract.pointer = {mouse_x, mouse_y};
  if (NewPadPress(attract.pads)) any = true;
  if (ReadPad(1).turn != 0 || ReadPad(2).turn != 0) any = true;
  return any;
}

// Asked by the playback at every check for a quit (main thread).
bool DemoInterrupted() {
  if (NewPadPress(attract.pads)) inputSeen = true;
  if (PointerTouched()) inputSeen = true;
  return inputSeen;
}

void PlayDemo(const std::string& file, const Replay& replay) {
  LOG("Attract mode: playing ", file);
  inputSeen = false;
  attract.pads = WatchPadPresses();
  attract.pointer = {mouse_x, mouse_y};
  playing = true;
  SetQuiet(true);
  attract.playDemo(replay, DemoInterrupted);
  PlayMusic(Music::Title);  // while still quiet: the game's loop never sounds loud
  SetQuiet(false);
  playing = false;
  LOG("Attract mode: back to the title menu");
}

// The demos in the order they are tried: best.nsr in `replayDir` when it exists, then
// every "*.nsr" in `demoDir`, sorted by name, starting at `next` (rotating through the
// media's demos on each call).
std::vector<std::string> DemoCandidates(const std::string& replayDir, const std::string& demoDir, int next) {
  std::vector<std::string> files;
  const std::string best = replayDir + "/" + kBestReplay;
  std::error_code error;
  if (std::filesystem::exists(best, error)) files.push_back(best);
  std::vector<std::string> demos;
  for (std::filesystem::directory_iterator it(demoDir, error), end; !error && it != end; it.increment(error)) {
    const std::filesystem::path& path = it->path();
    if (path.extension() == ".nsr") demos.push_back(demoDir + "/" + path.filename().string());
  }
  std::sort(demos.begin(), demos.end());
  const int count = static_cast<int>(demos.size());
  for (int i = 0; i < count; ++i) files.push_back(demos[((next % count) + i) % count]);
  return files;
}

// Plays the first demo that reads back; false when none does.
bool PlayFirstReadableDemo() {
  const std::vector<std::string> candidates = DemoCandidates(ReplayDirectory(), kDemoDirectory, attract.nextDemo);
  for (const std::string& file : candidates) {
    Replay replay;
    std::string error;
    if (!LoadReplay(file, replay, error)) {
      LOG("Attract mode: skipping ", file, ": ", error);
      continue;
    }
    if (file.rfind(kDemoDirectory, 0) == 0) ++attract.nextDemo;
    PlayDemo(file, replay);
    return true;
  }
  return false;
}

// Back on the title page at once; a click that ended the demo is let go before the
// menu looks at the buttons again, so it chooses nothing.
void ReturnToTitle(Menu& menu, BITMAP* backbuffer) {
  clear_keybuf();
  clear_to_color(backbuffer, makecol(255, 255, 255));
  while (mouse_b != 0 && !quitnow) {
    DrawMenuPage(menu, backbuffer);
    blit(backbuffer, screen, 0, 0, 0, 0, SCREEN_W, SCREEN_H);
    rest(kReleaseWaitMs);
  }
  clear_to_color(backbuffer, makecol(255, 255, 255));
  menu.clicked = false;
  attract.pointer = {mouse_x, mouse_y};
}

int IdleMsFromEnvironment() {
  const char* text = std::getenv("NANASPLAT_ATTRACT_IDLE_MS");
  if (text == nullptr || *text == '\0') return kAttractIdleMs;
  char* end = nullptr;
  const long ms = std::strtol(text, &end, 10);
  if (*end != '\0' || ms < 1 || ms > kLongestIdleMs) return kAttractIdleMs;
  return static_cast<int>(ms);
}

}  // namespace

void SetUpAttractMode(PlayDemoGame playDemo) {
  attract.playDemo = std::move(playDemo);
  attract.nextDemo = 0;
  attract.idleMs = IdleMsFromEnvironment();
  attract.lastInput = Clock::now();
  attract.pointer = {mouse_x, mouse_y};
  attract.pauseKey = key[KEY_PAUSE];
  attract.pads = WatchPadPresses();
  if (keyboard_lowlevel_callback != OnKey) {
    chainedKeyCallback = keyboard_lowlevel_callback;
    keyboard_lowlevel_callback = OnKey;
  }
  if (mouse_callback != OnMouse) {
    chainedMouseCallback = mouse_callback;
    mouse_callback = OnMouse;
  }
}

void AttractModeFrame(Menu& menu, BITMAP* backbuffer) {
  const Clock::time_point now = Clock::now();
  const bool onTitle = menu.shownButtons == &menu.mainMenu;
  if (InputNow() || !onTitle || !attract.playDemo || !CurrentSettings().attract) {
    attract.lastInput = now;
    return;
  }
  if (now - attract.lastInput < std::chrono::milliseconds(attract.idleMs)) return;
  if (PlayFirstReadableDemo()) ReturnToTitle(menu, backbuffer);
  attract.lastInput = Clock::now();
}

void SetAttractIdleMs(int ms) { attract.idleMs = std::clamp(ms, 1, kLongestIdleMs); }

bool DemoPlaying() { return playing; }
