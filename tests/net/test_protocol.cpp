// SPDX-License-Identifier: GPL-3.0-or-later
// The network messages: what is sent reads back the same, and what is not a whole,
// well-formed message is refused.
#include <gtest/gtest.h>

#include "net/protocol.h"
#include "net/wire.h"

using namespace net;

namespace {

Message SomeInputs(uint8_t count) {
  Message m;
  m.type = MessageType::Inputs;
  m.inputs.first = 123456;
  m.inputs.count = count;
  for (uint8_t i = 0; i < count; ++i) m.inputs.readings[i] = static_cast<uint8_t>(i % 6);
  m.inputs.ack = 123400;
  m.inputs.tick = 123458;
  m.inputs.advantage = -3;
  m.inputs.stamp = 65535;
  m.inputs.echo = 7;
  m.inputs.echoAge = 2;
  return m;
}

Message RoundTrip(const Message& m) {
  const std::vector<uint8_t> bytes = EncodeMessage(m);
  Message back;
  EXPECT_TRUE(DecodeMessage(bytes.data(), bytes.size(), back));
  return back;
}

}  // namespace

TEST(NetworkMessages, ControlReadingsReadBackAsSent) {
  for (uint8_t count : {0, 1, 2, 7, 64}) {
    const Message m = SomeInputs(count);
    const Message back = RoundTrip(m);
    ASSERT_EQ(back.type, MessageType::Inputs);
    EXPECT_EQ(back.inputs.first, m.inputs.first);
    ASSERT_EQ(back.inputs.count, count);
    for (uint8_t i = 0; i < count; ++i) EXPECT_EQ(back.inputs.readings[i], m.inputs.readings[i]);
    EXPECT_EQ(back.inputs.ack, m.inputs.ack);
    EXPECT_EQ(back.inputs.tick, m.inputs.tick);
    EXPECT_EQ(back.inputs.advantage, -3);
    EXPECT_EQ(back.inputs.stamp, 65535);
    EXPECT_EQ(back.inputs.echo, 7);
    EXPECT_EQ(back.inputs.echoAge, 2);
  }
}

TEST(NetworkMessages, AFramesReadingsFitInAFewDozenBytes) {
  // Two minutes into a game, with the few readings a frame repeats.
  EXPECT_LE(EncodeMessage(SomeInputs(4)).size(), 24u);
}

TEST(NetworkMessages, HelloAndSignalsReadBackAsSent) {
  Hello hello;
  hello.gameVersion = "1.0";
  hello.fingerprint = 0xfedcba9876543210ull;
  hello.seed = UINT64_MAX;
  const Message back = RoundTrip(MakeHello(hello));
  EXPECT_EQ(back.hello.gameVersion, "1.0");
  EXPECT_EQ(back.hello.fingerprint, hello.fingerprint);
  EXPECT_EQ(back.hello.seed, UINT64_MAX);
  EXPECT_EQ(back.hello.protocol, kProtocolVersion);

  EXPECT_EQ(RoundTrip(MakeChecksum(600, 0xdeadbeef)).value, 0xdeadbeefu);
  EXPECT_EQ(RoundTrip(MakeSignal(MessageType::Ready, 4)).value, 4u);
  EXPECT_EQ(RoundTrip(MakeSignal(MessageType::Pause, 1)).value, 1u);
  EXPECT_EQ(RoundTrip(MakeSignal(MessageType::Quit)).type, MessageType::Quit);
}

TEST(NetworkMessages, EveryCutOrLengthenedMessageIsRefused) {
  Hello hello;
  hello.gameVersion = "1.0";
  for (const Message& m : {SomeInputs(5), MakeHello(hello), MakeChecksum(60, 5),
                           MakeSignal(MessageType::Ready, 300)}) {
    std::vector<uint8_t> bytes = EncodeMessage(m);
    Message out;
    for (size_t n = 0; n < bytes.size(); ++n) EXPECT_FALSE(DecodeMessage(bytes.data(), n, out)) << n;
    bytes.push_back(0);
    EXPECT_FALSE(DecodeMessage(bytes.data(), bytes.size(), out));
  }
}

