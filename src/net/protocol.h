// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The messages two game processes exchange over the network, and their one decoder.
//
// Everything that arrives from the network goes through DecodeMessage before any other
// code looks at it: the datagram's length is checked against the message's layout, every
// count against its cap, and a message with a byte too many or too few is refused whole.
// No allocation follows a length the other side claims: the largest variable part, the
// control readings, lives in a fixed array. Numbers are unsigned LEB128 (at most five
// bytes for 32 bits, three for 16), so a packet of controls stays small.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace net {

constexpr uint16_t kProtocolVersion = 2;  // 2: Quit names the tick the game ends at
constexpr size_t kMaxMessageBytes = 256;     // a longer datagram is refused unread
constexpr size_t kMaxVersionText = 16;       // characters of a game version ("1.0")
constexpr size_t kMaxReadingsPerMessage = 64;  // control readings in one Inputs message
constexpr uint8_t kMaxReading = 15;          // a control reading is a number 0..15

enum class MessageType : uint8_t {
  Hello = 1,     // reliable: who I am (versions, build), and the host's seed
  Refuse = 2,    // reliable: the host already has a player
  Inputs = 3,    // unreliable: my readings the other side has not acknowledged, clocks
  Checksum = 4,  // reliable: the simulation state's checksum at a confirmed tick
  Ready = 5,     // reliable: my player pressed a key on level screen `value`
  Pause = 6,     // reliable: pause (value 1) or go on (value 0)
  Rematch = 7,   // reliable: play again (value 1) or not (value 0)
  Quit = 8,      // reliable: my player has left (value: the ticks my game kept + 1; 0: unknown)
};

struct Hello {
  uint16_t protocol = kProtocolVersion;
  std::string gameVersion;   // at most kMaxVersionText characters
  uint64_t fingerprint = 0;  // the simulation's deterministic fingerprint
  uint64_t seed = 0;         // the game's random seed (the host's is used)
};

struct Inputs {
  uint32_t first = 0;  // tick of readings[0]
  uint8_t count = 0;   // readings carried, 0..kMaxReadingsPerMessage
  std::array<uint8_t, kMaxReadingsPerMessage> readings{};
  uint32_t ack = 0;       // the sender has every reading of ours for the ticks before this
  uint32_t tick = 0;      // the next tick the sender will run
  int8_t advantage = 0;   // ticks the sender believes it runs ahead (negative: behind)
  uint16_t stamp = 0;     // the sender's frame clock (wraps)
  uint16_t echo = 0;      // the last stamp the sender received from us
  uint8_t echoAge = 0;    // frames between receiving `echo` and sending this (capped)
};

struct Message {
  MessageType type = MessageType::Quit;
  Hello hello;        // Hello
  Inputs inputs;      // Inputs
  uint32_t tick = 0;  // Checksum: the tick whose starting state was summed
  uint32_t value = 0; // Checksum: the sum; Ready: screen; Pause, Rematch: 0 or 1; Quit: end
};

// The bytes of a message (encoding never fails for a message that keeps the caps).
std::vector<uint8_t> EncodeMessage(const Message& message);
// True and `out` filled when `data` is exactly one well-formed message.
bool DecodeMessage(const uint8_t* data, size_t size, Message& out);

Message MakeHello(const Hello& hello);
Message MakeChecksum(uint32_t tick, uint32_t value);
Message MakeSignal(MessageType type, uint32_t value = 0);  // Refuse, Ready, Pause, Rematch, Quit

// Compares what the other side says of itself with this game: an empty string when the
// two may play together, otherwise what the player is told.
std::string CompareHello(const Hello& mine, const Hello& theirs);

}  // namespace net
