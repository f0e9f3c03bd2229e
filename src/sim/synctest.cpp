// SPDX-License-Identifier: GPL-3.0-or-later
#include "synctest.h"

#include <algorithm>

SyncTestSession::SyncTestSession(int distance, int64_t maxTicks, SyncTestReport& report)
    : distance_(std::clamp(distance, 1, kMaxDistance)), maxTicks_(maxTicks), report_(report) {}

Request* SyncTestSession::Next() {
  if (over_) return nullptr;
  if (!begun_) {
    begun_ = true;
    return BeginStretch();
  }
  if (request_.kind == Request::Kind::Advance) {
    if (request_.ran) return Ask(request_, Request::Kind::Save, &check_, true);  // the tick's checksum
    if (again_ < 0) return Back();  // the game is over
    Compare(false);
  } else if (request_.checksum) {
    if (again_ < 0) {
      first_[ran_++] = check_.checksum;
    } else {
      Compare(check_.checksum == first_[again_]);
    }
  }
  return Step();
}

// A stretch begins where the state is saved.
Request* SyncTestSession::BeginStretch() {
  over_ = played_ >= maxTicks_;
  ran_ = 0;
  again_ = -1;
  return over_ ? nullptr : Ask(request_, Request::Kind::Save, &mark_);
}

Request* SyncTestSession::Step() {
  const bool more = again_ < 0 ? ran_ < distance_ && played_ + ran_ < maxTicks_ : again_ < ran_;
  if (more) return Ask(request_, Request::Kind::Advance);
  if (again_ < 0) return Back();
  report_.ticks += ran_;
  played_ += ran_;
  if (ran_ == distance_) return BeginStretch();
  over_ = true;  // a shorter stretch: the game ended in it
  return nullptr;
}

// Back to the stretch's start, to run its ticks again (none run: the test is over).
Request* SyncTestSession::Back() {
  over_ = ran_ == 0;
  again_ = 0;
  return over_ ? nullptr : Ask(request_, Request::Kind::Load, &mark_);
}

void SyncTestSession::Compare(bool same) {
  ++report_.checks;
  if (!same && report_.firstMismatch < 0) report_.firstMismatch = report_.ticks + again_;
  if (!same) ++report_.mismatches;
  ++again_;
}

void RunSyncTest(GameState& game, TickDriver& driver, int distance, int64_t maxTicks,
                 SyncTestReport& report) {
  SyncTestSession session(distance, maxTicks, report);
  while (Request* request = session.Next()) {
    StateCell* cell = request->cell;  // Save and Load only
    if (request->kind == Request::Kind::Advance) {
      request->ran = driver.Step(game);
    } else if (request->kind == Request::Kind::Load) {
      RestoreGame(game, cell->bytes.data(), cell->bytes.size());
      driver.Rewind();
    } else if (request->checksum) {
      cell->checksum = GameChecksum(game);
    } else {
      SaveGame(game, cell->bytes);
      driver.Mark();
    }
  }
}
