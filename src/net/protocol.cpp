// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/protocol.h"

#include "net/wire.h"

#include <algorithm>

namespace net {
namespace {

// The values a signal may carry: 0..limit (0: it carries none); -1 for a type that is
// no signal.
int64_t SignalLimit(MessageType type) {
  switch (type) {
    case MessageType::Ready:
    case MessageType::Quit: return UINT32_MAX;
    case MessageType::Pause:
    case MessageType::Rematch: return 1;
    case MessageType::Refuse: return 0;
    default: return -1;
  }
}

// Small signed numbers as small unsigned ones: 0, -1, 1, -2, ... become 0, 1, 2, 3, ...
uint8_t ZigZag(int8_t v) { return static_cast<uint8_t>((static_cast<uint8_t>(v) << 1) ^ (v < 0 ? 0xff : 0)); }
int8_t UnZigZag(uint8_t v) { return static_cast<int8_t>((v >> 1) ^ -(v & 1)); }

// A field written or read: one description of each message's layout (Fields, below)
// serves both ways; a reader also takes the checks of what it read. A number is as wide
// as its field's type.
struct Put {
  template <class T>
  void Number(T v) { w.Number(v); }
  void Byte(uint8_t v) { w.Byte(v); }
  void Signed(int8_t v) { w.Byte(ZigZag(v)); }
  void Text(const std::string& text) { w.Text(text, kMaxVersionText); }
  void Readings(const Inputs& in);
  void Check(bool) {}
  Writer w;
};

struct Get {
  template <class T>
  void Number(T& v) { v = static_cast<T>(r.Number(8 * sizeof(T))); }
  void Byte(uint8_t& v) { v = r.Byte(); }
  void Signed(int8_t& v) { v = UnZigZag(r.Byte()); }
  void Text(std::string& text) { Check(r.Text(text, kMaxVersionText)); }
  void Readings(Inputs& in);
  void Check(bool holds) { ok = ok && holds; }
  Reader r;
  bool ok = true;
};

// The count (one byte), then two readings to a byte, the earlier in the low half.
void Put::Readings(const Inputs& in) {
  const uint8_t count = std::min<uint8_t>(in.count, kMaxReadingsPerMessage);
  w.Byte(count);
  for (uint8_t i = 0; i < count; i += 2) {
    const uint8_t hi = i + 1 < count ? in.readings[i + 1] & 0x0f : 0;
    w.Byte(static_cast<uint8_t>((in.readings[i] & 0x0f) | hi << 4));
  }
}

void Get::Readings(Inputs& in) {
  Byte(in.count);
  Check(in.count <= kMaxReadingsPerMessage);
  for (uint8_t i = 0; ok && i < in.count; i += 2) {
    const uint8_t b = r.Byte();
    in.readings[i] = b & 0x0f;
    in.readings[i + 1] = b >> 4;  // the unused half of an odd count is zero
    Check(i + 1 < in.count || in.readings[i + 1] == 0);
  }
}

// Each type's fields in their order (after the type's byte), with the checks of what
// they may hold.
template <class Io, class M>
void Fields(Io& io, M& m) {
  switch (m.type) {
    case MessageType::Hello:
      io.Number(m.hello.protocol);
      io.Text(m.hello.gameVersion);
      io.Number(m.hello.fingerprint);
      io.Number(m.hello.seed);
      break;
    case MessageType::Inputs:
      io.Number(m.inputs.first);
      io.Readings(m.inputs);
      io.Number(m.inputs.ack);
      io.Number(m.inputs.tick);
      io.Signed(m.inputs.advantage);
      io.Number(m.inputs.stamp);
      io.Number(m.inputs.echo);
      io.Byte(m.inputs.echoAge);
      // Readings beyond the last tick a 32-bit clock can name are nonsense.
      io.Check(m.inputs.count == 0 || m.inputs.first <= UINT32_MAX - m.inputs.count);
      break;
    case MessageType::Checksum:
      io.Number(m.tick);
      io.Number(m.value);
      break;
    default:  // the signals: any other type fails the check (its limit is -1)
      if (SignalLimit(m.type) > 0) io.Number(m.value);
      io.Check(int64_t{m.value} <= SignalLimit(m.type));
      break;
  }
}

}  // namespace

std::vector<uint8_t> EncodeMessage(const Message& m) {
  Put put;
  put.w.Byte(static_cast<uint8_t>(m.type));
  Fields(put, m);
  return put.w.Take();
}

bool DecodeMessage(const uint8_t* data, size_t size, Message& out) {
  if (data == nullptr || size == 0 || size > kMaxMessageBytes) return false;
  Get get{Reader(data, size)};
  Message m;
  m.type = static_cast<MessageType>(get.r.Byte());
  Fields(get, m);
  if (!get.ok || !get.r.Ok() || !get.r.AtEnd()) return false;
  out = std::move(m);
  return true;
}

Message MakeHello(const Hello& hello) { return {MessageType::Hello, hello, {}, 0, 0}; }

Message MakeChecksum(uint32_t tick, uint32_t value) { return {MessageType::Checksum, {}, {}, tick, value}; }

Message MakeSignal(MessageType type, uint32_t value) { return {type, {}, {}, 0, value}; }

std::string CompareHello(const Hello& mine, const Hello& theirs) {
  if (theirs.gameVersion != mine.gameVersion) {
    return "The other player's game is version " + theirs.gameVersion;
  }
  if (theirs.protocol != mine.protocol || theirs.fingerprint != mine.fingerprint) {
    return "The other player's game is a different build";
  }
  return "";
}

}  // namespace net
