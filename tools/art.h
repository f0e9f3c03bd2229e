// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The game's artwork, drawn from code.
#include <string>
#include <vector>

#include "paint.h"
#include "text.h"

// Banana body, in the banana's own frame: origin at the pivot (the centre of the back
// arc), y downwards, the crescent hanging below the pivot. Pixels.
constexpr double kBackRadius = 95;        // the back is this arc about the pivot
constexpr double kInnerRadius = 178;      // the inner edge: arc about a point above the pivot
constexpr double kInnerCentreAbove = 129;
constexpr double kCentreBelowPivot = 68;  // centre of the sprite box
constexpr int kBananaW = 174;             // sprite box; its top corners are the tips
constexpr int kBananaH = 60;
constexpr int kFlyW = 42;                 // fly sprite; the game takes (21, 19) as its centre
constexpr int kFlyH = 38;

// Signed distance (pixels of the banana's frame) to the body: crescent clipped to the box.
double BananaDistance(V2 local);

// A placement of artwork drawn in its own frame onto a canvas: screen = origin +
// Rotate(local * scale, angle).
struct Place {
  V2 origin;
  double scale = 1;
  double angle = 0;  // radians, clockwise
  V2 ToLocal(double x, double y) const;
  Sdf Map(Sdf local) const;  // a shape of the local frame in canvas pixels
};

// The banana sprite: exactly the crescent's pixels opaque, everything else empty.
Canvas BananaSprite();
// A banana drawn smoothly at any size and angle (pivot at place.origin), with an outline
// of about `outline` canvas pixels and a soft shadow `shadowDrop` pixels below it.
void DrawBanana(Canvas& c, const Place& place, double outline, double shadowDrop);

// The fruit fly in its sprite frame (kFlyW x kFlyH); pose 0 with its wings swept back,
// pose 1 with its wings spread mid-beat.
void DrawFly(Canvas& c, const Place& place, int pose);
Canvas FlySprite(int pose);

// A green-yellow splat blob of radius about r at centre, scattered from seed.
void DrawSplat(Canvas& c, V2 centre, double r, uint32_t seed, float opacity = 1.0f);

// Text helpers for the pages.
struct TextStyle {
  int size = 24;
  Paint fill = Solid({40, 30, 20});
  double outline = 0;  // pixels of outline around the glyphs (0 = none)
  Rgb outlineColour{60, 30, 0};
  double shadow = 0;  // drop of a soft shadow, pixels (0 = none)
};
// Draws one line; align -1 left, 0 centred, +1 right on x. Returns its width.
int DrawText(Canvas& c, Typeface& tf, const std::string& text, int x, int baseline,
             const TextStyle& style, int align = -1);
// Wraps `text` at spaces into lines of at most maxWidth and draws them; returns the
// baseline after the last line.
int DrawParagraph(Canvas& c, Typeface& tf, const std::string& text, int x, int baseline,
                  int maxWidth, int lineStep, const TextStyle& style);

// What a page shows where: every line of text with the box its glyphs cover, and every
// card (canvas pixels). Recorded while `pageLayout` points at one (for the tests).
struct PageLayout {
  struct Line {
    std::string text;
    PixelBox box;
  };
  std::vector<Line> lines;
  std::vector<PixelBox> cards;
};
extern PageLayout* pageLayout;

Canvas TitlePicture(Typeface& tf);
Canvas HelpPage1(Typeface& tf);
Canvas HelpPage2(Typeface& tf);
