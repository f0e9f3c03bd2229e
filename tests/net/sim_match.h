// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The real simulation as a match of the simulated network: a two-player network game
// with the game's own seeded generator, one reading per player per tick, levels begun
// as the game begins them.
#include <memory>

#include "simnet.h"

namespace simnet {

// `glitchTick` >= 0 makes that tick differ on this side (a non-deterministic tick).
std::unique_ptr<MatchGame> MakeSimulationGame(uint64_t seed, int glitchTick = -1);

}  // namespace simnet
