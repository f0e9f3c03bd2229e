// SPDX-License-Identifier: GPL-3.0-or-later
// The board in PostgreSQL (libpq): the same schema and queries as SQLite. Any number of
// server processes, on any number of machines, share one database: each verifier
// claims the oldest pending job with SELECT ... FOR UPDATE SKIP LOCKED and holds the
// row's lock while the replay is re-run, so no two take the same job; a verifier that
// dies releases its lock with its connection and the job goes to the next. The API's
// requests go through a few connections of their own, each request taking one that is
// free, so a long re-run never holds up a request and one request's commit does not wait
// for another's.
#include <libpq-fe.h>

#include <condition_variable>
#include <mutex>

#include "log.h"
#include "migrations.h"
#include "store_common.h"

namespace {

constexpr int64_t kMigrationLock = 0x6e616e61;  // the advisory lock migrations take ("nana")
constexpr const char* kUniqueViolation = "23505";
constexpr int kRequestConnections = 4;  // the API's requests at once; more wait for one

// "... ? ... ?" with $1, $2, ...
std::string Numbered(const std::string& sql) {
  std::string out;
  int n = 0;
  for (char c : sql) {
    if (c == '?') {
      out += "$" + std::to_string(++n);
    } else {
      out += c;
    }
  }
  return out;
}

// One result, cleared when it goes.
class Result {
 public:
  explicit Result(PGresult* result) : result_(result) {}
  ~Result() { PQclear(result_); }
  Result(const Result&) = delete;
  Result& operator=(const Result&) = delete;
  bool Ok() const {
    const ExecStatusType s = PQresultStatus(result_);
    return s == PGRES_COMMAND_OK || s == PGRES_TUPLES_OK;
  }
  int Rows() const { return Ok() ? PQntuples(result_) : 0; }
  std::string Text(int row, int column) const {
    return std::string(PQgetvalue(result_, row, column), static_cast<size_t>(PQgetlength(result_, row, column)));
  }
  int64_t Int(int row, int column) const { return std::strtoll(PQgetvalue(result_, row, column), nullptr, 10); }
  std::string Error() const { return PQresultErrorMessage(result_); }
  std::string State() const {
    const char* state = PQresultErrorField(result_, PG_DIAG_SQLSTATE);
    return state ? state : "";
  }

 private:
  PGresult* result_;
};

// A parameter: text, or bytes sent as they are.
struct Param {
  std::string value;
  bool binary = false;
  Param(const std::string& v, bool b = false) : value(v), binary(b) {}
  Param(const char* v) : value(v) {}
  Param(int64_t v) : value(std::to_string(v)) {}
  Param(int v) : value(std::to_string(v)) {}
};

class Connection {
 public:
  ~Connection() {
    if (pg_ != nullptr) PQfinish(pg_);
  }
  bool Open(const std::string& url, std::string& error) {
    pg_ = PQconnectdb(url.c_str());
    if (PQstatus(pg_) == CONNECTION_OK) return true;
    error = PQerrorMessage(pg_);
    return false;
  }
  // `sql` with "?" parameters; `binaryResult` gives columns as raw bytes.
  std::unique_ptr<Result> Run(const std::string& sql, const std::vector<Param>& params = {}, bool binaryResult = false) {
    if (PQstatus(pg_) != CONNECTION_OK) PQreset(pg_);
    std::vector<const char*> values;
    std::vector<int> lengths, formats;
    for (const Param& p : params) {
      values.push_back(p.value.data());
      lengths.push_back(static_cast<int>(p.value.size()));
      formats.push_back(p.binary ? 1 : 0);
    }
    return std::make_unique<Result>(PQexecParams(pg_, Numbered(sql).c_str(), static_cast<int>(params.size()), nullptr,
                                                 values.data(), lengths.data(), formats.data(), binaryResult ? 1 : 0));
  }
  // One or more statements without parameters.
  bool Exec(const std::string& sql, std::string& error) {
    if (PQstatus(pg_) != CONNECTION_OK) PQreset(pg_);
    const auto result = std::make_unique<Result>(PQexec(pg_, sql.c_str()));
    if (result->Ok()) return true;
    error = result->Error();
    return false;
  }

 private:
  PGconn* pg_ = nullptr;
};

// The requests' connections: each request borrows a free one for its transaction.
class ConnectionPool {
 public:
  // Hands a connection back when it goes.
  class Lease {
   public:
    Lease(ConnectionPool& pool, Connection* connection) : pool_(pool), connection_(connection) {}
    ~Lease() { pool_.GiveBack(connection_); }
    Lease(const Lease&) = delete;
    Lease& operator=(const Lease&) = delete;
    Connection* operator->() const { return connection_; }
    Connection& operator*() const { return *connection_; }

   private:
    ConnectionPool& pool_;
    Connection* connection_;
  };

