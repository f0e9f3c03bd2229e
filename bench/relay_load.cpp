// SPDX-License-Identifier: GPL-3.0-or-later
// A load test of the lobby's relay on 127.0.0.1 (docs/performance.md): the service runs
// in this process on its own thread ("lobby"), PAIRS simulated pairs meet through it
// (register, keepalive, join, bind both sides), then each side sends RATE datagrams a
// second of a game's size to the other through the relay for SECONDS. Reported: the
// datagrams the relay lost, the added latency (99th percentile, against the same
// client loop sending straight to the peer), the lobby thread's CPU time and the
// process's resident memory. A datagram's latency runs from the moment before its
// send to the kernel's time of its arrival at the receiving socket (SO_TIMESTAMPNS):
// how long the one client thread, busy with 2,000 sockets, takes to read it is not
// the relay's.
//   relay_load [PAIRS [RATE [SECONDS]]]   (defaults 1000 60 60; at most 4000 pairs, 600 s)
#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "lobby.h"
#include "net/lobby_protocol.h"
#include "../tests/support/loopback_udp.h"

using namespace net;

namespace {

constexpr size_t kGameBytes = 48;  // a game's datagram through ENet, about
using Clock = std::chrono::steady_clock;

int64_t NowNs() { return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count(); }

// The clock of the kernel's arrival stamps (ns).
int64_t WallNs() {
  timespec t{};
  clock_gettime(CLOCK_REALTIME, &t);
  return static_cast<int64_t>(t.tv_sec) * 1000000000LL + t.tv_nsec;
}

// Reads one datagram into `buffer` with the kernel's time of its arrival (ns; 0 when
// the kernel gave none). Returns recv's count.
ssize_t ReceiveStamped(int fd, uint8_t* buffer, size_t size, int64_t& arrivalNs) {
  iovec part{buffer, size};
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(timespec))];
  msghdr message{};
  message.msg_iov = &part;
  message.msg_iovlen = 1;
  message.msg_control = control;
  message.msg_controllen = sizeof control;
  const ssize_t got = recvmsg(fd, &message, 0);
  arrivalNs = 0;
  for (cmsghdr* c = got > 0 ? CMSG_FIRSTHDR(&message) : nullptr; c != nullptr; c = CMSG_NXTHDR(&message, c)) {
    if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS) {
      timespec t;
      std::memcpy(&t, CMSG_DATA(c), sizeof t);
      arrivalNs = static_cast<int64_t>(t.tv_sec) * 1000000000LL + t.tv_nsec;
    }
  }
  return got;
}

struct End {
  int fd = -1;
  uint16_t port = 0;
  sockaddr_in to{};  // where its game datagrams go (the relay, or the peer straight)
  uint64_t sent = 0, received = 0;
  int64_t next = 0;  // ns
};

int OpenSocket(uint16_t& port) {
  const int fd = BindLoopbackUdp(port, SOCK_DGRAM | SOCK_NONBLOCK);
  int size = 1 << 20;
  setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
  const int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
  return fd;
}

sockaddr_in Loopback(uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(port);
  return a;
}

// Sends `m` from `fd` to the lobby until an answer of `want` comes (bounded tries).
bool Ask(int fd, uint16_t lobbyPort, const LobbyMessage& m, LobbyType want, LobbyMessage& answer) {
  const std::vector<uint8_t> bytes = EncodeLobby(m);
  const sockaddr_in lobby = Loopback(lobbyPort);
  for (int tries = 0; tries < 20; ++tries) {
    sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&lobby), sizeof lobby);
    for (int waits = 0; waits < 50; ++waits) {
      uint8_t buffer[256];
      const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
      if (n > 0 && DecodeLobby(buffer, static_cast<size_t>(n), answer) && answer.type == want) return true;
      if (n <= 0) std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  }
  return false;
}

// The id of this process's thread called `name` (0 when there is none).
pid_t ThreadNamed(const char* name) {
  DIR* dir = opendir("/proc/self/task");
  pid_t found = 0;
  for (dirent* e = dir ? readdir(dir) : nullptr; e != nullptr && found == 0; e = readdir(dir)) {
    std::ifstream comm(std::string("/proc/self/task/") + e->d_name + "/comm");
    std::string n;
    std::getline(comm, n);
    if (n == name) found = static_cast<pid_t>(std::atoi(e->d_name));
  }
  if (dir) closedir(dir);
  return found;
}

