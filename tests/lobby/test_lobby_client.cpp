// SPDX-License-Identifier: GPL-3.0-or-later
// The game's side of the lobby against the real service, all on 127.0.0.1: a code, a
// join, punching or the relay, and the messages when it fails.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "lobby.h"
#include "net/game_feed.h"
#include "net/lobby_client.h"
#include "net/watch_client.h"
#include "../support/loopback_udp.h"

using namespace net;
using Clock = std::chrono::steady_clock;

namespace {

constexpr uint32_t kLoopback = 0x7f000001;

uint32_t NowMs() {
  return static_cast<uint32_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch()).count());
}

Hello Me(const char* version = "1.0") {
  Hello hello;
  hello.gameVersion = version;
  hello.fingerprint = 77;
  hello.seed = 5;
  return hello;
}

// Drops the punches a connection hears, as a router that gives every destination a
// new port would: the pair must go through the relay.
class DropPunches : public RawListener {
 public:
  explicit DropPunches(RawListener& next) : next_(next) {}
  void OnRaw(const uint8_t* data, size_t size, const Endpoint& from) override {
    LobbyMessage m;
    if (DecodeLobby(data, size, m) && m.type == LobbyType::Punch) return;
    next_.OnRaw(data, size, from);
  }

 private:
  RawListener& next_;
};

struct Lab {
  explicit Lab(const LobbyLimits& limits = {}) {
    options.listen = "127.0.0.1";
    options.lobbyPort = FreeUdpPort();
    service = MakeLobbyService(options, limits);
    std::string error;
    EXPECT_TRUE(service->Start(error)) << error;
    lobby = {kLoopback, options.lobbyPort};
  }
  ~Lab() { service->Stop(); }
  ServerOptions options;
  std::unique_ptr<Service> service;
  Endpoint lobby;
};

struct Side {
  std::unique_ptr<Connection> connection;
  std::unique_ptr<LobbyClient> client;
  std::vector<LobbyEvent> lobbyEvents;
  std::vector<NetEvent> netEvents;
  void Step() {
    connection->Service(netEvents);
    client->Tick(NowMs(), lobbyEvents);
    connection->Flush();
  }
  const LobbyEvent* Find(LobbyEvent::Kind kind) const {
    for (const LobbyEvent& e : lobbyEvents) {
      if (e.kind == kind) return &e;
    }
    return nullptr;
  }
};

Side Host(const Endpoint& lobby, const Hello& hello = Me()) {
  Side s;
  std::string error;
  s.connection = Connection::Listen(0, "127.0.0.1", hello, error);
  s.client = std::make_unique<LobbyClient>(*s.connection, lobby, Endpoint{kLoopback, s.connection->Port()}, hello, "", NowMs());
  return s;
}

Side Joiner(const Endpoint& lobby, const std::string& code, const Hello& hello = Me()) {
  Side s;
  std::string error;
  s.connection = Connection::Open(hello, error);
  s.client = std::make_unique<LobbyClient>(*s.connection, lobby, Endpoint{}, hello, code, NowMs());
  return s;
}

template <typename Done>
bool StepUntil(std::vector<Side*> sides, Done done, int limitMs) {
  const auto until = Clock::now() + std::chrono::milliseconds(limitMs);
  while (Clock::now() < until) {
    for (Side* s : sides) s->Step();
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return false;
}

// The host's code, once registered.
std::string CodeOf(Side& host) {
  EXPECT_TRUE(StepUntil({&host}, [&] { return host.Find(LobbyEvent::Kind::Registered) != nullptr; }, 2000));
  const LobbyEvent* e = host.Find(LobbyEvent::Kind::Registered);
  // Let the first keepalive prove the host's address.
  StepUntil({&host}, [] { return false; }, 100);
  return e != nullptr ? e->code : std::string();
}

}  // namespace

TEST(LobbyClient, AJoinByCodePlaysDirectlyWhenPunchingGetsThrough) {
  Lab lab;
  Side host = Host(lab.lobby);
  const std::string code = CodeOf(host);
  ASSERT_EQ(code.size(), kCodeLength);
  const auto start = Clock::now();
  Side joiner = Joiner(lab.lobby, code);
  ASSERT_TRUE(StepUntil({&host, &joiner}, [&] { return host.connection->Agreed() && joiner.connection->Agreed(); }, 3000));
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
  std::printf("join to play, direct, loopback: %lld ms\n", static_cast<long long>(ms));
  EXPECT_LT(ms, 1000);
  ASSERT_NE(joiner.Find(LobbyEvent::Kind::Direct), nullptr);
  EXPECT_EQ(joiner.Find(LobbyEvent::Kind::Direct)->to, (Endpoint{kLoopback, host.connection->Port()}));
  EXPECT_EQ(joiner.Find(LobbyEvent::Kind::Relayed), nullptr);
  EXPECT_NE(host.connection->PeerEndpoint(), lab.lobby);
}

