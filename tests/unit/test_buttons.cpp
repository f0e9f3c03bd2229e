// SPDX-License-Identifier: GPL-3.0-or-later
// Buttons drawn on memory bitmaps with the built-in font: sizing, hit testing,
// outline colours, overlap and the label's place.
#include <allegro.h>
#include <gtest/gtest.h>

#include <string>

#include "input.h"
#include "util.h"

namespace {

struct Canvas {
  BITMAP* bmp;
  Canvas(int w, int h) : bmp(create_bitmap(w, h)) { clear_to_color(bmp, makecol(0, 0, 0)); }
  ~Canvas() { destroy_bitmap(bmp); }
  int At(int x, int y) const { return getpixel(bmp, x, y); }
};

int Red() { return makecol(255, 0, 0); }
int Green() { return makecol(0, 255, 0); }
int White() { return makecol(255, 255, 255); }
int Blue() { return makecol(0, 0, 255); }

Button MakeButton(int x1, int y1, int x2, int y2, const std::string& name) {
  Button b;
  b.x1 = x1;
  b.y1 = y1;
  b.x2 = x2;
  b.y2 = y2;
  b.name = name;
  return b;
}

}  // namespace

TEST(Buttons, AreSizedToTheirLabelInTheCurrentFont) {
  Buttons set;
  set.AddButton(Vec2<int>{100, 200}, "Single Player");
  set.AddButton(Vec2<int>{5, 7}, "");
  ASSERT_EQ(set.buttons.size(), 2u);

  const Button& b = set.buttons[0];
  EXPECT_EQ(b.x1, 100);
  EXPECT_EQ(b.y1, 200);
  EXPECT_EQ(b.x2 - b.x1, text_length(Font(), "Single Player") + 10);
  EXPECT_EQ(b.y2 - b.y1, text_height(Font()));
  EXPECT_EQ(b.name, "Single Player");

  // An empty label still makes a button ten pixels wide.
  EXPECT_EQ(set.buttons[1].x2 - set.buttons[1].x1, 10);
}

TEST(Buttons, OnlyPointsStrictlyWithinTheOutlineAreInside) {
  Button b = MakeButton(10, 20, 50, 40, "Help");
  EXPECT_TRUE(b.Inside(11, 21));
  EXPECT_TRUE(b.Inside(49, 39));
  EXPECT_TRUE(b.Inside(30, 30));
  // Each edge of the outline, and just beyond it.
  for (int y : {19, 20, 40, 41}) EXPECT_FALSE(b.Inside(30, y)) << "y " << y;
  for (int x : {9, 10, 50, 51}) EXPECT_FALSE(b.Inside(x, 30)) << "x " << x;
  EXPECT_EQ(b.GetName(), "Help");
}

TEST(Buttons, OutlineIsGreenOnlyWhileTheMouseIsStrictlyInside) {
  Canvas canvas(100, 80);
  Button b = MakeButton(10, 20, 60, 40, "Go");

  b.Draw(canvas.bmp, 30, 30);
  EXPECT_EQ(canvas.At(10, 20), Green());
  EXPECT_EQ(canvas.At(60, 40), Green());
  EXPECT_EQ(canvas.At(35, 20), Green());
  EXPECT_EQ(canvas.At(12, 38), White()) << "the face is white";
  EXPECT_EQ(canvas.At(9, 30), makecol(0, 0, 0)) << "nothing is drawn outside the outline";

  // The mouse on any side of the outline counts as outside.
  const int onOutline[][2] = {{10, 30}, {60, 30}, {30, 20}, {30, 40}};
  for (const auto& m : onOutline) {
    b.Draw(canvas.bmp, m[0], m[1]);
    EXPECT_EQ(canvas.At(10, 20), Red()) << "mouse at " << m[0] << "," << m[1];
    EXPECT_EQ(canvas.At(60, 40), Red()) << "mouse at " << m[0] << "," << m[1];
  }
}

TEST(Buttons, LabelIsCentredInBlue) {
  const std::string label = "Next";
  // Reference glyphs at a known place, to compare pixel by pixel.
  const int len = text_length(Font(), label.c_str());
  const int th = text_height(Font());
  Canvas reference(len, th);
  textout_ex(reference.bmp, Font(), label.c_str(), 0, 0, Blue(), -1);

  // A button taller and wider than its label: the label sits in the middle.
  Canvas canvas(200, 100);
  Button b = MakeButton(20, 30, 121, 61, label);
  b.Draw(canvas.bmp, 0, 0);
  const int left = (20 + 121) / 2 - len / 2;
  const int top = (30 + 61 - th) / 2;
  int glyphPixels = 0;
  for (int y = 0; y < th; ++y) {
    for (int x = 0; x < len; ++x) {
      const bool ink = reference.At(x, y) == Blue();
      glyphPixels += ink;
      EXPECT_EQ(canvas.At(left + x, top + y) == Blue(), ink) << "at " << x << "," << y;
    }
  }
  EXPECT_GT(glyphPixels, 0);

  // A button made from a position: the label starts five pixels in, its top on y1.
  Buttons set;
  set.AddButton(Vec2<int>{40, 70}, label);
  Canvas fitted(200, 100);
  set.DrawButtons(fitted.bmp, 0, 0);
  for (int y = 0; y < th; ++y) {
    for (int x = 0; x < len; ++x) {
      if (reference.At(x, y) == Blue()) {
        EXPECT_EQ(fitted.At(45 + x, 70 + y), Blue()) << "at " << x << "," << y;
      }
    }
  }
}

TEST(Buttons, FirstAddedWinsTheClickWhileLastAddedIsDrawnOnTop) {
  Buttons set;
  EXPECT_EQ(set.GetButtonUnder(10, 10), "") << "no buttons at all";

  set.AddButton(MakeButton(10, 10, 60, 40, "Under"));
  set.AddButton(MakeButton(30, 20, 80, 50, "Over"));
  EXPECT_EQ(set.GetButtonUnder(45, 30), "Under");
  EXPECT_EQ(set.GetButtonUnder(70, 45), "Over");
  EXPECT_EQ(set.GetButtonUnder(60, 30), "Over") << "on the first one's outline";
  EXPECT_EQ(set.GetButtonUnder(5, 5), "");

  Canvas canvas(100, 80);
  set.DrawButtons(canvas.bmp, 200, 200);
  // The second button's face covers the first's right edge, and its own left edge
  // runs across the first one's face.
  EXPECT_EQ(canvas.At(60, 45), White());
  EXPECT_EQ(canvas.At(30, 35), Red());
  EXPECT_EQ(canvas.At(15, 38), White());

  // Hovering over the overlap lights both outlines.
  set.DrawButtons(canvas.bmp, 45, 30);
  EXPECT_EQ(canvas.At(10, 10), Green());
  EXPECT_EQ(canvas.At(80, 50), Green());
}

TEST(Buttons, SameLabelTwiceAnswersTheSameForEither) {
  Buttons set;
  set.AddButton(Vec2<int>{0, 0}, "Back");
  set.AddButton(Vec2<int>{0, 100}, "Back");
  EXPECT_EQ(set.GetButtonUnder(5, 3), "Back");
  EXPECT_EQ(set.GetButtonUnder(5, 103), "Back");
  EXPECT_EQ(set.GetButtonUnder(5, 50), "");
}
