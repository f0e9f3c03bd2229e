// Measures rollback play over the simulated network: ticks run again per frame, frames
// that waited, bytes per second each way and the slowest frame, at a few round trips
// with 2 % loss. Usage: measure_net [MATCHES] [INPUT_DELAY ...]
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "simnet.h"

int main(int argc, char** argv) {
  const int matches = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
  std::vector<int> delays;
  for (int i = 2; i < argc; ++i) delays.push_back(std::atoi(argv[i]));
  if (delays.empty()) delays.push_back(net::kDefaultInputDelay);
  std::printf("%6s %5s %9s %5s %5s %12s %12s %14s %14s %10s\n", "rtt_ms", "delay", "rerun_mean",
              "p99", "worst", "waited_frac", "skipped_frac", "payload_B/s", "wire_B/s", "worst_ms");
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
        config.startGapMs = i * 7 % 100;
        config.inputDelay[0] = config.inputDelay[1] = delay;
        config.timeFrames = true;
        config.makeGame = [i](int) { return simnet::MakeToyGame(static_cast<uint64_t>(i) + 1); };
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
      std::printf("%6d %5d %9.2f %5d %5d %12.4f %12.4f %14.0f %14.0f %10.3f\n", rtt, delay, mean, p99,
                  most, static_cast<double>(waited) / frames, static_cast<double>(skipped) / frames,
                  payload, wire, worst);
    }
  }
  return 0;
}
