#pragma once
#include "sim/player.h"
