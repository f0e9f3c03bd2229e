// SPDX-License-Identifier: GPL-3.0-or-later
// libFuzzer target for the reader of the settings file: any bytes read into settings
// without a crash, a hang or undefined behaviour; the case of the letters and a byte
// order mark in front change nothing; what is written reads back the same.
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "debug.h"
#include "settings.h"

namespace {
void Check(bool holds) {
  if (!holds) std::abort();
}

Settings Parse(const std::string& text) {
  std::istringstream in(text);
  return ParseSettings(in, "fuzz");
}

bool Same(const Settings& a, const Settings& b) {
  for (const SettingEntry& entry : kSettingsTable) {
    if (a.*entry.value != b.*entry.value) return false;
  }
  return true;
}
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Lines that are ignored are logged on every run: not into a file that grows for hours.
  ReopenLog("/dev/null");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const Settings settings = Parse(text);

  std::string upper = text;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  Check(Same(Parse(upper), settings));
  if (text.compare(0, 3, "\xEF\xBB\xBF") != 0) Check(Same(Parse("\xEF\xBB\xBF" + text), settings));

  Check(Same(Parse(SerialiseSettings(settings)), settings));
  return 0;
}
