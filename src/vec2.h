#pragma once
// The simulation's vector, shared with the layers above it.
#include "sim/vec2.h"
