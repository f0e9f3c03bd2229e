// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Watching a network game live (--watch CODE): the lobby's stream of the players' game
// played on this screen a few seconds behind, "LIVE" in its corner, with its sound, and
// recorded as every game is. When it ends (or its stream does) the spectator is told how,
// in one sentence on screen and one log line, and goes on to the menu.
#include <allegro.h>

#include "netoptions.h"

void WatchLiveGame(BITMAP* backbuffer, BITMAP* splatterLayer, const NetworkOptions& options);
