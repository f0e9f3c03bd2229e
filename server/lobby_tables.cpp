// SPDX-License-Identifier: GPL-3.0-or-later
#include "lobby_tables.h"

#include <algorithm>

using net::Endpoint;
using net::LobbyMessage;
using net::LobbyRefusal;
using net::LobbyType;

namespace {

constexpr size_t kMaxEvents = 1024;  // log lines held between two TakeEvents calls
constexpr uint64_t kWindowMs = 1000;  // bandwidth caps count bytes per second

uint64_t Key(const Endpoint& e) { return static_cast<uint64_t>(e.ip) << 16 | e.port; }

const char* ReasonText(LobbyRefusal why) {
  switch (why) {
    case LobbyRefusal::NoSuchCode: return "no such code";
    case LobbyRefusal::Full: return "game full";
    case LobbyRefusal::WrongVersion: return "another version";
    case LobbyRefusal::RateLimited: return "rate limited";
    case LobbyRefusal::Busy: return "tables full";
    case LobbyRefusal::RelayFull: return "relay full";
  }
  return "?";
}

}  // namespace

Lobby::Lobby(const LobbyLimits& limits, std::function<uint64_t()> random)
    : limits_(limits), random_(std::move(random)) {}

void Lobby::Event(std::string line) {
  if (events_.size() < kMaxEvents) events_.push_back(std::move(line));
}

std::vector<std::string> Lobby::TakeEvents() {
  std::vector<std::string> taken;
  taken.swap(events_);
  return taken;
}

// A token bucket per address: a burst, then a steady trickle.
bool Lobby::Allow(const Endpoint& from, uint64_t nowMs) {
  auto it = buckets_.find(from.ip);
  if (it == buckets_.end()) {
    if (buckets_.size() >= limits_.maxAddresses) return false;
    it = buckets_.emplace(from.ip, Bucket{limits_.requestBurst, nowMs}).first;
  }
  Bucket& b = it->second;
  b.tokens = std::min(limits_.requestBurst,
                      b.tokens + static_cast<double>(nowMs - b.lastMs) / 1000.0 * limits_.requestsPerSecond);
  b.lastMs = nowMs;
  if (b.tokens < 1) return false;
  b.tokens -= 1;
  return true;
}

void Lobby::Send(const Endpoint& to, const LobbyMessage& m, std::vector<LobbyOutgoing>& out) {
  out.push_back({to, net::EncodeLobby(m), false});
}

void Lobby::Refuse(const Endpoint& to, uint64_t nonce, LobbyRefusal why, std::vector<LobbyOutgoing>& out,
                   const std::string& version) {
  ++counts_.refused;
  LobbyMessage m;
  m.type = LobbyType::Refusal;
  m.nonce = nonce;
  m.reason = why;
  m.version = version;
  Send(to, m, out);
  if (why != LobbyRefusal::RateLimited) Event("Refused " + net::EndpointText(to) + ": " + ReasonText(why));
}

void Lobby::Handle(const uint8_t* data, size_t size, const Endpoint& from, uint64_t nowMs,
                   std::vector<LobbyOutgoing>& out) {
  ++counts_.datagrams;
  if (!net::HasLobbyMagic(data, size)) {
    Relay(size, from, nowMs, out);
    return;
  }
  LobbyMessage m;
  if (!net::DecodeLobby(data, size, m) || !net::IsLobbyRequest(m.type)) {
    ++counts_.undecodable;
    return;
  }
  const size_t before = out.size();
  switch (m.type) {
    case LobbyType::Register: OnRegister(m, from, nowMs, out); break;
    case LobbyType::Keepalive: OnKeepalive(m, from, nowMs, out); break;
    case LobbyType::Join: OnJoin(m, from, nowMs, out); break;
    case LobbyType::RelayBind: OnRelayBind(m, from, nowMs, out); break;
    default: break;
  }
  // Never more bytes to the sender than it sent: nothing is amplified.
  for (size_t i = before; i < out.size(); ++i) {
    if (out[i].to == from && out[i].bytes.size() > size) out[i].bytes.clear();
  }
  out.erase(std::remove_if(out.begin() + static_cast<std::ptrdiff_t>(before), out.end(),
                           [](const LobbyOutgoing& o) { return !o.forward && o.bytes.empty(); }),
            out.end());
}

