// SPDX-License-Identifier: GPL-3.0-or-later
// The lobby's datagrams and the join codes.
#include <gtest/gtest.h>

#include <random>

#include "net/lobby_protocol.h"

using namespace net;

namespace {

std::vector<LobbyMessage> OneOfEach() {
  std::vector<LobbyMessage> all;
  LobbyMessage m;
  m.nonce = 0x0123456789abcdefULL;
  m.code = "K7Q2MZ4P";
  m.token = 0xfedcba9876543210ULL;
  m.side = 1;
  m.protocol = 2;
  m.version = "1.0";
  m.fingerprint = 77;
  m.local = {0xc0000201, 40000};
  m.seen = {0xcb007101, 7478};
  m.peerLocal = {0xc0000202, 40001};
  m.relay = 1;
  m.seconds = 30;
  m.reason = LobbyRefusal::WrongVersion;
  m.game = 3;
  m.seed = 0x1122334455667788ULL;
  m.math = 1;
  m.position = 120;
  m.total = 300;
  m.live = 1;
  m.watchers = 8;
  m.items = {0, 0, 0, 35, kStreamScreen, 7, 7, kStreamEnd};
  for (int t = 1; t <= static_cast<int>(LobbyType::FeedAck); ++t) {
    m.type = static_cast<LobbyType>(t);
    all.push_back(m);
  }
  return all;
}

bool IsStream(LobbyType type) { return type == LobbyType::Feed || type == LobbyType::WatchData; }

}  // namespace

TEST(LobbyProtocol, EveryDatagramComesBackAsSentAndAnswersAreNeverLonger) {
  for (const LobbyMessage& m : OneOfEach()) {
    const std::vector<uint8_t> bytes = EncodeLobby(m);
    if (IsLobbyRequest(m.type)) {
      EXPECT_EQ(bytes.size(), kLobbyRequestBytes) << int(m.type);
    } else if (IsStream(m.type)) {
      EXPECT_EQ(bytes.size(), StreamHeaderBytes(m.type) + 10) << int(m.type);  // five runs of two bytes
    } else {
      EXPECT_LT(bytes.size(), kLobbyRequestBytes) << int(m.type);
    }
    LobbyMessage back;
    ASSERT_TRUE(DecodeLobby(bytes.data(), bytes.size(), back)) << int(m.type);
    EXPECT_EQ(EncodeLobby(back), bytes) << int(m.type);
    EXPECT_EQ(back.type, m.type);
    if (IsStream(m.type)) {
      EXPECT_EQ(back.items, m.items);
    }
  }
}

