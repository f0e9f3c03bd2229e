#include "options.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <sstream>

#include "settings.h"
#include "userdata.h"

#ifndef NANASPLAT_VERSION
#error "NANASPLAT_VERSION is set by the build from the project's version"
#endif

const OptionEntry kOptionTable[] = {
    {"--mute", nullptr, "start with the sound off (this run only)",
     [](CommandLine& line, const char*) { line.options.mute = true; }},
    {"--help", nullptr, "show this help and exit",
     [](CommandLine& line, const char*) { line.action = CommandAction::Help; }},
    {"--version", nullptr, "show the version and exit",
     [](CommandLine& line, const char*) { line.action = CommandAction::Version; }},
};
const int kOptionCount = static_cast<int>(std::size(kOptionTable));

namespace {

const OptionEntry* FindOption(const std::string& name) {
  for (const OptionEntry& entry : kOptionTable) {
    if (name == entry.name) return &entry;
  }
  return nullptr;
}

CommandLine Misuse(std::string problem) {
  CommandLine line;
  line.action = CommandAction::Misuse;
  line.problem = std::move(problem);
  return line;
}

}  // namespace

CommandLine ParseCommandLine(int argc, const char* const* argv) {
  CommandLine line;
  for (int i = 1; i < argc && line.action == CommandAction::Play; ++i) {
    const std::string argument = argv[i];
    const size_t equals = argument.find('=');
    const std::string name = argument.substr(0, equals);
    const OptionEntry* entry = argument.rfind("--", 0) == 0 ? FindOption(name) : nullptr;
    if (entry == nullptr) return Misuse("unknown option '" + argument + "'");
    if (entry->value == nullptr) {
      if (equals != std::string::npos) return Misuse("option '" + name + "' takes no value");
      entry->apply(line, nullptr);
    } else if (equals != std::string::npos) {
      entry->apply(line, argv[i] + equals + 1);
    } else if (i + 1 < argc) {
      entry->apply(line, argv[++i]);
    } else {
      return Misuse("option '" + name + "' needs a value (" + entry->value + ")");
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
    std::string left = entry.name;
    if (entry.value != nullptr) left += std::string(" ") + entry.value;
    left.resize(std::max<size_t>(left.size() + 2, 18), ' ');
    out << "  " << left << entry.help << '\n';
  }
  out << "\nFiles:\n"
         "  high scores       \"scores\" in the game's media directory when you can\n"
         "                    write there; otherwise "
      << (dataDir.empty() ? "$XDG_DATA_HOME/nanasplat" : dataDir) << "/scores\n"
      << "  settings          " << (settings.empty() ? "$XDG_CONFIG_HOME/nanasplat/settings" : settings)
      << "\n"
         "  debug.txt         a trace of the run, in the directory the game starts from\n"
         "\nControls:\n"
         "  player 1 (keyboard)  Left/Right or A/D roll; Space, Down or S squash\n"
         "                       (upside down); let go to jump\n"
         "  player 2 (mouse)     left/right button roll; both buttons squash; let go\n"
         "                       to jump\n"
         "  Escape (held)        quit\n";
  return out.str();
}

std::string VersionText() { return std::string("nanasplat ") + NANASPLAT_VERSION + "\n"; }

Options HandleCommandLine(int argc, char** argv) {
  const CommandLine line = ParseCommandLine(argc, argv);
  switch (line.action) {
    case CommandAction::Play:
      return line.options;
    case CommandAction::Help:
      std::fputs(UsageText().c_str(), stdout);
      std::exit(0);
    case CommandAction::Version:
      std::fputs(VersionText().c_str(), stdout);
      std::exit(0);
    case CommandAction::Misuse:
      std::fprintf(stderr, "nanasplat: %s\n\n%s", line.problem.c_str(), UsageText().c_str());
      std::exit(2);
  }
  return line.options;
}
