// SPDX-License-Identifier: GPL-3.0-or-later
// Spectators at the lobby's tables: a joined game's host feeds its stream once; proven
// spectators, up to the bound, get it all; what is lost is sent again; nothing goes to an
// address that did not prove itself or stopped asking, and every answer to a request is
// shorter than the request.
#include <gtest/gtest.h>

#include <random>

#include "lobby_tables.h"

using namespace net;

namespace {

const Endpoint kHost{0xcb007101, 40000};    // 203.0.113.1
const Endpoint kJoiner{0xc6336401, 50000};  // 198.51.100.1

Endpoint Spectator(uint32_t i) { return {0x64400001 + i, static_cast<uint16_t>(30000 + i)}; }  // 100.64.0.x

struct Table {
  explicit Table(LobbyLimits limits = {}) : lobby(limits, [this] { return random(); }) {}
  std::vector<LobbyOutgoing> Send(const LobbyMessage& m, const Endpoint& from) {
    const std::vector<uint8_t> bytes = EncodeLobby(m);
    std::vector<LobbyOutgoing> out;
    lobby.Handle(bytes.data(), bytes.size(), from, now, out);
    for (const LobbyOutgoing& o : out) {
      EXPECT_FALSE(o.forward);
      if (o.to == from) {
        EXPECT_LT(o.bytes.size(), bytes.size()) << "an answer no shorter than its request";
      }
    }
    return out;
  }
  // The one answer to `to`.
  LobbyMessage Answer(const std::vector<LobbyOutgoing>& out, const Endpoint& to) {
    LobbyMessage m;
    int n = 0;
    for (const LobbyOutgoing& o : out) {
      if (o.to == to) n += DecodeLobby(o.bytes.data(), o.bytes.size(), m) ? 1 : 100;
    }
    EXPECT_EQ(n, 1);
    return m;
  }
  // One pulse: the stream data to each address.
  std::map<uint64_t, std::vector<LobbyMessage>> Pulse() {
    std::vector<LobbyOutgoing> out;
    lobby.Pulse(now, out);
    std::map<uint64_t, std::vector<LobbyMessage>> to;
    for (const LobbyOutgoing& o : out) {
      LobbyMessage m;
      EXPECT_TRUE(DecodeLobby(o.bytes.data(), o.bytes.size(), m));
      EXPECT_EQ(m.type, LobbyType::WatchData);
      EXPECT_LE(o.bytes.size(), kMaxLobbyDatagram);
      to[static_cast<uint64_t>(o.to.ip) << 16 | o.to.port].push_back(m);
    }
    return to;
  }
  std::mt19937_64 random{7};
  Lobby lobby;
  uint64_t now = 1000;
};

LobbyMessage Hello(LobbyType type, const char* version = "1.0") {
  LobbyMessage m;
  m.type = type;
  m.nonce = 11;
  m.protocol = 2;
  m.version = version;
  m.fingerprint = 77;
  return m;
}

// A host registered and proven: the Registered answer (code and secret).
LobbyMessage ProvenGame(Table& t) {
  const LobbyMessage registered = t.Answer(t.Send(Hello(LobbyType::Register), kHost), kHost);
  LobbyMessage keepalive;
  keepalive.type = LobbyType::Keepalive;
  keepalive.code = registered.code;
  keepalive.token = registered.token;
  t.Send(keepalive, kHost);
  return registered;
}

// The same game joined.
LobbyMessage JoinedGame(Table& t) {
  const LobbyMessage registered = ProvenGame(t);
  LobbyMessage join = Hello(LobbyType::Join);
  join.nonce = 22;
  join.code = registered.code;
  EXPECT_EQ(t.Answer(t.Send(join, kJoiner), kJoiner).type, LobbyType::Introduce);
  return registered;
}

LobbyMessage Feed(const LobbyMessage& game, uint32_t position, std::vector<uint8_t> items, uint16_t number = 0) {
  LobbyMessage m;
  m.type = LobbyType::Feed;
  m.code = game.code;
  m.token = game.token;
  m.game = number;
  m.seed = 99;
  m.position = position;
  m.items = std::move(items);
  return m;
}

LobbyMessage Watch(const std::string& code, uint64_t nonce, const char* version = "1.0") {
  LobbyMessage m = Hello(LobbyType::Watch, version);
  m.code = code;
  m.nonce = nonce;
  return m;
}

LobbyMessage Ack(const std::string& code, uint64_t secret, uint32_t position, uint16_t number = 0) {
  LobbyMessage m;
  m.type = LobbyType::WatchAck;
  m.code = code;
  m.token = secret;
  m.game = number;
  m.position = position;
  return m;
}

uint64_t Key(const Endpoint& e) { return static_cast<uint64_t>(e.ip) << 16 | e.port; }

std::vector<uint8_t> Ticks(size_t n, uint8_t first = 0) {
  std::vector<uint8_t> items(n);
  for (size_t i = 0; i < n; ++i) items[i] = static_cast<uint8_t>((first + i / 7) % 36);
  return items;
}

}  // namespace

