// SPDX-License-Identifier: GPL-3.0-or-later
// Entry of the headless tests: the library without a system driver, memory bitmaps only.
#include <allegro.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>

#include "test_support.h"

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  PrepareTestProcess();
  if (install_allegro(SYSTEM_NONE, &errno, std::atexit) != 0) return 1;
  set_color_depth(16);
  return RUN_ALL_TESTS();
}
