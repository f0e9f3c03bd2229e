// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the command line asks of a network game: host or join, where, and the input
// delay. Read here, checked here; played by netplay.
#include <cstdint>
#include <string>

struct NetworkOptions {
  enum class Role { None, Host, Join };
  Role role = Role::None;
  uint16_t port = 0;        // host: the UDP port to listen on; join: the host's
  std::string address;      // join: the host's name or address; empty: ask
  int inputDelay = -1;      // ticks, 0..6; -1: the default
  std::string error;        // a command line that could not be read, in a sentence
};

// Reads "--host [PORT]" and "--join HOST[:PORT]" values into `options`.
void ReadHostOption(NetworkOptions& options, const char* port);
void ReadJoinOption(NetworkOptions& options, const char* address);
void ReadInputDelayOption(NetworkOptions& options, const char* ticks);
