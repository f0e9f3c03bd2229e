// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/game_feed.h"

#include <thread>

namespace net {

GameFeed::GameFeed(Connection& connection, const Endpoint& lobby, std::string code, uint64_t secret)
    : connection_(connection), lobby_(lobby) {
  feed_.type = LobbyType::Feed;
  feed_.code = std::move(code);
  feed_.token = secret;
  connection_.SetRawListener(this);
}

GameFeed::~GameFeed() { connection_.SetRawListener(nullptr); }

void StreamBuilder::Push(uint8_t item) {
  if (items_.size() < kMaxStreamItems && (items_.empty() || items_.back() < kStreamEnd)) items_.push_back(item);
}

void StreamBuilder::Tick(uint32_t p1Code, uint32_t p2Code) {
  Push(TickItem(p1Code, p2Code));
  ++ticks_;
  while (!screens_.empty() && screens_.front() <= ticks_) {
    Push(kStreamScreen);
    screens_.erase(screens_.begin());
  }
}

void StreamBuilder::LevelScreen(uint64_t afterTicks) {
  if (afterTicks <= ticks_ && screens_.empty()) {
    Push(kStreamScreen);
  } else {
    screens_.push_back(afterTicks);
  }
}

void StreamBuilder::End(StreamEnd how) {
  for (size_t i = 0; i < screens_.size(); ++i) Push(kStreamScreen);
  screens_.clear();
  Push(static_cast<uint8_t>(kStreamEnd + static_cast<uint8_t>(how)));
}

void GameFeed::BeginGame(uint16_t game, uint64_t seed, uint8_t math) {
  begun_ = true;
  feed_.game = game;
  feed_.seed = seed;
  feed_.math = math;
  stream_ = StreamBuilder{};
  acked_ = 0;
  sentOnce_ = false;
}

void GameFeed::Send(uint32_t nowMs) {
  LobbyMessage m = feed_;
  m.position = acked_;
  const size_t room = kMaxLobbyDatagram - StreamHeaderBytes(LobbyType::Feed);
  const std::vector<uint8_t>& items = stream_.Items();
  const size_t count = StreamItemsThatFit(items.data() + acked_, items.size() - acked_, room);
  m.items.assign(items.begin() + acked_, items.begin() + acked_ + static_cast<std::ptrdiff_t>(count));
  if (const size_t sent = connection_.SendLobby(lobby_, m)) {
    bytesSent_ += sent;
    ++datagrams_;
  }
  sentOnce_ = true;
  lastSentMs_ = nowMs;
}

void GameFeed::Service(uint32_t nowMs) {
  if (!begun_ || refused_) return;
  if (!heard_ && datagrams_ >= static_cast<uint64_t>(kFeedTriesUnheard)) {
    refused_ = true;  // a game the lobby did not bring together: nothing to feed
    return;
  }
  nowMs_ = nowMs;
  if (!sentOnce_) lastHeardMs_ = nowMs;
  const bool silent = nowMs - lastHeardMs_ > kFeedSilentMs;  // the lobby is gone: ask less often
  const uint32_t every = AllAcknowledged() || silent ? kFeedIdleMs : kFeedEveryMs;
  if (sentOnce_ && nowMs - lastSentMs_ < every) return;
  Send(nowMs);
}

void GameFeed::Finish() {
  const uint32_t start = SteadyMs();
  while (begun_ && !refused_ && !AllAcknowledged() && SteadyMs() - start < kFeedFinishMs) {
    std::vector<NetEvent> ignored;
    connection_.Service(ignored);
    Service(SteadyMs());
    connection_.Flush();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

void GameFeed::OnRaw(const uint8_t* data, size_t size, const Endpoint& from) {
  LobbyMessage m;
  if (from != lobby_ || !DecodeLobby(data, size, m)) return;
  if (m.type == LobbyType::FeedAck && m.game == feed_.game && m.position <= stream_.Items().size()) {
    heard_ = true;
    lastHeardMs_ = nowMs_;
    if (m.position > acked_) acked_ = m.position;
    watchers_ = m.watchers;
  } else if (m.type == LobbyType::Refusal && m.nonce == 0 && m.reason == LobbyRefusal::Busy) {
    refused_ = true;
  }
}

}  // namespace net
