// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/transport.h"

#include <arpa/inet.h>
#include <enet/enet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstdlib>

namespace net {
namespace {

constexpr enet_uint8 kReliableChannel = 0;
constexpr enet_uint8 kReadingsChannel = 1;
constexpr size_t kChannels = 2;
constexpr enet_uint32 kBye = 1;          // disconnect data of a player who leaves
constexpr uint32_t kCloseWaitMs = 250;   // how long Close() waits for the goodbye to go out

// ENet started, once for the process; false, with `error` said, when it cannot start.
bool EnetStarted(std::string& error) {
  static const bool ok = [] {
    const bool started = enet_initialize() == 0;
    if (started) std::atexit(enet_deinitialize);
    return started;
  }();
  if (!ok) error = "the network library could not start";
  return ok;
}

// A message on the reliable channel or the readings' one; false when it could not be queued.
bool SendTo(ENetPeer* peer, const Message& message, bool reliable) {
  const std::vector<uint8_t> bytes = EncodeMessage(message);
  ENetPacket* packet = enet_packet_create(bytes.data(), bytes.size(), reliable ? ENET_PACKET_FLAG_RELIABLE : 0);
  if (packet == nullptr) return false;
  if (enet_peer_send(peer, reliable ? kReliableChannel : kReadingsChannel, packet) == 0) return true;
  enet_packet_destroy(packet);
  return false;
}

// The connection whose host is being serviced on this thread (ENet's intercept has no
// place for a pointer of ours).
thread_local Connection* servicing = nullptr;

struct Servicing {
  explicit Servicing(Connection* c) : previous(servicing) { servicing = c; }
  ~Servicing() { servicing = previous; }
  Connection* previous;
};

}  // namespace

bool ParseAddress(const std::string& text, std::string& host, uint16_t& port) {
  port = kDefaultPort;
  const size_t colon = text.rfind(':');
  host = text.substr(0, colon);
  if (colon != std::string::npos) {
    const std::string digits = text.substr(colon + 1);
    if (digits.empty() || digits.size() > 5) return false;
    long value = 0;
    for (char c : digits) {
      if (c < '0' || c > '9') return false;
      value = value * 10 + (c - '0');
    }
    if (value < 1 || value > 65535) return false;
    port = static_cast<uint16_t>(value);
  }
  return !host.empty() && host.find(':') == std::string::npos;
}

Connection::Connection(ENetHost* host, bool hosting, const Hello& mine)
    : host_(host), hosting_(hosting), mine_(mine), started_(SteadyMs()) {}

Connection::~Connection() { enet_host_destroy(host_); }

std::unique_ptr<Connection> Connection::Listen(uint16_t port, const std::string& bindAddress,
                                               const Hello& mine, std::string& error) {
  ENetAddress address{ENET_HOST_ANY, port};
  if (!bindAddress.empty() && enet_address_set_host_ip(&address, bindAddress.c_str()) != 0) {
    error = "no such address: " + bindAddress;
    return nullptr;
  }
  return Create(&address, mine, error);
}

std::unique_ptr<Connection> Connection::Create(const ENetAddress* address, const Hello& mine,
                                               std::string& error) {
  if (!EnetStarted(error)) return nullptr;
  const bool hosting = address != nullptr;
  ENetHost* host = enet_host_create(address, hosting ? kHostPeers : 1, kChannels, 0, 0);
  if (host == nullptr) {
    error = hosting ? "UDP port " + std::to_string(address->port) + " is not free" : "no UDP socket";
    return nullptr;
  }
  if (hosting) host->intercept = Intercept;
  return std::unique_ptr<Connection>(new Connection(host, hosting, mine));
}

std::unique_ptr<Connection> Connection::Join(const std::string& hostName, uint16_t port,
                                             const Hello& mine, std::string& error) {
  std::unique_ptr<Connection> connection = Create(nullptr, mine, error);
  if (connection == nullptr) return nullptr;
  ENetAddress address{0, port};
  if (enet_address_set_host(&address, hostName.c_str()) != 0) {
    error = "no such computer: " + hostName;
    return nullptr;
  }
  connection->peer_ = enet_host_connect(connection->host_, &address, kChannels, 0);
  if (connection->peer_ == nullptr) {
    error = "could not start a connection";
    return nullptr;
  }
  return connection;
}

std::unique_ptr<Connection> Connection::Open(const Hello& mine, std::string& error) {
  std::unique_ptr<Connection> connection = Create(nullptr, mine, error);
  if (connection == nullptr) return nullptr;
  connection->connectLater_ = true;
  connection->host_->intercept = Intercept;
  return connection;
}

bool Connection::ConnectTo(const Endpoint& to) {
  if (hosting_ || !connectLater_ || peer_ != nullptr) return false;
  const ENetAddress address{htonl(to.ip), to.port};
  peer_ = enet_host_connect(host_, &address, kChannels, 0);
  if (peer_ == nullptr) return false;
  connectLater_ = false;
  started_ = SteadyMs();
  return true;
}

int Connection::Intercept(ENetHost* host, ENetEvent*) {
  Connection* c = servicing;
  if (c == nullptr || c->host_ != host || !HasLobbyMagic(host->receivedData, host->receivedDataLength)) return 0;
  if (c->listener_ != nullptr) {
    const Endpoint from{ntohl(host->receivedAddress.host), host->receivedAddress.port};
    c->listener_->OnRaw(host->receivedData, host->receivedDataLength, from);
  }
  return 1;  // ours, not ENet's
}

size_t Connection::SendLobby(const Endpoint& to, const LobbyMessage& message, int ttl) {
  const std::vector<uint8_t> bytes = EncodeLobby(message);
  const int fd = static_cast<int>(host_->socket);
  int usual = 64;
  socklen_t length = sizeof usual;
  if (ttl > 0) {
    getsockopt(fd, IPPROTO_IP, IP_TTL, &usual, &length);
    setsockopt(fd, IPPROTO_IP, IP_TTL, &ttl, sizeof ttl);
  }
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(to.ip);
  address.sin_port = htons(to.port);
  const ssize_t sent = sendto(fd, bytes.data(), bytes.size(), MSG_DONTWAIT,
                              reinterpret_cast<sockaddr*>(&address), sizeof address);
  if (ttl > 0) setsockopt(fd, IPPROTO_IP, IP_TTL, &usual, sizeof usual);
  return sent == static_cast<ssize_t>(bytes.size()) ? bytes.size() : 0;
}

Endpoint Connection::PeerEndpoint() const {
  if (peer_ == nullptr) return {};
  return {ntohl(peer_->address.host), peer_->address.port};
}

// Both sides' Hello are known: play may start, or the two games cannot play together.
void Connection::HandshakeWith(ENetPeer* peer, const Hello& theirs, std::vector<NetEvent>& events) {
  peer_ = peer;
  lastHeard_ = SteadyMs();
  const std::string why = CompareHello(mine_, theirs);
  agreed_ = why.empty();
  ended_ = !agreed_;
  events.push_back({agreed_ ? NetEvent::Kind::Agreed : NetEvent::Kind::Refused, {}, theirs, why});
}

// The host hears a peer that has not shaken hands: its first message must be a valid
// Hello; anything else ends it at once. A Hello while the place is taken is refused.
void Connection::HearNewcomer(ENetPeer* peer, const uint8_t* data, size_t size,
                              std::vector<NetEvent>& events) {
  auto it = std::find_if(newcomers_.begin(), newcomers_.end(),
                         [&](const Newcomer& n) { return n.peer == peer; });
  if (it == newcomers_.end()) return;  // refused already, on its way out
  newcomers_.erase(it);
  Message m;
  if (!DecodeMessage(data, size, m) || m.type != MessageType::Hello) {
    ++dropped_;
    enet_peer_disconnect_now(peer, 0);
    return;
  }
  if (peer_ != nullptr) {
    SendTo(peer, MakeSignal(MessageType::Refuse), true);
    enet_peer_disconnect_later(peer, 0);
    return;
  }
  SendTo(peer, MakeHello(mine_), true);
  HandshakeWith(peer, m.hello, events);
}

void Connection::DropSilentNewcomers() {
  const uint32_t now = SteadyMs();
  for (auto it = newcomers_.begin(); it != newcomers_.end();) {
    if (now - it->since > kHelloLimitMs) {
      enet_peer_disconnect_now(it->peer, 0);
      it = newcomers_.erase(it);
    } else {
      ++it;
    }
  }
}

void Connection::Service(std::vector<NetEvent>& events) {
  Servicing here(this);
  ENetEvent event;
  for (size_t handled = 0; handled < kMaxEventsPerService && !ended_; ++handled) {
    if (enet_host_service(host_, &event, 0) <= 0) break;
    switch (event.type) {
      case ENET_EVENT_TYPE_CONNECT:
        events.push_back({NetEvent::Kind::Connected, {}, {}, {}});
        if (!hosting_) {
          peer_ = event.peer;
          lastHeard_ = SteadyMs();
          SendTo(peer_, MakeHello(mine_), true);
        } else if (newcomers_.size() < kHostPeers) {
          newcomers_.push_back({event.peer, SteadyMs()});  // it holds no place until its Hello
        } else {
          enet_peer_disconnect_now(event.peer, 0);
        }
        break;
      case ENET_EVENT_TYPE_RECEIVE:
        if (event.peer == peer_) {
          Hear(event.packet->data, event.packet->dataLength, events);
        } else if (hosting_) {
          HearNewcomer(event.peer, event.packet->data, event.packet->dataLength, events);
        }
        enet_packet_destroy(event.packet);
        break;
      case ENET_EVENT_TYPE_DISCONNECT:
        if (event.peer != peer_) {
          newcomers_.erase(std::remove_if(newcomers_.begin(), newcomers_.end(),
                                          [&](const Newcomer& n) { return n.peer == event.peer; }),
                           newcomers_.end());
          break;
        }
        peer_ = nullptr;
        // A host that has no player yet waits on for another.
        if (!hosting_ || agreed_) End(events, event.data == kBye ? NetEvent::Kind::Left
                                                                  : NetEvent::Kind::Lost);
        break;
      case ENET_EVENT_TYPE_NONE:
        break;
    }
  }
  if (ended_) return;
  DropSilentNewcomers();
  const uint32_t now = SteadyMs();
  const bool silent = agreed_ && peer_ != nullptr && now - lastHeard_ > kSilenceLimitMs;
  const bool unanswered = !hosting_ && !agreed_ && !connectLater_ && now - started_ > kConnectLimitMs;
  if (silent || unanswered) End(events, NetEvent::Kind::Lost);
}

// A datagram from the other player, or (for a joiner) from the host it is shaking hands with.
void Connection::Hear(const uint8_t* data, size_t size, std::vector<NetEvent>& events) {
  Message m;
  lastHeard_ = SteadyMs();
  if (!DecodeMessage(data, size, m)) {
    ++dropped_;
  } else if (m.type == MessageType::Refuse && !agreed_ && !hosting_) {
    End(events, NetEvent::Kind::Refused, {}, "Another player is already playing with that computer");
  } else if (m.type == MessageType::Hello && !agreed_ && !hosting_) {
    HandshakeWith(peer_, m.hello, events);
  } else if (agreed_ && m.type == MessageType::Quit) {
    End(events, NetEvent::Kind::Left, m);
  } else if (agreed_ && m.type != MessageType::Hello && m.type != MessageType::Refuse) {
    events.push_back({NetEvent::Kind::Message, m, {}, {}});
  } else {
    ++dropped_;
  }
}

void Connection::End(std::vector<NetEvent>& events, NetEvent::Kind kind, const Message& message,
                     const std::string& text) {
  ended_ = true;
  events.push_back({kind, message, {}, text});
}

void Connection::Send(const Message& message, bool reliable) {
  if (peer_ == nullptr || !agreed_ || ended_) return;
  if (SendTo(peer_, message, reliable) && message.type == MessageType::Quit) quitSent_ = true;
}

void Connection::Flush() { enet_host_flush(host_); }

void Connection::Close() {
  if (peer_ == nullptr) return;
  if (agreed_ && !ended_ && !quitSent_) Send(MakeSignal(MessageType::Quit), true);
  enet_peer_disconnect_later(peer_, kBye);
  ended_ = true;
  Servicing here(this);
  const uint32_t start = SteadyMs();
  ENetEvent event;
  while (SteadyMs() - start < kCloseWaitMs) {
    const int got = enet_host_service(host_, &event, 10);
    if (got < 0) break;
    if (got == 0) continue;
    if (event.type == ENET_EVENT_TYPE_RECEIVE) enet_packet_destroy(event.packet);
    if (event.type == ENET_EVENT_TYPE_DISCONNECT && event.peer == peer_) break;
  }
  peer_ = nullptr;
}

std::string Connection::PeerAddress() const { return peer_ == nullptr ? "" : EndpointText(PeerEndpoint()); }

uint16_t Connection::Port() const { return host_->address.port; }
uint64_t Connection::BytesSent() const { return host_->totalSentData; }
uint64_t Connection::BytesReceived() const { return host_->totalReceivedData; }

}  // namespace net
