// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The command line: read once at start, before the library starts, into Options.
// Every option is one entry of kOptionTable (its name, the name of its value if it
// takes one, its line in the usage, and what it sets); adding an option is one entry
// there and, when it carries something, one member of Options.
#include <string>

#include "netoptions.h"

// A replay named on the command line: to watch (--replay FILE) or check
// (--check-replay FILE).
// Demo: watched like Watch, marked "DEMO" (the title screen's attract mode).
enum class ReplayMode { None, Watch, Check, Demo };

struct ReplayCommand {
  ReplayMode mode = ReplayMode::None;
  std::string file;  // as given on the command line
  std::string error; // set when the command line names a mode without a file
};

// What the command line asks of this run.
struct Options {
  bool mute = false;     // start with the sound off (this run only)
  ReplayCommand replay;  // a recorded game to watch (--replay) or check (--check-replay)
  NetworkOptions network;  // host (--host) or join (--join) a game on two computers
  std::string scoreboard;  // the world score board games go to (--scoreboard URL); empty: the setting's
};

// What to do after reading the command line.
enum class CommandAction { Play, Help, Version, Misuse };

struct CommandLine {
  Options options;
  CommandAction action = CommandAction::Play;
  std::string problem;  // for Misuse: what was wrong, in a sentence
  bool unknown = false; // for Misuse: an argument that is no option of ours
};

// One option: "--name", or "--name VALUE" / "--name=VALUE" when `value` names one. A
// value named in brackets ("[PORT]") may be left out: the option then gets "".
struct OptionEntry {
  const char* name;   // with its leading "--"
  const char* value;  // the value's name in the usage ("FILE"); null: takes none
  const char* help;   // one line for the usage
  void (*apply)(CommandLine& line, const char* value);
};

extern const OptionEntry kOptionTable[];
extern const int kOptionCount;

// Reads `argv[1..argc-1]`. The first --help or --version decides the action; an
// unknown option, a value missing or empty or given to an option that takes none, or
// any other argument is a Misuse. An option's value is "--name=VALUE" or the next
// argument unless that is an option ("-" alone is a value); "--" ends the options, and
// an option waiting for its value takes the argument after it. A later option of the
// same kind replaces an earlier.
CommandLine ParseCommandLine(int argc, const char* const* argv);

// The usage: options, where this player's high scores and settings live, controls.
std::string UsageText();
// "nanasplat VERSION".
std::string VersionText();

// Reads the command line. --help and --version print to standard output and end the
// process with status 0; a misuse prints the problem to standard error (followed by
// the usage when the argument is no option of ours) and ends it with status 2.
// Otherwise returns the options to play with.
Options HandleCommandLine(int argc, char** argv);
