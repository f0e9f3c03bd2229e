// SPDX-License-Identifier: GPL-3.0-or-later
#include "options.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <iterator>
#include <sstream>

#include "settings.h"
#include "userdata.h"
#include "worldboard.h"

#ifndef NANASPLAT_VERSION
#error "NANASPLAT_VERSION is set by the build from the project's version"
#endif

namespace {
void Refuse(CommandLine& line, std::string problem) {
  line.action = CommandAction::Misuse;
  line.problem = std::move(problem);
}
// A network option's value, read by the network module; a value it cannot use is a misuse.
template <void (*Read)(NetworkOptions&, const char*)>
void NetworkOption(CommandLine& line, const char* value) {
  Read(line.options.network, value);
  if (!line.options.network.error.empty()) Refuse(line, line.options.network.error);
}
// A board's address, or a misuse.
void ScoreboardOption(CommandLine& line, const char* url) {
  line.options.scoreboard = url;
  if (!IsWorldBoardUrl(url)) Refuse(line, "--scoreboard takes an http:// or https:// address");
}

// Whether an argument is an option (or "--"), which is never taken as an option's value:
// "-" alone is a value (standard input).
bool LooksLikeOption(const char* argument) { return argument[0] == '-' && argument[1] != '\0'; }

CommandLine Misuse(std::string problem, bool unknown = false) {
  CommandLine line;
  Refuse(line, std::move(problem));
  line.unknown = unknown;
  return line;
}

// The usage's rows: a label in its column, then the text (pieces after the first go on
// new lines under the text).
constexpr size_t kUsageLabelWidth = 21;  // characters

void UsageRow(std::ostringstream& out, const std::string& label, std::initializer_list<std::string> lines) {
  std::string left = label;
  left.resize(std::max(left.size() + 1, kUsageLabelWidth), ' ');
  bool first = true;
  for (const std::string& line : lines) {
    out << "  " << (first ? left : std::string(left.size(), ' ')) << ' ' << line << '\n';
    first = false;
  }
}
}  // namespace

const OptionEntry kOptionTable[] = {
    {"--mute", nullptr, "start with the sound off (this run only)",
     [](CommandLine& line, const char*) { line.options.mute = true; }},
    {"--replay", "FILE", "watch a recorded game (see Files), or one on a board (its URL)",
     [](CommandLine& line, const char* file) { line.options.replay = {ReplayMode::Watch, file, ""}; }},
    {"--check-replay", "FILE", "check that a recorded game still ends as it did",
     [](CommandLine& line, const char* file) { line.options.replay = {ReplayMode::Check, file, ""}; }},
    {"--host", "[PORT]", "wait for a network game's second player (UDP port, default 7478)",
     NetworkOption<ReadHostOption>},
    {"--join", "[HOST[:PORT]|CODE]", "join a network game (asks for the address when none is given)",
     NetworkOption<ReadJoinOption>},
    {"--watch", "CODE", "watch a network game live, a few seconds behind (through the lobby)",
     NetworkOption<ReadWatchOption>},
    {"--lobby", "HOST[:PORT]", "the lobby that gives hosted games a code (UDP port, default 7479)",
     NetworkOption<ReadLobbyOption>},
    {"--input-delay", "N", "ticks a network game holds your controls back (0 to 6, default 2)",
     NetworkOption<ReadInputDelayOption>},
    {"--scoreboard", "URL", "send games that end at time up to this world score board",
     ScoreboardOption},
    {"--help", nullptr, "show this help and exit",
     [](CommandLine& line, const char*) { line.action = CommandAction::Help; }},
    {"--version", nullptr, "show the version and exit",
     [](CommandLine& line, const char*) { line.action = CommandAction::Version; }},
};
const int kOptionCount = static_cast<int>(std::size(kOptionTable));

