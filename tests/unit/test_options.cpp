// SPDX-License-Identifier: GPL-3.0-or-later
// The command line: what each option asks for, and how --help, --version and a
// misuse end the process (in a child process).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "options.h"

namespace {

CommandLine Parse(std::vector<const char*> arguments) {
  arguments.insert(arguments.begin(), "nanasplat");
  return ParseCommandLine(static_cast<int>(arguments.size()), arguments.data());
}

Options Handle(std::vector<const char*> arguments) {
  arguments.insert(arguments.begin(), "nanasplat");
  std::vector<char*> argv;
  for (const char* a : arguments) argv.push_back(const_cast<char*>(a));
  return HandleCommandLine(static_cast<int>(argv.size()), argv.data());
}

}  // namespace

TEST(CommandLine, NoArgumentsPlaysWithTheSound) {
  const CommandLine line = Parse({});
  EXPECT_EQ(line.action, CommandAction::Play);
  EXPECT_FALSE(line.options.mute);
}

TEST(CommandLine, MuteStartsMuted) {
  const CommandLine line = Parse({"--mute"});
  EXPECT_EQ(line.action, CommandAction::Play);
  EXPECT_TRUE(line.options.mute);
}

TEST(CommandLine, AReplayIsNamedForWatchingOrChecking) {
  EXPECT_EQ(Parse({}).options.replay.mode, ReplayMode::None);
  const CommandLine watch = Parse({"--replay", "a.nsr"});
  EXPECT_EQ(watch.action, CommandAction::Play);
  EXPECT_EQ(watch.options.replay.mode, ReplayMode::Watch);
  EXPECT_EQ(watch.options.replay.file, "a.nsr");
  const CommandLine check = Parse({"--mute", "--check-replay=b.nsr"});
  EXPECT_EQ(check.options.replay.mode, ReplayMode::Check);
  EXPECT_EQ(check.options.replay.file, "b.nsr");
  EXPECT_TRUE(check.options.mute);
  EXPECT_EQ(Parse({"--replay", "a.nsr", "--check-replay", "b.nsr"}).options.replay.file, "b.nsr");
}

TEST(CommandLine, AnOptionIsNeverTakenForAFileAndDoubleDashEndsTheOptions) {
  EXPECT_EQ(Parse({"--replay", "--mute"}).problem, "option '--replay' needs a value (FILE)");
  EXPECT_EQ(Parse({"--check-replay", "--"}).problem, "option '--check-replay' needs a value (FILE)");
  EXPECT_EQ(Parse({"--check-replay", "-"}).options.replay.file, "-");  // standard input
  const CommandLine ended = Parse({"--mute", "--"});
  EXPECT_EQ(ended.action, CommandAction::Play);
  EXPECT_TRUE(ended.options.mute);
  const CommandLine odd = Parse({"--replay", "--", "--odd.nsr"});
  EXPECT_EQ(odd.action, CommandAction::Play);
  EXPECT_EQ(odd.options.replay.file, "--odd.nsr");
  EXPECT_EQ(Parse({"--replay=-x.nsr"}).options.replay.file, "-x.nsr");
  const CommandLine after = Parse({"--", "--mute"});
  EXPECT_EQ(after.action, CommandAction::Misuse);
  EXPECT_EQ(after.problem, "unexpected argument '--mute'");
}

TEST(CommandLine, HelpAndVersionWinOverWhatFollows) {
  EXPECT_EQ(Parse({"--help"}).action, CommandAction::Help);
  EXPECT_EQ(Parse({"--mute", "--version", "--nonsense"}).action, CommandAction::Version);
}

TEST(CommandLine, AnythingElseIsAMisuseThatSaysWhat) {
  struct Case {
    std::vector<const char*> arguments;
    std::string problem;
  };
  const Case cases[] = {
      {{"--bogus"}, "unknown option '--bogus'"},
      {{"-h"}, "unknown option '-h'"},
      {{"level2"}, "unknown option 'level2'"},
      {{"--mute=yes"}, "option '--mute' takes no value"},
      {{"--mute", "--help=x"}, "option '--help' takes no value"},
      {{"--check-replay"}, "option '--check-replay' needs a value (FILE)"},
      {{"--replay="}, "option '--replay' needs a value (FILE)"},
      {{"--replay", ""}, "option '--replay' needs a value (FILE)"},
  };
  for (const Case& c : cases) {
    const CommandLine line = Parse(c.arguments);
    EXPECT_EQ(line.action, CommandAction::Misuse) << c.problem;
    EXPECT_EQ(line.problem, c.problem);
    EXPECT_EQ(line.unknown, c.problem.rfind("unknown", 0) == 0) << c.problem;
  }
}

