// SPDX-License-Identifier: GPL-3.0-or-later
#include "options.h"

#include <arpa/inet.h>

#include <cstdlib>
#include <cstring>
#include <iterator>
#include <sstream>

#ifndef NANASPLAT_VERSION
#error "NANASPLAT_VERSION is set by the build from the project's version"
#endif

namespace {

struct ServerOption {
  const char* name;   // with its leading "--"
  const char* value;  // the value's name in the usage; null: takes none
  const char* help;
  // Sets what the option carries; false (with a sentence in `problem`) for a bad value.
  bool (*apply)(ServerCommandLine& line, const std::string& value);
};

bool ReadPort(const std::string& text, uint16_t& port, std::string& problem, const char* option) {
  unsigned long value = 0;
  bool digits = !text.empty() && text.size() <= 5;
  for (char c : text) digits = digits && c >= '0' && c <= '9';
  if (digits) value = std::strtoul(text.c_str(), nullptr, 10);
  if (!digits || value > 65535) {
    problem = std::string(option) + " takes a port number from 0 to 65535, not '" + text + "'";
    return false;
  }
  port = static_cast<uint16_t>(value);
  return true;
}

bool ReadCount(const std::string& text, uint32_t& count, std::string& problem) {
  bool digits = !text.empty() && text.size() <= 6;
  for (char c : text) digits = digits && c >= '0' && c <= '9';
  const unsigned long value = digits ? std::strtoul(text.c_str(), nullptr, 10) : 0;
  if (value < 1 || value > 100000) {
    problem = "--submissions-per-minute takes a number from 1 to 100000, not '" + text + "'";
    return false;
  }
  count = static_cast<uint32_t>(value);
  return true;
}

bool ReadAddress(const std::string& text, std::string& address, std::string& problem) {
  unsigned char buffer[sizeof(struct in6_addr)];
  if (inet_pton(AF_INET, text.c_str(), buffer) != 1 && inet_pton(AF_INET6, text.c_str(), buffer) != 1) {
    problem = "--listen takes a numeric IPv4 or IPv6 address, not '" + text + "'";
    return false;
  }
  address = text;
  return true;
}

const ServerOption kServerOptions[] = {
    {"--listen", "ADDRESS", "the address to listen on (default 0.0.0.0: every IPv4 address)",
     [](ServerCommandLine& l, const std::string& v) { return ReadAddress(v, l.options.listen, l.problem); }},
    {"--lobby-port", "PORT", "UDP port of the lobby and relay (default 7479; 0: no lobby)",
     [](ServerCommandLine& l, const std::string& v) { return ReadPort(v, l.options.lobbyPort, l.problem, "--lobby-port"); }},
    {"--http-port", "PORT", "TCP port of the score board's page and API (default 8479; 0: no board)",
     [](ServerCommandLine& l, const std::string& v) { return ReadPort(v, l.options.httpPort, l.problem, "--http-port"); }},
    {"--state", "DIR", "where the server keeps its files (default $STATE_DIRECTORY, else .)",
     [](ServerCommandLine& l, const std::string& v) { l.options.stateDir = v; return true; }},
    {"--database", "URL", "postgresql://... to keep the board in PostgreSQL (default: SQLite in DIR)",
     [](ServerCommandLine& l, const std::string& v) { l.options.database = v; return true; }},
    {"--submissions-per-minute", "N", "replays the board takes from one address a minute (default 20)",
     [](ServerCommandLine& l, const std::string& v) { return ReadCount(v, l.options.submissionsPerMinute, l.problem); }},
    {"--help", nullptr, "show this help and exit",
     [](ServerCommandLine& l, const std::string&) { l.action = ServerAction::Help; return true; }},
    {"--version", nullptr, "show the version and exit",
     [](ServerCommandLine& l, const std::string&) { l.action = ServerAction::Version; return true; }},
};

ServerCommandLine Misuse(std::string problem) {
  ServerCommandLine line;
  line.action = ServerAction::Misuse;
  line.problem = std::move(problem);
  return line;
}

}  // namespace

ServerCommandLine ParseServerOptions(int argc, const char* const* argv) {
  ServerCommandLine line;
  const char* state = std::getenv("STATE_DIRECTORY");  // systemd may list several, ':'-separated
  line.options.stateDir = state != nullptr && *state != '\0' ? std::string(state).substr(0, std::string(state).find(':')) : ".";
  for (int i = 1; i < argc; ++i) {
    std::string argument = argv[i];
    std::string name = argument;
    std::string value;
    bool inlineValue = false;
    const size_t equals = argument.find('=');
    if (argument.rfind("--", 0) == 0 && equals != std::string::npos) {
      name = argument.substr(0, equals);
      value = argument.substr(equals + 1);
      inlineValue = true;
    }
    const ServerOption* option = nullptr;
    for (const ServerOption& entry : kServerOptions) {
      if (name == entry.name) option = &entry;
    }
    if (option == nullptr) return Misuse("unknown argument '" + argument + "' (see --help)");
    if (option->value == nullptr && inlineValue) return Misuse(name + " takes no value");
    if (option->value != nullptr && !inlineValue) {
      if (i + 1 >= argc) return Misuse(name + " needs a value (" + option->value + ")");
      value = argv[++i];
    }
    if (option->value != nullptr && (value.empty() || value.size() > kMaxOptionValueBytes)) {
      return Misuse(name + " needs a value of 1 to " + std::to_string(kMaxOptionValueBytes) + " bytes");
    }
    if (!option->apply(line, value)) return Misuse(line.problem);
    if (line.action != ServerAction::Serve) return line;
  }
  return line;
}

std::string ServerUsageText() {
  std::ostringstream text;
  text << "Usage: nanasplat-server [OPTION]...\n"
          "The lobby, relay and world score board of nanasplat games.\n\n";
  for (const ServerOption& option : kServerOptions) {
    std::string left = std::string(option.name) + (option.value ? std::string(" ") + option.value : "");
    text << "  " << left << std::string(left.size() < 22 ? 22 - left.size() : 1, ' ') << option.help << "\n";
  }
  text << "\nIt logs one line per event on standard error and ends cleanly on SIGTERM or SIGINT.\n";
  return text.str();
}

std::string ServerVersionText() { return std::string("nanasplat-server ") + NANASPLAT_VERSION + "\n"; }
