// SPDX-License-Identifier: GPL-3.0-or-later
// The title picture and the two help pages.
#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "art.h"

namespace {

constexpr double kPi = 3.14159265358979;
const Rgb kWhite{255, 255, 255};
const Rgb kInk{48, 34, 22};        // body text: dark brown
const Rgb kRim{74, 40, 6};         // outlines of headings and shapes
const Rgb kBananaTop{255, 240, 120};
const Rgb kBananaBottom{255, 176, 20};
const Rgb kLimeTop{214, 250, 90};
const Rgb kLimeBottom{106, 184, 28};

// The covered pixels of a glyph mask; empty (0 wide) when nothing is covered.
PixelBox Covered(const Mask& m) {
  PixelBox box{m.x + m.w, m.y + m.h, m.x, m.y};
  for (int y = 0; y < m.h; ++y) {
    for (int x = 0; x < m.w; ++x) {
      if (m.v[size_t(y) * m.w + x] <= 0.0f) continue;
      box = {std::min(box.x0, m.x + x), std::min(box.y0, m.y + y), std::max(box.x1, m.x + x + 1),
             std::max(box.y1, m.y + y + 1)};
    }
  }
  return box;
}

}  // namespace

PageLayout* pageLayout = nullptr;

int DrawText(Canvas& c, Typeface& tf, const std::string& text, int x, int baseline,
             const TextStyle& style, int align) {
  int width = TextWidth(tf, style.size, text);
  if (align == 0) x -= width / 2;
  if (align > 0) x -= width;
  int pad = int(std::ceil(style.outline + style.shadow)) + 2;
  Mask m = TextMask(tf, style.size, text, x, baseline, pad);
  if (style.shadow > 0 || style.outline > 0) {
    Mask rim = Dilate(m, std::max(style.outline, 0.6));
    if (style.shadow > 0) {
      Mask soft = Dilate(rim, 1.5);
      int d = int(std::lround(style.shadow));
      FillMask(c, soft, Solid({40, 20, 0}), 0.35f, d, d);
    }
    if (style.outline > 0) FillMask(c, rim, Solid(style.outlineColour));
  }
  FillMask(c, m, style.fill);
  if (pageLayout != nullptr) pageLayout->lines.push_back({text, Covered(m)});
  return width;
}

int DrawParagraph(Canvas& c, Typeface& tf, const std::string& text, int x, int baseline,
                  int maxWidth, int lineStep, const TextStyle& style) {
  std::vector<std::string> words;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(' ', start);
    if (end == std::string::npos) end = text.size();
    if (end > start) words.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  std::string line;
  for (const std::string& w : words) {
    std::string tryLine = line.empty() ? w : line + " " + w;
    if (!line.empty() && TextWidth(tf, style.size, tryLine) > maxWidth) {
      DrawText(c, tf, line, x, baseline, style);
      baseline += lineStep;
      line = w;
    } else {
      line = tryLine;
    }
  }
  if (!line.empty()) {
    DrawText(c, tf, line, x, baseline, style);
    baseline += lineStep;
  }
  return baseline;
}

