// SPDX-License-Identifier: GPL-3.0-or-later
#include "scene.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iterator>

#include "init.h"
#include "nana.h"
#include "util.h"

bool StartLibrary() {
  if (allegro_init() != 0) {
    std::fprintf(stderr, "the library does not start: is DISPLAY set?\n");
    return false;
  }
  set_color_depth(kColourDepth);
  if (set_gfx_mode(GFX_AUTODETECT_WINDOWED, kScreenW, kScreenH, 0, 0) != 0) {
    std::fprintf(stderr, "no %d x %d x %d window: %s\n", kScreenW, kScreenH, kColourDepth,
                 allegro_error);
    return false;
  }
  return true;
}

bool LoadPlayMedia(ImageManager& images, const std::string& mediaDir) {
  const std::string dir = mediaDir + "/";
  gameImages.banana1 = images.GetImage(dir + "banana_sm1.bmp");
  gameImages.banana2 = images.GetImage(dir + "banana_sm1.bmp");
  gameImages.fly1 = images.GetImage(dir + "fly1.bmp");
  gameImages.fly2 = images.GetImage(dir + "fly2.bmp");
  FONT* gameFont = GetFont((dir + "font.dat").c_str());
  if (gameImages.banana1 == nullptr || gameImages.fly1 == nullptr || gameImages.fly2 == nullptr ||
      gameFont == nullptr) {
    std::fprintf(stderr, "media missing in %s\n", mediaDir.c_str());
    return false;
  }
  SetGlobalFont(gameFont);
  return true;
}

// ---------------------------------------------------------------------------
// Snapshots
// ---------------------------------------------------------------------------

Snapshot TakeSnapshot(const Game& game) {
  Snapshot snapshot;
  SaveGame(game, snapshot.state);
  return snapshot;
}

bool Restore(Game& game, const Snapshot& snapshot) {
  return RestoreGame(game, snapshot.state.data(), snapshot.state.size());
}

// ---------------------------------------------------------------------------
// The busy moment
// ---------------------------------------------------------------------------

void HoldBusyControls() {
  for (int k = 0; k < KEY_MAX; ++k) key[k] = 0;
  key[KEY_RIGHT] = 1;
  key[KEY_SPACE] = 1;
  mouse_b = 1;
}

namespace {

// Ticks of play after the bursts, to spread the extras over the floor (ticks).
constexpr int kSpreadTicks = 75;
// Steps of flight that give fresh flies their jittery speeds.
constexpr int kFlyWarmUp = 30;
// Scores of a good game by level 16 (points).
constexpr int kP1Score = 2415;
constexpr int kP2Score = 1980;

const char* const kStateNames[] = {"airborne", "rolling", "tipping", "upside down"};

// Drops a banana upside down just above the floor and lets it settle on both tips,
// then squashes it to `squash` as a held key would.
bool LayUpsideDown(Nana& n, float squash) {
  constexpr int kSettleTicks = 60;
  n.angle = static_cast<float>(kPi);
  n.spin = 0;
  n.vel = {0, 0};
  n.state = Airborne;
  n.pos.y = (SCREEN_H - kGroundMargin) - n.image.h / 2 + kCentreOffset - 1;
  for (int t = 0; t < kSettleTicks && n.state != UpsideDown; ++t) n.DoPhysics(0, true, (SCREEN_H - kGroundMargin));
  n.squash = squash;
  return n.state == UpsideDown;
}

}  // namespace

