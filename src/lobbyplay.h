// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Network games met through a lobby: a host with a lobby set registers its game and shows
// its code while it waits (direct joins by address still work); a joiner with a code asks
// the lobby, then plays directly when punching gets through, else through the relay. The
// screen and the log say which; each failure is one sentence on screen and one log line.
#include <functional>
#include <memory>
#include <string>

#include "net/transport.h"
#include "netoptions.h"

struct LobbyResult {
  bool agreed = false;   // the handshake is done: play may start
  net::Hello theirs;     // the other side's Hello
  std::string failure;   // what the player is told; empty when the player stopped
  // A host whose player came through the lobby: what feeds its game to spectators
  // (net/game_feed.h), the code and the lobby's secret for it, and the lobby.
  std::string feedCode;
  uint64_t feedSecret = 0;
  net::Endpoint lobby;
};

// The lobby these options name: --lobby, else the `lobby` setting; empty: none.
std::string LobbyOf(const NetworkOptions& options);
// True when this game goes through a lobby: a host with a lobby, or a join by code.
bool UsesLobby(const NetworkOptions& options);

// Waits for (host) or reaches (join) the other player through the lobby. `show` puts two
// lines on the waiting screen; `stop` is true when the player asked to stop.
LobbyResult ConnectThroughLobby(const NetworkOptions& options, const net::Hello& mine,
                                std::unique_ptr<net::Connection>& connection,
                                const std::function<void(const std::string&, const std::string&)>& show,
                                const std::function<bool()>& stop);
