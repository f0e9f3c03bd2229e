// SPDX-License-Identifier: GPL-3.0-or-later
#include "lobby_tables.h"

#include <algorithm>
#include <initializer_list>

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
    case LobbyRefusal::WatchersFull: return "spectators full";
    case LobbyRefusal::NotStarted: return "not begun";
  }
  return "?";
}

// What a game sends the lobby: requests, and a host's feed.
bool SentToLobby(LobbyType type) { return net::IsLobbyRequest(type) || type == LobbyType::Feed; }

bool Ended(const std::vector<uint8_t>& items) { return !items.empty() && items.back() >= net::kStreamEnd; }

constexpr size_t kMaxDataPerPulse = 4;  // datagrams to one spectator in one pulse

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
  if (!net::DecodeLobby(data, size, m) || !SentToLobby(m.type)) {
    ++counts_.undecodable;
    return;
  }
  const size_t before = out.size();
  switch (m.type) {
    case LobbyType::Register: OnRegister(m, from, nowMs, out); break;
    case LobbyType::Keepalive: OnKeepalive(m, from, nowMs, out); break;
    case LobbyType::Join: OnJoin(m, from, nowMs, out); break;
    case LobbyType::RelayBind: OnRelayBind(m, from, nowMs, out); break;
    case LobbyType::Feed: OnFeed(m, from, nowMs, out); break;
    case LobbyType::Watch: OnWatch(m, from, nowMs, out); break;
    case LobbyType::WatchAck: OnWatchAck(m, from, nowMs, out); break;
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
  const auto taken = [&](const std::string& c) { return c.empty() || games_.count(c) != 0 || streams_.count(c) != 0; };
  for (int tries = 0; tries < 8 && taken(code); ++tries) code = net::MakeCode(random_());
  if (taken(code)) return Refuse(from, m.nonce, LobbyRefusal::Busy, out);
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
  if (!Spend(p.sent, limits_.pairBytesPerSecond, relaySent_, limits_.totalBytesPerSecond, size, nowMs)) {
    ++counts_.relayDropped;
    return;
  }
  p.lastMs = nowMs;
  ++counts_.relayed;
  out.push_back({p.ends[1 - side], {}, true});
}

// --- Spectators ---------------------------------------------------------------

size_t Lobby::Watchers() const {
  size_t n = 0;
  for (const auto& entry : streams_) n += entry.second.watchers.size();
  return n;
}

void Lobby::OnFeed(const LobbyMessage& m, const Endpoint& from, uint64_t nowMs, std::vector<LobbyOutgoing>& out) {
  auto it = streams_.find(m.code);
  if (it == streams_.end()) {
    auto g = games_.find(m.code);
    if (g == games_.end() || !g->second.joined || g->second.secret != m.token) {
      Allow(from, nowMs);  // a guess costs
      return;
    }
    if (streams_.size() >= limits_.maxStreams) return Refuse(from, 0, LobbyRefusal::Busy, out);
    it = streams_.emplace(m.code, Stream{}).first;
    it->second.secret = g->second.secret;
    it->second.hello = g->second.hello;
    Event("Game " + m.code + " streams to spectators from " + net::EndpointText(from));
  } else if (it->second.secret != m.token) {
    Allow(from, nowMs);
    return;
  }
  Stream& s = it->second;
  s.fedMs = nowMs;
  ++counts_.fed;
  if (!s.started || m.game > s.game) {  // the first game, or the next one of the session
    streamBytes_ -= s.items.size();
    s.items.clear();
    s.started = true;
    s.game = m.game;
    s.seed = m.seed;
    s.math = m.math;
    for (Watcher& w : s.watchers) w.acked = w.sent = 0;
  }
  if (m.game == s.game && m.position <= s.items.size() && !Ended(s.items)) {
    const size_t skip = s.items.size() - m.position;
    size_t add = m.items.size() > skip ? m.items.size() - skip : 0;
    for (size_t i = 0; i < add; ++i) {
      if (m.items[skip + i] >= net::kStreamEnd) add = i + 1;  // nothing after the end
    }
    if (streamBytes_ + add > limits_.maxStreamBytes) return Refuse(from, 0, LobbyRefusal::Busy, out);
    s.items.insert(s.items.end(), m.items.begin() + static_cast<std::ptrdiff_t>(skip),
                   m.items.begin() + static_cast<std::ptrdiff_t>(skip + add));
    streamBytes_ += add;
  }
  LobbyMessage ack;
  ack.type = LobbyType::FeedAck;
  ack.game = s.game;
  ack.position = static_cast<uint32_t>(s.items.size());
  ack.watchers = static_cast<uint16_t>(std::count_if(s.watchers.begin(), s.watchers.end(),
                                                     [](const Watcher& w) { return w.proven; }));
  Send(from, ack, out);
}