CommandLine ParseCommandLine(int argc, const char* const* argv) {
  CommandLine line;
  bool optionsEnded = false;  // after "--" no argument is an option
  for (int i = 1; i < argc && line.action == CommandAction::Play; ++i) {
    const std::string argument = argv[i];
    if (argument == "--" && !optionsEnded) {
      optionsEnded = true;
      continue;
    }
    if (optionsEnded) return Misuse("unexpected argument '" + argument + "'", true);
    const size_t equals = argument.find('=');
    const std::string name = argument.substr(0, equals);
    const OptionEntry* entry = std::find_if(std::begin(kOptionTable), std::end(kOptionTable),
                                            [&](const OptionEntry& e) { return name == e.name; });
    if (argument.rfind("--", 0) != 0 || entry == std::end(kOptionTable)) return Misuse("unknown option '" + argument + "'", true);
    if (entry->value == nullptr) {
      if (equals != std::string::npos) return Misuse("option '" + name + "' takes no value");
      entry->apply(line, nullptr);
    } else if (entry->value[0] == '[' && equals == std::string::npos &&
               (i + 1 >= argc || std::strncmp(argv[i + 1], "--", 2) == 0)) {
      entry->apply(line, "");  // an optional value left out
    } else {
      // The value follows "=" or is the next argument; an option there is no value, but
      // after "--" anything is ("--replay -- -odd.nsr").
      const char* value = "";
      if (equals != std::string::npos) {
        value = argv[i] + equals + 1;
      } else if (i + 1 < argc && std::strcmp(argv[i + 1], "--") == 0 && i + 2 < argc) {
        optionsEnded = true;
        value = argv[i + 2];
        i += 2;
      } else if (i + 1 < argc && !LooksLikeOption(argv[i + 1])) {
        value = argv[++i];
      }
      if (*value == '\0') return Misuse("option '" + name + "' needs a value (" + entry->value + ")");
      entry->apply(line, value);
    }
  }
  return line;
}

std::string UsageText() {
  const UserEnvironment env = ProcessEnvironment();
  const std::string dataDir = UserDataDirectory(env);
  const std::string settings = SettingsPath(env);
  std::ostringstream out;
  out << "Usage: nanasplat [OPTION]...\n"
         "Roll, rock and squash a banana to splat the fruit flies (one or two players).\n"
         "\nOptions:\n";
  for (const OptionEntry& entry : kOptionTable) {
    std::string label = entry.name;
    if (entry.value != nullptr) label += std::string(" ") + entry.value;
    UsageRow(out, label, {entry.help});
  }
  out << "\nFiles:\n";
  UsageRow(out, "high scores", {"\"scores\" in the media directory if you can write there;",
                                "otherwise " + (dataDir.empty() ? "$XDG_DATA_HOME/nanasplat" : dataDir) + "/scores"});
  UsageRow(out, "replays", {"replays/last.nsr and best.nsr, beside the high scores"});
  UsageRow(out, "settings", {settings.empty() ? "$XDG_CONFIG_HOME/nanasplat/settings" : settings});
  UsageRow(out, "debug.txt", {"a trace of the run, where the game was started"});
  out << "\nControls:\n";
  UsageRow(out, "player 1 (keyboard)", {"Left/Right or A/D roll; Space, Down or S squash (upside",
                                        "down); let go to jump"});
  UsageRow(out, "player 2 (mouse)", {"left/right button roll; both buttons squash; let go",
                                     "to jump"});
  UsageRow(out, "gamepads", {"pad 1 plays for player 1, pad 2 for player 2: stick rolls,",
                             "first face button squashes, Start pauses"});
  UsageRow(out, "P or Pause", {"pause and go on"});
  UsageRow(out, "M", {"sound off and on"});
  UsageRow(out, "Escape (held)", {"quit"});
  UsageRow(out, "over a network", {"nanasplat --host [PORT] waits for a friend (UDP port 7478",
                                   "by default); nanasplat --join HOST[:PORT] joins"});
  return out.str();
}

std::string VersionText() { return std::string("nanasplat ") + NANASPLAT_VERSION + "\n"; }

Options HandleCommandLine(int argc, char** argv) {
  const CommandLine line = ParseCommandLine(argc, argv);
  switch (line.action) {
    case CommandAction::Play:
      return line.options;
    case CommandAction::Help:
    case CommandAction::Version:
      std::fputs((line.action == CommandAction::Help ? UsageText() : VersionText()).c_str(), stdout);
      std::exit(0);
    case CommandAction::Misuse:
      std::fprintf(stderr, "nanasplat: %s\n", line.problem.c_str());
      if (line.unknown) std::fprintf(stderr, "\n%s", UsageText().c_str());
      std::exit(2);
  }
  return line.options;
}
