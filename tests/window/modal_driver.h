// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Driving the modal screens (text prompt, file selector, splash) from a test.
//
// The prompt and the chooser pace themselves against logic_time: with the counter at
// 1 a pass uses it up and then waits at 0 until the timer raises it. Without the
// timer a test can play the timer's part: it sees the loop parked at 0, sets up the
// keys for the next pass and lets exactly one more pass run by raising the counter.
#include <allegro.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>

#include "init.h"
#include "test_support.h"

// Waits up to `seconds` for `done`; false when it never came.
inline bool WaitFor(const std::function<bool()>& done, double seconds = 10.0) {
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::yield();
  }
  return true;
}

// Runs a paced modal loop one pass at a time. `between(pass)` is called while the
// loop is parked after pass number `pass` (from 1); it sets up the keys for the next
// pass and returns false once it has pressed Enter, which ends the loop. When
// `ready` is given, `between(0)` is called first, as soon as `ready()` holds: for a
// loop that empties the key buffer on entry and then waits for a key in its first
// pass, `ready` tells that the first pass has drawn.
class PassDriver {
 public:
  explicit PassDriver(std::function<bool(int)> between, std::function<bool()> ready = nullptr)
      : between_(std::move(between)), ready_(std::move(ready)) {
    logic_time = 1;
    // Detached, and waited for through `done_`: a death test's child may end the
    // process from inside the loop, after the driver is through but before any join.
    std::thread([this] {
      Run();
      done_ = true;  // the last touch of this object
    }).detach();
  }
  PassDriver(const PassDriver&) = delete;
  PassDriver& operator=(const PassDriver&) = delete;
  ~PassDriver() { WaitUntilDone(); }
  // Call after the modal loop has returned.
  void Finish() {
    WaitUntilDone();
    EXPECT_FALSE(stalled_) << "the loop stopped coming round";
  }
  int passes() const { return passes_; }

 private:
  void Run() {
    bool more = true;
    if (ready_) {
      if (!WaitFor(ready_)) return Stall();
      more = between_(0);
    }
    for (;;) {
      if (!WaitFor([] { return logic_time == 0; })) return Stall();
      if (more) {
        ++passes_;
        more = between_(passes_);
      }
      logic_time = 1;
      if (!more) return;
    }
  }
  // Gets the loop out whatever it waits for, so that the test fails instead of hanging.
  void Stall() {
    stalled_ = true;
    key[KEY_ENTER] = 1;
    simulate_keypress((KEY_ENTER << 8) | '\r');
    logic_time = 1;
  }

  std::function<bool(int)> between_;
  std::function<bool()> ready_;
  void WaitUntilDone() const {
    while (!done_) std::this_thread::yield();
  }

  std::atomic<bool> done_{false};
  int passes_ = 0;
  bool stalled_ = false;
};

// Releases every key the tests touch, empties the key buffer and the tick counter.
inline void ResetKeys() {
  for (int k = 0; k < KEY_MAX; ++k) key[k] = 0;
  clear_keybuf();
  logic_time = 0;
  quitnow = false;
}

// A key for the buffer that readkey() returns: code in the high byte, character low.
inline void Press(int code, int character) { simulate_keypress((code << 8) | character); }

// In a death test's child: when the process ends, copy its log to stderr (framed by
// "LOG START" and "LOG END") so that the parent can match the lines it wrote last.
inline void ShowLogAtExit() {
  std::atexit([] {
    std::string all = "LOG START\n";
    for (const std::string& m : LogMessages()) all += m + "\n";
    all += "LOG END\n";
    std::fputs(all.c_str(), stderr);
  });
}
