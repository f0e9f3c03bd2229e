#include "paint.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

Rgb Mix(Rgb a, Rgb b, float t) {
  return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

Rgb Shade(Rgb c, float k) {
  return {std::min(255.0f, c.r * k), std::min(255.0f, c.g * k), std::min(255.0f, c.b * k)};
}

V2 Rotate(V2 p, double radians) {
  double s = std::sin(radians), c = std::cos(radians);
  return {p.x * c - p.y * s, p.x * s + p.y * c};
}

Canvas::Canvas(int width, int height) : w(width), h(height), px(size_t(width) * height * 4, 0.0f) {}

void Canvas::Blend(int x, int y, Rgb c, float alpha) {
  if (x < 0 || y < 0 || x >= w || y >= h || alpha <= 0) return;
  alpha = std::min(alpha, 1.0f);
  float* p = &px[(size_t(y) * w + x) * 4];
  float keep = 1 - alpha;
  p[0] = c.r * alpha + p[0] * keep;
  p[1] = c.g * alpha + p[1] * keep;
  p[2] = c.b * alpha + p[2] * keep;
  p[3] = alpha + p[3] * keep;
}

float Canvas::Alpha(int x, int y) const {
  if (x < 0 || y < 0 || x >= w || y >= h) return 0;
  return px[(size_t(y) * w + x) * 4 + 3];
}

Rgb Canvas::Colour(int x, int y) const {
  float a = Alpha(x, y);
  if (a <= 0) return {};
  const float* p = &px[(size_t(y) * w + x) * 4];
  return {p[0] / a, p[1] / a, p[2] / a};
}

Paint Solid(Rgb c) {
  return [c](double, double) { return c; };
}

Paint VerticalGradient(double y0, Rgb a, double y1, Rgb b) {
  return [=](double, double y) {
    double t = std::clamp((y - y0) / (y1 - y0), 0.0, 1.0);
    return Mix(a, b, float(t));
  };
}

void Fill(Canvas& c, const Sdf& shape, const Paint& paint, float opacity, float softness,
          const Box* bounds) {
  Box b = bounds ? *bounds : Box{0, 0, c.w, c.h};
  b.x0 = std::max(b.x0, 0);
  b.y0 = std::max(b.y0, 0);
  b.x1 = std::min(b.x1, c.w);
  b.y1 = std::min(b.y1, c.h);
  for (int y = b.y0; y < b.y1; ++y) {
    for (int x = b.x0; x < b.x1; ++x) {
      double cx = x + 0.5, cy = y + 0.5;
      double d = shape(cx, cy);
      double cover = std::clamp(0.5 - d / softness, 0.0, 1.0);
      if (cover <= 0) continue;
      c.Blend(x, y, paint(cx, cy), float(cover) * opacity);
    }
  }
}

Sdf Circle(V2 centre, double r) {
  return [=](double x, double y) { return std::hypot(x - centre.x, y - centre.y) - r; };
}

Sdf Ellipse(V2 centre, double rx, double ry, double angle) {
  return [=](double x, double y) {
    V2 p = Rotate({x - centre.x, y - centre.y}, -angle);
    double k0 = std::hypot(p.x / rx, p.y / ry);
    double k1 = std::hypot(p.x / (rx * rx), p.y / (ry * ry));
    if (k1 == 0) return -std::min(rx, ry);
    return k0 * (k0 - 1) / k1;
  };
}

Sdf RoundBox(V2 centre, double halfW, double halfH, double radius) {
  return [=](double x, double y) {
    double qx = std::fabs(x - centre.x) - halfW + radius;
    double qy = std::fabs(y - centre.y) - halfH + radius;
    double outside = std::hypot(std::max(qx, 0.0), std::max(qy, 0.0));
    return outside + std::min(std::max(qx, qy), 0.0) - radius;
  };
}

Sdf Capsule(V2 a, V2 b, double r) {
  return [=](double x, double y) {
    double px = x - a.x, py = y - a.y, bx = b.x - a.x, by = b.y - a.y;
    double len2 = bx * bx + by * by;
    double t = len2 > 0 ? std::clamp((px * bx + py * by) / len2, 0.0, 1.0) : 0.0;
    return std::hypot(px - bx * t, py - by * t) - r;
  };
}

Sdf Grow(Sdf s, double by) {
  return [=](double x, double y) { return s(x, y) - by; };
}

Sdf Offset(Sdf s, V2 by) {
  return [=](double x, double y) { return s(x - by.x, y - by.y); };
}

Sdf Union(Sdf a, Sdf b) {
  return [=](double x, double y) { return std::min(a(x, y), b(x, y)); };
}

Sdf Intersect(Sdf a, Sdf b) {
  return [=](double x, double y) { return std::max(a(x, y), b(x, y)); };
}

Sdf Subtract(Sdf a, Sdf b) {
  return [=](double x, double y) { return std::max(a(x, y), -b(x, y)); };
}

float Mask::At(int mx, int my) const {
  if (mx < 0 || my < 0 || mx >= w || my >= h) return 0;
  return v[size_t(my) * w + mx];
}

Mask Dilate(const Mask& m, double radius) {
  Mask out = m;
  int r = int(std::ceil(radius));
  for (int y = 0; y < m.h; ++y) {
    for (int x = 0; x < m.w; ++x) {
      float best = 0;
      for (int dy = -r; dy <= r; ++dy) {
        for (int dx = -r; dx <= r; ++dx) {
          double fall = std::clamp(radius + 0.5 - std::hypot(dx, dy), 0.0, 1.0);
          if (fall <= 0) continue;
          best = std::max(best, m.At(x + dx, y + dy) * float(fall));
        }
      }
      out.v[size_t(y) * m.w + x] = best;
    }
  }
  return out;
}

void FillMask(Canvas& c, const Mask& m, const Paint& paint, float opacity, int dx, int dy) {
  for (int y = 0; y < m.h; ++y) {
    for (int x = 0; x < m.w; ++x) {
      float cover = m.v[size_t(y) * m.w + x];
      if (cover <= 0) continue;
      int cx = m.x + x + dx, cy = m.y + y + dy;
      c.Blend(cx, cy, paint(cx + 0.5, cy + 0.5), cover * opacity);
    }
  }
}

namespace {

void Put16(std::vector<uint8_t>& out, unsigned v) {
  out.push_back(uint8_t(v));
  out.push_back(uint8_t(v >> 8));
}

void Put32(std::vector<uint8_t>& out, unsigned v) {
  Put16(out, v & 0xffff);
  Put16(out, v >> 16);
}

// File header and BITMAPINFOHEADER for a bottom-up picture.
std::vector<uint8_t> BmpHeader(int w, int h, int bits, int paletteEntries, unsigned imageBytes) {
  std::vector<uint8_t> out;
  unsigned offset = 14 + 40 + paletteEntries * 4;
  out.push_back('B');
  out.push_back('M');
  Put32(out, offset + imageBytes);
  Put32(out, 0);
  Put32(out, offset);
  Put32(out, 40);
  Put32(out, unsigned(w));
  Put32(out, unsigned(h));
  Put16(out, 1);
  Put16(out, unsigned(bits));
  Put32(out, 0);  // no compression
  Put32(out, imageBytes);
  Put32(out, 2835);  // 72 dots per inch
  Put32(out, 2835);
  Put32(out, unsigned(paletteEntries));
  Put32(out, 0);
  return out;
}

bool WriteAll(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

uint8_t ToByte(float v) { return uint8_t(std::clamp(std::lround(v), 0L, 255L)); }

void PutBig32(std::vector<uint8_t>& out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(uint8_t(v >> shift));
}

uint32_t Crc32(const uint8_t* data, size_t n) {
  uint32_t crc = 0xffffffffu;
  for (size_t i = 0; i < n; ++i) {
    crc ^= data[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

// One PNG chunk: length, type, data, and the CRC of type and data.
void PutChunk(std::vector<uint8_t>& out, const char type[4], const std::vector<uint8_t>& data) {
  PutBig32(out, uint32_t(data.size()));
  size_t typeStart = out.size();
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), data.begin(), data.end());
  PutBig32(out, Crc32(&out[typeStart], out.size() - typeStart));
}

// A zlib stream of stored (uncompressed) deflate blocks: no compressor needed.
std::vector<uint8_t> ZlibStored(const std::vector<uint8_t>& raw) {
  constexpr size_t kMaxBlock = 65535;  // bytes in one stored block
  std::vector<uint8_t> out = {0x78, 0x01};
  size_t at = 0;
  do {
    size_t n = std::min(kMaxBlock, raw.size() - at);
    bool last = at + n == raw.size();
    out.push_back(last ? 1 : 0);
    out.push_back(uint8_t(n));
    out.push_back(uint8_t(n >> 8));
    out.push_back(uint8_t(~n));
    out.push_back(uint8_t(~n >> 8));
    out.insert(out.end(), raw.begin() + long(at), raw.begin() + long(at + n));
    at += n;
  } while (at < raw.size());
  uint32_t a = 1, b = 0;  // Adler-32 of the raw bytes
  for (uint8_t v : raw) {
    a = (a + v) % 65521u;
    b = (b + a) % 65521u;
  }
  PutBig32(out, (b << 16) | a);
  return out;
}

}  // namespace

bool WritePng(const std::string& path, const Canvas& c) {
  std::vector<uint8_t> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  std::vector<uint8_t> header;
  PutBig32(header, uint32_t(c.w));
  PutBig32(header, uint32_t(c.h));
  header.insert(header.end(), {8, 6, 0, 0, 0});  // 8 bits per channel, RGBA, no interlace
  PutChunk(out, "IHDR", header);
  std::vector<uint8_t> rows;
  for (int y = 0; y < c.h; ++y) {
    rows.push_back(0);  // no filter
    for (int x = 0; x < c.w; ++x) {
      Rgb col = c.Colour(x, y);
      rows.insert(rows.end(), {ToByte(col.r), ToByte(col.g), ToByte(col.b), ToByte(c.Alpha(x, y) * 255)});
    }
  }
  PutChunk(out, "IDAT", ZlibStored(rows));
  PutChunk(out, "IEND", {});
  return WriteAll(path, out);
}

bool WriteBmp24(const std::string& path, const Canvas& c, const Rgb* empty) {
  int stride = (c.w * 3 + 3) / 4 * 4;
  std::vector<uint8_t> out = BmpHeader(c.w, c.h, 24, 0, unsigned(stride * c.h));
  Rgb e = empty ? *empty : Rgb{};
  uint8_t er = ToByte(e.r), eg = ToByte(e.g), eb = ToByte(e.b);
  for (int y = c.h - 1; y >= 0; --y) {
    size_t rowStart = out.size();
    for (int x = 0; x < c.w; ++x) {
      uint8_t r = er, g = eg, b = eb;
      if (!empty || c.Alpha(x, y) >= 0.5f) {
        Rgb col = c.Colour(x, y);
        r = ToByte(col.r);
        g = ToByte(col.g);
        b = ToByte(col.b);
        if (empty && r == er && g == eg && b == eb) g = uint8_t(g ^ 1);  // never the empty colour
      }
      out.push_back(b);
      out.push_back(g);
      out.push_back(r);
    }
    while (out.size() - rowStart < size_t(stride)) out.push_back(0);
  }
  return WriteAll(path, out);
}

bool WriteBmp8(const std::string& path, int w, int h, const std::vector<uint8_t>& pixels,
               const std::vector<uint8_t>& palette) {
  int stride = (w + 3) / 4 * 4;
  std::vector<uint8_t> out = BmpHeader(w, h, 8, 256, unsigned(stride * h));
  for (int i = 0; i < 256; ++i) {
    out.push_back(palette[i * 3 + 2]);
    out.push_back(palette[i * 3 + 1]);
    out.push_back(palette[i * 3]);
    out.push_back(0);
  }
  for (int y = h - 1; y >= 0; --y) {
    for (int x = 0; x < stride; ++x) out.push_back(x < w ? pixels[size_t(y) * w + x] : 0);
  }
  return WriteAll(path, out);
}

double Lcg::Next() {
  state = state * 1664525u + 1013904223u;
  return (state >> 8) / double(1u << 24);
}