namespace {

// Alternating light rays from a point, fading out with distance.
void SunRays(Canvas& c, V2 centre, int rays, double reach, float strength, const Paint& under) {
  double wedge = 2 * kPi / rays;
  Sdf shape = [=](double x, double y) {
    double r = std::hypot(x - centre.x, y - centre.y);
    double f = (std::atan2(y - centre.y, x - centre.x) + kPi) / wedge;
    double local = f - std::floor(f);
    double edge = local < 0.5 ? -std::min(local, 0.5 - local) : std::min(local - 0.5, 1 - local);
    return edge * wedge * r;
  };
  Fill(c, shape, [=](double x, double y) {
    double r = std::hypot(x - centre.x, y - centre.y);
    float fade = float(std::clamp(1 - r / reach, 0.0, 1.0));
    return Mix(under(x, y), kWhite, strength * fade);
  });
}

void Cloud(Canvas& c, V2 at, double size) {
  Sdf puff = Circle({at.x, at.y}, size * 0.5);
  puff = Union(puff, Circle({at.x - size * 0.55, at.y + size * 0.15}, size * 0.36));
  puff = Union(puff, Circle({at.x + size * 0.55, at.y + size * 0.12}, size * 0.4));
  puff = Union(puff, RoundBox({at.x, at.y + size * 0.3}, size * 0.9, size * 0.2, size * 0.2));
  Fill(c, Grow(puff, 2), Solid({150, 196, 236}), 0.6f);
  Fill(c, puff, VerticalGradient(at.y - size * 0.3, kWhite, at.y + size * 0.5, Rgb{214, 234, 252}));
}

// A dotted flight path: a wavy line of small dots from a to b.
void Trail(Canvas& c, V2 a, V2 b, double wave, int dots, Rgb colour) {
  V2 dir{b.x - a.x, b.y - a.y};
  double len = std::hypot(dir.x, dir.y);
  V2 n{-dir.y / len, dir.x / len};
  for (int i = 0; i < dots; ++i) {
    double t = double(i) / (dots - 1);
    double off = std::sin(t * 3 * kPi) * wave;
    V2 p{a.x + dir.x * t + n.x * off, a.y + dir.y * t + n.y * off};
    Fill(c, Circle(p, 1.2 + 1.4 * t), Solid(colour), float(0.25 + 0.5 * t));
  }
}

// Speed lines behind a moving object.
void SpeedLines(Canvas& c, V2 from, V2 dir, double spread, int count, Rgb colour) {
  V2 n{-dir.y, dir.x};
  double len = std::hypot(n.x, n.y);
  n = {n.x / len, n.y / len};
  for (int i = 0; i < count; ++i) {
    double off = (i - (count - 1) / 2.0) * spread;
    V2 a{from.x + n.x * off, from.y + n.y * off};
    V2 b{a.x + dir.x * (0.7 + 0.3 * (i % 2)), a.y + dir.y * (0.7 + 0.3 * (i % 2))};
    Fill(c, Capsule(a, b, 2.2), Solid(colour), 0.8f);
  }
}

// Big letters of the game's name along a gentle arch, each in a vertical gradient.
void ArchedTitle(Canvas& c, Typeface& tf, const std::string& text, int size, V2 centre,
                 double sag, int splitAt) {
  int total = TextWidth(tf, size, text);
  // Pen positions from the whole line, so the letters keep their kerning.
  std::vector<int> pen(text.size() + 1, 0);
  for (size_t i = 1; i <= text.size(); ++i) pen[i] = TextWidth(tf, size, text.substr(0, i));
  struct Letter {
    Mask glyph;
    Paint fill;
  };
  std::vector<Letter> letters;
  for (size_t i = 0; i < text.size(); ++i) {
    double mid = (pen[i] + pen[i + 1]) / 2.0 - total / 2.0;
    double u = mid / (total / 2.0);
    int x = int(centre.x - total / 2.0 + pen[i]);
    int baseline = int(centre.y + sag * u * u);
    Mask m = TextMask(tf, size, text.substr(i, 1), x, baseline, 14);
    double top = baseline - size * 0.75, bottom = baseline;
    bool second = int(i) >= splitAt;
    Paint fill = VerticalGradient(top, second ? kLimeTop : kBananaTop, bottom,
                                  second ? kLimeBottom : kBananaBottom);
    letters.push_back({m, fill});
  }
  // Shadow and rim of all letters first, so no rim covers a neighbour's face.
  for (const Letter& l : letters) FillMask(c, Dilate(l.glyph, 10), Solid({60, 30, 0}), 0.3f, 6, 8);
  for (const Letter& l : letters) FillMask(c, Dilate(l.glyph, 7), Solid(kRim));
  for (const Letter& l : letters) FillMask(c, Dilate(l.glyph, 3.5), Solid({255, 252, 235}));
  for (const Letter& l : letters) {
    FillMask(c, l.glyph, l.fill);
    // A glossy band over the upper half of each letter.
    Mask gloss = l.glyph;
    for (int y = 0; y < gloss.h; ++y) {
      double py = gloss.y + y;
      double band = std::clamp((centre.y - size * 0.05 - py) / (size * 0.2), 0.0, 1.0);
      for (int x = 0; x < gloss.w; ++x) gloss.v[size_t(y) * gloss.w + x] *= float(band * 0.35);
    }
    FillMask(c, gloss, Solid(kWhite));
  }
}

// Distance to the half-plane on the left of the line a -> b (positive outside).
Sdf HalfPlane(V2 a, V2 b) {
  double len = std::hypot(b.x - a.x, b.y - a.y);
  V2 n{(b.y - a.y) / len, -(b.x - a.x) / len};
  return [=](double x, double y) { return (x - a.x) * n.x + (y - a.y) * n.y; };
}

// A ribbon banner with swallow-tailed ends across [x0, x1] centred on y.
void Ribbon(Canvas& c, double x0, double x1, double y, double half) {
  Rgb red{222, 44, 48}, dark{150, 20, 26};
  for (int side = -1; side <= 1; side += 2) {
    double edge = side < 0 ? x0 : x1;
    double outer = edge + side * 60;
    double cy = y + 14;
    Sdf tail = RoundBox({edge + side * 26, cy}, 34, half, 2);
    V2 p0{outer, cy - half - 1}, p1{outer, cy + half + 1}, tip{outer - side * 20, cy};
    Sdf notch = side < 0 ? Intersect(Intersect(HalfPlane(p0, tip), HalfPlane(tip, p1)),
                                     HalfPlane(p1, p0))
                         : Intersect(Intersect(HalfPlane(tip, p0), HalfPlane(p1, tip)),
                                     HalfPlane(p0, p1));
    tail = Subtract(tail, notch);
    Fill(c, Grow(tail, 3), Solid(kRim));
    Fill(c, tail, Solid(dark));
  }
  Sdf band = RoundBox({(x0 + x1) / 2, y}, (x1 - x0) / 2, half, 6);
  Fill(c, Offset(band, {4, 6}), Solid({60, 20, 0}), 0.3f, 4.0f);
  Fill(c, Grow(band, 3), Solid(kRim));
  Fill(c, band, VerticalGradient(y - half, Rgb{250, 88, 80}, y + half, red));
  Fill(c, RoundBox({(x0 + x1) / 2, y - half * 0.55}, (x1 - x0) / 2 - 10, half * 0.18, 3),
       Solid(kWhite), 0.25f);
}

Paint SkyPaint() {
  return [](double, double y) {
    const Rgb top{74, 164, 246}, mid{150, 212, 255}, low{255, 244, 204}, bottom{255, 250, 232};
    if (y < 300) return Mix(top, mid, float(y / 300));
    if (y < 470) return Mix(mid, low, float((y - 300) / 170));
    return Mix(low, bottom, float(std::min(1.0, (y - 470) / 130)));
  };
}

void Hill(Canvas& c, V2 centre, double rx, double ry) {
  Sdf hill = Ellipse(centre, rx, ry);
  Fill(c, Grow(hill, 3), Solid({46, 112, 30}));
  Fill(c, hill, VerticalGradient(centre.y - ry, Rgb{146, 214, 84}, centre.y, Rgb{84, 168, 52}));
  // Soft light along the crest.
  Fill(c, Subtract(hill, Offset(hill, {10, 14})), Solid({196, 240, 130}), 0.55f);
}

}  // namespace

