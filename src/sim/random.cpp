// SPDX-License-Identifier: GPL-3.0-or-later
#include "random.h"

#include <cstdlib>
#include <cstring>

int RandomSource::Next() {
  if (kind == RandomKind::CLibrary) return std::rand();
  return static_cast<int>(own() >> 33);  // the top 31 bits
}

RandomSource CLibraryRandom() { return RandomSource{}; }

RandomSource OwnRandom(uint64_t seed) {
  RandomSource source;
  source.kind = RandomKind::Own;
  source.seed = seed;
  source.own.seed(seed);
  return source;
}

namespace {
// The C library keeps its generator in a table; setstate (POSIX) switches between
// tables, writing the position of the table it leaves into that table's first word.
// Two tables of our own: `parked` is where the generator waits while a table is
// copied, `restored` holds a table put back. Neither is ever reseeded once set up, so
// the table in use is never overwritten by accident.
alignas(8) char parked[kCLibraryStateBytes];
alignas(8) char restored[kCLibraryStateBytes];

void SetUpTables() {
  static const bool ready = [] {
    char* inUse = initstate(1, parked, sizeof parked);
    initstate(1, restored, sizeof restored);
    setstate(inUse);
    return true;
  }();
  (void)ready;
}

constexpr int32_t kCLibraryStateType = 3;    // the library's type of a 128-byte table
constexpr int32_t kCLibraryStateWords = 31;  // its degree
constexpr int32_t kCLibraryTypes = 5;        // the library codes position * 5 + type
}  // namespace

void SaveCLibraryState(unsigned char (&table)[kCLibraryStateBytes]) {
  SetUpTables();
  char* inUse = setstate(parked);
  std::memcpy(table, inUse, kCLibraryStateBytes);
  setstate(inUse);
}

void RestoreCLibraryState(const unsigned char (&table)[kCLibraryStateBytes]) {
  SetUpTables();
  setstate(parked);
  std::memcpy(restored, table, kCLibraryStateBytes);
  setstate(restored);
}

bool UsableCLibraryState(const unsigned char* table, size_t size) {
  if (table == nullptr || size != kCLibraryStateBytes) return false;
  int32_t head = 0;
  std::memcpy(&head, table, sizeof head);
  return head >= 0 && head % kCLibraryTypes == kCLibraryStateType && head / kCLibraryTypes < kCLibraryStateWords;
}

RandomSource& SharedCLibraryRandom() {
  static RandomSource shared;
  return shared;
}
