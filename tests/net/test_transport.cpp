// SPDX-License-Identifier: GPL-3.0-or-later
// The ENet transport between two ends in this process, on 127.0.0.1 only.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <thread>

#include <enet/enet.h>

#include "net/transport.h"

using namespace net;

namespace {

Hello Me(const char* version = "1.0", uint64_t fingerprint = 77) {
  Hello hello;
  hello.gameVersion = version;
  hello.fingerprint = fingerprint;
  hello.seed = 4242;
  return hello;
}

std::unique_ptr<Connection> ListenHere(const Hello& hello = Me()) {
  std::string error;
  auto host = Connection::Listen(0, "127.0.0.1", hello, error);  // any free port
  EXPECT_NE(host, nullptr) << error;
  return host;
}

std::unique_ptr<Connection> JoinHere(uint16_t port, const Hello& hello = Me()) {
  std::string error;
  auto joiner = Connection::Join("127.0.0.1", port, hello, error);
  EXPECT_NE(joiner, nullptr) << error;
  return joiner;
}

using Clock = std::chrono::steady_clock;

// Services every end until `done` holds or `limitMs` passes; the events of each end are
// appended to its list.
template <typename Done>
bool ServiceUntil(std::vector<Connection*> ends, std::vector<std::vector<NetEvent>>& events,
                  Done done, int limitMs = 3000) {
  events.resize(ends.size());
  const auto until = Clock::now() + std::chrono::milliseconds(limitMs);
  while (Clock::now() < until) {
    for (size_t i = 0; i < ends.size(); ++i) {
      ends[i]->Service(events[i]);
      ends[i]->Flush();
    }
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return false;
}

bool Has(const std::vector<NetEvent>& events, NetEvent::Kind kind) {
  for (const NetEvent& e : events) {
    if (e.kind == kind) return true;
  }
  return false;
}

const NetEvent* Find(const std::vector<NetEvent>& events, NetEvent::Kind kind) {
  for (const NetEvent& e : events) {
    if (e.kind == kind) return &e;
  }
  return nullptr;
}

// Sends `count` junk datagrams of random lengths to 127.0.0.1:`port`, servicing `ends`
// every hundred so that they are read while they come.
void SendJunk(uint16_t port, int count, std::vector<Connection*> ends,
              std::vector<std::vector<NetEvent>>& events, uint64_t seed) {
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  ASSERT_GE(fd, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::mt19937_64 random(seed);
  std::vector<uint8_t> datagram;
  events.resize(ends.size());
  for (int i = 0; i < count; ++i) {
    datagram.resize(1 + random() % 600);
    for (uint8_t& b : datagram) b = static_cast<uint8_t>(random());
    // Some look like ENet's own headers to reach further into its parser.
    if (i % 4 == 0 && datagram.size() > 4) {
      datagram[0] = static_cast<uint8_t>(random() % 2 ? 0x00 : 0x80);
      datagram[1] = 0;
    }
    sendto(fd, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    if (i % 100 == 99) {
      for (size_t e = 0; e < ends.size(); ++e) {
        ends[e]->Service(events[e]);
        ends[e]->Flush();
      }
    }
  }
  close(fd);
}

}  // namespace

TEST(NetworkConnection, AHostAndAJoinerAgreeAndTalk) {
  auto host = ListenHere();
  ASSERT_NE(host, nullptr);
  ASSERT_NE(host->Port(), 0);
  auto joiner = JoinHere(host->Port());
  std::vector<std::vector<NetEvent>> ev;
  ASSERT_TRUE(ServiceUntil({host.get(), joiner.get()}, ev,
                           [&] { return host->Agreed() && joiner->Agreed(); }));
  EXPECT_TRUE(Has(ev[0], NetEvent::Kind::Connected));
  EXPECT_EQ(Find(ev[1], NetEvent::Kind::Agreed)->hello.seed, 4242u);
  EXPECT_EQ(joiner->PeerAddress(), "127.0.0.1:" + std::to_string(host->Port()));

  host->Send(MakeSignal(MessageType::Ready, 3), true);
  ev.assign(2, {});
  ASSERT_TRUE(ServiceUntil({host.get(), joiner.get()}, ev,
                           [&] { return Has(ev[1], NetEvent::Kind::Message); }));
  EXPECT_EQ(Find(ev[1], NetEvent::Kind::Message)->message.value, 3u);
}

TEST(NetworkConnection, AnotherVersionOrBuildIsToldOnBothSides) {
  struct Case {
    Hello host, joiner;
    const char* hostSees;
    const char* joinerSees;
  } cases[] = {
      {Me("1.0"), Me("1.2"), "The other player's game is version 1.2",
       "The other player's game is version 1.0"},
      {Me("1.0", 1), Me("1.0", 2), "The other player's game is a different build",
       "The other player's game is a different build"},
  };
  for (const Case& c : cases) {
    auto host = ListenHere(c.host);
    auto joiner = JoinHere(host->Port(), c.joiner);
    std::vector<std::vector<NetEvent>> ev;
    ASSERT_TRUE(ServiceUntil({host.get(), joiner.get()}, ev, [&] {
      return Has(ev[0], NetEvent::Kind::Refused) && Has(ev[1], NetEvent::Kind::Refused);
    }));
    EXPECT_EQ(Find(ev[0], NetEvent::Kind::Refused)->text, c.hostSees);
    EXPECT_EQ(Find(ev[1], NetEvent::Kind::Refused)->text, c.joinerSees);
    EXPECT_FALSE(host->Agreed());
    EXPECT_FALSE(joiner->Agreed());
  }
}

TEST(NetworkConnection, AThirdComputerIsTurnedAway) {
  auto host = ListenHere();
  auto first = JoinHere(host->Port());
  std::vector<std::vector<NetEvent>> ev;
  ASSERT_TRUE(ServiceUntil({host.get(), first.get()}, ev, [&] { return first->Agreed(); }));
  auto third = JoinHere(host->Port());
  ev.assign(3, {});
  ASSERT_TRUE(ServiceUntil({host.get(), first.get(), third.get()}, ev,
                           [&] { return Has(ev[2], NetEvent::Kind::Refused); }));
  EXPECT_FALSE(third->Agreed());
  // The game in progress is untouched.
  first->Send(MakeSignal(MessageType::Pause, 1), true);
  ASSERT_TRUE(ServiceUntil({host.get(), first.get(), third.get()}, ev,
                           [&] { return Has(ev[0], NetEvent::Kind::Message); }));
  EXPECT_FALSE(Has(ev[0], NetEvent::Kind::Left));
  EXPECT_FALSE(Has(ev[0], NetEvent::Kind::Lost));
}

TEST(NetworkConnection, APlayerWhoQuitsHasLeft) {
  auto host = ListenHere();
  auto joiner = JoinHere(host->Port());
  std::vector<std::vector<NetEvent>> ev;
  ASSERT_TRUE(ServiceUntil({host.get(), joiner.get()}, ev,
                           [&] { return host->Agreed() && joiner->Agreed(); }));
  joiner->Close();
  ev.assign(1, {});
  ASSERT_TRUE(ServiceUntil({host.get()}, ev, [&] { return Has(ev[0], NetEvent::Kind::Left); }));
  EXPECT_FALSE(Has(ev[0], NetEvent::Kind::Lost));
}

TEST(NetworkConnection, ThreeSecondsOfSilenceIsALostConnection) {
  auto host = ListenHere();
  auto joiner = JoinHere(host->Port());
  std::vector<std::vector<NetEvent>> ev;
  ASSERT_TRUE(ServiceUntil({host.get(), joiner.get()}, ev,
                           [&] { return host->Agreed() && joiner->Agreed(); }));
  joiner.reset();  // gone without a word, as a killed process
  const auto start = Clock::now();
  ev.assign(1, {});
  ASSERT_TRUE(ServiceUntil({host.get()}, ev, [&] { return Has(ev[0], NetEvent::Kind::Lost); }, 5000));
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
  EXPECT_GE(ms, 2900);
  EXPECT_LE(ms, 3500);
}

TEST(NetworkConnection, NoAnswerToAJoinGivesUp) {
  // A port nobody listens on (taken from a socket of ours that never answers).
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&at), sizeof at), 0);
  socklen_t len = sizeof at;
  getsockname(fd, reinterpret_cast<sockaddr*>(&at), &len);
  auto joiner = JoinHere(ntohs(at.sin_port));
  std::vector<std::vector<NetEvent>> ev;
  EXPECT_TRUE(ServiceUntil({joiner.get()}, ev, [&] { return Has(ev[0], NetEvent::Kind::Lost); },
                           kConnectLimitMs + 1000));
  close(fd);
}