TEST(LobbyClient, WithoutAPunchThePairPlaysThroughTheRelayWithinThreeSeconds) {
  Lab lab;
  Side host = Host(lab.lobby);
  const std::string code = CodeOf(host);
  Side joiner = Joiner(lab.lobby, code);
  DropPunches hostFilter(*host.client), joinerFilter(*joiner.client);
  host.connection->SetRawListener(&hostFilter);
  joiner.connection->SetRawListener(&joinerFilter);
  const auto start = Clock::now();
  ASSERT_TRUE(StepUntil({&host, &joiner}, [&] { return host.connection->Agreed() && joiner.connection->Agreed(); }, 5000));
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
  std::printf("join to play, relayed, loopback: %lld ms\n", static_cast<long long>(ms));
  EXPECT_LT(ms, 4000);
  EXPECT_NE(joiner.Find(LobbyEvent::Kind::Relayed), nullptr);
  EXPECT_EQ(joiner.Find(LobbyEvent::Kind::Direct), nullptr);
  EXPECT_EQ(host.connection->PeerEndpoint(), lab.lobby);  // the joiner is the relay, to the host
  // Messages go through.
  host.connection->Send(MakeSignal(MessageType::Ready, 4), true);
  ASSERT_TRUE(StepUntil({&host, &joiner}, [&] {
    for (const NetEvent& e : joiner.netEvents) {
      if (e.kind == NetEvent::Kind::Message && e.message.value == 4) return true;
    }
    return false;
  }, 2000));
  host.connection->SetRawListener(host.client.get());
  joiner.connection->SetRawListener(joiner.client.get());
}

TEST(LobbyClient, EachFailureIsToldClearly) {
  Lab lab;
  Side host = Host(lab.lobby);
  const std::string code = CodeOf(host);
  struct Case {
    Endpoint lobby;
    std::string code;
    Hello hello;
    const char* text;
    int withinMs;
  } cases[] = {
      {lab.lobby, code == "22222222" ? "33333333" : "22222222", Me(), "No game has that code (or it expired).", 300},
      {lab.lobby, code, Me("1.1"), "The other player's game is version 1.0", 300},
      {{kLoopback, FreeUdpPort()}, code, Me(), "The lobby does not answer.", 5000},
  };
  for (const Case& c : cases) {
    Side joiner = Joiner(c.lobby, c.code, c.hello);
    const auto start = Clock::now();
    ASSERT_TRUE(StepUntil({&host, &joiner}, [&] { return joiner.Find(LobbyEvent::Kind::Failed) != nullptr; }, 6000)) << c.text;
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    EXPECT_EQ(joiner.Find(LobbyEvent::Kind::Failed)->text, c.text);
    EXPECT_LT(ms, c.withinMs) << c.text;
  }
  // The first joiner takes the game; the next is told it is full.
  Side first = Joiner(lab.lobby, code);
  ASSERT_TRUE(StepUntil({&host, &first}, [&] { return first.connection->Agreed(); }, 3000));
  Side second = Joiner(lab.lobby, code);
  ASSERT_TRUE(StepUntil({&host, &first, &second}, [&] { return second.Find(LobbyEvent::Kind::Failed) != nullptr; }, 2000));
  EXPECT_EQ(second.Find(LobbyEvent::Kind::Failed)->text, "That game is already full.");
}

// --- Spectators, through the real service ------------------------------------------

namespace {

// One game of the host's feed: `steps` times 12 ticks (a fifth of a second), each step
// sent and acknowledged before the next, then its end. The feed's bytes for it.
uint64_t FeedAGame(GameFeed& feed, std::vector<Side*> sides, uint16_t number, int steps,
                   std::vector<std::unique_ptr<WatchClient>>& watchers) {
  feed.BeginGame(number, 1000 + number, 0);
  uint32_t clock = 0;
  const auto step = [&] {
    clock += kFeedEveryMs;
    feed.Service(clock);
    return StepUntil(sides, [&] {
      for (auto& w : watchers) w->Service(NowMs());
      return feed.AllAcknowledged();
    }, 2000);
  };
  EXPECT_TRUE(step());
  const uint64_t before = feed.BytesSent();
  for (int i = 0; i < steps; ++i) {
    for (int t = 0; t < 12; ++t) feed.Tick(static_cast<uint32_t>((i + t / 5) % 6), static_cast<uint32_t>(i / 3 % 6));
    if (i % 40 == 0) feed.LevelScreen(static_cast<uint64_t>(12 * (i + 1)));
    EXPECT_TRUE(step()) << i;
  }
  feed.End(StreamEnd::Quit);
  EXPECT_TRUE(step());
  return feed.BytesSent() - before;
}

}  // namespace

