// SPDX-License-Identifier: GPL-3.0-or-later
// The lobby and relay: their tables driven directly, then the service on 127.0.0.1.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <random>

#include "lobby.h"
#include "lobby_tables.h"
#include "../support/loopback_udp.h"

using namespace net;

namespace {

const Endpoint kHost{0xcb007101, 40000};    // 203.0.113.1
const Endpoint kJoiner{0xc6336401, 50000};  // 198.51.100.1
const Endpoint kStranger{0xc0000209, 777};  // 192.0.2.9

struct Harness {
  explicit Harness(LobbyLimits limits = {}) : lobby(limits, [this] { return random(); }) {}
  std::vector<LobbyOutgoing> Send(const LobbyMessage& m, const Endpoint& from) {
    const std::vector<uint8_t> bytes = EncodeLobby(m);
    return Raw(bytes, from);
  }
  std::vector<LobbyOutgoing> Raw(const std::vector<uint8_t>& bytes, const Endpoint& from) {
    std::vector<LobbyOutgoing> out;
    lobby.Handle(bytes.data(), bytes.size(), from, now, out);
    for (const LobbyOutgoing& o : out) {
      if (o.to == from && !o.forward) {
        EXPECT_LE(o.bytes.size(), bytes.size());  // never amplified
      }
    }
    return out;
  }
  // The only answer to `from`, decoded.
  LobbyMessage AnswerTo(const std::vector<LobbyOutgoing>& out, const Endpoint& to) {
    LobbyMessage m;
    int n = 0;
    for (const LobbyOutgoing& o : out) {
      if (o.to == to && !o.forward) {
        EXPECT_TRUE(DecodeLobby(o.bytes.data(), o.bytes.size(), m));
        ++n;
      }
    }
    EXPECT_EQ(n, 1);
    return m;
  }
  std::mt19937_64 random{3};
  Lobby lobby;
  uint64_t now = 1000;
};

LobbyMessage Register(const char* version = "1.0", uint64_t nonce = 11) {
  LobbyMessage m;
  m.type = LobbyType::Register;
  m.nonce = nonce;
  m.protocol = 2;
  m.version = version;
  m.fingerprint = 77;
  m.local = {0xc0a80002, 7478};
  return m;
}

LobbyMessage Join(const std::string& code, const char* version = "1.0", uint64_t nonce = 22) {
  LobbyMessage m = Register(version, nonce);
  m.type = LobbyType::Join;
  m.code = code;
  m.local = {0xc0a80103, 7478};
  return m;
}

LobbyMessage Keepalive(const LobbyMessage& registered) {
  LobbyMessage m;
  m.type = LobbyType::Keepalive;
  m.code = registered.code;
  m.token = registered.token;
  return m;
}

LobbyMessage Bind(uint64_t token, uint8_t side) {
  LobbyMessage m;
  m.type = LobbyType::RelayBind;
  m.token = token;
  m.side = side;
  return m;
}

// A host registered and proven by its keepalive: the Registered answer.
LobbyMessage HostWaits(Harness& h, const Endpoint& host = kHost, uint64_t nonce = 11) {
  const LobbyMessage registered = h.AnswerTo(h.Send(Register("1.0", nonce), host), host);
  EXPECT_EQ(registered.type, LobbyType::Registered);
  h.Send(Keepalive(registered), host);
  return registered;
}

}  // namespace