void Lobby::OnWatch(const LobbyMessage& m, const Endpoint& from, uint64_t nowMs, std::vector<LobbyOutgoing>& out) {
  auto it = streams_.find(m.code);
  if (it != streams_.end()) {
    for (const Watcher& w : it->second.watchers) {
      if (w.at != from || w.nonce != m.nonce) continue;
      LobbyMessage r;  // the same request again: the same answer
      r.type = LobbyType::Watching;
      r.nonce = m.nonce;
      r.token = w.secret;
      return Send(from, r, out);
    }
  }
  if (!Allow(from, nowMs)) return Refuse(from, m.nonce, LobbyRefusal::RateLimited, out);
  if (it == streams_.end()) {
    auto g = games_.find(m.code);
    const bool waiting = g != games_.end() && g->second.proven;
    return Refuse(from, m.nonce, waiting ? LobbyRefusal::NotStarted : LobbyRefusal::NoSuchCode, out);
  }
  Stream& s = it->second;
  if (m.version != s.hello.version || m.protocol != s.hello.protocol || m.fingerprint != s.hello.fingerprint) {
    return Refuse(from, m.nonce, LobbyRefusal::WrongVersion, out, s.hello.version);
  }
  // The same address asking afresh leaves its old place; places not proven in time are free.
  auto& ws = s.watchers;
  ws.erase(std::remove_if(ws.begin(), ws.end(),
                          [&](const Watcher& w) {
                            return w.at == from || (!w.proven && nowMs - w.heardMs > limits_.watcherIdleMs);
                          }),
           ws.end());
  if (ws.size() >= limits_.watchersPerGame) return Refuse(from, m.nonce, LobbyRefusal::WatchersFull, out);
  Watcher w;
  w.at = from;
  w.nonce = m.nonce;
  w.secret = random_();
  w.heardMs = w.progressMs = nowMs;
  ws.push_back(w);
  LobbyMessage r;
  r.type = LobbyType::Watching;
  r.nonce = m.nonce;
  r.token = w.secret;
  Send(from, r, out);
}

LobbyMessage Lobby::StreamData(const Stream& s, uint32_t from, size_t count, uint64_t nowMs) const {
  LobbyMessage d;
  d.type = LobbyType::WatchData;
  d.game = s.game;
  d.seed = s.seed;
  d.math = s.math;
  d.total = static_cast<uint32_t>(s.items.size());
  d.live = nowMs - s.fedMs <= limits_.streamLiveMs ? 1 : 0;
  d.position = from;
  d.items.assign(s.items.begin() + from, s.items.begin() + from + static_cast<std::ptrdiff_t>(count));
  return d;
}

void Lobby::OnWatchAck(const LobbyMessage& m, const Endpoint& from, uint64_t nowMs, std::vector<LobbyOutgoing>& out) {
  auto it = streams_.find(m.code);
  Watcher* w = nullptr;
  if (it != streams_.end()) {
    for (Watcher& each : it->second.watchers) {
      if (each.at == from && each.secret == m.token) w = &each;
    }
  }
  if (w == nullptr) {
    Allow(from, nowMs);  // guessing secrets costs like guessing codes
    return;
  }
  Stream& s = it->second;
  if (!w->proven) {
    w->proven = true;
    ++counts_.watched;
    const size_t proven = static_cast<size_t>(
        std::count_if(s.watchers.begin(), s.watchers.end(), [](const Watcher& x) { return x.proven; }));
    Event("Game " + m.code + " watched by " + net::EndpointText(from) + " (" + std::to_string(proven) + " watching)");
  }
  w->heardMs = nowMs;
  if (m.game == s.game && s.started && m.position <= s.items.size() && m.position > w->acked) {
    w->acked = m.position;
    w->progressMs = nowMs;
    w->sent = std::max(w->sent, w->acked);
  }
  Send(from, StreamData(s, 0, 0, nowMs), out);  // how the stream stands (shorter than the ack)
}