TEST(LobbyProtocol, AnyByteTooManyTooFewOrOutOfRangeIsRefused) {
  for (const LobbyMessage& m : OneOfEach()) {
    const std::vector<uint8_t> bytes = EncodeLobby(m);
    LobbyMessage out;
    // (A stream's datagram cut between two runs is a shorter one.)
    const size_t whole = IsStream(m.type) ? StreamHeaderBytes(m.type) : bytes.size();
    for (size_t n = 0; n < whole; ++n) EXPECT_FALSE(DecodeLobby(bytes.data(), n, out)) << int(m.type) << " " << n;
    std::vector<uint8_t> longer = bytes;
    longer.push_back(0);
    EXPECT_FALSE(DecodeLobby(longer.data(), longer.size(), out)) << int(m.type);
    std::vector<uint8_t> magic = bytes;
    magic[3] = '2';
    EXPECT_FALSE(DecodeLobby(magic.data(), magic.size(), out));
    if (IsLobbyRequest(m.type)) {
      std::vector<uint8_t> padded = bytes;
      padded.back() = 1;
      EXPECT_FALSE(DecodeLobby(padded.data(), padded.size(), out)) << "padding " << int(m.type);
    }
  }
  LobbyMessage join = OneOfEach()[3];
  ASSERT_EQ(join.type, LobbyType::Join);
  for (char bad : {'0', 'O', '1', 'I', 'L', 'a', '\0'}) {
    std::vector<uint8_t> bytes = EncodeLobby(join);
    bytes[4 + 1 + 8 + 3] = static_cast<uint8_t>(bad);  // the code's fourth character
    LobbyMessage out;
    EXPECT_FALSE(DecodeLobby(bytes.data(), bytes.size(), out)) << bad;
  }
  LobbyMessage punch = OneOfEach()[8];
  punch.side = 2;
  std::vector<uint8_t> bytes = EncodeLobby(punch);
  LobbyMessage out;
  EXPECT_FALSE(DecodeLobby(bytes.data(), bytes.size(), out));
  const uint8_t unknown[] = {'N', 'S', 'L', '1', 16, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_FALSE(DecodeLobby(unknown, sizeof unknown, out));
  EXPECT_FALSE(DecodeLobby(nullptr, 0, out));
}

TEST(LobbyProtocol, RandomBytesNeverDecodeUnlessTheyReEncodeTheSame) {
  std::mt19937_64 random(5);
  for (int i = 0; i < 200000; ++i) {
    std::vector<uint8_t> bytes(4 + random() % 64);
    for (uint8_t& b : bytes) b = static_cast<uint8_t>(random());
    bytes[0] = 'N', bytes[1] = 'S', bytes[2] = 'L', bytes[3] = '1';
    if (bytes.size() > 4) bytes[4] = static_cast<uint8_t>(1 + random() % 15);
    LobbyMessage m;
    if (DecodeLobby(bytes.data(), bytes.size(), m)) {
      ASSERT_EQ(EncodeLobby(m), bytes);
    }
  }
}

TEST(JoinCodes, ReadAloudWithoutConfusionAndToldApartFromAddresses) {
  for (char c : std::string("0O1IL")) EXPECT_EQ(std::string(kCodeAlphabet).find(c), std::string::npos) << c;
  std::mt19937_64 random(9);
  for (int i = 0; i < 1000; ++i) {
    const std::string code = MakeCode(random());
    std::string back;
    ASSERT_TRUE(ParseCode(FormatCode(code), back));
    EXPECT_EQ(back, code);
  }
  std::string code;
  for (const char* good : {"K7Q2-MZ4P", "k7q2-mz4p", "K7Q2 MZ4P", "K7Q2MZ4P"}) {
    EXPECT_TRUE(ParseCode(good, code)) << good;
    EXPECT_EQ(code, "K7Q2MZ4P");
  }
  for (const char* bad : {"K7Q2-MZ40", "K7Q2-MZ4", "K7Q2--MZ4P", "K7Q2-MZ4PX", "game.example", "K7Q2:7478",
                          "192.0.2.1", "", "K7Q2-MZIP"}) {
    EXPECT_FALSE(ParseCode(bad, code)) << bad;
  }
  EXPECT_EQ(FormatCode("K7Q2MZ4P"), "K7Q2-MZ4P");
}

TEST(LobbyProtocol, AStreamsItemsAreRunsWithOneEncodingAndBoundedCounts) {
  LobbyMessage data = OneOfEach()[static_cast<int>(LobbyType::WatchData) - 1];
  ASSERT_EQ(data.type, LobbyType::WatchData);
  const size_t header = StreamHeaderBytes(LobbyType::WatchData);
  struct Case {
    const char* what;
    std::vector<uint8_t> runs;  // after the header
    bool decodes;
    size_t items;
  };
  const Case cases[] = {
      {"no items", {}, true, 0},
      {"one run", {5, 3}, true, 3},
      {"two runs of one item", {5, 1, 5, 1}, false, 0},
      {"a run of none", {5, 0}, false, 0},
      {"an item past the last kind", {kStreamItemLimit, 1}, false, 0},
      {"a count not in its shortest form", {5, 0x81, 0x00}, false, 0},
      {"a run as long as a datagram may hold", {4, 0x80, 0x40}, true, kMaxChunkItems},
      {"one more than that", {4, 0x81, 0x40}, false, 0},
      {"two runs that pass it together", {4, 0x80, 0x40, 5, 1}, false, 0},
      {"a count cut short", {4, 0x80}, false, 0},
  };
  for (const Case& c : cases) {
    data.items.clear();
    std::vector<uint8_t> bytes = EncodeLobby(data);
    ASSERT_EQ(bytes.size(), header);
    bytes.insert(bytes.end(), c.runs.begin(), c.runs.end());
    LobbyMessage out;
    EXPECT_EQ(DecodeLobby(bytes.data(), bytes.size(), out), c.decodes) << c.what;
    if (c.decodes) {
      EXPECT_EQ(out.items.size(), c.items) << c.what;
    }
  }
  // A stream never passes its bound, and no datagram is longer than kMaxLobbyDatagram.
  data.items.assign(10, 3);
  data.position = kMaxStreamItems - 9;
  std::vector<uint8_t> bytes = EncodeLobby(data);
  LobbyMessage out;
  EXPECT_FALSE(DecodeLobby(bytes.data(), bytes.size(), out));
  data.position = 0;
  data.items.clear();
  for (size_t i = 0; i < 2000; ++i) data.items.push_back(static_cast<uint8_t>(i % 2));
  bytes = EncodeLobby(data);
  EXPECT_FALSE(DecodeLobby(bytes.data(), bytes.size(), out));  // 4000 bytes of runs
}

TEST(LobbyProtocol, AsManyItemsAsFitMakeADatagramOfAtMostTheLimit) {
  std::mt19937_64 random(11);
  for (int round = 0; round < 200; ++round) {
    std::vector<uint8_t> items(1 + random() % 20000);
    const int kinds = 1 + static_cast<int>(random() % 3);  // few kinds: long runs; many: short ones
    for (uint8_t& item : items) item = static_cast<uint8_t>(random() % (kinds == 1 ? 2 : kinds == 2 ? 6 : 36));
    if (round % 7 == 0) std::fill(items.begin(), items.end(), 4);
    LobbyMessage feed = OneOfEach()[static_cast<int>(LobbyType::Feed) - 1];
    const size_t room = kMaxLobbyDatagram - StreamHeaderBytes(LobbyType::Feed);
    const size_t n = StreamItemsThatFit(items.data(), items.size(), room);
    ASSERT_GT(n, 0u);
    ASSERT_LE(n, kMaxChunkItems);
    feed.position = 0;
    feed.items.assign(items.begin(), items.begin() + static_cast<std::ptrdiff_t>(n));
    const std::vector<uint8_t> bytes = EncodeLobby(feed);
    ASSERT_LE(bytes.size(), kMaxLobbyDatagram) << round;
    LobbyMessage back;
    ASSERT_TRUE(DecodeLobby(bytes.data(), bytes.size(), back)) << round;
    EXPECT_EQ(back.items, feed.items);
    // And it took as many as it could: the rest starts a run that did not fit.
    if (n < items.size() && n < kMaxChunkItems) {
      EXPECT_GT(bytes.size() + 3, kMaxLobbyDatagram - 3) << round;
    }
  }
}

// A value just past what a field may hold is refused; the last one it may hold is not.
TEST(LobbyProtocol, EachFieldsBoundIsCheckedWhereItIsRead) {
  struct Case {
    LobbyType type;
    void (*set)(LobbyMessage&, bool past);
  };
  const Case cases[] = {
      {LobbyType::Introduce, [](LobbyMessage& m, bool past) { m.side = past ? 2 : 1; }},
      {LobbyType::Introduce, [](LobbyMessage& m, bool past) { m.relay = past ? 2 : 1; }},
      {LobbyType::Punch, [](LobbyMessage& m, bool past) { m.side = past ? 2 : 1; }},
      {LobbyType::Refusal, [](LobbyMessage& m, bool past) {
         m.reason = static_cast<LobbyRefusal>(past ? 9 : 8);
       }},
      {LobbyType::Refusal, [](LobbyMessage& m, bool past) { m.reason = static_cast<LobbyRefusal>(past ? 0 : 1); }},
      {LobbyType::Register, [](LobbyMessage& m, bool past) { m.version = past ? "1.0\x7f" : "1.0~"; }},
      {LobbyType::Join, [](LobbyMessage& m, bool past) { m.code = past ? "K7Q2MZ4O" : "K7Q2MZ4Z"; }},
      {LobbyType::WatchAck, [](LobbyMessage& m, bool past) { m.position = kMaxStreamItems + (past ? 1 : 0); }},
      {LobbyType::FeedAck, [](LobbyMessage& m, bool past) { m.position = kMaxStreamItems + (past ? 1 : 0); }},
      {LobbyType::WatchData, [](LobbyMessage& m, bool past) { m.live = past ? 2 : 0; }},
      {LobbyType::WatchData, [](LobbyMessage& m, bool past) { m.total = kMaxStreamItems + (past ? 1 : 0); }},
      {LobbyType::Feed, [](LobbyMessage& m, bool past) {
         m.position = static_cast<uint32_t>(kMaxStreamItems - m.items.size()) + (past ? 1 : 0);
       }},
      {LobbyType::Feed, [](LobbyMessage& m, bool past) { m.items.back() = past ? kStreamItemLimit : kStreamItemLimit - 1; }},
  };
  for (const Case& c : cases) {
    for (bool past : {false, true}) {
      LobbyMessage m = OneOfEach()[static_cast<size_t>(c.type) - 1];
      ASSERT_EQ(m.type, c.type);
      c.set(m, past);
      const std::vector<uint8_t> bytes = EncodeLobby(m);  // the writer does not check
      LobbyMessage out;
      EXPECT_EQ(DecodeLobby(bytes.data(), bytes.size(), out), !past) << int(c.type) << (past ? " past" : " last");
    }
  }
}