TEST(Lobby, AJoinIntroducesBothSidesAndUsesTheCodeUp) {
  Harness h;
  const LobbyMessage registered = HostWaits(h);
  EXPECT_EQ(registered.seen, kHost);
  EXPECT_EQ(registered.code.size(), kCodeLength);
  std::vector<LobbyOutgoing> out = h.Send(Join(registered.code), kJoiner);
  const LobbyMessage toJoiner = h.AnswerTo(out, kJoiner);
  const LobbyMessage toHost = h.AnswerTo(out, kHost);
  ASSERT_EQ(toJoiner.type, LobbyType::Introduce);
  ASSERT_EQ(toHost.type, LobbyType::Introduce);
  EXPECT_EQ(toJoiner.nonce, 22u);
  EXPECT_EQ(toJoiner.seen, kHost);
  EXPECT_EQ(toJoiner.peerLocal, (Endpoint{0xc0a80002, 7478}));
  EXPECT_EQ(toJoiner.side, 1);
  EXPECT_EQ(toHost.seen, kJoiner);
  EXPECT_EQ(toHost.peerLocal, (Endpoint{0xc0a80103, 7478}));
  EXPECT_EQ(toHost.side, 0);
  EXPECT_EQ(toHost.token, toJoiner.token);
  EXPECT_EQ(toHost.relay, 1);
  // The joiner's request sent again gets the same answer; the host's keepalive too.
  EXPECT_EQ(EncodeLobby(h.AnswerTo(h.Send(Join(registered.code), kJoiner), kJoiner)), EncodeLobby(toJoiner));
  EXPECT_EQ(EncodeLobby(h.AnswerTo(h.Send(Keepalive(registered), kHost), kHost)), EncodeLobby(toHost));
  // Anyone else: the game is full.
  const LobbyMessage full = h.AnswerTo(h.Send(Join(registered.code), kStranger), kStranger);
  EXPECT_EQ(full.type, LobbyType::Refusal);
  EXPECT_EQ(full.reason, LobbyRefusal::Full);
}

TEST(Lobby, EveryRefusalHasItsReason) {
  Harness h;
  const LobbyMessage registered = HostWaits(h);
  struct Case {
    LobbyMessage join;
    LobbyRefusal reason;
  } cases[] = {
      {Join(registered.code == "22222222" ? "33333333" : "22222222"), LobbyRefusal::NoSuchCode},
      {Join(registered.code, "1.1"), LobbyRefusal::WrongVersion},
  };
  for (const Case& c : cases) {
    const LobbyMessage answer = h.AnswerTo(h.Send(c.join, kJoiner), kJoiner);
    EXPECT_EQ(answer.type, LobbyType::Refusal);
    EXPECT_EQ(answer.reason, c.reason);
    EXPECT_EQ(answer.nonce, c.join.nonce);
  }
  EXPECT_EQ(h.AnswerTo(h.Send(Join(registered.code, "1.1"), kJoiner), kJoiner).version, "1.0");
  // A code whose host never proved its address is not joinable.
  const LobbyMessage unproven = h.AnswerTo(h.Send(Register("1.0", 5), kStranger), kStranger);
  EXPECT_EQ(h.AnswerTo(h.Send(Join(unproven.code), kJoiner), kJoiner).reason, LobbyRefusal::NoSuchCode);
}

TEST(Lobby, CodesExpireWithoutKeepalives) {
  Harness h;
  const LobbyMessage registered = HostWaits(h);
  h.now += 20000;
  h.Send(Keepalive(registered), kHost);
  h.now += 20000;
  h.lobby.Expire(h.now);
  EXPECT_EQ(h.lobby.Games(), 1u);  // kept alive
  h.now += 31000;
  h.lobby.Expire(h.now);
  EXPECT_EQ(h.lobby.Games(), 0u);
  EXPECT_EQ(h.AnswerTo(h.Send(Join(registered.code), kJoiner), kJoiner).reason, LobbyRefusal::NoSuchCode);
}

TEST(Lobby, GuessingCodesIsRateLimitedPerAddress) {
  Harness h;
  const LobbyMessage registered = HostWaits(h);
  int answered = 0, limited = 0;
  std::mt19937_64 random(1);
  for (int i = 0; i < 1000; ++i) {
    h.now += 10;  // 100 guesses a second for ten seconds
    const LobbyMessage a = h.AnswerTo(h.Send(Join(MakeCode(random()), "1.0", static_cast<uint64_t>(i)), kStranger), kStranger);
    ASSERT_EQ(a.type, LobbyType::Refusal);
    if (a.reason == LobbyRefusal::RateLimited) {
      ++limited;
    } else {
      ++answered;
    }
  }
  EXPECT_LE(answered, 10 + 6);  // the burst, then half a request a second
  EXPECT_GE(limited, 980);
  // Another address is served at once.
  EXPECT_EQ(h.AnswerTo(h.Send(Join(registered.code), kJoiner), kJoiner).type, LobbyType::Introduce);
}

