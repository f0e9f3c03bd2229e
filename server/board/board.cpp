// SPDX-License-Identifier: GPL-3.0-or-later
#include "board.h"

#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <ctime>
#include <mutex>
#include <nlohmann/json.hpp>
#include <thread>
#include <unordered_map>

#include "checker.h"
#include "log.h"
#include "name.h"
#include "page.h"
#include "store.h"

namespace {

constexpr size_t kMaxReplayBytes = 1 << 20;   // a replay file is never larger (bytes)
constexpr int kTopLimit = 100;                // the longest list the API gives
constexpr int kPlayerLimit = 100;
constexpr int kSpreadBins = 20;
constexpr int64_t kSpreadSeconds = 60;        // how long a chart's counts are shown before they are counted again
constexpr int kIoTimeoutSeconds = 10;
constexpr int kIdleWaitMs = 1000;             // the verifier looks for work at least this often
constexpr size_t kMaxRateEntries = 100000;    // addresses the rate limit remembers
constexpr const char* kJson = "application/json";

int64_t Now() { return static_cast<int64_t>(std::time(nullptr)); }

// The HTTP library listens with a backlog of 5 connections: a burst of clients beyond it
// (20 players' games at once) sees its connections dropped and tried again a second
// later. Listening again on the same socket widens the queue (Linux takes a new backlog
// for a listening socket); the socket is the one listening on `port`.
void WidenBacklog(uint16_t port) {
  for (int fd = 3; fd < 1024; ++fd) {
    int listening = 0;
    socklen_t size = sizeof listening;
    if (getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &listening, &size) != 0 || !listening) continue;
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) continue;
    const uint16_t bound = address.ss_family == AF_INET6 ? ntohs(reinterpret_cast<sockaddr_in6*>(&address)->sin6_port)
                                                         : ntohs(reinterpret_cast<sockaddr_in*>(&address)->sin_port);
    if (bound == port) listen(fd, SOMAXCONN);
  }
}

// Submissions per address: a bucket of `perMinute` that refills evenly over a minute.
class RateLimit {
 public:
  explicit RateLimit(uint32_t perMinute) : capacity_(perMinute) {}

  bool Take(const std::string& address) {
    const auto now = std::chrono::steady_clock::now();
    std::lock_guard<std::mutex> hold(mutex_);
    if (buckets_.size() > kMaxRateEntries) Forget(now);
    auto [bucket, fresh] = buckets_.try_emplace(address, Bucket{capacity_, now});
    if (!fresh) Refill(bucket->second, now);
    if (bucket->second.tokens < 1) return false;
    bucket->second.tokens -= 1;
    return true;
  }

 private:
  struct Bucket {
    double tokens;
    std::chrono::steady_clock::time_point at;
  };
  void Refill(Bucket& bucket, std::chrono::steady_clock::time_point now) const {
    const double minutes = std::chrono::duration<double>(now - bucket.at).count() / 60;
    bucket.tokens = std::min(capacity_, bucket.tokens + minutes * capacity_);
    bucket.at = now;
  }
  // Drops the buckets that are full again (nothing to remember).
  void Forget(std::chrono::steady_clock::time_point now) {
    for (auto it = buckets_.begin(); it != buckets_.end();) {
      Refill(it->second, now);
      it = it->second.tokens >= capacity_ ? buckets_.erase(it) : std::next(it);
    }
  }
  double capacity_;
  std::mutex mutex_;
  std::unordered_map<std::string, Bucket> buckets_;
};

void Answer(httplib::Response& res, int status, const nlohmann::json& body) {
  res.status = status;
  res.set_content(body.dump(), kJson);
}

void Refuse(httplib::Response& res, int status, const std::string& reason) {
  Answer(res, status, {{"status", "refused"}, {"reason", reason}});
}

// A decimal id of at most 18 digits; 0 when `text` is none.
int64_t ParseId(const std::string& text) {
  if (text.empty() || text.size() > 18) return 0;
  int64_t id = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return 0;
    id = id * 10 + (c - '0');
  }
  return id;
}

nlohmann::json EntryJson(const BoardEntry& e, int64_t place) {
  return {{"rank", place},          {"id", e.id},        {"name", e.name},
          {"score", e.score},       {"level", e.level},  {"date", DateOf(e.at)},
          {"mode", GameModeName(e.mode)}, {"replay", "/replays/" + std::to_string(e.id) + ".nsr"}};
}

class Board : public Service {
 public:
  explicit Board(const ServerOptions& options)
      : options_(options), limit_(options.submissionsPerMinute), checker_(CheckerBesideServer()) {}

  const char* Name() const override { return "board"; }

