// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The lobby and relay as tables, without sockets: a datagram and its sender go in, the
// datagrams to send come out. Games waiting under a code, the pairs the relay serves,
// and what each address has asked lately; every table has a bound, and a request that
// would pass it is refused with a reason.
//
// A host registers and gets a code and a secret; its first keepalive (which echoes the
// secret, so the address is really its own) makes the code joinable. A joiner's Join
// is answered with the host's endpoints and a pair token, and the host is told the
// joiner's; the code is then used up. Both sides then punch through their routers and,
// at the same time, bind their side of the pair at the relay (this same port): a datagram
// that is not ours from a bound endpoint goes to the other end of its pair, within the
// pair's and the relay's bandwidth caps. Answers are never longer than the request
// they answer, and the host hears of its joiner only once its address is proven.
//
// Spectators: once a game is joined its host feeds the lobby the game's stream (a Feed
// carries the code and the host's secret); the lobby keeps each game's stream whole, so
// a spectator who comes late can catch up. A spectator asks with Watch and is given a
// secret (Watching, shorter than the request); its first WatchAck echoing the secret
// proves its address. Pulse() then sends every proven spectator who still acknowledges
// (a WatchAck at least every watcherIdleMs) the items it does not hold yet, within each
// spectator's and the lobby's bandwidth caps; what it does not acknowledge in time is
// sent again. The host sends once, whatever the number of spectators.
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "net/lobby_protocol.h"

struct LobbyLimits {
  size_t maxGames = 20000;          // codes waiting or just joined
  size_t maxPairs = 4000;           // pairs the relay serves
  size_t maxAddresses = 65536;      // addresses whose requests are counted
  uint64_t codeIdleMs = 30000;      // a code without keepalive expires
  uint64_t codeMaxMs = 3600000;     // a code lives at most an hour
  uint64_t joinedKeepMs = 60000;    // a joined code is remembered (for resent requests)
  uint64_t pairIdleMs = 20000;      // a relay pair silent this long is forgotten
  double requestsPerSecond = 0.5;   // per address, after a burst of...
  double requestBurst = 10;         // ... requests
  uint64_t pairBytesPerSecond = 128 * 1024;         // each relayed pair, both ways
  uint64_t totalBytesPerSecond = 100 * 1024 * 1024;  // the whole relay
  size_t maxStreams = 1024;             // games streamed to spectators
  size_t watchersPerGame = 16;          // spectators of one game (proven or not)
  size_t maxStreamBytes = 64u << 20;    // the items of every stream together (one byte each)
  uint64_t streamIdleMs = 30000;        // a stream not fed this long is forgotten
  uint64_t streamLiveMs = 3000;         // a stream fed within this is live
  uint64_t watcherIdleMs = 5000;        // a spectator silent this long gets nothing more
  uint64_t watchResendMs = 800;         // items not acknowledged within this are sent again
  uint64_t watcherBytesPerSecond = 64 * 1024;         // to each spectator
  uint64_t watchBytesPerSecond = 50 * 1024 * 1024;    // to all spectators
};

struct LobbyCounts {
  uint64_t datagrams = 0, refused = 0, undecodable = 0;
  uint64_t registered = 0, joined = 0, relayed = 0, relayDropped = 0, expired = 0;
  uint64_t fed = 0, watched = 0, watchSent = 0, watchDropped = 0;
};

// Where to send what: `bytes`, or (forward) the datagram just handled, unchanged.
struct LobbyOutgoing {
  net::Endpoint to;
  std::vector<uint8_t> bytes;
  bool forward = false;
};

class Lobby {
 public:
  Lobby(const LobbyLimits& limits, std::function<uint64_t()> random);

  void Handle(const uint8_t* data, size_t size, const net::Endpoint& from, uint64_t nowMs,
              std::vector<LobbyOutgoing>& out);
  // Forgets what expired (call about once a second).
  void Expire(uint64_t nowMs);
  // Sends the spectators what they do not hold yet (call about every kPulseMs).
  void Pulse(uint64_t nowMs, std::vector<LobbyOutgoing>& out);
  static constexpr uint64_t kPulseMs = 100;

  // Log lines of events since the last call (one line each).
  std::vector<std::string> TakeEvents();
  const LobbyCounts& Counts() const { return counts_; }
  size_t Games() const { return games_.size(); }
  size_t Pairs() const { return pairs_.size(); }
  size_t Streams() const { return streams_.size(); }
  size_t Watchers() const;   // in all streams
  size_t StreamBytes() const { return streamBytes_; }

