// SPDX-License-Identifier: GPL-3.0-or-later
#include "service.h"

std::vector<std::unique_ptr<Service>> MakeServices(const ServerOptions& options) {
  std::vector<std::unique_ptr<Service>> services;
  (void)options;
  return services;
}
