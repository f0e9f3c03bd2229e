// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A spectator's side of the lobby: asks to watch the game with a code, proves its
// address by echoing the lobby's secret, then keeps acknowledging what it holds of the
// game's stream (every kWatchAckEveryMs, and soon after new items) while the lobby sends
// the rest. Its own UDP socket, never waiting; every request is resent a bounded number
// of times. What it gathers is a WatchedStream: plain data a play loop's source reads.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "net/lobby_protocol.h"
#include "net/protocol.h"

namespace net {

constexpr uint32_t kWatchAckEveryMs = 250;    // a spectator acknowledges at least this often
constexpr uint32_t kWatchAckSoonMs = 50;      // ... and this soon after new items
constexpr uint32_t kWatchSilenceMs = 5000;    // nothing from the lobby (or the players) this long: given up
constexpr uint32_t kNotStartedEveryMs = 2000; // a game not begun yet is asked for again ...
constexpr int kNotStartedTries = 15;          // ... this many times (30 s)

// One game's stream as a spectator holds it.
struct WatchedStream {
  bool header = false;            // the game's header is known
  uint16_t game = 0;              // its number in the players' session
  uint64_t seed = 0;              // its own generator's seed
  uint8_t math = 0;               // its trigonometry
  uint32_t catchUpTo = 0;         // items the lobby held when the first data came: played unseen
  std::vector<uint8_t> items;     // from the game's start, without gaps
  std::vector<uint32_t> arrivedMs;  // when each item came
  bool over = false;              // nothing more will come (`failure` says why)
  std::string failure;            // as the player is told; empty when the stream ended
};

class WatchClient {
 public:
  // A socket towards `lobby`; null, with a sentence in `error`, when none can be opened.
  static std::unique_ptr<WatchClient> Open(const Endpoint& lobby, const std::string& code, const Hello& mine,
                                           std::string& error);
  ~WatchClient();
  WatchClient(const WatchClient&) = delete;
  WatchClient& operator=(const WatchClient&) = delete;

  // Reads every datagram waiting and sends what is due; `nowMs` on any steady clock.
  void Service(uint32_t nowMs);
  // Asked for a game that has not begun yet (it is asked for again).
  bool Waiting() const { return notStarted_ > 0 && state_ == State::Asking; }
  const WatchedStream& Stream() const { return stream_; }
  uint64_t BytesReceived() const { return bytesReceived_; }
  uint64_t BytesSent() const { return bytesSent_; }

 private:
  enum class State { Asking, Watching, Over };
  WatchClient(int fd, const Endpoint& lobby, const std::string& code, const Hello& mine);
  void Send(const LobbyMessage& m, uint32_t nowMs);
  void Hear(const LobbyMessage& m, uint32_t nowMs);
  void TakeData(const LobbyMessage& m, uint32_t nowMs);
  void Fail(const std::string& text);

  int fd_;
  Endpoint lobby_;
  LobbyMessage request_;  // Watch
  LobbyMessage ack_;  // WatchAck: the code and the lobby's secret, once watching
  State state_ = State::Asking;
  int tries_ = 0;
  int notStarted_ = 0;
  bool sentOnce_ = false;
  uint32_t lastSentMs_ = 0;
  uint32_t lastHeardMs_ = 0;
  uint32_t lastLiveMs_ = 0;  // when the lobby last said the players feed the stream
  bool unacked_ = false;  // items came since the last acknowledgement
  WatchedStream stream_;
  uint64_t bytesReceived_ = 0, bytesSent_ = 0;
};

}  // namespace net
