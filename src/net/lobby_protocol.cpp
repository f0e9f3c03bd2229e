// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/lobby_protocol.h"

#include <algorithm>
#include <cctype>

#include "net/wire.h"

namespace net {
namespace {

constexpr uint8_t kMagic[kLobbyMagicBytes] = {'N', 'S', 'L', '1'};
constexpr size_t kMaxVersion = 16;  // characters

void PutEndpoint(Writer& w, const Endpoint& e) {
  w.Fixed(e.ip, 4);
  w.Fixed(e.port, 2);
}
Endpoint GetEndpoint(Reader& r) {
  Endpoint e;
  e.ip = static_cast<uint32_t>(r.Fixed(4));
  e.port = static_cast<uint16_t>(r.Fixed(2));
  return e;
}

void PutCode(Writer& w, const std::string& code) {
  for (size_t i = 0; i < kCodeLength; ++i) w.Byte(i < code.size() ? static_cast<uint8_t>(code[i]) : '2');
}
bool GetCode(Reader& r, std::string& code) {
  code.clear();
  for (size_t i = 0; i < kCodeLength; ++i) {
    const uint8_t c = r.Byte();
    if (c == 0 || std::find(kCodeAlphabet, kCodeAlphabet + kCodeAlphabetSize, c) == kCodeAlphabet + kCodeAlphabetSize) {
      return false;
    }
    code.push_back(static_cast<char>(c));
  }
  return r.Ok();
}

void PutVersion(Writer& w, const std::string& version) {
  const size_t n = std::min(version.size(), kMaxVersion);
  w.Byte(static_cast<uint8_t>(n));
  for (size_t i = 0; i < n; ++i) w.Byte(static_cast<uint8_t>(version[i]));
}
bool GetVersion(Reader& r, std::string& version) {
  const uint8_t n = r.Byte();
  if (n > kMaxVersion) return false;
  version.clear();
  for (uint8_t i = 0; i < n; ++i) {
    const uint8_t c = r.Byte();
    if (c < 0x20 || c > 0x7e) return false;
    version.push_back(static_cast<char>(c));
  }
  return r.Ok();
}

bool IsStream(LobbyType type) { return type == LobbyType::Feed || type == LobbyType::WatchData; }

// The items as runs: the item, then how many in a row (LEB128, at least 1); two runs in
// a row never hold the same item, so one list of items has one encoding.
size_t RunBytes(uint32_t count) {
  size_t n = 1;
  while (count >= 0x80) {
    count >>= 7;
    ++n;
  }
  return 1 + n;
}

void PutRuns(Writer& w, const std::vector<uint8_t>& items) {
  for (size_t i = 0; i < items.size();) {
    size_t j = i;
    while (j < items.size() && items[j] == items[i]) ++j;
    w.Byte(items[i]);
    w.Number(j - i);
    i = j;
  }
}

bool GetRuns(Reader& r, std::vector<uint8_t>& items) {
  items.clear();
  int last = -1;
  while (r.Left() > 0) {
    const uint8_t item = r.Byte();
    const uint64_t count = r.Number(32);
    if (!r.Ok() || item >= kStreamItemLimit || item == last || count == 0) return false;
    if (count > kMaxChunkItems - items.size()) return false;
    items.insert(items.end(), static_cast<size_t>(count), item);
    last = item;
  }
  return true;
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
    size_t run = j - taken;
    if (bytes + RunBytes(static_cast<uint32_t>(run)) > room) {
      // Part of the run, if its count still fits in the room left.
      while (run > 1 && bytes + RunBytes(static_cast<uint32_t>(run)) > room) run = run >> 1;
      if (bytes + RunBytes(static_cast<uint32_t>(run)) <= room) taken += run;
      break;
    }
    bytes += RunBytes(static_cast<uint32_t>(run));
    taken = j;
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
  Writer w;
  for (uint8_t b : kMagic) w.Byte(b);
  w.Byte(static_cast<uint8_t>(m.type));
  switch (m.type) {
    case LobbyType::Register:
    case LobbyType::Join:
      w.Fixed(m.nonce, 8);
      if (m.type == LobbyType::Join) PutCode(w, m.code);
      w.Fixed(m.protocol, 2);
      PutVersion(w, m.version);
      w.Fixed(m.fingerprint, 8);
      PutEndpoint(w, m.local);
      break;
    case LobbyType::Registered:
      w.Fixed(m.nonce, 8);
      PutCode(w, m.code);
      w.Fixed(m.token, 8);
      PutEndpoint(w, m.seen);
      w.Fixed(m.seconds, 2);
      break;
    case LobbyType::Keepalive:
      PutCode(w, m.code);
      w.Fixed(m.token, 8);
      break;
    case LobbyType::Introduce:
      w.Fixed(m.nonce, 8);
      w.Fixed(m.token, 8);
      w.Byte(m.side);
      PutEndpoint(w, m.seen);
      PutEndpoint(w, m.peerLocal);
      w.Byte(m.relay);
      break;
    case LobbyType::Refusal:
      w.Fixed(m.nonce, 8);
      w.Byte(static_cast<uint8_t>(m.reason));
      PutVersion(w, m.version);
      break;
    case LobbyType::RelayBind:
    case LobbyType::RelayBound:
    case LobbyType::Punch:
      w.Fixed(m.token, 8);
      w.Byte(m.side);
      break;
    case LobbyType::Watch:
      w.Fixed(m.nonce, 8);
      PutCode(w, m.code);
      w.Fixed(m.protocol, 2);
      PutVersion(w, m.version);
      w.Fixed(m.fingerprint, 8);
      break;
    case LobbyType::Watching:
      w.Fixed(m.nonce, 8);
      w.Fixed(m.token, 8);
      break;
    case LobbyType::WatchAck:
      PutCode(w, m.code);
      w.Fixed(m.token, 8);
      w.Fixed(m.game, 2);
      w.Fixed(m.position, 4);
      break;
    case LobbyType::WatchData:
      w.Fixed(m.game, 2);
      w.Fixed(m.seed, 8);
      w.Byte(m.math);
      w.Fixed(m.total, 4);
      w.Byte(m.live);
      w.Fixed(m.position, 4);
      PutRuns(w, m.items);
      break;
    case LobbyType::Feed:
      PutCode(w, m.code);
      w.Fixed(m.token, 8);
      w.Fixed(m.game, 2);
      w.Fixed(m.seed, 8);
      w.Byte(m.math);
      w.Fixed(m.position, 4);
      PutRuns(w, m.items);
      break;
    case LobbyType::FeedAck:
      w.Fixed(m.game, 2);
      w.Fixed(m.position, 4);
      w.Fixed(m.watchers, 2);
      break;
  }
  if (IsLobbyRequest(m.type)) {
    while (w.Size() < kLobbyRequestBytes) w.Byte(0);
  }
  return w.Take();
}

bool DecodeLobby(const uint8_t* data, size_t size, LobbyMessage& out) {
  if (!HasLobbyMagic(data, size) || size > kMaxLobbyDatagram) return false;
  Reader r(data + kLobbyMagicBytes, size - kLobbyMagicBytes);
  LobbyMessage m;
  const uint8_t type = r.Byte();
  if (type < static_cast<uint8_t>(LobbyType::Register) || type > static_cast<uint8_t>(LobbyType::FeedAck)) return false;
  m.type = static_cast<LobbyType>(type);
  if (!IsStream(m.type) && size > kLobbyRequestBytes) return false;
  if (IsLobbyRequest(m.type) != (size == kLobbyRequestBytes) && !IsStream(m.type)) return false;
  bool ok = true;
  switch (m.type) {
    case LobbyType::Register:
    case LobbyType::Join:
      m.nonce = r.Fixed(8);
      if (m.type == LobbyType::Join) ok = GetCode(r, m.code);
      m.protocol = static_cast<uint16_t>(r.Fixed(2));
      ok = ok && GetVersion(r, m.version);
      m.fingerprint = r.Fixed(8);
      m.local = GetEndpoint(r);
      break;
    case LobbyType::Registered:
      m.nonce = r.Fixed(8);
      ok = GetCode(r, m.code);
      m.token = r.Fixed(8);
      m.seen = GetEndpoint(r);
      m.seconds = static_cast<uint16_t>(r.Fixed(2));
      break;
    case LobbyType::Keepalive:
      ok = GetCode(r, m.code);
      m.token = r.Fixed(8);
      break;
    case LobbyType::Introduce:
      m.nonce = r.Fixed(8);
      m.token = r.Fixed(8);
      m.side = r.Byte();
      m.seen = GetEndpoint(r);
      m.peerLocal = GetEndpoint(r);
      m.relay = r.Byte();
      ok = m.side <= 1 && m.relay <= 1;
      break;
    case LobbyType::Refusal: {
      m.nonce = r.Fixed(8);
      const uint8_t reason = r.Byte();
      ok = reason >= static_cast<uint8_t>(LobbyRefusal::NoSuchCode) &&
           reason <= static_cast<uint8_t>(LobbyRefusal::NotStarted);
      m.reason = static_cast<LobbyRefusal>(reason);
      ok = ok && GetVersion(r, m.version);
      break;
    }
    case LobbyType::RelayBind:
    case LobbyType::RelayBound:
    case LobbyType::Punch:
      m.token = r.Fixed(8);
      m.side = r.Byte();
      ok = m.side <= 1;
      break;
    case LobbyType::Watch:
      m.nonce = r.Fixed(8);
      ok = GetCode(r, m.code);
      m.protocol = static_cast<uint16_t>(r.Fixed(2));
      ok = ok && GetVersion(r, m.version);
      m.fingerprint = r.Fixed(8);
      break;
    case LobbyType::Watching:
      m.nonce = r.Fixed(8);
      m.token = r.Fixed(8);
      break;
    case LobbyType::WatchAck:
      ok = GetCode(r, m.code);
      m.token = r.Fixed(8);
      m.game = static_cast<uint16_t>(r.Fixed(2));
      m.position = static_cast<uint32_t>(r.Fixed(4));
      ok = ok && m.position <= kMaxStreamItems;
      break;
    case LobbyType::WatchData:
    case LobbyType::Feed:
      if (m.type == LobbyType::Feed) {
        ok = GetCode(r, m.code);
        m.token = r.Fixed(8);
      }
      m.game = static_cast<uint16_t>(r.Fixed(2));
      m.seed = r.Fixed(8);
      m.math = r.Byte();
      if (m.type == LobbyType::WatchData) {
        m.total = static_cast<uint32_t>(r.Fixed(4));
        m.live = r.Byte();
      }
      m.position = static_cast<uint32_t>(r.Fixed(4));
      ok = ok && r.Ok() && m.live <= 1 && m.total <= kMaxStreamItems && GetRuns(r, m.items) &&
           m.position + m.items.size() <= kMaxStreamItems;
      break;
    case LobbyType::FeedAck:
      m.game = static_cast<uint16_t>(r.Fixed(2));
      m.position = static_cast<uint32_t>(r.Fixed(4));
      m.watchers = static_cast<uint16_t>(r.Fixed(2));
      ok = m.position <= kMaxStreamItems;
      break;
  }
  if (!ok || !r.Ok()) return false;
  if (IsLobbyRequest(m.type)) {
    while (r.Left() > 0) {
      if (r.Byte() != 0) return false;  // padding is zeros
    }
  }
  if (!r.AtEnd()) return false;
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
  std::string c;
  for (char ch : t) {
    const char up = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    if (std::find(kCodeAlphabet, kCodeAlphabet + kCodeAlphabetSize, up) == kCodeAlphabet + kCodeAlphabetSize) return false;
    c.push_back(up);
  }
  code = c;
  return true;
}

}  // namespace net