Canvas TitlePicture(Typeface& tf) {
  const int w = 800, h = 600;
  Canvas c(w, h);
  Paint sky = SkyPaint();
  Fill(c, [](double, double) { return -1.0; }, sky);
  SunRays(c, {400, 150}, 28, 520, 0.22f, sky);
  Cloud(c, {110, 70}, 70);
  Cloud(c, {690, 52}, 60);
  Cloud(c, {560, 120}, 34);

  // Hills in the bottom corners leave the middle, where the menu sits, calm and light.
  Hill(c, {30, 690}, 270, 240);
  Hill(c, {780, 700}, 260, 250);
  DrawSplat(c, {95, 520}, 26, 7);
  DrawSplat(c, {700, 540}, 22, 11);
  DrawSplat(c, {205, 575}, 14, 5);
  // A soft light glow behind the menu buttons.
  Fill(c, RoundBox({400, 560}, 150, 110, 40), Solid({255, 253, 240}), 0.7f, 22.0f);

  // Bananas: one resting on each hill, one leaping through the middle.
  DrawBanana(c, Place{{120, 370}, 0.95, -0.28}, 3, 12);
  DrawBanana(c, Place{{690, 375}, 0.9, 0.4}, 3, 12);
  SpeedLines(c, {500, 372}, {64, -36}, 13, 3, {255, 255, 255});
  DrawBanana(c, Place{{474, 422}, 0.55, 2.5}, 2.5, 0);

  // Flies buzzing about, with their flight paths.
  struct FlyAt {
    V2 at;
    double scale, angle;
    int pose;
    V2 from;
  };
  const FlyAt flies[] = {{{236, 316}, 1.5, -0.3, 1, {150, 300}},
                         {{590, 318}, 1.3, 0.35, 0, {680, 280}},
                         {{30, 316}, 1.1, 0.2, 1, {0, 380}},
                         {{700, 220}, 1.0, -0.4, 1, {790, 250}},
                         {{318, 410}, 1.0, 0.1, 0, {260, 440}}};
  for (const FlyAt& f : flies) {
    V2 centre{f.at.x + 21 * f.scale, f.at.y + 19 * f.scale};
    Trail(c, f.from, centre, 10, 14, {90, 90, 110});
  }
  for (const FlyAt& f : flies) {
    V2 mid{21 * f.scale, 19 * f.scale};
    V2 turned = Rotate(mid, f.angle);
    V2 origin{f.at.x + mid.x - turned.x, f.at.y + mid.y - turned.y};
    DrawFly(c, Place{origin, f.scale, f.angle}, f.pose);
  }

  // The name.
  int size = 112;
  while (size > 40 && TextWidth(tf, size, "NANASPLAT") > 690) --size;
  ArchedTitle(c, tf, "NANASPLAT", size, {400, 212}, 22, 4);
  Ribbon(c, 178, 622, 282, 24);
  TextStyle sub;
  sub.size = 25;
  sub.fill = Solid(kWhite);
  sub.outline = 2.2;
  sub.outlineColour = {120, 14, 20};
  DrawText(c, tf, "Roll, jump and splat the fruit flies!", 400, 291, sub, 0);
  return c;
}

