#include "util.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>
#include <sstream>
#include <vector>

#include "debug.h"
#include "fontcheck.h"
#include "highscores.h"
#include "init.h"
#include "sound.h"
#include "userdata.h"

// ---------------------------------------------------------------------------
// Fonts
// ---------------------------------------------------------------------------

FONT* globalFont = font;

FONT* Font() { return globalFont; }

void SetGlobalFont(FONT* f) {
  if (f != nullptr) globalFont = f;
}

namespace {
// Every datafile that gave a font: the font lives inside it and may be drawn with
// until the process ends, so the datafile stays loaded and listed here for the run.
// The list itself is never destroyed, so it outlives every other static object.
std::vector<DATAFILE*>& FontFiles() {
  static auto* files = new std::vector<DATAFILE*>;
  return *files;
}
}  // namespace

FONT* GetFont(const char* file) {
  LOG("Loading font ", file);
  BeginFontLoad();
  DATAFILE* data = load_datafile(file);
  if (data == nullptr) {
    LOG("Failed to load font data file ", file);
    return nullptr;
  }
  // A first object that is missing or of another type is never used as a font.
  if (data[0].dat == nullptr || data[0].type != DAT_FONT) {
    LOG("Failed to load font as first item in data file ", file);
    unload_datafile(data);
    return nullptr;
  }
  // A font cut short, or with a damaged glyph, would crash the first text drawn with
  // it: it counts as a datafile that could not be loaded.
  if (!FontLoadWasWhole() || !AllGlyphsSound(static_cast<FONT*>(data[0].dat))) {
    LOG("Failed to load font data file ", file);
    unload_datafile(data);
    return nullptr;
  }
  FontFiles().push_back(data);
  return static_cast<FONT*>(data[0].dat);
}

// ---------------------------------------------------------------------------
// Bitmap loading and the splash screen
// ---------------------------------------------------------------------------

BITMAP* LoadBitmap(const char* file, RGB* palette) {
  BITMAP* bmp = load_bitmap(file, palette);
  if (bmp != nullptr) return bmp;
  LOG("Couldn't load bitmap: ", file);
  std::exit(1);
}

void DoSplash(const char* file, BITMAP* buffer) {
  // Ticks after which the player is told how to go on (one second).
  constexpr int kPromptAfterTicks = 60;
  // The prompt's top, in pixels above the bottom of the screen.
  constexpr int kPromptRise = 40;

  if (buffer == nullptr) {
    LOG("Failing to make splash screen -- need a back buffer");
    std::exit(1);
  }
  BITMAP* image = LoadBitmap(file, nullptr);
  LOG("Ready to display splash screen");

  // An Enter still held from the previous screen must not skip the splash.
  while (key[KEY_ENTER]) rest(0);
  clear_keybuf();

  while (!key[KEY_ENTER]) {
    if (key[KEY_ESC] || quitnow) std::exit(0);
    // Centred; the parts of the buffer the picture leaves uncovered keep what they held.
    blit(image, buffer, 0, 0, (buffer->w - image->w) / 2, (buffer->h - image->h) / 2, SCREEN_W,
         SCREEN_H);
    if (logic_time > kPromptAfterTicks) {
      textprintf_centre_ex(buffer, globalFont, SCREEN_W / 2, SCREEN_H - kPromptRise,
                           makecol(0, 0, 0), -1, "Press [Enter] to continue");
    }
    blit(buffer, screen, 0, 0, 0, 0, SCREEN_W, SCREEN_H);
  }

  LOG("Leaving splash screen");
  destroy_bitmap(image);
}

// ---------------------------------------------------------------------------
// High scores
// ---------------------------------------------------------------------------

ScoreTable ParseScores(std::istream& in) {
  ScoreTable table;
  std::string name;
  while (table.count < kScoreTableSize && std::getline(in, name)) {
    // A file saved with CR LF line ends keeps a CR on every line; it is no part of
    // the name. All trailing CRs go, so a name never ends in one and reads back the
    // same after the table is rewritten with LF ends (a line of CRs only is empty).
    while (!name.empty() && name.back() == '\r') name.pop_back();
    if (name.empty()) break;
    int score = 0;
    // Not a number, out of the range of int, or nothing after the name line: the
    // entry is incomplete, dropped, and the table ends here.
    if (!(in >> score)) break;
    // Whatever follows the number on its line (blanks, a CR, other text).
    in.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
    if (table.lowest < 0 || score < table.lowest) table.lowest = score;
    table.entries.push_back(Score{name, score});
    ++table.count;
  }
  return table;
}

ScoreTable ReadScores(const char* path) {
  std::ifstream in(path);
  if (!in.is_open()) return ScoreTable{};
  return ParseScores(in);
}

bool ScoreQualifies(const ScoreTable& table, int points) {
  return table.count < kScoreAlwaysQualifiesBelow || points > table.lowest;
}

int ScoreRank(const std::list<Score>& entries, int points) {
  int rank = 1;
  for (const Score& stored : entries) {
    if (stored.score < points) return rank;
    ++rank;
  }
  return rank;
}

std::list<Score> InsertScore(std::list<Score> entries, const Score& entry) {
  auto below = std::find_if(entries.begin(), entries.end(),
                            [&](const Score& stored) { return stored.score < entry.score; });
  entries.insert(below, entry);
  return entries;
}

std::string SerialiseScores(const std::list<Score>& entries) {
  std::ostringstream out;
  for (const Score& entry : entries) out << entry.name << '\n' << entry.score << '\n';
  return out.str();
}

