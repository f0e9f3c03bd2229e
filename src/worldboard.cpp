// SPDX-License-Identifier: GPL-3.0-or-later
#include "worldboard.h"

#include <curl/curl.h>
#include <dirent.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>
#include <vector>

#include "debug.h"
#include "highscores.h"
#include "replay.h"
#include "settings.h"
#include "userdata.h"

#ifndef NANASPLAT_VERSION
#define NANASPLAT_VERSION "unknown"
#endif

namespace {

constexpr const char* kQueueDirectory = "to-send";  // in the replays' directory
constexpr const char* kQueuedSuffix = ".nsq";       // the name's line, then the replay's bytes
constexpr long kConnectTimeoutMs = 5000;
constexpr long kTransferTimeoutMs = 15000;
constexpr long kDownloadTimeoutMs = 60000;
constexpr int kVerdictPollMs = 500;
constexpr int kVerdictWaitMs = 30000;        // how long the sender asks after a game it sent
constexpr size_t kMaxAnswerBytes = 64 * 1024;
constexpr size_t kMaxQueuedNameBytes = 1024;  // the name's line a queued game may hold beside its replay

// --- One request ------------------------------------------------------------

struct Answer {
  long status = 0;     // HTTP status; 0: no answer
  std::string body;    // at most `limit` bytes
  std::string error;   // why there was no answer
  size_t limit = kMaxAnswerBytes;
  bool tooLong = false;
};

std::atomic<bool> stopping{false};

size_t Collect(char* data, size_t size, size_t count, void* context) {
  Answer& answer = *static_cast<Answer*>(context);
  const size_t n = size * count;
  if (answer.body.size() + n > answer.limit) {
    answer.tooLong = true;
    return 0;  // ends the transfer
  }
  answer.body.append(data, n);
  return n;
}

int Progress(void*, curl_off_t, curl_off_t, curl_off_t, curl_off_t) { return stopping ? 1 : 0; }

// GET (no body) or POST `body` to `url`; HTTPS with the system's certificates.
Answer Request(const std::string& url, const std::string* body, long timeoutMs, size_t limit = kMaxAnswerBytes) {
  Answer answer;
  answer.limit = limit;
  CURL* curl = curl_easy_init();
  if (curl == nullptr) {
    answer.error = "no HTTP client";
    return answer;
  }
  char error[CURL_ERROR_SIZE] = "";
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, kConnectTimeoutMs);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, timeoutMs);
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, error);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Collect);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &answer);
  curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, Progress);
  curl_easy_setopt(curl, CURLOPT_USERAGENT, "nanasplat/" NANASPLAT_VERSION);
  curl_slist* headers = nullptr;
  if (body != nullptr) {
    headers = curl_slist_append(headers, "Content-Type: application/octet-stream");
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body->data());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body->size()));
  }
  const CURLcode code = curl_easy_perform(curl);
  if (code == CURLE_OK) {
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &answer.status);
  } else {
    answer.error = answer.tooLong ? "the answer is too long" : error[0] != '\0' ? error : curl_easy_strerror(code);
  }
  curl_slist_free_all(headers);
  curl_easy_cleanup(curl);
  return answer;
}

// libcurl (7.82 on) escapes without a handle.
std::string Escaped(const std::string& text) {
  char* escaped = curl_easy_escape(nullptr, text.data(), static_cast<int>(text.size()));
  const std::string out = escaped != nullptr ? escaped : "";
  curl_free(escaped);
  return out;
}

// --- The queue --------------------------------------------------------------

std::string QueueDirectory() { return ReplayDirectory() + "/" + kQueueDirectory; }

// The queued games, oldest first (their names are the times they were queued).
std::vector<std::string> QueuedGames() {
  std::vector<std::string> files;
  DIR* dir = opendir(QueueDirectory().c_str());
  if (dir == nullptr) return files;
  while (const dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name.size() > 4 && name.compare(name.size() - 4, 4, kQueuedSuffix) == 0) files.push_back(name);
  }
  closedir(dir);
  std::sort(files.begin(), files.end());
  return files;
}

struct QueuedGame {
  std::string name;
  std::string replay;
};

bool ReadQueued(const std::string& path, QueuedGame& game) {
  std::string bytes, error;
  if (!ReadFileBounded(path, kMaxReplayFileBytes + kMaxQueuedNameBytes, bytes, error)) return false;
  const size_t line = bytes.find('\n');
  if (line == std::string::npos) return false;
  game.name = bytes.substr(0, line);
  game.replay = bytes.substr(line + 1);
  return true;
}

// --- The sender -------------------------------------------------------------

struct Sender {
  std::mutex mutex;
  std::condition_variable wake;
  std::string base;            // the board's address without a trailing "/" (set once at start)
  std::vector<QueuedGame> offered;  // games handed over, not yet in the queue
  std::string worldLine;       // for the table's screen
  std::string waitingFor;      // the queue file of the game last offered (sender thread only)
  std::string lastOffered;     // its bytes, so that a game is sent once
  bool started = false;        // StartWorldBoard has run (main thread only)
  std::thread thread;
};
Sender sender;

