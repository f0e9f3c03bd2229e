// SPDX-License-Identifier: GPL-3.0-or-later
#include "clock.h"

std::atomic<int> logic_time{0};
std::atomic<bool> quitnow{false};
