// SPDX-License-Identifier: GPL-3.0-or-later
#include "trig.h"

#include <sleef.h>

#include <cmath>

float SinF(float x, uint8_t revision) {
  return revision == kPortableMath ? Sleef_sinf1_u10purec(x) : sinf(x);
}

float CosF(float x, uint8_t revision) {
  return revision == kPortableMath ? Sleef_cosf1_u10purec(x) : cosf(x);
}

double Sin(double x, uint8_t revision) {
  return revision == kPortableMath ? Sleef_sind1_u10purec(x) : std::sin(x);
}

double Cos(double x, uint8_t revision) {
  return revision == kPortableMath ? Sleef_cosd1_u10purec(x) : std::cos(x);
}