TEST(NetworkConnection, JunkDatagramsChangeNothingWhileWaitingOrPlaying) {
  auto host = ListenHere();
  std::vector<std::vector<NetEvent>> ev;
  SendJunk(host->Port(), 100000, {host.get()}, ev, 1);
  EXPECT_FALSE(Has(ev[0], NetEvent::Kind::Connected));
  EXPECT_FALSE(host->Agreed());

  auto joiner = JoinHere(host->Port());
  ev.assign(2, {});
  ASSERT_TRUE(ServiceUntil({host.get(), joiner.get()}, ev,
                           [&] { return host->Agreed() && joiner->Agreed(); }));
  // Play: a reading each way every hundred junk datagrams, then every one arrives.
  ev.assign(2, {});
  const int rounds = 1000;
  for (int i = 0; i < rounds; ++i) {
    Message m;
    m.type = MessageType::Checksum;
    m.tick = 60 * static_cast<uint32_t>(i + 1);
    host->Send(m, true);
    joiner->Send(m, true);
    SendJunk(host->Port(), 100, {host.get(), joiner.get()}, ev, 2 + static_cast<uint64_t>(i));
  }
  auto count = [](const std::vector<NetEvent>& events) {
    int n = 0;
    for (const NetEvent& e : events) n += e.kind == NetEvent::Kind::Message;
    return n;
  };
  ASSERT_TRUE(ServiceUntil({host.get(), joiner.get()}, ev,
                           [&] { return count(ev[0]) == rounds && count(ev[1]) == rounds; }, 10000));
  EXPECT_FALSE(Has(ev[0], NetEvent::Kind::Left) || Has(ev[0], NetEvent::Kind::Lost));
  EXPECT_FALSE(Has(ev[1], NetEvent::Kind::Left) || Has(ev[1], NetEvent::Kind::Lost));
}

