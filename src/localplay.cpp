// SPDX-License-Identifier: GPL-3.0-or-later
// A game on this screen: the devices as its source, its presenter (paced and drawn, or
// unseen), the ways a game is played here, and the banana sprite's turned copy.
#include <allegro.h>

#include <cstdio>
#include <memory>

#include "debug.h"
#include "draw.h"
#include "game.h"
#include "gamerecord.h"
#include "highscores.h"
#include "image.h"
#include "init.h"
#include "input.h"
#include "nana.h"
#include "pad.h"
#include "pause.h"
#include "playloop.h"
#include "replay.h"
#include "sim/trig.h"
#include "sound.h"
#include "splatter.h"
#include "taps.h"
#include "util.h"
#include "worldboard.h"

// The banana sprite's copy turned half a turn.
BITMAP* MakeFlippedCopy(BITMAP* sprite) {
  if (sprite == nullptr || sprite->w <= 0 || sprite->h <= 0) return nullptr;
  BITMAP* flipped = create_bitmap(sprite->w, sprite->h);
  if (flipped == nullptr) {
    LOG("Couldn't create buffer for 180 rot'd copy of sprite");
    return nullptr;
  }
  clear_to_color(flipped, makecol(255, 0, 255));
  rotate_sprite(flipped, sprite, 0, 0, itofix(kHalfTurnUnits));
  return flipped;
}

namespace {

constexpr int kWatchedScreenMs = 2000;  // a watched replay's level screens (milliseconds)
constexpr int kMarkInset = 30;          // the mark's distance from the top-left corner (pixels)

void ShowBackBuffer(BITMAP* backbuffer) { blit(backbuffer, screen, 0, 0, 0, 0, SCREEN_W, SCREEN_H); }

// The sounds of the rules' events.
Effect EffectOf(SimSound sound) {
  constexpr Effect kEffects[] = {Effect::Splat, Effect::Jump, Effect::Land, Effect::Crazy};  // as SimSound
  return kEffects[static_cast<int>(sound)];
}

// The devices as a source: this computer's controls, as many ticks a frame as the
// 60 Hz clock has pending, and the portable trigonometry.
class DeviceSource : public ControlSource {
 public:
  void BeginGame(GameState& game) override { game.mathRevision = kPortableMath; }
  FramePlan OpenFrame() override { return {kPendingTicks, false}; }
  Controls Read(int player) override { return ReadControls(player); }
  bool ReachedItsEnd(uint64_t, uint32_t) const override { return false; }
};

// A game on this screen: paced by the 60 Hz clock, drawn and heard; or unseen.
class ScreenPresenter : public Presenter {
 public:
  ScreenPresenter(Game& game, BITMAP* backbuffer, const Showing& showing)
      : game_(game), backbuffer_(backbuffer), showing_(showing) {}

  bool QuitAsked() override { return key[KEY_ESC] || quitnow || (showing_.stop != nullptr && showing_.stop()); }

  // A watched replay waits for each of its ticks to come; the devices run those pending.
  bool TickCame(bool wait) override {
    if (!showing_.paced) return true;
    if (!wait) return logic_time > 0;
    bool came = false;
    WaitUntil([&] { return (came = logic_time > 0) || QuitAsked(); });
    return came;
  }
  void TickUsed() override { if (showing_.paced && logic_time > 0) --logic_time; }

  void SetUpLevel(GameState&) override { SetUpLevelPictures(game_); }
  void StartLevelClock() override { logic_time = 0; }

  void ShowLevelScreen(LevelScreen screen, int level) override {
    const bool begin = screen == LevelScreen::Begin;
    char title[32];
    std::snprintf(title, sizeof title, begin ? "Level %d" : "Level %d clear!", level);
    PlayEffect(begin ? Effect::Level : Effect::Clear, SCREEN_W / 2);
    ShowMessageAndWait(title, begin ? "Press any key to begin." : "Press any key to continue.");
  }

  // A level screen: two centred lines, then a wait: for a key in a game, for two
  // seconds in a replay watched (M still mutes), none unseen.
  void ShowMessageAndWait(const char* first, const char* second) {
    DrawTextScreen(backbuffer_, first, second);
    if (!showing_.paced) return;
    DrawMark();
    ShowBackBuffer(backbuffer_);
    clear_keybuf();
    if (showing_.mark == nullptr) {
      WaitForKeyOrPadButton();
      return;
    }
    for (int waited = 0; waited < kWatchedScreenMs && !QuitAsked(); waited += 10) {
      MuteOnKey();
      rest(10);
    }
  }

  // The time-up screen, then the high-score screens and the world board's offer.
  void ShowTimeUpAndOfferScores(const Replay& record) {
    PlayEffect(Effect::TimeUp, SCREEN_W / 2);
    ShowMessageAndWait("Time up!  The fruit flies got to you ...", "Press any key to continue.");
    if (!showing_.offerScores) return;  // a replayed game's scores were offered when it was played
    const ScoreScreenCalls world = WorldBoardScoreCalls(record);
    HighScores(backbuffer_, game_.p1.score, "Player 1", world);
    if (game_.twoPlayer) HighScores(backbuffer_, game_.p2.score, "Player 2", world);
    OfferGameToWorldBoard(record);
  }

  void LevelBegins(GameState&) override { StartPause(game_.pause); }
  void LevelEnds() override { ResumeSound(); }  // a level left while paused holds no sound back

