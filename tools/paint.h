// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A small floating-point painter for the media generator: an RGBA canvas, shapes given
// as signed distance functions (anti-aliased by their distance to the edge), coverage
// masks for text. The finished canvas is written to a file by save.h.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct Rgb {
  float r = 0, g = 0, b = 0;  // 0..255
};
Rgb Mix(Rgb a, Rgb b, float t);  // t = 0 gives a, 1 gives b
Rgb Shade(Rgb c, float k);       // every channel times k, clamped to 255

struct V2 {
  double x = 0, y = 0;
};
V2 Rotate(V2 p, double radians);  // clockwise on the screen for positive angles

// Premultiplied RGBA pixels; colour channels 0..255, alpha 0..1.
struct Canvas {
  int w = 0, h = 0;
  std::vector<float> px;  // r, g, b, a per pixel
  Canvas(int width, int height);
  // Source-over blending of colour c with opacity alpha at (x, y); outside is ignored.
  void Blend(int x, int y, Rgb c, float alpha);
  float Alpha(int x, int y) const;
  Rgb Colour(int x, int y) const;  // unpremultiplied; black where empty
};

// Signed distance in pixels: negative inside the shape.
using Sdf = std::function<double(double x, double y)>;
// Colour at a point of the canvas.
using Paint = std::function<Rgb(double x, double y)>;

Paint Solid(Rgb c);
// Linear gradient from colour a at y0 to b at y1 (clamped beyond).
Paint VerticalGradient(double y0, Rgb a, double y1, Rgb b);

struct PixelBox {
  int x0, y0, x1, y1;  // inclusive-exclusive pixel bounds
};

// Fills the shape. softness widens the anti-aliased edge (1 = one pixel, more = blurry,
// for shadows and glows). Only pixels inside bounds are visited (the whole canvas if
// bounds is null).
void Fill(Canvas& c, const Sdf& shape, const Paint& paint, float opacity = 1.0f,
          float softness = 1.0f, const PixelBox* bounds = nullptr);

// Shapes.
Sdf Circle(V2 centre, double r);
Sdf Ellipse(V2 centre, double rx, double ry, double angle = 0);
Sdf RoundBox(V2 centre, double halfW, double halfH, double radius);
Sdf Capsule(V2 a, V2 b, double r);  // a thick line with round ends
Sdf Grow(Sdf s, double by);          // outward by `by` pixels (negative shrinks)
Sdf Offset(Sdf s, V2 by);
Sdf Union(Sdf a, Sdf b);
Sdf Intersect(Sdf a, Sdf b);
Sdf Subtract(Sdf a, Sdf b);  // a without b

// A coverage mask (0..1) placed with its top-left corner at (x, y) of a canvas.
struct Mask {
  int x = 0, y = 0, w = 0, h = 0;
  std::vector<float> v;
  float At(int mx, int my) const;  // 0 outside
};
Mask Dilate(const Mask& m, double radius);  // grows the mask into its padding
void FillMask(Canvas& c, const Mask& m, const Paint& paint, float opacity = 1.0f, int dx = 0,
              int dy = 0);

// Deterministic pseudo-random numbers for scattering decorations.
struct Lcg {
  uint32_t state;
  double Next();  // [0, 1)
  double Range(double lo, double hi) { return lo + (hi - lo) * Next(); }
};
