// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// One thing the server offers (the lobby and relay, the score board): started once the
// options are read, stopped when the server ends. Each runs on threads of its own; the
// main thread only waits for a signal.
#include <memory>
#include <string>
#include <vector>

#include "options.h"

class Service {
 public:
  virtual ~Service() = default;
  // What the log calls it ("lobby", "board").
  virtual const char* Name() const = 0;
  // Opens its sockets and files and starts its threads; false, with a sentence in
  // `error`, when it cannot (the server then ends with status 1).
  virtual bool Start(std::string& error) = 0;
  // Ends its threads and closes what it opened; returns when they are gone.
  virtual void Stop() = 0;
};

// The services these options ask for, not yet started. Each service's module adds
// itself here (services.cpp).
std::vector<std::unique_ptr<Service>> MakeServices(const ServerOptions& options);
