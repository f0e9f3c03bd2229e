// SPDX-License-Identifier: GPL-3.0-or-later
#include "image.h"

#include <algorithm>

#include "debug.h"

namespace {
std::vector<Image*>::iterator FindByName(std::vector<Image*>& images, const std::string& name) {
  return std::find_if(images.begin(), images.end(),
                      [&](const Image* entry) { return entry->name == name; });
}
}  // namespace

ImageManager::ImageManager(std::vector<std::string> names) {
  for (const std::string& name : names) {
    if (AddImage(name) == nullptr) LOG("Failed to load image \"", name, "\"");
  }
}

ImageManager::~ImageManager() { FreeAll(); }

Image* ImageManager::AddImage(std::string name) {
  BITMAP* bitmap = load_bitmap(name.c_str(), nullptr);
  if (bitmap == nullptr) {
    LOG("Failed to load image \"", name, "\"");
    return nullptr;
  }
  Image* entry = new Image{bitmap, name};
  images.push_back(entry);
  return entry;
}

Image* ImageManager::GetImage(std::string name) {
  auto found = FindByName(images, name);
  return found != images.end() ? *found : AddImage(name);
}

void ImageManager::FreeImage(std::string name) {
  auto found = FindByName(images, name);
  if (found == images.end()) {
    LOG("Asked to free image \"", name, "\" but it could not be found");
    return;
  }
  destroy_bitmap((*found)->bitmap);
  delete *found;
  images.erase(found);
}

void ImageManager::FreeAll() {
  for (Image* entry : images) {
    destroy_bitmap(entry->bitmap);
    delete entry;
  }
  images.clear();
}
