// SPDX-License-Identifier: GPL-3.0-or-later
#include "fontcheck.h"

#include <allegro/internal/aintern.h>

#include <cstring>
#include <vector>

namespace {

// A glyph wider or taller than this is no glyph of a usable font (pixels).
constexpr int kMaxGlyphSide = 1024;
// A font object larger than this is no font of ours (bytes).
constexpr long kMaxFontObject = 16L << 20;
// What the library's reader is given for an object of no sane size: zeros, which it
// reads as a font without glyphs (bytes).
constexpr size_t kZerosForBadSize = 64;

bool SoundSize(int w, int h) { return w >= 0 && h >= 0 && w <= kMaxGlyphSide && h <= kMaxGlyphSide; }

// Checks every glyph of one kind of font (FONT_MONO_DATA with FONT_GLYPHs, or
// FONT_COLOR_DATA with BITMAPs); counts those that would show on screen.
template <typename Range, typename Glyph>
bool SoundGlyphs(const Range* range, Glyph** Range::*glyphsOf, int& visible) {
  for (; range != nullptr; range = range->next) {
    Glyph** glyphs = range->*glyphsOf;
    if (range->begin < 0 || range->begin >= range->end || glyphs == nullptr) return false;
    for (int i = 0; i < range->end - range->begin; ++i) {
      if (glyphs[i] == nullptr || !SoundSize(glyphs[i]->w, glyphs[i]->h)) return false;
      if (glyphs[i]->w > 0 && glyphs[i]->h > 0) ++visible;
    }
  }
  return true;
}

// A font object's bytes, read by the library's font reader as a file of its own.
struct ObjectBytes {
  std::vector<unsigned char> bytes;
  size_t at = 0;
};

ObjectBytes& Of(void* userdata) { return *static_cast<ObjectBytes*>(userdata); }

int BytesClose(void*) { return 0; }
int BytesGetc(void* u) { return Of(u).at < Of(u).bytes.size() ? Of(u).bytes[Of(u).at++] : EOF; }
int BytesUngetc(int c, void* u) {
  if (Of(u).at == 0) return EOF;
  Of(u).bytes[--Of(u).at] = static_cast<unsigned char>(c);
  return c;
}
long BytesRead(void* p, long n, void* u) {
  ObjectBytes& file = Of(u);
  const long left = static_cast<long>(file.bytes.size() - file.at);
  const long count = n < left ? n : left;
  if (count > 0) std::memcpy(p, file.bytes.data() + file.at, static_cast<size_t>(count));
  if (count > 0) file.at += static_cast<size_t>(count);
  return count;
}
int BytesPutc(int, void*) { return EOF; }  // read only
long BytesWrite(const void*, long, void*) { return 0; }
int BytesSeek(void* u, int offset) {
  if (offset < 0 || static_cast<size_t>(offset) > Of(u).bytes.size() - Of(u).at) return -1;
  Of(u).at += static_cast<size_t>(offset);
  return 0;
}
int BytesEof(void* u) { return Of(u).at >= Of(u).bytes.size(); }
int BytesError(void*) { return 0; }

const PACKFILE_VTABLE kObjectBytes = {BytesClose, BytesGetc, BytesUngetc, BytesRead, BytesPutc,
                                      BytesWrite, BytesSeek,  BytesEof,    BytesError};

void* (*libraryFontReader)(PACKFILE* f, long size) = nullptr;
// Whether a font object read since BeginFontLoad was cut short (main thread only).
bool cutShort = false;

// Reads the whole object first; the library's reader then reads it from memory, with
// any bytes missing from a cut-short object read as zeros (empty glyphs, where the
// end of the file would give sizes of -1). The library's datafile reader cannot take
// a failed object (it frees its names twice), so a font always comes back, and the
// cut is recorded instead.
void* ReadWholeFont(PACKFILE* f, long size) {
  ObjectBytes object;
  if (size > 0 && size <= kMaxFontObject) {
    object.bytes.resize(static_cast<size_t>(size));
    if (pack_fread(object.bytes.data(), size, f) != size) cutShort = true;
  } else {
    object.bytes.resize(kZerosForBadSize);
    cutShort = true;
  }
  PACKFILE* whole = pack_fopen_vtable(&kObjectBytes, &object);
  if (whole == nullptr) return nullptr;
  void* loaded = libraryFontReader(whole, static_cast<long>(object.bytes.size()));
  pack_fclose(whole);
  return loaded;
}

}  // namespace

void BeginFontLoad() {
  cutShort = false;
  if (libraryFontReader != nullptr) return;
  for (int i = 0; i < MAX_DATAFILE_TYPES; ++i) {
    const DATAFILE_TYPE& type = _datafile_type[i];
    if (type.type == DAT_FONT && type.load != nullptr && type.load != ReadWholeFont) {
      libraryFontReader = type.load;
      register_datafile_object(DAT_FONT, ReadWholeFont, type.destroy);
      return;
    }
  }
}

bool FontLoadWasWhole() { return !cutShort; }

bool AllGlyphsSound(FONT* f) {
  if (f == nullptr || f->data == nullptr || f->height <= 0) return false;
  int visible = 0;
  bool sound = false;
  if (is_mono_font(f)) {
    sound = SoundGlyphs(static_cast<const FONT_MONO_DATA*>(f->data), &FONT_MONO_DATA::glyphs, visible);
  } else if (is_color_font(f)) {
    sound = SoundGlyphs(static_cast<const FONT_COLOR_DATA*>(f->data), &FONT_COLOR_DATA::bitmaps, visible);
  }
  return sound && visible > 0;  // (a kind of font we cannot look into is not sound)
}
