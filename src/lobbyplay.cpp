// SPDX-License-Identifier: GPL-3.0-or-later
#include "lobbyplay.h"

#include <chrono>
#include <thread>

#include "debug.h"
#include "net/game_feed.h"
#include "net/lobby_client.h"
#include "settings.h"

namespace {

constexpr int kPollMs = 5;  // between two looks at the network while waiting

LobbyResult Failure(const std::string& text) {
  LOG("Network game: ", text);
  return {false, {}, text, "", 0, {}};
}

}  // namespace

std::string LobbyOf(const NetworkOptions& options) {
  return !options.lobby.empty() ? options.lobby : CurrentSettings().lobby;
}

bool UsesLobby(const NetworkOptions& options) {
  if (options.role == NetworkOptions::Role::Join) return !options.code.empty();
  return options.role == NetworkOptions::Role::Host && !LobbyOf(options).empty();
}

LobbyResult ConnectThroughLobby(const NetworkOptions& options, const net::Hello& mine,
                                std::unique_ptr<net::Connection>& connection,
                                const std::function<void(const std::string&, const std::string&)>& show,
                                const std::function<bool()>& stop) {
  const bool hosting = options.role == NetworkOptions::Role::Host;
  const std::string lobbyName = LobbyOf(options);
  if (lobbyName.empty()) {
    return Failure("No lobby is set: give --lobby HOST[:PORT], or the setting lobby = HOST[:PORT]");
  }
  net::Endpoint lobby;
  std::string error;
  if (!net::ResolveLobby(lobbyName, lobby, error)) return Failure("Cannot reach the lobby: " + error);
  connection = hosting ? net::Connection::Listen(options.port, "", mine, error) : net::Connection::Open(mine, error);
  if (!connection) return Failure((hosting ? "Cannot wait for a player: " : "Cannot join: ") + error);
  const net::Endpoint local{net::LocalAddressTowards(lobby), connection->Port()};
  net::LobbyClient client(*connection, lobby, local, mine, hosting ? "" : options.code, net::SteadyMs());

  std::string first = hosting ? "Registering with the lobby ..." : "Joining game " + net::FormatCode(options.code) + " ...";
  std::string second = hosting ? "Waiting for a player on port " + std::to_string(options.port) + " (Escape to stop)"
                               : "(Escape to stop)";
  if (hosting) LOG("Network game: waiting for a player on port ", options.port);
  show(first, second);
  bool lobbyDone = false;  // the host's lobby failed: direct joins still come
  bool introduced = false;  // the lobby brought the joiner: the game can be watched
  for (;;) {
    if (stop()) return {};
    std::vector<net::NetEvent> netEvents;
    connection->Service(netEvents);
    std::vector<net::LobbyEvent> lobbyEvents;
    if (!lobbyDone) client.Tick(net::SteadyMs(), lobbyEvents);
    connection->Flush();
    for (const net::LobbyEvent& e : lobbyEvents) {
      switch (e.kind) {
        case net::LobbyEvent::Kind::Registered:
          LOG("Network game: your code is ", net::FormatCode(e.code));
          first = "Your code: " + net::FormatCode(e.code);
          break;
        case net::LobbyEvent::Kind::Introduced:
          LOG("Network game: the lobby introduced ", net::EndpointText(e.to));
          introduced = true;
          if (hosting) first += "  -  a player is coming";
          break;
        case net::LobbyEvent::Kind::Direct: first = "Connecting directly ..."; break;
        case net::LobbyEvent::Kind::Relayed: first = "Connecting through the relay ..."; break;
        case net::LobbyEvent::Kind::Failed:
          if (!hosting) return Failure(e.text);
          LOG("Network game: ", e.text);
          first = e.text;
          lobbyDone = true;
          break;
      }
      show(first, second);
    }
    for (const net::NetEvent& e : netEvents) {
      switch (e.kind) {
        case net::NetEvent::Kind::Agreed: {
          const bool relayed = connection->PeerEndpoint() == lobby;
          LOG("Network game: playing ", relayed ? "through the relay" : "directly");
          show(relayed ? "Playing through the relay" : "Playing directly", "");
          if (!hosting || !introduced) return {true, e.hello, "", "", 0, {}};
          return {true, e.hello, "", client.Code(), client.Secret(), lobby};
        }
        case net::NetEvent::Kind::Refused: return Failure(e.text);
        case net::NetEvent::Kind::Lost:
        case net::NetEvent::Kind::Left:
          return Failure("The other computer does not answer.");
        default:
          break;
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
  }
}
