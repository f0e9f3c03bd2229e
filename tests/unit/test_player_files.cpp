// SPDX-License-Identifier: GPL-3.0-or-later
// Each player's own files: where the high-score table lives, the XDG base
// directories, and the settings file with its one table of settings.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <sstream>
#include <string>

#include "highscores.h"
#include "replay.h"
#include "settings.h"
#include "test_support.h"
#include "userdata.h"

namespace fs = std::filesystem;

namespace {

// Sets (or, with nullopt, unsets) an environment variable for one test.
class ScopedVariable {
 public:
  ScopedVariable(const char* name, std::optional<std::string> value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value) {
      setenv(name, value->c_str(), 1);
    } else {
      unsetenv(name);
    }
  }
  ~ScopedVariable() {
    if (old_) {
      setenv(name_, old_->c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

std::string Scratch(const std::string& name) { return ScratchDir() + "/" + name; }

unsigned Permissions(const std::string& path) {
  struct stat info {};
  stat(path.c_str(), &info);
  return info.st_mode & 07777;
}

}  // namespace

// ---------------------------------------------------------------------------
// Base directories
// ---------------------------------------------------------------------------

TEST(PlayerDirectories, TheXdgVariablesAreHonoured) {
  const UserEnvironment env{"/home/ann", "/data/ann", "/conf/ann"};
  EXPECT_EQ(UserDataDirectory(env), "/data/ann/nanasplat");
  EXPECT_EQ(UserConfigDirectory(env), "/conf/ann/nanasplat");
  EXPECT_EQ(SettingsPath(env), "/conf/ann/nanasplat/settings");
}

TEST(PlayerDirectories, UnsetEmptyOrRelativeVariablesFallBackToTheHomeDefaults) {
  for (const std::string& value : {std::string(), std::string("relative/dir")}) {
    const UserEnvironment env{"/home/ann", value, value};
    EXPECT_EQ(UserDataDirectory(env), "/home/ann/.local/share/nanasplat") << "'" << value << "'";
    EXPECT_EQ(UserConfigDirectory(env), "/home/ann/.config/nanasplat") << "'" << value << "'";
  }
  const UserEnvironment homeless{"", "", ""};
  EXPECT_EQ(UserDataDirectory(homeless), "");
  EXPECT_EQ(SettingsPath(homeless), "");
}

TEST(PlayerDirectories, TheProcessEnvironmentIsRead) {
  {
    ScopedVariable home("HOME", "/home/bob");
    ScopedVariable data("XDG_DATA_HOME", std::nullopt);
    ScopedVariable config("XDG_CONFIG_HOME", "/cfg");
    const UserEnvironment env = ProcessEnvironment();
    EXPECT_EQ(UserDataDirectory(env), "/home/bob/.local/share/nanasplat");
    EXPECT_EQ(UserConfigDirectory(env), "/cfg/nanasplat");
  }
  // Without $HOME the password database names the home directory.
  ScopedVariable home("HOME", std::nullopt);
  EXPECT_FALSE(ProcessEnvironment().home.empty());
}

TEST(PlayerDirectories, MissingDirectoriesAreMadeWithTheDefaultPermissions) {
  const mode_t old = umask(027);
  EXPECT_TRUE(MakeDirectories(Scratch("a/b/c")));
  umask(old);
  EXPECT_EQ(Permissions(Scratch("a")), 0750u);
  EXPECT_EQ(Permissions(Scratch("a/b/c")), 0750u);
  EXPECT_TRUE(MakeDirectories(Scratch("a/b/c")));  // already there
  WriteFile(Scratch("file"), "x");
  EXPECT_FALSE(MakeDirectories(Scratch("file")));
  EXPECT_FALSE(MakeDirectories(Scratch("file/below")));
}

// ---------------------------------------------------------------------------
// The high-score table's place
// ---------------------------------------------------------------------------

TEST(ScoreTablePlace, AWritableMediaDirectoryKeepsTheTable) {
  const ScoreTablePlace place = ChooseScoreTablePlace("/games/media", true, {"/home/ann", "", ""});
  EXPECT_EQ(place.path, "/games/media/scores");
  EXPECT_EQ(place.directory, "/games/media");
  EXPECT_EQ(place.seed, "");
  EXPECT_FALSE(place.perUser);
}

TEST(ScoreTablePlace, AReadOnlyMediaDirectorySendsTheTableToTheDataDirectory) {
  const ScoreTablePlace place = ChooseScoreTablePlace("/usr/media", false, {"/home/ann", "", ""});
  EXPECT_EQ(place.path, "/home/ann/.local/share/nanasplat/scores");
  EXPECT_EQ(place.directory, "/home/ann/.local/share/nanasplat");
  EXPECT_EQ(place.seed, "/usr/media/scores");
  EXPECT_TRUE(place.perUser);
  const ScoreTablePlace xdg = ChooseScoreTablePlace("/usr/media", false, {"/home/ann", "/d", ""});
  EXPECT_EQ(xdg.path, "/d/nanasplat/scores");
  // Nowhere else to go: the media directory, where saving fails as it always did.
  EXPECT_EQ(ChooseScoreTablePlace("/usr/media", false, {"", "", ""}).path, "/usr/media/scores");
}

TEST(ScoreTablePlace, UntilChosenTheTableIsScoresInTheWorkingDirectory) {
  EXPECT_EQ(ChosenScoreTable().path, "scores");
  EXPECT_EQ(ScoreTableToRead(), "scores");
  EXPECT_EQ(GameDataDirectory(), ".");
}

TEST(ScoreTablePlace, TheGameKeepsAWritableMediaTableAndSaysSoOnce) {
  fs::create_directory(Scratch("media"));
  WriteFile(Scratch("media/scores"), "Ann\n50\n");
  ScopedVariable data("XDG_DATA_HOME", Scratch("data"));
  ResetLog();
  UseScoreTableFor(Scratch("media"));
  ASSERT_EQ(LogMessages().size(), 1u);
  EXPECT_EQ(LogMessages()[0], "High-score table: " + Scratch("media/scores") + " (in the media directory)");
  EXPECT_EQ(ScoreTableToRead(), Scratch("media/scores"));
  EXPECT_TRUE(MakeGameDataDirectory());
  ASSERT_TRUE(SaveScores(ChosenScoreTable().path.c_str(), {{"Ann", 50}, {"Bob", 5}}));
  EXPECT_EQ(ReadFile(Scratch("media/scores")), "Ann\n50\nBob\n5\n");
  EXPECT_EQ(ReplayDirectory(), Scratch("media/replays"));
  EXPECT_FALSE(fs::exists(Scratch("data")));
}

// The whole round as the game runs it, by a player who cannot write the media
// directory (as root the check runs in a child that becomes "nobody").
TEST(ScoreTablePlace, AReadOnlyMediaTableSeedsThePlayersOwnTableOnce) {
  char pattern[] = "/tmp/nanasplat-readonly-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::string root = pattern;
  ASSERT_EQ(chmod(root.c_str(), 0755), 0);
  const std::string media = root + "/media", home = root + "/home";
  fs::create_directory(media);
  fs::create_directory(home);
  WriteFile(media + "/scores", "Ann\n50\n");
  ASSERT_EQ(chmod(media.c_str(), 0555), 0);
  if (geteuid() == 0) {
    ASSERT_EQ(chown(home.c_str(), 65534, 65534), 0);
  }

  // A forked child, not a death test: that would run this test afresh, with another
  // scratch directory.
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // _exit: the parent's clean-up handlers must not run here.
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(10);
    umask(022);
    setenv("HOME", home.c_str(), 1);
    unsetenv("XDG_DATA_HOME");
    UseScoreTableFor(media);
    const std::string own = home + "/.local/share/nanasplat/scores";
    if (ChosenScoreTable().path != own) _exit(11);
    // Before the first save the media directory's table is the one read...
    if (ScoreTableToRead() != media + "/scores") _exit(12);
    const ScoreTable seeded = ReadScores(ScoreTableToRead().c_str());
    if (seeded.count != 1) _exit(13);
    // ...and the first save makes the directory and the player's own table.
    if (!MakeGameDataDirectory()) _exit(14);
    if (!SaveScores(ChosenScoreTable().path.c_str(), InsertScore(seeded.entries, {"Bob", 70})))
      _exit(15);
    if (Permissions(home + "/.local/share/nanasplat") != 0755u) _exit(16);
    // From then on the player's table is read, not the media one.
    if (ScoreTableToRead() != own) _exit(17);
    if (ReadFile(own) != "Bob\n70\nAnn\n50\n") _exit(18);
    // The replays go beside it.
    if (ReplayDirectory() != home + "/.local/share/nanasplat/replays") _exit(19);
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;
  EXPECT_EQ(ReadFile(media + "/scores"), "Ann\n50\n");
  EXPECT_EQ(ReadFile(home + "/.local/share/nanasplat/scores"), "Bob\n70\nAnn\n50\n");
  chmod(media.c_str(), 0755);
  fs::remove_all(root);
}

// ---------------------------------------------------------------------------
// Settings
// ---------------------------------------------------------------------------

TEST(PlayerSettings, EverySettingStartsAtItsDefaultFromTheTable) {
  const Settings defaults = DefaultSettings();
  for (const SettingEntry& entry : kSettingsTable) EXPECT_EQ(defaults.*entry.value, entry.byDefault) << entry.name;
  EXPECT_FALSE(defaults.mute);
}

TEST(PlayerSettings, AMissingFileGivesTheDefaultsQuietly) {
  ScopedVariable config("XDG_CONFIG_HOME", Scratch("nothing-here"));
  ResetLog();
  EXPECT_FALSE(LoadSettings().mute);
  EXPECT_FALSE(CurrentSettings().mute);
  EXPECT_TRUE(LogMessages().empty());
  EXPECT_FALSE(fs::exists(Scratch("nothing-here")));
}

TEST(PlayerSettings, AChangedSettingIsSavedAndReadBackNextTime) {
  ScopedVariable config("XDG_CONFIG_HOME", Scratch("cfg"));
  ASSERT_TRUE(ChangeSetting(&Settings::mute, true));
  EXPECT_TRUE(CurrentSettings().mute);
  const std::string path = Scratch("cfg/nanasplat/settings");
  EXPECT_EQ(ReadFile(path), "# nanasplat settings: one \"name = value\" per line\nmute = on\nattract = on\n");
  EXPECT_TRUE(LoadSettings().mute);
  ASSERT_TRUE(ChangeSetting(&Settings::mute, false));
  EXPECT_FALSE(LoadSettings().mute);
  // Replaced in one step: no temporary file is left beside it.
  int files = 0;
  for (const auto& entry : fs::directory_iterator(Scratch("cfg/nanasplat"))) files += entry.is_regular_file();
  EXPECT_EQ(files, 1);
}

TEST(PlayerSettings, AttractModeIsOnUnlessTurnedOff) {
  EXPECT_TRUE(DefaultSettings().attract);
  std::istringstream off("attract = off\n");
  EXPECT_FALSE(ParseSettings(off, "test").attract);
  std::istringstream mute("mute = on\n");
  EXPECT_TRUE(ParseSettings(mute, "test").attract);
}

TEST(PlayerSettings, WithoutXdgConfigHomeTheFileIsInDotConfig) {
  ScopedVariable config("XDG_CONFIG_HOME", std::nullopt);
  ScopedVariable home("HOME", ScratchDir());
  ASSERT_TRUE(ChangeSetting(&Settings::mute, true));
  EXPECT_TRUE(fs::exists(Scratch(".config/nanasplat/settings")));
}

TEST(PlayerSettings, ValuesAreReadInAnyUsualSpelling) {
  for (const char* text : {"mute = on", "mute=true", "  mute\t=\tYes  ", "mute = 1\r", "mute = On"}) {
    std::istringstream in(text);
    EXPECT_TRUE(ParseSettings(in, "test").mute) << text;
  }
  std::istringstream later("mute = on\n# a comment\n\nmute = off\n");
  EXPECT_FALSE(ParseSettings(later, "test").mute);
}

TEST(PlayerSettings, TrailingCommentsAByteOrderMarkAndAnyCaseAreRead) {
  for (const char* text : {"mute = on  # comment", "mute=on# no blank before it", "\xEF\xBB\xBFmute = on",
                           "MUTE = On", "Mute = YES # said the player", "\xEF\xBB\xBF# top\nmUtE = TRUE\r\n"}) {
    std::istringstream in(text);
    ResetLog();
    EXPECT_TRUE(ParseSettings(in, "test").mute) << text;
    EXPECT_TRUE(LogMessages().empty()) << text;
  }
  // A byte order mark counts only at the very start of the file.
  std::istringstream later("mute = off\n\xEF\xBB\xBFmute = on\n");
  ResetLog();
  EXPECT_FALSE(ParseSettings(later, "test").mute);
  EXPECT_EQ(LogMessages().size(), 1u);
}

TEST(PlayerSettings, AMalformedFileGivesTheDefaultsAndOneLogLine) {
  ScopedVariable config("XDG_CONFIG_HOME", Scratch("cfg"));
  const std::string path = Scratch("cfg/nanasplat/settings");
  fs::create_directories(Scratch("cfg/nanasplat"));
  // No "=", a value of the wrong kind, no name, an unknown name, binary junk.
  std::string text = "mute\nmute = perhaps\n= on\nvolume = 3\n";
  text += std::string("\x01\x02\xff\0", 4) + "\n";
  WriteFile(path, text);
  ResetLog();
  EXPECT_FALSE(LoadSettings().mute);
  ASSERT_EQ(LogMessages().size(), 1u);
  EXPECT_EQ(LogMessages()[0], "Ignored 5 lines of the settings file " + path +
                                  " that are not a known \"name = value\" (first: line 1)");
  // A good line among bad ones still counts.
  WriteFile(path, "garbage\nmute = on\n");
  ResetLog();
  EXPECT_TRUE(LoadSettings().mute);
  EXPECT_EQ(LogMessages().size(), 1u);
}

TEST(PlayerSettings, ASettingThatCannotBeSavedIsLoggedAndStillHoldsForTheRun) {
  WriteFile(Scratch("in-the-way"), "a file where the directory should be");
  ScopedVariable config("XDG_CONFIG_HOME", Scratch("in-the-way"));
  ResetLog();
  EXPECT_FALSE(ChangeSetting(&Settings::mute, true));
  EXPECT_TRUE(CurrentSettings().mute);
  ASSERT_EQ(LogMessages().size(), 1u);
  EXPECT_NE(LogMessages()[0].find("Failed to save the settings"), std::string::npos);
}

// ---------------------------------------------------------------------------
// Replacing a file in one step
// ---------------------------------------------------------------------------

TEST(SavingInOneStep, ALinkPlantedUnderATemporaryNameRedirectsNothing) {
  const std::string dir = Scratch("planted");
  fs::create_directories(dir);
  WriteFile(dir + "/victim", "someone else's file\n");
  WriteFile(dir + "/settings", "mute = off\n");
  // The name the writer of this process used to take for its temporary file.
  ASSERT_EQ(symlink((dir + "/victim").c_str(), (dir + "/settings.tmp." + std::to_string(getpid())).c_str()), 0);

  ASSERT_TRUE(WriteFileAtomically(dir + "/settings", "mute = on\n"));
  EXPECT_EQ(ReadFile(dir + "/victim"), "someone else's file\n");
  EXPECT_FALSE(fs::is_symlink(dir + "/settings"));
  EXPECT_EQ(ReadFile(dir + "/settings"), "mute = on\n");
}

TEST(SavingInOneStep, AFileKeptAsALinkStaysALinkAndItsTargetGetsTheNewContents) {
  const std::string dotfiles = Scratch("dotfiles/nanasplat");
  const std::string config = Scratch("linked-config/nanasplat");
  fs::create_directories(dotfiles);
  fs::create_directories(config);
  WriteFile(dotfiles + "/settings", "mute = off\n");
  // A relative link, as dotfile managers make them, through a second link.
  ASSERT_EQ(symlink("../../dotfiles/nanasplat/settings", (config + "/real").c_str()), 0);
  ASSERT_EQ(symlink("real", (config + "/settings").c_str()), 0);

  ASSERT_TRUE(WriteFileAtomically(config + "/settings", "mute = on\n"));
  EXPECT_TRUE(fs::is_symlink(config + "/settings"));
  EXPECT_TRUE(fs::is_symlink(config + "/real"));
  EXPECT_EQ(ReadFile(dotfiles + "/settings"), "mute = on\n");
  // The temporary file was made beside the target, and is gone.
  int entries = 0;
  for (const auto& entry : fs::directory_iterator(dotfiles)) entries += entry.path().filename() != "";
  EXPECT_EQ(entries, 1);
}

TEST(SavingInOneStep, ALinkSomeoneElseMadeIsReplacedNotFollowed) {
  if (geteuid() != 0) GTEST_SKIP() << "only root can make a link of another user's";
  const std::string dir = Scratch("shared-media");
  fs::create_directories(dir);
  WriteFile(dir + "/players-own-file", "kept\n");
  ASSERT_EQ(symlink((dir + "/players-own-file").c_str(), (dir + "/scores").c_str()), 0);
  ASSERT_EQ(lchown((dir + "/scores").c_str(), 65534, 65534), 0);  // made by "nobody"

  ASSERT_TRUE(WriteFileAtomically(dir + "/scores", "Ann\n1\n"));
  EXPECT_EQ(ReadFile(dir + "/players-own-file"), "kept\n");
  EXPECT_FALSE(fs::is_symlink(dir + "/scores"));
  EXPECT_EQ(ReadFile(dir + "/scores"), "Ann\n1\n");
}

TEST(SavingInOneStep, TheOldFilesPermissionBitsAreKept) {
  const std::string dir = Scratch("modes");
  fs::create_directories(dir);
  for (unsigned mode : {0600u, 0640u, 0664u}) {
    const std::string path = dir + "/scores" + std::to_string(mode);
    WriteFile(path, "Ann\n1\n");
    ASSERT_EQ(chmod(path.c_str(), mode), 0);
    ASSERT_TRUE(WriteFileAtomically(path, "Bob\n2\n"));
    EXPECT_EQ(Permissions(path), mode) << std::oct << mode;
    EXPECT_EQ(ReadFile(path), "Bob\n2\n");
  }
}
