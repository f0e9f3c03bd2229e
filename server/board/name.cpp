// SPDX-License-Identifier: GPL-3.0-or-later
#include "name.h"

#include <cstdint>

namespace {

// The code point of the UTF-8 sequence at text[at] and its length; 0 length when it is
// not a valid, shortest sequence of a character.
struct Decoded {
  uint32_t code = 0;
  size_t length = 0;
};

Decoded DecodeUtf8(const std::string& text, size_t at) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  size_t length = 0;
  uint32_t code = 0;
  uint32_t least = 0;
  if (lead < 0x80) return {lead, 1};
  if ((lead & 0xe0) == 0xc0) length = 2, code = lead & 0x1f, least = 0x80;
  else if ((lead & 0xf0) == 0xe0) length = 3, code = lead & 0x0f, least = 0x800;
  else if ((lead & 0xf8) == 0xf0) length = 4, code = lead & 0x07, least = 0x10000;
  else return {};
  if (text.size() - at < length) return {};
  for (size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xc0) != 0x80) return {};
    code = code << 6 | (byte(at + i) & 0x3f);
  }
  if (code < least || code > 0x10ffff || (code >= 0xd800 && code <= 0xdfff)) return {};
  return {code, length};
}

bool IsControl(uint32_t code) { return code < 0x20 || (code >= 0x7f && code < 0xa0) || code == 0x2028 || code == 0x2029; }

}  // namespace

std::string NameProblem(const std::string& name) {
  if (name.empty()) return "a name is needed";
  if (name.size() > kMaxNameBytes) return "the name is too long";
  size_t characters = 0;
  bool visible = false;
  for (size_t at = 0; at < name.size();) {
    const Decoded d = DecodeUtf8(name, at);
    if (d.length == 0) return "the name is not valid UTF-8";
    if (IsControl(d.code)) return "the name holds a control character";
    visible = visible || d.code != ' ';
    at += d.length;
    ++characters;
  }
  if (characters > kMaxNameCharacters) return "the name is too long";
  if (!visible) return "a name is needed";
  return "";
}

std::string EscapeHtml(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out += c;
    }
  }
  return out;
}
