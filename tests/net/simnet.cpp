// SPDX-License-Identifier: GPL-3.0-or-later
#include "simnet.h"

#include <algorithm>
#include <cstring>
#include <ctime>

namespace simnet {
namespace {

// --- The toy game -------------------------------------------------------------

constexpr int kToyFlies = 8;
constexpr int kToyWidth = 1000;          // positions 0..999
constexpr int32_t kToyLevelTime = 7200;  // ticks: two minutes
constexpr int kToyLevels = 4;

struct ToyState {
  uint32_t tick;
  uint64_t random;  // the game's own generator (xorshift)
  int32_t level;
  int32_t timeLeft;
  int32_t x[2], v[2];
  int32_t kills[2];
  int32_t levelKills;
  int32_t fly[kToyFlies];
};

class ToyGame : public MatchGame {
 public:
  ToyGame(uint64_t seed, int glitchTick) : glitchTick_(glitchTick) {
    std::memset(&s_, 0, sizeof s_);
    s_.random = seed | 1;
    s_.level = 1;
    s_.x[0] = 250;
    s_.x[1] = 750;
    StartLevel();
  }
  void SaveState(std::vector<uint8_t>& into) override {
    into.resize(sizeof s_);
    std::memcpy(into.data(), &s_, sizeof s_);
  }
  void LoadState(const std::vector<uint8_t>& from) override {
    if (from.size() == sizeof s_) std::memcpy(&s_, from.data(), sizeof s_);
  }
  void AdvanceTick(const std::array<uint8_t, 2>& readings, bool firstRun) override {
    for (int p = 0; p < 2; ++p) {
      const int turn = readings[p] % 3 - 1;
      const bool squash = readings[p] >= 3;
      s_.v[p] = std::clamp(s_.v[p] + turn * 2 - (squash ? s_.v[p] / 2 : 0), -12, 12);
      s_.x[p] += s_.v[p];
      if (s_.x[p] < 0 || s_.x[p] >= kToyWidth) {
        s_.x[p] = std::clamp(s_.x[p], 0, kToyWidth - 1);
        s_.v[p] = -s_.v[p];
      }
    }
    for (int32_t& fly : s_.fly) {
      fly = std::clamp(fly + static_cast<int32_t>(Next() % 7) - 3, 0, kToyWidth - 1);
      for (int p = 0; p < 2; ++p) {
        if (std::abs(fly - s_.x[p]) < 3) {
          ++s_.kills[p];
          ++s_.levelKills;
          fly = static_cast<int32_t>(Next() % kToyWidth);
          if (firstRun) ++sounds_;
        }
      }
    }
    --s_.timeLeft;
    if (static_cast<int64_t>(s_.tick) == glitchTick_) s_.x[0] ^= 1;
    ++s_.tick;
  }
  uint32_t Checksum() override {
    uint32_t h = 2166136261u;  // FNV-1a over the state's bytes
    const auto* b = reinterpret_cast<const uint8_t*>(&s_);
    for (size_t i = 0; i < sizeof s_; ++i) h = (h ^ b[i]) * 16777619u;
    return h;
  }
  bool Stopped() override { return s_.timeLeft <= 0 || s_.levelKills >= KillsNeeded(); }
  bool GameOver() override { return Stopped() && (s_.timeLeft <= 0 || s_.level >= kToyLevels); }
  void NextLevel() override {
    ++s_.level;
    StartLevel();
  }
  uint64_t Sounds() const override { return sounds_; }

 private:
  int32_t KillsNeeded() const { return 40 + 20 * s_.level; }
  uint64_t Next() {
    s_.random ^= s_.random << 13;
    s_.random ^= s_.random >> 7;
    s_.random ^= s_.random << 17;
    return s_.random;
  }
  void StartLevel() {
    s_.timeLeft = kToyLevelTime;
    s_.levelKills = 0;
    for (int32_t& fly : s_.fly) fly = static_cast<int32_t>(Next() % kToyWidth);
  }

  ToyState s_;
  int64_t glitchTick_;
  uint64_t sounds_ = 0;
};

// --- The link -------------------------------------------------------------------

struct InFlight {
  int64_t at;      // microseconds of virtual time
  uint64_t order;  // sending order, to break ties
  std::vector<uint8_t> bytes;
};

class Link {
 public:
  Link(const LinkConditions& conditions, uint64_t seed) : c_(conditions), random_(seed) {}

