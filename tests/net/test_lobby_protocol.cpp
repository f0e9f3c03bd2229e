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
  for (int t = 1; t <= 9; ++t) {
    m.type = static_cast<LobbyType>(t);
    all.push_back(m);
  }
  return all;
}

}  // namespace

TEST(LobbyProtocol, EveryDatagramComesBackAsSentAndAnswersAreNeverLonger) {
  for (const LobbyMessage& m : OneOfEach()) {
    const std::vector<uint8_t> bytes = EncodeLobby(m);
    if (IsLobbyRequest(m.type)) {
      EXPECT_EQ(bytes.size(), kLobbyRequestBytes) << int(m.type);
    } else {
      EXPECT_LT(bytes.size(), kLobbyRequestBytes) << int(m.type);
    }
    LobbyMessage back;
    ASSERT_TRUE(DecodeLobby(bytes.data(), bytes.size(), back)) << int(m.type);
    EXPECT_EQ(EncodeLobby(back), bytes) << int(m.type);
    EXPECT_EQ(back.type, m.type);
  }
}

TEST(LobbyProtocol, AnyByteTooManyTooFewOrOutOfRangeIsRefused) {
  for (const LobbyMessage& m : OneOfEach()) {
    const std::vector<uint8_t> bytes = EncodeLobby(m);
    LobbyMessage out;
    for (size_t n = 0; n < bytes.size(); ++n) EXPECT_FALSE(DecodeLobby(bytes.data(), n, out)) << int(m.type) << " " << n;
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
  const uint8_t unknown[] = {'N', 'S', 'L', '1', 10, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_FALSE(DecodeLobby(unknown, sizeof unknown, out));
  EXPECT_FALSE(DecodeLobby(nullptr, 0, out));
}

TEST(LobbyProtocol, RandomBytesNeverDecodeUnlessTheyReEncodeTheSame) {
  std::mt19937_64 random(5);
  for (int i = 0; i < 200000; ++i) {
    std::vector<uint8_t> bytes(4 + random() % 64);
    for (uint8_t& b : bytes) b = static_cast<uint8_t>(random());
    bytes[0] = 'N', bytes[1] = 'S', bytes[2] = 'L', bytes[3] = '1';
    if (bytes.size() > 4) bytes[4] = static_cast<uint8_t>(1 + random() % 9);
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