TEST(Spectators, ProvenSpectatorsUpToTheBoundGetTheWholeStreamAndTheNextIsRefused) {
  LobbyLimits limits;
  limits.requestBurst = 100;
  Table t(limits);
  const LobbyMessage game = JoinedGame(t);
  std::vector<uint8_t> stream = Ticks(3000);
  const LobbyMessage ack = t.Answer(t.Send(Feed(game, 0, {stream.begin(), stream.begin() + 1000}), kHost), kHost);
  ASSERT_EQ(ack.type, LobbyType::FeedAck);
  EXPECT_EQ(ack.position, 1000u);
  EXPECT_EQ(t.lobby.Streams(), 1u);

  std::vector<uint64_t> secrets;
  for (uint32_t i = 0; i < limits.watchersPerGame; ++i) {
    const LobbyMessage watching = t.Answer(t.Send(Watch(game.code, 100 + i), Spectator(i)), Spectator(i));
    ASSERT_EQ(watching.type, LobbyType::Watching) << i;
    EXPECT_EQ(watching.nonce, 100 + i);
    secrets.push_back(watching.token);
  }
  const Endpoint extra = Spectator(99);
  const LobbyMessage refused = t.Answer(t.Send(Watch(game.code, 5), extra), extra);
  EXPECT_EQ(refused.type, LobbyType::Refusal);
  EXPECT_EQ(refused.reason, LobbyRefusal::WatchersFull);

  // Nothing goes to an address before it echoes its secret, nor to one with a wrong one.
  EXPECT_TRUE(t.Pulse().empty());
  t.Send(Ack(game.code, secrets[0] + 1, 0), Spectator(0));
  t.Send(Ack(game.code, secrets[0], 0), Spectator(1));
  EXPECT_TRUE(t.Pulse().empty());

  // Proven, every spectator gets the same stream; the host's feed is answered the same.
  std::vector<std::vector<uint8_t>> held(limits.watchersPerGame);
  for (uint32_t i = 0; i < limits.watchersPerGame; ++i) {
    const LobbyMessage status = t.Answer(t.Send(Ack(game.code, secrets[i], 0), Spectator(i)), Spectator(i));
    EXPECT_EQ(status.type, LobbyType::WatchData);
    EXPECT_EQ(status.total, 1000u);
    EXPECT_EQ(status.seed, 99u);
    EXPECT_TRUE(status.items.empty());
  }
  uint32_t fed = 1000;
  for (int pulse = 0; pulse < 40; ++pulse) {
    if (fed < stream.size()) {
      const std::vector<uint8_t> next(stream.begin() + fed, stream.begin() + fed + 100);
      EXPECT_EQ(t.Answer(t.Send(Feed(game, fed, next), kHost), kHost).watchers, limits.watchersPerGame);
      fed += 100;
    }
    t.now += Lobby::kPulseMs;
    for (auto& [key, data] : t.Pulse()) {
      for (uint32_t i = 0; i < limits.watchersPerGame; ++i) {
        if (Key(Spectator(i)) != key) continue;
        for (const LobbyMessage& d : data) {
          ASSERT_EQ(d.position, held[i].size());
          held[i].insert(held[i].end(), d.items.begin(), d.items.end());
        }
        t.Send(Ack(game.code, secrets[i], static_cast<uint32_t>(held[i].size())), Spectator(i));
      }
    }
  }
  for (uint32_t i = 0; i < limits.watchersPerGame; ++i) EXPECT_EQ(held[i], stream) << i;
  EXPECT_EQ(t.lobby.Watchers(), limits.watchersPerGame);
}

