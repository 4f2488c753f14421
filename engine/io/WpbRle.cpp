#include "engine/io/WpbRle.h"

#include <algorithm>
#include <cstring>

#include "engine/Block.h"

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

// ---- straight from and into tiles ----------------------------------------------------------

namespace {

// Pending pixels are coded once this many have gathered.
constexpr size_t kBatch = 4096;
constexpr int32_t kSide = TBlock::kTileSide;

inline uint8_t* PutValueAt(uint8_t* o, uint32_t p, bool argb) {
  if (argb) *o++ = static_cast<uint8_t>(p >> 24);
  *o++ = static_cast<uint8_t>(p >> 16);
  *o++ = static_cast<uint8_t>(p >> 8);
  *o++ = static_cast<uint8_t>(p);
  return o;
}

}  // namespace

void TEncoder::Settle(bool last) {
  const uint32_t* p = pending_.data();
  const size_t n = pending_.size();
  const size_t at = out_.size();
  out_.resize(at + MaxCodedSize(n, argb_));
  uint8_t* o = out_.data() + at;
  size_t i = 0;
  // The chunk at i looks at most 120 pixels ahead; with more pending than that it is the
  // chunk Encode writes whatever follows.
  while (i < n) {
    const size_t left = n - i;
    if (!last && left <= size_t{kMaxChunk}) break;
    if (left == 1) {
      *o++ = 1;
      o = PutValueAt(o, p[i], argb_);
      i = n;
      break;
    }
    const size_t limit = std::min<size_t>(kMaxChunk, left);
    const uint32_t first = p[i] & mask_;
    size_t k = 2;
    if ((p[i + 1] & mask_) == first) {
      while (k < limit && (p[i + k] & mask_) == first) ++k;
      *o++ = static_cast<uint8_t>(k);
      o = PutValueAt(o, p[i], argb_);
    } else {
      uint32_t prev = p[i + 1] & mask_;
      while (k < limit) {
        const uint32_t cur = p[i + k] & mask_;
        if (cur == prev) break;
        prev = cur;
        ++k;
      }
      *o++ = static_cast<uint8_t>(255 - k);
      for (size_t j = i; j < i + k; ++j) o = PutValueAt(o, p[j], argb_);
    }
    i += k;
  }
  out_.resize(static_cast<size_t>(o - out_.data()));
  pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(i));
}

void TEncoder::Pixels(const uint32_t* px, size_t n) {
  FlushRepeat();
  pending_.insert(pending_.end(), px, px + n);
  if (pending_.size() >= kBatch) Settle(false);
}

void TEncoder::Repeat(uint32_t value, size_t n) {
  if (n == 0) return;
  if (repeat_count_ > 0 && value == repeat_value_) {
    repeat_count_ += n;
    return;
  }
  FlushRepeat();
  repeat_value_ = value;
  repeat_count_ = n;
}

void TEncoder::FlushRepeat() {
  size_t n = repeat_count_;
  const uint32_t v = repeat_value_;
  repeat_count_ = 0;
  if (n == 0) return;
  // Enough of the stretch to settle every chunk that starts in front of it.
  const size_t head = std::min<size_t>(n, kMaxChunk + 1);
  pending_.insert(pending_.end(), head, v);
  n -= head;
  if (n == 0) {
    if (pending_.size() >= kBatch) Settle(false);
    return;
  }
  Settle(false);
  // Fewer than 121 pixels are left pending, all of them the stretch's: from here on every
  // chunk with more than 120 pixels of it ahead is a run of 120.
  const size_t rest = pending_.size() + n;
  const size_t runs = (rest - 1) / kMaxChunk;
  uint8_t chunk[5] = {static_cast<uint8_t>(kMaxChunk)};
  const size_t len = static_cast<size_t>(PutValueAt(chunk + 1, v, argb_) - chunk);
  const size_t at = out_.size();
  out_.resize(at + runs * len);
  uint8_t* o = out_.data() + at;
  for (size_t r = 0; r < runs; ++r, o += len) std::memcpy(o, chunk, len);
  pending_.assign(rest - runs * kMaxChunk, v);
}

void TEncoder::Finish() {
  FlushRepeat();
  Settle(true);
}

namespace {
// True when the n pixels are one value in all 32 bits.
bool IsOneValue(const uint32_t* px, size_t n) {
  uint32_t differ = 0;
  for (size_t k = 1; k < n; ++k) differ |= px[k] ^ px[0];
  return differ == 0;
}
}  // namespace

