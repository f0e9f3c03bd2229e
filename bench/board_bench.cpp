// SPDX-License-Identifier: GPL-3.0-or-later
// The world score board's figures (docs/performance.md):
//
//   board_bench verify CHECKER FILE...
//     per replay: its ticks, re-runs per second on one core (per second of processor
//     time) in this process (decode, re-run, digest) and through the checker child
//     (fork, exec, limits, verdict: the server's and the child's processor time), ticks
//     per second, and the processor time one check in the child takes against the
//     limit the child gets for that many ticks;
//   board_bench query DATABASE STATE_DIR ROWS
//     fills the board (DATABASE: "" for SQLite in STATE_DIR, or a postgresql:// URL) with
//     ROWS verified scores and times the top-100 queries of every mode and period, and
//     a rank (p50 and p99 of 300 runs each, milliseconds).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <sqlite3.h>
#include <sys/resource.h>
#include <libpq-fe.h>
#include <string>
#include <vector>

#include "board_media.h"
#include "checker.h"
#include "replaycheck.h"
#include "store.h"
#include "verify.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

std::string ReadFile(const char* path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Processor time (user and system) of this process, or of the children waited for so
// far (seconds).
double CpuSeconds(int who) {
  rusage used{};
  getrusage(who, &used);
  return static_cast<double>(used.ru_utime.tv_sec + used.ru_stime.tv_sec) +
         static_cast<double>(used.ru_utime.tv_usec + used.ru_stime.tv_usec) / 1e6;
}
double CpuSecondsWithChildren() { return CpuSeconds(RUSAGE_SELF) + CpuSeconds(RUSAGE_CHILDREN); }

// Runs `work` until it has taken a second of processor time (at least `least` times);
// runs per processor second: the rate on one core, however busy the machine.
template <typename Work>
double Rate(Work work, int least) {
  const double began = CpuSecondsWithChildren();
  int runs = 0;
  while (runs < least || CpuSecondsWithChildren() - began < 1.0) {
    work();
    ++runs;
  }
  return runs / (CpuSecondsWithChildren() - began);
}

// Every replay is re-run as the checker re-runs it (games that were quit too, which the
// board refuses before their re-run); the whole check in a child (fork, exec, limits,
// decoding, re-run, digest, verdict) is timed for the ones that ended at time up.
int Verify(const char* checker, int count, char** files) {
  std::printf("%-36s %8s %12s %14s %12s %12s %8s\n", "replay", "ticks", "re-runs/s", "ticks/s", "checks/s",
              "CPU/check", "limit");
  RerunSetup setup;
  setup.banana = SpriteSize{kMediaBananaWidth, kMediaBananaHeight};
  setup.fly = SpriteSize{kMediaFlyWidth, kMediaFlyHeight};
  setup.mediaFingerprint = kMediaFingerprint;
  for (int i = 0; i < count; ++i) {
    const std::string bytes = ReadFile(files[i]);
    Replay replay;
    std::string error;
    if (!DecodeReplay(bytes, replay, error)) continue;
    const double reruns = Rate([&] { RerunReplay(replay, setup); }, 3);
    double checks = 0, cpu = 0;
    const Verdict verdict = CheckInChild(checker, bytes);
    if (verdict.verified) {
      const double before = CpuSeconds(RUSAGE_CHILDREN);
      int runs = 0;
      checks = Rate([&] { CheckInChild(checker, bytes), ++runs; }, 3);
      cpu = (CpuSeconds(RUSAGE_CHILDREN) - before) / runs;
    }
    std::string name = files[i];
    name = name.substr(name.rfind('/') + 1);
    std::printf("%-36s %8lld %12.1f %14.0f %12.1f %9.0f ms %6ld s %s\n", name.c_str(),
                static_cast<long long>(replay.summary.ticks), reruns, reruns * static_cast<double>(replay.summary.ticks),
                checks, 1000 * cpu, CpuSecondsFor(replay.summary.ticks),
                verdict.verified ? "" : ("(refused: " + verdict.reason.substr(0, 40) + ")").c_str());
  }
  return 0;
}

// ROWS verified scores, a year of them: the same statement for both databases.
std::string FillSql(long rows, int64_t now) {
  const std::string at = "(" + std::to_string(now) + " - (i * 37) % 31536000)";
  return "WITH RECURSIVE c(i) AS (SELECT CAST(1 AS BIGINT) UNION ALL SELECT i + 1 FROM c WHERE i < " + std::to_string(rows) +
         ") INSERT INTO submissions (name, address, submitted_at, week, replay, status, mode, level, score, p1,"
         " ticks, game, verifications) SELECT 'player' || (i % 50000), '192.0.2.1', " + at + ", " + at + " - ((" + at +
         " - 345600) % 604800), @BYTES@, 'verified', CASE i % 3 WHEN 0 THEN '1p' WHEN 1 THEN '2p' ELSE 'net' END,"
         " 1 + i % 12, (i * 7919) % 5000, (i * 7919) % 5000, 3301, 'g' || i, 1 FROM c";
}

bool Fill(const std::string& database, const std::string& stateDir, long rows, int64_t now) {
  std::string sql = FillSql(rows, now);
  if (database.empty()) {
    sql.replace(sql.find("@BYTES@"), 7, "x'00'");
    sqlite3* db = nullptr;
    if (sqlite3_open((stateDir + "/board.sqlite").c_str(), &db) != SQLITE_OK) return false;
    char* error = nullptr;
    const bool ok = sqlite3_exec(db, (sql + "; ANALYZE").c_str(), nullptr, nullptr, &error) == SQLITE_OK;
    if (!ok) std::fprintf(stderr, "%s\n", error);
    sqlite3_close(db);
    return ok;
  }
  sql.replace(sql.find("@BYTES@"), 7, "'\\x00'::bytea");
  PGconn* pg = PQconnectdb(database.c_str());
  PGresult* result = PQexec(pg, (sql + "; ANALYZE submissions").c_str());
  const bool ok = PQresultStatus(result) == PGRES_COMMAND_OK;
  if (!ok) std::fprintf(stderr, "%s\n", PQresultErrorMessage(result));
  PQclear(result);
  PQfinish(pg);
  return ok;
}

template <typename Work>
void Time(const char* what, Work work) {
  std::vector<double> ms;
  for (int i = 0; i < 300; ++i) {
    const auto began = Clock::now();
    work();
    ms.push_back(1000 * Seconds(began));
  }
  std::sort(ms.begin(), ms.end());
  std::printf("%-28s p50 %7.3f ms   p99 %7.3f ms\n", what, ms[ms.size() / 2], ms[ms.size() * 99 / 100]);
}

int Query(const std::string& database, const std::string& stateDir, long rows) {
  std::string error;
  auto store = OpenStore(database, stateDir, error);
  if (!store) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  const int64_t now = static_cast<int64_t>(std::time(nullptr));
  const auto began = Clock::now();
  if (!Fill(database, stateDir, rows, now)) return 1;
  std::printf("%ld scores stored in %.1f s (%s)\n", rows, Seconds(began), database.empty() ? "SQLite" : "PostgreSQL");
  for (GameMode mode : {GameMode::OnePlayer, GameMode::TwoPlayers, GameMode::Network}) {
    for (Period period : {Period::AllTime, Period::ThisWeek}) {
      const std::string what = std::string("top 100, ") + GameModeName(mode) + (period == Period::AllTime ? ", all" : ", week");
      size_t got = 0;
      Time(what.c_str(), [&] { got = store->Top(mode, period, 100, now).size(); });
      if (got != 100) std::printf("  (only %zu rows)\n", got);
    }
  }
  int best = 0;
  Time("spread chart, 1p", [&] { store->Spread(GameMode::OnePlayer, 20, best); });
  Time("one player's page", [&] { store->OfPlayer("player123", 100); });
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string what = argc > 1 ? argv[1] : "";
  if (what == "verify" && argc >= 4) return Verify(argv[2], argc - 3, argv + 3);
  if (what == "query" && argc == 5) return Query(argv[2], argv[3], std::strtol(argv[4], nullptr, 10));
  std::fprintf(stderr, "usage: board_bench verify CHECKER FILE... | query DATABASE STATE_DIR ROWS\n");
  return 2;
}