  bool Open(const std::string& url, int count, std::string& error) {
    for (int i = 0; i < count; ++i) {
      all_.push_back(std::make_unique<Connection>());
      if (!all_.back()->Open(url, error)) return false;
      free_.push_back(all_.back().get());
    }
    return true;
  }
  // Waits until one is free.
  Lease Take() {
    std::unique_lock<std::mutex> hold(mutex_);
    freed_.wait(hold, [this] { return !free_.empty(); });
    Connection* connection = free_.back();
    free_.pop_back();
    return Lease(*this, connection);
  }

 private:
  void GiveBack(Connection* connection) {
    {
      std::lock_guard<std::mutex> hold(mutex_);
      free_.push_back(connection);
    }
    freed_.notify_one();
  }

  std::vector<std::unique_ptr<Connection>> all_;
  std::vector<Connection*> free_;
  std::mutex mutex_;
  std::condition_variable freed_;
};

class PostgresStore : public Store {
 public:
  bool Open(const std::string& url, std::string& error) {
    if (!requests_.Open(url, kRequestConnections, error) || !worker_.Open(url, error)) return false;
    return Migrate(*requests_.Take(), error);
  }

  int64_t Submit(const NewSubmission& s, std::string& error) override {
    const auto api = requests_.Take();
    const auto r = api->Run(
        "INSERT INTO submissions (name, address, submitted_at, week, replay) VALUES (?, ?, ?, ?, ?) RETURNING id",
        {s.name, s.address, s.at, WeekOf(s.at), Param(s.replay, true)});
    if (r->Rows() != 1) {
      error = r->Error();
      return 0;
    }
    return r->Int(0, 0);
  }

  std::optional<SubmissionState> State(int64_t id) override {
    const auto api = requests_.Take();
    const auto r = api->Run("SELECT status, reason, mode, score, week FROM submissions WHERE id = ?", {id});
    if (r->Rows() != 1) return std::nullopt;
    SubmissionState state;
    state.id = id;
    state.status = StatusFromName(r->Text(0, 0));
    state.reason = r->Text(0, 1);
    if (state.status != SubmissionStatus::Verified) return state;
    const std::string mode = r->Text(0, 2);
    GameModeFromName(mode, state.mode);
    state.score = static_cast<int>(r->Int(0, 3));
    const int64_t week = r->Int(0, 4);
    state.rank = 1 + Count(*api, mode, 0, true, state.score, id);
    state.total = Count(*api, mode, 0, false, 0, 0);
    state.weekRank = 1 + Count(*api, mode, week, true, state.score, id);
    state.weekTotal = Count(*api, mode, week, false, 0, 0);
    return state;
  }

  std::optional<Finished> VerifyNext(Verdict (*verify)(const Job&, void*), void* context) override {
    std::string error;
    if (!worker_.Exec("BEGIN", error)) return Fail(error);
    const auto next = worker_.Run(
        "SELECT id FROM submissions WHERE status = 'pending' ORDER BY id LIMIT 1 FOR UPDATE SKIP LOCKED");
    if (next->Rows() != 1) {
      worker_.Exec(next->Ok() ? "COMMIT" : "ROLLBACK", error);
      return next->Ok() ? std::nullopt : Fail(next->Error());
    }
    Job job;
    job.id = next->Int(0, 0);
    const auto row = worker_.Run("SELECT name, replay FROM submissions WHERE id = ?", {job.id}, true);
    if (row->Rows() != 1) return Rollback(row->Error());
    job.name = row->Text(0, 0);
    job.replay = row->Text(0, 1);
    Verdict verdict = verify(job, context);
    if (verdict.verified) {
      const auto same = worker_.Run("SELECT id FROM submissions WHERE status = 'verified' AND game = ?", {verdict.game});
      if (same->Rows() > 0) verdict = SameGameRefusal(same->Int(0, 0));
    }
    const Verdict& v = verdict;
    const auto finish = worker_.Run(kFinishSql, {v.verified ? "verified" : "refused", v.reason,
                                                 v.verified ? GameModeName(v.mode) : "", v.level, v.Score(), v.p1Score,
                                                 v.p2Score, v.ticks, v.verified ? v.game : "", job.id});
    if (!finish->Ok()) {
      // The same game verified by another server a moment ago: this job is left
      // pending and, taken again, refused as the game already on the board.
      if (finish->State() == kUniqueViolation) ServerLog("Board: replay ", job.id, " met its twin; checking it again");
      return Rollback(finish->Error());
    }
    if (!worker_.Exec("COMMIT", error)) return Fail(error);
    return Finished{job.id, job.name, verdict};
  }

  std::vector<BoardEntry> Top(GameMode mode, Period period, int limit, int64_t now) override {
    const auto api = requests_.Take();
    const bool week = period == Period::ThisWeek;
    std::vector<Param> params{GameModeName(mode)};
    if (week) params.emplace_back(WeekOf(now));
    params.emplace_back(limit);
    return Entries(*api->Run(std::string("SELECT ") + kEntryColumns +
                                 " FROM submissions WHERE status = 'verified' AND mode = ?" +
                                 (week ? " AND week = ?" : "") + " ORDER BY score DESC, id LIMIT ?",
                             params));
  }