void EncodeImage(const TBlockImage& image, bool argb, TBytes& out) {
  TEncoder e(argb, out);
  const int32_t w = image.Width();
  const uint32_t back = image.BackColour();
  const size_t cols = static_cast<size_t>((w + kSide - 1) / kSide);
  std::vector<const TTC*> band(cols);
  std::vector<uint64_t> flat(cols);  // per tile of the band: bit y set when its row y is one value
  for (int32_t y = image.Height() - 1; y >= 0; --y) {
    const int32_t ty = TBlock::TileIndex(y), ly = TBlock::TileOffset(y);
    if (ly == kSide - 1 || y == image.Height() - 1) {
      // Each tile of the band is read once in its own memory order to find its flat rows; the
      // row walk below then finds the rows it reads again in the cache.
      for (size_t tx = 0; tx < cols; ++tx) {
        const TTC* t = image.GetTile(static_cast<int32_t>(tx), ty);
        band[tx] = t;
        if (!t) continue;
        const size_t n = static_cast<size_t>(std::min(kSide, w - static_cast<int32_t>(tx) * kSide));
        uint64_t bits = 0;
        for (int32_t r = 0; r <= ly; ++r) bits |= uint64_t{IsOneValue(t->Row32(r), n)} << r;
        flat[tx] = bits;
      }
    }
    for (size_t tx = 0; tx < cols; ++tx) {
      const size_t n = static_cast<size_t>(std::min(kSide, w - static_cast<int32_t>(tx) * kSide));
      const TTC* t = band[tx];
      // Flat rows of a tile cost by their chunks too.
      if (!t)
        e.Repeat(back, n);
      else if (flat[tx] >> ly & 1)
        e.Repeat(t->Row32(ly)[0], n);
      else
        e.Pixels(t->Row32(ly), n);
    }
  }
  e.Finish();
}

namespace {

// Writes decoded pixels into the tiles of one band of 64 rows at a time, bottom band first as
// the file runs. A tile column of the band stays without a tile while every pixel written to
// it equals the background in all 32 bits; its first other pixel makes the tile. Only the
// pixels that the stream has passed (all background) or never reaches (beyond the image) are
// filled with the background, as the plain load leaves them; the rest is written once, by the
// decoder. When the band is done, a made tile that still equals the background is freed.
class TTileWriter {
 public:
  TTileWriter(TBlockImage& image, bool exact)
      : image_(image),
        back_(image.BackColour()),
        exact_(exact),
        w_(image.Width()),
        y_(image.Height() - 1),
        band_(static_cast<size_t>((image.Width() + kSide - 1) / kSide), nullptr) {}

  size_t Left() const { return left_; }
  void Start() { left_ = static_cast<size_t>(w_) * static_cast<size_t>(y_ + 1); }

  void Run(uint32_t v, size_t n) {
    const bool back = v == back_;
    // Whole rows of background while the band holds no tile: nothing to write.
    if (back && x_ == 0 && made_ == 0 && n >= static_cast<size_t>(w_)) {
      const int32_t rows = static_cast<int32_t>(std::min<size_t>(n / static_cast<size_t>(w_), static_cast<size_t>(y_ + 1)));
      const int32_t before = TBlock::TileIndex(y_);
      y_ -= rows;
      if (y_ < 0 || TBlock::TileIndex(y_) != before) made_ = 0;
      n -= static_cast<size_t>(rows) * static_cast<size_t>(w_);
      left_ -= static_cast<size_t>(rows) * static_cast<size_t>(w_);
    }
    while (n > 0) {
      const size_t part = std::min(n, Span());
      uint32_t* row = Row(back);
      if (row) std::fill_n(row + TBlock::TileOffset(x_), part, v);
      Advance(part);
      n -= part;
    }
  }

  // n values of vb bytes each.
  void Literal(const uint8_t* data, size_t n, bool argb) {
    const size_t vb = argb ? 4 : 3;
    while (n > 0) {
      const size_t part = std::min(n, Span());
      bool back = true;
      for (size_t j = 0; j < part && back; ++j) back = Value(data + j * vb, argb) == back_;
      if (uint32_t* row = Row(back)) {
        row += TBlock::TileOffset(x_);
        for (size_t j = 0; j < part; ++j) row[j] = Value(data + j * vb, argb);
      }
      data += part * vb;
      Advance(part);
      n -= part;
    }
  }

  static uint32_t Value(const uint8_t* b, bool argb) {
    if (argb) return (uint32_t{b[0]} << 24) | (uint32_t{b[1]} << 16) | (uint32_t{b[2]} << 8) | b[3];
    return (uint32_t{b[0]} << 16) | (uint32_t{b[1]} << 8) | b[2];
  }