TEST(Lobby, TheRelayForwardsOnlyBetweenThePairAndWithinItsCaps) {
  LobbyLimits limits;
  limits.pairBytesPerSecond = 10000;
  Harness h(limits);
  const LobbyMessage registered = HostWaits(h);
  const LobbyMessage intro = h.AnswerTo(h.Send(Join(registered.code), kJoiner), kJoiner);
  const std::vector<uint8_t> enet(100, 0x80);  // not ours: relayed traffic
  EXPECT_TRUE(h.Raw(enet, kHost).empty());  // nobody bound yet
  const Endpoint hostAtRelay{kHost.ip, 40001};  // its router gave the relay another port
  EXPECT_EQ(h.AnswerTo(h.Send(Bind(intro.token, 0), hostAtRelay), hostAtRelay).type, LobbyType::RelayBound);
  EXPECT_EQ(h.AnswerTo(h.Send(Bind(intro.token, 1), kJoiner), kJoiner).type, LobbyType::RelayBound);
  std::vector<LobbyOutgoing> out = h.Raw(enet, kJoiner);
  ASSERT_EQ(out.size(), 1u);
  EXPECT_TRUE(out[0].forward);
  EXPECT_EQ(out[0].to, hostAtRelay);
  out = h.Raw(enet, hostAtRelay);
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].to, kJoiner);
  EXPECT_TRUE(h.Raw(enet, kStranger).empty());  // a stranger is relayed nowhere
  EXPECT_TRUE(h.Send(Bind(intro.token ^ 1, 0), kStranger).empty());  // nor binds by guessing
  // The pair's cap: 10,000 bytes a second.
  int forwarded = 0;
  for (int i = 0; i < 500; ++i) forwarded += static_cast<int>(h.Raw(enet, kJoiner).size());
  EXPECT_LE(forwarded, 100);
  h.now += 1000;
  EXPECT_EQ(h.Raw(enet, kJoiner).size(), 1u);
  // The host plays again with another joiner: its endpoint leaves the old pair.
  const LobbyMessage again = HostWaits(h, hostAtRelay, 12);
  const LobbyMessage intro2 = h.AnswerTo(h.Send(Join(again.code, "1.0", 23), kStranger), kStranger);
  EXPECT_EQ(h.AnswerTo(h.Send(Bind(intro2.token, 0), hostAtRelay), hostAtRelay).type, LobbyType::RelayBound);
  EXPECT_EQ(h.AnswerTo(h.Send(Bind(intro2.token, 1), kStranger), kStranger).type, LobbyType::RelayBound);
  h.now += 1000;
  out = h.Raw(enet, kStranger);
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].to, hostAtRelay);
  EXPECT_TRUE(h.Raw(enet, kJoiner).empty());  // the old pair no longer reaches the host
  // A silent pair is forgotten.
  h.now += 21000;
  h.lobby.Expire(h.now);
  EXPECT_EQ(h.lobby.Pairs(), 0u);
  EXPECT_TRUE(h.Raw(enet, kStranger).empty());
}

TEST(Lobby, FullTablesRefuseClearly) {
  LobbyLimits limits;
  limits.maxGames = 3;
  limits.maxPairs = 1;
  Harness h(limits);
  std::vector<LobbyMessage> games;
  for (uint32_t i = 0; i < 3; ++i) games.push_back(HostWaits(h, {kHost.ip + i, 40000}));
  const Endpoint fourth{kHost.ip + 9, 40000};
  EXPECT_EQ(h.AnswerTo(h.Send(Register(), fourth), fourth).reason, LobbyRefusal::Busy);
  EXPECT_EQ(h.AnswerTo(h.Send(Join(games[0].code), kJoiner), kJoiner).relay, 1);
  const Endpoint other{kJoiner.ip + 1, 50000};
  EXPECT_EQ(h.AnswerTo(h.Send(Join(games[1].code), other), other).relay, 0);  // relay full
}

TEST(Lobby, JunkChangesNothing) {
  Harness h;
  const LobbyMessage registered = HostWaits(h);
  std::mt19937_64 random(4);
  for (int i = 0; i < 100000; ++i) {
    std::vector<uint8_t> junk(1 + random() % 100);
    for (uint8_t& b : junk) b = static_cast<uint8_t>(random());
    if (i % 2) junk.insert(junk.begin(), {'N', 'S', 'L', '1'});
    const Endpoint from{static_cast<uint32_t>(random()), static_cast<uint16_t>(random())};
    for (const LobbyOutgoing& o : h.Raw(junk, from)) {
      EXPECT_FALSE(o.forward);
    }
  }
  EXPECT_EQ(h.AnswerTo(h.Send(Join(registered.code), kJoiner), kJoiner).type, LobbyType::Introduce);
}

