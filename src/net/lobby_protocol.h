// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The datagrams between a game and the lobby (nanasplat-server), and between two games
// punching through their routers, with their one decoder, shared by game and server.
//
// Every datagram starts with the four bytes "NSL1": read as ENet's header that is a
// compressed packet for peer 3667, which our ENet hosts (32 peers, no compressor) never
// send, so a game tells them from ENet's own traffic on the same socket. Fields have fixed
// widths (big-endian). Every request to the lobby is padded with zeros to exactly
// kLobbyRequestBytes and every answer is shorter, so the lobby never sends an address
// more bytes than it received from it (no reflection amplification). DecodeLobby refuses
// a datagram of any other length, an unknown type, a code outside the alphabet, a
// version that is not printable, padding that is not zero.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace net {

constexpr uint16_t kDefaultLobbyPort = 7479;   // UDP: the lobby and its relay, one port
constexpr size_t kLobbyRequestBytes = 64;      // every request, padded
constexpr size_t kLobbyMagicBytes = 4;
constexpr size_t kCodeLength = 8;              // characters, shown as XXXX-XXXX
// Digits and capitals without 0/O, 1/I/L: easy to read aloud and to type.
constexpr char kCodeAlphabet[] = "23456789ABCDEFGHJKMNPQRSTUVWXYZ";
constexpr size_t kCodeAlphabetSize = sizeof kCodeAlphabet - 1;  // 31

// An IPv4 address and port, in host byte order.
struct Endpoint {
  uint32_t ip = 0;
  uint16_t port = 0;
  bool operator==(const Endpoint& o) const { return ip == o.ip && port == o.port; }
  bool operator!=(const Endpoint& o) const { return !(*this == o); }
};
std::string EndpointText(const Endpoint& e);  // "192.0.2.1:7478"

enum class LobbyType : uint8_t {
  Register = 1,    // host -> lobby: give my game a code
  Registered = 2,  // lobby -> host: the code, the host's secret, how the lobby sees it
  Keepalive = 3,   // host -> lobby: my game still waits (code, secret)
  Join = 4,        // joiner -> lobby: the game with this code
  Introduce = 5,   // lobby -> both: the other's endpoints, the pair's token, the relay
  Refusal = 6,     // lobby -> requester: why not
  RelayBind = 7,   // game -> relay: I am this side of this pair
  RelayBound = 8,  // relay -> game: it is so
  Punch = 9,       // game -> game: a path through the routers (pair token, side)
};

enum class LobbyRefusal : uint8_t {
  NoSuchCode = 1,    // no game has that code, or it expired
  Full = 2,          // the game already has its second player
  WrongVersion = 3,  // the two games cannot play together (version: the host's)
  RateLimited = 4,   // too many requests from this address
  Busy = 5,          // the lobby's tables are full
  RelayFull = 6,     // the relay takes no more pairs
};

struct LobbyMessage {
  LobbyType type = LobbyType::Punch;
  uint64_t nonce = 0;        // the request's, echoed by its answer
  std::string code;          // kCodeLength characters of the alphabet (Registered, Keepalive, Join)
  uint64_t token = 0;        // the host's secret (Registered, Keepalive) or the pair's
  uint8_t side = 0;          // 0: the host, 1: the joiner (Introduce, RelayBind, RelayBound, Punch)
  uint16_t protocol = 0;     // the game protocol's version (Register, Join)
  std::string version;       // the game's version, printable, <= 16 (Register, Join, Refusal)
  uint64_t fingerprint = 0;  // the simulation's (Register, Join)
  Endpoint local;            // the sender's own address on its network (Register, Join)
  Endpoint seen;             // Registered: the host as the lobby sees it; Introduce: the peer
  Endpoint peerLocal;        // Introduce: the peer's own address on its network
  uint8_t relay = 0;         // Introduce: 1 when the lobby relays this pair if punching fails
  uint16_t seconds = 0;      // Registered: how long the code lives without a keepalive
  LobbyRefusal reason = LobbyRefusal::NoSuchCode;  // Refusal
};

// True for the types a game sends the lobby (padded to kLobbyRequestBytes).
bool IsLobbyRequest(LobbyType type);
std::vector<uint8_t> EncodeLobby(const LobbyMessage& message);
// True and `out` filled when `data` is exactly one well-formed datagram of this protocol.
bool DecodeLobby(const uint8_t* data, size_t size, LobbyMessage& out);
// True when the datagram starts as one of ours (the rest unchecked).
bool HasLobbyMagic(const uint8_t* data, size_t size);

// Codes: `random` picks the characters; FormatCode shows "K7Q2-MZ4P".
std::string MakeCode(uint64_t random);
std::string FormatCode(const std::string& code);
// Reads a code as typed: eight characters of the alphabet, any case, with or without
// one '-' or blank after the fourth. A text with '.' or ':' is never a code (an address).
bool ParseCode(const std::string& text, std::string& code);

}  // namespace net
