// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/lobby_protocol.h"

#include <algorithm>
#include <cctype>

#include "net/protocol.h"
#include "net/wire.h"

namespace net {
namespace {

constexpr uint8_t kMagic[kLobbyMagicBytes] = {'N', 'S', 'L', '1'};

// A field read or written: one description of each datagram's layout (Fields, below)
// serves both ways. A reader also takes the checks of what it read.
class Put {
 public:
  template <class T>
  void Fixed(const T& v, int bytes) { w.Fixed(static_cast<uint64_t>(v), bytes); }
  void Code(const std::string& code) {
    for (size_t i = 0; i < kCodeLength; ++i) w.Byte(i < code.size() ? static_cast<uint8_t>(code[i]) : '2');
  }
  void Version(const std::string& version) { w.Text(version, kMaxVersionText); }
  void Runs(const std::vector<uint8_t>& items);
  void Check(bool) {}
  Writer w;
};

class Get {
 public:
  Get(const uint8_t* data, size_t size) : r(data, size) {}
  template <class T>
  void Fixed(T& v, int bytes) { v = static_cast<T>(r.Fixed(bytes)); }
  void Code(std::string& code);
  void Version(std::string& version) { Check(r.Text(version, kMaxVersionText)); }
  void Runs(std::vector<uint8_t>& items);
  void Check(bool holds) { ok = ok && holds; }
  Reader r;
  bool ok = true;
};

template <class Io, class E>
void EndpointField(Io& io, E& e) {
  io.Fixed(e.ip, 4);
  io.Fixed(e.port, 2);
}

void Get::Code(std::string& code) {
  code.clear();
  for (size_t i = 0; i < kCodeLength; ++i) {
    const uint8_t c = r.Byte();
    Check(c != 0 && std::find(kCodeAlphabet, kCodeAlphabet + kCodeAlphabetSize, c) != kCodeAlphabet + kCodeAlphabetSize);
    code.push_back(static_cast<char>(c));
  }
}

bool IsStream(LobbyType type) { return type == LobbyType::Feed || type == LobbyType::WatchData; }

// The items as runs: the item, then how many in a row (LEB128, at least 1); two runs in
// a row never hold the same item, so one list of items has one encoding.
size_t RunBytes(size_t count) {
  Writer w;
  w.Number(count);
  return 1 + w.Size();
}

void Put::Runs(const std::vector<uint8_t>& items) {
  for (size_t i = 0; i < items.size();) {
    size_t j = i;
    while (j < items.size() && items[j] == items[i]) ++j;
    w.Byte(items[i]);
    w.Number(j - i);
    i = j;
  }
}

void Get::Runs(std::vector<uint8_t>& items) {
  items.clear();
  int last = -1;
  while (ok && r.Left() > 0) {
    const uint8_t item = r.Byte();
    const uint64_t count = r.Number(32);
    Check(r.Ok() && item < kStreamItemLimit && item != last && count != 0 && count <= kMaxChunkItems - items.size());
    if (ok) items.insert(items.end(), static_cast<size_t>(count), item);
    last = item;
  }
}

// Each type's fields in their order, with the checks of what they may hold.
template <class Io, class M>
void Fields(Io& io, M& m) {
  switch (m.type) {
    case LobbyType::Register:
    case LobbyType::Join:
    case LobbyType::Watch:
      io.Fixed(m.nonce, 8);
      if (m.type != LobbyType::Register) io.Code(m.code);
      io.Fixed(m.protocol, 2);
      io.Version(m.version);
      io.Fixed(m.fingerprint, 8);
      if (m.type != LobbyType::Watch) EndpointField(io, m.local);
      break;
    case LobbyType::Registered:
      io.Fixed(m.nonce, 8);
      io.Code(m.code);
      io.Fixed(m.token, 8);
      EndpointField(io, m.seen);
      io.Fixed(m.seconds, 2);
      break;
    case LobbyType::Watching:
    case LobbyType::Introduce:
      io.Fixed(m.nonce, 8);
      io.Fixed(m.token, 8);
      if (m.type == LobbyType::Watching) break;
      io.Fixed(m.side, 1);
      EndpointField(io, m.seen);
      EndpointField(io, m.peerLocal);
      io.Fixed(m.relay, 1);
      io.Check(m.side <= 1 && m.relay <= 1);
      break;
    case LobbyType::Refusal:
      io.Fixed(m.nonce, 8);
      io.Fixed(m.reason, 1);
      io.Check(m.reason >= LobbyRefusal::NoSuchCode && m.reason <= LobbyRefusal::NotStarted);
      io.Version(m.version);
      break;
    case LobbyType::RelayBind:
    case LobbyType::RelayBound:
    case LobbyType::Punch:
      io.Fixed(m.token, 8);
      io.Fixed(m.side, 1);
      io.Check(m.side <= 1);
      break;
    case LobbyType::Keepalive:
    case LobbyType::WatchAck:
      io.Code(m.code);
      io.Fixed(m.token, 8);
      if (m.type == LobbyType::Keepalive) break;
      io.Fixed(m.game, 2);
      io.Fixed(m.position, 4);
      io.Check(m.position <= kMaxStreamItems);
      break;
    case LobbyType::WatchData:
    case LobbyType::Feed:
      if (m.type == LobbyType::Feed) {
        io.Code(m.code);
        io.Fixed(m.token, 8);
      }
      io.Fixed(m.game, 2);
      io.Fixed(m.seed, 8);
      io.Fixed(m.math, 1);
      if (m.type == LobbyType::WatchData) {
        io.Fixed(m.total, 4);
        io.Fixed(m.live, 1);
      }
      io.Fixed(m.position, 4);
      io.Runs(m.items);
      io.Check(m.live <= 1 && m.total <= kMaxStreamItems && m.position + m.items.size() <= kMaxStreamItems);
      break;
    case LobbyType::FeedAck:
      io.Fixed(m.game, 2);
      io.Fixed(m.position, 4);
      io.Fixed(m.watchers, 2);
      io.Check(m.position <= kMaxStreamItems);
      break;
  }
}

}  // namespace

uint8_t TickItem(uint32_t p1Code, uint32_t p2Code) { return static_cast<uint8_t>(p1Code % 6 * 6 + p2Code % 6); }

size_t StreamHeaderBytes(LobbyType type) {
  // magic, type, then Feed: code, secret, game, seed, math, position; WatchData: game,
  // seed, math, total, live, position.
  return kLobbyMagicBytes + 1 + (type == LobbyType::Feed ? kCodeLength + 8 + 2 + 8 + 1 + 4 : 2 + 8 + 1 + 4 + 1 + 4);
}

size_t StreamItemsThatFit(const uint8_t* items, size_t count, size_t room) {
  size_t taken = 0;
  size_t bytes = 0;
  while (taken < count && taken < kMaxChunkItems) {
    size_t j = taken;
    while (j < count && j < kMaxChunkItems && items[j] == items[taken]) ++j;
    const size_t whole = j - taken;
    size_t run = whole;
    while (run > 1 && bytes + RunBytes(run) > room) run >>= 1;  // part of the run, if its count fits
    if (bytes + RunBytes(run) > room) break;
    bytes += RunBytes(run);
    taken += run;
    if (run < whole) break;  // the room is full
  }
  return taken;
}

std::string EndpointText(const Endpoint& e) {
  return std::to_string(e.ip >> 24) + "." + std::to_string((e.ip >> 16) & 0xff) + "." +
         std::to_string((e.ip >> 8) & 0xff) + "." + std::to_string(e.ip & 0xff) + ":" + std::to_string(e.port);
}

bool IsLobbyRequest(LobbyType type) {
  return type == LobbyType::Register || type == LobbyType::Keepalive || type == LobbyType::Join ||
         type == LobbyType::RelayBind || type == LobbyType::Watch || type == LobbyType::WatchAck;
}

bool HasLobbyMagic(const uint8_t* data, size_t size) {
  return data != nullptr && size >= kLobbyMagicBytes && std::equal(kMagic, kMagic + kLobbyMagicBytes, data);
}

std::vector<uint8_t> EncodeLobby(const LobbyMessage& m) {
  Put put;
  for (uint8_t b : kMagic) put.w.Byte(b);
  put.w.Byte(static_cast<uint8_t>(m.type));
  Fields(put, m);
  if (IsLobbyRequest(m.type)) {
    while (put.w.Size() < kLobbyRequestBytes) put.w.Byte(0);
  }
  return put.w.Take();
}

bool DecodeLobby(const uint8_t* data, size_t size, LobbyMessage& out) {
  if (!HasLobbyMagic(data, size) || size > kMaxLobbyDatagram) return false;
  Get get(data + kLobbyMagicBytes, size - kLobbyMagicBytes);
  LobbyMessage m;
  const uint8_t type = get.r.Byte();
  if (type < static_cast<uint8_t>(LobbyType::Register) || type > static_cast<uint8_t>(LobbyType::FeedAck)) return false;
  m.type = static_cast<LobbyType>(type);
  if (!IsStream(m.type) && size > kLobbyRequestBytes) return false;
  if (IsLobbyRequest(m.type) != (size == kLobbyRequestBytes) && !IsStream(m.type)) return false;
  Fields(get, m);
  if (!get.ok || !get.r.Ok()) return false;
  if (IsLobbyRequest(m.type)) {
    while (get.r.Left() > 0) {
      if (get.r.Byte() != 0) return false;  // padding is zeros
    }
  }
  if (!get.r.AtEnd()) return false;
  out = std::move(m);
  return true;
}

std::string MakeCode(uint64_t random) {
  std::string code;
  for (size_t i = 0; i < kCodeLength; ++i) {
    code.push_back(kCodeAlphabet[random % kCodeAlphabetSize]);
    random /= kCodeAlphabetSize;
  }
  return code;
}

std::string FormatCode(const std::string& code) {
  return code.size() == kCodeLength ? code.substr(0, 4) + "-" + code.substr(4) : code;
}

bool ParseCode(const std::string& text, std::string& code) {
  std::string t = text;
  if (t.size() == kCodeLength + 1 && (t[4] == '-' || t[4] == ' ')) t.erase(4, 1);
  if (t.size() != kCodeLength) return false;
  for (char& ch : t) {
    ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    const char* const alphabetEnd = kCodeAlphabet + kCodeAlphabetSize;
    if (std::find(kCodeAlphabet, alphabetEnd, ch) == alphabetEnd) return false;
  }
  code = t;
  return true;
}

}  // namespace net
