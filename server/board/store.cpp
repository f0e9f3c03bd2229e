// SPDX-License-Identifier: GPL-3.0-or-later
#include "store.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "store_common.h"

namespace {
constexpr int64_t kSecondsPerWeek = 7 * 24 * 3600;
constexpr int64_t kFirstMonday = 4 * 24 * 3600;  // 1970-01-05, the first Monday after the epoch (seconds)
}  // namespace

const char* SubmissionStatusName(SubmissionStatus status) {
  switch (status) {
    case SubmissionStatus::Pending: return "pending";
    case SubmissionStatus::Verified: return "verified";
    case SubmissionStatus::Refused: return "refused";
  }
  return "pending";
}

SubmissionStatus StatusFromName(const std::string& name) {
  if (name == "verified") return SubmissionStatus::Verified;
  if (name == "refused") return SubmissionStatus::Refused;
  return SubmissionStatus::Pending;
}

Verdict SameGameRefusal(int64_t firstId) {
  Verdict verdict;
  verdict.reason = "the same game is already on the board (replay " + std::to_string(firstId) + ")";
  return verdict;
}

std::string SpellMigration(const std::string& sql, const std::string& id, const std::string& blob) {
  std::string out = sql;
  for (const auto& [word, spelling] : {std::pair<std::string, std::string>{"@ID@", id}, {"@BLOB@", blob}}) {
    for (size_t at = out.find(word); at != std::string::npos; at = out.find(word, at + spelling.size())) {
      out.replace(at, word.size(), spelling);
    }
  }
  return out;
}

int64_t WeekOf(int64_t at) {
  int64_t since = (at - kFirstMonday) % kSecondsPerWeek;
  if (since < 0) since += kSecondsPerWeek;
  return at - since;
}

std::unique_ptr<Store> OpenStore(const std::string& database, const std::string& stateDir, std::string& error) {
  if (database.empty()) {
    if (mkdir(stateDir.c_str(), 0750) != 0 && errno != EEXIST) {
      error = "cannot make the state directory " + stateDir + ": " + std::strerror(errno);
      return nullptr;
    }
    return OpenSqliteStore(stateDir + "/board.sqlite", error);
  }
  if (database.rfind("postgresql://", 0) == 0 || database.rfind("postgres://", 0) == 0) {
    return OpenPostgresStore(database, error);
  }
  error = "--database takes a postgresql:// URL";
  return nullptr;
}
