// SPDX-License-Identifier: GPL-3.0-or-later
#include "watchsource.h"

#include <chrono>
#include <thread>

#include "replayfile.h"
#include "sim/random.h"

namespace {
constexpr int kWaitStepMs = 2;  // between two looks at the stream while waiting
}  // namespace

WatchSource::WatchSource(const net::WatchedStream& stream, std::function<void()> pump,
                         std::function<uint32_t()> nowMs, std::function<bool()> stop, uint32_t delayMs)
    : stream_(stream), pump_(std::move(pump)), nowMs_(std::move(nowMs)), stop_(std::move(stop)), delayMs_(delayMs) {}

void WatchSource::BeginGame(GameState& game) {
  game.mathRevision = stream_.math;
  game.random = OwnRandom(stream_.seed);
  next_ = 0;
  screenTaken_ = false;
}

bool WatchSource::Due(size_t item) const {
  return item < stream_.catchUpTo || nowMs_() - stream_.arrivedMs[item] >= delayMs_;
}

FramePlan WatchSource::OpenFrame() {
  for (;;) {
    pump_();
    if (ReachedItsEnd(0, 0)) return {0, true};
    if (NextIs(net::kStreamScreen)) {
      ++next_;  // a level screen where this game shows none: passed
      continue;
    }
    if (next_ < stream_.items.size() && Due(next_)) {
      tick_ = stream_.items[next_++];
      return {1, true};
    }
    if (stop_()) return {0, true};
    std::this_thread::sleep_for(std::chrono::milliseconds(kWaitStepMs));
  }
}

Controls WatchSource::Read(int player) { return ControlsFromCode(player == 2 ? tick_ % 6 : tick_ / 6); }

bool WatchSource::ReachedItsEnd(uint64_t, uint32_t) const {
  return next_ < stream_.items.size() ? stream_.items[next_] >= net::kStreamEnd : stream_.over;
}

bool WatchSource::LevelScreenPassed() {
  pump_();
  if (!screenTaken_) {
    if (!NextIs(net::kStreamScreen)) return next_ < stream_.items.size() || stream_.over;  // none here: go on
    ++next_;
    screenTaken_ = true;
  }
  screenTaken_ = next_ < stream_.items.size() ? !Due(next_) : !stream_.over;  // the players still on theirs
  return !screenTaken_;
}

bool WatchSource::Ended(net::StreamEnd& how) const {
  if (stream_.items.empty() || stream_.items.back() < net::kStreamEnd) return false;
  how = static_cast<net::StreamEnd>(stream_.items.back() - net::kStreamEnd);
  return true;
}
