// SPDX-License-Identifier: GPL-3.0-or-later
// The banana, the fruit fly and the splats.
#include <algorithm>
#include <cmath>

#include "art.h"

namespace {

constexpr double kPi = 3.14159265358979;
// The box's top edge and half width in the banana's frame.
constexpr double kBoxTop = kCentreBelowPivot - kBananaH / 2.0;
constexpr double kBoxHalfW = kBananaW / 2.0;

double Smooth(double e0, double e1, double v) {
  double t = std::clamp((v - e0) / (e1 - e0), 0.0, 1.0);
  return t * t * (3 - 2 * t);
}

double Bump(double v, double centre, double halfWidth) {
  double t = (v - centre) / halfWidth;
  return t * t >= 1 ? 0 : (1 - t * t) * (1 - t * t);
}

// Colour of the banana at a point of its frame. d is the signed distance to the edge in
// canvas pixels, outline the width of the dark rim there, unit canvas pixels per frame pixel.
Rgb BananaColour(V2 p, double d, double outline, double unit) {
  double back = kBackRadius - std::hypot(p.x, p.y);
  double inner = std::hypot(p.x, p.y + kInnerCentreAbove) - kInnerRadius;
  double u = std::clamp(back / std::max(1e-6, back + inner), 0.0, 1.0);  // 0 back, 1 inner edge
  double tipAngle = std::atan2(kBoxHalfW, kBoxTop);
  double t = std::atan2(p.x, p.y) / tipAngle;  // -1 left tip .. +1 right tip

  const Rgb deep{214, 140, 16}, yellow{255, 212, 44}, light{255, 246, 170};
  Rgb c = Mix(deep, yellow, float(Smooth(0.0, 0.5, u)));
  c = Mix(c, light, float(0.75 * Bump(u, 0.72, 0.2)));
  c = Mix(c, Rgb{236, 178, 28}, float(Smooth(0.9, 1.0, u) * 0.7));
  // A faint ridge along the length, as on a real banana.
  double ridge = std::fabs(u - 0.4) * (back + inner) * unit;
  c = Mix(c, Rgb{200, 140, 20}, float(0.45 * std::clamp(1.2 - ridge, 0.0, 1.0)));
  // Greenish shoulders, then brown ends.
  double a = std::fabs(t);
  c = Mix(c, Rgb{200, 200, 40}, float(0.45 * Smooth(0.62, 0.8, a) * (1 - Smooth(0.84, 0.9, a))));
  c = Mix(c, Rgb{120, 74, 22}, float(Smooth(0.82, 0.9, a)));
  c = Mix(c, Rgb{80, 48, 14}, float(Smooth(0.94, 1.0, a)));
  // Dark rim.
  double rim = std::clamp(d + outline + 0.5, 0.0, 1.0);
  return Mix(c, Rgb{92, 52, 8}, float(rim));
}

}  // namespace

double BananaDistance(V2 p) {
  double back = std::hypot(p.x, p.y) - kBackRadius;
  double inner = kInnerRadius - std::hypot(p.x, p.y + kInnerCentreAbove);
  double box = std::max(kBoxTop - p.y, std::fabs(p.x) - kBoxHalfW);
  return std::max({back, inner, box});
}

V2 Place::ToLocal(double x, double y) const {
  V2 r = Rotate({x - origin.x, y - origin.y}, -angle);
  return {r.x / scale, r.y / scale};
}

Sdf Place::Map(Sdf local) const {
  Place p = *this;
  return [p, local](double x, double y) {
    V2 l = p.ToLocal(x, y);
    return local(l.x, l.y) * p.scale;
  };
}

Canvas BananaSprite() {
  Canvas c(kBananaW, kBananaH);
  V2 pivot{kBoxHalfW, -kBoxTop};  // in sprite pixels
  for (int y = 0; y < kBananaH; ++y) {
    for (int x = 0; x < kBananaW; ++x) {
      V2 p{x + 0.5 - pivot.x, y + 0.5 - pivot.y};
      double d = BananaDistance(p);
      if (d > 0) continue;  // only pixels whose centre lies in the body
      c.Blend(x, y, BananaColour(p, d, 1.4, 1.0), 1.0f);
    }
  }
  return c;
}