double CpuSecondsOf(pid_t thread) {
  std::ifstream stat("/proc/self/task/" + std::to_string(thread) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  const size_t close = text.rfind(')');
  if (close == std::string::npos) return 0;
  std::vector<std::string> fields;
  std::string field;
  for (size_t i = close + 2; i <= text.size(); ++i) {
    if (i == text.size() || text[i] == ' ') {
      fields.push_back(field);
      field.clear();
    } else {
      field.push_back(text[i]);
    }
  }
  if (fields.size() < 13) return 0;
  // utime and stime: fields 14 and 15 of stat, 12 and 13 after the name.
  return (std::atof(fields[11].c_str()) + std::atof(fields[12].c_str())) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// Runs `thread` (0: the calling one) on processor `cpu` alone.
bool Pin(pid_t thread, int cpu) {
  cpu_set_t set;
  CPU_ZERO(&set);
  CPU_SET(cpu, &set);
  return sched_setaffinity(thread, sizeof set, &set) == 0;
}

long ResidentKb() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  }
  return 0;
}

struct Figures {
  uint64_t sent = 0, received = 0;
  std::vector<int64_t> latencyNs;
};

// Every end sends `rate` datagrams a second to its `to` for `seconds`; then a moment to drain.
Figures Run(std::vector<End>& ends, int rate, int seconds) {
  const int epoll = epoll_create1(0);
  for (size_t i = 0; i < ends.size(); ++i) {
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.u64 = i;
    epoll_ctl(epoll, EPOLL_CTL_ADD, ends[i].fd, &ev);
  }
  const int64_t period = 1000000000LL / rate;
  const int64_t start = NowNs();
  for (size_t i = 0; i < ends.size(); ++i) ends[i].next = start + static_cast<int64_t>(i) * period / static_cast<int64_t>(ends.size());
  const int64_t stopSending = start + seconds * 1000000000LL;
  const int64_t stopAll = stopSending + 500000000LL;
  Figures f;
  f.latencyNs.reserve(ends.size() * static_cast<size_t>(rate * seconds));
  uint8_t payload[kGameBytes] = {0x80};
  std::vector<epoll_event> ready(512);
  for (int64_t now = NowNs(); now < stopAll; now = NowNs()) {
    if (now < stopSending) {
      for (End& e : ends) {
        if (e.next > now) continue;
        e.next += period;
        const int64_t stamp = WallNs();
        std::memcpy(payload + 8, &stamp, sizeof stamp);
        if (sendto(e.fd, payload, sizeof payload, 0, reinterpret_cast<sockaddr*>(&e.to), sizeof e.to) > 0) {
          ++e.sent;
          ++f.sent;
        }
      }
    }
    const int n = epoll_wait(epoll, ready.data(), static_cast<int>(ready.size()), 1);
    for (int i = 0; i < n; ++i) {
      End& e = ends[ready[static_cast<size_t>(i)].data.u64];
      uint8_t buffer[256];
      for (int reads = 0; reads < 64; ++reads) {
        int64_t arrival = 0;
        const ssize_t got = ReceiveStamped(e.fd, buffer, sizeof buffer, arrival);
        if (got <= 0) break;
        if (static_cast<size_t>(got) != kGameBytes || buffer[0] != 0x80) continue;  // a lobby answer
        int64_t stamp;
        std::memcpy(&stamp, buffer + 8, sizeof stamp);
        f.latencyNs.push_back((arrival != 0 ? arrival : WallNs()) - stamp);
        ++e.received;
        ++f.received;
      }
    }
  }
  close(epoll);
  return f;
}

int64_t Percentile(std::vector<int64_t> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, static_cast<size_t>(p * static_cast<double>(v.size())))];
}

}  // namespace

