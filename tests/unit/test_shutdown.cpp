// SPDX-License-Identifier: GPL-3.0-or-later
// Quit signals: recorded as the quit request, held back during start-up, named in the
// last log line; and the level screens' wait for a key, which a quit signal ends (the
// key itself, and the close button, in tests/window/test_pause.cpp, with a keyboard).
#include <allegro.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include "debug.h"
#include "game.h"
#include "init.h"
#include "shutdown.h"
#include "test_support.h"

namespace {

// Runs `body` in a child process (signal handlers and quitnow are the whole process's)
// and returns its exit status; -1 when it did not exit normally.
int InChild(const std::function<int()>& body) {
  const pid_t child = fork();
  if (child == 0) std::_Exit(body());
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Exit codes of the children: 0 when all was as expected, else the first difference.
constexpr int kOk = 0;
constexpr int kQuitBeforeSignal = 10;
constexpr int kNoQuitAfterSignal = 11;
constexpr int kWrongSignal = 12;
constexpr int kQuitWhileHeld = 13;
constexpr int kIgnoredSignalCounted = 14;

class QuitSignals : public testing::TestWithParam<int> {};

TEST_P(QuitSignals, SetTheQuitRequestAndLeaveTheProcessRunning) {
  const int signal = GetParam();
  EXPECT_EQ(InChild([signal] {
              HoldQuitSignals();
              HandleQuitSignals();
              if (quitnow || QuitSignal() != 0) return kQuitBeforeSignal;
              raise(signal);
              if (!quitnow) return kNoQuitAfterSignal;
              return QuitSignal() == signal ? kOk : kWrongSignal;
            }),
            kOk);
}

TEST_P(QuitSignals, ArrivingDuringStartUpWaitUntilTheLibraryIsUp) {
  const int signal = GetParam();
  EXPECT_EQ(InChild([signal] {
              HoldQuitSignals();
              raise(signal);  // held back: neither the default action nor the request yet
              if (quitnow) return kQuitWhileHeld;
              HandleQuitSignals();
              if (!quitnow) return kNoQuitAfterSignal;
              return QuitSignal() == signal ? kOk : kWrongSignal;
            }),
            kOk);
}

TEST_P(QuitSignals, EndTheRunWithStatusZeroAndALastLogLineNamingThem) {
  const int signal = GetParam();
  // The child's log, outside the scratch directory that its exit removes.
  const std::string log = ScratchDir() + "-child-" + std::to_string(signal) + ".txt";
  const pid_t child = fork();
  if (child == 0) {
    ReopenLog(log);
    LOG("Beginning game loop");
    HoldQuitSignals();
    HandleQuitSignals();
    raise(signal);
    std::exit(quitnow ? 0 : kNoQuitAfterSignal);  // as the game's loops do
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  const std::string text = ReadFile(log);
  std::remove(log.c_str());
  const std::string last = "Received " + std::string(QuitSignalName(signal)) + " (" +
                           std::to_string(signal) + "); quitting\n";
  ASSERT_GE(text.size(), last.size());
  EXPECT_EQ(text.substr(text.size() - last.size()), last) << text;
}

INSTANTIATE_TEST_SUITE_P(TermIntHupAndQuit, QuitSignals, testing::Values(SIGTERM, SIGINT, SIGHUP, SIGQUIT),
                         [](const testing::TestParamInfo<int>& info) {
                           return std::string(QuitSignalName(info.param)).substr(3);
                         });

class CrashSignals : public testing::TestWithParam<int> {};

TEST_P(CrashSignals, WriteOneLogLineNamingThemThenTakeTheirDefaultAction) {
  const int signal = GetParam();
  const std::string log = ScratchDir() + "-crash-" + std::to_string(signal) + ".txt";
  const pid_t child = fork();
  if (child == 0) {
    const rlimit noCore{0, 0};  // the default action, without a core file left behind
    setrlimit(RLIMIT_CORE, &noCore);
    ReopenLog(log);
    LOG("Beginning game loop");
    HoldQuitSignals();
    HandleQuitSignals();
    raise(signal);
    std::_Exit(kOk);  // not reached: the default action ends the process
  }
  int status = 0;
  waitpid(child, &status, 0);
  const std::string text = ReadFile(log);
  std::remove(log.c_str());
  ASSERT_TRUE(WIFSIGNALED(status)) << "exit status " << WEXITSTATUS(status);
  EXPECT_EQ(WTERMSIG(status), signal);
  const std::string notice = ") Crashed with " + std::string(CrashSignalName(signal)) + " (" +
                             std::to_string(signal) + "); ending at once\n";
  const size_t second = text.find('\n') + 1;
  EXPECT_EQ(text.compare(second, 18, "(src/shutdown.cpp:"), 0) << text;
  ASSERT_GE(text.size(), notice.size());
  EXPECT_EQ(text.substr(text.size() - notice.size()), notice) << text;
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2) << text;
}

TEST(CrashSignalNames, AreTheUsualOnes) {
  EXPECT_STREQ(CrashSignalName(SIGSEGV), "SIGSEGV");
  EXPECT_STREQ(CrashSignalName(SIGABRT), "SIGABRT");
  EXPECT_STREQ(CrashSignalName(SIGTERM), "another signal");
}

INSTANTIATE_TEST_SUITE_P(Faults, CrashSignals, testing::Values(SIGSEGV, SIGBUS, SIGFPE, SIGABRT, SIGILL),
                         [](const testing::TestParamInfo<int>& info) {
                           return std::string(CrashSignalName(info.param)).substr(3);
                         });

TEST(QuitSignalsIgnoredAtStart, StayIgnored) {
  EXPECT_EQ(InChild([] {
              std::signal(SIGHUP, SIG_IGN);  // as nohup starts a program
              HoldQuitSignals();
              HandleQuitSignals();
              raise(SIGHUP);
              if (quitnow || QuitSignal() != 0) return kIgnoredSignalCounted;
              raise(SIGTERM);  // the others still work
              return quitnow && QuitSignal() == SIGTERM ? kOk : kNoQuitAfterSignal;
            }),
            kOk);
}

TEST(QuitSignalNames, AreTheUsualOnes) {
  EXPECT_STREQ(QuitSignalName(SIGTERM), "SIGTERM");
  EXPECT_STREQ(QuitSignalName(SIGINT), "SIGINT");
  EXPECT_STREQ(QuitSignalName(SIGHUP), "SIGHUP");
  EXPECT_STREQ(QuitSignalName(SIGQUIT), "SIGQUIT");
  EXPECT_STREQ(QuitSignalName(SIGUSR1), "another signal");
}

TEST(WaitingForAKey, EndsAtOnceAfterAQuitSignal) {
  EXPECT_EQ(InChild([] {
              HoldQuitSignals();
              HandleQuitSignals();
              raise(SIGINT);
              WaitForKeyOrPadButton();
              return QuitSignal() == SIGINT ? kOk : 1;
            }),
            kOk);
}

TEST(WaitingForAKey, EndsWhenAQuitSignalComesDuringTheWait) {
  EXPECT_EQ(InChild([] {
              HoldQuitSignals();
              HandleQuitSignals();
              alarm(1);  // stands in for the signal: SIGALRM is no quit signal, so ...
              std::signal(SIGALRM, [](int) { raise(SIGTERM); });  // ... it sends one
              WaitForKeyOrPadButton();
              return QuitSignal() == SIGTERM ? kOk : 1;
            }),
            kOk);
}

}  // namespace
