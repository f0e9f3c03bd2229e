// SPDX-License-Identifier: GPL-3.0-or-later
#include "playloop.h"

#include <algorithm>

#include "gamerecord.h"

bool PlayLoop::QuitRequested() const {
  return presenter.QuitAsked() || source.ReachedItsEnd(framesOpened, levelScreens);
}

namespace {

// Each banana's reading, in the rules' order: the own banana, then each extra.
TickControls ReadTickControls(PlayLoop& play, const GameState& game) {
  TickControls controls;
  for (int player = 1; player <= 2; ++player) {
    const int readings = std::min(ReadingsForTick(game, player), kMaxReadings);
    for (int i = 0; i < readings; ++i) {
      const Controls reading = play.source.Read(player);
      if (play.recorder != nullptr) play.recorder->Reading(player, reading);
      controls.readings[player - 1][i] = reading;
    }
    controls.count[player - 1] = readings;
  }
  return controls;
}

// The frame's ticks, as many as the source gives and the clock lets come.
void RunFrameTicks(PlayLoop& play, GameState& game) {
  const FramePlan plan = play.source.OpenFrame();
  ++play.framesOpened;
  uint32_t ran = 0;
  for (; ran < plan.ticks && play.presenter.TickCame(plan.waitForEach); ++ran) {
    play.source.RunClockTick(play, game);
    play.presenter.TickUsed();
  }
  if (play.recorder != nullptr) play.recorder->Frame(ran);
}

void ShowLevelScreen(PlayLoop& play, LevelScreen screen, int level) {
  ++play.levelScreens;
  if (play.recorder != nullptr) play.recorder->LevelScreen();
  play.presenter.ShowLevelScreen(screen, level);
}

void PlayLevel(PlayLoop& play, GameState& game) {
  if (play.QuitRequested()) return;
  play.presenter.LevelBegins(game);
  while (PlayFrame(play, game)) {}
  play.presenter.LevelEnds();
}

// Levels one after the other, each begun with its set-up and intro screen, until one
// ends other than cleared or a quit is asked for before the next one begins.
LevelEnd PlayLevels(PlayLoop& play, GameState& game) {
  while (!play.QuitRequested()) {
    play.presenter.SetUpLevel(game);
    BeginLevel(game);
    ShowLevelScreen(play, LevelScreen::Begin, game.level);
    play.presenter.StartLevelClock();
    StartLevelClock(game);
    PlayLevel(play, game);

    const LevelEnd end = play.source.LevelEndOf(game);
    if (end != LevelEnd::Cleared) return end;
    NextLevel(game);
    ShowLevelScreen(play, LevelScreen::Cleared, game.level - 1);
  }
  return LevelEnd::Quit;
}

}  // namespace

void ControlSource::RunClockTick(PlayLoop& play, GameState& game) { RunTick(play, game); }

void RunTick(PlayLoop& play, GameState& game, bool heard) {
  const TickEvents events = RunTick(game, ReadTickControls(play, game));
  if (heard) play.presenter.ActOnTick(game, events);
}

bool PlayFrame(PlayLoop& play, GameState& game) {
  if (play.presenter.PausedFrame(game)) return !play.QuitRequested();
  if (!play.source.FrameStarts(game)) return false;
  play.presenter.BeforeTicks();
  RunFrameTicks(play, game);
  play.source.TicksRan(game);
  play.presenter.ShowFrame(game);
  return !play.QuitRequested() && play.source.LevelGoesOn(game);
}

LevelEnd PlayGame(PlayLoop& play, GameState& game) {
  play.framesOpened = 0;
  play.levelScreens = 0;
  play.source.BeginGame(game);
  if (play.recorder != nullptr) play.recorder->BeginGame(game);
  const LevelEnd end = PlayLevels(play, game);
  if (play.recorder != nullptr) play.recorder->FinishGame(game, end);
  return end;
}