  void Send(int to, const std::vector<uint8_t>& bytes, bool reliable, int64_t now) {
    std::uniform_real_distribution<double> chance(0, 1);
    const int64_t oneWay = c_.delayMs * 1000LL;
    const int64_t jitter = c_.jitterMs > 0 ? static_cast<int64_t>(chance(random_) * c_.jitterMs * 1000) : 0;
    int64_t at = now + oneWay + jitter;
    if (reliable) {
      // Sent again after a round trip (at least 50 ms) while lost; arrives in order.
      const int64_t resend = std::max<int64_t>(2 * oneWay, 50000);
      for (int tries = 0; tries < 20 && chance(random_) < c_.loss; ++tries) at += resend;
      at = std::max(at, lastReliable_[to]);
      lastReliable_[to] = at;
      Queue(to, at, bytes);
      return;
    }
    if (chance(random_) < c_.loss) return;
    if (chance(random_) < c_.reorder) at += (1 + static_cast<int64_t>(chance(random_) * 3)) * 16667;
    Queue(to, at, bytes);
    if (chance(random_) < c_.duplicate) Queue(to, at + static_cast<int64_t>(chance(random_) * 20000), bytes);
  }

  // Datagrams for `to` due by `now`, in arrival order.
  std::vector<std::vector<uint8_t>> Deliver(int to, int64_t now) {
    std::vector<InFlight>& q = queue_[to];
    std::sort(q.begin(), q.end(), [](const InFlight& a, const InFlight& b) {
      return a.at != b.at ? a.at < b.at : a.order < b.order;
    });
    std::vector<std::vector<uint8_t>> due;
    size_t n = 0;
    while (n < q.size() && q[n].at <= now) due.push_back(std::move(q[n++].bytes));
    q.erase(q.begin(), q.begin() + static_cast<std::ptrdiff_t>(n));
    return due;
  }

 private:
  void Queue(int to, int64_t at, const std::vector<uint8_t>& bytes) {
    queue_[to].push_back({at, order_++, bytes});
  }

  LinkConditions c_;
  std::mt19937_64 random_;
  std::vector<InFlight> queue_[2];
  int64_t lastReliable_[2] = {0, 0};
  uint64_t order_ = 0;
};

class SideOutbox : public net::Outbox {
 public:
  SideOutbox(Link& link, int side, const int64_t& now, SideResult& result)
      : link_(link), side_(side), now_(now), result_(result) {}
  void Send(const net::Message& message, bool reliable) override {
    const std::vector<uint8_t> bytes = net::EncodeMessage(message);
    result_.bytesSent += bytes.size();
    ++result_.datagramsSent;
    link_.Send(1 - side_, bytes, reliable, now_);
  }