namespace {
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
}  // namespace

bool SaveScores(const char* path, const std::list<Score>& entries) {
  RemoveLeftoverTempFiles(path);
  // Unique per process, in the same directory so that the rename stays on one file
  // system and replaces the old file in one step.
  const std::string temp = std::string(path) + ".tmp." + std::to_string(getpid());
  const char* step = "create";
  int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  bool ok = fd >= 0;
  if (ok) {
    step = "write";
    ok = WriteAll(fd, SerialiseScores(entries));
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
      ok = rename(temp.c_str(), path) == 0;
    }
    if (!ok) {
      error = errno;
      unlink(temp.c_str());
      errno = error;
    }
  }
  if (!ok) {
    LOG("Failed to save the high-score table to \"", path, "\" (", step, "): ", std::strerror(errno));
    return false;
  }
  // Make the rename itself durable. The new table is already in place, so a
  // directory that cannot be synced is no failure to report.
  int dir = open(DirectoryOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    fsync(dir);
    close(dir);
  }
  return true;
}

std::string TypeNameKey(std::string name, int keycode) {
  const int scancode = keycode >> 8;
  const char c = static_cast<char>(keycode & 0xff);
  if (scancode == KEY_BACKSPACE && !name.empty()) name.pop_back();
  const bool accepted = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                        (c >= '0' && c <= '9') || c == ' ';
  if (accepted && static_cast<int>(name.size()) < kMaxScoreNameLength) name.push_back(c);
  return name;
}

namespace {
bool LibraryKeyDown(int scancode) { return key[scancode] != 0; }
}  // namespace

bool (*highScoreKeyDown)(int scancode) = LibraryKeyDown;

namespace {
// Text rows of the two screens (pixels from the top).
constexpr int kRankY = 50;
constexpr int kScoredY = 85;
constexpr int kTitleY = 20;
constexpr int kFirstRowY = 90;
constexpr int kRowStep = 35;
constexpr int kSaveFailedY = 440;
constexpr int kContinueY = 475;

// Waits (busily) until a key held from the previous screen is let go, or a quit is
// requested, then drops whatever was typed meanwhile.
void WaitForEnterAndEscUp() {
  while ((highScoreKeyDown(KEY_ENTER) || highScoreKeyDown(KEY_ESC)) && !quitnow) {
  }
  clear_keybuf();
}

// The name entry screen; returns a name of at least one character.
std::string EnterName(BITMAP* buffer, int rank, int points, const char* player) {
  WaitForEnterAndEscUp();
  std::string name;
  for (;;) {
    // An empty name would end the table when it is next read; Enter waits for one.
    if (highScoreKeyDown(KEY_ENTER) && !name.empty()) return name;
    if (highScoreKeyDown(KEY_ESC) || quitnow) exit(0);
    const int black = makecol(0, 0, 0);
    const int middle = SCREEN_W / 2;
    clear_to_color(buffer, makecol(255, 255, 255));
    textprintf_centre_ex(buffer, globalFont, middle, kRankY, black, -1, "High Score #%d / %d!", rank,
                         kScoreTableSize);
    textprintf_centre_ex(buffer, globalFont, middle, kScoredY, black, -1, "%s scored %d points", player,
                         points);
    textprintf_centre_ex(buffer, globalFont, middle, SCREEN_H / 2, black, -1, "Enter your name, %s: %s",
                         player, name.c_str());
    blit(buffer, screen, 0, 0, 0, 0, SCREEN_W, SCREEN_H);
    while (!keypressed()) {
      if (quitnow) exit(0);
    }
    name = TypeNameKey(name, readkey());
  }
}
}  // namespace

void HighScores(BITMAP* buffer, int points, const char* player) {
  const ScoreTable table = ReadScores(ScoreTableToRead().c_str());
  if (!ScoreQualifies(table, points)) return;
  const int rank = ScoreRank(table.entries, points);
  PlayEffect(Effect::HighScore, SCREEN_W / 2);
  const std::string name = EnterName(buffer, rank, points, player);

  const std::list<Score> updated = InsertScore(table.entries, Score{name, points});
  const int black = makecol(0, 0, 0);
  const int middle = SCREEN_W / 2;
  clear_to_color(buffer, makecol(255, 255, 255));
  textprintf_centre_ex(buffer, globalFont, middle, kTitleY, black, -1, "Best of the Bunch");
  const bool saved = MakeGameDataDirectory() && SaveScores(ChosenScoreTable().path.c_str(), updated);
  int row = 0;
  for (const Score& entry : updated) {
    if (row >= kScoreTableSize) break;
    textprintf_centre_ex(buffer, globalFont, middle, kFirstRowY + kRowStep * row, black, -1, "%s -- %d",
                         entry.name.c_str(), entry.score);
    ++row;
  }
  if (!saved) {
    textprintf_centre_ex(buffer, globalFont, middle, kSaveFailedY, makecol(255, 0, 0), -1,
                         "The table could not be saved.");
  }
  textprintf_centre_ex(buffer, globalFont, middle, kContinueY, black, -1, "Press [Enter] to continue");

  WaitForEnterAndEscUp();
  while (!highScoreKeyDown(KEY_ENTER)) {
    if (highScoreKeyDown(KEY_ESC) || quitnow) exit(0);
    blit(buffer, screen, 0, 0, 0, 0, SCREEN_W, SCREEN_H);
  }
}
