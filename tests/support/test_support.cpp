// SPDX-License-Identifier: GPL-3.0-or-later
#include "test_support.h"

#include <allegro.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "debug.h"
#include "init.h"
#include "taps.h"

namespace {
std::string& Scratch() {
  static std::string dir;
  return dir;
}

void RemoveScratch() {
  std::error_code ignored;
  if (!Scratch().empty()) std::filesystem::remove_all(Scratch(), ignored);
}
}  // namespace

void PrepareTestProcess() {
  std::string pattern = (std::filesystem::temp_directory_path() / "nanasplat-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) std::abort();
  Scratch() = pattern;
  if (chdir(pattern.c_str()) != 0) std::abort();
  std::atexit(RemoveScratch);
  ResetLog();
}

const std::string& ScratchDir() { return Scratch(); }

void ResetLog() { ReopenLog(Scratch() + "/debug.txt"); }

std::vector<std::string> LogLines() {
  std::vector<std::string> lines;
  std::istringstream in(ReadFile(Scratch() + "/debug.txt"));
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::vector<std::string> LogMessages() {
  std::vector<std::string> messages;
  for (const std::string& line : LogLines()) {
    auto end = line.find(") ");
    messages.push_back(end == std::string::npos ? line : line.substr(end + 2));
  }
  return messages;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream contents;
  contents << in.rdbuf();
  return contents.str();
}

void WriteFile(const std::string& path, const std::string& contents) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << contents;
}

bool SamePixels(BITMAP* a, BITMAP* b) {
  if (a->w != b->w || a->h != b->h) return false;
  for (int y = 0; y < a->h; ++y) {
    for (int x = 0; x < a->w; ++x) {
      if (getpixel(a, x, y) != getpixel(b, x, y)) return false;
    }
  }
  return true;
}

int CountNonWhite(BITMAP* bmp) {
  const int white = makecol(255, 255, 255);
  int count = 0;
  for (int y = 0; y < bmp->h; ++y)
    for (int x = 0; x < bmp->w; ++x) count += getpixel(bmp, x, y) != white;
  return count;
}

void StartLogicTimer() {
  static bool started = false;
  if (started) return;
  started = true;
  install_int_ex(logic_timer, BPS_TO_TIMER(kTicksPerSecond));
}

void PressKey(int k) {
  key[k] = 1;
  NoteKeyEvent(k);
}

void ReleaseKey(int k) {
  key[k] = 0;
  NoteKeyEvent(k | 0x80);
}
