// SPDX-License-Identifier: GPL-3.0-or-later
#include "lobby.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "lobby_tables.h"
#include "log.h"

static_assert(kDefaultLobbyPort == net::kDefaultLobbyPort, "the game and the server name one lobby port");

namespace {

constexpr size_t kMaxDatagram = 1500;   // bytes read of one datagram (longer ones are cut and refused)
constexpr int kBatch = 64;              // datagrams read in one go
constexpr uint64_t kExpireEveryMs = 1000;
constexpr int kSocketBufferBytes = 4 << 20;
constexpr uint64_t kCountsEveryMs = 60000;  // the log's minute line

uint64_t NowMs() {
  using namespace std::chrono;
  return static_cast<uint64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

uint64_t StrongRandom() {
  uint64_t n = 0;
  while (getrandom(&n, sizeof n, 0) != static_cast<ssize_t>(sizeof n)) {
  }
  return n;
}

class LobbyService : public Service {
 public:
  LobbyService(const ServerOptions& options, const LobbyLimits& limits)
      : options_(options), lobby_(limits, StrongRandom) {}
  ~LobbyService() override { Stop(); }
  const char* Name() const override { return "lobby"; }

  bool Start(std::string& error) override {
    fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd_ < 0) {
      error = std::string("no UDP socket: ") + std::strerror(errno);
      return false;
    }
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(options_.lobbyPort);
    if (inet_pton(AF_INET, options_.listen.c_str(), &at.sin_addr) != 1) {
      error = "the lobby listens on IPv4 only, not " + options_.listen;
      return false;
    }
    if (bind(fd_, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0) {
      error = "UDP port " + std::to_string(options_.lobbyPort) + ": " + std::strerror(errno);
      return false;
    }
    // Room for a burst of relayed datagrams while the thread is not running (the
    // system caps it at net.core.rmem_max).
    const int buffer = kSocketBufferBytes;
    setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
    setsockopt(fd_, SOL_SOCKET, SO_SNDBUF, &buffer, sizeof buffer);
    ServerLog("Lobby and relay on UDP ", options_.listen, ":", options_.lobbyPort);
    thread_ = std::thread([this] {
      pthread_setname_np(pthread_self(), "lobby");  // so top and the load test find it
      Run();
    });
    return true;
  }

  void Stop() override {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }

 private:
  void Run() {
    uint64_t nextExpire = NowMs() + kExpireEveryMs;
    uint64_t nextCounts = NowMs() + kCountsEveryMs;
    uint64_t nextPulse = NowMs() + Lobby::kPulseMs;
    std::vector<LobbyOutgoing> out;
    std::vector<std::array<uint8_t, kMaxDatagram>> buffers(kBatch);
    mmsghdr messages[kBatch];
    iovec vectors[kBatch];
    sockaddr_in from[kBatch];
    while (!stop_) {
      pollfd p{fd_, POLLIN, 0};
      poll(&p, 1, static_cast<int>(Lobby::kPulseMs));
      for (int rounds = 0; rounds < 16; ++rounds) {  // then look at the clock again
        std::memset(messages, 0, sizeof messages);
        for (int i = 0; i < kBatch; ++i) {
          vectors[i] = {buffers[i].data(), kMaxDatagram};
          messages[i].msg_hdr.msg_iov = &vectors[i];
          messages[i].msg_hdr.msg_iovlen = 1;
          messages[i].msg_hdr.msg_name = &from[i];
          messages[i].msg_hdr.msg_namelen = sizeof from[i];
        }
        const int got = recvmmsg(fd_, messages, kBatch, MSG_DONTWAIT, nullptr);
        if (got <= 0) break;
        const uint64_t now = NowMs();
        for (int i = 0; i < got; ++i) {
          if (from[i].sin_family != AF_INET || (messages[i].msg_hdr.msg_flags & MSG_TRUNC) != 0) continue;
          const net::Endpoint sender{ntohl(from[i].sin_addr.s_addr), ntohs(from[i].sin_port)};
          out.clear();
          lobby_.Handle(buffers[i].data(), messages[i].msg_len, sender, now, out);
          SendAll(out, buffers[i].data(), messages[i].msg_len);
        }
        if (got < kBatch) break;
      }
      const uint64_t now = NowMs();
      if (now >= nextPulse) {
        out.clear();
        lobby_.Pulse(now, out);
        SendAll(out, nullptr, 0);
        nextPulse = now + Lobby::kPulseMs;
      }
      if (now >= nextExpire) {
        lobby_.Expire(now);
        nextExpire = now + kExpireEveryMs;
      }
      for (const std::string& line : lobby_.TakeEvents()) ServerLog("Lobby: ", line);
      if (now >= nextCounts) {
        const LobbyCounts& c = lobby_.Counts();
        ServerLog("Lobby: ", lobby_.Games(), " codes, ", lobby_.Pairs(), " relay pairs; ", c.datagrams,
                  " datagrams, ", c.registered, " registered, ", c.joined, " joined, ", c.refused, " refused, ",
                  c.undecodable, " undecodable, ", c.relayed, " relayed, ", c.relayDropped, " not relayed; ",
                  lobby_.Streams(), " streams, ", lobby_.Watchers(), " spectators, ", c.watchSent,
                  " stream datagrams sent, ", c.watchDropped, " held back");
        nextCounts = now + kCountsEveryMs;
      }
    }
  }

  // `out` from the socket; a forward is the datagram `received` (`size` bytes).
  void SendAll(const std::vector<LobbyOutgoing>& out, const uint8_t* received, size_t size) {
    for (const LobbyOutgoing& o : out) {
      sockaddr_in to{};
      to.sin_family = AF_INET;
      to.sin_addr.s_addr = htonl(o.to.ip);
      to.sin_port = htons(o.to.port);
      const uint8_t* data = o.forward ? received : o.bytes.data();
      const size_t length = o.forward ? size : o.bytes.size();
      if (data != nullptr) sendto(fd_, data, length, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&to), sizeof to);
    }
  }

  ServerOptions options_;
  Lobby lobby_;
  int fd_ = -1;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace

std::unique_ptr<Service> MakeLobbyService(const ServerOptions& options, const LobbyLimits& limits) {
  return std::make_unique<LobbyService>(options, limits);
}
