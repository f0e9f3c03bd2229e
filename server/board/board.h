// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The world score board: an HTTP service (its API is described in docs/board-api.md)
// that takes replays, keeps them durably, re-runs each one in a child process and puts
// on the board only the games whose re-run ends exactly as their files say.
#include <memory>

#include "service.h"

std::unique_ptr<Service> MakeBoardService(const ServerOptions& options);