  std::vector<BoardEntry> OfPlayer(const std::string& name, int limit) override {
    const auto api = requests_.Take();
    return Entries(*api->Run(std::string("SELECT ") + kEntryColumns +
                                 " FROM submissions WHERE status = 'verified' AND name = ? ORDER BY score DESC, id LIMIT ?",
                             {name, limit}));
  }

  std::vector<int64_t> Spread(GameMode mode, int bins, int& best) override {
    const auto api = requests_.Take();
    std::vector<int64_t> counts(static_cast<size_t>(bins), 0);
    const auto top = api->Run("SELECT COALESCE(MAX(score), 0) FROM submissions WHERE status = 'verified' AND mode = ?",
                              {GameModeName(mode)});
    best = top->Rows() == 1 ? static_cast<int>(top->Int(0, 0)) : 0;
    std::string sql = kSpreadSql;
    sql.replace(sql.find("MIN("), 4, "LEAST(");
    const auto rows = api->Run(sql, {bins, std::max(best, 1), bins - 1, GameModeName(mode)});
    for (int i = 0; i < rows->Rows(); ++i) {
      const int64_t bin = rows->Int(i, 0);
      if (bin >= 0 && bin < bins) counts[static_cast<size_t>(bin)] = rows->Int(i, 1);
    }
    return counts;
  }

  std::string ReplayFile(int64_t id) override {
    const auto api = requests_.Take();
    const auto r = api->Run("SELECT replay FROM submissions WHERE id = ? AND status = 'verified'", {id}, true);
    return r->Rows() == 1 ? r->Text(0, 0) : "";
  }

  int64_t Pending() override {
    const auto api = requests_.Take();
    const auto r = api->Run("SELECT COUNT(*) FROM submissions WHERE status = 'pending'");
    return r->Rows() == 1 ? r->Int(0, 0) : 0;
  }

 private:
  std::nullopt_t Fail(const std::string& error) {
    ServerLog("Board: the database refused a verdict: ", error);
    return std::nullopt;
  }
  std::nullopt_t Rollback(const std::string& error) {
    std::string ignored;
    worker_.Exec("ROLLBACK", ignored);
    return Fail(error);
  }

  static bool Migrate(Connection& api, std::string& error) {
    for (const Migration& step : BoardMigrations()) {
      if (!api.Exec("BEGIN", error)) return false;
      const auto lock = api.Run("SELECT pg_advisory_xact_lock(" + std::to_string(kMigrationLock) + ")");
      const bool ready = lock->Ok() && api.Exec("CREATE TABLE IF NOT EXISTS board_schema (version INTEGER NOT NULL)", error);
      const auto at = api.Run("SELECT COALESCE(MAX(version), 0) FROM board_schema");
      if (!ready || at->Rows() != 1) {
        if (!lock->Ok()) error = lock->Error();
        std::string ignored;
        api.Exec("ROLLBACK", ignored);
        return false;
      }
      if (at->Int(0, 0) >= step.version) {
        api.Exec("COMMIT", error);
        continue;
      }
      if (!api.Exec(SpellMigration(step.sql, "BIGINT GENERATED ALWAYS AS IDENTITY PRIMARY KEY", "BYTEA"), error) ||
          !api.Exec("INSERT INTO board_schema (version) VALUES (" + std::to_string(step.version) + ")", error)) {
        std::string ignored;
        api.Exec("ROLLBACK", ignored);
        error = "schema step " + std::to_string(step.version) + ": " + error;
        return false;
      }
      if (!api.Exec("COMMIT", error)) return false;
      ServerLog("Board: database schema at version ", step.version);
    }
    return true;
  }

  static int64_t Count(Connection& api, const std::string& mode, int64_t week, bool ranked, int score, int64_t id) {
    std::vector<Param> params{mode};
    if (week != 0) params.emplace_back(week);
    if (ranked) params.insert(params.end(), {score, score, id});
    const auto r = api.Run(std::string("SELECT COUNT(*) FROM submissions WHERE status = 'verified' AND mode = ?") +
                                (week != 0 ? " AND week = ?" : "") + (ranked ? kAboveSql : ""),
                            params);
    return r->Rows() == 1 ? r->Int(0, 0) : 0;
  }

  static std::vector<BoardEntry> Entries(const Result& rows) {
    std::vector<BoardEntry> entries;
    for (int i = 0; i < rows.Rows(); ++i) {
      BoardEntry e;
      e.id = rows.Int(i, 0);
      e.name = rows.Text(i, 1);
      e.score = static_cast<int>(rows.Int(i, 2));
      e.level = static_cast<int>(rows.Int(i, 3));
      e.at = rows.Int(i, 4);
      GameModeFromName(rows.Text(i, 5), e.mode);
      entries.push_back(std::move(e));
    }
    return entries;
  }

  ConnectionPool requests_;  // the API's requests
  Connection worker_;        // the verifier's thread only
};

}  // namespace

std::unique_ptr<Store> OpenPostgresStore(const std::string& url, std::string& error) {
  auto store = std::make_unique<PostgresStore>();
  if (!store->Open(url, error)) return nullptr;
  return store;
}
