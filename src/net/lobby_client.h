// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A game's side of the lobby: registering a hosted game for a code, or joining one by
// its code, then the path between the two games: punching through both routers from the
// game's own ENet socket, the relay when punching does not get through in time.
//
// The game calls Tick() every frame after Connection::Service() (which hands this the
// lobby's datagrams through ENet's intercept). Every request is sent again a few times
// and then given up (the lobby does not answer); every loop here is bounded by a count.
// The first punches go out with a low time-to-live: they open this side's router and
// die before the other's, which would otherwise drop an unsolicited first datagram.
#include <cstdint>
#include <string>
#include <vector>

#include "net/lobby_protocol.h"
#include "net/transport.h"

namespace net {

constexpr uint32_t kLobbyResendMs = 500;     // a request unanswered is sent again after this
constexpr int kLobbyTries = 7;               // ... this many times: the lobby does not answer (3.5 s)
constexpr uint32_t kKeepaliveMs = 5000;      // a waiting host tells the lobby it still waits
constexpr uint32_t kPunchEveryMs = 50;       // one punch to each of the other's endpoints
constexpr int kLowTtlPunches = 3;            // the first punches' ...
constexpr int kLowTtl = 2;                   // ... time-to-live (hops)
constexpr uint32_t kPunchLimitMs = 1200;     // punching that has not got through by then: the relay
constexpr uint32_t kRelayLimitMs = 3000;     // after that, no relay either: the join has failed
constexpr int kMaxPunchReplies = 64;         // punches answered, in all

struct LobbyEvent {
  enum class Kind {
    Registered,  // host: `code` is the game's code
    Introduced,  // both: the other side is known; punching begins
    Direct,      // joiner: connecting to `to` directly
    Relayed,     // joiner: connecting through the relay
    Failed,      // `text` says why, as the player is told
  };
  Kind kind;
  std::string code;
  Endpoint to;
  std::string text;
};

class LobbyClient : public RawListener {
 public:
  // A host registers its game; a joiner (code not empty) asks for the game with `code`.
  // `local` is this computer's own address on its network (for two games behind one router).
  LobbyClient(Connection& connection, const Endpoint& lobby, const Endpoint& local, const Hello& mine,
              const std::string& code, uint32_t nowMs);
  ~LobbyClient() override;
  void Tick(uint32_t nowMs, std::vector<LobbyEvent>& events);
  void OnRaw(const uint8_t* data, size_t size, const Endpoint& from) override;

  // A host: its code and the lobby's secret for it (a feed to spectators shows both).
  const std::string& Code() const { return keepalive_.code; }
  uint64_t Secret() const { return keepalive_.token; }

 private:
  enum class State { Asking, Waiting, Punching, Connecting, Failed };
  void Request(const LobbyMessage& m, uint32_t nowMs);
  void Fail(const std::string& text, std::vector<LobbyEvent>& events);
  void SendOfPair(LobbyType type, const Endpoint& to, int ttl);
  void Punch(uint32_t nowMs);
  void OnLobby(const LobbyMessage& m, uint32_t nowMs, std::vector<LobbyEvent>& events);

  Connection& connection_;
  Endpoint lobby_;
  bool hosting_;
  LobbyMessage request_;    // Register or Join
  LobbyMessage keepalive_;  // host: our code and the lobby's secret for it, once registered
  State state_ = State::Asking;
  uint32_t lastSentMs_ = 0;
  int tries_ = 0;
  // Introduced:
  LobbyMessage intro_;
  uint32_t introducedMs_ = 0;
  uint32_t lastPunchMs_ = 0;
  int punches_ = 0;
  int punchReplies_ = 0;
  bool relayBound_ = false;
  uint32_t lastBindMs_ = 0;
  int binds_ = 0;
  bool punchedThrough_ = false;
  Endpoint through_;
  std::vector<LobbyMessage> heard_;  // from the lobby, handled at the next Tick
};

// What the player is told of the lobby's refusal.
std::string LobbyRefusalText(const LobbyMessage& m);
// Reads "HOST[:PORT]" of a lobby (port default kDefaultLobbyPort) into an endpoint,
// resolving the name. False, with a sentence in `error`, when it cannot.
bool ResolveLobby(const std::string& text, Endpoint& lobby, std::string& error);
// 64 bits from the system's random source (a nonce, a game's seed).
uint64_t FreshNonce();
// A game's Register, Join or Watch request, with a fresh nonce (`local`: not in a Watch).
LobbyMessage LobbyRequest(LobbyType type, const std::string& code, const Hello& mine,
                          const Endpoint& local = {});
// This computer's own address towards `lobby` (no datagram is sent); 0 when unknown.
uint32_t LocalAddressTowards(const Endpoint& lobby);

}  // namespace net
