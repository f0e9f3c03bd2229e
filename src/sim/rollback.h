// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What a session that goes back and forth in a game (the rollback session of a game on
// two computers, the sync test) asks of the game: save its state into a cell, load a
// state saved before, run the next tick. The session hands out one request at a time
// and the game carries each out before asking for the next, since what the session does
// next may depend on it (a level that ended stops the ticks being run again).
#include <array>
#include <cstdint>
#include <vector>

// A saved state, and what the game says of it when saving.
struct StateCell {
  std::vector<uint8_t> bytes;  // the game's own encoding of its state
  uint64_t checksum = 0;       // written instead of the rest when the request asks for it
  bool levelOver = false;      // from this state no further tick may run
  uint32_t tick = UINT32_MAX;  // the session's: the tick this state stands before
};

struct Request {
  enum class Kind : uint8_t { Save, Load, Advance };
  Kind kind = Kind::Advance;
  StateCell* cell = nullptr;          // Save: written; Load: the state to put back
  bool checksum = false;              // Save: only the state's checksum is wanted
  std::array<uint8_t, 2> readings{};  // Advance: both players' reading codes
  bool firstRun = true;               // Advance: false when run again (nothing seen or heard)
  bool ran = true;                    // Advance, the game's answer: false when it ran no tick
};

// A session's one request made anew as `kind` on `cell` (`checksum`: a Save of the checksum only).
inline Request* Ask(Request& request, Request::Kind kind, StateCell* cell = nullptr, bool checksum = false) {
  request = Request{};
  request.kind = kind;
  request.cell = cell;
  request.checksum = checksum;
  return &request;
}
