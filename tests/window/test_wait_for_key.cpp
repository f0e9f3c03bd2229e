// The level screens' wait for any key, with the library's keyboard.
#include <allegro.h>
#include <gtest/gtest.h>

#include "shutdown.h"

namespace {

TEST(WaitingForAKey, GivesTheKeyPressedAsReadkeyDoes) {
  clear_keybuf();
  simulate_keypress((KEY_Q << 8) | 'q');
  EXPECT_EQ(ReadKeyUnlessQuit(), (KEY_Q << 8) | 'q');
  EXPECT_FALSE(keypressed());
}

}  // namespace
