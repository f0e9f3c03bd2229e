// SPDX-License-Identifier: GPL-3.0-or-later
#include "synctest.h"

#include <algorithm>

SyncTestSession::SyncTestSession(int distance, int64_t maxTicks, SyncTestReport& report)
    : distance_(std::clamp(distance, 1, kMaxDistance)), maxTicks_(maxTicks), report_(report) {}

Request* SyncTestSession::Ask(Request::Kind kind, Phase then, StateCell* cell) {
  request_ = Request{};
  request_.kind = kind;
  request_.cell = cell;
  phase_ = then;
  return &request_;
}

Request* SyncTestSession::Next() {
  switch (phase_) {
    case Phase::Mark:
      if (played_ >= maxTicks_) return nullptr;
      ran_ = again_ = 0;
      return Ask(Request::Kind::Save, Phase::First, &mark_);
    case Phase::First: return RunFirst();
    case Phase::FirstRan:
      if (!request_.ran) return EndFirst();
      return AskChecksum(Phase::FirstChecked);
    case Phase::FirstChecked:
      first_[ran_++] = check_.checksum;
      return RunFirst();
    case Phase::Second: return RunSecond();
    case Phase::SecondRan:
      ++report_.checks;
      if (request_.ran) return AskChecksum(Phase::SecondChecked);
      Mismatch();
      ++again_;
      return RunSecond();
    case Phase::SecondChecked:
      if (check_.checksum != first_[again_]) Mismatch();
      ++again_;
      return RunSecond();
    case Phase::Over: return nullptr;
  }
  return nullptr;
}

Request* SyncTestSession::AskChecksum(Phase then) {
  Ask(Request::Kind::Save, then, &check_);
  request_.checksum = true;
  return &request_;
}

// The stretch's ticks the first time, each state's checksum kept.
Request* SyncTestSession::RunFirst() {
  if (ran_ < distance_ && played_ + ran_ < maxTicks_) return Ask(Request::Kind::Advance, Phase::FirstRan);
  return EndFirst();
}

// Back to the stretch's start (none run: the game is over).
Request* SyncTestSession::EndFirst() {
  if (ran_ == 0) {
    phase_ = Phase::Over;
    return nullptr;
  }
  return Ask(Request::Kind::Load, Phase::Second, &mark_);
}

// The same ticks again, each checksum compared.
Request* SyncTestSession::RunSecond() {
  if (again_ < ran_) return Ask(Request::Kind::Advance, Phase::SecondRan);
  report_.ticks += ran_;
  played_ += ran_;
  phase_ = ran_ < distance_ ? Phase::Over : Phase::Mark;  // a shorter stretch: the game ended in it
  return Next();
}

void SyncTestSession::Mismatch() {
  if (report_.firstMismatch < 0) report_.firstMismatch = report_.ticks + again_;
  ++report_.mismatches;
}

void RunSyncTest(GameState& game, TickDriver& driver, int distance, int64_t maxTicks,
                 SyncTestReport& report) {
  SyncTestSession session(distance, maxTicks, report);
  while (Request* request = session.Next()) {
    switch (request->kind) {
      case Request::Kind::Save:
        if (request->checksum) {
          request->cell->checksum = GameChecksum(game);
        } else {
          SaveGame(game, request->cell->bytes);
          driver.Mark();
        }
        break;
      case Request::Kind::Load:
        RestoreGame(game, request->cell->bytes.data(), request->cell->bytes.size());
        driver.Rewind();
        break;
      case Request::Kind::Advance: request->ran = driver.Step(game); break;
    }
  }
}
