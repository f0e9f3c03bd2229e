// SPDX-License-Identifier: GPL-3.0-or-later
#include "init.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "debug.h"
#include "shutdown.h"
#include "util.h"

namespace {
// The longest executable path we ask the library for, in characters.
constexpr int kExecutablePathMax = 1010;
constexpr char kMediaSuffix[] = "/media/";

// One attempt of the graphics-mode chain. Without a started library the call
// cannot work and counts as failed.
bool TrySetMode(bool libraryUp, int driver, int w, int h) {
  return libraryUp && set_gfx_mode(driver, w, h, 0, 0) == 0;
}

// Puts the media suffix at `from` in `path` and makes that the working directory.
void EnterMedia(std::vector<char>& path, char* from) {
  std::memcpy(from, kMediaSuffix, sizeof(kMediaSuffix));
  if (chdir(path.data()) != 0) {
    // Ignored: the loads that follow fail and say so in the log.
  }
}

// Makes the directory "media" beside the executable the working directory.
void ChangeToMediaDirectory() {
  // Room for the longest path the library hands back plus the suffix and its
  // terminating zero, wherever the file name part starts.
  std::vector<char> path(kExecutablePathMax + sizeof(kMediaSuffix), '\0');
  get_executable_name(path.data(), kExecutablePathMax);
  path[kExecutablePathMax - 1] = '\0';
  EnterMedia(path, get_filename(path.data()));
}
}  // namespace

void ChangeToMediaDirectoryWithoutDisplay() {
  // Without a system driver the library cannot tell its executable's name; the
  // kernel's link to it is what the library reads when it can.
  std::vector<char> path(kExecutablePathMax + sizeof(kMediaSuffix), '\0');
  const ssize_t n = readlink("/proc/self/exe", path.data(), kExecutablePathMax - 1);
  if (n <= 0) return;  // the loads that follow fail and say so
  path[static_cast<size_t>(n)] = '\0';
  char* slash = std::strrchr(path.data(), '/');
  if (slash != nullptr) EnterMedia(path, slash);
}

void logic_timer() { ++logic_time; }
END_OF_FUNCTION(logic_timer)

void Close() {
  LOG("Received close message; quitnow variable set");
  quitnow = true;
}
END_OF_FUNCTION(Close)

BITMAP* Init(int w, int h, const char* title) {
  HoldQuitSignals();
  LOG("Initializing allegro.");
  // Without a display or console the library does not start; the installs and mode
  // calls below would crash inside it, so they are skipped and count as failed.
  const bool libraryUp = allegro_init() == 0;
  HandleCrashSignals();

  LOG("Installing mouse.");
  if (libraryUp) install_mouse();

  LOG("Installing timer.");
  if (libraryUp) install_timer();

  LOG("Installing keyboard.");
  if (libraryUp) install_keyboard();

  LOG("Setting graphics mode with 16 BPP");
  set_color_depth(16);
  if (!TrySetMode(libraryUp, GFX_AUTODETECT_WINDOWED, w, h)) {
    LOG("16 BPP failed, trying 15");
    set_color_depth(15);
    if (!TrySetMode(libraryUp, GFX_AUTODETECT_WINDOWED, w, h)) {
      LOG("15 BPP also failed, trying full screen");
      if (!TrySetMode(libraryUp, GFX_AUTODETECT, w, h)) {
        set_color_depth(16);
        LOG("15 BPP failed in full screen, trying 16 BPP full screen");
        if (!TrySetMode(libraryUp, GFX_AUTODETECT, w, h)) {
          LOG("Could not set graphics mode.");
          allegro_message("Couldn't set graphics mode!");
          std::exit(1);
        }
      }
    }
  }

  LOG("Getting executable name, to set our path appropriately");
  ChangeToMediaDirectory();

  LOG("Starting logic timer");
  LOCK_VARIABLE(logic_time);
  LOCK_FUNCTION(logic_timer);
  install_int_ex(logic_timer, BPS_TO_TIMER(kTicksPerSecond));

  LOG("Setting close button callback");
  LOCK_FUNCTION(Close);
  set_close_button_callback(Close);

  LOG("Setting window title");
  set_window_title(title);

  HandleQuitSignals();
  return create_bitmap(w, h);
}

void SetFont(const char* file) {
  FONT* chosen = GetFont(file);
  if (chosen == nullptr) {
    LOG("Loading font from ", file, " failed, falling back on default");
    chosen = font;
  }
  LOG("Setting global font");
  SetGlobalFont(chosen);
}