  bool Start(std::string& error) override {
    store_ = OpenStore(options_.database, options_.stateDir, error);
    if (!store_) return false;
    Route();
    if (!http_.bind_to_port(options_.listen.c_str(), options_.httpPort)) {
      error = "cannot listen on TCP " + options_.listen + " port " + std::to_string(options_.httpPort);
      return false;
    }
    WidenBacklog(options_.httpPort);
    listener_ = std::thread([this] { http_.listen_after_bind(); });
    worker_ = std::thread([this] { Verify(); });
    ServerLog("Board: listening on TCP ", options_.listen, " port ", options_.httpPort, ", ",
              options_.database.empty() ? "SQLite in " + options_.stateDir : std::string("PostgreSQL"), ", ",
              store_->Pending(), " replays waiting", VerifierAvailable() ? "" : " (NO REPLAY CHECKER: nothing is verified)");
    return true;
  }

  void Stop() override {
    http_.stop();
    if (listener_.joinable()) listener_.join();
    {
      std::lock_guard<std::mutex> hold(wakeMutex_);
      stopping_ = true;
    }
    wake_.notify_all();
    if (worker_.joinable()) worker_.join();
    store_.reset();
  }

 private:
  void Route() {
    http_.set_payload_max_length(kMaxReplayBytes);
    http_.set_read_timeout(kIoTimeoutSeconds, 0);
    http_.set_write_timeout(kIoTimeoutSeconds, 0);
    http_.set_error_handler([](const httplib::Request&, httplib::Response& res) {
      if (res.status == 413) Refuse(res, 413, "the file is over 1 MB");
    });
    http_.Post("/api/replays", [this](const httplib::Request& req, httplib::Response& res) { Submit(req, res); });
    http_.Get(R"(/api/replays/(\d+))", [this](const httplib::Request& req, httplib::Response& res) { Status(req, res); });
    http_.Get("/api/scores", [this](const httplib::Request& req, httplib::Response& res) { Scores(req, res); });
    http_.Get(R"(/replays/(\d+)\.nsr)", [this](const httplib::Request& req, httplib::Response& res) { File(req, res); });
    http_.Get("/", [this](const httplib::Request&, httplib::Response& res) { Page(res); });
    http_.Get("/player", [this](const httplib::Request& req, httplib::Response& res) { Player(req, res); });
  }

  // The sender: a proxy on this machine names the client in X-Real-IP.
  static std::string AddressOf(const httplib::Request& req) {
    const bool local = req.remote_addr == "127.0.0.1" || req.remote_addr == "::1";
    if (local && req.has_header("X-Real-IP")) return req.get_header_value("X-Real-IP").substr(0, 64);
    return req.remote_addr;
  }

  void Submit(const httplib::Request& req, httplib::Response& res) {
    const std::string address = AddressOf(req);
    const std::string name = req.get_param_value("name");
    if (!limit_.Take(address)) {
      res.set_header("Retry-After", "60");
      ServerLog("Board: refused a replay from ", address, ": too many from this address");
      return Refuse(res, 429, "too many replays from this address; try again in a minute");
    }
    const std::string problem = NameProblem(name);
    if (!problem.empty()) return Refuse(res, 400, problem);
    if (req.body.empty()) return Refuse(res, 400, "no replay was sent");
    if (req.body.size() > kMaxReplayBytes) return Refuse(res, 413, "the file is over 1 MB");
    std::string error;
    const int64_t id = store_->Submit({name, address, req.body, Now()}, error);
    if (id == 0) {
      ServerLog("Board: could not store a replay from ", address, ": ", error);
      return Refuse(res, 503, "the board cannot store replays just now");
    }
    ServerLog("Board: replay ", id, " from ", address, " for \"", name, "\" (", req.body.size(), " bytes) waits");
    wake_.notify_one();
    Answer(res, 202, {{"id", id}, {"status", "pending"}});
  }

  void Status(const httplib::Request& req, httplib::Response& res) {
    const auto state = store_->State(ParseId(req.matches[1]));
    if (!state) return Answer(res, 404, {{"error", "no such replay"}});
    nlohmann::json body = {{"id", state->id}, {"status", SubmissionStatusName(state->status)},
                           {"reason", state->reason}, {"rank", nullptr}};
    if (state->status == SubmissionStatus::Verified) {
      body["rank"] = state->rank;
      body["of"] = state->total;
      body["week_rank"] = state->weekRank;
      body["week_of"] = state->weekTotal;
      body["mode"] = GameModeName(state->mode);
      body["score"] = state->score;
    }
    Answer(res, 200, body);
  }

