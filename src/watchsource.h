// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A game watched live as a source of play: the players' stream (net/watch_client.h)
// played a few seconds behind, each item when it has been held `delayMs`, so that a
// stream that comes in bursts plays smoothly. What the lobby held when the spectator
// came is played at once (unseen: the presenter asks CatchingUp()). A level screen
// lasts until the players left theirs; the game ends where their stream ends. No game
// library: a test plays a stream through it unseen.
#include <cstdint>
#include <functional>

#include "net/watch_client.h"
#include "playloop.h"

constexpr uint32_t kWatchDelayMs = 3000;  // how far behind the players a spectator plays

class WatchSource : public ControlSource {
 public:
  // `stream` is filled by `pump` (called while waiting); `nowMs` is its clock; `stop`
  // ends a wait (the player asked to stop).
  WatchSource(const net::WatchedStream& stream, std::function<void()> pump, std::function<uint32_t()> nowMs,
              std::function<bool()> stop, uint32_t delayMs = kWatchDelayMs);

  void BeginGame(GameState& game) override;
  // Waits until the next tick is due (or the stream has none); one tick a frame.
  FramePlan OpenFrame() override;
  Controls Read(int player) override;
  bool ReachedItsEnd(uint64_t framesOpened, uint32_t levelScreens) const override;

  // The items the lobby held when this spectator came are still being played.
  bool CatchingUp() const { return next_ < stream_.catchUpTo; }
  // Called while a level screen is shown: true once the players left theirs (or the
  // stream has no more to say about it).
  bool LevelScreenPassed();
  // How the players' game ended, once the stream said so.
  bool Ended(net::StreamEnd& how) const;
  size_t Played() const { return next_; }

 private:
  bool Due(size_t item) const;
  bool NextIs(uint8_t item) const { return next_ < stream_.items.size() && stream_.items[next_] == item; }

  const net::WatchedStream& stream_;
  std::function<void()> pump_;
  std::function<uint32_t()> nowMs_;
  std::function<bool()> stop_;
  uint32_t delayMs_;
  size_t next_ = 0;         // the next item to play
  uint8_t tick_ = 0;        // the tick being played
  bool screenTaken_ = false;  // the level screen's item has been passed
};
