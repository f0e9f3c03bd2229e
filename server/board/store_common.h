// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the two stores share: the queries' text (written with "?" for each parameter;
// the PostgreSQL store numbers them), the names of states, the refusal of a game
// already on the board.
#include <memory>
#include <string>

#include "store.h"

// The columns EntryFrom reads, in its order.
inline constexpr const char* kEntryColumns = "id, name, score, level, submitted_at, mode";
// A verdict stored: status, reason, mode, level, score, p1, p2, ticks, game; then the id.
// Only a pending job is finished, and only once.
inline constexpr const char* kFinishSql =
    "UPDATE submissions SET status = ?, reason = ?, mode = ?, level = ?, score = ?, p1 = ?, p2 = ?, ticks = ?,"
    " game = ?, verifications = verifications + 1 WHERE id = ? AND status = 'pending'";
// Placed above a game (score, score, id): a better score, or the same one sent earlier.
inline constexpr const char* kAboveSql = " AND (score > ? OR (score = ? AND id < ?))";
// Counts per bin (bins, best, last bin, mode): bin = score * bins / (best + 1).
inline constexpr const char* kSpreadSql =
    "SELECT MIN(score * ? / ?, ?) AS bin, COUNT(*) FROM submissions"
    " WHERE status = 'verified' AND mode = ? GROUP BY bin";

SubmissionStatus StatusFromName(const std::string& name);
Verdict SameGameRefusal(int64_t firstId);
// A migration's text with its two words spelt for one database.
std::string SpellMigration(const std::string& sql, const std::string& id, const std::string& blob);

std::unique_ptr<Store> OpenSqliteStore(const std::string& path, std::string& error);
std::unique_ptr<Store> OpenPostgresStore(const std::string& url, std::string& error);
