// SPDX-License-Identifier: GPL-3.0-or-later
// The state shared between the library's timer and window threads and the main thread:
// pending logic ticks, the quit request and the log.
#include <allegro.h>
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "debug.h"
#include "game.h"
#include "init.h"
#include "test_support.h"

namespace {

constexpr char kCloseNotice[] = "Received close message; quitnow variable set";

// The main thread's way of running the ticks that are due: one at a time, each taken
// off the count as it is run (as a frame of play does).
int RunDueTicks() {
  int ran = 0;
  for (; logic_time > 0; --logic_time) ++ran;
  return ran;
}

TEST(CrossThread, EveryTimerTickIsRunOnceWhileTheMainThreadCatchesUp) {
  constexpr int kTicks = 200000;
  logic_time = 0;
  std::atomic<bool> done{false};
  std::thread timer([&] {
    for (int i = 0; i < kTicks; ++i) logic_timer();
    done = true;
  });
  long ran = 0;
  while (!done) ran += RunDueTicks();
  timer.join();
  ran += RunDueTicks();
  EXPECT_EQ(ran, kTicks);
  EXPECT_EQ(logic_time, 0);
}

TEST(CrossThread, CloseFromTheWindowThreadEndsALoopThatKeepsLogging) {
  quitnow = false;
  ResetLog();
  std::atomic<bool> started{false};
  std::thread window([&] {
    while (!started) std::this_thread::yield();
    Close();
  });
  int frames = 0;
  while (!QuitRequested()) {
    LOG("Main thread frame ", frames++);
    started = true;
  }
  window.join();

  EXPECT_TRUE(quitnow);
  int notices = 0;
  for (const std::string& message : LogMessages()) {
    if (message == kCloseNotice) {
      ++notices;
    } else {
      ASSERT_EQ(message.rfind("Main thread frame ", 0), 0u) << message;
    }
  }
  EXPECT_EQ(notices, 1);
  EXPECT_EQ(static_cast<int>(LogMessages().size()), frames + 1);
}

}  // namespace
