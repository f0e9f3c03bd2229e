#pragma once
// The scenes the benchmarks time: a busy moment of a two-player game on the last
// level that adds flies, and the drawing calls one frame of it makes.
#include <allegro.h>

#include <string>
#include <vector>

#include "game.h"
#include "image.h"

// Size and depth of the game's screen (pixels, bits per pixel).
constexpr int kScreenW = 1024;
constexpr int kScreenH = 768;
constexpr int kColourDepth = 16;

// The level with the most flies, and the streak whose CRAZY burst is the largest a
// player reaches in practice (9 kills in one jump: 9 / 3 + 3 = 6 extras).
constexpr int kBusiestLevel = 16;
constexpr int kBurstStreak = 9;
constexpr int kBurstExtras = 6;

// Brings up the library with a 1024 x 768 x 16 window; false (with the reason on
// stderr) when no display can give one.
bool StartLibrary();

// Loads the bananas, flies and font the game draws from `mediaDir`; false when one is
// missing. The pictures stay with `images`.
bool LoadPlayMedia(ImageManager& images, const std::string& mediaDir);

// The whole game state, saved as the simulation saves it.
struct Snapshot {
  std::vector<unsigned char> state;
};

Snapshot TakeSnapshot(const Game& game);
// False if the snapshot is not one.
bool Restore(Game& game, const Snapshot& snapshot);

// Holds the controls a player would hold in the middle of a busy level: player 1 rolls
// right and squashes, player 2 rolls left with the mouse.
void HoldBusyControls();

// Plays the busiest level up to a moment in the middle of CRAZY mode for both
// players: 80 flies, 6 extras each, bananas rolling, flying, on a tip and upside down
// (some squashed). Deterministic for a given seed. False, with the reason on stderr,
// if the moment could not be reached.
bool ReachBusyMoment(Game& game, unsigned seed);

// One drawing call of a frame, with the arguments the frame passes.
struct DrawCall {
  enum Kind { Sprite, Rotated, Squashed, Text, CentredText, Box } kind;
  BITMAP* source;        // Sprite, Rotated, Squashed
  int x, y;              // destination (pixels): top-left, or the text's anchor
  int w, h;              // Squashed: source size; Box: the far corner (x2, y2)
  int dh;                // Squashed: the drawn height (pixels)
  fixed angle;           // Rotated: in the library's 256ths of a turn
  int colour;            // Text, CentredText, Box
  std::string format;    // Text, CentredText
  int value;             // Text, CentredText: the number printed (when the format has one)
};

// The calls DrawFrame makes for `game` when the random numbers start from `seed`
// (which fly frames, where the CRAZY texts wander).
std::vector<DrawCall> RecordFrameCalls(const Game& game, unsigned seed);
// Makes exactly those calls, with nothing around them.
void ReplayFrameCalls(const std::vector<DrawCall>& calls, BITMAP* buffer);

// Whether two bitmaps of one size hold the same pixels.
bool SamePixels(BITMAP* a, BITMAP* b);
