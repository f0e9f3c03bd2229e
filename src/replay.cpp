// SPDX-License-Identifier: GPL-3.0-or-later
#include "replay.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

#include "debug.h"
#include "gamerecord.h"
#include "init.h"
#include "sound.h"
#include "userdata.h"
#include "util.h"

#ifndef NANASPLAT_VERSION
#define NANASPLAT_VERSION "unknown"
#endif

namespace {

// ===========================================================================
// The random generator's state
// ===========================================================================

std::vector<unsigned char> SaveRandomState() {
  unsigned char table[kCLibraryStateBytes];
  SaveCLibraryState(table);
  return std::vector<unsigned char>(table, table + kCLibraryStateBytes);
}

void RestoreRandomState(const std::vector<unsigned char>& state) {
  if (!UsableCLibraryState(state.data(), state.size())) return;
  unsigned char table[kCLibraryStateBytes];
  std::copy(state.begin(), state.end(), table);
  RestoreCLibraryState(table);
}

// ===========================================================================
// Recording and playing back
// ===========================================================================

enum class Source { Devices, Replay };

// Everything the module keeps about the game being played.
struct Session {
  bool inGame = false;
  Source source = Source::Devices;
  bool paced = true;      // ticks come at the 60 Hz timer's pace
  bool watched = false;   // a replay shown to the player: the mark and timed level screens
  const char* mark = "REPLAY";  // the mark over a watched replay's frames
  bool (*stop)() = nullptr;     // asked with every check for a quit; true ends the playback
  Replay playback;        // the replay being played back
  bool playbackHasState = false;
  ReplayRunCursor frameCursor;
  ReplayRunCursor controlCursor[2];
  uint64_t playbackFrames = 0;  // frames in the replay
  uint64_t framesOpened = 0;    // frames begun in this game
  bool frameOpen = false;
  uint32_t frameTicks = 0;      // ticks run in the open frame
  uint32_t ticksLeft = 0;       // playing back: ticks still to run in the open frame
  Replay record;                // the game as it is played
};
Session session;

// Room reserved as a game begins, so that recording a game of ordinary length never
// allocates during a tick (runs).
constexpr size_t kReservedRuns = 16384;

// Until the game played back has returned (its time-up screen included).
bool FromReplay() { return session.source == Source::Replay; }

void OpenFrame() {
  session.frameOpen = true;
  session.frameTicks = 0;
  ++session.framesOpened;
  if (!FromReplay()) return;
  uint32_t ticks = 0;
  session.ticksLeft = session.frameCursor.Next(ticks) ? ticks : 0;
}

void CloseFrame() {
  session.frameOpen = false;
  if (session.inGame) AppendRun(session.record.frames, session.frameTicks);
}

bool StopAsked() { return FromReplay() && session.stop != nullptr && session.stop(); }

bool PlayerQuits() { return key[KEY_ESC] || quitnow || StopAsked(); }

// A watched replay ticks at the timer's pace: it waits for each tick to come.
bool PlaybackTickDue() {
  if (session.ticksLeft == 0) return false;
  if (!session.paced) return true;
  while (logic_time == 0) {
    if (PlayerQuits()) return false;
    rest(1);
  }
  return true;
}

constexpr const char* kUnreadableSuffix = ".unreadable";
constexpr int kWatchedScreenMs = 2000;  // a watched replay's level screens (milliseconds)
constexpr int kMarkInset = 30;          // the mark's distance from the top-left corner (pixels)

// The directory exists, or is made (with the table's directory above it, which a
// player's own data directory may not be yet).
bool MakeDirectory(const std::string& dir) {
  if (MakeDirectories(dir)) return true;
  LOG("Couldn't make the directory \"", dir, "\" for replays: ", std::strerror(errno));
  return false;
}

int BestScore(const ReplaySummary& summary) { return std::max(summary.p1Score, summary.p2Score); }

// A best replay this game cannot read (damaged, or from a newer game) is never simply
// written over: it is kept beside, as best.nsr.unreadable. False when it could not be.
bool KeepUnreadableAside(const std::string& best, const std::string& error) {
  const std::string aside = best + kUnreadableSuffix;
  if (std::rename(best.c_str(), aside.c_str()) != 0) {
    LOG("Couldn't keep the unreadable replay ", best, " (", error, ") aside: ", std::strerror(errno));
    return false;
  }
  LOG("The replay ", best, " cannot be read (", error, "); kept as ", aside);
  return true;
}

// The game just played goes to last.nsr, and to best.nsr when it beats that one.
void WriteGameRecord(const Replay& replay) {
  const std::string dir = ReplayDirectory();
  if (!MakeDirectory(dir)) return;
  const std::string last = dir + "/" + kLastReplay;
  const std::string best = dir + "/" + kBestReplay;
  if (SaveReplay(last, replay)) LOG("Replay saved in ", last);
  Replay previous;
  std::string error;
  const bool hasBest = LoadReplay(best, previous, error);
  if (hasBest && BestScore(replay.summary) <= BestScore(previous.summary)) return;
  struct stat st;
  if (!hasBest && lstat(best.c_str(), &st) == 0 && !KeepUnreadableAside(best, error)) return;
  if (SaveReplay(best, replay)) LOG("Replay saved in ", best, " (best score so far)");
}

void StartPlayback(const Replay& replay, bool paced, bool watched) {
  session.source = Source::Replay;
  session.paced = paced;
  session.watched = watched;
  session.playback = replay;
  session.playbackHasState = !replay.randomState.empty();
}

// The pictures' masks as play sees them (a picture absent: none).
PictureMask MaskOf(BITMAP* picture) {
  PictureMask mask;
  if (picture == nullptr) return mask;
  mask.present = true;
  mask.width = picture->w;
  mask.height = picture->h;
  mask.masked.resize(static_cast<size_t>(picture->w) * static_cast<size_t>(picture->h));
  const int maskColour = bitmap_mask_color(picture);
  size_t at = 0;
  for (int y = 0; y < picture->h; ++y) {
    for (int x = 0; x < picture->w; ++x) mask.masked[at++] = getpixel(picture, x, y) == maskColour ? 1 : 0;
  }
  return mask;
}

}  // namespace

