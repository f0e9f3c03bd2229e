// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>

#include "debug.h"

namespace {

constexpr const char* kSettingsFileName = "settings";
constexpr char kByteOrderMark[] = "\xEF\xBB\xBF";
constexpr size_t kMaxTextSettingBytes = 1024;

Settings current = DefaultSettings();  // the defaults until LoadSettings runs

std::string Trimmed(const std::string& text) {
  const auto blank = [](unsigned char c) { return std::isspace(c) != 0; };
  auto first = std::find_if_not(text.begin(), text.end(), blank);
  auto last = std::find_if_not(text.rbegin(), text.rend(), blank).base();
  return first < last ? std::string(first, last) : std::string();
}

std::string Lowered(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::optional<bool> SwitchValue(const std::string& text) {
  const std::string value = Lowered(text);
  if (value == "on" || value == "true" || value == "yes" || value == "1") return true;
  if (value == "off" || value == "false" || value == "no" || value == "0") return false;
  return std::nullopt;
}

// The entry of `table` named `lowered` (a name already in lower case), or null.
template <typename Entry, size_t N>
const Entry* Find(const Entry (&table)[N], const std::string& lowered) {
  for (const Entry& entry : table) {
    if (lowered == entry.name) return &entry;
  }
  return nullptr;
}

// Applies one "name = value" line; false when it is not one for a known setting. Names
// are matched in any case ("MUTE", "Mute").
bool ApplyLine(const std::string& line, Settings& settings) {
  const size_t equals = line.find('=');
  if (equals == std::string::npos) return false;
  const std::string name = Lowered(Trimmed(line.substr(0, equals)));
  const std::string value = Trimmed(line.substr(equals + 1));
  if (const TextSettingEntry* text = Find(kTextSettingsTable, name)) {
    // A value within its length, of the characters it may hold.
    if (value.empty() || value.size() > text->longest) return false;
    for (char c : value) {
      const unsigned char byte = static_cast<unsigned char>(c);
      const bool control = byte < ' ' || byte == 0x7f;
      if (control || (!text->freeText && (byte == ' ' || byte > '~'))) return false;
    }
    settings.*text->value = value;
    return true;
  }
  const SettingEntry* entry = Find(kSettingsTable, name);
  const std::optional<bool> on = SwitchValue(value);
  if (entry == nullptr || !on) return false;
  settings.*entry->value = *on;
  return true;
}

}  // namespace

Settings DefaultSettings() {
  Settings settings{};
  for (const SettingEntry& entry : kSettingsTable) settings.*entry.value = entry.byDefault;
  return settings;
}

Settings ParseSettings(std::istream& in, const std::string& source) {
  Settings settings = DefaultSettings();
  int lineNumber = 0, ignored = 0, firstIgnored = 0;
  for (std::string line; std::getline(in, line);) {
    ++lineNumber;
    // Editors on some systems begin a UTF-8 file with a byte order mark.
    if (lineNumber == 1 && line.compare(0, sizeof kByteOrderMark - 1, kByteOrderMark) == 0) {
      line.erase(0, sizeof kByteOrderMark - 1);
    }
    // A comment runs from "#" on, wherever it starts (no name or value holds one).
    const std::string text = Trimmed(line.substr(0, line.find('#')));
    if (text.empty()) continue;
    if (ApplyLine(text, settings)) continue;
    if (ignored++ == 0) firstIgnored = lineNumber;
  }
  if (ignored > 0) {
    LOG("Ignored ", ignored, ignored == 1 ? " line" : " lines", " of the settings file ", source,
        " that ", ignored == 1 ? "is" : "are", " not a known \"name = value\" (first: line ",
        firstIgnored, ")");
  }
  return settings;
}

std::string SerialiseSettings(const Settings& settings) {
  std::ostringstream out;
  out << "# nanasplat settings: one \"name = value\" per line\n";
  for (const SettingEntry& entry : kSettingsTable) {
    out << entry.name << " = " << (settings.*entry.value ? "on" : "off") << '\n';
  }
  for (const TextSettingEntry& entry : kTextSettingsTable) {
    if (!(settings.*entry.value).empty()) out << entry.name << " = " << settings.*entry.value << '\n';
  }
  return out.str();
}

std::string SettingsPath(const UserEnvironment& env) {
  const std::string dir = UserConfigDirectory(env);
  return dir.empty() ? "" : dir + "/" + kSettingsFileName;
}

Settings LoadSettings() {
  const std::string path = SettingsPath(ProcessEnvironment());
  std::ifstream in(path);
  current = in.is_open() ? ParseSettings(in, path) : DefaultSettings();
  return current;
}

const Settings& CurrentSettings() { return current; }

bool ChangeSetting(bool Settings::*which, bool value) {
  current.*which = value;
  return SaveSettings(SettingsPath(ProcessEnvironment()), current);
}

bool ChangeSetting(std::string Settings::*which, const std::string& value) {
  std::string line;
  for (char c : value.substr(0, kMaxTextSettingBytes)) {
    if (c != '\n' && c != '\r' && c != '#') line.push_back(c);
  }
  current.*which = Trimmed(line);
  return SaveSettings(SettingsPath(ProcessEnvironment()), current);
}

bool SaveSettings(const std::string& path, const Settings& settings) {
  std::string failure;
  const size_t slash = path.rfind('/');
  if (path.empty()) {
    failure = "no home directory";
  } else if (slash != std::string::npos && slash > 0 && !MakeDirectories(path.substr(0, slash))) {
    failure = std::string("making its directory: ") + std::strerror(errno);
  } else if (WriteFileAtomically(path, SerialiseSettings(settings), &failure)) {
    return true;
  }
  LOG("Failed to save the settings to \"", path, "\" (", failure, ")");
  return false;
}
