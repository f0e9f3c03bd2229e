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
};

struct LobbyCounts {
  uint64_t datagrams = 0, refused = 0, undecodable = 0;
  uint64_t registered = 0, joined = 0, relayed = 0, relayDropped = 0, expired = 0;
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

  // Log lines of events since the last call (one line each).
  std::vector<std::string> TakeEvents();
  const LobbyCounts& Counts() const { return counts_; }
  size_t Games() const { return games_.size(); }
  size_t Pairs() const { return pairs_.size(); }

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
  struct Pair {
    net::Endpoint ends[2];
    bool bound[2] = {false, false};
    uint64_t lastMs = 0;
    uint64_t windowMs = 0, windowBytes = 0;
  };
  struct Bucket {
    double tokens = 0;
    uint64_t lastMs = 0;
  };

  bool Allow(const net::Endpoint& from, uint64_t nowMs);
  void Refuse(const net::Endpoint& to, uint64_t nonce, net::LobbyRefusal why, std::vector<LobbyOutgoing>& out,
              const std::string& version = "");
  void Send(const net::Endpoint& to, const net::LobbyMessage& m, std::vector<LobbyOutgoing>& out);
  void OnRegister(const net::LobbyMessage& m, const net::Endpoint& from, uint64_t nowMs, std::vector<LobbyOutgoing>& out);
  void OnKeepalive(const net::LobbyMessage& m, const net::Endpoint& from, uint64_t nowMs, std::vector<LobbyOutgoing>& out);
  void OnJoin(const net::LobbyMessage& m, const net::Endpoint& from, uint64_t nowMs, std::vector<LobbyOutgoing>& out);
  void OnRelayBind(const net::LobbyMessage& m, const net::Endpoint& from, uint64_t nowMs, std::vector<LobbyOutgoing>& out);
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
  uint64_t totalWindowMs_ = 0, totalWindowBytes_ = 0;
  std::vector<std::string> events_;
  LobbyCounts counts_;
};
