// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The board's schema, as numbered steps. A database records the last step it has taken
// (table board_schema); opening it takes the steps after that one, each in its own
// transaction, in order. A step is never changed once released: a change is a new step.
// The same text serves SQLite and PostgreSQL but for two words each spells its own way:
// @ID@ (an id the database assigns, rising) and @BLOB@ (bytes).
#include <vector>

struct Migration {
  int version;
  const char* sql;  // one or more statements separated by ";"
};

inline const std::vector<Migration>& BoardMigrations() {
  static const std::vector<Migration> steps = {
      {1,
       "CREATE TABLE submissions ("
       " id @ID@,"
       " name TEXT NOT NULL,"
       " address TEXT NOT NULL,"
       " submitted_at BIGINT NOT NULL,"  // seconds since 1970 (UTC)
       " week BIGINT NOT NULL,"          // the Monday 00:00 UTC of that week, in seconds
       " replay @BLOB@ NOT NULL,"
       " status TEXT NOT NULL DEFAULT 'pending',"  // pending, verified, refused
       " reason TEXT NOT NULL DEFAULT '',"
       " verifications INTEGER NOT NULL DEFAULT 0,"  // finished re-runs: never above 1
       " mode TEXT NOT NULL DEFAULT '',"   // 1p, 2p, net
       " level INTEGER NOT NULL DEFAULT 0,"
       " score INTEGER NOT NULL DEFAULT 0,"
       " p1 INTEGER NOT NULL DEFAULT 0,"
       " p2 INTEGER NOT NULL DEFAULT 0,"
       " ticks BIGINT NOT NULL DEFAULT 0,"
       " game TEXT NOT NULL DEFAULT '')"  // digest of the game's start and controls
       ";CREATE INDEX submissions_pending ON submissions (id) WHERE status = 'pending'"
       ";CREATE UNIQUE INDEX submissions_one_game ON submissions (game) WHERE status = 'verified'"
       ";CREATE INDEX submissions_top ON submissions (mode, score DESC, id) WHERE status = 'verified'"
       ";CREATE INDEX submissions_top_week ON submissions (mode, week, score DESC, id) WHERE status = 'verified'"
       ";CREATE INDEX submissions_player ON submissions (name, score DESC, id) WHERE status = 'verified'"},
  };
  return steps;
}
