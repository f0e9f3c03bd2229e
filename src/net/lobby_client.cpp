// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/lobby_client.h"

#include <arpa/inet.h>
#include <enet/enet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <random>

namespace net {
namespace {

constexpr uint32_t kFirstKeepalivesMs = 500;  // the first few keepalives: soon proves the address
constexpr int kFirstKeepalives = 3;
constexpr uint32_t kBindEveryMs = 300;
constexpr int kMaxBinds = 10;
constexpr uint32_t kHostPunchingMs = 2 * kRelayLimitMs;  // a host punches no longer than this

}  // namespace

uint64_t FreshNonce() {
  std::random_device device;
  return (static_cast<uint64_t>(device()) << 32) ^ device();
}

LobbyMessage LobbyRequest(LobbyType type, const std::string& code, const Hello& mine, const Endpoint& local) {
  LobbyMessage m;
  m.type = type;
  m.nonce = FreshNonce();
  m.code = code;
  m.protocol = mine.protocol;
  m.version = mine.gameVersion;
  m.fingerprint = mine.fingerprint;
  m.local = local;
  return m;
}

LobbyClient::LobbyClient(Connection& connection, const Endpoint& lobby, const Endpoint& local, const Hello& mine,
                         const std::string& code, uint32_t nowMs)
    : connection_(connection),
      lobby_(lobby),
      hosting_(code.empty()),
      request_(LobbyRequest(hosting_ ? LobbyType::Register : LobbyType::Join, code, mine, local)),
      lastSentMs_(nowMs - kLobbyResendMs) {
  connection_.SetRawListener(this);
}

LobbyClient::~LobbyClient() { connection_.SetRawListener(nullptr); }

void LobbyClient::Request(const LobbyMessage& m, uint32_t nowMs) {
  connection_.SendLobby(lobby_, m);
  lastSentMs_ = nowMs;
  ++tries_;
}

// A Punch or a RelayBind of the pair the lobby introduced, from this side.
void LobbyClient::SendOfPair(LobbyType type, const Endpoint& to, int ttl) {
  LobbyMessage m;
  m.type = type;
  m.token = intro_.token;
  m.side = hosting_ ? 0 : 1;
  connection_.SendLobby(to, m, ttl);
}

void LobbyClient::Fail(const std::string& text, std::vector<LobbyEvent>& events) {
  state_ = State::Failed;
  events.push_back({LobbyEvent::Kind::Failed, {}, {}, text});
}

void LobbyClient::OnRaw(const uint8_t* data, size_t size, const Endpoint& from) {
  LobbyMessage m;
  if (!DecodeLobby(data, size, m)) return;
  if (from == lobby_) {
    if (heard_.size() < 16) heard_.push_back(m);
    return;
  }
  // A punch from the other game: the path from there to here is open.
  const uint8_t mine = hosting_ ? 0 : 1;
  if (m.type != LobbyType::Punch || state_ != State::Punching || m.token != intro_.token || m.side == mine) return;
  if (hosting_) {
    if (punchReplies_ >= kMaxPunchReplies) return;
    ++punchReplies_;
    SendOfPair(LobbyType::Punch, from, 0);
  } else if (!punchedThrough_) {
    punchedThrough_ = true;
    through_ = from;
  }
}

void LobbyClient::OnLobby(const LobbyMessage& m, uint32_t nowMs, std::vector<LobbyEvent>& events) {
  switch (m.type) {
    case LobbyType::Registered:
      if (!hosting_ || state_ != State::Asking || m.nonce != request_.nonce) return;
      keepalive_.type = LobbyType::Keepalive;
      keepalive_.code = m.code;
      keepalive_.token = m.token;
      state_ = State::Waiting;
      tries_ = 0;
      lastSentMs_ = 0;
      events.push_back({LobbyEvent::Kind::Registered, m.code, m.seen, {}});
      break;
    case LobbyType::Introduce:
      // A host is introduced once registered; a joiner, in answer to its Join.
      if (hosting_ && state_ != State::Waiting) return;
      if (!hosting_ && (state_ != State::Asking || m.nonce != request_.nonce)) return;
      intro_ = m;
      state_ = State::Punching;
      introducedMs_ = nowMs;
      events.push_back({LobbyEvent::Kind::Introduced, {}, m.seen, {}});
      break;
    case LobbyType::RelayBound:
      if (state_ == State::Punching && m.token == intro_.token) relayBound_ = true;
      break;
    case LobbyType::Refusal:
      if (state_ != State::Asking && state_ != State::Waiting) return;
      if (m.nonce == request_.nonce || m.nonce == 0) Fail(LobbyRefusalText(m), events);
      break;
    default:
      break;
  }
}

void LobbyClient::Punch(uint32_t nowMs) {
  if (nowMs - lastPunchMs_ < kPunchEveryMs) return;
  lastPunchMs_ = nowMs;
  SendOfPair(LobbyType::Punch, intro_.seen, punches_ < kLowTtlPunches ? kLowTtl : 0);
  if (intro_.peerLocal.ip != 0 && intro_.peerLocal != intro_.seen) {
    SendOfPair(LobbyType::Punch, intro_.peerLocal, 0);  // one router: no TTL needed
  }
  ++punches_;
}

void LobbyClient::Tick(uint32_t nowMs, std::vector<LobbyEvent>& events) {
  std::vector<LobbyMessage> heard;
  heard.swap(heard_);
  for (const LobbyMessage& m : heard) OnLobby(m, nowMs, events);
  switch (state_) {
    case State::Asking:
      if (nowMs - lastSentMs_ < kLobbyResendMs) break;
      if (tries_ >= kLobbyTries) {
        Fail("The lobby does not answer.", events);
        break;
      }
      Request(request_, nowMs);
      break;
    case State::Waiting: {
      const uint32_t every = tries_ < kFirstKeepalives ? kFirstKeepalivesMs : kKeepaliveMs;
      if (lastSentMs_ != 0 && nowMs - lastSentMs_ < every) break;
      Request(keepalive_, nowMs);
      break;
    }
    case State::Punching: {
      const uint32_t since = nowMs - introducedMs_;
      if (hosting_ && since > kHostPunchingMs) break;
      Punch(nowMs);
      if (intro_.relay != 0 && !relayBound_ && binds_ < kMaxBinds && nowMs - lastBindMs_ >= kBindEveryMs) {
        SendOfPair(LobbyType::RelayBind, lobby_, 0);
        lastBindMs_ = nowMs;
        ++binds_;
      }
      if (hosting_) break;
      if (punchedThrough_) {
        state_ = State::Connecting;
        connection_.ConnectTo(through_);
        events.push_back({LobbyEvent::Kind::Direct, {}, through_, {}});
      } else if (since >= kPunchLimitMs && relayBound_) {
        state_ = State::Connecting;
        connection_.ConnectTo(lobby_);
        events.push_back({LobbyEvent::Kind::Relayed, {}, lobby_, {}});
      } else if (since >= kRelayLimitMs) {
        Fail(intro_.relay == 0 ? "The relay is full." : "The other computer does not answer.", events);
      }
      break;
    }
    case State::Connecting:
    case State::Failed:
      break;
  }
}

std::string LobbyRefusalText(const LobbyMessage& m) {
  switch (m.reason) {
    case LobbyRefusal::NoSuchCode: return "No game has that code (or it expired).";
    case LobbyRefusal::Full: return "That game is already full.";
    case LobbyRefusal::WrongVersion: return "The other player's game is version " + m.version;
    case LobbyRefusal::RateLimited: return "The lobby refuses: too many tries from this computer. Wait a minute.";
    case LobbyRefusal::Busy: return "The lobby is full. Try again later.";
    case LobbyRefusal::RelayFull: return "The relay is full.";
    case LobbyRefusal::WatchersFull: return "That game has as many spectators as it can take.";
    case LobbyRefusal::NotStarted: return "That game has not begun yet.";
  }
  return "The lobby refuses.";
}

bool ResolveLobby(const std::string& text, Endpoint& lobby, std::string& error) {
  const auto fail = [&error](const std::string& why) {
    error = why;
    return false;
  };
  std::string host = text;
  uint16_t port = kDefaultLobbyPort;
  if (text.find(':') != std::string::npos && !ParseAddress(text, host, port)) {
    return fail("'" + text + "' is not HOST or HOST:PORT");
  }
  if (host.empty() || host.size() > 255) return fail("no lobby named");
  if (enet_initialize() != 0) return fail("the network library could not start");
  ENetAddress address;
  const bool found = enet_address_set_host(&address, host.c_str()) == 0;
  enet_deinitialize();
  if (!found) return fail("no such computer: " + host);
  lobby.ip = ntohl(address.host);
  lobby.port = port;
  return true;
}

uint32_t LocalAddressTowards(const Endpoint& lobby) {
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return 0;
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = htonl(lobby.ip);
  to.sin_port = htons(lobby.port);
  uint32_t ip = 0;
  if (connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0) {  // a route, no datagram
    sockaddr_in at{};
    socklen_t length = sizeof at;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&at), &length) == 0) ip = ntohl(at.sin_addr.s_addr);
  }
  close(fd);
  return ip;
}

}  // namespace net