int main(int argc, char** argv) {
  const int pairs = std::clamp(argc > 1 ? std::atoi(argv[1]) : 1000, 1, 4000);
  const int rate = std::clamp(argc > 2 ? std::atoi(argv[2]) : 60, 1, 120);
  const int seconds = std::clamp(argc > 3 ? std::atoi(argv[3]) : 60, 1, 600);
  ServerOptions options;
  options.listen = "127.0.0.1";
  uint16_t lobbyPort = 0;
  lobbyPort = FreeUdpPort();
  options.lobbyPort = lobbyPort;
  LobbyLimits limits;
  limits.requestBurst = 1e9;  // every simulated client shares 127.0.0.1
  const long rssBefore = ResidentKb();
  std::unique_ptr<Service> service = MakeLobbyService(options, limits);
  std::string error;
  if (!service->Start(error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  // Pairs meet.
  std::vector<End> relayed(2 * static_cast<size_t>(pairs)), direct(2 * static_cast<size_t>(pairs));
  for (int p = 0; p < pairs; ++p) {
    End& host = relayed[2 * static_cast<size_t>(p)];
    End& joiner = relayed[2 * static_cast<size_t>(p) + 1];
    host.fd = OpenSocket(host.port);
    joiner.fd = OpenSocket(joiner.port);
    LobbyMessage m, answer, intro;
    m.type = LobbyType::Register;
    m.nonce = static_cast<uint64_t>(p) + 1;
    m.version = "load";
    if (!Ask(host.fd, lobbyPort, m, LobbyType::Registered, answer)) return std::fprintf(stderr, "no code for pair %d\n", p), 1;
    LobbyMessage keep;
    keep.type = LobbyType::Keepalive;
    keep.code = answer.code;
    keep.token = answer.token;
    LobbyMessage ignored;
    Ask(host.fd, lobbyPort, keep, LobbyType::Registered, ignored);
    m.type = LobbyType::Join;
    m.code = answer.code;
    if (!Ask(joiner.fd, lobbyPort, m, LobbyType::Introduce, intro)) return std::fprintf(stderr, "no join for pair %d\n", p), 1;
    for (int side = 0; side < 2; ++side) {
      LobbyMessage bind;
      bind.type = LobbyType::RelayBind;
      bind.token = intro.token;
      bind.side = static_cast<uint8_t>(side);
      if (!Ask(side == 0 ? host.fd : joiner.fd, lobbyPort, bind, LobbyType::RelayBound, ignored)) {
        return std::fprintf(stderr, "no relay for pair %d\n", p), 1;
      }
    }
    host.to = joiner.to = Loopback(lobbyPort);
    // The same pair without the relay: the baseline.
    End& h2 = direct[2 * static_cast<size_t>(p)];
    End& j2 = direct[2 * static_cast<size_t>(p) + 1];
    h2.fd = OpenSocket(h2.port);
    j2.fd = OpenSocket(j2.port);
    h2.to = Loopback(j2.port);
    j2.to = Loopback(h2.port);
  }
  const long rssPairs = ResidentKb();
  std::printf("%d pairs met through the lobby; %d datagrams a second each way, %d s\n", pairs, rate, seconds);
  // The lobby on a core of its own, the simulated clients on another.
  const pid_t lobbyThread = ThreadNamed("lobby");
  const bool pinned = std::thread::hardware_concurrency() >= 2 && Pin(lobbyThread, 0) && Pin(0, 1);
  std::printf("lobby thread %s\n", pinned ? "on processor 0, the clients on processor 1" : "not pinned");
  const Figures base = Run(direct, rate, std::min(seconds, 10));
  const double cpuBefore = CpuSecondsOf(lobbyThread);
  const pid_t clientThread = static_cast<pid_t>(gettid());
  const double clientCpuBefore = CpuSecondsOf(clientThread);
  const int64_t wallStart = NowNs();
  const Figures relay = Run(relayed, rate, seconds);
  const double wall = static_cast<double>(NowNs() - wallStart) / 1e9;
  const double cpu = CpuSecondsOf(lobbyThread) - cpuBefore;
  const double clientCpu = CpuSecondsOf(clientThread) - clientCpuBefore;
  const long rssAfter = ResidentKb();
  service->Stop();
  const double lost = relay.sent > 0 ? 100.0 * static_cast<double>(relay.sent - relay.received) / static_cast<double>(relay.sent) : 0;
  std::printf("direct baseline: %llu sent, %llu received, p50 %.3f ms, p99 %.3f ms\n",
              static_cast<unsigned long long>(base.sent), static_cast<unsigned long long>(base.received),
              Percentile(base.latencyNs, 0.5) / 1e6, Percentile(base.latencyNs, 0.99) / 1e6);
  std::printf("through the relay: %llu sent, %llu received (%.4f %% lost), p50 %.3f ms, p99 %.3f ms\n",
              static_cast<unsigned long long>(relay.sent), static_cast<unsigned long long>(relay.received), lost,
              Percentile(relay.latencyNs, 0.5) / 1e6, Percentile(relay.latencyNs, 0.99) / 1e6);
  std::printf("added by the relay: p99 %.3f ms\n",
              (Percentile(relay.latencyNs, 0.99) - Percentile(base.latencyNs, 0.99)) / 1e6);
  std::printf("lobby thread: %.1f s of CPU in %.1f s (%.0f %% of one core); resident memory %ld kB before, "
              "%ld kB with the pairs, %ld kB after the run\n",
              cpu, wall, 100.0 * cpu / wall, rssBefore, rssPairs, rssAfter);
  std::printf("the simulated clients' one thread: %.0f %% of one core\n", 100.0 * clientCpu / wall);
  for (End& e : relayed) close(e.fd);
  for (End& e : direct) close(e.fd);
  return 0;
}