namespace {

constexpr int kPageW = 1024;
constexpr int kPageH = 768;
constexpr int kCalmBand = 84;  // the bottom band where the page's buttons sit

void PageBackground(Canvas& c) {
  Paint paper = [](double x, double y) {
    Rgb base = Mix(Rgb{255, 249, 222}, Rgb{255, 238, 196}, float(y / kPageH));
    // Faint diagonal stripes above the bottom band.
    double s = std::fmod(x + y, 44.0);
    if (y < kPageH - kCalmBand && s < 22) base = Mix(base, Rgb{255, 228, 160}, 0.22f);
    return base;
  };
  Fill(c, [](double, double) { return -1.0; }, paper);
  Fill(c, [](double, double y) { return (kPageH - kCalmBand) - y; },
       Solid({255, 252, 238}));
}

// A page heading on a yellow banner, with a banana on the left and a fly on the right.
void Header(Canvas& c, Typeface& tf, const std::string& title, const std::string& page) {
  Sdf banner = RoundBox({512, 54}, 320, 38, 22);
  Fill(c, Offset(banner, {5, 7}), Solid({80, 40, 0}), 0.3f, 5.0f);
  Fill(c, Grow(banner, 4), Solid(kRim));
  Fill(c, banner, VerticalGradient(16, kBananaTop, 92, kBananaBottom));
  Fill(c, RoundBox({512, 32}, 300, 9, 9), Solid(kWhite), 0.3f, 2.0f);
  TextStyle t;
  t.size = 48;
  t.fill = VerticalGradient(36, kWhite, 72, Rgb{255, 246, 214});
  t.outline = 4.5;
  t.outlineColour = kRim;
  t.shadow = 3;
  DrawText(c, tf, title, 512, 72, t, 0);
  DrawBanana(c, Place{{96, 8}, 0.55, -0.25}, 2.5, 6);
  DrawFly(c, Place{{894, 18}, 1.5, 0.2}, 1);
  TextStyle p;
  p.size = 17;
  p.fill = Solid({150, 108, 64});
  DrawText(c, tf, page, 512, 116, p, 0);
}

// A white card with a coloured title strip; returns the first baseline inside it.
int Card(Canvas& c, Typeface& tf, PixelBox b, Rgb top, Rgb bottom, const std::string& title) {
  V2 centre{(b.x0 + b.x1) / 2.0, (b.y0 + b.y1) / 2.0};
  double hw = (b.x1 - b.x0) / 2.0, hh = (b.y1 - b.y0) / 2.0;
  Sdf card = RoundBox(centre, hw, hh, 18);
  if (pageLayout != nullptr) pageLayout->cards.push_back(b);
  Fill(c, Offset(card, {5, 7}), Solid({90, 60, 20}), 0.22f, 6.0f);
  Fill(c, Grow(card, 3), Solid(kRim));
  Fill(c, card, Solid({255, 255, 250}));
  Sdf strip = Intersect(card, [&](double, double y) { return y - (b.y0 + 46.0); });
  Fill(c, strip, VerticalGradient(b.y0, top, b.y0 + 46, bottom));
  Fill(c, [&](double x, double y) {
         return std::max(std::fabs(y - (b.y0 + 46.0)) - 1.5, std::fabs(x - centre.x) - hw);
       },
       Solid(kRim));
  TextStyle t;
  t.size = 28;
  t.fill = Solid(kWhite);
  t.outline = 2.5;
  t.outlineColour = kRim;
  DrawText(c, tf, title, b.x0 + 22, b.y0 + 34, t);
  return b.y0 + 84;
}

TextStyle Body() {
  TextStyle s;
  s.size = 21;
  s.fill = Solid(kInk);
  return s;
}

// A bullet point: a small banana-yellow dot and a wrapped paragraph.
int Bullet(Canvas& c, Typeface& tf, const std::string& text, int x, int baseline, int width) {
  Fill(c, Circle({x + 7.0, baseline - 7.0}, 6.5), Solid(kRim));
  Fill(c, Circle({x + 7.0, baseline - 7.0}, 4.5), Solid({255, 200, 40}));
  return DrawParagraph(c, tf, text, x + 24, baseline, width - 24, 28, Body()) + 10;
}

// A keyboard key with its label; returns its width.
int Key(Canvas& c, Typeface& tf, const std::string& label, int x, int baseline) {
  int tw = TextWidth(tf, 19, label);
  int w = std::max(38, tw + 22);
  V2 centre{x + w / 2.0, baseline - 7.0};
  Sdf cap = RoundBox(centre, w / 2.0, 17, 7);
  Fill(c, Offset(cap, {0, 4}), Solid({120, 110, 100}));
  Fill(c, Grow(cap, 2), Solid({70, 60, 55}));
  Fill(c, cap, VerticalGradient(centre.y - 17, kWhite, centre.y + 17, Rgb{222, 222, 230}));
  TextStyle t;
  t.size = 19;
  t.fill = Solid({40, 40, 60});
  DrawText(c, tf, label, int(centre.x), baseline, t, 0);
  return w;
}

// A computer mouse, with its left, right or both buttons lit.
void MouseIcon(Canvas& c, V2 at, bool left, bool right) {
  Sdf body = Ellipse({at.x, at.y}, 22, 31);
  Fill(c, Grow(body, 2.5), Solid({60, 60, 70}));
  Fill(c, body, VerticalGradient(at.y - 31, kWhite, at.y + 31, Rgb{206, 210, 222}));
  Rgb lit{255, 90, 60};
  auto button = [&](int side) {
    return Intersect(body, [=](double x, double y) {
      return std::max(y - at.y + 2, -(x - at.x) * side + 1.5);
    });
  };
  if (left) Fill(c, button(-1), Solid(lit));
  if (right) Fill(c, button(1), Solid(lit));
  Fill(c, Intersect(Grow(body, 1), Capsule({at.x, at.y - 40}, {at.x, at.y - 2}, 1.2)),
       Solid({60, 60, 70}));
  Fill(c, Intersect(Grow(body, 1), Capsule({at.x - 30, at.y - 2}, {at.x + 30, at.y - 2}, 1.2)),
       Solid({60, 60, 70}));
}

}  // namespace

