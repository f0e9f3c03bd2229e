// SPDX-License-Identifier: GPL-3.0-or-later
#include "draw.h"

#include <cmath>

#include "fly.h"
#include "game.h"
#include "init.h"
#include "nana.h"
#include "sim/framedraws.h"
#include "splatter.h"
#include "util.h"

GameImages gameImages;

int White() { return makecol(255, 255, 255); }
int Black() { return makecol(0, 0, 0); }
int Red() { return makecol(255, 0, 0); }

namespace {
constexpr int kTextGap = 40;      // a screen's second line, below the first (pixels)
constexpr int kHudTop = 50;       // y of "P1: %d" and "Time Left: %d" (pixels)
constexpr int kHudP2Top = 100;    // y of "P2: %d" (pixels)
constexpr int kWallWidth = 20;    // the black walls (pixels)
constexpr int kFloorHeight = 21;  // the black floor, from the ground line down (pixels)
}  // namespace

void DrawTextScreen(BITMAP* buffer, const char* first, const char* second) {
  clear_to_color(buffer, White());
  textprintf_centre_ex(buffer, Font(), SCREEN_W / 2, SCREEN_H / 2, Black(), -1, "%s", first);
  if (second == nullptr) return;
  textprintf_centre_ex(buffer, Font(), SCREEN_W / 2, SCREEN_H / 2 + kTextGap, Black(), -1, "%s", second);
}

// --- Bananas

SpriteSize SizeOf(const Image* image) {
  if (image == nullptr || image->bitmap == nullptr) return {0, 0};
  return {image->bitmap->w, image->bitmap->h};
}

namespace {

// The library's rotate_sprite, with its positions made fixed-point by multiplying:
// the library's inline version shifts x and y left, which a banana reaching past the
// left or top edge (a negative position) must not be. Same call, same picture.
void RotateSprite(BITMAP* dest, BITMAP* sprite, int x, int y, fixed angle) {
  constexpr int kOne = 0x10000;  // 1.0 in the library's 16.16 fixed point
  dest->vtable->pivot_scaled_sprite_flip(dest, sprite, x * kOne + (sprite->w * kOne) / 2,
                                         y * kOne + (sprite->h * kOne) / 2, sprite->w << 15,
                                         sprite->h << 15, angle, kOne, FALSE);
}
}  // namespace

void DrawNana(const Nana& nana, BITMAP* sprite, BITMAP* flipped, BITMAP* dest) {
  if (sprite == nullptr || dest == nullptr) return;
  const int w = sprite->w;
  const int h = sprite->h;

  if (nana.state == UpsideDown && flipped != nullptr) {
    // The pre-turned copy, squashed towards its bottom edge.
    const Vec2<double> k = BoxOf(nana).Corner(+1, +1);
    const int dx = static_cast<int>(k.x);
    const double scale = nana.squash;  // the products in double, so truncation is exact
    const int dy = static_cast<int>(k.y + (1 - scale) * h);
    const int dh = static_cast<int>(scale * h);
    if (dh > 0) masked_stretch_blit(flipped, dest, 0, 0, w, h, dx, dy, w, dh);
    return;
  }

  // Turned to its angle about the centre; the library turns in steps of 1/256 turn.
  const int xi = static_cast<int>(nana.pos.x - kCentreOffset * sinf(nana.angle) - w / 2);
  const int yi = static_cast<int>(nana.pos.y + kCentreOffset * cosf(nana.angle) - h / 2);
  const int ai = static_cast<int>(nana.angle * kHalfTurnUnits / kPi);
  // Brought into 0 .. one turn: the library shifts the value left, which a negative
  // number must not be; the library takes angles modulo a turn, so the picture is the same.
  constexpr int kTurnUnits = 2 * kHalfTurnUnits;
  const int turn = (ai % kTurnUnits + kTurnUnits) % kTurnUnits;
  RotateSprite(dest, sprite, xi, yi, itofix(turn));
}

// --- Flies

namespace {
void DrawFliesAs(const std::vector<Fly>& flies, const uint8_t* secondPicture, BITMAP* first, BITMAP* second,
                 BITMAP* dest) {
  for (size_t i = 0; i < flies.size(); ++i) {
    BITMAP* sprite = secondPicture[i] != 0 ? second : first;
    if (sprite == nullptr) sprite = first != nullptr ? first : second;
    if (sprite == nullptr || dest == nullptr) continue;
    draw_sprite(dest, sprite, static_cast<int>(flies[i].pos.x), static_cast<int>(flies[i].pos.y));
  }
}
}  // namespace

void DrawFlies(const std::vector<Fly>& flies, BITMAP* first, BITMAP* second, BITMAP* dest) {
  GameState game;
  game.flies = flies;
  DrawFliesAs(flies, TakeFrameDraws(game).secondPicture, first, second, dest);
}