bool Lobby::Spend(ByteWindow& own, uint64_t ownCap, ByteWindow& all, uint64_t allCap, uint64_t size, uint64_t nowMs) {
  for (ByteWindow* w : {&own, &all}) {
    if (nowMs - w->startMs >= kWindowMs) *w = {nowMs, 0};  // a new second
  }
  if (own.bytes + size > ownCap || all.bytes + size > allCap) return false;
  own.bytes += size;
  all.bytes += size;
  return true;
}

void Lobby::SendToWatcher(Stream& s, Watcher& w, uint64_t nowMs, std::vector<LobbyOutgoing>& out) {
  if (w.acked >= w.sent) w.progressMs = nowMs;  // nothing outstanding
  if (w.sent > w.acked && nowMs - w.progressMs > limits_.watchResendMs) {
    w.sent = w.acked;  // lost on the way: again from what it holds
    w.progressMs = nowMs;
  }
  const size_t room = net::kMaxLobbyDatagram - net::StreamHeaderBytes(LobbyType::WatchData);
  for (size_t n = 0; n < kMaxDataPerPulse && w.sent < s.items.size(); ++n) {
    const size_t count = net::StreamItemsThatFit(s.items.data() + w.sent, s.items.size() - w.sent, room);
    std::vector<uint8_t> bytes = net::EncodeLobby(StreamData(s, w.sent, count, nowMs));
    if (!Spend(w.window, limits_.watcherBytesPerSecond, watchSent_, limits_.watchBytesPerSecond, bytes.size(), nowMs)) {
      ++counts_.watchDropped;
      return;
    }
    w.sent += static_cast<uint32_t>(count);
    ++counts_.watchSent;
    out.push_back({w.at, std::move(bytes), false});
  }
}

void Lobby::Pulse(uint64_t nowMs, std::vector<LobbyOutgoing>& out) {
  for (auto& entry : streams_) {
    Stream& s = entry.second;
    if (!s.started) continue;
    for (Watcher& w : s.watchers) {
      if (w.proven && nowMs - w.heardMs <= limits_.watcherIdleMs) SendToWatcher(s, w, nowMs, out);
    }
  }
}

void Lobby::RemoveStream(std::map<std::string, Stream>::iterator it) {
  streamBytes_ -= it->second.items.size();
  streams_.erase(it);
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
  for (auto it = streams_.begin(); it != streams_.end();) {
    auto next = std::next(it);
    auto& ws = it->second.watchers;
    for (const Watcher& w : ws) {
      if (w.proven && nowMs - w.heardMs > limits_.watcherIdleMs) {
        Event("Game " + it->first + ": " + net::EndpointText(w.at) + " stopped watching");
      }
    }
    ws.erase(std::remove_if(ws.begin(), ws.end(), [&](const Watcher& w) { return nowMs - w.heardMs > limits_.watcherIdleMs; }),
             ws.end());
    if (nowMs - it->second.fedMs > limits_.streamIdleMs) {
      Event("Game " + it->first + " no longer streams");
      RemoveStream(it);
    }
    it = next;
  }
  for (auto it = buckets_.begin(); it != buckets_.end();) {
    // A full bucket again says nothing: forget it.
    const double refill = static_cast<double>(nowMs - it->second.lastMs) / 1000.0 * limits_.requestsPerSecond;
    it = it->second.tokens + refill >= limits_.requestBurst ? buckets_.erase(it) : std::next(it);
  }
}