Canvas HelpPage1(Typeface& tf) {
  Canvas c(kPageW, kPageH);
  PageBackground(c);
  Header(c, tf, "HOW TO PLAY", "Page 1 of 2");

  int y = Card(c, tf, {40, 130, 624, 432}, {120, 200, 255}, {40, 140, 230}, "The Goal");
  const int gx = 62, gw = 548;
  y = Bullet(c, tf, "Fruit flies buzz about high above the floor.", gx, y, gw);
  y = Bullet(c, tf, "Sweep your banana over a fly to splat it.", gx, y, gw);
  y = Bullet(c, tf, "Splat every fly before the time runs out to clear the level.", gx, y, gw);
  Bullet(c, tf, "If the time runs out first, the game is over.", gx, y, gw);
  // A fly on its way to becoming a splat.
  DrawFly(c, Place{{488, 372}, 1.0, -0.5}, 1);
  Trail(c, {530, 396}, {566, 400}, 2, 6, {120, 150, 40});
  DrawSplat(c, {586, 402}, 12, 21);

  y = Card(c, tf, {648, 130, 984, 432}, {160, 230, 90}, {90, 170, 40}, "Scoring");
  const int sx = 668, sw = 300;
  y = DrawParagraph(c, tf, "Every fly you splat scores as many points as the level number.", sx,
                    y, sw, 26, Body()) + 10;
  y = DrawParagraph(c, tf, "Your points add up from level to level.", sx, y, sw, 26, Body()) + 10;
  DrawParagraph(c, tf, "The ten best scores go into the high-score table.", sx, y, sw, 26,
                Body());

  y = Card(c, tf, {40, 452, 984, 684}, {255, 170, 90}, {236, 110, 40}, "Levels");
  TextStyle note = Body();
  note.size = 19;
  y = DrawParagraph(c, tf,
                    "Level 1 gives you 55 seconds, each level after it 5 fewer, down to 20 "
                    "seconds from level 8 on. Each level has five more flies, up to 80.",
                    62, y - 10, 900, 24, note);
  // The level table: a row of headings and three rows of numbers.
  const char* const cols[] = {"1", "2", "3", "4", "5", "6", "7", "8 to 15", "16 on"};
  const char* const flies[] = {"5", "10", "15", "20", "25", "30", "35", "5 x level", "80"};
  const char* const secs[] = {"55", "50", "45", "40", "35", "30", "25", "20", "20"};
  const char* const points[] = {"1", "2", "3", "4", "5", "6", "7", "level", "level"};
  const char* const rows[] = {"Level", "Flies", "Seconds", "Points per fly"};
  const char* const* cells[] = {cols, flies, secs, points};
  int colX[9];
  for (int i = 0; i < 9; ++i) colX[i] = 290 + i * 62 + (i >= 7 ? 40 + (i - 7) * 70 : 0);
  int top = y + 2;
  Fill(c, RoundBox({512, top - 6.0}, 450, 13, 7), Solid({255, 222, 150}));
  for (int r = 0; r < 4; ++r) {
    int base = top + r * 25;
    TextStyle s = Body();
    s.size = 18;
    if (r == 0) s.fill = Solid({150, 60, 10});
    DrawText(c, tf, rows[r], 80, base, s);
    for (int i = 0; i < 9; ++i) DrawText(c, tf, cells[r][i], colX[i], base, s, 0);
  }
  return c;
}

