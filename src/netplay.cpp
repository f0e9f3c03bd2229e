// SPDX-License-Identifier: GPL-3.0-or-later
#include "netplay.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <fstream>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "debug.h"
#include "draw.h"
#include "game.h"
#include "gamerecord.h"
#include "highscores.h"
#include "init.h"
#include "input.h"
#include "lobbyplay.h"
#include "net/game_feed.h"
#include "net/lobby_client.h"
#include "net/session.h"
#include "net/transport.h"
#include "pad.h"
#include "pause.h"
#include "playloop.h"
#include "replay.h"
#include "sound.h"
#include "taps.h"
#include "splatter.h"
#include "userdata.h"
#include "worldboard.h"

#ifndef NANASPLAT_VERSION
#error "NANASPLAT_VERSION is set by the build from the project's version"
#endif

namespace {

// --- The connection and what the other side said --------------------------------------

enum class Ending { Cleared, TimeUp, Quit, Left, Lost, OutOfStep };

// What an ending is called in the log, how the spectators' stream ends, and what the
// player is told of it (none: the player ended the game), by Ending.
struct EndingFacts {
  const char* reason;
  net::StreamEnd stream;
  const char* screen;
};
constexpr EndingFacts kEndings[] = {
    {"quit", net::StreamEnd::Quit, nullptr},  // Cleared: not an ending (the game goes on)
    {"time up", net::StreamEnd::TimeUp, "Time up!  The fruit flies got to you ..."},
    {"quit", net::StreamEnd::Quit, nullptr},
    {"the other player left", net::StreamEnd::Quit, "The other player has left."},
    {"connection lost", net::StreamEnd::Lost, "The connection to the other player was lost."},
    {"out of step", net::StreamEnd::OutOfStep, "The games went out of step"},
};
const EndingFacts& FactsOf(Ending ending) { return kEndings[static_cast<int>(ending)]; }

// The session's frames of play, summed for the log.
struct Figures {
  uint64_t frames = 0;
  uint64_t rerun = 0;
  int worstRerun = 0;
  uint64_t waited = 0;
  uint64_t skipped = 0;