void Lobby::OnRegister(const LobbyMessage& m, const Endpoint& from, uint64_t nowMs, std::vector<LobbyOutgoing>& out) {
  auto known = hostGames_.find(Key(from));
  if (known != hostGames_.end()) {
    Game& g = games_[known->second];
    if (g.hello.nonce == m.nonce) {  // the same request again: the same answer
      LobbyMessage r;
      r.type = LobbyType::Registered;
      r.nonce = m.nonce;
      r.code = known->second;
      r.token = g.secret;
      r.seen = from;
      r.seconds = static_cast<uint16_t>(limits_.codeIdleMs / 1000);
      Send(from, r, out);
      return;
    }
    RemoveGame(known->second);  // the host started again
  }
  if (!Allow(from, nowMs)) return Refuse(from, m.nonce, LobbyRefusal::RateLimited, out);
  if (games_.size() >= limits_.maxGames) return Refuse(from, m.nonce, LobbyRefusal::Busy, out);
  std::string code;
  for (int tries = 0; tries < 8 && (code.empty() || games_.count(code) != 0); ++tries) code = net::MakeCode(random_());
  if (games_.count(code) != 0) return Refuse(from, m.nonce, LobbyRefusal::Busy, out);
  Game& g = games_[code];
  g.hello = m;
  g.host = from;
  g.secret = random_();
  g.createdMs = g.lastKeptMs = nowMs;
  hostGames_[Key(from)] = code;
  ++counts_.registered;
  LobbyMessage r;
  r.type = LobbyType::Registered;
  r.nonce = m.nonce;
  r.code = code;
  r.token = g.secret;
  r.seen = from;
  r.seconds = static_cast<uint16_t>(limits_.codeIdleMs / 1000);
  Send(from, r, out);
  Event("Game " + code + " registered by " + net::EndpointText(from) + " (version " + m.version + ")");
}

void Lobby::OnKeepalive(const LobbyMessage& m, const Endpoint& from, uint64_t nowMs, std::vector<LobbyOutgoing>& out) {
  auto it = games_.find(m.code);
  if (it == games_.end() || it->second.secret != m.token || it->second.host != from) {
    if (!Allow(from, nowMs)) return;  // guessing secrets costs like guessing codes
    return Refuse(from, 0, LobbyRefusal::NoSuchCode, out);
  }
  Game& g = it->second;
  g.proven = true;
  g.lastKeptMs = nowMs;
  if (g.joined) {
    Send(from, g.toHost, out);
    return;
  }
  LobbyMessage r;
  r.type = LobbyType::Registered;
  r.nonce = g.hello.nonce;
  r.code = m.code;
  r.token = g.secret;
  r.seen = from;
  r.seconds = static_cast<uint16_t>(limits_.codeIdleMs / 1000);
  Send(from, r, out);
}

void Lobby::OnJoin(const LobbyMessage& m, const Endpoint& from, uint64_t nowMs, std::vector<LobbyOutgoing>& out) {
  auto it = games_.find(m.code);
  if (it != games_.end() && it->second.joined && it->second.joiner == from && it->second.joinerNonce == m.nonce) {
    Send(from, it->second.toJoiner, out);  // the same request again: the same answer
    Send(it->second.host, it->second.toHost, out);
    return;
  }
  if (!Allow(from, nowMs)) return Refuse(from, m.nonce, LobbyRefusal::RateLimited, out);
  if (it == games_.end() || !it->second.proven) return Refuse(from, m.nonce, LobbyRefusal::NoSuchCode, out);
  Game& g = it->second;
  if (g.joined) return Refuse(from, m.nonce, LobbyRefusal::Full, out);
  if (m.version != g.hello.version || m.protocol != g.hello.protocol || m.fingerprint != g.hello.fingerprint) {
    return Refuse(from, m.nonce, LobbyRefusal::WrongVersion, out, g.hello.version);
  }
  const uint64_t token = random_();
  bool relay = false;
  if (pairs_.size() < limits_.maxPairs && pairs_.count(token) == 0) {
    Pair& p = pairs_[token];
    p.lastMs = nowMs;
    relay = true;
  }
  g.joined = true;
  g.joiner = from;
  g.joinerNonce = m.nonce;
  g.joinedMs = nowMs;
  g.toJoiner.type = g.toHost.type = LobbyType::Introduce;
  g.toJoiner.token = g.toHost.token = token;
  g.toJoiner.relay = g.toHost.relay = relay ? 1 : 0;
  g.toJoiner.nonce = m.nonce;
  g.toJoiner.side = 1;
  g.toJoiner.seen = g.host;
  g.toJoiner.peerLocal = g.hello.local;
  g.toHost.nonce = g.hello.nonce;
  g.toHost.side = 0;
  g.toHost.seen = from;
  g.toHost.peerLocal = m.local;
  ++counts_.joined;
  Send(from, g.toJoiner, out);
  Send(g.host, g.toHost, out);  // proven: its own keepalives echoed the secret
  Event("Game " + m.code + " joined by " + net::EndpointText(from) + (relay ? "" : " (relay full)"));
}

