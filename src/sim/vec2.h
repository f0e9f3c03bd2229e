#pragma once

// A plain two-component vector: int for screen positions, double for positions and
// velocities of bananas, flies and splats.
template <typename T>
struct Vec2 {
  T x;
  T y;
};