bool ReachBusyMoment(Game& game, unsigned seed) {
  std::srand(seed);
  game.level = kBusiestLevel;
  SetUpLevel(game);
  StartLevelClock(game);
  HoldBusyControls();

  // A long jump has just ended for both: the next landing sets off the burst.
  for (Player* p : {&game.p1, &game.p2}) {
    p->streak = kBurstStreak;
    p->crazy = kCrazyRestartAt;
  }
  RunTick(game);
  if (game.p1.extras.size() != kBurstExtras || game.p2.extras.size() != kBurstExtras) {
    std::fprintf(stderr, "the CRAZY bursts gave %zu and %zu extras, not %d\n", game.p1.extras.size(),
                 game.p2.extras.size(), kBurstExtras);
    return false;
  }
  for (int t = 0; t < kSpreadTicks; ++t) RunTick(game);

  // Some bananas lie upside down, two of them squashed hard, whatever the spread did.
  LayUpsideDown(*std::next(game.p1.extras.begin(), 1), 0.62f);
  LayUpsideDown(*std::next(game.p1.extras.begin(), 4), 0.9f);
  LayUpsideDown(*std::next(game.p2.extras.begin(), 2), 0.55f);

  // A full swarm again (the spread may have caught some), already on the wing.
  game.flies = MakeFlies(game.level, game.flySize, game.area.width, game.area.height);
  for (int t = 0; t < kFlyWarmUp; ++t) {
    for (Fly& fly : game.flies) fly.flyRandom((SCREEN_H - kGroundMargin));
  }
  game.p1.score = kP1Score;
  game.p2.score = kP2Score;
  game.p1.streak = game.p2.streak = 0;

  int states[4] = {0, 0, 0, 0};
  for (const Player* p : {&game.p1, &game.p2}) {
    ++states[p->nana.state];
    for (const Nana& n : p->extras) ++states[n.state];
  }
  std::fprintf(stderr, "busy moment: %zu flies, bananas", game.flies.size());
  for (int s = 0; s < 4; ++s) std::fprintf(stderr, " %d %s%s", states[s], kStateNames[s], s < 3 ? "," : "\n");
  if (game.p1.crazy <= 0 || game.p2.crazy <= 0 || states[UpsideDown] < 3) {
    std::fprintf(stderr, "the busy moment is not in CRAZY mode with bananas upside down\n");
    return false;
  }
  return true;
}

// ---------------------------------------------------------------------------
// The frame's drawing calls
// ---------------------------------------------------------------------------

namespace {

// Where the game draws its texts and walls (pixels), and how far CRAZY wanders.
constexpr int kScoreInset = kHudScoreInset;
constexpr int kHudTop = 50;
constexpr int kHudP2Top = 100;
constexpr int kWallWidth = 20;
constexpr int kFloorHeight = 21;
constexpr double kSquashCornerHalf = 0.5;

int Jitter() { return std::rand() % (2 * kCrazyJitter + 1) - kCrazyJitter; }

// The banana's call: the pre-turned copy squashed from the sprite box's far corner,
// or the sprite turned about its centre.
DrawCall NanaCall(const Nana& n, BITMAP* sprite, BITMAP* flipped) {
  const int w = sprite->w;
  const int h = sprite->h;
  const float a = n.angle;
  if (n.state == UpsideDown && flipped != nullptr) {
    const double cx = n.pos.x - kCentreOffset * sinf(a);
    const double cy = n.pos.y + kCentreOffset * cosf(a);
    const double hvx = static_cast<float>(kSquashCornerHalf * h * sinf(-a));
    const double hvy = kSquashCornerHalf * h * cosf(-a);
    const double side = kHalfPi - a;
    const double wvx = kSquashCornerHalf * w * std::sin(side);
    const double wvy = kSquashCornerHalf * w * std::cos(side);
    DrawCall call{DrawCall::Squashed, flipped, 0, 0, w, h, 0, 0, 0, "", 0};
    call.x = static_cast<int>(cx + hvx + wvx);
    const double scale = n.squash;
    call.y = static_cast<int>(cy + hvy + wvy + (1 - scale) * h);
    call.dh = static_cast<int>(scale * h);
    return call;
  }
  DrawCall call{DrawCall::Rotated, sprite, 0, 0, w, h, 0, 0, 0, "", 0};
  call.x = static_cast<int>(n.pos.x - kCentreOffset * sinf(a) - w / 2);
  call.y = static_cast<int>(n.pos.y + kCentreOffset * cosf(a) - h / 2);
  const int ai = static_cast<int>(a * 128 / kPi);
  call.angle = itofix(ai % 256);
  return call;
}

void AddBananas(std::vector<DrawCall>& calls, const Game& game, const Player& p) {
  BITMAP* sprite = gameImages.banana1->bitmap;
  calls.push_back(NanaCall(p.nana, sprite, game.flipped.get()));
  for (const Nana& n : p.extras) calls.push_back(NanaCall(n, sprite, game.flipped.get()));
}

DrawCall TextCall(DrawCall::Kind kind, int x, int y, int colour, const char* format, int value) {
  return {kind, nullptr, x, y, 0, 0, 0, 0, colour, format, value};
}

DrawCall CrazyCall(int x, bool jitterX) {
  const int y = SCREEN_H / 2 + Jitter();
  if (jitterX) x += Jitter();
  return TextCall(DrawCall::CentredText, x, y, makecol(255, 0, 0), "CRAZY", 0);
}

DrawCall BoxCall(int x1, int y1, int x2, int y2) {
  return {DrawCall::Box, nullptr, x1, y1, x2, y2, 0, 0, makecol(0, 0, 0), "", 0};
}

}  // namespace