  void Scores(const httplib::Request& req, httplib::Response& res) {
    GameMode mode = GameMode::OnePlayer;
    if (req.has_param("mode") && !GameModeFromName(req.get_param_value("mode"), mode)) {
      return Answer(res, 400, {{"error", "mode is 1p, 2p or net"}});
    }
    const std::string period = req.has_param("period") ? req.get_param_value("period") : "all";
    if (period != "all" && period != "week") return Answer(res, 400, {{"error", "period is all or week"}});
    int64_t limit = kTopLimit;
    if (req.has_param("limit")) limit = ParseId(req.get_param_value("limit"));
    if (limit < 1 || limit > kTopLimit) return Answer(res, 400, {{"error", "limit is 1 to 100"}});
    const auto entries = store_->Top(mode, period == "week" ? Period::ThisWeek : Period::AllTime,
                                     static_cast<int>(limit), Now());
    nlohmann::json list = nlohmann::json::array();
    for (size_t i = 0; i < entries.size(); ++i) list.push_back(EntryJson(entries[i], static_cast<int64_t>(i + 1)));
    Answer(res, 200, list);
  }

  void File(const httplib::Request& req, httplib::Response& res) {
    const int64_t id = ParseId(req.matches[1]);
    std::string bytes = store_->ReplayFile(id);
    if (bytes.empty()) return Answer(res, 404, {{"error", "no such replay on the board"}});
    res.set_header("Content-Disposition", "attachment; filename=\"nanasplat-" + std::to_string(id) + ".nsr\"");
    res.set_content(std::move(bytes), "application/octet-stream");
  }

  void Page(httplib::Response& res) {
    std::vector<BoardTables> tables;
    const int64_t now = Now();
    for (GameMode mode : {GameMode::OnePlayer, GameMode::TwoPlayers, GameMode::Network}) {
      BoardTables t{mode, store_->Top(mode, Period::AllTime, kTopLimit, now),
                    store_->Top(mode, Period::ThisWeek, kTopLimit, now), {}, 0};
      SpreadOf(mode, now, t.spread, t.best);
      tables.push_back(std::move(t));
    }
    res.set_content(BoardPage(tables), "text/html; charset=utf-8");
  }

  // The chart reads every score of a mode: it is counted again at most once a minute.
  void SpreadOf(GameMode mode, int64_t now, std::vector<int64_t>& bins, int& best) {
    std::lock_guard<std::mutex> hold(spreadMutex_);
    Spread& cached = spreads_[static_cast<int>(mode)];
    if (cached.at == 0 || now - cached.at >= kSpreadSeconds || now < cached.at) {
      cached.bins = store_->Spread(mode, kSpreadBins, cached.best);
      cached.at = now;
    }
    bins = cached.bins;
    best = cached.best;
  }

  void Player(const httplib::Request& req, httplib::Response& res) {
    const std::string name = req.get_param_value("name");
    if (!NameProblem(name).empty()) {
      res.status = 404;
      return res.set_content(PlayerPage("", {}), "text/html; charset=utf-8");
    }
    res.set_content(PlayerPage(name, store_->OfPlayer(name, kPlayerLimit)), "text/html; charset=utf-8");
  }

  // The verifier: one job at a time, each in a child process.
  void Verify() {
    for (;;) {
      {
        std::lock_guard<std::mutex> hold(wakeMutex_);
        if (stopping_) return;
      }
      if (const auto done = store_->VerifyNext(&Board::CheckJob, this)) {
        LogVerdict(*done);
        continue;
      }
      std::unique_lock<std::mutex> hold(wakeMutex_);
      wake_.wait_for(hold, std::chrono::milliseconds(kIdleWaitMs), [this] { return stopping_; });
    }
  }

  static Verdict CheckJob(const Job& job, void* context) {
    Board* board = static_cast<Board*>(context);
    const auto began = std::chrono::steady_clock::now();
    Verdict verdict = CheckInChild(board->checker_, job.replay);
    board->checkMs_ = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - began).count();
    return verdict;
  }

  void LogVerdict(const Finished& done) const {
    const Verdict& v = done.verdict;
    if (v.verified) {
      ServerLog("Board: replay ", done.id, " for \"", done.name, "\" verified in ", checkMs_, " ms: ", GameModeName(v.mode),
                ", level ", v.level, ", ", v.Score(), " points, ", v.ticks, " ticks");
    } else {
      ServerLog("Board: replay ", done.id, " for \"", done.name, "\" refused in ", checkMs_, " ms: ", v.reason);
    }
  }

  ServerOptions options_;
  RateLimit limit_;
  std::string checker_;
  std::unique_ptr<Store> store_;
  httplib::Server http_;
  std::thread listener_;
  std::thread worker_;
  std::mutex wakeMutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  int64_t checkMs_ = 0;  // the last re-run's wall time (worker thread only; milliseconds)
  struct Spread {
    int64_t at = 0;  // when it was counted (seconds since 1970); 0: never
    std::vector<int64_t> bins;
    int best = 0;
  };
  std::mutex spreadMutex_;
  Spread spreads_[3];  // by GameMode
};

}  // namespace

std::unique_ptr<Service> MakeBoardService(const ServerOptions& options) { return std::make_unique<Board>(options); }
