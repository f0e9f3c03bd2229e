// SPDX-License-Identifier: GPL-3.0-or-later
// libFuzzer target for the lobby's datagrams: any datagram must decode without a crash or
// undefined behaviour, and what decodes is the one canonical encoding of its message.
// The same bytes then go to one long-lived lobby (the server's tables), from one of a
// few senders picked by the first byte: it never answers a sender with more bytes than
// the datagram it sent, its pulses send spectators' data only to senders that proved
// their address, no datagram passes the protocol's limit, and its tables keep their bounds.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  net::LobbyMessage m;
  if (net::DecodeLobby(data + 1, size - 1, m)) {
    Check(net::EncodeLobby(m) == std::vector<uint8_t>(data + 1, data + size));
  }
  // The first byte picks the sender and moves the clock; the rest is the datagram.
  const net::Endpoint from{0xc0000200u + (data[0] & 7), static_cast<uint16_t>(40000 + (data[0] >> 6))};
  clockMs += (data[0] >> 3 & 7) * 700;
  std::vector<LobbyOutgoing> out;
  lobby.Handle(data + 1, size - 1, from, clockMs, out);
  for (const LobbyOutgoing& o : out) {
    if (o.to == from && !o.forward) Check(o.bytes.size() <= size - 1);
    if (!o.forward) Check(o.bytes.size() <= net::kLobbyRequestBytes);
    net::LobbyMessage answer;
    if (!o.forward && o.to == from && net::DecodeLobby(o.bytes.data(), o.bytes.size(), answer) &&
        answer.type == net::LobbyType::WatchData) {
      proven.insert(Key(from));
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
