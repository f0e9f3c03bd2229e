// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/session.h"

#include <algorithm>

namespace net {
namespace {

constexpr size_t kClockSamples = 16;   // round trips and advantages averaged
constexpr size_t kMinSyncSamples = 8;  // advantages needed before a skip is considered
constexpr int kMinFramesBetweenSkips = 8;
constexpr size_t kMaxKeptChecks = 16;
constexpr uint8_t kNeverHeard = 255;   // echoAge: no stamp of the other side seen yet
constexpr int kMaxRoundTripFrames = 600;

int Average(const std::deque<int>& samples) {
  if (samples.empty()) return 0;
  long sum = 0;
  for (int s : samples) sum += s;
  const long n = static_cast<long>(samples.size());
  return static_cast<int>(sum >= 0 ? (sum + n / 2) / n : -((-sum + n / 2) / n));
}

template <typename T>
void Keep(std::deque<T>& samples, size_t most) {
  while (samples.size() > most) samples.pop_front();
}

}  // namespace

Session::Session(Outbox& outbox, int localPlayer, int inputDelay)
    : outbox_(outbox),
      local_(localPlayer == 0 ? 0 : 1),
      delay_(std::clamp(inputDelay, 0, kMaxInputDelay)),
      localReadings_(static_cast<size_t>(delay_), 0) {}

uint8_t Session::RemoteReadingFor(uint32_t tick) const {
  if (tick < remoteReadings_.size()) return remoteReadings_[tick];
  return remoteReadings_.empty() ? 0 : remoteReadings_.back();
}

uint32_t Session::ConfirmedTick() const {
  return std::min({tick_, static_cast<uint32_t>(remoteReadings_.size()), goBackTo_});
}

std::array<uint8_t, 2> Session::ConfirmedReadings(uint32_t tick) const {
  std::array<uint8_t, 2> readings{};
  if (tick < ConfirmedTick()) {
    readings[local_] = localReadings_[tick];
    readings[1 - local_] = remoteReadings_[tick];
  }
  return readings;
}

// --- What is begun, and its requests -----------------------------------------------

void Session::Plan(std::initializer_list<Step> steps) {
  plan_.assign(steps);
  planAt_ = 0;
  run_ = TickRun{};
  changed_ = false;
}

void Session::BeginFrame(uint8_t reading, bool hold) {
  report_ = FrameReport{};
  reading_ = reading;
  hold_ = hold;
  ++frame_;
  ++framesSinceSkip_;
  if (hold) advantages_.clear();  // a held clock says nothing of how the two drift
  Plan({Step::GoBack, Step::NewTick, Step::SendFrame});
}

void Session::BeginLeave() {
  settleEnd_ = 0;  // at the confirmed tick
  Plan({Step::GoBack, Step::SettleEnd, Step::SendLeave});
}

void Session::BeginSettleAt(uint32_t end) {
  settleEnd_ = end;
  Plan({Step::GoBack, Step::SettleEnd});
}

Request* Session::Next() {
  for (;;) {
    if (Request* request = ContinueRun()) return request;
    if (planAt_ == plan_.size()) return nullptr;
    if (Request* request = Begin(plan_[planAt_++])) return request;
  }
}

Request* Session::Begin(Step step) {
  switch (step) {
    case Step::GoBack: return GoBack();
    case Step::NewTick:
      if (hold_) return nullptr;
      run_.fresh = true;
      return StartRun(tick_ + 1);
    case Step::SettleEnd: return SettleEnd();
    case Step::SendFrame:
      SendChecksums();
      outbox_.Send(InputsFrom(remoteAck_), false);
      return nullptr;
    case Step::SendLeave: SendLeave(); return nullptr;
  }
  return nullptr;
}

// Where a prediction was wrong: the state saved before that tick, and the ticks up to
// now run again (until the level ends, which it may now do sooner than predicted).
Request* Session::GoBack() {
  const uint32_t from = goBackTo_;
  goBackTo_ = UINT32_MAX;
  // Only a tick run on a prediction is ever gone back to, and those lie within the
  // window the saved states cover.
  StateCell* slot = SavedAt(from);
  if (slot == nullptr) return nullptr;
  run_ = TickRun{TickRun::Phase::Loaded, tick_, false};
  tick_ = from;
  return Ask(request_, Request::Kind::Load, slot);
}

// The state saved before an earlier `tick`, if it is still kept.
StateCell* Session::SavedAt(uint32_t tick) {
  StateCell& slot = saved_[tick % saved_.size()];
  return tick < tick_ && slot.tick == tick ? &slot : nullptr;
}

// The state saved at `tick` (an earlier one, still kept): the ticks after it are taken back.
Request* Session::LoadAt(uint32_t tick) {
  StateCell* slot = SavedAt(tick);
  if (slot == nullptr) return nullptr;
  tick_ = tick;
  usedRemote_.resize(tick_);
  changed_ = true;
  return Ask(request_, Request::Kind::Load, slot);
}

Request* Session::SettleEnd() {
  const uint32_t known = static_cast<uint32_t>(std::min(remoteReadings_.size(), localReadings_.size()));
  if (settleEnd_ == 0 || settleEnd_ - 1 > known) return LoadAt(ConfirmedTick());  // names no end we can reach
  const uint32_t ticks = settleEnd_ - 1;  // the game's ticks, as the leaver keeps them
  if (ticks < tick_) {
    if (Request* load = LoadAt(ticks)) return load;
    return LoadAt(ConfirmedTick());
  }
  run_.settling = true;
  return StartRun(ticks);  // confirmed readings: these ticks are final
}

Request* Session::StartRun(uint32_t until) {
  run_.until = until;
  return SaveBeforeTick();
}

Request* Session::ContinueRun() {
  switch (run_.phase) {
    case TickRun::Phase::Idle: return nullptr;
    case TickRun::Phase::Loaded: return SaveBeforeTick();
    case TickRun::Phase::Saved:
      if (scratch_.levelOver || (run_.fresh && !MayRunFreshTick())) return EndRun();
      return Advance();
    case TickRun::Phase::Advanced:
      ++tick_;
      if (!run_.firstRun) ++report_.rerunTicks;
      if (run_.settling) changed_ = true;
      if (tick_ % kChecksumInterval != 0) return SaveBeforeTick();
      run_.phase = TickRun::Phase::Checked;
      return Ask(request_, Request::Kind::Save, &check_, true);
    case TickRun::Phase::Checked:
      KeepOwnCheck(static_cast<uint32_t>(check_.checksum ^ (check_.checksum >> 32)));
      return SaveBeforeTick();
  }
  return nullptr;
}

// The state before the next tick, and whether its level is over (into the scratch cell:
// it is kept only if the tick runs).
Request* Session::SaveBeforeTick() {
  if (tick_ >= run_.until) return EndRun();
  run_.phase = TickRun::Phase::Saved;
  return Ask(request_, Request::Kind::Save, &scratch_);
}

Request* Session::Advance() {
  StateCell& slot = saved_[tick_ % saved_.size()];
  std::swap(slot.bytes, scratch_.bytes);
  slot.tick = tick_;
  slot.levelOver = false;
  Ask(request_, Request::Kind::Advance);
  request_.readings[local_] = localReadings_[tick_];
  request_.readings[1 - local_] = RemoteReadingFor(tick_);
  request_.firstRun = run_.firstRun;
  if (usedRemote_.size() <= tick_) usedRemote_.resize(tick_ + 1);
  usedRemote_[tick_] = request_.readings[1 - local_];
  run_.phase = TickRun::Phase::Advanced;
  return &request_;
}

Request* Session::EndRun() {
  if (!run_.firstRun) usedRemote_.resize(tick_);  // the level may now end sooner than predicted
  run_ = TickRun{};
  return nullptr;
}

bool Session::MayRunFreshTick() {
  if (tick_ >= remoteReadings_.size() + kMaxPrediction) {
    report_.waitedForRemote = true;
    return false;
  }
  if (AheadOfRemote()) {
    report_.skippedForSync = true;
    return false;
  }
  localReadings_.push_back(std::min(reading_, kMaxReading));
  report_.ranTick = true;
  return true;
}

void Session::KeepOwnCheck(uint32_t value) {
  const Check check{tick_, value};
  auto same = std::find_if(ownChecks_.begin(), ownChecks_.end(), [&](const Check& c) { return c.tick == check.tick; });
  if (same != ownChecks_.end()) {
    *same = check;
  } else {
    ownChecks_.push_back(check);
    Keep(ownChecks_, 4);
  }
}

void Session::SendLeave() {
  const uint32_t end = ConfirmedTick();
  // Sent reliably, so they arrive before the Quit on the same channel.
  for (size_t from = remoteAck_; from < end; from += kMaxReadingsPerMessage) {
    Message m = InputsFrom(from);
    m.inputs.count = static_cast<uint8_t>(std::min<size_t>(m.inputs.count, end - from));
    outbox_.Send(m, true);
  }
  outbox_.Send(MakeSignal(MessageType::Quit, end + 1), true);
}

// --- Clocks, readings and checksums ----------------------------------------------

bool Session::AheadOfRemote() {
  if (framesSinceSkip_ < std::max(kMinFramesBetweenSkips, Average(roundTrips_) + 4)) return false;
  if (advantages_.size() < kMinSyncSamples) return false;
  // Both sides estimate how far each runs ahead; half the difference of the two
  // estimates cancels what a lopsided route adds to one of them.
  const int local = Average(advantages_);
  if (local - remoteAdvantage_ < 2) return false;
  framesSinceSkip_ = 0;
  advantages_.clear();
  return true;
}

void Session::Receive(const Message& message) {
  if (message.type == MessageType::Checksum) {
    if (message.tick == 0 || message.tick % kChecksumInterval != 0) return;
    remoteChecks_.push_back({message.tick, message.value});
    Keep(remoteChecks_, kMaxKeptChecks);
    CompareChecksums();
    return;
  }
  if (message.type != MessageType::Inputs) return;
  const Inputs& in = message.inputs;

  if (in.ack > remoteAck_ && in.ack <= localReadings_.size()) remoteAck_ = in.ack;
  peerConfirmed_ = std::max(peerConfirmed_, std::min({in.tick, in.ack, static_cast<uint32_t>(localReadings_.size())}));

  // New readings continue the known ones without a gap; anything far beyond our own
  // clock is not kept (the other side cannot be that far ahead).
  const size_t known = remoteReadings_.size();
  const uint64_t end = static_cast<uint64_t>(in.first) + in.count;
  if (in.first <= known && end > known) {
    for (uint64_t t = known; t < end && t < static_cast<uint64_t>(tick_) + kMaxRemoteAhead; ++t) {
      const uint8_t value = in.readings[t - in.first];
      remoteReadings_.push_back(value);
      if (t < tick_ && usedRemote_[t] != value) {
        goBackTo_ = std::min(goBackTo_, static_cast<uint32_t>(t));
      }
    }
  }

  // Clocks: only the newest stamp counts (datagrams may come out of order).
  const bool newer = !heardStamp_ || static_cast<int16_t>(in.stamp - lastStamp_) > 0;
  if (!newer) return;
  heardStamp_ = true;
  lastStamp_ = in.stamp;
  lastStampFrame_ = frame_;
  if (in.echoAge != kNeverHeard) {
    const int roundTrip = static_cast<int>(static_cast<uint16_t>(frame_ - in.echo)) - in.echoAge + 1;
    if (roundTrip >= 0 && roundTrip < kMaxRoundTripFrames) {
      roundTrips_.push_back(roundTrip);
      Keep(roundTrips_, kClockSamples);
    }
  }
  const int remoteNow = static_cast<int>(in.tick) + Average(roundTrips_) / 2;
  advantages_.push_back(std::clamp(static_cast<int>(tick_) - remoteNow, -127, 127));
  Keep(advantages_, kClockSamples);
  remoteAdvantage_ = in.advantage;
}

void Session::SendChecksums() {
  while (nextCheck_ <= ConfirmedTick()) {
    auto own = std::find_if(ownChecks_.begin(), ownChecks_.end(),
                            [&](const Check& c) { return c.tick == nextCheck_; });
    if (own != ownChecks_.end()) {
      outbox_.Send(MakeChecksum(own->tick, own->value), true);
      sentChecks_.push_back(*own);
      Keep(sentChecks_, kMaxKeptChecks);
    }
    nextCheck_ += kChecksumInterval;
  }
  CompareChecksums();
}

void Session::CompareChecksums() {
  for (auto remote = remoteChecks_.begin(); remote != remoteChecks_.end();) {
    auto own = std::find_if(sentChecks_.begin(), sentChecks_.end(),
                            [&](const Check& c) { return c.tick == remote->tick; });
    if (own == sentChecks_.end()) {
      ++remote;
      continue;
    }
    if (own->value != remote->value && (!outOfStep_ || remote->tick < firstDifferent_)) {
      outOfStep_ = true;
      firstDifferent_ = remote->tick;
    }
    sentChecks_.erase(own);
    remote = remoteChecks_.erase(remote);
  }
}

Message Session::InputsFrom(size_t start) const {
  Message m;
  m.type = MessageType::Inputs;
  Inputs& in = m.inputs;
  const size_t from = std::min<size_t>(start, localReadings_.size());
  const size_t count = std::min(localReadings_.size() - from, kMaxReadingsPerMessage);
  in.first = static_cast<uint32_t>(from);
  in.count = static_cast<uint8_t>(count);
  std::copy_n(localReadings_.begin() + static_cast<std::ptrdiff_t>(from), count, in.readings.begin());
  in.ack = static_cast<uint32_t>(remoteReadings_.size());
  in.tick = tick_;
  in.advantage = static_cast<int8_t>(std::clamp(Average(advantages_), -127, 127));
  in.stamp = frame_;
  in.echo = lastStamp_;
  in.echoAge = heardStamp_ ? static_cast<uint8_t>(std::min<int>(
                                 static_cast<uint16_t>(frame_ - lastStampFrame_), kNeverHeard - 1))
                           : kNeverHeard;
  return m;
}

}  // namespace net
