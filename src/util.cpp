// SPDX-License-Identifier: GPL-3.0-or-later
#include "util.h"

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
#include "clock.h"
#include "sound.h"
#include "userdata.h"

// ---- Fonts ----

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

// ---- Bitmap loading and the splash screen ----

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

// ---- High scores ----

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
  std::ifstream in(path);  // one that cannot be opened reads as an empty table
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

bool SaveScores(const char* path, const std::list<Score>& entries) {
  std::string failure;
  if (WriteFileAtomically(path, SerialiseScores(entries), &failure)) return true;
  LOG("Failed to save the high-score table to \"", path, "\" (", failure, ")");
  return false;
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
// Text rows of the two screens (pixels from the top).
constexpr int kRankY = 50;
constexpr int kScoredY = 85;
constexpr int kTitleY = 20;
constexpr int kFirstRowY = 90;
constexpr int kRowStep = 35;
constexpr int kSaveFailedY = 440;
constexpr int kContinueY = 475;
constexpr int kWorldY = 520;

bool Held(const ScoreScreenCalls& calls, int scancode) {
  return calls.keyDown != nullptr ? calls.keyDown(scancode) : key[scancode] != 0;
}

void Serve(const ScoreScreenCalls& calls) {
  if (calls.serve) calls.serve();
}

// Where the game stands in the world, once the board has told.
void DrawWorldLine(BITMAP* buffer, const ScoreScreenCalls& calls) {
  const std::string line = calls.worldLine ? calls.worldLine() : std::string();
  if (line.empty()) return;
  rectfill(buffer, 0, kWorldY - 5, SCREEN_W - 1, kWorldY + text_height(globalFont) + 5, makecol(255, 255, 255));
  textprintf_centre_ex(buffer, globalFont, SCREEN_W / 2, kWorldY, makecol(0, 0, 0), -1, "%s", line.c_str());
}

// Waits (busily) until a key held from the previous screen is let go, or a quit is
// requested, then drops whatever was typed meanwhile.
void WaitForEnterAndEscUp(const ScoreScreenCalls& calls) {
  while ((Held(calls, KEY_ENTER) || Held(calls, KEY_ESC)) && !quitnow) Serve(calls);
  clear_keybuf();
}

// The name entry screen; returns a name of at least one character.
std::string EnterName(BITMAP* buffer, int rank, int points, const char* player,
                      const ScoreScreenCalls& calls) {
  WaitForEnterAndEscUp(calls);
  std::string name;
  for (;;) {
    // An empty name would end the table when it is next read; Enter waits for one.
    if (Held(calls, KEY_ENTER) && !name.empty()) return name;
    if (Held(calls, KEY_ESC) || quitnow) exit(0);
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
      Serve(calls);
    }
    name = TypeNameKey(name, readkey());
  }
}
}  // namespace

void HighScores(BITMAP* buffer, int points, const char* player, const ScoreScreenCalls& calls) {
  const ScoreTable table = ReadScores(ScoreTableToRead().c_str());
  if (!ScoreQualifies(table, points)) return;
  const int rank = ScoreRank(table.entries, points);
  PlayEffect(Effect::HighScore, SCREEN_W / 2);
  const std::string name = EnterName(buffer, rank, points, player, calls);

  const std::list<Score> updated = InsertScore(table.entries, Score{name, points});
  const int black = makecol(0, 0, 0);
  const int middle = SCREEN_W / 2;
  clear_to_color(buffer, makecol(255, 255, 255));
  textprintf_centre_ex(buffer, globalFont, middle, kTitleY, black, -1, "Best of the Bunch");
  const bool saved = MakeGameDataDirectory() && SaveScores(ChosenScoreTable().path.c_str(), updated);
  if (calls.tableDone) calls.tableDone(name);
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

  WaitForEnterAndEscUp(calls);
  while (!Held(calls, KEY_ENTER)) {
    if (Held(calls, KEY_ESC) || quitnow) exit(0);
    DrawWorldLine(buffer, calls);
    blit(buffer, screen, 0, 0, 0, 0, SCREEN_W, SCREEN_H);
    Serve(calls);
  }
}
