// SPDX-License-Identifier: GPL-3.0-or-later
#include "shutdown.h"

#include <X11/Xlib.h>
#include <allegro.h>
#include <dirent.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <string>

#include "debug.h"
#include "clock.h"

namespace {
struct NamedSignal {
  int number;
  const char* name;
};
constexpr NamedSignal kQuitSignals[] = {
    {SIGTERM, "SIGTERM"}, {SIGINT, "SIGINT"}, {SIGHUP, "SIGHUP"}, {SIGQUIT, "SIGQUIT"}};
// Signals of a fault in the program itself.
constexpr NamedSignal kCrashSignals[] = {
    {SIGSEGV, "SIGSEGV"}, {SIGBUS, "SIGBUS"}, {SIGFPE, "SIGFPE"}, {SIGABRT, "SIGABRT"}, {SIGILL, "SIGILL"}};

template <std::size_t N>
const char* NameIn(const NamedSignal (&table)[N], int signal) {
  for (const NamedSignal& named : table) {
    if (named.number == signal) return named.name;
  }
  return "another signal";
}

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

#define NANASPLAT_TEXT(x) #x
#define NANASPLAT_LINE_TEXT(x) NANASPLAT_TEXT(x)
// The crash notice's own "(path:line) " prefix, made by the compiler: the handler only
// copies bytes.
constexpr char kCrashEntryPrefix[] = "(" __FILE__ ":" NANASPLAT_LINE_TEXT(__LINE__) ") Crashed with ";
#undef NANASPLAT_LINE_TEXT
#undef NANASPLAT_TEXT

// A crash notice under construction in a buffer of the handler's own: no allocation,
// no lock, nothing but copying (safe inside a signal handler).
struct FixedLine {
  char text[160];
  size_t length = 0;
  void Add(const char* piece) {
    while (*piece != '\0' && length < sizeof text) text[length++] = *piece++;
  }
  void Add(int number) {
    char digits[12];
    size_t count = 0;
    unsigned value = number < 0 ? 0u : static_cast<unsigned>(number);
    do {
      digits[count++] = static_cast<char>('0' + value % 10);
      value /= 10;
    } while (value != 0 && count < sizeof digits);
    while (count > 0 && length < sizeof text) text[length++] = digits[--count];
  }
};

// Puts in `handler` for `signal`, blocking no other signal meanwhile (safe inside a
// signal handler).
void SetHandler(int signal, void (*handler)(int), int flags) {
  struct sigaction action {};
  sigemptyset(&action.sa_mask);
  action.sa_flags = flags;
  action.sa_handler = handler;
  sigaction(signal, &action, nullptr);
}

// A fault: one log line naming the signal, then the signal's default action (the
// process ends, with a core where the system keeps them). Nothing of the library runs
// here: its shutdown would take locks the faulting thread may hold. SA_RESETHAND has
// already put the default action back, so a fault on another thread meanwhile ends the
// process at once.
void OnCrashSignal(int signal) {
  const int savedErrno = errno;  // a handler leaves errno as it found it
  FixedLine line;
  line.Add(kCrashEntryPrefix);
  line.Add(CrashSignalName(signal));
  line.Add(" (");
  line.Add(signal);
  line.Add("); ending at once\n");
  WriteLogEntryFromSignal(line.text, line.length);
  // The default action once more in so many words (a runtime that stands between the
  // kernel and this handler, as the sanitizers' do, may not honour SA_RESETHAND); the
  // signal raised again is held back until this handler returns, then delivered.
  SetHandler(signal, SIG_DFL, 0);
  raise(signal);
  errno = savedErrno;
}

void NoteIgnoredAtStart() {
  if (startNoted) return;
  startNoted = true;
  sigemptyset(&ignoredAtStart);
  for (const NamedSignal& quit : kQuitSignals) {
    struct sigaction current {};
    if (sigaction(quit.number, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) {
      sigaddset(&ignoredAtStart, quit.number);
    }
  }
}

// Our handlers for the quit and the crash signals, and the quit signals held back
// (`how`: SIG_BLOCK) or let through (SIG_UNBLOCK).
void TakeSignals(int how) {
  NoteIgnoredAtStart();
  // No SA_RESTART: the library's message box waits for its window to be closed, and
  // only an interrupted wait lets the process end. A save copes with EINTR.
  for (const NamedSignal& quit : kQuitSignals) {
    SetHandler(quit.number, sigismember(&ignoredAtStart, quit.number) ? SIG_IGN : OnQuitSignal, 0);
  }
  HandleCrashSignals();
  sigset_t set;
  sigemptyset(&set);
  for (const NamedSignal& quit : kQuitSignals) sigaddset(&set, quit.number);
  pthread_sigmask(how, &set, nullptr);
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
  // Ours before the library starts, so that the handlers it saves and puts back when
  // it shuts down are ours too.
  TakeSignals(SIG_BLOCK);
  // A write to a display that went away fails with EPIPE and reaches OnLostDisplay,
  // instead of killing the process without a word.
  std::signal(SIGPIPE, SIG_IGN);
  XSetIOErrorHandler(OnLostDisplay);
}

void HandleCrashSignals() {
  for (const NamedSignal& crash : kCrashSignals) SetHandler(crash.number, OnCrashSignal, SA_RESETHAND);
}

void HandleQuitSignals() {
  static bool atExitRegistered = false;
  if (!atExitRegistered) atExitRegistered = std::atexit(EndQuitSignalledRun) == 0;
  TakeSignals(SIG_UNBLOCK);
}

int QuitSignal() { return quitSignal.load(); }

const char* QuitSignalName(int signal) { return NameIn(kQuitSignals, signal); }

const char* CrashSignalName(int signal) { return NameIn(kCrashSignals, signal); }

void LogQuitSignal() {
  const int signal = QuitSignal();
  if (signal != 0) LOG("Received ", QuitSignalName(signal), " (", signal, "); quitting");
}