void Lobby::OnRelayBind(const LobbyMessage& m, const Endpoint& from, uint64_t nowMs, std::vector<LobbyOutgoing>& out) {
  auto it = pairs_.find(m.token);
  if (it == pairs_.end()) {
    Allow(from, nowMs);  // a guess costs
    return;
  }
  Pair& p = it->second;
  // One pair per endpoint: a game that plays again (a new pair, its secret token)
  // leaves its old pair.
  auto bound = boundEnds_.find(Key(from));
  if (bound != boundEnds_.end() && bound->second != m.token) {
    auto old = pairs_.find(bound->second);
    if (old != pairs_.end()) {
      for (int s = 0; s < 2; ++s) {
        if (old->second.bound[s] && old->second.ends[s] == from) old->second.bound[s] = false;
      }
    }
    boundEnds_.erase(bound);
  }
  if (p.bound[m.side] && p.ends[m.side] != from) boundEnds_.erase(Key(p.ends[m.side]));  // a new NAT mapping
  if (!p.bound[m.side] || p.ends[m.side] != from) {
    p.ends[m.side] = from;
    p.bound[m.side] = true;
    boundEnds_[Key(from)] = m.token;
    if (p.bound[0] && p.bound[1]) {
      Event("Relay pair " + net::EndpointText(p.ends[0]) + " <-> " + net::EndpointText(p.ends[1]) + " bound");
    }
  }
  p.lastMs = nowMs;
  LobbyMessage r;
  r.type = LobbyType::RelayBound;
  r.token = m.token;
  r.side = m.side;
  Send(from, r, out);
}

void Lobby::Relay(size_t size, const Endpoint& from, uint64_t nowMs, std::vector<LobbyOutgoing>& out) {
  auto bound = boundEnds_.find(Key(from));
  if (bound == boundEnds_.end()) {
    ++counts_.relayDropped;
    return;
  }
  auto pair = pairs_.find(bound->second);
  if (pair == pairs_.end()) {
    ++counts_.relayDropped;
    return;
  }
  Pair& p = pair->second;
  const int side = p.bound[0] && p.ends[0] == from ? 0 : 1;
  if (!p.bound[1 - side]) {
    ++counts_.relayDropped;
    return;
  }
  if (nowMs - p.windowMs >= kWindowMs) {
    p.windowMs = nowMs;
    p.windowBytes = 0;
  }
  if (nowMs - totalWindowMs_ >= kWindowMs) {
    totalWindowMs_ = nowMs;
    totalWindowBytes_ = 0;
  }
  if (p.windowBytes + size > limits_.pairBytesPerSecond || totalWindowBytes_ + size > limits_.totalBytesPerSecond) {
    ++counts_.relayDropped;
    return;
  }
  p.windowBytes += size;
  totalWindowBytes_ += size;
  p.lastMs = nowMs;
  ++counts_.relayed;
  out.push_back({p.ends[1 - side], {}, true});
}

void Lobby::RemoveGame(const std::string& code) {
  auto it = games_.find(code);
  if (it == games_.end()) return;
  auto host = hostGames_.find(Key(it->second.host));
  if (host != hostGames_.end() && host->second == code) hostGames_.erase(host);
  games_.erase(it);
}

void Lobby::RemovePair(uint64_t token) {
  auto it = pairs_.find(token);
  if (it == pairs_.end()) return;
  for (int s = 0; s < 2; ++s) {
    if (!it->second.bound[s]) continue;
    auto bound = boundEnds_.find(Key(it->second.ends[s]));
    if (bound != boundEnds_.end() && bound->second == token) boundEnds_.erase(bound);
  }
  pairs_.erase(it);
}

void Lobby::Expire(uint64_t nowMs) {
  std::vector<std::string> codes;
  for (const auto& [code, g] : games_) {
    const bool idle = !g.joined && nowMs - g.lastKeptMs > limits_.codeIdleMs;
    const bool old = nowMs - g.createdMs > limits_.codeMaxMs;
    const bool done = g.joined && nowMs - g.joinedMs > limits_.joinedKeepMs;
    if (idle || old || done) codes.push_back(code);
  }
  for (const std::string& code : codes) RemoveGame(code);
  counts_.expired += codes.size();
  std::vector<uint64_t> tokens;
  for (const auto& [token, p] : pairs_) {
    if (nowMs - p.lastMs > limits_.pairIdleMs) tokens.push_back(token);
  }
  for (uint64_t token : tokens) RemovePair(token);
  for (auto it = buckets_.begin(); it != buckets_.end();) {
    // A full bucket again says nothing: forget it.
    const double refill = static_cast<double>(nowMs - it->second.lastMs) / 1000.0 * limits_.requestsPerSecond;
    it = it->second.tokens + refill >= limits_.requestBurst ? buckets_.erase(it) : std::next(it);
  }
}
