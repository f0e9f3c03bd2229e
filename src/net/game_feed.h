// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The host's side of spectating: its game's stream (each confirmed tick, each level
// screen, the end) fed once to the lobby, which fans it out to every spectator; the host
// sends the same bytes however many watch. Sent from the game's own socket (the lobby
// knows that address, and the NAT has a path to it), every kFeedEveryMs while the lobby
// has not acknowledged everything, else every kFeedIdleMs to keep the stream live. The
// game calls Service() every frame after Connection::Service().
#include <cstdint>
#include <string>
#include <vector>

#include "net/lobby_protocol.h"
#include "net/transport.h"

namespace net {

constexpr uint32_t kFeedEveryMs = 200;    // while items are not acknowledged
constexpr uint32_t kFeedIdleMs = 1000;    // while they all are, or the lobby has been silent ...
constexpr uint32_t kFeedSilentMs = 5000;  // ... this long
constexpr uint32_t kFeedFinishMs = 1500;  // at the end, the last items get this long
constexpr int kFeedTriesUnheard = 25;     // feeds the lobby never acknowledged: it takes none (5 s)

// A game's stream as the host builds it: one item per tick, a level screen once the
// ticks before it are in, the end last (nothing after it; at most kMaxStreamItems).
class StreamBuilder {
 public:
  // One confirmed tick: each player's reading (ControlsCode).
  void Tick(uint32_t p1Code, uint32_t p2Code);
  // A level screen shown once the game has run `afterTicks` ticks.
  void LevelScreen(uint64_t afterTicks);
  void End(StreamEnd how);
  const std::vector<uint8_t>& Items() const { return items_; }

 private:
  void Push(uint8_t item);
  std::vector<uint8_t> items_;
  uint64_t ticks_ = 0;
  std::vector<uint64_t> screens_;  // level screens waiting for their ticks
};

class GameFeed : public RawListener {
 public:
  GameFeed(Connection& connection, const Endpoint& lobby, std::string code, uint64_t secret);
  ~GameFeed() override;
  GameFeed(const GameFeed&) = delete;
  GameFeed& operator=(const GameFeed&) = delete;

  // A game of the session begins (`game` counts from 0), with its own generator's seed
  // and its trigonometry.
  void BeginGame(uint16_t game, uint64_t seed, uint8_t math);
  // The stream's items (StreamBuilder).
  void Tick(uint32_t p1Code, uint32_t p2Code) { stream_.Tick(p1Code, p2Code); }
  void LevelScreen(uint64_t afterTicks) { stream_.LevelScreen(afterTicks); }
  void End(StreamEnd how) { stream_.End(how); }
  // Sends what is due; `nowMs` on any steady clock.
  void Service(uint32_t nowMs);
  // Waits (at most kFeedFinishMs, serving the connection) until the lobby holds it all.
  void Finish();
  void OnRaw(const uint8_t* data, size_t size, const Endpoint& from) override;

  bool AllAcknowledged() const { return acked_ >= stream_.Items().size(); }
  uint16_t Watchers() const { return watchers_; }
  uint64_t BytesSent() const { return bytesSent_; }  // UDP payload bytes of every feed
  const std::vector<uint8_t>& Items() const { return stream_.Items(); }

 private:
  void Send(uint32_t nowMs);

  Connection& connection_;
  Endpoint lobby_;
  LobbyMessage feed_;  // every feed's header: the code, the secret and the game
  bool begun_ = false;
  StreamBuilder stream_;
  uint32_t acked_ = 0;
  bool refused_ = false;
  uint16_t watchers_ = 0;
  bool sentOnce_ = false;
  bool heard_ = false;  // the lobby acknowledged a feed
  uint32_t lastSentMs_ = 0;
  uint32_t lastHeardMs_ = 0;  // when the lobby last acknowledged (Service's clock)
  uint32_t nowMs_ = 0;
  uint64_t bytesSent_ = 0, datagrams_ = 0;
};

}  // namespace net