  void Add(const net::FrameReport& report) {
    ++frames;
    rerun += static_cast<uint64_t>(report.rerunTicks);
    worstRerun = std::max(worstRerun, report.rerunTicks);
    waited += report.waitedForRemote;
    skipped += report.skippedForSync;
  }
};

struct Network {
  std::unique_ptr<net::Connection> connection;
  std::unique_ptr<net::Session> session;
  int localPlayer = 0;  // 0: player 1 (the host), 1: player 2
  uint64_t seed = 0;
  uint32_t screensPassed = 0;  // level screens both players have left
  uint32_t remoteReady = 0;    // the other player's last Ready screen, + 1
  int remoteRematch = -1;      // -1: not yet said; 0 no; 1 yes
  int remotePause = -1;        // -1: nothing new; 0 go on; 1 pause
  // The game's end other than by its levels (Quit, Left, Lost, OutOfStep); Left or Lost
  // also once the connection ended between games.
  Ending ended = Ending::Cleared;
  bool levelSettled = false;        // the level is over on both computers
  bool paused = false;              // the pause both share
  bool pauseDown = false;           // P, Pause or Start held
  bool wentBack = false;            // the session went back since the splats were last painted
  std::vector<TickControls> ticks;  // by the game's tick: the reading once for every banana it moves
  std::function<void()> carryOut;   // while a game is on: the session's requests carried out on it
  Figures figures;
  int64_t gameStartTick = 0;  // the session's tick when the current game began
  int64_t recorded = 0;       // ticks of the current game recorded so far
  GameRecorder recorder{NANASPLAT_VERSION, GameMediaFingerprint()};
  uint32_t leftAt = 0;        // the value of the other player's Quit (0: none heard)
  std::unique_ptr<net::GameFeed> feed;  // the host's game to the lobby's spectators (or none)
  int64_t fed = 0;            // ticks of the current game fed to it so far
};

bool Ended(const Network& n) { return n.ended != Ending::Cleared; }

// A message from the other side, noted for whoever waits on it.
void Hear(Network& n, const net::Message& m) {
  switch (m.type) {
    case net::MessageType::Inputs:
    case net::MessageType::Checksum:
      if (n.session) n.session->Receive(m);
      break;
    case net::MessageType::Ready: n.remoteReady = std::max(n.remoteReady, m.value + 1); break;
    case net::MessageType::Pause: n.remotePause = static_cast<int>(m.value); break;
    case net::MessageType::Rematch: n.remoteRematch = static_cast<int>(m.value); break;
    default: break;
  }
}

// Every pending datagram, without waiting.
void Pump(Network& n) {
  using Kind = net::NetEvent::Kind;
  std::vector<net::NetEvent> events;
  n.connection->Service(events);
  for (const net::NetEvent& e : events) {
    if (e.kind == Kind::Message) Hear(n, e.message);
    if ((e.kind == Kind::Left || e.kind == Kind::Lost) && !Ended(n)) {
      n.ended = e.kind == Kind::Left ? Ending::Left : Ending::Lost;
    }
    if (e.kind == Kind::Left && e.message.type == net::MessageType::Quit) n.leftAt = e.message.value;
  }
  if (n.feed) n.feed->Service(net::SteadyMs());
  n.connection->Flush();
}

// Frames that run no tick (a level screen, a pause, the end of a game) still go to the
// session: its readings and acknowledgements keep flowing and its clocks keep count.
void HoldFrames(Network& n) {
  while (logic_time > 0) {
    n.session->BeginFrame(0, true);
    if (n.carryOut) {
      n.carryOut();
    } else {
      while (n.session->Next() != nullptr) {  // between games every tick is settled: none runs again
      }
    }
    --logic_time;
  }
  n.connection->Flush();
}

// Everything the connection needs while no level is played: its datagrams, and the
// session's frames held (no tick runs).
void Serve(Network& n) {
  Pump(n);
  if (n.session) HoldFrames(n);
}

void WaitServing(Network& n, const std::function<bool()>& done) {
  WaitUntil(done, [&n] { Serve(n); });
}

void ShowScreen(BITMAP* backbuffer, const char* first, const char* second) {
  DrawTextScreen(backbuffer, first, second);
  blit(backbuffer, screen, 0, 0, 0, 0, SCREEN_W, SCREEN_H);
}

// A level screen both players must leave: after the local key it says so and waits
// for the other player's. False when the game ended meanwhile (`n.ended`, or a quit).
bool BothLeaveScreen(Network& n, BITMAP* backbuffer, const char* first, const char* second) {
  ShowScreen(backbuffer, first, second);
  clear_keybuf();
  PadPresses presses = WatchPadPresses();
  bool pressed = false;
  bool left = true;
  const uint32_t screenNumber = n.screensPassed;
  WaitServing(n, [&] {
    if (Ended(n) || quitnow) return !(left = false);
    if (!pressed && (keypressed() || NewPadPress(presses))) {
      if (keypressed()) readkey();
      if (key[KEY_ESC]) return !(left = false);
      pressed = true;
      n.connection->Send(net::MakeSignal(net::MessageType::Ready, screenNumber), true);
      ShowScreen(backbuffer, first, "Waiting for the other player");
    }
    return pressed && n.remoteReady > screenNumber;
  });
  if (!left) return false;
  ++n.screensPassed;
  logic_time = 0;
  return true;
}

// A screen only this player leaves, at a key (the network keeps being served).
void LocalScreen(Network& n, BITMAP* backbuffer, const char* first, const char* second) {
  ShowScreen(backbuffer, first, second);
  clear_keybuf();
  PadPresses presses = WatchPadPresses();
  WaitServing(n, [&] { return keypressed() || NewPadPress(presses) || quitnow; });
  // The key that ended the screen, and any still held, type nothing on the next one
  // (the name entry reads the key buffer as it is).
  WaitForKeysUp([&] { Serve(n); });
}

// --- Spectators: the host feeds the game's stream to the lobby (net/game_feed.h) ------

// The game's ticks up to `upTo` go to the spectators as they are recorded.
void FeedTicks(Network& n, int64_t upTo) {
  if (!n.feed) return;
  upTo = std::min<int64_t>(upTo, static_cast<int64_t>(n.ticks.size()));
  for (; n.fed < upTo; ++n.fed) {
    const TickControls& c = n.ticks[static_cast<size_t>(n.fed)];
    n.feed->Tick(ControlsCode(c.readings[0][0]), ControlsCode(c.readings[1][0]));
  }
}

// During play only what both computers have confirmed is recorded: a game one player
// leaves may end before this side's own confirmed tick (see EndTheGameTogether).
void RecordConfirmedTicks(Network& n, bool gameOver = false) {
  const uint32_t upTo = gameOver ? n.session->ConfirmedTick() : n.session->AgreedTick();
  const int64_t confirmed = static_cast<int64_t>(upTo) - n.gameStartTick;
  for (; n.recorded < confirmed; ++n.recorded) n.recorder.Tick(n.ticks[static_cast<size_t>(n.recorded)]);
  FeedTicks(n, n.recorded);
}

// The rollback session as the play loop's source: each tick of the clock is a frame of
// the session, whose requests are carried out on the game; the ticks it asks for are
// the loop's ticks, read from the session's readings, heard only when first run. A
// level's frames end once it is over on both computers.
class NetworkSource : public ControlSource {
 public:
  NetworkSource(Network& n, Game& game, uint32_t gameNumber) : n_(n), game_(game), gameNumber_(gameNumber) {}