uint32_t MediaFingerprint(BITMAP* banana, BITMAP* fly1, BITMAP* fly2) {
  return MediaFingerprint(MaskOf(banana), MaskOf(fly1), MaskOf(fly2));
}

bool SaveReplay(const std::string& path, const Replay& replay) {
  std::string failure;
  if (WriteFileAtomically(path, EncodeReplay(replay), &failure)) return true;
  LOG("Failed to save the replay \"", path, "\" (", failure, ")");
  return false;
}

// Beside the high-score table: in the media directory when the player may write it,
// else in the player's own data directory (userdata.h).
std::string ReplayDirectory() { return GameDataDirectory() + "/" + kReplayDirectory; }

// ===========================================================================
// What game play calls
// ===========================================================================

void BeginGameRecord(bool twoPlayer) {
  session.inGame = true;
  session.frameOpen = false;
  session.framesOpened = 0;
  if (session.source == Source::Replay) {
    if (session.playbackHasState) RestoreRandomState(session.playback.randomState);
    session.frameCursor = ReplayRunCursor{&session.playback.frames};
    session.controlCursor[0] = ReplayRunCursor{&session.playback.controls[0]};
    session.controlCursor[1] = ReplayRunCursor{&session.playback.controls[1]};
    session.playbackFrames = TotalCount(session.playback.frames);
  }
  Replay& record = session.record;
  record = Replay();
  record.players = twoPlayer ? 2 : 1;
  record.gameVersion = NANASPLAT_VERSION;
  record.mediaFingerprint =
      MediaFingerprint(PictureOf(gameImages.banana1), PictureOf(gameImages.fly1), PictureOf(gameImages.fly2));
  record.randomState = SaveRandomState();
  record.frames.reserve(kReservedRuns);
  record.controls[0].reserve(kReservedRuns);
  record.controls[1].reserve(twoPlayer ? kReservedRuns : 0);
}

uint8_t GameMathRevision(uint8_t fresh) { return FromReplay() ? session.playback.mathRevision : fresh; }

void FinishGameRecord(const Game& game, LevelEnd end, const char* reason) {
  if (!session.inGame) return;
  session.inGame = false;
  Replay& record = session.record;
  record.mathRevision = game.mathRevision;
  ReplaySummary& summary = record.summary;
  summary.level = game.level;
  summary.p1Score = game.p1.score;
  summary.p2Score = game.twoPlayer ? game.p2.score : 0;
  summary.ticks = 0;
  for (const ReplayRun& run : record.frames) summary.ticks += static_cast<int64_t>(run.value) * run.count;
  summary.timeUp = end == LevelEnd::TimeUp;
  summary.endState = EndStateOf(game);
  LOG("Game over (", reason != nullptr ? reason : summary.timeUp ? "time up" : "quit", "): ",
      SummaryText(summary));
  if (session.source == Source::Devices) WriteGameRecord(record);
}

