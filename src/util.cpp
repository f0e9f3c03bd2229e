#include "util.h"

#include <cstdlib>

#include "debug.h"
#include "init.h"

// ---------------------------------------------------------------------------
// Fonts
// ---------------------------------------------------------------------------

FONT* globalFont = font;

FONT* Font() { return globalFont; }

void SetGlobalFont(FONT* f) {
  if (f != nullptr) globalFont = f;
}

FONT* GetFont(const char* file) {
  LOG("Loading font ", file);
  DATAFILE* data = load_datafile(file);
  if (data == nullptr) {
    LOG("Failed to load font data file ", file);
    return nullptr;
  }
  // The font lives inside the datafile, which therefore stays loaded for the run.
  // A first object that is missing or of another type is never used as a font.
  if (data[0].dat == nullptr || data[0].type != DAT_FONT) {
    LOG("Failed to load font as first item in data file ", file);
    return nullptr;
  }
  return static_cast<FONT*>(data[0].dat);
}

// ---------------------------------------------------------------------------
// Bitmap loading and the splash screen
// ---------------------------------------------------------------------------

BITMAP* LoadBitmap(const char* file, RGB* palette) {
  BITMAP* bmp = load_bitmap(file, palette);
  if (bmp != nullptr) return bmp;
  LOG("Couldn't load bitmap: ", file);
  std::exit(1);
}

void DoSplash(const char* file, BITMAP* buffer) {
  // Ticks after which the player is told how to go on (one second).
  constexpr int kPromptAfterTicks = 60;
  // The prompt's top, in pixels above the bottom of the screen.
  constexpr int kPromptRise = 40;

  if (buffer == nullptr) {
    LOG("Failing to make splash screen -- need a back buffer");
    std::exit(1);
  }
  BITMAP* image = LoadBitmap(file, nullptr);
  LOG("Ready to display splash screen");

  // An Enter still held from the previous screen must not skip the splash.
  while (key[KEY_ENTER]) rest(0);
  clear_keybuf();

  while (!key[KEY_ENTER]) {
    if (key[KEY_ESC] || quitnow) std::exit(0);
    // Centred; the parts of the buffer the picture leaves uncovered keep what they held.
    blit(image, buffer, 0, 0, (buffer->w - image->w) / 2, (buffer->h - image->h) / 2, SCREEN_W,
         SCREEN_H);
    if (logic_time > kPromptAfterTicks) {
      textprintf_centre_ex(buffer, globalFont, SCREEN_W / 2, SCREEN_H - kPromptRise,
                           makecol(0, 0, 0), -1, "Press [Enter] to continue");
    }
    blit(buffer, screen, 0, 0, 0, 0, SCREEN_W, SCREEN_H);
  }

  LOG("Leaving splash screen");
  destroy_bitmap(image);
}

// ---------------------------------------------------------------------------
// High scores
// ---------------------------------------------------------------------------
