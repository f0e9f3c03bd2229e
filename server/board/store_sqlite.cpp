// SPDX-License-Identifier: GPL-3.0-or-later
// The board in one SQLite file: write-ahead log, every commit synced (synchronous=FULL),
// one connection shared under a mutex (the board's writes are small and few; reads use
// the indexes of migrations.h). One server process per file: the verifier's claim on a
// job lives in that process only.
#include <sqlite3.h>

#include <mutex>

#include "log.h"
#include "migrations.h"
#include "store.h"
#include "store_common.h"

namespace {

constexpr int kBusyTimeoutMs = 5000;

// One prepared statement, finalised when it goes.
class Statement {
 public:
  Statement(sqlite3* db, const std::string& sql) : db_(db) {
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement_, nullptr) != SQLITE_OK) statement_ = nullptr;
  }
  ~Statement() { sqlite3_finalize(statement_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  bool ok() const { return statement_ != nullptr; }
  Statement& Bind(int64_t value) {
    sqlite3_bind_int64(statement_, ++bound_, value);
    return *this;
  }
  Statement& Bind(const std::string& text) {
    sqlite3_bind_text(statement_, ++bound_, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    return *this;
  }
  Statement& BindBlob(const std::string& bytes) {
    sqlite3_bind_blob(statement_, ++bound_, bytes.data(), static_cast<int>(bytes.size()), SQLITE_TRANSIENT);
    return *this;
  }
  // True while there is a row; false at the end or on an error (see Done).
  bool Step() {
    if (statement_ == nullptr) return false;
    last_ = sqlite3_step(statement_);
    return last_ == SQLITE_ROW;
  }
  bool Done() const { return last_ == SQLITE_DONE; }
  int64_t Int(int column) const { return sqlite3_column_int64(statement_, column); }
  std::string Text(int column) const {
    const unsigned char* text = sqlite3_column_text(statement_, column);
    return text ? std::string(reinterpret_cast<const char*>(text), sqlite3_column_bytes(statement_, column)) : "";
  }
  std::string Blob(int column) const {
    const void* bytes = sqlite3_column_blob(statement_, column);
    return bytes ? std::string(static_cast<const char*>(bytes), sqlite3_column_bytes(statement_, column)) : "";
  }

 private:
  sqlite3* db_;
  sqlite3_stmt* statement_ = nullptr;
  int bound_ = 0;
  int last_ = SQLITE_OK;
};

class SqliteStore : public Store {
 public:
  ~SqliteStore() override { sqlite3_close(db_); }

  bool Open(const std::string& path, std::string& error) {
    if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                        nullptr) != SQLITE_OK) {
      error = "cannot open " + path + ": " + (db_ ? sqlite3_errmsg(db_) : "out of memory");
      return false;
    }
    sqlite3_busy_timeout(db_, kBusyTimeoutMs);
    for (const char* pragma : {"PRAGMA journal_mode=WAL", "PRAGMA synchronous=FULL", "PRAGMA foreign_keys=ON"}) {
      if (!Exec(pragma, error)) return false;
    }
    return Migrate(error);
  }

  int64_t Submit(const NewSubmission& s, std::string& error) override {
    std::lock_guard<std::mutex> hold(mutex_);
    Statement insert(db_, "INSERT INTO submissions (name, address, submitted_at, week, replay) VALUES (?, ?, ?, ?, ?)");
    insert.Bind(s.name).Bind(s.address).Bind(s.at).Bind(WeekOf(s.at)).BindBlob(s.replay);
    insert.Step();
    if (!insert.Done()) {
      error = sqlite3_errmsg(db_);
      return 0;
    }
    return sqlite3_last_insert_rowid(db_);
  }

  std::optional<SubmissionState> State(int64_t id) override {
    std::lock_guard<std::mutex> hold(mutex_);
    Statement row(db_, "SELECT status, reason, mode, score, week FROM submissions WHERE id = ?");
    row.Bind(id);
    if (!row.Step()) return std::nullopt;
    SubmissionState state;
    state.id = id;
    state.status = StatusFromName(row.Text(0));
    state.reason = row.Text(1);
    if (state.status != SubmissionStatus::Verified) return state;
    GameModeFromName(row.Text(2), state.mode);
    state.score = static_cast<int>(row.Int(3));
    const int64_t week = row.Int(4);
    const std::string mode = row.Text(2);
    state.rank = 1 + Count(mode, 0, true, state.score, id);
    state.total = Count(mode, 0, false, 0, 0);
    state.weekRank = 1 + Count(mode, week, true, state.score, id);
    state.weekTotal = Count(mode, week, false, 0, 0);
    return state;
  }

  std::optional<Finished> VerifyNext(Verdict (*verify)(const Job&, void*), void* context) override {
    Job job;
    {
      std::lock_guard<std::mutex> hold(mutex_);
      Statement next(db_, "SELECT id, name, replay FROM submissions WHERE status = 'pending' ORDER BY id LIMIT 1");
      if (!next.Step()) return std::nullopt;
      job.id = next.Int(0);
      job.name = next.Text(1);
      job.replay = next.Blob(2);
    }
    Verdict verdict = verify(job, context);
    std::lock_guard<std::mutex> hold(mutex_);
    std::string error;
    if (!Exec("BEGIN IMMEDIATE", error)) return Fail(error);
    if (verdict.verified) {
      Statement same(db_, "SELECT id FROM submissions WHERE status = 'verified' AND game = ?");
      same.Bind(verdict.game);
      if (same.Step()) verdict = SameGameRefusal(same.Int(0));
    }
    Statement finish(db_, kFinishSql);
    BindFinish(finish, job.id, verdict);
    finish.Step();
    if (!finish.Done()) {
      error = sqlite3_errmsg(db_);
      Exec("ROLLBACK", error);
      return Fail(error);
    }
    if (!Exec("COMMIT", error)) return Fail(error);
    return Finished{job.id, job.name, verdict};
  }

  std::vector<BoardEntry> Top(GameMode mode, Period period, int limit, int64_t now) override {
    std::lock_guard<std::mutex> hold(mutex_);
    const bool week = period == Period::ThisWeek;
    Statement rows(db_, std::string("SELECT ") + kEntryColumns +
                            " FROM submissions WHERE status = 'verified' AND mode = ?" +
                            (week ? " AND week = ?" : "") + " ORDER BY score DESC, id LIMIT ?");
    rows.Bind(GameModeName(mode));
    if (week) rows.Bind(WeekOf(now));
    rows.Bind(limit);
    return Entries(rows);
  }

  std::vector<BoardEntry> OfPlayer(const std::string& name, int limit) override {
    std::lock_guard<std::mutex> hold(mutex_);
    Statement rows(db_, std::string("SELECT ") + kEntryColumns +
                            " FROM submissions WHERE status = 'verified' AND name = ? ORDER BY score DESC, id LIMIT ?");
    rows.Bind(name).Bind(limit);
    return Entries(rows);
  }

  std::vector<int64_t> Spread(GameMode mode, int bins, int& best) override {
    std::lock_guard<std::mutex> hold(mutex_);
    std::vector<int64_t> counts(static_cast<size_t>(bins), 0);
    Statement top(db_, "SELECT MAX(score) FROM submissions WHERE status = 'verified' AND mode = ?");
    top.Bind(GameModeName(mode));
    best = top.Step() ? static_cast<int>(top.Int(0)) : 0;
    Statement rows(db_, kSpreadSql);
    rows.Bind(bins).Bind(std::max(best, 1)).Bind(bins - 1).Bind(GameModeName(mode));
    while (rows.Step()) counts[static_cast<size_t>(rows.Int(0))] = rows.Int(1);
    return counts;
  }

  std::string ReplayFile(int64_t id) override {
    std::lock_guard<std::mutex> hold(mutex_);
    Statement row(db_, "SELECT replay FROM submissions WHERE id = ? AND status = 'verified'");
    row.Bind(id);
    return row.Step() ? row.Blob(0) : "";
  }

  int64_t Pending() override {
    std::lock_guard<std::mutex> hold(mutex_);
    Statement row(db_, "SELECT COUNT(*) FROM submissions WHERE status = 'pending'");
    return row.Step() ? row.Int(0) : 0;
  }

 private:
  bool Exec(const std::string& sql, std::string& error) {
    char* message = nullptr;
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message) == SQLITE_OK) return true;
    error = message ? message : "unknown error";
    sqlite3_free(message);
    return false;
  }

  std::nullopt_t Fail(const std::string& error) {
    ServerLog("Board: the database refused a verdict: ", error);
    return std::nullopt;
  }

  bool Migrate(std::string& error) {
    if (!Exec("CREATE TABLE IF NOT EXISTS board_schema (version INTEGER NOT NULL)", error)) return false;
    int64_t at = 0;
    {
      Statement version(db_, "SELECT COALESCE(MAX(version), 0) FROM board_schema");
      if (version.Step()) at = version.Int(0);
    }
    for (const Migration& step : BoardMigrations()) {
      if (step.version <= at) continue;
      const std::string sql = SpellMigration(step.sql, "INTEGER PRIMARY KEY", "BLOB");
      if (!Exec("BEGIN IMMEDIATE", error)) return false;
      if (!Exec(sql, error) ||
          !Exec("INSERT INTO board_schema (version) VALUES (" + std::to_string(step.version) + ")", error)) {
        std::string ignored;
        Exec("ROLLBACK", ignored);
        error = "schema step " + std::to_string(step.version) + ": " + error;
        return false;
      }
      if (!Exec("COMMIT", error)) return false;
      ServerLog("Board: database schema at version ", step.version);
    }
    return true;
  }

  // Verified games of `mode` (of the week `week`, when not 0); with `ranked`, only those
  // placed above the game (`score`, `id`): a better score, or the same sent earlier.
  int64_t Count(const std::string& mode, int64_t week, bool ranked, int score, int64_t id) {
    Statement row(db_, std::string("SELECT COUNT(*) FROM submissions WHERE status = 'verified' AND mode = ?") +
                           (week != 0 ? " AND week = ?" : "") + (ranked ? kAboveSql : ""));
    row.Bind(mode);
    if (week != 0) row.Bind(week);
    if (ranked) row.Bind(score).Bind(score).Bind(id);
    return row.Step() ? row.Int(0) : 0;
  }

  std::vector<BoardEntry> Entries(Statement& rows) {
    std::vector<BoardEntry> entries;
    while (rows.Step()) entries.push_back(EntryFrom(rows));
    return entries;
  }

  static BoardEntry EntryFrom(const Statement& row) {
    BoardEntry entry;
    entry.id = row.Int(0);
    entry.name = row.Text(1);
    entry.score = static_cast<int>(row.Int(2));
    entry.level = static_cast<int>(row.Int(3));
    entry.at = row.Int(4);
    GameModeFromName(row.Text(5), entry.mode);
    return entry;
  }

  static void BindFinish(Statement& finish, int64_t id, const Verdict& v) {
    finish.Bind(v.verified ? "verified" : "refused").Bind(v.reason);
    finish.Bind(v.verified ? GameModeName(v.mode) : "").Bind(v.level).Bind(v.Score());
    finish.Bind(v.p1Score).Bind(v.p2Score).Bind(v.ticks).Bind(v.verified ? v.game : "").Bind(id);
  }

  sqlite3* db_ = nullptr;
  std::mutex mutex_;
};

}  // namespace

std::unique_ptr<Store> OpenSqliteStore(const std::string& path, std::string& error) {
  auto store = std::make_unique<SqliteStore>();
  if (!store->Open(path, error)) return nullptr;
  return store;
}