void SetGameRecordRandom(uint8_t randomSource, uint64_t seed) {
  session.record.randomSource = randomSource;
  session.record.seed = seed;
}

void RecordTick(const TickControls& controls) {
  if (!session.inGame) return;
  Replay& record = session.record;
  AppendRun(record.frames, 1);
  for (int p = 0; p < record.players; ++p) {
    for (int i = 0; i < controls.count[p]; ++i) AppendRun(record.controls[p], ControlsCode(controls.readings[p][i]));
  }
}

bool PlaybackOwnRandom(uint64_t& seed) {
  if (!FromReplay() || session.playback.randomSource != 1) return false;
  seed = session.playback.seed;
  return true;
}

void CountLevelScreen() {
  if (session.inGame) ++session.record.levelScreens;
}

Controls ReplayControls(int player, Controls (*live)(int player)) {
  const int index = player == 2 ? 1 : 0;
  Controls controls{0, false};
  if (FromReplay()) {
    uint32_t code = 0;
    if (session.controlCursor[index].Next(code)) controls = ControlsFromCode(code);
  } else {
    controls = live(player);
  }
  if (session.inGame) AppendRun(session.record.controls[index], ControlsCode(controls));
  return controls;
}

// Frames drawn while paused are not recorded and need not be: a paused frame runs no
// tick and draws no random number (it shows the picture kept when the pause began), so
// the game goes on after a pause exactly as if there had been none.
bool TickDue() {
  if (!session.frameOpen) OpenFrame();
  const bool due = FromReplay() ? PlaybackTickDue() : logic_time > 0;
  if (!due) CloseFrame();
  return due;
}

void TickDone() {
  if (FromReplay()) {
    --session.ticksLeft;
    if (session.paced && logic_time > 0) --logic_time;
  } else {
    --logic_time;
  }
  ++session.frameTicks;
}

bool NextTickArrived() { return (FromReplay() && !session.paced) || logic_time != 0; }

void WaitAtLevelScreen(BITMAP* backbuffer, void (*live)(), void (*watching)()) {
  if (session.inGame) ++session.record.levelScreens;
  if (!FromReplay()) {
    live();
    return;
  }
  if (!session.watched) return;
  DrawReplayMark(backbuffer);
  blit(backbuffer, screen, 0, 0, 0, 0, SCREEN_W, SCREEN_H);
  for (int waited = 0; waited < kWatchedScreenMs && !PlayerQuits(); waited += 10) {
    watching();
    rest(10);
  }
}

void DrawReplayMark(BITMAP* buffer) {
  if (!FromReplay() || !session.watched) return;
  textprintf_ex(buffer, Font(), kMarkInset, kMarkInset / 3, makecol(255, 0, 0), -1, "%s", session.mark);
}

bool ReplayShowsFrames() { return !FromReplay() || session.paced; }

bool ReplayReachedItsEnd() {
  if (!FromReplay()) return false;
  if (StopAsked()) return true;
  if (session.framesOpened > session.playbackFrames) return true;  // played past its end
  return session.framesOpened == session.playbackFrames &&
         session.record.levelScreens >= session.playback.levelScreens;
}

bool PlayingBack() { return FromReplay(); }

// ===========================================================================
// Watching and checking
// ===========================================================================

int RunReplay(bool demo, const Replay& replay, const std::function<void(bool twoPlayer)>& playGame,
              bool (*stop)()) {
  StartPlayback(replay, true, true);
  session.mark = demo ? "DEMO" : "REPLAY";
  session.stop = stop;
  LOG("Playing back the replay", " of ", SummaryText(replay.summary));
  StartSound();  // a watched game sounds as it did (M and --mute as in play)
  playGame(replay.players == 2);
  StopPlayingBack();
  return 0;
}

int CheckReplay(const Replay& replay, const RerunSetup& setup) {
  LOG("Checking the replay", " of ", SummaryText(replay.summary));
  const Replay replayed = RerunReplay(replay, setup);
  LOG("Game over (", replayed.summary.timeUp ? "time up" : "quit", "): ", SummaryText(replayed.summary));
  std::printf("%s\n", CheckReport(replay, replayed).c_str());
  std::fflush(stdout);
  return SameEnd(replay.summary, replayed.summary) ? 0 : 1;
}

const Replay& LastGameRecord() { return session.record; }

void PlayNextGameFrom(const Replay& script) { StartPlayback(script, false, false); }

void StopPlayingBack() {
  session.source = Source::Devices;
  session.paced = true;
  session.watched = false;
  session.mark = "REPLAY";
  session.stop = nullptr;
}