TEST(NetworkMessages, ClaimsBeyondTheirCapsAreRefused) {
  Message out;
  // 65 readings claimed.
  std::vector<uint8_t> bytes = EncodeMessage(SomeInputs(64));
  ASSERT_GT(bytes.size(), 5u);
  bytes[4] = 65;  // the count follows the type and a three-byte first tick
  EXPECT_FALSE(DecodeMessage(bytes.data(), bytes.size(), out));
  // A version text longer than its cap, or with a control character.
  Hello hello;
  hello.gameVersion = "1.0";
  bytes = EncodeMessage(MakeHello(hello));
  bytes[2] = 200;  // the length after type and protocol
  EXPECT_FALSE(DecodeMessage(bytes.data(), bytes.size(), out));
  bytes = EncodeMessage(MakeHello(hello));
  bytes[3] = '\n';
  EXPECT_FALSE(DecodeMessage(bytes.data(), bytes.size(), out));
  // A pause that is neither on nor off, a number in a longer form than needed, an
  // unknown type, an oversized datagram.
  const uint8_t pause[] = {static_cast<uint8_t>(MessageType::Pause), 2};
  EXPECT_FALSE(DecodeMessage(pause, sizeof pause, out));
  const uint8_t padded[] = {static_cast<uint8_t>(MessageType::Ready), 0x81, 0x00};
  EXPECT_FALSE(DecodeMessage(padded, sizeof padded, out));
  const uint8_t unknown[] = {99};
  EXPECT_FALSE(DecodeMessage(unknown, sizeof unknown, out));
  const uint8_t tooLong[] = {static_cast<uint8_t>(MessageType::Checksum), 0xff, 0xff, 0xff, 0xff, 0x1f, 0};
  EXPECT_FALSE(DecodeMessage(tooLong, sizeof tooLong, out));
  std::vector<uint8_t> huge(kMaxMessageBytes + 1, 0);
  huge[0] = static_cast<uint8_t>(MessageType::Quit);
  EXPECT_FALSE(DecodeMessage(huge.data(), huge.size(), out));
  EXPECT_FALSE(DecodeMessage(nullptr, 0, out));
}

TEST(Handshake, SameGameAndBuildMayPlay) {
  Hello mine;
  mine.gameVersion = "1.0";
  mine.fingerprint = 42;
  Hello theirs = mine;
  theirs.seed = 99;  // the seed is the host's to choose
  EXPECT_EQ(CompareHello(mine, theirs), "");
}

TEST(Handshake, AnotherVersionIsNamed) {
  Hello mine;
  mine.gameVersion = "1.0";
  Hello theirs = mine;
  theirs.gameVersion = "1.2";
  theirs.fingerprint = 7;
  EXPECT_EQ(CompareHello(mine, theirs), "The other player's game is version 1.2");
}

TEST(Handshake, AnotherBuildOrProtocolIsADifferentBuild) {
  Hello mine;
  mine.gameVersion = "1.0";
  mine.fingerprint = 1;
  Hello theirs = mine;
  theirs.fingerprint = 2;
  EXPECT_EQ(CompareHello(mine, theirs), "The other player's game is a different build");
  theirs = mine;
  theirs.protocol = kProtocolVersion + 1;
  EXPECT_EQ(CompareHello(mine, theirs), "The other player's game is a different build");
}

// The short text both protocols carry: up to its cap, printable ASCII only.
TEST(WireText, TextsUpToTheirCapOfPrintableCharactersOnly) {
  struct Case {
    std::string text;
    bool readsBack;
  };
  const Case cases[] = {
      {"", true}, {"1.0", true}, {" ~", true}, {std::string(16, 'x'), true},
      {"1.0\n", false}, {std::string("a\0b", 3), false}, {"\x7f", false}, {"caf\xc3\xa9", false},
  };
  for (const Case& c : cases) {
    Writer w;
    w.Text(c.text, 16);
    const std::vector<uint8_t> bytes = w.Take();
    Reader r(bytes.data(), bytes.size());
    std::string back;
    EXPECT_EQ(r.Text(back, 16), c.readsBack) << c.text;
    if (c.readsBack) {
      EXPECT_EQ(back, c.text);
    }
  }
  // Cut to the cap when written; a length past the cap, or past the end, is refused.
  Writer w;
  w.Text(std::string(20, 'y'), 16);
  std::vector<uint8_t> bytes = w.Take();
  EXPECT_EQ(bytes.size(), 17u);
  std::string back;
  Reader longer(bytes.data(), bytes.size());
  EXPECT_FALSE(longer.Text(back, 15));
  Reader cut(bytes.data(), bytes.size() - 1);
  EXPECT_FALSE(cut.Text(back, 16));
}