 private:
  Link& link_;
  int side_;
  const int64_t& now_;
  SideResult& result_;
};

// One side of a match: its game, its session, its player and its level screens.
struct Side {
  std::unique_ptr<MatchGame> game;
  std::unique_ptr<SideOutbox> outbox;
  std::unique_ptr<net::Session> session;
  std::mt19937_64 player;
  uint8_t reading = 0;
  int64_t nextFrame = 0;  // microseconds
  int64_t framePeriod = 0;
  uint32_t screen = 0;        // level screens passed
  int keyIn = -1;             // frames until this player presses a key on the level screen
  bool readySent = false;
  uint32_t remoteReady = 0;   // the other side's last Ready screen, +1 (0: none)
  bool done = false;
  bool left = false;          // quit, or saw the other quit: runs no more frames
  int frames = 0;
};

// CPU time of this thread (milliseconds): what a frame costs, whoever else runs.
double ThreadCpuMs() {
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

}  // namespace

void CarryOut(net::Session& session, RollbackGame& game) {
  while (Request* request = session.Next()) {
    switch (request->kind) {
      case Request::Kind::Save:
        if (request->checksum) {
          request->cell->checksum = game.Checksum();
        } else {
          game.SaveState(request->cell->bytes);
          request->cell->levelOver = game.Stopped();
        }
        break;
      case Request::Kind::Load: game.LoadState(request->cell->bytes); break;
      case Request::Kind::Advance: game.AdvanceTick(request->readings, request->firstRun); break;
    }
  }
}

net::FrameReport RunFrame(net::Session& session, RollbackGame& game, uint8_t reading, bool hold) {
  session.BeginFrame(reading, hold);
  CarryOut(session, game);
  return session.Report();
}

bool Leave(net::Session& session, RollbackGame& game) {
  session.BeginLeave();
  CarryOut(session, game);
  return session.Changed();
}

bool SettleAt(net::Session& session, RollbackGame& game, uint32_t end) {
  session.BeginSettleAt(end);
  CarryOut(session, game);
  return session.Changed();
}

std::unique_ptr<MatchGame> MakeToyGame(uint64_t seed, int glitchTick) {
  return std::make_unique<ToyGame>(seed, glitchTick);
}

MatchResult RunMatch(const MatchConfig& config) {
  MatchResult result;
  Link link(config.link, config.seed * 7919 + 17);
  int64_t now = 0;
  Side sides[2];
  for (int i = 0; i < 2; ++i) {
    Side& s = sides[i];
    s.game = config.makeGame(i);
    s.outbox = std::make_unique<SideOutbox>(link, i, now, result.side[i]);
    s.session = std::make_unique<net::Session>(*s.outbox, i, config.inputDelay[i]);
    s.player.seed(config.seed * 31 + static_cast<uint64_t>(i));
    s.framePeriod = static_cast<int64_t>(16667 * (i == 1 ? 1 + config.clockSkew : 1));
    s.nextFrame = i == 1 ? config.startGapMs * 1000LL : 0;
  }
  // Both sides keep running frames until both games have ended: a side that has ended
  // still answers with its last readings and checksums.
  for (int frame = 0; frame < 2 * config.maxFrames && !(sides[0].done && sides[1].done); ++frame) {
    const int i = sides[1].nextFrame < sides[0].nextFrame ? 1 : 0;
    Side& s = sides[i];
    SideResult& r = result.side[i];
    now = s.nextFrame;
    s.nextFrame += s.framePeriod;
    if (s.left) continue;
    for (const std::vector<uint8_t>& bytes : link.Deliver(i, now)) {
      net::Message m;
      if (!net::DecodeMessage(bytes.data(), bytes.size(), m)) continue;
      if (m.type == net::MessageType::Quit && !s.done) {
        SettleAt(*s.session, *s.game, m.value);  // the other player left: end where it ended
        s.done = s.left = r.left = true;
        break;
      }
      if (m.type == net::MessageType::Ready) {
        s.remoteReady = std::max(s.remoteReady, m.value + 1);
      } else {
        s.session->Receive(m);
      }
    }
    if (s.left) continue;
    if (i == config.quitter && s.frames++ == config.quitAtFrame && !s.done) {
      Leave(*s.session, *s.game);
      s.done = s.left = r.left = true;
      continue;
    }
    // The player holds a reading for a while, then changes it.
    if (s.player() % 10 == 0) s.reading = static_cast<uint8_t>(s.player() % 6);

    const bool settled = s.game->Stopped() && s.session->ConfirmedTick() == s.session->Tick();
    bool hold = false;
    if (settled) {
      hold = true;
      if (s.game->GameOver()) {
        s.done = true;
      } else {
        if (s.keyIn < 0 && !s.readySent) s.keyIn = static_cast<int>(s.player() % 60);
        if (!s.readySent && s.keyIn-- == 0) {
          s.outbox->Send(net::MakeSignal(net::MessageType::Ready, s.screen), true);
          s.readySent = true;
        }
        if (s.readySent && s.remoteReady > s.screen) {
          s.game->NextLevel();
          ++s.screen;
          s.readySent = false;
          s.keyIn = -1;
        }
      }
    }
    const double start = config.timeFrames ? ThreadCpuMs() : 0;
    const net::FrameReport report = RunFrame(*s.session, *s.game, s.reading, hold);
    if (config.timeFrames) r.worstFrameMs = std::max(r.worstFrameMs, ThreadCpuMs() - start);
    r.mostAgreed = std::max(r.mostAgreed, s.session->AgreedTick());
    if (!hold && !s.game->Stopped()) {
      ++r.frames;
      r.rerunPerFrame.push_back(report.rerunTicks);
      if (report.waitedForRemote) ++r.waitedFrames;
      if (report.skippedForSync) ++r.skippedFrames;
    }
  }
  result.finished = sides[0].done && sides[1].done;
  result.seconds = static_cast<double>(now) / 1e6;
  for (int i = 0; i < 2; ++i) {
    SideResult& r = result.side[i];
    net::Session& session = *sides[i].session;
    r.ticks = session.Tick();
    r.outOfStep = session.OutOfStep();
    r.firstDifferent = session.FirstDifferentTick();
    sides[i].game->SaveState(r.finalState);
    r.sounds = sides[i].game->Sounds();
    for (uint32_t t = 0; t < session.ConfirmedTick(); ++t) r.replay.push_back(session.ConfirmedReadings(t));
  }
  return result;
}

}  // namespace simnet
