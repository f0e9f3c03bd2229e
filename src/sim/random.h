// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The random source a game holds.
//
// A local game draws from the C library's rand(), shared with drawing (the flies'
// pictures and the CRAZY text draw from it too), so every local game and every replay
// recorded with it plays as it always has. A game played on two computers cannot
// share a generator with drawing (each side draws its own number of frames): it gets a
// seeded generator of its own, held in the game state, which drawing never touches.
#include <cstddef>
#include <cstdint>
#include <random>

enum class RandomKind : uint8_t {
  CLibrary = 0,  // the C library's rand(): the generator of every local game
  Own = 1,       // the game's own seeded generator
};

struct RandomSource {
  RandomKind kind = RandomKind::CLibrary;
  uint64_t seed = 0;        // of the own generator
  std::mt19937_64 own{0};   // used when kind == Own

  // The next number, 0 .. 2^31 - 1 (as rand() gives with the C library's RAND_MAX).
  int Next();
};

// A source drawing from rand(); one of its own, seeded with `seed`.
RandomSource CLibraryRandom();
RandomSource OwnRandom(uint64_t seed);

// The C library's generator's table (its whole state), for snapshots of local games.
constexpr int kCLibraryStateBytes = 128;
void SaveCLibraryState(unsigned char (&table)[kCLibraryStateBytes]);
void RestoreCLibraryState(const unsigned char (&table)[kCLibraryStateBytes]);
// Whether `size` bytes at `table` are a table the C library can go on from: the size of
// the game's table, and a first word (position * 5 + type) naming its type and a place
// in it. Anything read from a file is checked here before it is restored.
bool UsableCLibraryState(const unsigned char* table, size_t size);

// The shared source of code that draws from rand() without a game of its own.
RandomSource& SharedCLibraryRandom();
