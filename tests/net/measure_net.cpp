// SPDX-License-Identifier: GPL-3.0-or-later
// Measures rollback play over the simulated network: ticks run again per frame, frames
// that waited, bytes per second each way and the slowest frame, at a few round trips
// with 2 % loss, playing the game's own simulation (or, with NANASPLAT_TOY_GAME set, the
// toy game of the session tests). Usage: measure_net [MATCHES] [INPUT_DELAY ...]
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "sim_match.h"
#include "simnet.h"

int main(int argc, char** argv) {
  const int matches = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
  std::vector<int> delays;
  for (int i = 2; i < argc; ++i) delays.push_back(std::atoi(argv[i]));
  if (delays.empty()) delays.push_back(net::kDefaultInputDelay);
  std::printf("%6s %5s %9s %5s %5s %16s %8s %14s %14s %10s\n", "rtt_ms", "delay", "rerun_mean",
              "p99", "worst", "waited/frames", "skipped", "payload_B/s", "wire_B/s", "worst_ms");
  for (int rtt : {50, 100, 200}) {
    for (int delay : delays) {
      std::vector<int> reruns;
      uint64_t frames = 0, waited = 0, skipped = 0, bytes = 0, datagrams = 0;
      double seconds = 0, worst = 0;
      for (int i = 0; i < matches; ++i) {
        simnet::MatchConfig config;
        config.seed = 500 + static_cast<uint64_t>(i);
        config.link.delayMs = rtt / 2;
        config.link.jitterMs = rtt / 10;
        config.link.loss = 0.02;
        // A game starts when the second player's key on the first level screen reaches
        // the other computer: one side begins a one-way trip after the other.
        config.startGapMs = rtt / 2;
        config.inputDelay[0] = config.inputDelay[1] = delay;
        config.timeFrames = true;
        const bool toy = std::getenv("NANASPLAT_TOY_GAME") != nullptr;
        config.makeGame = [i, toy](int) {
          return toy ? simnet::MakeToyGame(static_cast<uint64_t>(i) + 1)
                     : simnet::MakeSimulationGame(static_cast<uint64_t>(i) + 1);
        };
        const simnet::MatchResult m = simnet::RunMatch(config);
        if (!m.finished || m.side[0].outOfStep || m.side[0].finalState != m.side[1].finalState) {
          std::fprintf(stderr, "match %d went wrong\n", i);
          return 1;
        }
        for (const simnet::SideResult& s : m.side) {
          reruns.insert(reruns.end(), s.rerunPerFrame.begin(), s.rerunPerFrame.end());
          frames += s.frames;
          waited += s.waitedFrames;
          skipped += s.skippedFrames;
          bytes += s.bytesSent;
          datagrams += s.datagramsSent;
          worst = std::max(worst, s.worstFrameMs);
        }
        seconds += 2 * m.seconds;  // both sides' time
      }
      std::sort(reruns.begin(), reruns.end());
      double sum = 0;
      for (int r : reruns) sum += r;
      const double mean = reruns.empty() ? 0 : sum / reruns.size();
      const int p99 = reruns.empty() ? 0 : reruns[reruns.size() * 99 / 100];
      const int most = reruns.empty() ? 0 : reruns.back();
      const double payload = bytes / seconds;
      const double wire = (bytes + datagrams * (simnet::kEnetOverhead + simnet::kUdpIpOverhead)) / seconds;
      char waitedText[32];
      std::snprintf(waitedText, sizeof waitedText, "%llu/%llu", static_cast<unsigned long long>(waited),
                    static_cast<unsigned long long>(frames));
      std::printf("%6d %5d %9.2f %5d %5d %16s %8llu %14.0f %14.0f %10.3f\n", rtt, delay, mean, p99, most,
                  waitedText, static_cast<unsigned long long>(skipped), payload, wire, worst);
    }
  }
  return 0;
}
