// SPDX-License-Identifier: GPL-3.0-or-later
// nanasplat-server: the services network players meet through. The main thread reads the
// options, starts each service and then only waits for SIGTERM or SIGINT, held back
// from every thread and taken with sigwait, so no handler runs inside a service.
#include <csignal>
#include <cstdio>
#include <cstring>

#include "log.h"
#include "options.h"
#include "service.h"

namespace {

int Serve(const ServerOptions& options) {
  sigset_t ending;
  sigemptyset(&ending);
  sigaddset(&ending, SIGTERM);
  sigaddset(&ending, SIGINT);
  sigaddset(&ending, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &ending, nullptr);  // before any thread starts: they inherit it
  std::signal(SIGPIPE, SIG_IGN);                 // a client gone mid-answer is an error, not an end

  std::vector<std::unique_ptr<Service>> services = MakeServices(options);
  size_t started = 0;
  int status = 0;
  for (; started < services.size(); ++started) {
    std::string error;
    if (!services[started]->Start(error)) {
      ServerLog("Could not start the ", services[started]->Name(), ": ", error);
      status = 1;
      break;
    }
  }
  if (status == 0) {
    ServerLog(ServerVersionText().substr(0, ServerVersionText().size() - 1), " serving (state in ",
              options.stateDir, ")");
    int signal = 0;
    sigwait(&ending, &signal);
    const char* abbreviation = sigabbrev_np(signal);
    ServerLog("Received SIG", abbreviation != nullptr ? abbreviation : "?", " (", signal, "); stopping");
  }
  while (started > 0) services[--started]->Stop();
  if (status == 0) ServerLog("Stopped");
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  const ServerCommandLine line = ParseServerOptions(argc, argv);
  switch (line.action) {
    case ServerAction::Help: std::fputs(ServerUsageText().c_str(), stdout); return 0;
    case ServerAction::Version: std::fputs(ServerVersionText().c_str(), stdout); return 0;
    case ServerAction::Misuse: std::fprintf(stderr, "nanasplat-server: %s\n", line.problem.c_str()); return 2;
    case ServerAction::Serve: break;
  }
  return Serve(line.options);
}