namespace {

// An ENet peer that connects to 127.0.0.1:`port` and then misbehaves: `junk` messages
// on both channels (none: it sends nothing), then it vanishes without a word when destroyed.
class JunkPeer {
 public:
  JunkPeer(uint16_t port, int junk, uint64_t seed) : junk_(junk), random_(seed) {
    host_ = enet_host_create(nullptr, 1, 2, 0, 0);
    ENetAddress address;
    enet_address_set_host_ip(&address, "127.0.0.1");
    address.port = port;
    peer_ = host_ != nullptr ? enet_host_connect(host_, &address, 2, 0) : nullptr;
  }
  ~JunkPeer() { if (host_ != nullptr) enet_host_destroy(host_); }
  bool Valid() const { return peer_ != nullptr; }
  void Service() {
    ENetEvent event;
    for (int i = 0; i < 64 && enet_host_service(host_, &event, 0) > 0; ++i) {
      if (event.type == ENET_EVENT_TYPE_RECEIVE) enet_packet_destroy(event.packet);
      if (event.type == ENET_EVENT_TYPE_CONNECT) connected = true;
      if (event.type == ENET_EVENT_TYPE_DISCONNECT) disconnected = true;
    }
    if (connected && !sent_) {
      sent_ = true;
      for (int i = 0; i < junk_; ++i) {
        std::vector<uint8_t> bytes(1 + random_() % 40);
        for (uint8_t& b : bytes) b = static_cast<uint8_t>(random_());
        if (i == 0 && random_() % 2) bytes = EncodeMessage(MakeSignal(MessageType::Ready, 1));  // well formed, not a Hello
        ENetPacket* packet = enet_packet_create(bytes.data(), bytes.size(), i % 2 ? 0 : ENET_PACKET_FLAG_RELIABLE);
        enet_peer_send(peer_, static_cast<enet_uint8>(i % 2), packet);
      }
    }
    enet_host_flush(host_);
  }
  bool connected = false;
  bool disconnected = false;

