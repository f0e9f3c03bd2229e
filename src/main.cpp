// The game: entry and menu, game play, the banana, the fruit flies and the splats.
#include <allegro.h>

#include "debug.h"
#include "fly.h"
#include "image.h"
#include "init.h"
#include "input.h"
#include "nana.h"
#include "splatter.h"
#include "util.h"

// ===========================================================================
// Banana: body and physics
// ===========================================================================

// ===========================================================================
// Banana: drawing
// ===========================================================================

// ===========================================================================
// Fruit flies
// ===========================================================================

// ===========================================================================
// Splatter
// ===========================================================================

// ===========================================================================
// Game play
// ===========================================================================

// ===========================================================================
// Program entry and main menu
// ===========================================================================

#ifndef NANASPLAT_NO_ENTRY
int main() {
  BITMAP* backbuffer = Init(1024, 768, "demo");
  if (backbuffer == nullptr) {
    LOG("Initialization failed -- invalid backbuffer on exit");
    exit(1);
  }
  LOG("Initialization succeeded");
  SetFont("font.dat");
  LOG("Beginning game loop");
  while (!key[KEY_ESC] && !quitnow) {
    clear_to_color(backbuffer, makecol(255, 255, 255));
    blit(backbuffer, screen, 0, 0, 0, 0, SCREEN_W, SCREEN_H);
    rest(1);
  }
  return 0;
}
END_OF_MAIN()
#endif