void DrawBanana(Canvas& c, const Place& place, double outline, double shadowDrop) {
  double reach = (kBackRadius + 2) * place.scale + outline;
  PixelBox bounds{int(place.origin.x - reach), int(place.origin.y - reach),
             int(place.origin.x + reach) + 1, int(place.origin.y + reach + shadowDrop) + 1};
  Sdf body = place.Map([](double x, double y) { return BananaDistance({x, y}); });
  if (shadowDrop > 0)
    Fill(c, Offset(body, {shadowDrop * 0.4, shadowDrop}), Solid({70, 50, 20}), 0.25f,
         float(shadowDrop * 0.6), &bounds);
  Place p = place;
  Fill(c, body,
       [p, body, outline](double x, double y) {
         return BananaColour(p.ToLocal(x, y), body(x, y), outline, p.scale);
       },
       1.0f, 1.0f, &bounds);
}

namespace {

struct FlyColours {
  Rgb outline{22, 14, 14};
  Rgb body{58, 40, 34};
  Rgb stripe{140, 92, 46};
  Rgb thorax{86, 60, 44};
  Rgb eye{222, 30, 24};
  Rgb eyeRim{120, 8, 8};
  Rgb wing{222, 240, 255};
  Rgb wingEdge{84, 104, 140};
};

void Wing(Canvas& c, const Place& pl, V2 centre, double rx, double ry, double angle, const PixelBox& b) {
  FlyColours k;
  Sdf wing = pl.Map(Ellipse(centre, rx, ry, angle));
  Fill(c, Grow(wing, 0.9 * std::max(1.0, pl.scale)), Solid(k.wingEdge), 0.95f, 1.0f, &b);
  Fill(c, wing, Solid(k.wing), 0.62f, 1.0f, &b);
  // Veins from the root along the wing.
  V2 axis = Rotate({0, ry}, angle);
  V2 side = Rotate({rx * 0.45, 0}, angle);
  V2 root{centre.x - axis.x * 0.85, centre.y - axis.y * 0.85};
  double vr = 0.35;
  for (int i = -1; i <= 1; ++i) {
    V2 end{centre.x + axis.x * 0.7 + side.x * i, centre.y + axis.y * 0.7 + side.y * i};
    Fill(c, pl.Map(Capsule(root, end, vr)), Solid(k.wingEdge), 0.45f, 1.0f, &b);
  }
  // Glint.
  V2 g0{centre.x - axis.x * 0.35 - side.x * 0.9, centre.y - axis.y * 0.35 - side.y * 0.9};
  V2 g1{centre.x + axis.x * 0.1 - side.x * 0.9, centre.y + axis.y * 0.1 - side.y * 0.9};
  Fill(c, pl.Map(Capsule(g0, g1, 0.6)), Solid({255, 255, 255}), 0.8f, 1.0f, &b);
}

}  // namespace

