// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Network games: two players on two computers, each at their own window.
//
// This module owns what a network game adds around the simulation: waiting for or
// reaching the other computer, the handshake's verdict, the level screens that wait for
// both players, a pause shared by both, the rollback session that runs the ticks, the
// recording of the confirmed ticks, and the endings only a network game has (the other
// player left, the connection was lost, the games went out of step). The host plays
// player 1 and the joiner player 2; each steers with any of its computer's controls.
#include <allegro.h>

#include "netoptions.h"

// Hosts or joins network games until a player stops; returns the exit status.
int PlayNetworkGames(BITMAP* backbuffer, BITMAP* splatterLayer, const NetworkOptions& options);
