// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The byte writer and checked reader every network decoder uses: bytes, unsigned LEB128
// numbers in their shortest form, and fixed-width big-endian fields. A read past the end,
// or a number longer than its type allows, marks the whole datagram bad.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace net {

class Writer {
 public:
  void Byte(uint8_t b) { bytes_.push_back(b); }
  void Number(uint64_t n) {
    while (n >= 0x80) {
      bytes_.push_back(static_cast<uint8_t>(n | 0x80));
      n >>= 7;
    }
    bytes_.push_back(static_cast<uint8_t>(n));
  }
  void Fixed(uint64_t n, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) bytes_.push_back(static_cast<uint8_t>(n >> (8 * i)));
  }
  // A short text: its length (one byte), then its characters, cut to `most`.
  void Text(const std::string& text, size_t most) {
    const size_t n = std::min(text.size(), most);
    Byte(static_cast<uint8_t>(n));
    for (size_t i = 0; i < n; ++i) Byte(static_cast<uint8_t>(text[i]));
  }
  size_t Size() const { return bytes_.size(); }
  std::vector<uint8_t> Take() { return std::move(bytes_); }

 private:
  std::vector<uint8_t> bytes_;
};

class Reader {
 public:
  Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint8_t Byte() {
    if (pos_ >= size_) {
      ok_ = false;
      return 0;
    }
    return data_[pos_++];
  }
  // An unsigned LEB128 number of at most `bits` bits, in its shortest form (so that no
  // two byte strings decode to one message).
  uint64_t Number(int bits) {
    uint64_t n = 0;
    for (int shift = 0; shift < bits; shift += 7) {
      const uint8_t b = Byte();
      if (!ok_) return 0;
      const uint8_t payload = b & 0x7f;
      if (shift + 7 > bits && (payload >> (bits - shift)) != 0) break;  // too big
      n |= static_cast<uint64_t>(payload) << shift;
      if ((b & 0x80) == 0) {
        if (b == 0 && shift > 0) break;  // a needless trailing zero
        return n;
      }
    }
    ok_ = false;
    return 0;
  }
  // A big-endian field of `bytes` bytes.
  uint64_t Fixed(int bytes) {
    uint64_t n = 0;
    for (int i = 0; i < bytes; ++i) n = n << 8 | Byte();
    return ok_ ? n : 0;
  }
  // A text as Writer::Text puts it: at most `most` characters, printable ASCII only
  // (it is shown); false otherwise.
  bool Text(std::string& text, size_t most) {
    const uint8_t n = Byte();
    if (n > most) return false;
    text.clear();
    for (uint8_t i = 0; i < n; ++i) {
      const uint8_t c = Byte();
      if (c < 0x20 || c > 0x7e) return false;
      text.push_back(static_cast<char>(c));
    }
    return ok_;
  }
  size_t Left() const { return size_ - pos_; }
  bool AtEnd() const { return pos_ == size_; }
  bool Ok() const { return ok_; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
  bool ok_ = true;
};

}  // namespace net
