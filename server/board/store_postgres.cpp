// SPDX-License-Identifier: GPL-3.0-or-later
// The board in PostgreSQL: not built yet.
#include "store_common.h"

std::unique_ptr<Store> OpenPostgresStore(const std::string&, std::string& error) {
  error = "this server was built without PostgreSQL support";
  return nullptr;
}
