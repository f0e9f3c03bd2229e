// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The player's settings, kept across runs in the file "settings" of the player's
// configuration directory (see userdata.h): one "name = value" per line, "#" starts a
// comment (a line of its own or the rest of a line); names and values are read in any
// case, and a UTF-8 byte order mark at the start is skipped. Loading and saving both walk
// the tables below, so adding a setting is one member of Settings and one table line.
#include <istream>
#include <string>

#include "userdata.h"

struct Settings {
  bool mute;     // the game's sound is off
  bool attract;  // the title menu shows demo games while nobody plays
  std::string scoreboard;  // the world score board's address (http:// or https://); empty: none
  std::string playerName;  // the name last typed for the high-score table; empty: none yet
  std::string lobby;  // HOST[:PORT] of the lobby network games meet through; empty: none
};

// One setting: its name in the file, where it lives and its default.
struct SettingEntry {
  const char* name;
  bool Settings::*value;
  bool byDefault;
};

inline constexpr SettingEntry kSettingsTable[] = {
    {"mute", &Settings::mute, false},
    {"attract", &Settings::attract, true},
};

// A setting holding a text (written only when not empty): its name, where it lives and
// what it may hold. A value that is longer, or holds a character it may not, is ignored.
struct TextSettingEntry {
  const char* name;
  std::string Settings::*value;
  size_t longest;   // bytes
  bool freeText;    // blanks and any byte but control characters (a name); otherwise printable ASCII without blanks
};

inline const TextSettingEntry kTextSettingsTable[] = {
    {"lobby", &Settings::lobby, 255, false},
    {"scoreboard", &Settings::scoreboard, 1024, false},
    {"name", &Settings::playerName, 255, true},
};

Settings DefaultSettings();

// The settings in the text of `in`, starting from the defaults. A line that is not
// blank, not a comment and not "name = value" for a known name with a value of its
// kind (on/off, true/false, yes/no, 1/0 for a switch) is ignored; when any is, one
// log line names `source`, how many lines were ignored and the first of them.
Settings ParseSettings(std::istream& in, const std::string& source);
// The file text for `settings`: every setting of the table, in its order.
std::string SerialiseSettings(const Settings& settings);

// The settings file for `env`: "settings" in the configuration directory; empty when
// there is none.
std::string SettingsPath(const UserEnvironment& env);

// Reads this player's settings file (a missing one gives the defaults), makes them the
// current settings and returns them. Called once at start-up, e.g. to apply the mute
// choice: SetMuted(LoadSettings().mute || options.mute).
Settings LoadSettings();
// The current settings: the defaults until LoadSettings runs.
const Settings& CurrentSettings();
// Sets one switch of the current settings and saves them all, e.g. when the player
// toggles the sound: ChangeSetting(&Settings::mute, Muted()). A failed save is logged
// (one line) and returns false; the change still holds for this run.
bool ChangeSetting(bool Settings::*which, bool value);
// The same for a line of text (kTextSettingsTable); a newline or "#" in it is dropped.
bool ChangeSetting(std::string Settings::*which, const std::string& value);
// Writes `settings` to `path` in one step, making its directory when missing; false
// with one log line when it cannot.
bool SaveSettings(const std::string& path, const Settings& settings);