TEST(CommandLine, TheUsageListsEveryOptionTheFilesAndTheControls) {
  const std::string usage = UsageText();
  for (int i = 0; i < kOptionCount; ++i) EXPECT_NE(usage.find(kOptionTable[i].name), std::string::npos);
  for (const char* part : {"Usage: nanasplat", "scores", "settings", "Controls:", "Escape", "P or Pause", "M ",
                           "gamepads", "Start pauses", "nanasplat --host [PORT]", "UDP port 7478",
                           "nanasplat --join HOST[:PORT]"}) {
    EXPECT_NE(usage.find(part), std::string::npos) << part;
  }
  EXPECT_EQ(VersionText(), std::string("nanasplat ") + NANASPLAT_VERSION + "\n");
}

TEST(CommandLineExit, HelpAndVersionEndWithStatusZero) {
  EXPECT_EXIT(Handle({"--help"}), testing::ExitedWithCode(0), "");
  EXPECT_EXIT(Handle({"--version"}), testing::ExitedWithCode(0), "");
}

TEST(CommandLineExit, AnUnknownOptionPrintsTheUsageToStandardErrorAndEndsWithStatusTwo) {
  EXPECT_EXIT(Handle({"--fly-faster"}), testing::ExitedWithCode(2),
              "nanasplat: unknown option '--fly-faster'(.|\n)*Usage: nanasplat");
}

TEST(CommandLineExit, AMissingValueIsOneLineOnStandardErrorAndStatusTwo) {
  EXPECT_EXIT(Handle({"--replay"}), testing::ExitedWithCode(2),
              "^nanasplat: option '--replay' needs a value \\(FILE\\)\n$");
}

TEST(CommandLineExit, OptionsToPlayWithAreReturned) {
  EXPECT_TRUE(Handle({"--mute"}).mute);
  EXPECT_FALSE(Handle({}).mute);
}

TEST(CommandLine, HostingTakesAPortOrTheDefault) {
  CommandLine line = Parse({"--host"});
  EXPECT_EQ(line.action, CommandAction::Play);
  EXPECT_EQ(line.options.network.role, NetworkOptions::Role::Host);
  EXPECT_EQ(line.options.network.port, 7478);
  line = Parse({"--host", "--mute"});  // a following option is not the port
  EXPECT_EQ(line.options.network.port, 7478);
  EXPECT_TRUE(line.options.mute);
  EXPECT_EQ(Parse({"--host", "9000"}).options.network.port, 9000);
  EXPECT_EQ(Parse({"--host=9001"}).options.network.port, 9001);
  for (const char* bad : {"0", "65536", "port", "-1"}) {
    EXPECT_EQ(Parse({"--host", bad}).action, CommandAction::Misuse) << bad;
  }
}

TEST(CommandLine, JoiningTakesAnAddressOrAsksForOne) {
  CommandLine line = Parse({"--join", "192.0.2.7"});
  EXPECT_EQ(line.options.network.role, NetworkOptions::Role::Join);
  EXPECT_EQ(line.options.network.address, "192.0.2.7");
  EXPECT_EQ(line.options.network.port, 7478);
  line = Parse({"--join", "example.org:9000"});
  EXPECT_EQ(line.options.network.address, "example.org");
  EXPECT_EQ(line.options.network.port, 9000);
  line = Parse({"--join"});
  EXPECT_EQ(line.action, CommandAction::Play);
  EXPECT_EQ(line.options.network.role, NetworkOptions::Role::Join);
  EXPECT_TRUE(line.options.network.address.empty());  // the game asks
  EXPECT_EQ(Parse({"--join", "host:99999"}).action, CommandAction::Misuse);
}

TEST(CommandLine, WatchingTakesAGamesCode) {
  const CommandLine line = Parse({"--watch", "k7q2-mz4p", "--lobby", "lobby.example"});
  EXPECT_EQ(line.action, CommandAction::Play);
  EXPECT_EQ(line.options.network.role, NetworkOptions::Role::Watch);
  EXPECT_EQ(line.options.network.code, "K7Q2MZ4P");
  EXPECT_EQ(line.options.network.lobby, "lobby.example");
  for (const std::vector<const char*>& bad :
       std::vector<std::vector<const char*>>{{"--watch"}, {"--watch", "192.0.2.7"}, {"--watch", "K7Q2-MZ40"}}) {
    EXPECT_EQ(Parse(bad).action, CommandAction::Misuse) << bad.back();
  }
}

TEST(CommandLine, InputDelayIsZeroToSixTicks) {
  EXPECT_EQ(Parse({"--join", "h", "--input-delay", "0"}).options.network.inputDelay, 0);
  EXPECT_EQ(Parse({"--host", "--input-delay", "6"}).options.network.inputDelay, 6);
  EXPECT_EQ(Parse({"--host"}).options.network.inputDelay, -1);  // the default
  for (const char* bad : {"7", "-1", "2.5", "two"}) {
    EXPECT_EQ(Parse({"--input-delay", bad}).action, CommandAction::Misuse) << bad;
  }
}
