// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the command line asks of a network game: host or join, where, and the input
// delay. Read here, checked here; played by netplay.
#include <cstdint>
#include <string>

struct NetworkOptions {
  enum class Role { None, Host, Join, Watch };
  Role role = Role::None;
  uint16_t port = 0;        // host: the UDP port to listen on; join: the host's
  std::string address;      // join: the host's name or address; empty: ask (or `code`)
  std::string code;         // join, watch: a lobby's code for the game (eight characters); empty: none
  std::string lobby;        // HOST[:PORT] of the lobby (--lobby, else the `lobby` setting)
  int inputDelay = -1;      // ticks, 0..6; -1: the default
  std::string error;        // a command line that could not be read, in a sentence
};

// Read the values of "--host [PORT]", "--join HOST[:PORT]" (or "--join CODE"),
// "--input-delay N", "--watch CODE" and "--lobby HOST[:PORT]" into `options`.
void ReadHostOption(NetworkOptions& options, const char* port);
void ReadJoinOption(NetworkOptions& options, const char* address);
void ReadInputDelayOption(NetworkOptions& options, const char* ticks);
void ReadWatchOption(NetworkOptions& options, const char* code);
void ReadLobbyOption(NetworkOptions& options, const char* lobby);
// What was typed or given to join: a code (XXXX-XXXX, in any case, the dash or a blank
// optional: eight characters of the code alphabet, without '.' or ':') or HOST[:PORT].
// A computer whose name looks like a code is joined by adding its port (NAME:7478).
// False when it is neither.
bool ReadJoinTarget(NetworkOptions& options, const std::string& text);