void DrawFly(Canvas& c, const Place& pl, int pose) {
  FlyColours k;
  double s = pl.scale;
  double reach = std::hypot(kFlyW, kFlyH) * s + 4;
  PixelBox b{int(pl.origin.x - reach), int(pl.origin.y - reach), int(pl.origin.x + reach) + 1,
        int(pl.origin.y + reach) + 1};
  double lineR = std::max(0.9, 0.9 / s);  // legs stay at least a pixel or two thick

  // Legs and feelers, mirrored left and right.
  for (int side = -1; side <= 1; side += 2) {
    auto X = [side](double dx) { return 21 + side * dx; };
    const V2 legs[3][3] = {{{X(3), 15}, {X(8), 10}, {X(10), 5}},
                           {{X(4), 18}, {X(10), 19}, {X(15), 23}},
                           {{X(4), 21}, {X(9), 26}, {X(11), 33}}};
    for (const auto& leg : legs) {
      Fill(c, pl.Map(Capsule(leg[0], leg[1], lineR)), Solid(k.outline), 1.0f, 1.0f, &b);
      Fill(c, pl.Map(Capsule(leg[1], leg[2], lineR)), Solid(k.outline), 1.0f, 1.0f, &b);
    }
    Fill(c, pl.Map(Capsule({X(2), 7}, {X(5), 2}, lineR)), Solid(k.outline), 1.0f, 1.0f, &b);
  }
  // Spread wings lie beside the body, under nothing.
  if (pose == 1) {
    Wing(c, pl, {10, 15}, 4.8, 9.5, 1.15, b);
    Wing(c, pl, {32, 15}, 4.8, 9.5, -1.15, b);
  }
  // Body: a dark silhouette a pixel larger, then the parts.
  Sdf abdomen = Ellipse({21, 26}, 6.2, 9.0);
  Sdf thorax = Ellipse({21, 17}, 6.0, 5.0);
  Sdf head = Ellipse({21, 10.5}, 6.0, 4.2);
  Sdf eyeL = Circle({15.8, 10}, 3.9), eyeR = Circle({26.2, 10}, 3.9);
  Sdf all = Union(Union(abdomen, thorax), Union(head, Union(eyeL, eyeR)));
  Fill(c, pl.Map(Grow(all, 1.0)), Solid(k.outline), 1.0f, 1.0f, &b);
  Fill(c, pl.Map(abdomen), Solid(k.body), 1.0f, 1.0f, &b);
  for (double y : {23.5, 27.5, 31.2}) {
    Sdf band = Intersect(abdomen, Ellipse({21, y}, 8, 1.1));
    Fill(c, pl.Map(band), Solid(k.stripe), 0.85f, 1.0f, &b);
  }
  Fill(c, pl.Map(Ellipse({19, 22}, 2.0, 3.5, 0.3)), Solid({150, 120, 100}), 0.45f, 1.0f, &b);
  Fill(c, pl.Map(thorax), Solid(k.thorax), 1.0f, 1.0f, &b);
  Fill(c, pl.Map(Ellipse({19.3, 15.6}, 2.2, 1.6)), Solid({170, 135, 105}), 0.55f, 1.0f, &b);
  Fill(c, pl.Map(head), Solid(k.body), 1.0f, 1.0f, &b);
  for (const Sdf& eye : {eyeL, eyeR}) {
    Fill(c, pl.Map(eye), Solid(k.eyeRim), 1.0f, 1.0f, &b);
    Fill(c, pl.Map(Grow(eye, -0.9)), Solid(k.eye), 1.0f, 1.0f, &b);
  }
  Fill(c, pl.Map(Circle({14.8, 8.8}, 1.1)), Solid({255, 235, 230}), 0.95f, 1.0f, &b);
  Fill(c, pl.Map(Circle({25.2, 8.8}, 1.1)), Solid({255, 235, 230}), 0.95f, 1.0f, &b);
  // Folded wings lie over the abdomen, which shows through them.
  if (pose == 0) {
    Wing(c, pl, {15.5, 26}, 5.2, 10.5, 0.42, b);
    Wing(c, pl, {26.5, 26}, 5.2, 10.5, -0.42, b);
  }
}

Canvas FlySprite(int pose) {
  Canvas c(kFlyW, kFlyH);
  DrawFly(c, Place{{0, 0}, 1, 0}, pose);
  return c;
}

void DrawSplat(Canvas& c, V2 centre, double r, uint32_t seed, float opacity) {
  Lcg rng{seed};
  Sdf blob = Circle(centre, r * 0.62);
  for (int i = 0; i < 9; ++i) {
    double a = rng.Range(0, 2 * kPi), dist = rng.Range(0.35, 0.7) * r;
    V2 at{centre.x + std::cos(a) * dist, centre.y + std::sin(a) * dist};
    blob = Union(blob, Circle(at, rng.Range(0.18, 0.34) * r));
  }
  for (int i = 0; i < 7; ++i) {
    double a = rng.Range(0, 2 * kPi), dist = rng.Range(1.0, 1.5) * r;
    V2 at{centre.x + std::cos(a) * dist, centre.y + std::sin(a) * dist};
    blob = Union(blob, Circle(at, rng.Range(0.06, 0.13) * r));
  }
  int reach = int(r * 1.8) + 2;
  PixelBox b{int(centre.x) - reach, int(centre.y) - reach, int(centre.x) + reach, int(centre.y) + reach};
  Fill(c, Grow(blob, 1.5), Solid({96, 128, 20}), opacity, 1.0f, &b);
  Fill(c, blob, VerticalGradient(centre.y - r, Rgb{196, 230, 60}, centre.y + r, Rgb{140, 190, 30}),
       opacity, 1.0f, &b);
  Fill(c, Circle({centre.x - r * 0.25, centre.y - r * 0.25}, r * 0.18), Solid({240, 255, 180}),
       opacity * 0.7f, 1.0f, &b);
}
