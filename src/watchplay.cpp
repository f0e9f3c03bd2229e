// SPDX-License-Identifier: GPL-3.0-or-later
#include "watchplay.h"

#include <memory>
#include <string>

#include "debug.h"
#include "draw.h"
#include "game.h"
#include "gamerecord.h"
#include "init.h"
#include "input.h"
#include "lobbyplay.h"
#include "net/game_feed.h"
#include "net/lobby_client.h"
#include "net/watch_client.h"
#include "replay.h"
#include "sound.h"
#include "splatter.h"
#include "taps.h"
#include "util.h"
#include "watchsource.h"

#ifndef NANASPLAT_VERSION
#error "NANASPLAT_VERSION is set by the build from the project's version"
#endif

namespace {

constexpr int kMarkInset = 30;        // "LIVE" this far from the top-left corner (pixels)
constexpr int kWaitStepMs = 5;        // between two looks at the network on a screen

void Show(BITMAP* backbuffer) { blit(backbuffer, screen, 0, 0, 0, 0, SCREEN_W, SCREEN_H); }

// The game's own presenter, with what a live game changes: what the lobby held when the
// spectator came is played unseen and unheard at full speed; a level screen lasts until
// the players left theirs; no pause (the players' game does not wait).
class LivePresenter : public Presenter {
 public:
  LivePresenter(Presenter& inner, WatchSource& source, Game& game, BITMAP* backbuffer)
      : inner_(inner), source_(source), game_(game), backbuffer_(backbuffer) {}

  bool QuitAsked() override { return inner_.QuitAsked(); }
  bool TickCame(bool wait) override { return source_.CatchingUp() || inner_.TickCame(wait); }
  void TickUsed() override {
    if (!source_.CatchingUp()) inner_.TickUsed();
  }
  void SetUpLevel(GameState& game) override { inner_.SetUpLevel(game); }
  void StartLevelClock() override { inner_.StartLevelClock(); }

  void ShowLevelScreen(LevelScreen screen, int level) override {
    const bool shown = !source_.CatchingUp();
    if (shown) {
      char title[32];
      std::snprintf(title, sizeof title, screen == LevelScreen::Begin ? "Level %d" : "Level %d clear!", level);
      PlayEffect(screen == LevelScreen::Begin ? Effect::Level : Effect::Clear, SCREEN_W / 2);
      DrawTextScreen(backbuffer_, title, "Waiting for the players");
      textprintf_ex(backbuffer_, Font(), kMarkInset, kMarkInset / 3, Red(), -1, "%s", "LIVE");
      Show(backbuffer_);
    }
    WaitUntil([this] { return source_.LevelScreenPassed() || QuitAsked(); }, shown ? MuteOnKey : nullptr);
  }

  void LevelEnds() override { inner_.LevelEnds(); }
  void BeforeTicks() override { inner_.BeforeTicks(); }
  void ActOnTick(GameState& game, const TickEvents& events) override {
    if (!source_.CatchingUp()) inner_.ActOnTick(game, events);
  }

  void ShowFrame(const GameState& game) override {
    if (source_.CatchingUp()) {
      caughtUp_ = false;
      return;
    }
    if (!caughtUp_) {  // the splats of the ticks played unseen, under the first frame shown
      caughtUp_ = true;
      RepaintSplats(game_.splatterLayer, game_);
      blit(game_.splatterLayer, backbuffer_, 0, 0, 0, 0, game_.splatterLayer->w, game_.splatterLayer->h);
    }
    inner_.ShowFrame(game);
  }