std::vector<DrawCall> RecordFrameCalls(const Game& game, unsigned seed) {
  std::srand(seed);
  std::vector<DrawCall> calls;
  const int black = makecol(0, 0, 0);
  for (const Fly& fly : game.flies) {
    BITMAP* sprite = std::rand() % 4 == 1 ? gameImages.fly2->bitmap : gameImages.fly1->bitmap;
    calls.push_back({DrawCall::Sprite, sprite, static_cast<int>(fly.pos.x), static_cast<int>(fly.pos.y),
                     0, 0, 0, 0, 0, "", 0});
  }
  AddBananas(calls, game, game.p1);
  calls.push_back(TextCall(DrawCall::Text, SCREEN_W - kScoreInset, kHudTop, black, "P1: %d", game.p1.score));
  calls.push_back(TextCall(DrawCall::CentredText, SCREEN_W / 2, kHudTop, black, "Time Left: %d",
                           game.timeLeft / kTicksPerSecond));
  if (game.p1.crazy > 0) {
    calls.push_back(CrazyCall(game.twoPlayer ? SCREEN_W / 4 : SCREEN_W / 2, !game.twoPlayer));
  }
  if (game.twoPlayer) {
    AddBananas(calls, game, game.p2);
    calls.push_back(TextCall(DrawCall::Text, SCREEN_W - kScoreInset, kHudP2Top, black, "P2: %d", game.p2.score));
    if (game.p2.crazy > 0) calls.push_back(CrazyCall(SCREEN_W * 3 / 4, true));
  }
  calls.push_back(BoxCall(0, SCREEN_H - kFloorHeight, SCREEN_W, SCREEN_H));
  calls.push_back(BoxCall(0, 0, kWallWidth, SCREEN_H));
  calls.push_back(BoxCall(SCREEN_W - kWallWidth, 0, SCREEN_W, SCREEN_H));
  return calls;
}

void ReplayFrameCalls(const std::vector<DrawCall>& calls, BITMAP* buffer) {
  FONT* f = Font();
  for (const DrawCall& c : calls) {
    switch (c.kind) {
      case DrawCall::Sprite:
        draw_sprite(buffer, c.source, c.x, c.y);
        break;
      case DrawCall::Rotated:
        rotate_sprite(buffer, c.source, c.x, c.y, c.angle);
        break;
      case DrawCall::Squashed:
        masked_stretch_blit(c.source, buffer, 0, 0, c.w, c.h, c.x, c.y, c.w, c.dh);
        break;
      case DrawCall::Text:
        textprintf_ex(buffer, f, c.x, c.y, c.colour, -1, c.format.c_str(), c.value);
        break;
      case DrawCall::CentredText:
        textprintf_centre_ex(buffer, f, c.x, c.y, c.colour, -1, c.format.c_str(), c.value);
        break;
      case DrawCall::Box:
        rectfill(buffer, c.x, c.y, c.w, c.h, c.colour);
        break;
    }
  }
}

bool SamePixels(BITMAP* a, BITMAP* b) {
  if (a->w != b->w || a->h != b->h) return false;
  for (int y = 0; y < a->h; ++y) {
    for (int x = 0; x < a->w; ++x) {
      if (getpixel(a, x, y) != getpixel(b, x, y)) return false;
    }
  }
  return true;
}
