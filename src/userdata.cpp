// SPDX-License-Identifier: GPL-3.0-or-later
#include "userdata.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "debug.h"
#include "highscores.h"

namespace {

constexpr const char* kGameDirectoryName = "nanasplat";

std::string Variable(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

// The XDG base directory `variable`, or `fallback` under the home directory when the
// variable is unset, empty or relative (the XDG rules say to ignore a relative one),
// with the game's own directory name appended.
std::string BaseDirectory(const std::string& variable, const std::string& home, const char* fallback) {
  if (!variable.empty() && variable.front() == '/') return variable + "/" + kGameDirectoryName;
  if (home.empty()) return "";
  return home + "/" + fallback + "/" + kGameDirectoryName;
}

bool Exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

// Writes all of `data` to `fd`, through short writes and interruptions.
bool WriteAll(int fd, const std::string& data) {
  const char* next = data.data();
  size_t left = data.size();
  while (left > 0) {
    ssize_t written = write(fd, next, left);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    next += written;
    left -= static_cast<size_t>(written);
  }
  return true;
}

// The directory part of `path` ("." when it has none).
std::string DirectoryOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// The file name part of `path`.
std::string NameOf(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The process id at the end of a temporary file's name ("123" of "scores.tmp.123"),
// or 0 when the rest of the name is not a process id.
pid_t TempFileOwner(const std::string& name, const std::string& prefix) {
  if (name.compare(0, prefix.size(), prefix) != 0) return 0;
  const std::string digits = name.substr(prefix.size());
  constexpr size_t kMaxPidDigits = 9;
  if (digits.empty() || digits.size() > kMaxPidDigits) return 0;
  if (!std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) return 0;
  return static_cast<pid_t>(std::stol(digits));
}

// Removes the temporary files that saves of `path` killed before their rename left
// behind. A file whose process still runs is that process's save under way, and stays.
void RemoveLeftoverTempFiles(const std::string& path) {
  DIR* dir = opendir(DirectoryOf(path).c_str());
  if (dir == nullptr) return;
  const std::string prefix = NameOf(path) + ".tmp.";
  while (const dirent* entry = readdir(dir)) {
    const pid_t owner = TempFileOwner(entry->d_name, prefix);
    if (owner <= 0 || owner == getpid()) continue;
    if (kill(owner, 0) == 0 || errno != ESRCH) continue;  // alive, or not ours to ask about
    unlinkat(dirfd(dir), entry->d_name, 0);
  }
  closedir(dir);
}
ScoreTablePlace& Chosen() {
  static ScoreTablePlace place{".", kScoresFile, "", false};
  return place;
}

}  // namespace

UserEnvironment ProcessEnvironment() {
  UserEnvironment env{Variable("HOME"), Variable("XDG_DATA_HOME"), Variable("XDG_CONFIG_HOME")};
  if (env.home.empty()) {
    const passwd* entry = getpwuid(getuid());
    if (entry != nullptr && entry->pw_dir != nullptr) env.home = entry->pw_dir;
  }
  return env;
}

std::string UserDataDirectory(const UserEnvironment& env) {
  return BaseDirectory(env.xdgDataHome, env.home, ".local/share");
}

std::string UserConfigDirectory(const UserEnvironment& env) {
  return BaseDirectory(env.xdgConfigHome, env.home, ".config");
}

ScoreTablePlace ChooseScoreTablePlace(const std::string& mediaDir, bool mediaWritable,
                                      const UserEnvironment& env) {
  const std::string mediaTable = mediaDir + "/" + kScoresFile;
  const std::string dataDir = UserDataDirectory(env);
  if (mediaWritable || dataDir.empty()) return ScoreTablePlace{mediaDir, mediaTable, "", false};
  return ScoreTablePlace{dataDir, dataDir + "/" + kScoresFile, mediaTable, true};
}

void UseScoreTableFor(const std::string& mediaDir) {
  const bool writable = access(mediaDir.c_str(), W_OK) == 0;
  Chosen() = ChooseScoreTablePlace(mediaDir, writable, ProcessEnvironment());
  const ScoreTablePlace& place = Chosen();
  if (place.perUser) {
    LOG("High-score table: ", place.path, " (the media directory ", mediaDir,
        " cannot be written here; a new table starts as a copy of its \"scores\")");
  } else if (writable) {
    LOG("High-score table: ", place.path, " (in the media directory)");
  } else {
    LOG("High-score table: ", place.path, " (no home directory for a table of the player's own)");
  }
}

const ScoreTablePlace& ChosenScoreTable() { return Chosen(); }

std::string ScoreTableToRead() {
  const ScoreTablePlace& place = Chosen();
  if (place.seed.empty() || Exists(place.path)) return place.path;
  return place.seed;
}

const std::string& GameDataDirectory() { return Chosen().directory; }

bool MakeGameDataDirectory() {
  if (MakeDirectories(GameDataDirectory())) return true;
  LOG("Could not make the directory \"", GameDataDirectory(), "\": ", std::strerror(errno));
  return false;
}

bool MakeDirectories(const std::string& path) {
  if (path.empty()) {
    errno = ENOENT;
    return false;
  }
  struct stat info;
  if (stat(path.c_str(), &info) == 0) {
    if (S_ISDIR(info.st_mode)) return true;
    errno = ENOTDIR;
    return false;
  }
  const std::string parent = DirectoryOf(path);
  if (parent != path && !MakeDirectories(parent)) return false;
  // Another process may have made it meanwhile; that is as good.
  if (mkdir(path.c_str(), 0777) == 0 || errno == EEXIST) {
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
  }
  return false;
}

bool WriteFileAtomically(const std::string& path, const std::string& contents, std::string* failure) {
  RemoveLeftoverTempFiles(path);
  // Unique per process, in the same directory so that the rename stays on one file
  // system and replaces the old file in one step.
  const std::string temp = path + ".tmp." + std::to_string(getpid());
  const char* step = "create";
  int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  bool ok = fd >= 0;
  if (ok) {
    step = "write";
    ok = WriteAll(fd, contents);
    if (ok) {
      step = "sync";
      ok = fsync(fd) == 0;
    }
    int error = errno;
    if (close(fd) != 0 && ok) {
      step = "close";
      ok = false;
    } else {
      errno = error;
    }
    if (ok) {
      step = "rename";
      ok = rename(temp.c_str(), path.c_str()) == 0;
    }
    if (!ok) {
      error = errno;
      unlink(temp.c_str());
      errno = error;
    }
  }
  if (!ok) {
    if (failure != nullptr) *failure = std::string(step) + ": " + std::strerror(errno);
    return false;
  }
  // Make the rename itself durable; the new file is in place either way.
  int dir = open(DirectoryOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    fsync(dir);
    close(dir);
  }
  return true;
}
