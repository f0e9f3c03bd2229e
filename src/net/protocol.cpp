// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/protocol.h"

#include "net/wire.h"

#include <algorithm>

namespace net {
namespace {

bool IsSignal(MessageType type) {
  return type == MessageType::Refuse || type == MessageType::Ready ||
         type == MessageType::Pause || type == MessageType::Rematch ||
         type == MessageType::Quit;
}

// The values a signal may carry.
uint32_t SignalLimit(MessageType type) {
  switch (type) {
    case MessageType::Ready:
    case MessageType::Quit: return UINT32_MAX;
    case MessageType::Pause:
    case MessageType::Rematch: return 1;
    default: return 0;
  }
}

// Small signed numbers as small unsigned ones: 0, -1, 1, -2, ... become 0, 1, 2, 3, ...
uint8_t ZigZag(int8_t v) {
  const unsigned u = static_cast<uint8_t>(v);
  return static_cast<uint8_t>(((u << 1) & 0xff) ^ (v < 0 ? 0xff : 0x00));
}
int8_t UnZigZag(uint8_t v) {
  const unsigned magnitude = v >> 1;
  return static_cast<int8_t>((v & 1) ? -static_cast<int>(magnitude) - 1 : static_cast<int>(magnitude));
}

}  // namespace

std::vector<uint8_t> EncodeMessage(const Message& m) {
  Writer w;
  w.Byte(static_cast<uint8_t>(m.type));
  switch (m.type) {
    case MessageType::Hello: {
      w.Number(m.hello.protocol);
      w.Text(m.hello.gameVersion, kMaxVersionText);
      w.Number(m.hello.fingerprint);
      w.Number(m.hello.seed);
      break;
    }
    case MessageType::Inputs: {
      const Inputs& in = m.inputs;
      const uint8_t count = std::min<uint8_t>(in.count, kMaxReadingsPerMessage);
      w.Number(in.first);
      w.Byte(count);
      // Two readings to a byte, the earlier in the low half.
      for (uint8_t i = 0; i < count; i += 2) {
        const uint8_t lo = in.readings[i] & 0x0f;
        const uint8_t hi = i + 1 < count ? in.readings[i + 1] & 0x0f : 0;
        w.Byte(static_cast<uint8_t>(lo | hi << 4));
      }
      w.Number(in.ack);
      w.Number(in.tick);
      w.Byte(ZigZag(in.advantage));
      w.Number(in.stamp);
      w.Number(in.echo);
      w.Byte(in.echoAge);
      break;
    }
    case MessageType::Checksum:
      w.Number(m.tick);
      w.Number(m.value);
      break;
    default:
      if (IsSignal(m.type) && SignalLimit(m.type) > 0) w.Number(m.value);
      break;
  }
  return w.Take();
}

bool DecodeMessage(const uint8_t* data, size_t size, Message& out) {
  if (data == nullptr || size == 0 || size > kMaxMessageBytes) return false;
  Reader r(data, size);
  Message m;
  m.type = static_cast<MessageType>(r.Byte());
  switch (m.type) {
    case MessageType::Hello: {
      m.hello.protocol = static_cast<uint16_t>(r.Number(16));
      if (!r.Text(m.hello.gameVersion, kMaxVersionText)) return false;
      m.hello.fingerprint = r.Number(64);
      m.hello.seed = r.Number(64);
      break;
    }
    case MessageType::Inputs: {
      Inputs& in = m.inputs;
      in.first = static_cast<uint32_t>(r.Number(32));
      in.count = r.Byte();
      if (in.count > kMaxReadingsPerMessage) return false;
      for (uint8_t i = 0; i < in.count && r.Ok(); i += 2) {
        const uint8_t b = r.Byte();
        in.readings[i] = b & 0x0f;
        if (i + 1 < in.count) {
          in.readings[i + 1] = b >> 4;
        } else if ((b >> 4) != 0) {
          return false;  // the unused half of an odd count is zero
        }
      }
      in.ack = static_cast<uint32_t>(r.Number(32));
      in.tick = static_cast<uint32_t>(r.Number(32));
      in.advantage = UnZigZag(r.Byte());
      in.stamp = static_cast<uint16_t>(r.Number(16));
      in.echo = static_cast<uint16_t>(r.Number(16));
      in.echoAge = r.Byte();
      // Readings beyond the last tick a 32-bit clock can name are nonsense.
      if (in.count > 0 && in.first > UINT32_MAX - in.count) return false;
      break;
    }
    case MessageType::Checksum:
      m.tick = static_cast<uint32_t>(r.Number(32));
      m.value = static_cast<uint32_t>(r.Number(32));
      break;
    default:
      if (!IsSignal(m.type)) return false;
      if (SignalLimit(m.type) > 0) {
        m.value = static_cast<uint32_t>(r.Number(32));
        if (m.value > SignalLimit(m.type)) return false;
      }
      break;
  }
  if (!r.Ok() || !r.AtEnd()) return false;
  out = std::move(m);
  return true;
}

Message MakeHello(const Hello& hello) {
  Message m;
  m.type = MessageType::Hello;
  m.hello = hello;
  return m;
}

Message MakeChecksum(uint32_t tick, uint32_t value) {
  Message m;
  m.type = MessageType::Checksum;
  m.tick = tick;
  m.value = value;
  return m;
}

Message MakeSignal(MessageType type, uint32_t value) {
  Message m;
  m.type = type;
  m.value = value;
  return m;
}

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
