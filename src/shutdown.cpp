// SPDX-License-Identifier: GPL-3.0-or-later
#include "shutdown.h"

#include <X11/Xlib.h>
#include <allegro.h>
#include <dirent.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <string>

#include "debug.h"
#include "init.h"

namespace {
constexpr int kQuitSignals[] = {SIGTERM, SIGINT, SIGHUP};

// Written only by the handler; lock-free, so safe to touch inside a signal.
std::atomic<int> quitSignal{0};
// The quit signals that were ignored when the process started (as under nohup, or a
// background job of a shell without job control) stay ignored.
sigset_t ignoredAtStart;
bool startNoted = false;
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<bool>::is_always_lock_free,
              "the signal handler may only touch lock-free atomics");

// Only records: the main thread sees quitnow and leaves on its own.
void OnQuitSignal(int signal) {
  quitSignal.store(signal);
  quitnow.store(true);
}

sigset_t QuitSignalSet() {
  sigset_t set;
  sigemptyset(&set);
  for (int signal : kQuitSignals) sigaddset(&set, signal);
  return set;
}

void NoteIgnoredAtStart() {
  if (startNoted) return;
  startNoted = true;
  sigemptyset(&ignoredAtStart);
  for (int signal : kQuitSignals) {
    struct sigaction current {};
    if (sigaction(signal, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) {
      sigaddset(&ignoredAtStart, signal);
    }
  }
}

void InstallHandler() {
  struct sigaction action {};
  sigemptyset(&action.sa_mask);
  // No SA_RESTART: the library's message box waits for its window to be closed, and
  // only an interrupted wait lets the process end. A save copes with EINTR.
  action.sa_flags = 0;
  for (int signal : kQuitSignals) {
    action.sa_handler = sigismember(&ignoredAtStart, signal) ? SIG_IGN : OnQuitSignal;
    sigaction(signal, &action, nullptr);
  }
}

// Xlib calls this when the connection to the server breaks; it must not return. The
// library's own shutdown would talk to the dead server (or wait for its thread that
// is in here), so the process ends at once; the log is already written through.
int OnLostDisplay(Display*) {
  LOG("Lost the connection to the display, can't go on");
  _exit(kLostDisplayStatus);
}

// Ends the child processes still running (the library's message box, which outlives
// us otherwise).
void EndChildren() {
  DIR* tasks = opendir("/proc/self/task");
  if (tasks == nullptr) return;
  while (const dirent* task = readdir(tasks)) {
    if (task->d_name[0] == '.') continue;
    std::ifstream children(std::string("/proc/self/task/") + task->d_name + "/children");
    for (pid_t child = 0; children >> child;) kill(child, SIGTERM);
  }
  closedir(tasks);
}

void EndQuitSignalledRun() {
  if (QuitSignal() == 0) return;
  EndChildren();
  LogQuitSignal();
}
}  // namespace

void HoldQuitSignals() {
  NoteIgnoredAtStart();
  // Ours before the library starts, so that the handlers it saves and puts back when
  // it shuts down are ours too.
  InstallHandler();
  sigset_t set = QuitSignalSet();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  // A write to a display that went away fails with EPIPE and reaches OnLostDisplay,
  // instead of killing the process without a word.
  std::signal(SIGPIPE, SIG_IGN);
  XSetIOErrorHandler(OnLostDisplay);
}

void HandleQuitSignals() {
  NoteIgnoredAtStart();
  InstallHandler();
  static bool atExitRegistered = false;
  if (!atExitRegistered) atExitRegistered = std::atexit(EndQuitSignalledRun) == 0;
  sigset_t set = QuitSignalSet();
  pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

int QuitSignal() { return quitSignal.load(); }

const char* QuitSignalName(int signal) {
  switch (signal) {
    case SIGTERM: return "SIGTERM";
    case SIGINT: return "SIGINT";
    case SIGHUP: return "SIGHUP";
    default: return "another signal";
  }
}

void LogQuitSignal() {
  const int signal = QuitSignal();
  if (signal != 0) LOG("Received ", QuitSignalName(signal), " (", signal, "); quitting");
}