  void BeginGame(GameState& game) override {
    game.random = OwnRandom(n_.seed + gameNumber_);
    n_.ticks.clear();
    n_.gameStartTick = n_.session->Tick();
    n_.recorded = 0;
    n_.ended = Ending::Cleared;
    n_.recorder.BeginGame(game);
    n_.recorder.SetRandom(static_cast<uint8_t>(RandomKind::Own), game.random.seed);
    n_.fed = 0;
    if (n_.feed) n_.feed->BeginGame(static_cast<uint16_t>(gameNumber_), game.random.seed, game.mathRevision);
  }
  FramePlan OpenFrame() override { return {kPendingTicks, false}; }
  Controls Read(int player) override { return ControlsFromCode(readings_[player - 1]); }
  bool ReachedItsEnd(uint64_t, uint32_t) const override { return Ended(n_); }

  bool FrameStarts(GameState&) override {
    Pump(n_);
    if (!Ended(n_) && QuitRequested()) n_.ended = Ending::Quit;
    return !Ended(n_);
  }
  void RunClockTick(PlayLoop& play, GameState& game) override {
    n_.session->BeginFrame(ControlsCode(ReadAnyLocalControls()), n_.paused);
    CarryOut(play, game);
    if (!n_.paused) n_.figures.Add(n_.session->Report());
  }
  void TicksRan(GameState& game) override {
    n_.connection->Flush();
    RepaintIfWentBack();
    RecordConfirmedTicks(n_);
    if (n_.session->OutOfStep()) {
      n_.ended = Ending::OutOfStep;
    } else {
      n_.levelSettled = LevelOver(game) && n_.session->ConfirmedTick() == n_.session->Tick();
    }
  }
  bool LevelGoesOn(const GameState&) override { return !n_.levelSettled; }
  // Read once a level: the next one begins unsettled, even one its player quits at once.
  LevelEnd LevelEndOf(const GameState& game) override {
    const bool settled = std::exchange(n_.levelSettled, false);
    if (Ended(n_) || !settled) return LevelEnd::Quit;
    return game.cleared ? LevelEnd::Cleared : LevelEnd::TimeUp;
  }

  void CarryOut(PlayLoop& play, GameState& game) {
    while (Request* request = n_.session->Next()) {
      StateCell* cell = request->cell;  // Save and Load only
      if (request->kind == Request::Kind::Advance) {
        Advance(play, game, *request);
      } else if (request->kind == Request::Kind::Load) {
        RestoreGame(game, cell->bytes.data(), cell->bytes.size());
        n_.wentBack = true;
      } else if (request->checksum) {
        cell->checksum = GameChecksum(game);
      } else {
        SaveGame(game, cell->bytes);
        cell->levelOver = LevelOver(game);
      }
    }
  }

