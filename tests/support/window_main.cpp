// SPDX-License-Identifier: GPL-3.0-or-later
// Entry of the tests that need a real 1024 x 768 window on the suite's (virtual) display.
#include <allegro.h>
#include <gtest/gtest.h>

#include <execinfo.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>

#include "test_support.h"

namespace {
// A crash of a window test says where it happened (the library's own handler only
// says that it happened), then ends the process as the signal would.
void ReportCrash(int signal) {
  void* frames[64];
  const int count = backtrace(frames, 64);
  const char heading[] = "\nwindow test crashed; backtrace:\n";
  if (write(STDERR_FILENO, heading, sizeof heading - 1) < 0) {
  }
  backtrace_symbols_fd(frames, count, STDERR_FILENO);
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}

void ReportCrashes() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  return;  // the sanitizers report crashes better
#endif
  for (int signal : {SIGSEGV, SIGBUS, SIGABRT, SIGFPE}) std::signal(signal, ReportCrash);
}
}  // namespace

int main(int argc, char** argv) {
  // Progress lines reach the log even when the process dies.
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  ReportCrashes();
  testing::InitGoogleTest(&argc, argv);
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  if (GTEST_FLAG_GET(list_tests)) return RUN_ALL_TESTS();
  PrepareTestProcess();
  if (allegro_init() != 0) {
    std::fprintf(stderr, "the library does not start (%s): is DISPLAY set?\n", allegro_error);
    return 1;
  }
  install_keyboard();
  install_mouse();
  install_timer();
  set_color_depth(16);
  if (set_gfx_mode(GFX_AUTODETECT_WINDOWED, 1024, 768, 0, 0) != 0) {
    std::fprintf(stderr, "no 1024 x 768 window: %s\n", allegro_error);
    return 1;
  }
  ReportCrashes();  // the library put handlers of its own in place
  return RUN_ALL_TESTS();
}
