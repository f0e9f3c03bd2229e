// SPDX-License-Identifier: GPL-3.0-or-later
#include "service.h"

#include "board/board.h"
#include "lobby.h"

std::vector<std::unique_ptr<Service>> MakeServices(const ServerOptions& options) {
  std::vector<std::unique_ptr<Service>> services;
  if (options.lobbyPort != 0) services.push_back(MakeLobbyService(options));
  if (options.httpPort != 0) services.push_back(MakeBoardService(options));
  return services;
}