  // After the session's frames: the splatter layer as the splat records say, if the
  // session went back (a tick run again paints nothing).
  void RepaintIfWentBack() {
    if (!n_.wentBack) return;
    n_.wentBack = false;
    if (game_.splatterLayer != nullptr) RepaintSplats(game_.splatterLayer, game_);
  }

 private:
  // One reading per player per tick; the level's end checked before every tick as a
  // frame of play checks it.
  void Advance(PlayLoop& play, GameState& game, const Request& request) {
    CheckFlies(game);  // notes a cleared level, as the start of a frame does
    TickControls record;
    for (int p = 0; p < 2; ++p) {
      record.count[p] = std::clamp(ReadingsForTick(game, p + 1), 0, kMaxReadings);
      std::fill_n(record.readings[p], record.count[p], ControlsFromCode(request.readings[p]));
    }
    readings_ = request.readings;
    RunTick(play, game, request.firstRun);
    const uint64_t tick = static_cast<uint64_t>(game.ticks);
    if (n_.ticks.size() < tick) n_.ticks.resize(tick);
    if (tick > 0) n_.ticks[tick - 1] = record;
  }

  Network& n_;
  Game& game_;
  uint32_t gameNumber_;
  std::array<uint8_t, 2> readings_{};
};

// A game on both screens: the level screens both players leave, the shared pause, the
// frame drawn as the session left it; the pictures, splats and sounds as on this screen.
class NetworkPresenter : public Presenter {
 public:
  NetworkPresenter(Network& n, Game& game, BITMAP* backbuffer) : n_(n), game_(game), backbuffer_(backbuffer) {}

  bool QuitAsked() override { return QuitRequested(); }
  bool TickCame(bool) override { return logic_time > 0; }
  void TickUsed() override { --logic_time; }
  void SetUpLevel(GameState&) override { SetUpLevelPictures(game_); }
  void StartLevelClock() override { logic_time = 0; }

  void ShowLevelScreen(LevelScreen screen, int level) override {
    const bool begin = screen == LevelScreen::Begin;
    char title[32];
    std::snprintf(title, sizeof title, begin ? "Level %d" : "Level %d clear!", level);
    PlayEffect(begin ? Effect::Level : Effect::Clear, SCREEN_W / 2);
    // In the record, and in the stream after the ticks before it: a level played out was
    // confirmed whole on both sides, so its ticks go before the screen.
    n_.recorder.LevelScreen();
    FeedTicks(n_, static_cast<int64_t>(n_.session->ConfirmedTick()) - n_.gameStartTick);
    if (n_.feed) n_.feed->LevelScreen(static_cast<uint64_t>(n_.session->Tick() - n_.gameStartTick));
    if (!BothLeaveScreen(n_, backbuffer_, title, begin ? "Press any key to begin." : "Press any key to continue.")) {
      if (!Ended(n_)) n_.ended = Ending::Quit;
    }
  }
  void LevelBegins(GameState&) override {
    n_.paused = false;
    n_.pauseDown = true;  // a key still held from the level screen counts once let go
    logic_time = 0;
  }
  void LevelEnds() override { ResumeSound(); }

  // P, the Pause key or a pad's Start toggles the pause on both computers.
  void BeforeTicks() override {
    const bool down = key[KEY_P] || key[KEY_PAUSE] || PadButtonDown(1, kPadStartButton);
    if (down && !n_.pauseDown) {
      n_.paused = !n_.paused;
      n_.connection->Send(net::MakeSignal(net::MessageType::Pause, n_.paused ? 1 : 0), true);
    }
    n_.pauseDown = down;
    if (n_.remotePause >= 0) {
      n_.paused = n_.remotePause == 1;
      n_.remotePause = -1;
    }
    if (n_.paused) PauseSound(); else ResumeSound();
    MuteOnKey();
  }
  void ActOnTick(GameState&, const TickEvents& events) override { ::ActOnTick(game_, events); }

  void ShowFrame(const GameState&) override {
    if (n_.levelSettled || Ended(n_)) return;
    blit(game_.splatterLayer, backbuffer_, 0, 0, 0, 0, game_.splatterLayer->w, game_.splatterLayer->h);
    DrawFrame(game_, backbuffer_);
    if (n_.paused) DrawPauseTexts(backbuffer_);
    blit(backbuffer_, screen, 0, 0, 0, 0, SCREEN_W, SCREEN_H);
    while (logic_time == 0 && !quitnow) rest(1);
  }

