// SPDX-License-Identifier: GPL-3.0-or-later
#include "verify.h"

const char* GameModeName(GameMode mode) {
  switch (mode) {
    case GameMode::OnePlayer: return "1p";
    case GameMode::TwoPlayers: return "2p";
    case GameMode::Network: return "net";
  }
  return "1p";
}

bool GameModeFromName(const std::string& name, GameMode& mode) {
  for (GameMode m : {GameMode::OnePlayer, GameMode::TwoPlayers, GameMode::Network}) {
    if (name == GameModeName(m)) {
      mode = m;
      return true;
    }
  }
  return false;
}
