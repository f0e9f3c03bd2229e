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

// ---------------------------------------------------------------------------
// High scores
// ---------------------------------------------------------------------------
