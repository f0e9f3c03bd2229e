#pragma once
// One reading of a player's controls: what replays record and the network carries.
struct Controls {
  int turn;     // +1 rolls right, -1 rolls left
  bool squash;  // squash while upside down; release to jump
};
