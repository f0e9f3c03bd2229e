// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The lobby service: one UDP socket (the options' listen address and lobby port) for
// the lobby and its relay, served by one thread over the tables of lobby_tables.h.
#include <memory>

#include "lobby_tables.h"
#include "service.h"

std::unique_ptr<Service> MakeLobbyService(const ServerOptions& options, const LobbyLimits& limits = {});
