// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Where each player's own files live.
//
// The high-score table stays in the media directory ("scores" there) when the player
// can write that directory, as in a build tree or a player's own install. When the
// game is installed for every user and its media directory is read-only, the table
// lives in the player's data directory instead ($XDG_DATA_HOME/nanasplat, by default
// ~/.local/share/nanasplat), and starts as a copy of the media directory's table.
// Settings live in the player's configuration directory ($XDG_CONFIG_HOME/nanasplat,
// by default ~/.config/nanasplat). This module finds those places, makes them on
// first use and writes files there in one step.
#include <string>

// The parts of the environment the places are taken from; tests make their own.
struct UserEnvironment {
  std::string home;           // the home directory; empty when unknown
  std::string xdgDataHome;    // $XDG_DATA_HOME as set; empty when unset
  std::string xdgConfigHome;  // $XDG_CONFIG_HOME as set; empty when unset
};

// This process's environment: $HOME, or the password database's home when unset.
UserEnvironment ProcessEnvironment();

// "$XDG_DATA_HOME/nanasplat"; "$HOME/.local/share/nanasplat" when the variable is
// unset, empty or not an absolute path. Empty when no home is known either.
std::string UserDataDirectory(const UserEnvironment& env);
// "$XDG_CONFIG_HOME/nanasplat"; "$HOME/.config/nanasplat" likewise.
std::string UserConfigDirectory(const UserEnvironment& env);

// Where the high-score table is read from and saved to.
struct ScoreTablePlace {
  std::string directory;  // holds the table (and records kept beside it)
  std::string path;       // the table: directory/scores
  std::string seed;       // read in its place while it does not exist; empty: none
  bool perUser = false;   // true: in the player's data directory
};

// The place for a game whose media directory is `mediaDir`: "scores" there when
// `mediaWritable`; otherwise "scores" in the player's data directory, seeded from the
// media directory's table. Without any data directory the table stays in `mediaDir`.
ScoreTablePlace ChooseScoreTablePlace(const std::string& mediaDir, bool mediaWritable,
                                      const UserEnvironment& env);

// Chooses the place for this run from this process's environment and whether the
// player may write `mediaDir`, and logs one line naming the table used.
void UseScoreTableFor(const std::string& mediaDir);
// The place chosen; until UseScoreTableFor runs, "scores" in the working directory.
const ScoreTablePlace& ChosenScoreTable();
// The file to read the table from: the table when it exists, else its seed (if any).
std::string ScoreTableToRead();

// The directory holding the table; other records of the player's games (such as
// "replays/") are kept beside it. MakeGameDataDirectory creates it (and its parents)
// when missing, returning false with one log line when it cannot.
const std::string& GameDataDirectory();
bool MakeGameDataDirectory();

// Creates `path` and any missing parents with the player's default permissions (0777
// less the umask). True when it exists as a directory afterwards; else errno is set.
bool MakeDirectories(const std::string& path);

// Replaces the file `path` with `contents` in one step: written to a temporary file
// created afresh beside it (never a file or link already there), synced, then renamed
// over it. The new file keeps the old one's permission bits. When `path` is a symbolic
// link of the player's own, the file it leads to is replaced and the link stays (a link
// of another user's is replaced itself, never followed). On failure the old file
// is left as it was, the temporary file is removed, `failure` (when given) says which
// step failed and why, and false is returned. Temporary files that writers killed
// before their rename left behind are removed first, once certain to be abandoned:
// their process has ended and they are a day old (a writer in another process
// namespace may have a process id that means nothing here).
bool WriteFileAtomically(const std::string& path, const std::string& contents,
                         std::string* failure = nullptr);