Canvas HelpPage2(Typeface& tf) {
  Canvas c(kPageW, kPageH);
  PageBackground(c);
  Header(c, tf, "CONTROLS", "Page 2 of 2");
  TextStyle body = Body();
  TextStyle note = Body();
  note.size = 19;

  // Player 1 on the keyboard.
  int y = Card(c, tf, {40, 130, 500, 360}, {120, 200, 255}, {40, 140, 230}, "Player 1: keys");
  int x = 62;
  x += Key(c, tf, "Left", x, y) + 8;
  x += Key(c, tf, "Right", x, y) + 14;
  DrawText(c, tf, "or", x, y, body);
  x += 34;
  x += Key(c, tf, "A", x, y) + 8;
  Key(c, tf, "D", x, y);
  DrawText(c, tf, "roll left and right (spin in the air)", 62, y + 32, body);
  y += 72;
  x = 62;
  x += Key(c, tf, "Space", x, y) + 8;
  x += Key(c, tf, "Down", x, y) + 14;
  DrawText(c, tf, "or", x, y, body);
  x += 34;
  Key(c, tf, "S", x, y);
  DrawParagraph(c, tf, "squash your banana while it lies upside down; let go to jump!", 62, y + 32,
                420, 26, body);

  // Player 2 on the mouse.
  y = Card(c, tf, {524, 130, 984, 360}, {160, 230, 90}, {90, 170, 40}, "Player 2: mouse");
  MouseIcon(c, {574, y + 6.0}, true, false);
  MouseIcon(c, {634, y + 6.0}, false, true);
  DrawParagraph(c, tf, "Left and right buttons roll left and right.", 684, y - 4, 280, 26, body);
  MouseIcon(c, {574, y + 80.0}, true, true);
  DrawParagraph(c, tf, "Both buttons together squash; let go to jump!", 622, y + 72, 340, 26,
                body);
  DrawText(c, tf, "Player 2 joins in a Two Player game.", 546, y + 136, note);

  // The keys of the whole game, the pads and a game over the network, side by side.
  TextStyle small = Body();
  small.size = 17;
  y = Card(c, tf, {40, 372, 300, 548}, {255, 214, 90}, {230, 160, 30}, "More keys") - 8;
  for (const auto& row : {std::pair<const char*, const char*>{"P", "pause, and go on"},
                          {"M", "sound off and on"},
                          {"Esc", "hold to quit"}}) {
    Key(c, tf, row.first, 62, y);
    DrawText(c, tf, row.second, 134, y, small);  // a column right of the widest key
    y += 40;
  }
  y = Card(c, tf, {316, 372, 648, 548}, {200, 160, 255}, {130, 90, 220}, "Gamepads") - 12;
  DrawParagraph(c, tf,
                "Pad 1 plays for player 1, pad 2 for player 2. The stick rolls; the first "
                "face button squashes, let go to jump; Start pauses.",
                338, y, 290, 21, small);
  y = Card(c, tf, {664, 372, 984, 548}, {110, 220, 210}, {30, 150, 140}, "Over a network") - 12;
  TextStyle command = small;
  command.fill = Solid({150, 60, 10});
  DrawText(c, tf, "nanasplat --host [PORT]", 686, y, command);
  DrawText(c, tf, "waits for a friend to join", 686, y + 21, small);
  DrawText(c, tf, "(UDP port 7478 by default)", 686, y + 42, small);
  DrawText(c, tf, "nanasplat --join HOST[:PORT]", 686, y + 70, command);
  DrawText(c, tf, "joins the friend who waits", 686, y + 91, small);

  // CRAZY mode.
  y = Card(c, tf, {40, 560, 984, 684}, {255, 120, 120}, {214, 40, 50}, "Going CRAZY");
  // A burst of extra bananas tumbling along the card's title strip.
  const double burst[][2] = {{640, 0.6}, {720, -0.9}, {800, 2.4}, {880, 0.2}, {950, -2.8}};
  for (const auto& b : burst) {
    double scale = 0.34;
    V2 down = Rotate({0, kCentreBelowPivot * scale}, b[1]);
    DrawBanana(c, Place{{b[0] - down.x, 582 - down.y}, scale, b[1]}, 2, 3);
  }
  DrawParagraph(c, tf,
                "Splat more than three flies before your banana lands again and you go "
                "CRAZY: for ten seconds extra bananas follow your controls and splat flies "
                "for you. It can start again three seconds after it ends, never in the first "
                "three seconds of a level.",
                62, y - 16, 900, 20, small);
  return c;
}