 private:
  ENetHost* host_ = nullptr;
  ENetPeer* peer_ = nullptr;
  int junk_;
  bool sent_ = false;
  std::mt19937_64 random_;
};

}  // namespace

// Peers that connect, send junk (or nothing) and vanish take no place: a real joiner gets
// in at once whatever they do, and each of them is cut off within a second.
TEST(NetworkConnection, JunkPeersNeverKeepAJoinerOut) {
  auto host = ListenHere();
  ASSERT_NE(host, nullptr);
  std::vector<NetEvent> hostEvents;
  for (int round = 0; round < 3; ++round) {
    std::vector<std::unique_ptr<JunkPeer>> junk;
    for (int i = 0; i < 12; ++i) {
      junk.push_back(std::make_unique<JunkPeer>(host->Port(), i % 3 == 0 ? 0 : 10, 50 + i + 100 * round));
      ASSERT_TRUE(junk.back()->Valid());
    }
    // They all connect, and speak (or stay silent) ... (ENet itself would keep a
    // vanished peer for 5 s or more; the bound leaves room for a busy machine)
    const auto until = Clock::now() + std::chrono::milliseconds(3000);
    bool allCut = false;
    while (Clock::now() < until && !allCut) {
      host->Service(hostEvents);
      host->Flush();
      allCut = true;
      for (auto& j : junk) {
        j->Service();
        allCut = allCut && j->disconnected;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    // ... and every one was disconnected by the host: the junk at once, the silent
    // ones after kHelloLimitMs.
    EXPECT_TRUE(allCut) << "round " << round;
    if (round < 2) {
      junk.clear();  // those left vanish without a word
      continue;
    }
    // The last round's peers stay connected as a real joiner arrives.
    auto joiner = JoinHere(host->Port());
    std::vector<std::vector<NetEvent>> ev;
    const auto start = Clock::now();
    ASSERT_TRUE(ServiceUntil({host.get(), joiner.get()}, ev,
                             [&] {
                               for (auto& j : junk) j->Service();
                               return host->Agreed() && joiner->Agreed();
                             }, 2000));
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count(), 500);
    EXPECT_FALSE(Has(ev[1], NetEvent::Kind::Refused));
  }
  EXPECT_GT(host->Dropped(), 0u);
}

// A joiner arriving while a junk peer is still connected and silent gets the place.
TEST(NetworkConnection, AJoinerGetsInBesideASilentPeer) {
  auto host = ListenHere();
  JunkPeer silent(host->Port(), 0, 3);
  std::vector<std::vector<NetEvent>> ev;
  ASSERT_TRUE(ServiceUntil({host.get()}, ev, [&] { silent.Service(); return silent.connected; }));
  auto joiner = JoinHere(host->Port());
  ASSERT_TRUE(ServiceUntil({host.get(), joiner.get()}, ev, [&] {
    silent.Service();
    return host->Agreed() && joiner->Agreed();
  }, 500));
}

TEST(NetworkAddress, HostAndPortAreReadWithTheDefaultPort) {
  std::string host;
  uint16_t port = 0;
  EXPECT_TRUE(ParseAddress("example.org", host, port));
  EXPECT_EQ(host, "example.org");
  EXPECT_EQ(port, kDefaultPort);
  EXPECT_TRUE(ParseAddress("192.0.2.2:9000", host, port));
  EXPECT_EQ(host, "192.0.2.2");
  EXPECT_EQ(port, 9000);
  for (const char* bad : {"", ":7478", "h:", "h:0", "h:65536", "h:12a", "h:123456", "a:b:c"}) {
    EXPECT_FALSE(ParseAddress(bad, host, port)) << bad;
  }
}
