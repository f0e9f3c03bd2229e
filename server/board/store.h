// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Where the board keeps its submissions and scores: SQLite in the state directory by
// default, PostgreSQL when the server is given a postgresql:// URL. Both hold the same
// schema, built by the same numbered migrations (migrations.h), and answer the same
// queries. Every call is one transaction; a call that returns true has committed
// durably. Calls are safe from any thread.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "verify.h"

enum class SubmissionStatus { Pending, Verified, Refused };
const char* SubmissionStatusName(SubmissionStatus status);

// One replay sent to the board.
struct NewSubmission {
  std::string name;     // as it will be shown (checked: name.h)
  std::string address;  // the sender's IP address
  std::string replay;   // the file's bytes
  int64_t at = 0;       // seconds since 1970 (UTC)
};

struct SubmissionState {
  int64_t id = 0;
  SubmissionStatus status = SubmissionStatus::Pending;
  std::string reason;   // for Refused
  int64_t rank = 0;     // for Verified: place among all games of its mode (1: best)
  int64_t weekRank = 0; // and among this week's
  int64_t total = 0;    // games of its mode on the board
  int64_t weekTotal = 0;
  GameMode mode = GameMode::OnePlayer;
  int score = 0;
};

// One line of the board.
struct BoardEntry {
  int64_t id = 0;
  std::string name;
  int score = 0;
  int level = 0;
  int64_t at = 0;  // seconds since 1970 (UTC): when it was sent
  GameMode mode = GameMode::OnePlayer;
};

enum class Period { AllTime, ThisWeek };

// A job the verifier has taken: the replay and who sent it.
struct Job {
  int64_t id = 0;
  std::string name;
  std::string replay;
};

struct Finished {
  int64_t id = 0;
  std::string name;
  Verdict verdict;
};

class Store {
 public:
  virtual ~Store() = default;
  // Stores a submission as pending; its id, or 0 (with `error`) when it is not stored.
  virtual int64_t Submit(const NewSubmission& submission, std::string& error) = 0;
  virtual std::optional<SubmissionState> State(int64_t id) = 0;
  // Takes the oldest pending job, runs `verify` on it and stores what it returns (or the
  // refusal of a game already on the board), as one unit: a job is finished exactly
  // once, however many workers share the store and whichever of them dies half-way.
  // The job finished and its verdict as stored; nothing when no job was pending (or the
  // database failed: logged).
  virtual std::optional<Finished> VerifyNext(Verdict (*verify)(const Job& job, void* context), void* context) = 0;
  virtual std::vector<BoardEntry> Top(GameMode mode, Period period, int limit, int64_t now) = 0;
  virtual std::vector<BoardEntry> OfPlayer(const std::string& name, int limit) = 0;
  // The verified scores of a mode, counted in `bins` equal bins from 0 to the best.
  virtual std::vector<int64_t> Spread(GameMode mode, int bins, int& best) = 0;
  // The replay of a verified game; empty when there is none.
  virtual std::string ReplayFile(int64_t id) = 0;
  // Pending jobs.
  virtual int64_t Pending() = 0;
};

// "" (SQLite, `stateDir`/board.sqlite; the directory is made when missing) or a
// postgresql:// URL. Null, with `error`,
// when it cannot be opened or migrated.
std::unique_ptr<Store> OpenStore(const std::string& database, const std::string& stateDir, std::string& error);

// The Monday 00:00 UTC that begins the week holding `at` (seconds since 1970).
int64_t WeekOf(int64_t at);
