// SPDX-License-Identifier: GPL-3.0-or-later
// The help pages as the media generator lays them out: every control is named on the
// controls page, and every line of text sits on a card of its page, clear of every
// other line and of the band at the bottom where the page's buttons go.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "art.h"

namespace {

constexpr int kPageW = 1024;      // pixels
constexpr int kButtonBand = 684;  // the buttons' band starts here (pixels from the top)
constexpr int kHeaderBottom = 130;

PageLayout LayoutOf(Canvas (*page)(Typeface&)) {
  Typeface tf;
  EXPECT_TRUE(tf.Open(NANASPLAT_FACE));
  PageLayout layout;
  pageLayout = &layout;
  page(tf);
  pageLayout = nullptr;
  return layout;
}

bool Inside(const PixelBox& in, const PixelBox& out) {
  return in.x0 >= out.x0 && in.y0 >= out.y0 && in.x1 <= out.x1 && in.y1 <= out.y1;
}

bool Overlap(const PixelBox& a, const PixelBox& b) {
  return a.x0 < b.x1 && b.x0 < a.x1 && a.y0 < b.y1 && b.y0 < a.y1;
}

std::string AllText(const PageLayout& layout) {
  std::string all;
  for (const PageLayout::Line& line : layout.lines) all += line.text + " ";
  return all;
}

bool HasLine(const PageLayout& layout, const std::string& text) {
  for (const PageLayout::Line& line : layout.lines) {
    if (line.text == text) return true;
  }
  return false;
}

void ExpectTidy(const PageLayout& layout, const char* page) {
  ASSERT_FALSE(layout.lines.empty());
  for (size_t i = 0; i < layout.cards.size(); ++i) {
    for (size_t j = i + 1; j < layout.cards.size(); ++j) {
      EXPECT_FALSE(Overlap(layout.cards[i], layout.cards[j])) << page << ": cards " << i << " and " << j;
    }
  }
  for (size_t i = 0; i < layout.lines.size(); ++i) {
    const PageLayout::Line& line = layout.lines[i];
    const PixelBox& box = line.box;
    EXPECT_TRUE(box.x0 >= 0 && box.x1 <= kPageW && box.y0 >= 0 && box.y1 <= kButtonBand)
        << page << ": \"" << line.text << "\" runs off the page or into the buttons' band";
    if (box.y0 >= kHeaderBottom) {
      bool onCard = false;
      for (const PixelBox& card : layout.cards) onCard = onCard || Inside(box, card);
      EXPECT_TRUE(onCard) << page << ": \"" << line.text << "\" is not on a card";
    }
    for (size_t j = i + 1; j < layout.lines.size(); ++j) {
      EXPECT_FALSE(Overlap(box, layout.lines[j].box))
          << page << ": \"" << line.text << "\" overlaps \"" << layout.lines[j].text << "\"";
    }
  }
}

TEST(HelpPages, TheControlsPageNamesEveryControl) {
  const PageLayout layout = LayoutOf(HelpPage2);
  for (const char* text : {"Left", "Right", "A", "D", "Space", "Down", "S", "P", "pause, and go on", "M",
                           "sound off and on", "Esc", "hold to quit", "Gamepads", "Over a network",
                           "nanasplat --host [PORT]", "(UDP port 7478 by default)",
                           "nanasplat --join HOST[:PORT]"}) {
    EXPECT_TRUE(HasLine(layout, text)) << "no line \"" << text << "\"";
  }
  const std::string all = AllText(layout);
  for (const char* phrase : {"Pad 1 plays for player 1, pad 2 for player 2.", "The stick rolls;",
                             "first face button squashes, let go to jump;", "Start pauses.",
                             "waits for a friend", "joins the friend who waits"}) {
    EXPECT_NE(all.find(phrase), std::string::npos) << "\"" << phrase << "\" is not on the page";
  }
}

TEST(HelpPages, EveryLineSitsOnACardClearOfTheOthers) {
  ExpectTidy(LayoutOf(HelpPage1), "help1");
  ExpectTidy(LayoutOf(HelpPage2), "help2");
}

}  // namespace
