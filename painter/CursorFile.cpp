#include "painter/CursorFile.h"

#include <algorithm>
#include <cstdlib>
#include <limits>

namespace {

uint16_t U16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t U32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}

constexpr size_t kDirSize = 6;
constexpr size_t kEntrySize = 16;
constexpr uint8_t kPngMagic[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};

// Bytes of one bitmap row of `width` pixels at `bits` per pixel, padded to 4 bytes.
size_t RowBytes(int32_t width, int bits) { return ((static_cast<size_t>(width) * bits + 31) / 32) * 4; }

bool ReadBitmap(const uint8_t* p, size_t n, TCursorImage& out) {
  if (n < 40) return false;
  const uint32_t headerSize = U32(p);
  const int32_t width = static_cast<int32_t>(U32(p + 4));
  const int32_t doubledHeight = static_cast<int32_t>(U32(p + 8));
  const uint16_t planes = U16(p + 12);
  const uint16_t bits = U16(p + 14);
  const uint32_t compression = U32(p + 16);
  const uint32_t colorsUsed = U32(p + 32);
  if (headerSize < 40 || headerSize > n) return false;
  // Rows stored bottom up; the height counts the colour image and the mask.
  if (width < 1 || width > kMaxCursorSide || doubledHeight < 2 || doubledHeight > 2 * kMaxCursorSide ||
      doubledHeight % 2 != 0)
    return false;
  if (planes != 1 || compression != 0) return false;
  if (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32) return false;
  const int32_t height = doubledHeight / 2;
  size_t paletteSize = 0;
  if (bits <= 8) {
    const uint32_t maxColours = 1u << bits;
    if (colorsUsed > maxColours) return false;
    paletteSize = (colorsUsed == 0 ? maxColours : colorsUsed);
  }
  const size_t paletteAt = headerSize;
  const size_t pixelsAt = paletteAt + paletteSize * 4;
  const size_t colourRow = RowBytes(width, bits), maskRow = RowBytes(width, 1);
  const size_t maskAt = pixelsAt + colourRow * static_cast<size_t>(height);
  const size_t end = maskAt + maskRow * static_cast<size_t>(height);
  if (end > n) return false;

  out.Width = width;
  out.Height = height;
  out.Pixels.assign(static_cast<size_t>(width) * static_cast<size_t>(height), 0);
  bool anyAlpha = false;
  for (int32_t y = 0; y < height; ++y) {
    const uint8_t* row = p + pixelsAt + colourRow * static_cast<size_t>(height - 1 - y);
    const uint8_t* mask = p + maskAt + maskRow * static_cast<size_t>(height - 1 - y);
    for (int32_t x = 0; x < width; ++x) {
      uint32_t rgb = 0, alpha = 0xFF;
      if (bits == 32) {
        const uint8_t* q = row + static_cast<size_t>(x) * 4;
        rgb = static_cast<uint32_t>(q[2]) << 16 | static_cast<uint32_t>(q[1]) << 8 | q[0];
        alpha = q[3];
        if (alpha != 0) anyAlpha = true;
      } else if (bits == 24) {
        const uint8_t* q = row + static_cast<size_t>(x) * 3;
        rgb = static_cast<uint32_t>(q[2]) << 16 | static_cast<uint32_t>(q[1]) << 8 | q[0];
      } else {
        const size_t bit = static_cast<size_t>(x) * bits;
        const unsigned shift = 8 - bits - static_cast<unsigned>(bit % 8);
        const uint32_t index = (row[bit / 8] >> shift) & ((1u << bits) - 1);
        if (index >= paletteSize) return false;
        const uint8_t* c = p + paletteAt + index * 4;
        rgb = static_cast<uint32_t>(c[2]) << 16 | static_cast<uint32_t>(c[1]) << 8 | c[0];
      }
      const bool masked = (mask[x / 8] >> (7 - x % 8)) & 1;
      if (bits != 32 && masked) alpha = 0;
      out.Pixels[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)] = alpha << 24 | rgb;
    }
  }
  // A 32-bit image without any alpha takes its transparency from the mask.
  if (bits == 32 && !anyAlpha) {
    for (int32_t y = 0; y < height; ++y) {
      const uint8_t* mask = p + maskAt + maskRow * static_cast<size_t>(height - 1 - y);
      for (int32_t x = 0; x < width; ++x) {
        uint32_t& px = out.Pixels[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)];
        const bool masked = (mask[x / 8] >> (7 - x % 8)) & 1;
        px = (masked ? 0u : 0xFF000000u) | (px & 0xFFFFFF);
      }
    }
  }
  return true;
}

}  // namespace

bool ReadCursorFile(const uint8_t* data, size_t size, TCursorImage& out) {
  out = TCursorImage{};
  if (!data || size < kDirSize) return false;
  if (U16(data) != 0 || U16(data + 2) != 2) return false;
  const uint16_t count = U16(data + 4);
  if (count == 0 || kDirSize + static_cast<size_t>(count) * kEntrySize > size) return false;
  // The entry nearest to the usual cursor size.
  size_t best = 0;
  int bestDistance = std::numeric_limits<int>::max();
  for (size_t i = 0; i < count; ++i) {
    const uint8_t* e = data + kDirSize + i * kEntrySize;
    const int w = e[0] == 0 ? 256 : e[0];
    const int distance = std::abs(w - 32);
    if (distance < bestDistance) {
      bestDistance = distance;
      best = i;
    }
  }
  const uint8_t* e = data + kDirSize + best * kEntrySize;
  const uint32_t length = U32(e + 8), offset = U32(e + 12);
  if (offset > size || length > size - offset || length == 0) return false;
  const uint8_t* image = data + offset;
  bool ok;
  if (length >= sizeof kPngMagic && std::equal(kPngMagic, kPngMagic + sizeof kPngMagic, image)) {
    out.Png.assign(image, image + length);
    out.Width = e[0] == 0 ? 256 : e[0];
    out.Height = e[1] == 0 ? 256 : e[1];
    ok = true;
  } else {
    ok = ReadBitmap(image, length, out);
  }
  if (!ok) return false;
  out.HotX = U16(e + 4);
  out.HotY = U16(e + 6);
  if (out.HotX >= out.Width || out.HotY >= out.Height) return false;
  return true;
}