  // While paused the picture kept when the pause began (it draws no random numbers, so
  // a pause of any length leaves the game's sequence as it was), the pause texts over
  // it; the ticks are dropped as they come, each frame waiting for a fresh one.
  bool PausedFrame(GameState&) override {
    if (!UpdatePause(game_.pause, backbuffer_, game_.splatterLayer)) return false;
    MuteOnKey();
    DrawPauseTexts(backbuffer_);
    ShowBackBuffer(backbuffer_);
    logic_time = 0;
    WaitUntil([this] { return logic_time != 0 || QuitAsked(); }, SamplePadStart);
    return true;
  }

  void BeforeTicks() override { MuteOnKey(); }

  void ActOnTick(GameState&, const TickEvents& events) override {
    for (size_t i = 0; i < events.splatsMade && showing_.paced; ++i) {
      PaintSplat(game_.splatterLayer, game_, game_.splats[events.firstSplat + i]);
    }
    for (int i = 0; i < events.soundCount; ++i) PlayEffect(EffectOf(events.sounds[i].sound), events.sounds[i].x);
  }

  void ShowFrame(const GameState&) override {
    if (!showing_.paced) {
      TakeFrameDraws(game_);  // unseen: only the numbers drawing takes
      return;
    }
    DrawFrame(game_, backbuffer_);
    DrawMark();
    ShowBackBuffer(backbuffer_);
    clear_to_color(backbuffer_, White());
    while (logic_time == 0) {  // the game loop yields with rest(0) until the next tick
      SamplePadStart();
      rest(0);
    }
    blit(game_.splatterLayer, backbuffer_, 0, 0, 0, 0, game_.splatterLayer->w, game_.splatterLayer->h);
  }

 private:
  // "REPLAY" over a watched replay's frame (above the play area's texts), or "DEMO".
  void DrawMark() {
    if (showing_.mark == nullptr) return;
    textprintf_ex(backbuffer_, Font(), kMarkInset, kMarkInset / 3, Red(), -1, "%s", showing_.mark);
  }

  Game& game_;
  BITMAP* backbuffer_;
  Showing showing_;
};

// A whole game from `source`, shown as `showing` says, recorded.
Replay PlayFrom(ControlSource& source, const Showing& showing, BITMAP* backbuffer, BITMAP* splatterLayer,
                bool twoPlayer) {
  Game game(twoPlayer, splatterLayer);
  ScreenPresenter presenter(game, backbuffer, showing);
  GameRecorder recorder(NANASPLAT_VERSION, GameMediaFingerprint());
  PlayLoop play{source, presenter, &recorder};
  PlayMusic(Music::Play);
  const LevelEnd end = PlayGame(play, game);
  LogGameOver(recorder.Record().summary, nullptr);
  if (showing.offerScores) WriteGameRecord(recorder.Record());
  if (end == LevelEnd::TimeUp) presenter.ShowTimeUpAndOfferScores(recorder.Record());
  EmptyLevelLists(game);
  return recorder.Record();
}

}  // namespace

void SetUpLevelPictures(Game& game) {
  logic_time = 0;
  game.bananaSize = SizeOf(gameImages.banana1);
  game.flySize = SizeOf(gameImages.fly1);
  game.flipped.reset(MakeFlippedCopy(PictureOf(gameImages.banana1)),
                     [](BITMAP* bitmap) { if (bitmap != nullptr) destroy_bitmap(bitmap); });
  if (game.splatterLayer != nullptr) clear_to_color(game.splatterLayer, White());
}

void SetUpLevel(Game& game) {
  SetUpLevelPictures(game);
  BeginLevel(game);
}

void StartLevelClock(Game& game) {
  logic_time = 0;
  StartLevelClock(static_cast<GameState&>(game));
}

bool PlayFrame(Game& game, BITMAP* backbuffer) {
  DeviceSource devices;
  ScreenPresenter presenter(game, backbuffer, Showing{});
  PlayLoop play{devices, presenter};
  return PlayFrame(play, game);
}

void RunTick(Game& game) {
  DeviceSource devices;
  ScreenPresenter presenter(game, nullptr, Showing{});
  PlayLoop play{devices, presenter};
  RunTick(play, game);
}

void ActOnTick(Game& game, const TickEvents& events) {
  ScreenPresenter(game, nullptr, Showing{}).ActOnTick(game, events);
}

Replay PlayGame(BITMAP* backbuffer, BITMAP* splatterLayer, bool twoPlayer) {
  DeviceSource devices;
  return PlayFrom(devices, Showing{}, backbuffer, splatterLayer, twoPlayer);
}

std::unique_ptr<Presenter> MakeScreenPresenter(Game& game, BITMAP* backbuffer, const Showing& showing) {
  return std::make_unique<ScreenPresenter>(game, backbuffer, showing);
}

Replay PlayReplay(BITMAP* backbuffer, BITMAP* splatterLayer, const Replay& replay, const Showing& showing) {
  ReplaySource source(replay);
  return PlayFrom(source, showing, backbuffer, splatterLayer, replay.players == 2);
}

void WatchReplay(BITMAP* backbuffer, BITMAP* splatterLayer, const Replay& replay, const char* mark, bool (*stop)()) {
  LOG("Playing back the replay", " of ", SummaryText(replay.summary));
  StartSound();  // a watched game sounds as it did (M and --mute as in play)
  PlayReplay(backbuffer, splatterLayer, replay, Showing{/*paced=*/true, mark, /*offerScores=*/false, stop});
}
