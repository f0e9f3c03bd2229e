// SPDX-License-Identifier: GPL-3.0-or-later
#include "userdata.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <pwd.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

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

// Writes `contents` to the temporary file `fd`, syncs and closes it: the step that failed
// (errno says why), or null.
const char* FillAndClose(int fd, const std::string& contents) {
  const char* failed = !WriteAll(fd, contents) ? "write" : fsync(fd) != 0 ? "sync" : nullptr;
  const int error = errno;  // a failed write's or sync's cause outlives close
  if (close(fd) != 0 && failed == nullptr) return "close";
  errno = error;
  return failed;
}

// The directory part of `path` ("." when it has none).
std::string DirectoryOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// Temporary files are named "<name>.tmp.<pid>.<suffix>" beside the file they replace.
constexpr const char* kTempInfix = ".tmp.";
// How many names a save tries for its temporary file before it gives up.
constexpr int kTempNameAttempts = 100;
// A leftover temporary file is removed only once it is this old (seconds) and its
// writer has ended: a writer in another process namespace (a container, a sandbox, a
// home shared over the network) may carry a process id that means nothing here, and
// no save takes a day.
constexpr time_t kAbandonedTempAge = 24 * 60 * 60;
// The most symbolic links followed from the path to the file itself.
constexpr int kMaxLinksFollowed = 40;

// The process id in a temporary file's name ("123" of "scores.tmp.123.x7Gq" or of
// "scores.tmp.123"), or 0 when the rest of the name does not start with a process id.
pid_t TempFileOwner(const std::string& name, const std::string& prefix) {
  if (name.compare(0, prefix.size(), prefix) != 0) return 0;
  const std::string rest = name.substr(prefix.size());
  const std::string digits = rest.substr(0, rest.find('.'));
  constexpr size_t kMaxPidDigits = 9;
  if (digits.empty() || digits.size() > kMaxPidDigits) return 0;
  if (!std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) return 0;
  return static_cast<pid_t>(std::stol(digits));
}

// Removes the temporary files that saves of `path` killed before their rename left
// behind: only those whose process has ended and that have not been touched for
// kAbandonedTempAge. A file whose process still runs is that process's save under way.
void RemoveLeftoverTempFiles(const std::string& path) {
  DIR* dir = opendir(DirectoryOf(path).c_str());
  if (dir == nullptr) return;
  const std::string prefix = path.substr(path.rfind('/') + 1) + kTempInfix;  // npos + 1: all of it
  const time_t now = time(nullptr);
  while (const dirent* entry = readdir(dir)) {
    const pid_t owner = TempFileOwner(entry->d_name, prefix);
    if (owner <= 0 || owner == getpid()) continue;
    if (kill(owner, 0) == 0 || errno != ESRCH) continue;  // alive, or not ours to ask about
    struct stat info;
    if (fstatat(dirfd(dir), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (now - info.st_mtime < kAbandonedTempAge) continue;
    unlinkat(dirfd(dir), entry->d_name, 0);
  }
  closedir(dir);
}

// The file that a save of `path` replaces: `path` itself, or, when `path` is a
// symbolic link of the player's own (say into a dotfiles folder), the file it leads to
// (through further such links), so that the link stays and its target gets the new
// contents. A link that leads nowhere yet names the file to create. A link someone
// else made (in a media directory other players may write) is never followed: it is
// replaced like a file, and the save cannot be sent into another of the player's files.
std::string FileBehindLinks(std::string path) {
  for (int followed = 0; followed < kMaxLinksFollowed; ++followed) {
    struct stat info;
    if (lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode) || info.st_uid != geteuid()) return path;
    std::vector<char> target(static_cast<size_t>(info.st_size > 0 ? info.st_size : PATH_MAX) + 1);
    const ssize_t length = readlink(path.c_str(), target.data(), target.size());
    if (length <= 0 || static_cast<size_t>(length) >= target.size()) return path;
    const std::string next(target.data(), static_cast<size_t>(length));
    path = next.front() == '/' ? next : DirectoryOf(path) + "/" + next;
  }
  return path;  // a loop of links: the rename below replaces the last one looked at
}

// A fresh suffix for a temporary file's name: six random letters and digits, so that
// no one can plant files under every name a save will try.
std::string TempSuffix() {
  static constexpr char kSymbols[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  unsigned char bytes[6];
  if (getrandom(bytes, sizeof bytes, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof bytes)) {
    static std::atomic<unsigned> calls{0};
    const unsigned mixed = static_cast<unsigned>(time(nullptr)) * 2654435761u + calls.fetch_add(1);
    for (size_t i = 0; i < sizeof bytes; ++i) bytes[i] = static_cast<unsigned char>(mixed >> (i * 5));
  }
  std::string suffix;
  for (unsigned char byte : bytes) suffix += kSymbols[byte % (sizeof kSymbols - 1)];
  return suffix;
}

// Creates a temporary file beside `target` that did not exist before (a file or link
// planted under its name is never opened), with the permission bits of the file it
// will replace (or the player's defaults for a new file). Returns its descriptor and
// sets `temp` to its name; -1 with errno set when it cannot.
int CreateTempFile(const std::string& target, std::string& temp) {
  const std::string stem = target + kTempInfix + std::to_string(getpid()) + ".";
  int fd = -1;
  for (int attempt = 0; fd < 0 && attempt < kTempNameAttempts; ++attempt) {
    temp = stem + TempSuffix();
    fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) return -1;
  }
  if (fd < 0) return -1;
  struct stat old;
  if (stat(target.c_str(), &old) == 0 && S_ISREG(old.st_mode) && fchmod(fd, old.st_mode & 0777) != 0) {
    const int error = errno;
    close(fd);
    unlink(temp.c_str());
    errno = error;
    return -1;
  }
  return fd;
}

ScoreTablePlace chosen{".", kScoresFile, "", false};

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
  chosen = ChooseScoreTablePlace(mediaDir, writable, ProcessEnvironment());
  const std::string why = chosen.perUser ? "the media directory " + mediaDir + " cannot be written here;"
                                               " a new table starts as a copy of its \"scores\""
                          : writable ? "in the media directory"
                                     : "no home directory for a table of the player's own";
  LOG("High-score table: ", chosen.path, " (", why, ")");
}

const ScoreTablePlace& ChosenScoreTable() { return chosen; }

std::string ScoreTableToRead() {
  if (chosen.seed.empty() || access(chosen.path.c_str(), F_OK) == 0) return chosen.path;
  return chosen.seed;
}

const std::string& GameDataDirectory() { return chosen.directory; }

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
  const std::string target = FileBehindLinks(path);
  RemoveLeftoverTempFiles(target);
  // In the same directory as the file it replaces, so that the rename stays on one
  // file system and replaces the old file in one step.
  std::string temp;
  const int fd = CreateTempFile(target, temp);
  const char* failed = fd < 0 ? "create" : FillAndClose(fd, contents);  // the step that failed, if any
  if (failed == nullptr && rename(temp.c_str(), target.c_str()) != 0) failed = "rename";
  if (failed != nullptr) {
    const int cause = errno;
    if (fd >= 0) unlink(temp.c_str());
    if (failure != nullptr) *failure = std::string(failed) + ": " + std::strerror(cause);
    errno = cause;
    return false;
  }
  // Make the rename itself durable; the new file is in place either way.
  int dir = open(DirectoryOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    fsync(dir);
    close(dir);
  }
  return true;
}
