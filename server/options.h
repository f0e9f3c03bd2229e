// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The server's command line, read once at start into ServerOptions. Each option is one
// entry of the table in options.cpp; every value is checked and bounded there.
#include <cstdint>
#include <string>

constexpr uint16_t kDefaultLobbyPort = 7479;  // UDP: the lobby and its relay
constexpr uint16_t kDefaultHttpPort = 8479;   // TCP: the score board's page and API
constexpr size_t kMaxOptionValueBytes = 4096;

struct ServerOptions {
  std::string listen = "0.0.0.0";     // the numeric address every socket binds to
  uint16_t lobbyPort = kDefaultLobbyPort;  // 0: no lobby
  uint16_t httpPort = kDefaultHttpPort;    // 0: no score board
  std::string stateDir;               // where the server keeps its files (see ParseServerOptions)
  std::string database;               // "" : SQLite in stateDir; "postgresql://...": PostgreSQL
  uint32_t submissionsPerMinute = 20;  // the board's replays accepted from one address
};

enum class ServerAction { Serve, Help, Version, Misuse };

struct ServerCommandLine {
  ServerOptions options;
  ServerAction action = ServerAction::Serve;
  std::string problem;  // for Misuse: what was wrong, in a sentence
};

// Reads argv[1..argc-1]: "--name VALUE" or "--name=VALUE"; the first --help or --version
// decides; anything else unknown, a value missing, out of range or too long is a Misuse.
// --state defaults to $STATE_DIRECTORY (set by systemd's StateDirectory=), else ".".
ServerCommandLine ParseServerOptions(int argc, const char* const* argv);

std::string ServerUsageText();
std::string ServerVersionText();
