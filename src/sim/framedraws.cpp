// SPDX-License-Identifier: GPL-3.0-or-later
#include "framedraws.h"

#include <algorithm>

namespace {

int Jitter(RandomSource& random) { return random.Next() % (2 * kCrazyJitter + 1) - kCrazyJitter; }

// Down or up first; across only when `across` is set.
CrazyJitter TakeJitter(RandomSource& random, bool across) {
  CrazyJitter jitter;
  jitter.shown = true;
  jitter.dy = Jitter(random);
  if (across) jitter.dx = Jitter(random);
  return jitter;
}

}  // namespace

FrameDraws TakeFrameDraws(const GameState& game) {
  RandomSource& random = SharedCLibraryRandom();
  FrameDraws draws;
  const size_t flies = std::min(game.flies.size(), static_cast<size_t>(kMaxFlies));
  for (size_t i = 0; i < flies; ++i) draws.secondPicture[i] = random.Next() % 4 == 1 ? 1 : 0;
  // One player's text wanders across too; in a two-player game each stays on its side.
  if (game.p1.crazy > 0) draws.crazy[0] = TakeJitter(random, !game.twoPlayer);
  if (game.twoPlayer && game.p2.crazy > 0) draws.crazy[1] = TakeJitter(random, true);
  return draws;
}