// --- The service on 127.0.0.1 ----------------------------------------------------

namespace {

class Client {
 public:
  explicit Client(uint16_t lobbyPort) {
    fd_ = BindLoopbackUdp(port);
    lobby_.sin_family = AF_INET;
    lobby_.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    lobby_.sin_port = htons(lobbyPort);
  }
  ~Client() { close(fd_); }
  void Send(const std::vector<uint8_t>& bytes) {
    sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&lobby_), sizeof lobby_);
  }
  // The next datagram within `ms` (empty: none).
  std::vector<uint8_t> Receive(int ms = 1000) {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, ms) <= 0) return {};
    std::vector<uint8_t> buffer(2048);
    const ssize_t n = recv(fd_, buffer.data(), buffer.size(), 0);
    buffer.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return buffer;
  }
  // Sends `m` until an answer of type `want` comes (at most five tries).
  LobbyMessage Ask(const LobbyMessage& m, LobbyType want) {
    for (int tries = 0; tries < 5; ++tries) {
      Send(EncodeLobby(m));
      for (std::vector<uint8_t> got = Receive(200); !got.empty(); got = Receive(50)) {
        LobbyMessage answer;
        if (DecodeLobby(got.data(), got.size(), answer) && answer.type == want) return answer;
      }
    }
    return {};
  }
  uint16_t port = 0;

 private:
  int fd_ = -1;
  sockaddr_in lobby_{};
};

}  // namespace

// Pairs meet and are relayed through the real service while junk floods it.
TEST(LobbyService, PairsAreServedThroughAFloodOfJunk) {
  ServerOptions options;
  options.listen = "127.0.0.1";
  options.lobbyPort = FreeUdpPort();
  LobbyLimits limits;
  limits.requestBurst = 1000;  // every client here shares 127.0.0.1
  std::unique_ptr<Service> service = MakeLobbyService(options, limits);
  std::string error;
  ASSERT_TRUE(service->Start(error)) << error;
  Client flood(options.lobbyPort);
  std::mt19937_64 random(8);
  constexpr int kPairs = 20;
  int served = 0;
  for (int pair = 0; pair < kPairs; ++pair) {
    for (int i = 0; i < 5000; ++i) {  // 100,000 junk datagrams in all
      std::vector<uint8_t> junk(1 + random() % 80);
      for (uint8_t& b : junk) b = static_cast<uint8_t>(random());
      if (i % 2) junk.insert(junk.begin(), {'N', 'S', 'L', '1'});
      flood.Send(junk);
    }
    Client host(options.lobbyPort), joiner(options.lobbyPort);
    const LobbyMessage registered = host.Ask(Register("1.0", 100 + static_cast<uint64_t>(pair)), LobbyType::Registered);
    ASSERT_EQ(registered.type, LobbyType::Registered) << pair;
    host.Ask(Keepalive(registered), LobbyType::Registered);
    const LobbyMessage intro = joiner.Ask(Join(registered.code), LobbyType::Introduce);
    ASSERT_EQ(intro.type, LobbyType::Introduce) << pair;
    EXPECT_EQ(intro.seen.port, host.port);
    ASSERT_EQ(host.Ask(Bind(intro.token, 0), LobbyType::RelayBound).type, LobbyType::RelayBound);
    ASSERT_EQ(joiner.Ask(Bind(intro.token, 1), LobbyType::RelayBound).type, LobbyType::RelayBound);
    const std::vector<uint8_t> game = {0x80, 1, 2, 3, 4, 5};
    for (int tries = 0; tries < 5; ++tries) {
      joiner.Send(game);
      std::vector<uint8_t> got = host.Receive(200);
      while (!got.empty() && got != game) got = host.Receive(50);  // the introduction first
      if (got == game) {
        ++served;
        break;
      }
    }
  }
  EXPECT_EQ(served, kPairs);
  service->Stop();
}