std::string WorldText(const BoardAnswer& state) {
  return "World: " + Ordinal(state.rank) + " of " + Thousands(state.of) + " (this week: " +
         Ordinal(state.weekRank) + ")";
}

// Asks after a game sent until the board has decided or the wait is over.
void FollowVerdict(const std::string& base, long long id) {
  const std::string url = base + "/api/replays/" + std::to_string(id);
  for (int waited = 0; waited < kVerdictWaitMs && !stopping; waited += kVerdictPollMs) {
    std::this_thread::sleep_for(std::chrono::milliseconds(kVerdictPollMs));
    const Answer answer = Request(url, nullptr, kTransferTimeoutMs);
    if (answer.status != 200) continue;
    const BoardAnswer state = ReadBoardAnswer(answer.body);
    if (state.status == "verified") {
      const std::string line = WorldText(state);
      LOG("World board: replay ", id, " verified: ", line);
      std::lock_guard<std::mutex> hold(sender.mutex);
      sender.worldLine = line;
      return;
    }
    if (state.status == "refused") {
      LOG("World board: replay ", id, " refused: ", state.reason.empty() ? "no reason given" : state.reason);
      return;
    }
  }
}

// Sends one queued game; false when the board could not be reached (it stays queued).
bool SendQueued(const std::string& base, const std::string& file, bool follow) {
  const std::string path = QueueDirectory() + "/" + file;
  QueuedGame game;
  if (!ReadQueued(path, game)) {
    LOG("World board: dropped the unreadable queued game ", file);
    unlink(path.c_str());
    return true;
  }
  const Answer answer = Request(base + "/api/replays?name=" + Escaped(game.name), &game.replay, kTransferTimeoutMs);
  const BoardAnswer said = ReadBoardAnswer(answer.body);
  if (answer.status == 202 && said.id > 0) {
    unlink(path.c_str());
    LOG("World board: sent the game of \"", game.name, "\" to ", base, " (replay ", said.id,
        ", waiting to be verified)");
    if (follow) FollowVerdict(base, said.id);
    return true;
  }
  const std::string& reason = said.reason;
  if (answer.status == 400 || answer.status == 413) {  // the board will never take it
    unlink(path.c_str());
    LOG("World board: ", base, " refused the game of \"", game.name, "\": ", reason.empty() ? "no reason given" : reason);
    return true;
  }
  const std::string why = answer.status != 0 ? "HTTP " + std::to_string(answer.status) + (reason.empty() ? "" : ": " + reason)
                                             : answer.error;
  LOG("World board: could not send the game of \"", game.name, "\" to ", base, " (", why, "); ",
      QueuedGames().size(), " waiting for the next start");
  return false;
}

void SendAll() {
  for (const std::string& file : QueuedGames()) {
    if (stopping || !SendQueued(sender.base, file, file == sender.waitingFor)) return;
  }
}

// Writes the games handed over into the queue (the last one is followed to its verdict),
// then keeps at most kMaxQueuedGames, dropping the oldest.
void QueueOffered() {
  std::vector<QueuedGame> offered;
  {
    std::lock_guard<std::mutex> hold(sender.mutex);
    offered.swap(sender.offered);
  }
  static int made = 0;  // games queued in this run: two in one millisecond keep two names
  for (const QueuedGame& game : offered) {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::system_clock::now().time_since_epoch()).count();
    char serial[8];
    std::snprintf(serial, sizeof serial, "-%04d", ++made % 10000);
    const std::string file = std::to_string(ms) + serial + kQueuedSuffix;
    std::string failure;
    if (!MakeDirectories(QueueDirectory()) ||
        !WriteFileAtomically(QueueDirectory() + "/" + file, game.name + "\n" + game.replay, &failure)) {
      LOG("World board: could not keep the game of \"", game.name, "\" in ", QueueDirectory(), " (", failure, ")");
      continue;
    }
    sender.waitingFor = file;
  }
  const std::vector<std::string> files = QueuedGames();
  for (size_t i = 0; i + kMaxQueuedGames < files.size(); ++i) {
    unlink((QueueDirectory() + "/" + files[i]).c_str());
    LOG("World board: the queue is full; dropped the oldest game waiting (", files[i], ")");
  }
}

void Run() {
  SendAll();
  for (;;) {
    {
      std::unique_lock<std::mutex> hold(sender.mutex);
      sender.wake.wait(hold, [] { return !sender.offered.empty() || stopping; });
    }
    QueueOffered();  // also when stopping: a game handed over is never lost
    if (stopping) return;
    SendAll();
  }
}

void StopSender() {
  {
    std::lock_guard<std::mutex> hold(sender.mutex);
    stopping = true;
  }
  sender.wake.notify_all();
  if (sender.thread.joinable()) sender.thread.join();
}

