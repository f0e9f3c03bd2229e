// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/watch_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "net/lobby_client.h"

namespace net {
namespace {

constexpr int kMaxDatagramsPerService = 256;  // read in one call, at most

}  // namespace

std::unique_ptr<WatchClient> WatchClient::Open(const Endpoint& lobby, const std::string& code, const Hello& mine,
                                               std::string& error) {
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) {
    error = std::string("no UDP socket: ") + std::strerror(errno);
    return nullptr;
  }
  return std::unique_ptr<WatchClient>(new WatchClient(fd, lobby, code, mine));
}

WatchClient::WatchClient(int fd, const Endpoint& lobby, const std::string& code, const Hello& mine)
    : fd_(fd), lobby_(lobby), request_(LobbyRequest(LobbyType::Watch, code, mine)) {}

WatchClient::~WatchClient() { close(fd_); }

void WatchClient::Send(const LobbyMessage& m, uint32_t nowMs) {
  const std::vector<uint8_t> bytes = EncodeLobby(m);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = htonl(lobby_.ip);
  to.sin_port = htons(lobby_.port);
  if (sendto(fd_, bytes.data(), bytes.size(), MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&to), sizeof to) > 0) {
    bytesSent_ += bytes.size();
  }
  sentOnce_ = true;
  lastSentMs_ = nowMs;
}

void WatchClient::Fail(const std::string& text) {
  state_ = State::Over;
  stream_.over = true;
  stream_.failure = text;
}

void WatchClient::TakeData(const LobbyMessage& m, uint32_t nowMs) {
  WatchedStream& s = stream_;
  if (!s.header) {
    s.header = true;
    s.game = m.game;
    s.seed = m.seed;
    s.math = m.math;
    s.catchUpTo = m.total;
  }
  if (m.game != s.game) {
    // The players began their next game: the one watched is over, whatever is missing.
    if (m.game > s.game && !s.over) {
      s.over = true;
      if (s.items.empty() || s.items.back() < kStreamEnd) s.failure = "The players' game went on without its end.";
    }
    return;
  }
  if (m.live != 0) lastLiveMs_ = nowMs;
  if (m.position > s.items.size()) return;  // a gap: the lobby sends it again
  const size_t skip = s.items.size() - m.position;
  for (size_t i = skip; i < m.items.size() && (s.items.empty() || s.items.back() < kStreamEnd); ++i) {
    s.items.push_back(m.items[i]);
    s.arrivedMs.push_back(nowMs);
    unacked_ = true;
  }
}

void WatchClient::Hear(const LobbyMessage& m, uint32_t nowMs) {
  switch (m.type) {
    case LobbyType::Watching:
      if (state_ != State::Asking || m.nonce != request_.nonce) return;
      ack_.type = LobbyType::WatchAck;
      ack_.code = request_.code;
      ack_.token = m.token;
      state_ = State::Watching;
      lastLiveMs_ = nowMs;
      sentOnce_ = false;  // the first acknowledgement goes now: it proves this address
      break;
    case LobbyType::WatchData:
      if (state_ == State::Watching) TakeData(m, nowMs);
      break;
    case LobbyType::Refusal:
      if (state_ != State::Asking || m.nonce != request_.nonce) return;
      if (m.reason == LobbyRefusal::NotStarted && notStarted_ < kNotStartedTries) {
        ++notStarted_;
        tries_ = 0;
        return;
      }
      Fail(m.reason == LobbyRefusal::WrongVersion ? "The players' game is version " + m.version : LobbyRefusalText(m));
      break;
    default:
      break;
  }
}

void WatchClient::Service(uint32_t nowMs) {
  for (int i = 0; i < kMaxDatagramsPerService; ++i) {
    uint8_t buffer[kMaxLobbyDatagram + 1];
    sockaddr_in from{};
    socklen_t length = sizeof from;
    const ssize_t got = recvfrom(fd_, buffer, sizeof buffer, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from), &length);
    if (got < 0) break;
    const Endpoint sender{ntohl(from.sin_addr.s_addr), ntohs(from.sin_port)};
    LobbyMessage m;
    if (sender != lobby_ || !DecodeLobby(buffer, static_cast<size_t>(got), m)) continue;
    bytesReceived_ += static_cast<uint64_t>(got);
    lastHeardMs_ = nowMs;
    Hear(m, nowMs);
  }
  switch (state_) {
    case State::Asking: {
      const uint32_t every = notStarted_ > 0 ? kNotStartedEveryMs : kLobbyResendMs;
      if (sentOnce_ && nowMs - lastSentMs_ < every) break;
      if (tries_ >= kLobbyTries) {
        Fail("The lobby does not answer.");
        break;
      }
      ++tries_;
      Send(request_, nowMs);
      break;
    }
    case State::Watching: {
      if (nowMs - lastHeardMs_ > kWatchSilenceMs) {
        Fail("The lobby stopped sending the game.");
        break;
      }
      const bool ended = !stream_.items.empty() && stream_.items.back() >= kStreamEnd;
      if (!ended && nowMs - lastLiveMs_ > kWatchSilenceMs) {
        Fail("The players' game stopped sending.");
        break;
      }
      const uint32_t since = nowMs - lastSentMs_;
      if (sentOnce_ && since < kWatchAckEveryMs && !(unacked_ && since >= kWatchAckSoonMs)) break;
      ack_.game = stream_.game;
      ack_.position = static_cast<uint32_t>(stream_.items.size());
      Send(ack_, nowMs);
      unacked_ = false;
      break;
    }
    case State::Over:
      break;
  }
}

}  // namespace net
