// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The store of pictures loaded by file name.
#include <allegro.h>

#include <string>
#include <vector>

// One stored picture. Handed out by pointer; owned by the manager.
struct Image {
  BITMAP* bitmap;
  std::string name;
};

// The entry's picture; null without an entry.
inline BITMAP* PictureOf(const Image* image) { return image != nullptr ? image->bitmap : nullptr; }

class ImageManager {
 public:
  // Entries in the order they were created. Every stored entry holds a bitmap:
  // freeing a picture removes its entry, so it is never handed out or destroyed again.
  std::vector<Image*> images;

  ImageManager() = default;
  // Loads each name in turn; a name that fails is logged once more and skipped.
  explicit ImageManager(std::vector<std::string> names);
  ~ImageManager();
  ImageManager(const ImageManager&) = delete;
  ImageManager& operator=(const ImageManager&) = delete;

  // Loads `name` as a new entry (even if one of that name exists); null on failure.
  Image* AddImage(std::string name);
  // The first entry of that name, loading it if there is none yet; null on failure.
  Image* GetImage(std::string name);
  // Destroys the picture of the first entry of that name and drops the entry.
  void FreeImage(std::string name);
  // Destroys every picture and drops every entry.
  void FreeAll();
};