TEST(Spectators, EachRefusalHasItsReason) {
  Table t;
  const LobbyMessage registered = ProvenGame(t);
  const Endpoint s = Spectator(0);
  // Waiting for its second player, the game has not begun; a feed before the join is not taken.
  EXPECT_EQ(t.Answer(t.Send(Watch(registered.code, 1), s), s).reason, LobbyRefusal::NotStarted);
  EXPECT_TRUE(t.Send(Feed(registered, 0, Ticks(10)), kHost).empty());
  EXPECT_EQ(t.lobby.Streams(), 0u);
  LobbyMessage join = Hello(LobbyType::Join);
  join.code = registered.code;
  t.Send(join, kJoiner);
  // A feed with a wrong secret is not taken either.
  LobbyMessage forged = Feed(registered, 0, Ticks(10));
  forged.token ^= 1;
  EXPECT_TRUE(t.Send(forged, kJoiner).empty());
  EXPECT_EQ(t.Answer(t.Send(Feed(registered, 0, Ticks(10)), kHost), kHost).position, 10u);
  EXPECT_EQ(t.Answer(t.Send(Watch(registered.code, 2, "1.1"), s), s).reason, LobbyRefusal::WrongVersion);
  EXPECT_EQ(t.Answer(t.Send(Watch(registered.code == "22222222" ? "33333333" : "22222222", 3), s), s).reason,
            LobbyRefusal::NoSuchCode);
  // A stream never passes the lobby's room for streams.
  LobbyLimits small;
  small.maxStreamBytes = 50;
  Table u(small);
  const LobbyMessage game = JoinedGame(u);
  EXPECT_EQ(u.Answer(u.Send(Feed(game, 0, Ticks(40)), kHost), kHost).position, 40u);
  EXPECT_EQ(u.Answer(u.Send(Feed(game, 40, Ticks(40)), kHost), kHost).reason, LobbyRefusal::Busy);
  EXPECT_EQ(u.lobby.StreamBytes(), 40u);
}

TEST(Spectators, WhatIsLostIsSentAgainAndASilentSpectatorGetsNothingMore) {
  LobbyLimits limits;
  Table t(limits);
  const LobbyMessage game = JoinedGame(t);
  t.Send(Feed(game, 0, Ticks(500)), kHost);
  const Endpoint s = Spectator(0);
  const uint64_t secret = t.Answer(t.Send(Watch(game.code, 1), s), s).token;
  t.Send(Ack(game.code, secret, 0), s);
  // The first pulse's data is lost on the way: the next pulses hold back until the
  // resend time, then send it again from what the spectator holds.
  EXPECT_EQ(t.Pulse()[Key(s)].front().position, 0u);
  t.now += Lobby::kPulseMs;
  EXPECT_TRUE(t.Pulse().empty());
  t.Send(Ack(game.code, secret, 0), s);
  t.now += limits.watchResendMs;
  auto again = t.Pulse();
  ASSERT_EQ(again[Key(s)].size(), 1u);
  EXPECT_EQ(again[Key(s)].front().position, 0u);
  EXPECT_EQ(again[Key(s)].front().items.size(), 500u);
  // Silent past the limit: nothing more, and its place is freed.
  t.now += limits.watcherIdleMs + 1;
  t.Send(Feed(game, 500, Ticks(10)), kHost);
  EXPECT_TRUE(t.Pulse().empty());
  t.lobby.Expire(t.now);
  EXPECT_EQ(t.lobby.Watchers(), 0u);
  // A stream not fed is forgotten with its items.
  t.now += limits.streamIdleMs + 1;
  t.lobby.Expire(t.now);
  EXPECT_EQ(t.lobby.Streams(), 0u);
  EXPECT_EQ(t.lobby.StreamBytes(), 0u);
}

TEST(Spectators, ASpectatorsBandwidthIsCappedAndTheNextGameStartsAfresh) {
  LobbyLimits limits;
  limits.watcherBytesPerSecond = 3000;
  Table t(limits);
  const LobbyMessage game = JoinedGame(t);
  std::vector<uint8_t> stream;
  for (size_t i = 0; i < 8000; ++i) stream.push_back(static_cast<uint8_t>(i % 36));  // no runs: 2 bytes an item
  for (uint32_t at = 0; at < stream.size(); at += 500) {
    t.Send(Feed(game, at, {stream.begin() + at, stream.begin() + at + 500}), kHost);
  }
  const Endpoint s = Spectator(0);
  const uint64_t secret = t.Answer(t.Send(Watch(game.code, 1), s), s).token;
  t.Send(Ack(game.code, secret, 0), s);
  size_t bytes = 0;
  auto sent = t.Pulse();
  for (const LobbyMessage& d : sent[Key(s)]) bytes += EncodeLobby(d).size();
  EXPECT_GT(bytes, 0u);
  EXPECT_LE(bytes, limits.watcherBytesPerSecond);
  EXPECT_GT(t.lobby.Counts().watchDropped, 0u);
  // The players' next game replaces the stream.
  EXPECT_EQ(t.Answer(t.Send(Feed(game, 0, Ticks(5), 1), kHost), kHost).position, 5u);
  EXPECT_EQ(t.lobby.StreamBytes(), 5u);
  t.now += 1000;
  t.Send(Ack(game.code, secret, 0, 1), s);
  auto next = t.Pulse();
  ASSERT_EQ(next[Key(s)].size(), 1u);
  EXPECT_EQ(next[Key(s)].front().game, 1u);
  EXPECT_EQ(next[Key(s)].front().items, Ticks(5));
}