 private:
  // Pixels left in the current row within the current tile column.
  size_t Span() const { return static_cast<size_t>(std::min(kSide - TBlock::TileOffset(x_), w_ - x_)); }

  // The current tile row, made when needed; null when the pixels are all background and the
  // column has no tile.
  uint32_t* Row(bool back) {
    TTC*& t = band_[static_cast<size_t>(TBlock::TileIndex(x_))];
    if (!t) {
      if (back) return nullptr;
      const int32_t tx = TBlock::TileIndex(x_), ty = TBlock::TileIndex(y_);
      t = image_.MakeTileUnfilled(tx, ty);
      if (!t) return nullptr;  // no memory: the pixels are lost
      FillAhead(*t, tx, TBlock::TileOffset(x_), TBlock::TileOffset(y_));
      ++made_;
    }
    return t->Row32(TBlock::TileOffset(y_));
  }

  // A tile of column tx made at its pixel (lx, ly): the rows below ly and the pixels of row ly
  // before lx were passed as background, or lie below the image; the columns beyond the image
  // are never written.
  void FillAhead(TTC& t, int32_t tx, int32_t lx, int32_t ly) {
    for (int32_t y = ly + 1; y < kSide; ++y) std::fill_n(t.Row32(y), kSide, back_);
    std::fill_n(t.Row32(ly), lx, back_);
    const int32_t inside = std::min(kSide, w_ - tx * kSide);
    if (inside < kSide)
      for (int32_t y = 0; y <= ly; ++y) std::fill_n(t.Row32(y) + inside, kSide - inside, back_);
  }

 public:
  // A stream cut short leaves the made tiles of the band partly unwritten: the rest of them
  // becomes the background, as in the plain load.
  void FillRest() {
    if (left_ == 0) return;
    const int32_t ly = TBlock::TileOffset(y_);
    for (size_t tx = 0; tx < band_.size(); ++tx) {
      TTC* t = band_[tx];
      if (!t) continue;
      for (int32_t y = 0; y < ly; ++y) std::fill_n(t->Row32(y), kSide, back_);
      const int32_t x0 = static_cast<int32_t>(tx) * kSide;
      const int32_t from = std::clamp(x_ - x0, 0, kSide);
      std::fill_n(t->Row32(ly) + from, kSide - from, back_);
    }
  }

 private:

  void Advance(size_t n) {
    x_ += static_cast<int32_t>(n);
    left_ -= n;
    if (x_ < w_) return;
    x_ = 0;
    if (TBlock::TileOffset(y_) == 0 || left_ == 0) EndBand();
    --y_;
  }

  void EndBand() {
    const int32_t ty = TBlock::TileIndex(y_);
    for (size_t tx = 0; tx < band_.size(); ++tx) {
      TTC* t = band_[tx];
      if (!t) continue;
      band_[tx] = nullptr;
      if (exact_ ? IsExactly(*t) : t->IsUniform(back_)) image_.FreeTile(static_cast<int32_t>(tx), ty);
    }
    made_ = 0;
  }

  bool IsExactly(const TTC& t) const {
    for (int32_t y = 0; y < kSide; ++y) {
      const uint32_t* row = t.Row32(y);
      for (int32_t x = 0; x < kSide; ++x)
        if (row[x] != back_) return false;
    }
    return true;
  }

  TBlockImage& image_;
  const uint32_t back_;
  const bool exact_;
  const int32_t w_;
  int32_t x_ = 0, y_;
  size_t left_ = 0;
  int32_t made_ = 0;
  std::vector<TTC*> band_;
};

}  // namespace

bool DecodeImage(const uint8_t* data, size_t size, bool argb, bool exact, TBlockImage& image) {
  if (image.Width() <= 0 || image.Height() <= 0) return true;
  const size_t vb = argb ? 4 : 3;
  TTileWriter out(image, exact);
  out.Start();
  size_t pos = 0;
  const auto cut = [&] {
    out.FillRest();
    return false;
  };
  while (out.Left() > 0) {
    if (pos >= size) return cut();
    const uint8_t c = data[pos++];
    if (c >= 125) {
      // Values beyond the last pixel are dropped unread.
      const size_t count = std::min<size_t>(255u - c, out.Left());
      if (size - pos < count * vb) return cut();
      out.Literal(data + pos, count, argb);
      pos += count * vb;
    } else {
      if (size - pos < vb) return cut();
      const uint32_t v = TTileWriter::Value(data + pos, argb);
      pos += vb;
      out.Run(v, std::min<size_t>(c, out.Left()));
    }
  }
  return true;
}

}  // namespace wpb