// One field of a board's answer; `fallback` when the answer is no object or the field is
// missing or of another kind, so that nothing a board sends stops the sender.
template <typename T>
T Field(const nlohmann::json& answer, const char* key, T fallback) {
  try {
    return answer.value(key, fallback);
  } catch (const nlohmann::json::exception&) {
    return fallback;
  }
}

bool IsHttp(const std::string& text) { return text.rfind("http://", 0) == 0 || text.rfind("https://", 0) == 0; }

std::string LoginName() {
  const passwd* entry = getpwuid(getuid());
  if (entry != nullptr && entry->pw_name != nullptr && entry->pw_name[0] != '\0') return entry->pw_name;
  const char* user = std::getenv("USER");
  return user != nullptr && *user != '\0' ? user : "player";
}

}  // namespace

bool IsWorldBoardUrl(const std::string& text) {
  if (text.size() > kMaxWorldBoardUrlBytes || !IsHttp(text)) return false;
  for (unsigned char c : text) {
    if (c <= ' ' || c >= 0x7f) return false;
  }
  return text.find("://") + 3 < text.size();
}

BoardAnswer ReadBoardAnswer(const std::string& body) {
  const nlohmann::json answer = nlohmann::json::parse(body, nullptr, false);
  return {Field(answer, "id", 0LL),   Field(answer, "status", std::string()),
          Field(answer, "reason", std::string()), Field(answer, "rank", 0LL),
          Field(answer, "of", 0LL),   Field(answer, "week_rank", 0LL)};
}

std::string Thousands(long long n) {
  std::string digits = std::to_string(n);
  for (int at = static_cast<int>(digits.size()) - 3; at > (n < 0 ? 1 : 0); at -= 3) digits.insert(static_cast<size_t>(at), ",");
  return digits;
}

std::string Ordinal(long long n) {
  static const char* const kSuffixes[] = {"th", "st", "nd", "rd"};  // by last digit
  const long long lastTwo = (n < 0 ? -n : n) % 100;
  const bool teen = lastTwo >= 11 && lastTwo <= 13;
  return Thousands(n) + (teen || lastTwo % 10 > 3 ? "th" : kSuffixes[lastTwo % 10]);
}

void StartWorldBoard(const std::string& url) {
  sender.started = true;
  if (url.empty() || sender.thread.joinable()) return;
  if (!IsWorldBoardUrl(url)) {
    LOG("World board: \"", url.substr(0, 80), "\" is no http:// or https:// address; no games are sent");
    return;
  }
  curl_global_init(CURL_GLOBAL_DEFAULT);
  sender.base = url.substr(0, url.find_last_not_of('/') + 1);
  LOG("World board: games ended at time up go to ", url, " (", QueuedGames().size(), " waiting)");
  sender.thread = std::thread(Run);
  std::atexit(StopSender);
}

ScoreScreenCalls WorldBoardScoreCalls(std::optional<Replay> offered, std::function<void()> serve) {
  ScoreScreenCalls calls;
  calls.serve = std::move(serve);
  if (!sender.started) return calls;
  calls.tableDone = [offered = std::move(offered)](const std::string& name) {
    if (CurrentSettings().playerName != name) ChangeSetting(&Settings::playerName, name);
    if (offered) OfferGameToWorldBoard(*offered);
  };
  calls.worldLine = WorldBoardLine;
  return calls;
}

void OfferGameToWorldBoard(const Replay& record) {
  if (!sender.thread.joinable() || !record.summary.timeUp) return;
  std::string bytes = EncodeReplay(record);
  {
    std::lock_guard<std::mutex> hold(sender.mutex);
    if (bytes == sender.lastOffered) return;
    sender.lastOffered = bytes;
    sender.worldLine.clear();
    sender.offered.push_back({WorldBoardName(), std::move(bytes)});
  }
  sender.wake.notify_one();
}

std::string WorldBoardName() {
  const std::string& typed = CurrentSettings().playerName;
  return typed.empty() ? LoginName() : typed;
}

std::string WorldBoardLine() {
  std::lock_guard<std::mutex> hold(sender.mutex);
  return sender.worldLine;
}

bool LoadReplayFromFileOrBoard(const std::string& where, Replay& replay, std::string& error) {
  if (!IsHttp(where)) return LoadReplay(where, replay, error);
  if (!IsWorldBoardUrl(where)) {
    error = "not a replay's address";
    return false;
  }
  curl_global_init(CURL_GLOBAL_DEFAULT);
  const Answer answer = Request(where, nullptr, kDownloadTimeoutMs, kMaxReplayFileBytes);
  if (answer.status != 200) {
    error = answer.status != 0 ? "the board answered HTTP " + std::to_string(answer.status)
                               : "could not download it (" + answer.error + ")";
    return false;
  }
  LOG("Downloaded the replay ", where, " (", answer.body.size(), " bytes)");
  return DecodeReplay(answer.body, replay, error);
}