// --- Splats

namespace {
void PaintDot(BITMAP* bmp, Vec2<double> pos, SplatDot dot) {
  const double a = dot.degrees * kPi / 180.0;
  const int px = static_cast<int>(pos.x + dot.distance * std::cos(a));
  const int py = static_cast<int>(pos.y + dot.distance * std::sin(a));
  if (bmp != nullptr) putpixel(bmp, px, py, makecol(dot.red, dot.green, 0));
}
}  // namespace

void Splatter(BITMAP* bmp, Vec2<double> pos) {
  for (int dot = 0; dot < kSplatDots; ++dot) PaintDot(bmp, pos, DrawSplatDot(SharedCLibraryRandom()));
}

void PaintSplat(BITMAP* bmp, const GameState& game, const Splat& splat) {
  if (splat.ownDots != 0) {
    SplatDot dots[kSplatDots];
    OwnSplatDots(splat.seed, dots);
    for (const SplatDot& dot : dots) PaintDot(bmp, splat.pos, dot);
    return;
  }
  for (int i = 0; i < kSplatDots; ++i) {
    const size_t at = splat.firstDot + static_cast<size_t>(i);
    if (at >= game.splatDots.size()) return;
    PaintDot(bmp, splat.pos, UnpackSplatDot(game.splatDots[at]));
  }
}

void RepaintSplats(BITMAP* bmp, const GameState& game) {
  if (bmp == nullptr) return;
  clear_to_color(bmp, White());
  for (const Splat& splat : game.splats) PaintSplat(bmp, game, splat);
}

// --- The frame

namespace {

void DrawBananas(const Game& game, const Player& player, BITMAP* sprite, BITMAP* buffer) {
  BITMAP* flipped = game.flipped.get();
  DrawNana(player.nana, sprite, flipped, buffer);
  for (const Nana& extra : player.extras) DrawNana(extra, sprite, flipped, buffer);
}

void DrawScore(BITMAP* buffer, const char* format, int score, int y) {
  textprintf_ex(buffer, Font(), SCREEN_W - kHudScoreInset, y, Black(), -1, format, score);
}

void DrawTimeLeft(const Game& game, BITMAP* buffer) {
  textprintf_centre_ex(buffer, Font(), SCREEN_W / 2, kHudTop, Black(), -1, "Time Left: %d",
                       game.timeLeft / kTicksPerSecond);
}

// "CRAZY" in red around (x, SCREEN_H / 2), wandered as the frame's draws say.
void DrawCrazy(BITMAP* buffer, int x, CrazyJitter jitter) {
  textprintf_centre_ex(buffer, Font(), x + jitter.dx, SCREEN_H / 2 + jitter.dy, Red(), -1, "CRAZY");
}

void DrawFloorAndWalls(BITMAP* buffer) {
  rectfill(buffer, 0, SCREEN_H - kFloorHeight, SCREEN_W, SCREEN_H, Black());
  rectfill(buffer, 0, 0, kWallWidth, SCREEN_H, Black());
  rectfill(buffer, SCREEN_W - kWallWidth, 0, SCREEN_W, SCREEN_H, Black());
}

// The screen's size; without a screen, the splatter layer's (pixels).
PlayArea ScreenArea(BITMAP* splatterLayer) {
  if (SCREEN_W > 0 || splatterLayer == nullptr) return {SCREEN_W, SCREEN_H};
  return {splatterLayer->w, splatterLayer->h};
}

}  // namespace

void DrawFrame(const Game& game, BITMAP* buffer) {
  const FrameDraws draws = TakeFrameDraws(game);
  DrawFliesAs(game.flies, draws.secondPicture, PictureOf(gameImages.fly1), PictureOf(gameImages.fly2), buffer);
  DrawBananas(game, game.p1, PictureOf(gameImages.banana1), buffer);
  DrawScore(buffer, "P1: %d", game.p1.score, kHudTop);
  DrawTimeLeft(game, buffer);
  if (draws.crazy[0].shown) DrawCrazy(buffer, game.twoPlayer ? SCREEN_W / 4 : SCREEN_W / 2, draws.crazy[0]);
  if (game.twoPlayer) {
    DrawBananas(game, game.p2, PictureOf(gameImages.banana2), buffer);
    DrawScore(buffer, "P2: %d", game.p2.score, kHudP2Top);
    if (draws.crazy[1].shown) DrawCrazy(buffer, SCREEN_W * 3 / 4, draws.crazy[1]);
  }
  DrawFloorAndWalls(buffer);
}

Game::Game(bool twoPlayer, BITMAP* splatterLayer)
    : GameState(twoPlayer, ScreenArea(splatterLayer), SizeOf(gameImages.banana1), SizeOf(gameImages.fly1)),
      splatterLayer(splatterLayer) {}
