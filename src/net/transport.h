// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The connection between two game processes: ENet over UDP.
//
// One Connection is one end: the host listens for one player, the joiner connects to it.
// Channel 0 carries reliable messages (the handshake, ready, pause, rematch, checksums,
// quit), channel 1 the control readings, unreliable. Service() handles all traffic
// without waiting and reports what happened; every datagram's payload goes through the
// one decoder (net/protocol.h) and anything it refuses is dropped and counted. The
// handshake is the two Hello messages: each side compares the other's with its own and
// says why they cannot play together, if they cannot. A host gives its one place only
// to a peer that completed the handshake: a peer whose first message is not a valid
// Hello, or that sends none within kHelloLimitMs, is disconnected at once, so no junk
// peer keeps a real joiner out. A second player who tries to join a host that already
// has one is told so and turned away. A peer silent for kSilenceLimitMs is reported lost.
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "net/lobby_protocol.h"
#include "net/protocol.h"
#include "net/session.h"

typedef struct _ENetHost ENetHost;
typedef struct _ENetPeer ENetPeer;
typedef struct _ENetEvent ENetEvent;
typedef struct _ENetAddress ENetAddress;

namespace net {

constexpr uint16_t kDefaultPort = 7478;
constexpr uint32_t kSilenceLimitMs = 3000;   // a peer heard from no longer is lost
constexpr uint32_t kConnectLimitMs = 5000;   // a join that gets no answer gives up
constexpr size_t kMaxEventsPerService = 512; // one Service() call handles at most this many
constexpr uint32_t kHelloLimitMs = 1000;     // a connected peer's Hello is due within this
constexpr size_t kHostPeers = 32;            // ENet peers a host holds: the player and newcomers

struct NetEvent {
  enum class Kind {
    Connected,  // ENet connected a peer; the handshake follows
    Agreed,     // the other side's Hello matches ours: play may start (hello: theirs)
    Refused,    // the two games cannot play together, or the host is taken (text: why)
    Message,    // a message after the handshake
    Left,       // the other player quit or closed the connection (message: its Quit, if any)
    Lost,       // nothing heard for kSilenceLimitMs, or no answer to a join
  };
  Kind kind;
  Message message;   // Message
  Hello hello;       // Agreed
  std::string text;  // Refused
};

// Hears the datagrams of the lobby's protocol that arrive on a connection's socket
// (ENet's intercept hands them over before ENet parses anything).
class RawListener {
 public:
  virtual ~RawListener() = default;
  virtual void OnRaw(const uint8_t* data, size_t size, const Endpoint& from) = 0;
};

class Connection : public Outbox {
 public:
  // Listens on `port` (of `bindAddress`, or of every address when it is empty).
  static std::unique_ptr<Connection> Listen(uint16_t port, const std::string& bindAddress,
                                            const Hello& mine, std::string& error);
  // Connects to `host` (a name or an address) at `port`.
  static std::unique_ptr<Connection> Join(const std::string& host, uint16_t port,
                                          const Hello& mine, std::string& error);
  // A joiner's socket that connects later (ConnectTo), once the lobby said where.
  static std::unique_ptr<Connection> Open(const Hello& mine, std::string& error);
  // Starts the handshake with `to` (a connection made by Open, once).
  bool ConnectTo(const Endpoint& to);
  // Datagrams of the lobby's protocol go to `listener` (null: dropped).
  void SetRawListener(RawListener* listener) { listener_ = listener; }
  // Sends a datagram of the lobby's protocol from this connection's own socket, with IP
  // time-to-live `ttl` (0: the system's), so routers see the game's own port. Its bytes;
  // 0 when not sent.
  size_t SendLobby(const Endpoint& to, const LobbyMessage& message, int ttl = 0);
  Endpoint PeerEndpoint() const;

  ~Connection() override;
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // Handles every pending datagram (up to kMaxEventsPerService) without waiting.
  void Service(std::vector<NetEvent>& events);
  // Queues a message to the other side (nothing before the handshake).
  void Send(const Message& message, bool reliable) override;
  void Flush();  // sends what is queued now
  // Tells the other side we are leaving and gives it a moment to hear it (bounded).
  void Close();

  bool Agreed() const { return agreed_; }
  std::string PeerAddress() const;  // "ADDRESS:PORT" of the other side
  uint16_t Port() const;            // the local port
  uint64_t BytesSent() const;       // UDP payload bytes, ENet's headers included
  uint64_t BytesReceived() const;
  uint64_t Dropped() const { return dropped_; }  // datagrams the decoder refused

 private:
  Connection(ENetHost* host, bool hosting, const Hello& mine);
  // A host's, listening at `address`, or (null) a joiner's of one peer, not yet connected;
  // null, with `error` said, if none.
  static std::unique_ptr<Connection> Create(const ENetAddress* address, const Hello& mine,
                                            std::string& error);
  void Hear(const uint8_t* data, size_t size, std::vector<NetEvent>& events);
  void HearNewcomer(ENetPeer* peer, const uint8_t* data, size_t size, std::vector<NetEvent>& events);
  void HandshakeWith(ENetPeer* peer, const Hello& theirs, std::vector<NetEvent>& events);
  void DropSilentNewcomers();
  // The connection is over: `kind` says how (with the message or text it carries).
  void End(std::vector<NetEvent>& events, NetEvent::Kind kind, const Message& message = {},
           const std::string& text = {});
  static int Intercept(ENetHost* host, ENetEvent* event);

  struct Newcomer {
    ENetPeer* peer;
    uint32_t since;  // ms (SteadyMs()) when ENet connected it
  };

  ENetHost* host_;
  bool hosting_;
  Hello mine_;
  ENetPeer* peer_ = nullptr;  // the other player
  std::vector<Newcomer> newcomers_;  // host: connected peers yet to send their Hello
  bool quitSent_ = false;
  bool connectLater_ = false;  // opened without a peer: no join timeout yet
  RawListener* listener_ = nullptr;
  bool agreed_ = false;
  bool ended_ = false;
  uint32_t started_;
  uint32_t lastHeard_ = 0;
  uint64_t dropped_ = 0;
};

// Milliseconds on the steady clock (wrapping).
inline uint32_t SteadyMs() {
  using namespace std::chrono;
  return static_cast<uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

// Splits "HOST[:PORT]"; false for an empty host or a port that is not 1..65535.
bool ParseAddress(const std::string& text, std::string& host, uint16_t& port);

}  // namespace net