 private:
  Network& n_;
  Game& game_;
  BITMAP* backbuffer_;
};

// The game as both computers agree it was: the one who quits ends it at its confirmed
// tick and names that tick to the other, who goes back or runs on to it; otherwise
// what ran on predictions is taken back. True when the state changed.
bool EndTheGameTogether(Network& n, Ending ending, NetworkSource& source, PlayLoop& play, Game& game) {
  if (ending == Ending::Quit) {
    n.session->BeginLeave();
  } else {
    n.session->BeginSettleAt(ending == Ending::Left ? n.leftAt : 0);  // 0: what ran on predictions taken back
  }
  source.CarryOut(play, game);
  return n.session->Changed();
}

// The game's record finished with what both computers agree on: fed to the spectators,
// logged, written; where the games went out of step, also kept under the tick's name.
void FinishRecord(Network& n, const Game& game, Ending ending) {
  RecordConfirmedTicks(n, true);
  n.recorder.FinishGame(game, ending == Ending::TimeUp ? LevelEnd::TimeUp : LevelEnd::Quit);
  if (n.feed) n.feed->End(FactsOf(ending).stream);
  LogGameOver(n.recorder.Record().summary, FactsOf(ending).reason);
  WriteGameRecord(n.recorder.Record());
  const Figures& f = n.figures;
  LOG("Network game: ", f.frames, " frames, ", f.rerun, " ticks run again (at most ", f.worstRerun,
      " in a frame), ", f.waited, " frames waited, ", f.skipped, " given up to the other side; ",
      n.connection->BytesSent(), " bytes sent, ", n.connection->BytesReceived(), " received");
  if (ending != Ending::OutOfStep) return;
  const int64_t tick = static_cast<int64_t>(n.session->FirstDifferentTick()) - n.gameStartTick;
  LOG("The games went out of step: the first state that differed was at tick ", tick, " of the game");
  const std::string copy = ReplayDirectory() + "/out-of-step-at-tick-" + std::to_string(tick) + ".nsr";
  if (SaveReplay(copy, n.recorder.Record())) LOG("Replay saved in ", copy);
}

// What this player is told of the game's end, then the high scores: a game played out
// offers them to the world board too.
void ShowEnding(Network& n, BITMAP* backbuffer, const Game& game, Ending ending) {
  const int myScore = n.localPlayer == 0 ? game.p1.score : game.p2.score;
  const char* me = n.localPlayer == 0 ? "Player 1" : "Player 2";
  if (ending == Ending::TimeUp) PlayEffect(Effect::TimeUp, SCREEN_W / 2);
  const char* told = FactsOf(ending).screen;
  if (told != nullptr) LocalScreen(n, backbuffer, told, "Press any key to continue.");
  if (ending == Ending::TimeUp) {
    const auto serve = [&] {
      Serve(n);  // the name entry too: the other side's silence still ends the game
      rest(1);
    };
    HighScores(backbuffer, myScore, me, WorldBoardScoreCalls(n.recorder.Record(), serve));
    OfferGameToWorldBoard(n.recorder.Record());
  } else if (ending == Ending::Left || ending == Ending::Lost) {
    HighScores(backbuffer, myScore, me, WorldBoardScoreCalls(std::nullopt));
  }
}

// One game on both computers, from level 1 to its end. The game's record is finished
// (and saved) before this returns.
Ending PlayOneNetworkGame(Network& n, BITMAP* backbuffer, BITMAP* splatterLayer, uint32_t gameNumber) {
  Game game(true, splatterLayer);
  NetworkSource source(n, game, gameNumber);
  NetworkPresenter presenter(n, game, backbuffer);
  PlayLoop play{source, presenter};
  n.carryOut = [&] { source.CarryOut(play, game); };
  PlayMusic(Music::Play);
  const LevelEnd end = PlayGame(play, game);
  const Ending ending = Ended(n) ? n.ended : end == LevelEnd::TimeUp ? Ending::TimeUp : Ending::Quit;
  if (ending != Ending::TimeUp) {
    if (EndTheGameTogether(n, ending, source, play, game)) source.RepaintIfWentBack();
    n.connection->Flush();  // a Quit goes out now
  }
  FinishRecord(n, game, ending);
  ShowEnding(n, backbuffer, game, ending);
  n.carryOut = nullptr;
  EmptyLevelLists(game);
  return ending;
}

// "Play again?" on both computers: true when both players say yes.
bool BothPlayAgain(Network& n, BITMAP* backbuffer) {
  const char* question = "Play again? (Enter: yes, Escape: no)";
  ShowScreen(backbuffer, question, nullptr);
  WaitServing(n, [] { return !key[KEY_ENTER] && !key[KEY_ESC]; });
  clear_keybuf();
  bool yes = false;
  bool again = true;
  WaitServing(n, [&] {
    if (Ended(n) || n.remoteRematch == 0 || quitnow) return !(again = false);
    if (!yes && key[KEY_ESC]) {
      n.connection->Send(net::MakeSignal(net::MessageType::Rematch, 0), true);
      return !(again = false);
    }
    if (!yes && key[KEY_ENTER]) {
      yes = true;
      n.connection->Send(net::MakeSignal(net::MessageType::Rematch, 1), true);
      ShowScreen(backbuffer, question, "Waiting for the other player");
    }
    return yes && n.remoteRematch == 1;
  });
  if (!again) return false;
  n.remoteRematch = -1;
  return true;
}

// A message and a key, with no network to serve.
void LocalScreenWithoutNetwork(BITMAP* backbuffer, const char* text) {
  ShowScreen(backbuffer, text, "Press any key to continue.");
  clear_keybuf();
  WaitUntil([] { return keypressed() || quitnow; });
  if (keypressed()) readkey();
}

// No game can start: why, in the log and (as `shown`) to the player. False.
bool CannotStart(BITMAP* backbuffer, const std::string& logged, const std::string& shown) {
  LOG("Network game: ", logged);
  LocalScreenWithoutNetwork(backbuffer, shown.c_str());
  return false;
}

// The address last joined, kept beside the settings (in the player's configuration
// directory) and offered the next time --join is given none.
constexpr char kLastJoinFile[] = "/last-join";

std::string LastJoinedAddress() {
  const std::string dir = UserConfigDirectory(ProcessEnvironment());
  if (dir.empty()) return "";
  std::ifstream in(dir + kLastJoinFile);
  std::string line;
  std::getline(in, line);
  std::string host;
  uint16_t port = 0;
  return line.size() <= 255 && net::ParseAddress(line, host, port) ? line : std::string();
}

void RememberJoinedAddress(const std::string& address) {
  const std::string dir = UserConfigDirectory(ProcessEnvironment());
  std::string failure;
  if (dir.empty() || !MakeDirectories(dir)) return;
  if (!WriteFileAtomically(dir + kLastJoinFile, address + "\n", &failure)) {
    LOG("Could not keep the address joined: ", failure);
  }
}

// A joiner given neither address nor code is asked with the game's own prompt, offering
// the address joined last time; an address joined is remembered. False when what was
// typed is neither (the player was told).
bool ChooseJoinTarget(BITMAP* backbuffer, NetworkOptions& options) {
  std::string joined = options.address + ":" + std::to_string(options.port);
  if (options.address.empty() && options.code.empty()) {
    // The prompt takes letters, digits, blanks and full stops: a blank stands for the colon.
    std::string offered = LastJoinedAddress();
    std::replace(offered.begin(), offered.end(), ':', ' ');
    joined = GetWord(backbuffer, "Join a network game at (HOST, HOST PORT, or a code):", offered);
    if (!ReadJoinTarget(options, joined)) {  // a code: "K7Q2 MZ4P"; else the blank stands for the colon
      const size_t blank = joined.find(' ');
      if (blank != std::string::npos) joined[blank] = ':';
      if (!ReadJoinTarget(options, joined)) {
        LocalScreenWithoutNetwork(backbuffer, ("Not an address or a code: " + joined).c_str());
        return false;
      }
    }
  }
  if (options.code.empty()) RememberJoinedAddress(joined);
  return true;
}

// The handshake is done: the host's seed is the game's.
bool Agreed(Network& n, uint64_t hostSeed) {
  n.seed = hostSeed;
  LOG("Network game: connected to ", n.connection->PeerAddress(), ", playing as player ", n.localPlayer + 1);
  return true;
}

// The same through a lobby (lobbyplay.h).
bool ConnectThroughLobby(Network& n, BITMAP* backbuffer, const NetworkOptions& options, const net::Hello& mine) {
  const LobbyResult r = ConnectThroughLobby(
      options, mine, n.connection,
      [&](const std::string& first, const std::string& second) {
        ShowScreen(backbuffer, first.c_str(), second.empty() ? nullptr : second.c_str());
      },
      QuitRequested);
  if (!r.agreed && !r.failure.empty()) LocalScreenWithoutNetwork(backbuffer, r.failure.c_str());
  if (!r.agreed) return false;
  if (!r.feedCode.empty()) n.feed = std::make_unique<net::GameFeed>(*n.connection, r.lobby, r.feedCode, r.feedSecret);
  return Agreed(n, n.localPlayer == 0 ? mine.seed : r.theirs.seed);
}

// Waits for the other computer (host) or reaches it (join) and shakes hands. False,
// after telling the player why, when no game can start.
bool Connect(Network& n, BITMAP* backbuffer, const NetworkOptions& options) {
  const net::Hello mine{net::kProtocolVersion, NANASPLAT_VERSION, SimulationFingerprint(), net::FreshNonce()};
  const bool hosting = options.role == NetworkOptions::Role::Host;
  n.localPlayer = hosting ? 0 : 1;
  if (UsesLobby(options)) return ConnectThroughLobby(n, backbuffer, options, mine);
  std::string error;
  n.connection = hosting ? net::Connection::Listen(options.port, "", mine, error)
                         : net::Connection::Join(options.address, options.port, mine, error);
  if (!n.connection) {
    const std::string why = (hosting ? "wait for a player: " : "join: ") + error;
    return CannotStart(backbuffer, "cannot " + why, "Cannot " + why);
  }
  const std::string port = std::to_string(options.port);
  if (hosting) LOG("Network game: waiting for a player on port ", options.port);
  const std::string waiting =
      hosting ? "Waiting for a player on port " + port : "Connecting to " + options.address + ":" + port;
  ShowScreen(backbuffer, (waiting + " (Escape to stop)").c_str(), nullptr);
  for (;;) {
    if (QuitRequested()) return false;
    std::vector<net::NetEvent> events;
    n.connection->Service(events);
    n.connection->Flush();
    for (const net::NetEvent& e : events) {
      switch (e.kind) {
        case net::NetEvent::Kind::Agreed: return Agreed(n, hosting ? mine.seed : e.hello.seed);
        case net::NetEvent::Kind::Refused: return CannotStart(backbuffer, e.text, e.text);
        case net::NetEvent::Kind::Lost:
        case net::NetEvent::Kind::Left:
          return CannotStart(backbuffer, "no answer from " + options.address + ":" + port,
                             "The other computer does not answer.");
        default: break;
      }
    }
    rest(5);
  }
}

}  // namespace

int PlayNetworkGames(BITMAP* backbuffer, BITMAP* splatterLayer, const NetworkOptions& given) {
  NetworkOptions options = given;
  if (options.role == NetworkOptions::Role::Join && !ChooseJoinTarget(backbuffer, options)) return 1;
  Network n;
  if (!Connect(n, backbuffer, options)) {
    if (n.connection) n.connection->Close();
    return QuitRequested() ? 0 : 1;
  }
  const int delay = options.inputDelay >= 0 ? options.inputDelay : net::kDefaultInputDelay;
  n.session = std::make_unique<net::Session>(*n.connection, n.localPlayer, delay);
  uint32_t gameNumber = 0;
  while (PlayOneNetworkGame(n, backbuffer, splatterLayer, gameNumber++) == Ending::TimeUp) {
    if (!BothPlayAgain(n, backbuffer)) break;
  }
  if (n.feed) n.feed->Finish();  // the stream's end reaches the lobby
  n.connection->Close();
  return 0;
}