 private:
  struct Game {
    net::LobbyMessage hello;  // the host's Register
    net::Endpoint host;       // as seen by the lobby
    uint64_t secret = 0;
    bool proven = false;      // a keepalive echoed the secret from `host`
    uint64_t createdMs = 0, lastKeptMs = 0;
    bool joined = false;
    net::Endpoint joiner;
    uint64_t joinerNonce = 0, joinedMs = 0;
    net::LobbyMessage toHost, toJoiner;  // the introductions, kept to send again
  };
  // The bytes sent in the current second, for a cap in bytes a second.
  struct ByteWindow {
    uint64_t startMs = 0;
    uint64_t bytes = 0;
  };
  struct Pair {
    net::Endpoint ends[2];
    bool bound[2] = {false, false};
    uint64_t lastMs = 0;
    ByteWindow sent;
  };
  struct Watcher {
    net::Endpoint at;
    uint64_t nonce = 0, secret = 0;
    bool proven = false;        // it echoed the secret from `at`
    uint64_t heardMs = 0;
    uint32_t acked = 0;         // items it holds
    uint32_t sent = 0;          // items sent to it
    uint64_t progressMs = 0;    // when it last held all that was sent, or acknowledged more
    ByteWindow window;
  };
  struct Stream {
    uint64_t secret = 0;        // the host's
    net::LobbyMessage hello;    // the host's Register: its version
    bool started = false;
    uint16_t game = 0;
    uint64_t seed = 0;
    uint8_t math = 0;
    std::vector<uint8_t> items;
    uint64_t fedMs = 0;
    std::vector<Watcher> watchers;
  };
  struct Bucket {
    double tokens = 0;
    uint64_t lastMs = 0;
  };

  // Whether SIZE more bytes fit under both an endpoint's cap and the total cap (bytes a
  // second) at NOWMS; if they do, they are counted in both windows.
  static bool Spend(ByteWindow& own, uint64_t ownCap, ByteWindow& all, uint64_t allCap, uint64_t size, uint64_t nowMs);
  bool Allow(const net::Endpoint& from, uint64_t nowMs);
  void Refuse(const net::Endpoint& to, uint64_t nonce, net::LobbyRefusal why, std::vector<LobbyOutgoing>& out,
              const std::string& version = "");
  void Send(const net::Endpoint& to, const net::LobbyMessage& m, std::vector<LobbyOutgoing>& out);
  void OnRegister(const net::LobbyMessage& m, const net::Endpoint& from, uint64_t nowMs, std::vector<LobbyOutgoing>& out);
  void OnKeepalive(const net::LobbyMessage& m, const net::Endpoint& from, uint64_t nowMs, std::vector<LobbyOutgoing>& out);
  void OnJoin(const net::LobbyMessage& m, const net::Endpoint& from, uint64_t nowMs, std::vector<LobbyOutgoing>& out);
  void OnRelayBind(const net::LobbyMessage& m, const net::Endpoint& from, uint64_t nowMs, std::vector<LobbyOutgoing>& out);
  void OnFeed(const net::LobbyMessage& m, const net::Endpoint& from, uint64_t nowMs, std::vector<LobbyOutgoing>& out);
  void OnWatch(const net::LobbyMessage& m, const net::Endpoint& from, uint64_t nowMs, std::vector<LobbyOutgoing>& out);
  void OnWatchAck(const net::LobbyMessage& m, const net::Endpoint& from, uint64_t nowMs, std::vector<LobbyOutgoing>& out);
  net::LobbyMessage StreamData(const Stream& s, uint32_t from, size_t count, uint64_t nowMs) const;
  void SendToWatcher(Stream& s, Watcher& w, uint64_t nowMs, std::vector<LobbyOutgoing>& out);
  void RemoveStream(std::map<std::string, Stream>::iterator it);
  void Relay(size_t size, const net::Endpoint& from, uint64_t nowMs, std::vector<LobbyOutgoing>& out);
  void RemoveGame(const std::string& code);
  void RemovePair(uint64_t token);
  void Event(std::string line);

  LobbyLimits limits_;
  std::function<uint64_t()> random_;
  std::map<std::string, Game> games_;                 // by code
  std::map<uint64_t, std::string> hostGames_;         // host endpoint key -> code
  std::unordered_map<uint64_t, Pair> pairs_;          // by pair token
  std::unordered_map<uint64_t, uint64_t> boundEnds_;  // endpoint key -> pair token
  std::unordered_map<uint32_t, Bucket> buckets_;      // by IPv4 address
  std::map<std::string, Stream> streams_;             // by code
  size_t streamBytes_ = 0;
  ByteWindow watchSent_;  // to every spectator
  ByteWindow relaySent_;  // by every pair
  std::vector<std::string> events_;
  LobbyCounts counts_;
};
