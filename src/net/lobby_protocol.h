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
constexpr size_t kMaxLobbyDatagram = 1200;     // a feed or the stream's data, at most (bytes)
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
  Watch = 10,      // spectator -> lobby: let me watch the game with this code
  Watching = 11,   // lobby -> spectator: a secret to echo (proves the address)
  WatchAck = 12,   // spectator -> lobby: the secret, and how much of the stream I hold
  WatchData = 13,  // lobby -> spectator: the game's header and items of its stream
  Feed = 14,       // host -> lobby: my game's header and the stream's items (code, secret)
  FeedAck = 15,    // lobby -> host: how much of the stream the lobby holds
};

// The stream of a game: one item per confirmed tick (both players' readings), one per
// level screen, and its end.
constexpr uint8_t kStreamScreen = 36;  // 0..35 are ticks: player 1's reading * 6 + player 2's
constexpr uint8_t kStreamEnd = 37;     // + StreamEnd: the game is over
enum class StreamEnd : uint8_t { TimeUp = 0, Quit = 1, Lost = 2, OutOfStep = 3 };
constexpr uint8_t kStreamItemLimit = kStreamEnd + 4;  // items are below this
constexpr size_t kMaxChunkItems = 8192;               // items in one datagram, at most
constexpr size_t kMaxStreamItems = 1 << 18;           // a game's stream (about 72 minutes of ticks)
uint8_t TickItem(uint32_t p1Code, uint32_t p2Code);

enum class LobbyRefusal : uint8_t {
  NoSuchCode = 1,    // no game has that code, or it expired
  Full = 2,          // the game already has its second player
  WrongVersion = 3,  // the two games cannot play together (version: the host's)
  RateLimited = 4,   // too many requests from this address
  Busy = 5,          // the lobby's tables are full
  RelayFull = 6,     // the relay takes no more pairs
  WatchersFull = 7,  // the game has as many spectators as it can take
  NotStarted = 8,    // the game with that code has not begun yet
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
  // The stream (Feed, FeedAck, WatchAck, WatchData):
  uint16_t game = 0;           // the game's number in its session (a rematch is the next)
  uint64_t seed = 0;           // the game's own generator's seed (Feed, WatchData)
  uint8_t math = 0;            // its trigonometry (Feed, WatchData)
  uint32_t position = 0;       // Feed, WatchData: the first item's place; FeedAck, WatchAck: items held
  uint32_t total = 0;          // WatchData: items the lobby holds
  uint8_t live = 0;            // WatchData: 1 while the host feeds the stream
  uint16_t watchers = 0;       // FeedAck: spectators watching
  std::vector<uint8_t> items;  // Feed, WatchData: below kStreamItemLimit, at most kMaxChunkItems
};

// True for the types a game sends the lobby (padded to kLobbyRequestBytes).
bool IsLobbyRequest(LobbyType type);
std::vector<uint8_t> EncodeLobby(const LobbyMessage& message);
// True and `out` filled when `data` is exactly one well-formed datagram of this protocol.
bool DecodeLobby(const uint8_t* data, size_t size, LobbyMessage& out);
// How many of the `count` items at `items` fit as runs in `room` bytes (at most
// kMaxChunkItems).
size_t StreamItemsThatFit(const uint8_t* items, size_t count, size_t room);
// The bytes of a Feed or WatchData before its items.
size_t StreamHeaderBytes(LobbyType type);
// True when the datagram starts as one of ours (the rest unchecked).
bool HasLobbyMagic(const uint8_t* data, size_t size);

// Codes: `random` picks the characters; FormatCode shows "K7Q2-MZ4P".
std::string MakeCode(uint64_t random);
std::string FormatCode(const std::string& code);
// Reads a code as typed: eight characters of the alphabet, any case, with or without
// one '-' or blank after the fourth. A text with '.' or ':' is never a code (an address).
bool ParseCode(const std::string& text, std::string& code);

}  // namespace net