 private:
  Presenter& inner_;
  WatchSource& source_;
  Game& game_;
  BITMAP* backbuffer_;
  bool caughtUp_ = true;
};

void ShowLines(BITMAP* backbuffer, const std::string& first, const char* second) {
  DrawTextScreen(backbuffer, first.c_str(), second);
  Show(backbuffer);
}

// The last screen: what happened, then a key.
void Tell(BITMAP* backbuffer, const std::string& text) {
  LOG("Watching: ", text);
  if (quitnow) return;
  WaitForKeysUp();
  ShowLines(backbuffer, text, "Press any key to go back to the menu.");
  WaitForKeyOrPadButton();
  WaitForKeysUp();
}

// How a game watched ended: what the spectator is told, and the reason the log gives.
struct Ending { const char* text; const char* reason; };
Ending EndingOf(net::StreamEnd how) {
  switch (how) {
    case net::StreamEnd::TimeUp: return {"Time up!  The game is over.", "time up"};
    case net::StreamEnd::Quit: return {"The players ended their game.", "the players ended it"};
    case net::StreamEnd::Lost: return {"The players lost their connection.", "the players lost their connection"};
    case net::StreamEnd::OutOfStep: return {"The players' games went out of step.", "out of step"};
  }
  return {"The game is over.", "quit"};
}

std::string StreamOverText(const net::WatchedStream& stream) {
  return stream.failure.empty() ? "The game's stream has ended." : stream.failure;
}

// Waits for the lobby to take this spectator and send the game's header. False (the
// spectator told why, or stopped) when no game can be watched.
bool WaitForTheGame(net::WatchClient& client, BITMAP* backbuffer, const std::string& code) {
  ShowLines(backbuffer, "Watching game " + code + " ...", "(Escape to stop)");
  bool toldWaiting = false;
  for (;;) {
    if (QuitRequested()) return false;
    client.Service(net::SteadyMs());
    const net::WatchedStream& s = client.Stream();
    if (s.over) {
      Tell(backbuffer, StreamOverText(s));
      return false;
    }
    if (s.header) return true;
    if (client.Waiting() && !toldWaiting) {
      toldWaiting = true;
      LOG("Watching: game ", code, " has not begun yet; waiting");
      ShowLines(backbuffer, "Game " + code + " has not begun yet ...", "(Escape to stop)");
    }
    rest(kWaitStepMs);
  }
}

}  // namespace

void WatchLiveGame(BITMAP* backbuffer, BITMAP* splatterLayer, const NetworkOptions& options) {
  const std::string code = net::FormatCode(options.code);
  const std::string lobbyName = LobbyOf(options);
  if (lobbyName.empty()) {
    return Tell(backbuffer, "No lobby is set: give --lobby HOST[:PORT], or the setting lobby = HOST[:PORT]");
  }
  net::Endpoint lobby;
  std::string error;
  if (!net::ResolveLobby(lobbyName, lobby, error)) return Tell(backbuffer, "Cannot reach the lobby: " + error);
  const net::Hello mine{net::kProtocolVersion, NANASPLAT_VERSION, SimulationFingerprint()};
  std::unique_ptr<net::WatchClient> client = net::WatchClient::Open(lobby, options.code, mine, error);
  if (!client) return Tell(backbuffer, "Cannot watch: " + error);
  if (!WaitForTheGame(*client, backbuffer, code)) return;
  LOG("Watching game ", code, " live (", kWatchDelayMs, " ms behind; ", client->Stream().catchUpTo,
      " items already played)");

  Game game(true, splatterLayer);
  Showing live;
  live.mark = "LIVE";
  live.offerScores = false;
  const std::unique_ptr<Presenter> inner = MakeScreenPresenter(game, backbuffer, live);
  WatchSource source(client->Stream(), [&] { client->Service(net::SteadyMs()); }, net::SteadyMs, QuitRequested);
  LivePresenter presenter(*inner, source, game, backbuffer);
  GameRecorder recorder(NANASPLAT_VERSION, GameMediaFingerprint());
  PlayLoop play{source, presenter, &recorder};
  StartSound();
  PlayMusic(Music::Play);
  const LevelEnd end = PlayGame(play, game);
  net::StreamEnd how = net::StreamEnd::Quit;
  const bool ended = source.Ended(how) && source.ReachedItsEnd(0, 0);
  const net::WatchedStream& s = client->Stream();
  LogGameOver(recorder.Record().summary, ended ? EndingOf(how).reason : s.over ? "its stream ended" : "stopped watching");
  WriteGameRecord(recorder.Record());
  EmptyLevelLists(game);
  LOG("Watching: ", client->BytesReceived(), " bytes received, ", client->BytesSent(), " sent");
  if (end == LevelEnd::TimeUp) PlayEffect(Effect::TimeUp, SCREEN_W / 2);
  if (ended || end == LevelEnd::TimeUp) {
    Tell(backbuffer, EndingOf(end == LevelEnd::TimeUp ? net::StreamEnd::TimeUp : how).text);
  } else if (s.over) {
    Tell(backbuffer, StreamOverText(s));
  } else {
    LOG("Watching: stopped by the player");
    WaitForKeysUp();
  }
}
