// SPDX-License-Identifier: GPL-3.0-or-later
// libFuzzer target for the lobby's datagrams: any datagram must decode without a crash or
// undefined behaviour, and what decodes is the one canonical encoding of its message.
// The same bytes then go to one long-lived lobby (the server's tables), from one of a
// few senders picked by the first byte: it never answers a sender with more bytes than
// the datagram it sent, its pulses send spectators' data only to senders that proved
// their address, no datagram passes the protocol's limit, and its tables keep their bounds.
// So that the spectators' paths are reached, one game is joined before the first input;
// a datagram naming the code 22222222 is taken as naming that game, and a zero secret as
// that game's (a feed) or as the one the lobby gave its sender (a spectator's).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <set>
#include <vector>

#include "lobby_tables.h"
#include "net/lobby_protocol.h"

namespace {

void Check(bool holds) {
  if (!holds) std::abort();
}

LobbyLimits SmallLimits() {
  LobbyLimits limits;
  limits.maxGames = 8;
  limits.maxPairs = 4;
  limits.maxAddresses = 8;
  limits.requestsPerSecond = 1000;
  limits.requestBurst = 1000;
  limits.maxStreams = 4;
  limits.watchersPerGame = 3;
  limits.maxStreamBytes = 20000;
  return limits;
}

uint64_t counter = 0;
Lobby lobby(SmallLimits(), [] { return ++counter * 0x9e3779b97f4a7c15ULL; });
uint64_t clockMs = 0;
// Senders whose WatchAck the lobby took (it answers a proven spectator with the stream's state).
std::set<uint64_t> proven;
uint64_t Key(const net::Endpoint& e) { return static_cast<uint64_t>(e.ip) << 16 | e.port; }
std::map<uint64_t, uint64_t> watcherSecrets;  // by sender

net::LobbyMessage Only(const std::vector<LobbyOutgoing>& out) {
  net::LobbyMessage m;
  if (!out.empty()) net::DecodeLobby(out.front().bytes.data(), out.front().bytes.size(), m);
  return m;
}

std::vector<LobbyOutgoing> Ask(const net::LobbyMessage& m, const net::Endpoint& from) {
  const std::vector<uint8_t> bytes = net::EncodeLobby(m);
  std::vector<LobbyOutgoing> out;
  lobby.Handle(bytes.data(), bytes.size(), from, clockMs, out);
  return out;
}

// A game registered, proven and joined (from senders the inputs never use): its code
// and the host's secret.
net::LobbyMessage JoinedGame() {
  const net::Endpoint host{0xcb007101, 1}, joiner{0xcb007102, 1};
  net::LobbyMessage m;
  m.type = net::LobbyType::Register;
  m.nonce = 1;
  m.version = "1";
  const net::LobbyMessage registered = Only(Ask(m, host));
  m.type = net::LobbyType::Keepalive;
  m.code = registered.code;
  m.token = registered.token;
  Ask(m, host);
  m.type = net::LobbyType::Join;
  Ask(m, joiner);
  return registered;
}
const net::LobbyMessage joined = JoinedGame();

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  // The first byte picks the sender and moves the clock; the rest is the datagram.
  const net::Endpoint from{0xc0000200u + (data[0] & 7), static_cast<uint16_t>(40000 + (data[0] >> 6))};
  clockMs += (data[0] >> 3 & 7) * 700;
  std::vector<uint8_t> datagram(data + 1, data + size);
  net::LobbyMessage m;
  if (net::DecodeLobby(datagram.data(), datagram.size(), m)) {
    Check(net::EncodeLobby(m) == datagram);
    if (m.code == "22222222") m.code = joined.code;
    if (m.token == 0 && m.type == net::LobbyType::Feed) m.token = joined.token;
    if (m.token == 0 && m.type == net::LobbyType::WatchAck) m.token = watcherSecrets[Key(from)];
    datagram = net::EncodeLobby(m);  // the same length: every field has a fixed width
  }
  std::vector<LobbyOutgoing> out;
  lobby.Handle(datagram.data(), datagram.size(), from, clockMs, out);
  for (const LobbyOutgoing& o : out) {
    if (o.to == from && !o.forward) Check(o.bytes.size() <= size - 1);
    if (!o.forward) Check(o.bytes.size() <= net::kLobbyRequestBytes);
    net::LobbyMessage answer;
    if (!o.forward && o.to == from && net::DecodeLobby(o.bytes.data(), o.bytes.size(), answer)) {
      if (answer.type == net::LobbyType::WatchData) proven.insert(Key(from));
      if (answer.type == net::LobbyType::Watching) watcherSecrets[Key(from)] = answer.token;
    }
  }
  out.clear();
  lobby.Pulse(clockMs, out);
  for (const LobbyOutgoing& o : out) {
    Check(!o.forward && o.bytes.size() <= net::kMaxLobbyDatagram && proven.count(Key(o.to)) == 1);
  }
  lobby.Expire(clockMs);
  Check(lobby.Games() <= 8 && lobby.Pairs() <= 4 && lobby.Streams() <= 4 && lobby.Watchers() <= 4 * 3 &&
        lobby.StreamBytes() <= 20000);
  return 0;
}
