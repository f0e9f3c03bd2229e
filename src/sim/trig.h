// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The simulation's trigonometry, by math revision. Revision 0 is the C library's, as
// games were always played and recorded (its double sin and cos differ in the last bit
// between processors with and without FMA for some arguments the game passes);
// revision 1 is SLEEF's pure-C functions (1-ulp accuracy, no processor-specific code
// paths), which give the same bits on every x86-64 machine and with every compiler.
#include <cstdint>

constexpr uint8_t kLibraryMath = 0;
constexpr uint8_t kPortableMath = 1;

float SinF(float x, uint8_t revision);
float CosF(float x, uint8_t revision);
double Sin(double x, uint8_t revision);
double Cos(double x, uint8_t revision);
