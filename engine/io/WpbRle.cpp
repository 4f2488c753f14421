#include "engine/io/WpbRle.h"

#include <algorithm>

namespace wpb {

namespace {

inline void PutValue(std::vector<uint8_t>& out, uint32_t p, bool argb) {
  if (argb) out.push_back(static_cast<uint8_t>(p >> 24));
  out.push_back(static_cast<uint8_t>(p >> 16));
  out.push_back(static_cast<uint8_t>(p >> 8));
  out.push_back(static_cast<uint8_t>(p));
}

}  // namespace

void Encode(const TRows& px, bool argb, std::vector<uint8_t>& out) {
  const size_t n = px.Count();
  if (n == 0) return;
  const size_t w = static_cast<size_t>(px.Width);
  const uint32_t mask = argb ? 0xFFFFFFFFu : 0x00FFFFFFu;
  // Pixels are read in order (a chunk looks back at most one pixel), so the row of an index is
  // found by a division only when the index leaves the row last used.
  size_t rowStart = 0;
  const uint32_t* row = px.Rows[0];
  auto pixel = [&](size_t i) {
    if (i - rowStart >= w) {
      rowStart = i / w * w;
      row = px.Rows[i / w];
    }
    return row[i - rowStart];
  };
  auto at = [&](size_t i) { return pixel(i) & mask; };
  out.reserve(out.size() + MaxCodedSize(n, argb));
  size_t i = 0;
  while (i < n) {
    if (i == n - 1) {
      out.push_back(1);
      PutValue(out, pixel(i), argb);
      break;
    }
    const uint32_t first = at(i);
    if (at(i + 1) == first) {
      size_t k = 2;
      while (k < kMaxChunk && i + k < n && at(i + k) == first) ++k;
      out.push_back(static_cast<uint8_t>(k));
      PutValue(out, pixel(i), argb);
      i += k;
    } else {
      size_t k = 2;
      uint32_t prev = at(i + 1);
      while (k < kMaxChunk && i + k < n) {
        const uint32_t cur = at(i + k);
        if (cur == prev) break;
        prev = cur;
        ++k;
      }
      out.push_back(static_cast<uint8_t>(255 - k));
      for (size_t j = i; j < i + k; ++j) PutValue(out, pixel(j), argb);
      i += k;
    }
  }
}

bool Decode(const uint8_t* data, size_t size, bool argb, const TRows& px) {
  const size_t n = px.Count();
  const size_t vb = argb ? 4 : 3;
  size_t pos = 0, filled = 0;
  int32_t row = 0, col = 0;
  auto put = [&](uint32_t v) {
    px.Rows[row][col] = v;
    if (++col == px.Width) {
      col = 0;
      ++row;
    }
    ++filled;
  };
  auto value = [&](const uint8_t* b) -> uint32_t {
    if (argb) return (uint32_t{b[0]} << 24) | (uint32_t{b[1]} << 16) | (uint32_t{b[2]} << 8) | b[3];
    return (uint32_t{b[0]} << 16) | (uint32_t{b[1]} << 8) | b[2];
  };
  while (filled < n) {
    if (pos >= size) return false;
    const uint8_t c = data[pos++];
    if (c >= 125) {
      // Values beyond the last pixel are dropped unread.
      const size_t count = std::min<size_t>(255u - c, n - filled);
      if (size - pos < count * vb) return false;
      for (size_t j = 0; j < count; ++j, pos += vb) put(value(data + pos));
    } else {
      if (size - pos < vb) return false;
      const uint32_t v = value(data + pos);
      pos += vb;
      // A run fills whole stretches of rows at once.
      size_t left = std::min<size_t>(c, n - filled);
      while (left > 0) {
        const size_t part = std::min<size_t>(left, static_cast<size_t>(px.Width - col));
        std::fill_n(px.Rows[row] + col, part, v);
        col += static_cast<int32_t>(part);
        if (col == px.Width) {
          col = 0;
          ++row;
        }
        filled += part;
        left -= part;
      }
    }
  }
  return true;
}

}  // namespace wpb
