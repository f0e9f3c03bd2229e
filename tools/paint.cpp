// SPDX-License-Identifier: GPL-3.0-or-later
#include "paint.h"

#include <algorithm>
#include <cmath>

Rgb Mix(Rgb a, Rgb b, float t) {
  return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

Rgb Shade(Rgb c, float k) {
  return {std::min(255.0f, c.r * k), std::min(255.0f, c.g * k), std::min(255.0f, c.b * k)};
}

V2 Rotate(V2 p, double radians) {
  double s = std::sin(radians), c = std::cos(radians);
  return {p.x * c - p.y * s, p.x * s + p.y * c};
}

Canvas::Canvas(int width, int height) : w(width), h(height), px(size_t(width) * height * 4, 0.0f) {}

void Canvas::Blend(int x, int y, Rgb c, float alpha) {
  if (x < 0 || y < 0 || x >= w || y >= h || alpha <= 0) return;
  alpha = std::min(alpha, 1.0f);
  float* p = &px[(size_t(y) * w + x) * 4];
  float keep = 1 - alpha;
  p[0] = c.r * alpha + p[0] * keep;
  p[1] = c.g * alpha + p[1] * keep;
  p[2] = c.b * alpha + p[2] * keep;
  p[3] = alpha + p[3] * keep;
}

float Canvas::Alpha(int x, int y) const {
  if (x < 0 || y < 0 || x >= w || y >= h) return 0;
  return px[(size_t(y) * w + x) * 4 + 3];
}

Rgb Canvas::Colour(int x, int y) const {
  float a = Alpha(x, y);
  if (a <= 0) return {};
  const float* p = &px[(size_t(y) * w + x) * 4];
  return {p[0] / a, p[1] / a, p[2] / a};
}

Paint Solid(Rgb c) {
  return [c](double, double) { return c; };
}

Paint VerticalGradient(double y0, Rgb a, double y1, Rgb b) {
  return [=](double, double y) {
    double t = std::clamp((y - y0) / (y1 - y0), 0.0, 1.0);
    return Mix(a, b, float(t));
  };
}

void Fill(Canvas& c, const Sdf& shape, const Paint& paint, float opacity, float softness,
          const PixelBox* bounds) {
  PixelBox b = bounds ? *bounds : PixelBox{0, 0, c.w, c.h};
  b.x0 = std::max(b.x0, 0);
  b.y0 = std::max(b.y0, 0);
  b.x1 = std::min(b.x1, c.w);
  b.y1 = std::min(b.y1, c.h);
  for (int y = b.y0; y < b.y1; ++y) {
    for (int x = b.x0; x < b.x1; ++x) {
      double cx = x + 0.5, cy = y + 0.5;
      double d = shape(cx, cy);
      double cover = std::clamp(0.5 - d / softness, 0.0, 1.0);
      if (cover <= 0) continue;
      c.Blend(x, y, paint(cx, cy), float(cover) * opacity);
    }
  }
}

Sdf Circle(V2 centre, double r) {
  return [=](double x, double y) { return std::hypot(x - centre.x, y - centre.y) - r; };
}

Sdf Ellipse(V2 centre, double rx, double ry, double angle) {
  return [=](double x, double y) {
    V2 p = Rotate({x - centre.x, y - centre.y}, -angle);
    double k0 = std::hypot(p.x / rx, p.y / ry);
    double k1 = std::hypot(p.x / (rx * rx), p.y / (ry * ry));
    if (k1 == 0) return -std::min(rx, ry);
    return k0 * (k0 - 1) / k1;
  };
}

Sdf RoundBox(V2 centre, double halfW, double halfH, double radius) {
  return [=](double x, double y) {
    double qx = std::fabs(x - centre.x) - halfW + radius;
    double qy = std::fabs(y - centre.y) - halfH + radius;
    double outside = std::hypot(std::max(qx, 0.0), std::max(qy, 0.0));
    return outside + std::min(std::max(qx, qy), 0.0) - radius;
  };
}

Sdf Capsule(V2 a, V2 b, double r) {
  return [=](double x, double y) {
    double px = x - a.x, py = y - a.y, bx = b.x - a.x, by = b.y - a.y;
    double len2 = bx * bx + by * by;
    double t = len2 > 0 ? std::clamp((px * bx + py * by) / len2, 0.0, 1.0) : 0.0;
    return std::hypot(px - bx * t, py - by * t) - r;
  };
}

Sdf Grow(Sdf s, double by) {
  return [=](double x, double y) { return s(x, y) - by; };
}

Sdf Offset(Sdf s, V2 by) {
  return [=](double x, double y) { return s(x - by.x, y - by.y); };
}

Sdf Union(Sdf a, Sdf b) {
  return [=](double x, double y) { return std::min(a(x, y), b(x, y)); };
}

Sdf Intersect(Sdf a, Sdf b) {
  return [=](double x, double y) { return std::max(a(x, y), b(x, y)); };
}

Sdf Subtract(Sdf a, Sdf b) {
  return [=](double x, double y) { return std::max(a(x, y), -b(x, y)); };
}

float Mask::At(int mx, int my) const {
  if (mx < 0 || my < 0 || mx >= w || my >= h) return 0;
  return v[size_t(my) * w + mx];
}

Mask Dilate(const Mask& m, double radius) {
  Mask out = m;
  int r = int(std::ceil(radius));
  for (int y = 0; y < m.h; ++y) {
    for (int x = 0; x < m.w; ++x) {
      float best = 0;
      for (int dy = -r; dy <= r; ++dy) {
        for (int dx = -r; dx <= r; ++dx) {
          double fall = std::clamp(radius + 0.5 - std::hypot(dx, dy), 0.0, 1.0);
          if (fall <= 0) continue;
          best = std::max(best, m.At(x + dx, y + dy) * float(fall));
        }
      }
      out.v[size_t(y) * m.w + x] = best;
    }
  }
  return out;
}

void FillMask(Canvas& c, const Mask& m, const Paint& paint, float opacity, int dx, int dy) {
  for (int y = 0; y < m.h; ++y) {
    for (int x = 0; x < m.w; ++x) {
      float cover = m.v[size_t(y) * m.w + x];
      if (cover <= 0) continue;
      int cx = m.x + x + dx, cy = m.y + y + dy;
      c.Blend(cx, cy, paint(cx + 0.5, cy + 0.5), cover * opacity);
    }
  }
}

double Lcg::Next() {
  state = state * 1664525u + 1013904223u;
  return (state >> 8) / double(1u << 24);
}