TEST(LobbyClient, EightSpectatorsGetTheSameStreamDirectOrRelayedAndTheHostSendsNoMoreForThem) {
  LobbyLimits limits;
  limits.watchersPerGame = 8;
  limits.requestBurst = 100;  // every game and spectator here comes from 127.0.0.1
  Lab lab(limits);
  for (bool relayed : {false, true}) {
    SCOPED_TRACE(relayed ? "relayed" : "direct");
    Side host = Host(lab.lobby);
    const std::string code = CodeOf(host);
    Side joiner = Joiner(lab.lobby, code);
    DropPunches hostFilter(*host.client), joinerFilter(*joiner.client);
    if (relayed) {
      host.connection->SetRawListener(&hostFilter);
      joiner.connection->SetRawListener(&joinerFilter);
    }
    ASSERT_TRUE(StepUntil({&host, &joiner}, [&] { return host.connection->Agreed() && joiner.connection->Agreed(); }, 5000));
    EXPECT_EQ(host.connection->PeerEndpoint() == lab.lobby, relayed);
    GameFeed feed(*host.connection, lab.lobby, code, host.client->Secret());

    // A game nobody watches, then the same game watched by eight.
    std::vector<std::unique_ptr<WatchClient>> watchers;
    const uint64_t unwatched = FeedAGame(feed, {&host, &joiner}, 0, 150, watchers);
    feed.BeginGame(1, 1001, 0);
    feed.Service(0);
    ASSERT_TRUE(StepUntil({&host, &joiner}, [&] { return feed.AllAcknowledged(); }, 2000));
    std::string error;
    for (int i = 0; i < 8; ++i) watchers.push_back(WatchClient::Open(lab.lobby, code, Me(), error));
    ASSERT_TRUE(StepUntil({&host, &joiner}, [&] {
      bool all = true;
      for (auto& w : watchers) {
        w->Service(NowMs());
        all = all && w->Stream().header;
      }
      return all;
    }, 3000));
    auto ninth = WatchClient::Open(lab.lobby, code, Me(), error);
    ASSERT_TRUE(StepUntil({&host, &joiner}, [&] {
      ninth->Service(NowMs());
      return ninth->Stream().over;
    }, 3000));
    EXPECT_EQ(ninth->Stream().failure, "That game has as many spectators as it can take.");
    const uint64_t watched = FeedAGame(feed, {&host, &joiner}, 1, 150, watchers);
    EXPECT_EQ(feed.Watchers(), 8u);
    // Every spectator gets the whole stream, the same as the host fed.
    ASSERT_TRUE(StepUntil({&host, &joiner}, [&] {
      bool all = true;
      for (auto& w : watchers) {
        w->Service(NowMs());
        all = all && w->Stream().items.size() == feed.Items().size();
      }
      return all;
    }, 5000));
    uint64_t received = 0;
    for (auto& w : watchers) {
      EXPECT_EQ(w->Stream().items, feed.Items());
      EXPECT_EQ(w->Stream().game, 1u);
      EXPECT_EQ(w->Stream().seed, 1001u);
      received += w->BytesReceived();
    }
    std::printf("%s: a game of %zu items: the host fed %llu bytes unwatched, %llu bytes watched by 8; "
                "the spectators received %llu bytes in all\n",
                relayed ? "relayed" : "direct", feed.Items().size(), static_cast<unsigned long long>(unwatched),
                static_cast<unsigned long long>(watched), static_cast<unsigned long long>(received));
    EXPECT_EQ(watched, unwatched);  // the host's upload does not grow with its spectators
    joiner.connection->SetRawListener(joiner.client.get());
  }
}

TEST(LobbyClient, ASpectatorIsToldWhenThePlayersGameStopsSendingWithoutItsEnd) {
  Lab lab;
  Side host = Host(lab.lobby);
  const std::string code = CodeOf(host);
  Side joiner = Joiner(lab.lobby, code);
  ASSERT_TRUE(StepUntil({&host, &joiner}, [&] { return host.connection->Agreed() && joiner.connection->Agreed(); }, 5000));
  GameFeed feed(*host.connection, lab.lobby, code, host.client->Secret());
  feed.BeginGame(0, 5, 0);
  for (int t = 0; t < 100; ++t) feed.Tick(1, 2);
  std::string error;
  std::unique_ptr<WatchClient> watcher = WatchClient::Open(lab.lobby, code, Me(), error);
  ASSERT_TRUE(StepUntil({&host, &joiner}, [&] {
    feed.Service(NowMs());
    watcher->Service(NowMs());
    return watcher->Stream().items.size() == 100;
  }, 3000));
  // The host's computer goes silent: no end comes, and the spectator is told so.
  const auto silent = Clock::now();
  ASSERT_TRUE(StepUntil({&joiner}, [&] {
    watcher->Service(NowMs());
    return watcher->Stream().over;
  }, 12000));
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - silent).count();
  EXPECT_EQ(watcher->Stream().failure, "The players' game stopped sending.");
  EXPECT_EQ(watcher->Stream().items.size(), 100u);
  EXPECT_LT(ms, 10000);  // the lobby's 3 s, then the spectator's 5 s
}
