// SPDX-License-Identifier: GPL-3.0-or-later
// libFuzzer target for the network decoder: any datagram must decode without a crash or
// undefined behaviour; what decodes is the one canonical encoding of its message; and a
// rollback session fed the decoded messages keeps its bounds.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "net/protocol.h"
#include "net/session.h"

namespace {

void Check(bool holds) {
  if (!holds) std::abort();
}

// A one-byte game that carries out what the session asks.
struct TinyGame {
  void CarryOut(net::Session& session) {
    while (Request* r = session.Next()) {
      if (r->kind == Request::Kind::Save) {
        if (r->checksum) r->cell->checksum = state; else r->cell->bytes.assign(1, state);
      } else if (r->kind == Request::Kind::Load) {
        state = r->cell->bytes.at(0);
      } else {
        Check(r->readings[0] <= net::kMaxReading && r->readings[1] <= net::kMaxReading);
        state = static_cast<uint8_t>(state * 3 + r->readings[0] + r->readings[1]);
      }
    }
  }
  uint8_t state = 0;
};

class Nowhere : public net::Outbox {
 public:
  void Send(const net::Message& m, bool) override {
    Check(net::EncodeMessage(m).size() <= net::kMaxMessageBytes);
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The input is one datagram, or several: each byte pair of a 0xff 0x00 marker splits.
  TinyGame game;
  Nowhere out;
  net::Session session(out, 1, 2);
  size_t start = 0;
  for (size_t i = 0; i <= size; ++i) {
    const bool cut = i == size || (i + 1 < size && data[i] == 0xff && data[i + 1] == 0x00);
    if (!cut) continue;
    net::Message m;
    if (net::DecodeMessage(data + start, i - start, m)) {
      const std::vector<uint8_t> again = net::EncodeMessage(m);
      Check(again.size() == i - start);
      for (size_t k = 0; k < again.size(); ++k) Check(again[k] == data[start + k]);
      session.Receive(m);
      session.BeginFrame(static_cast<uint8_t>(i % 6), false);
      game.CarryOut(session);
      Check(session.ConfirmedTick() <= session.Tick());
    }
    start = i + 2;
  }
  return 0;
}
