// SPDX-License-Identifier: GPL-3.0-or-later
// The image manager: pictures loaded once by exact name, released together.
#include <allegro.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "image.h"
#include "test_support.h"

namespace {

// Writes a w x h picture of one colour into the scratch directory.
void MakePicture(const std::string& name, int w, int h) {
  BITMAP* picture = create_bitmap(w, h);
  clear_to_color(picture, makecol(10, 200, 30));
  ASSERT_EQ(save_bitmap(name.c_str(), picture, nullptr), 0);
  destroy_bitmap(picture);
}

int CountLines(const std::string& message) {
  int count = 0;
  for (const std::string& line : LogMessages()) count += line == message;
  return count;
}

class ImageManagerTest : public testing::Test {
 protected:
  void SetUp() override {
    MakePicture("banana_sm1.bmp", 174, 60);
    MakePicture("fly1.bmp", 42, 38);
    MakePicture("a.bmp", 3, 4);
    MakePicture("b.bmp", 5, 6);
    ResetLog();
  }
};

TEST_F(ImageManagerTest, AskingTwiceForANameLoadsItOnceAndGivesTheSameEntry) {
  ImageManager manager;
  Image* first = manager.GetImage("banana_sm1.bmp");
  Image* second = manager.GetImage("banana_sm1.bmp");
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first, second);
  EXPECT_EQ(manager.images.size(), 1u);
  EXPECT_EQ(first->name, "banana_sm1.bmp");
  EXPECT_EQ(first->bitmap->w, 174);
  EXPECT_EQ(first->bitmap->h, 60);
  EXPECT_TRUE(LogLines().empty());
}

TEST_F(ImageManagerTest, MissingFileGivesNullAndOneLogLineEveryTimeItIsAskedFor) {
  ImageManager manager;
  EXPECT_EQ(manager.GetImage("missing.bmp"), nullptr);
  EXPECT_EQ(manager.GetImage("missing.bmp"), nullptr);
  EXPECT_TRUE(manager.images.empty());
  auto lines = LogLines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(LogMessages()[0], "Failed to load image \"missing.bmp\"");
  EXPECT_EQ(lines[0].rfind("(src/image.cpp:", 0), 0u) << lines[0];
}

TEST_F(ImageManagerTest, NamesAreComparedExactly) {
  MakePicture("Fly1.bmp", 42, 38);
  ImageManager manager;
  Image* lower = manager.GetImage("fly1.bmp");
  Image* upper = manager.GetImage("Fly1.bmp");
  Image* dotted = manager.GetImage("./fly1.bmp");
  ASSERT_NE(lower, nullptr);
  EXPECT_NE(lower, upper);
  EXPECT_NE(lower, dotted);
  EXPECT_EQ(manager.images.size(), 3u);
}

TEST_F(ImageManagerTest, AddImageStoresASecondEntryForAKnownName) {
  ImageManager manager;
  Image* viaGet = manager.GetImage("a.bmp");
  Image* added = manager.AddImage("a.bmp");
  ASSERT_NE(added, nullptr);
  EXPECT_NE(viaGet, added);
  EXPECT_NE(viaGet->bitmap, added->bitmap);
  EXPECT_EQ(manager.GetImage("a.bmp"), viaGet);  // the first entry of that name
}

TEST_F(ImageManagerTest, ListConstructorKeepsOrderAndLogsAFailureTwice) {
  ImageManager manager(std::vector<std::string>{"a.bmp", "missing.bmp", "b.bmp"});
  ASSERT_EQ(manager.images.size(), 2u);
  EXPECT_EQ(manager.images[0]->name, "a.bmp");
  EXPECT_EQ(manager.images[1]->name, "b.bmp");
  EXPECT_EQ(CountLines("Failed to load image \"missing.bmp\""), 2);
  EXPECT_EQ(LogLines().size(), 2u);
}

TEST_F(ImageManagerTest, FreeingAnUnknownNameLogsOnceAndTouchesNothing) {
  ImageManager manager;
  Image* a = manager.GetImage("a.bmp");
  manager.FreeImage("never-loaded.bmp");
  EXPECT_EQ(LogMessages(),
            std::vector<std::string>{"Asked to free image \"never-loaded.bmp\" but it could not be found"});
  ASSERT_EQ(manager.images.size(), 1u);
  EXPECT_EQ(manager.images[0], a);
  EXPECT_EQ(a->bitmap->w, 3);
}

TEST_F(ImageManagerTest, FreedPictureIsNeverHandedOutOrFreedAgain) {
  ImageManager manager;
  manager.GetImage("a.bmp");
  Image* b = manager.GetImage("b.bmp");
  manager.FreeImage("a.bmp");
  ASSERT_EQ(manager.images.size(), 1u);
  EXPECT_EQ(manager.images[0], b);

  // A second free finds nothing; a new request loads the file afresh.
  manager.FreeImage("a.bmp");
  EXPECT_EQ(LogMessages().back(), "Asked to free image \"a.bmp\" but it could not be found");
  Image* reloaded = manager.GetImage("a.bmp");
  ASSERT_NE(reloaded, nullptr);
  EXPECT_EQ(reloaded->bitmap->w, 3);
  EXPECT_EQ(manager.images.size(), 2u);
}

TEST_F(ImageManagerTest, FreeAllEmptiesTheStoreAndTheDestructorHasNothingLeftToFree) {
  auto* manager = new ImageManager(std::vector<std::string>{"a.bmp", "b.bmp"});
  manager->FreeAll();
  EXPECT_TRUE(manager->images.empty());
  manager->FreeAll();
  EXPECT_EQ(manager->GetImage("b.bmp")->bitmap->w, 5);
  delete manager;
  EXPECT_TRUE(LogLines().empty());
}

TEST_F(ImageManagerTest, DestroyingAnEmptyManagerWritesNothing) {
  { ImageManager manager; }
  EXPECT_TRUE(LogLines().empty());
}

}  // namespace
