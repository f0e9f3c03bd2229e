// SPDX-License-Identifier: GPL-3.0-or-later
#include "netoptions.h"

#include "net/lobby_protocol.h"
#include "net/transport.h"

void ReadHostOption(NetworkOptions& options, const char* port) {
  options.role = NetworkOptions::Role::Host;
  options.port = net::kDefaultPort;
  if (port == nullptr || *port == '\0') return;
  std::string host;
  if (!net::ParseAddress(std::string("h:") + port, host, options.port)) {
    options.error = std::string("--host: '") + port + "' is not a port number (1 to 65535)";
  }
}

void ReadJoinOption(NetworkOptions& options, const char* address) {
  options.role = NetworkOptions::Role::Join;
  options.port = net::kDefaultPort;
  options.address.clear();
  options.code.clear();
  if (address == nullptr || *address == '\0') return;
  if (!ReadJoinTarget(options, address)) {
    options.error = std::string("--join: '") + address + "' is not HOST, HOST:PORT or a code (XXXX-XXXX)";
  }
}

void ReadWatchOption(NetworkOptions& options, const char* code) {
  options.role = NetworkOptions::Role::Watch;
  options.address.clear();
  if (code == nullptr || !net::ParseCode(code, options.code)) {
    options.error = std::string("--watch: '") + (code != nullptr ? code : "") + "' is not a code (XXXX-XXXX)";
  }
}

bool ReadJoinTarget(NetworkOptions& options, const std::string& text) {
  if (net::ParseCode(text, options.code)) {
    options.address.clear();
    return true;
  }
  options.code.clear();
  return net::ParseAddress(text, options.address, options.port);
}

void ReadLobbyOption(NetworkOptions& options, const char* lobby) {
  const std::string text = lobby != nullptr ? lobby : "";
  std::string host;
  uint16_t port = 0;
  const bool named = !text.empty() && text.size() <= 255 && text.find(' ') == std::string::npos;
  if (!named || (text.find(':') != std::string::npos && !net::ParseAddress(text, host, port))) {
    options.error = "--lobby: '" + text + "' is not HOST or HOST:PORT";
    return;
  }
  options.lobby = text;
}

void ReadInputDelayOption(NetworkOptions& options, const char* ticks) {
  const std::string text = ticks != nullptr ? ticks : "";
  if (text.size() == 1 && text[0] >= '0' && text[0] <= '0' + net::kMaxInputDelay) {
    options.inputDelay = text[0] - '0';
  } else {
    options.error = "--input-delay: '" + text + "' is not a number of ticks from 0 to 6";
  }
}
