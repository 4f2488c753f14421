#include "engine/Layer.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "engine/SelectMng.h"

namespace {

constexpr int32_t kEmptySlotSide = 4;

// The rectangle (X, Y, W, H) cut to 0..Width() x 0..Height(), in 64 bits so that no sum overflows.
// An empty result has W = H = 0 and its origin inside the layer.
void IntersectWithImage(int32_t Width, int32_t Height, int32_t& X, int32_t& Y, int32_t& W, int32_t& H) {
  int64_t l = std::max<int64_t>(X, 0), t = std::max<int64_t>(Y, 0);
  int64_t r = std::min<int64_t>(int64_t(X) + std::max<int32_t>(W, 0), Width);
  int64_t b = std::min<int64_t>(int64_t(Y) + std::max<int32_t>(H, 0), Height);
  if (r <= l || b <= t) {
    X = static_cast<int32_t>(std::min<int64_t>(l, Width));
    Y = static_cast<int32_t>(std::min<int64_t>(t, Height));
    W = H = 0;
    return;
  }
  X = static_cast<int32_t>(l);
  Y = static_cast<int32_t>(t);
  W = static_cast<int32_t>(r - l);
  H = static_cast<int32_t>(b - t);
}

bool TileIsExactly(const TTC& tile, uint32_t colour) {
  for (int32_t y = 0; y < tile.Height(); ++y) {
    const uint32_t* row = tile.Row32(y);
    for (int32_t x = 0; x < tile.Width(); ++x)
      if (row[x] != colour) return false;
  }
  return true;
}

// Frees the tiles of tx0..tx1 x ty0..ty1 whose every pixel equals the background in all 32
// bits. The plain compaction does just that unless some tile there matches the background in
// R, G and B only; then the image is rebuilt without the exactly-blank tiles.
template <class Plain>
void CompactExactTiles(TBlockImage& image, int32_t tx0, int32_t ty0, int32_t tx1, int32_t ty1, Plain plain) {
  const uint32_t back = image.BackColour();
  constexpr int32_t kSide = TBlock::kTileSide;
  auto inRange = [&](int32_t tx, int32_t ty) { return tx >= tx0 && tx <= tx1 && ty >= ty0 && ty <= ty1; };
  bool anyBlank = false, anyAlpha = false;
  for (int32_t ty = std::max(ty0, 0); ty <= std::min(ty1, TBlock::kGridSide - 1); ++ty)
    for (int32_t tx = std::max(tx0, 0); tx <= std::min(tx1, TBlock::kGridSide - 1); ++tx) {
      const TTC* tile = image.GetTile(tx, ty);
      if (!tile || !tile->IsUniform(back)) continue;
      if (TileIsExactly(*tile, back))
        anyBlank = true;
      else
        anyAlpha = true;
    }
  if (!anyBlank) return;
  if (!anyAlpha) {
    plain();
    return;
  }
  TBlockImage kept;
  kept.SetSize(image.Width(), image.Height());
  kept.SetBackColour(back);
  for (int32_t ty = 0; ty < TBlock::kGridSide; ++ty)
    for (int32_t tx = 0; tx < TBlock::kGridSide; ++tx) {
      const TTC* tile = image.GetTile(tx, ty);
      if (!tile || (inRange(tx, ty) && TileIsExactly(*tile, back))) continue;
      image.CopyRectToBlock(kept, tx * kSide, ty * kSide, kSide, kSide, tx * kSide, ty * kSide);
    }
  kept.CloneTo(image);
}

// The thumbnail columns first..last that image columns lo..hi feed, by the sampling of
// ReduceImageTo (reads beyond the last column clamp to it); false when none.
bool FedSpan(int32_t iw, int32_t cw, int64_t lo, int64_t hi, int32_t& first, int32_t& last) {
  lo = std::max<int64_t>(lo, 0);
  hi = std::min<int64_t>(hi, int64_t(iw) - 1);
  first = last = -1;
  if (iw <= 0 || cw <= 0 || lo > hi) return false;
  const int64_t f = TruncInt(static_cast<ext_t>(iw) / cw * 1024.0L);
  const int32_t b = TruncInt(static_cast<ext_t>(iw) / cw);
  for (int32_t X = 0; X < cw; ++X) {
    const int64_t s = (f * X) >> 10;
    const int64_t e = std::min<int64_t>(s + b, int64_t(iw) - 1);
    if (std::min<int64_t>(s, int64_t(iw) - 1) <= hi && e >= lo) {
      if (first < 0) first = X;
      last = X;
    }
  }
  return first >= 0;
}

// The canvas pixels x0..x1 x y0..y1 (inside it) that ReduceImageTo of a non-empty image
// draws there.
void ReduceSpan(const TBlockImage& image, TTC& canvas, int64_t x0, int64_t x1, int64_t y0, int64_t y1) {
  const int32_t iw = image.Width(), ih = image.Height(), cw = canvas.Width(), ch = canvas.Height();
  // The same factors as StretchRectTo.
  const int64_t fx = TruncInt(static_cast<ext_t>(iw) / cw * 1024.0L);
  const int64_t fy = TruncInt(static_cast<ext_t>(ih) / ch * 1024.0L);
  const int32_t bx = TruncInt(static_cast<ext_t>(iw) / cw), by = TruncInt(static_cast<ext_t>(ih) / ch);
  const uint32_t n = uint32_t(bx + 1) * uint32_t(by + 1);
  auto col = [&](int64_t v) { return int32_t(std::min<int64_t>(v, iw - 1)); };  // v >= 0 here
  // Source columns c0..c1 feed the destination columns x0..x1.
  const int32_t c0 = col((fx * x0) >> 10), c1 = col(((fx * x1) >> 10) + bx);
  const size_t span = size_t(c1 - c0 + 1);
  std::vector<uint32_t> sa(span), sr(span), sg(span), sb(span);
  // Up to 257 rows, the column sums fit 16-bit lanes: blue and red, green and alpha in pairs.
  const bool paired = by < 257;
  std::vector<uint32_t> lo(paired ? span : 0), hi(paired ? span : 0);
  const uint32_t back = image.BackColour();
  for (int64_t y = y0; y <= y1; ++y) {
    const int64_t sy = (fy * y) >> 10;
    if (paired) {
      std::fill(lo.begin(), lo.end(), 0u);
      std::fill(hi.begin(), hi.end(), 0u);
    } else {
      std::fill(sa.begin(), sa.end(), 0u);
      std::fill(sr.begin(), sr.end(), 0u);
      std::fill(sg.begin(), sg.end(), 0u);
      std::fill(sb.begin(), sb.end(), 0u);
    }
    // Column sums over the box's rows, one tile column at a time so that each tile is read
    // row after row. The sums wrap as the plain walk's do; wrapped addition has no order.
    for (int32_t c = c0; c <= c1;) {
      const int32_t stop = std::min(c1 + 1, (TBlock::TileIndex(c) + 1) * TBlock::kTileSide);
      const size_t k0 = size_t(c - c0), m = size_t(stop - c);
      for (int64_t j = 0; j <= by; ++j) {
        const int32_t q = int32_t(std::min<int64_t>(sy + j, ih - 1));
        const TTC* t = image.GetTile(TBlock::TileIndex(c), TBlock::TileIndex(q));
        const uint32_t* px = t ? t->Row32(TBlock::TileOffset(q)) + TBlock::TileOffset(c) : nullptr;
        if (paired) {
          uint32_t* l = lo.data() + k0;
          uint32_t* h = hi.data() + k0;
          if (px) {
            for (size_t k = 0; k < m; ++k) l[k] += px[k] & 0x00FF00FFu, h[k] += (px[k] >> 8) & 0x00FF00FFu;
          } else {
            const uint32_t bl = back & 0x00FF00FFu, bh = (back >> 8) & 0x00FF00FFu;
            for (size_t k = 0; k < m; ++k) l[k] += bl, h[k] += bh;
          }
        } else {
          for (size_t k = 0; k < m; ++k) {
            const uint32_t p = px ? px[k] : back;
            const size_t i = k0 + k;
            sa[i] += p >> 24, sr[i] += (p >> 16) & 0xFF, sg[i] += (p >> 8) & 0xFF, sb[i] += p & 0xFF;
          }
        }
      }
      c = stop;
    }
    if (paired)
      for (size_t k = 0; k < span; ++k) {
        sb[k] = lo[k] & 0xFFFF, sr[k] = lo[k] >> 16, sg[k] = hi[k] & 0xFFFF, sa[k] = hi[k] >> 16;
      }
    for (int64_t x = x0; x <= x1; ++x) {
      const int64_t sx = (fx * x) >> 10;
      uint32_t a = 0, r = 0, g = 0, b = 0;
      for (int64_t i = 0; i <= bx; ++i) {
        const size_t k = size_t(col(sx + i) - c0);
        a += sa[k], r += sr[k], g += sg[k], b += sb[k];
      }
      a /= n, r /= n, g /= n, b /= n;
      canvas.SetPixel(int32_t(x), int32_t(y), (a << 24) + (r << 16) + (g << 8) + b);
    }
  }
}

// The canvas pixels ReduceImageTo(X, Y, W, H) draws; false when none.
bool ReduceBox(int32_t cw, int32_t ch, int32_t X, int32_t Y, int32_t W, int32_t H, int64_t& x0, int64_t& x1,
               int64_t& y0, int64_t& y1) {
  if (W <= 0 || H <= 0 || cw <= 0 || ch <= 0) return false;
  x0 = std::max<int64_t>(X, 0), x1 = std::min<int64_t>(int64_t(X) + W, cw - 1);
  y0 = std::max<int64_t>(Y, 0), y1 = std::min<int64_t>(int64_t(Y) + H, ch - 1);
  return x0 <= x1 && y0 <= y1;
}

}  // namespace

void ReduceImageTo(const TBlockImage& image, TTC& canvas, int32_t X, int32_t Y, int32_t W, int32_t H) {
  if (image.Width() <= 0 || image.Height() <= 0) {
    image.StretchRectTo(canvas, X, Y, W, H);  // reads clamp to pixel 0 there: the plain walk
    return;
  }
  int64_t x0, x1, y0, y1;
  if (ReduceBox(canvas.Width(), canvas.Height(), X, Y, W, H, x0, x1, y0, y1)) ReduceSpan(image, canvas, x0, x1, y0, y1);
}

void ThumbnailSize(int32_t side, int32_t W, int32_t H, int32_t& tw, int32_t& th) {
  if (W <= 0 || H <= 0) {
    tw = th = side;
    return;
  }
  // The ratio is a single; the product is not rounded before its truncation.
  if (H < W) {
    const float ratio = static_cast<float>(static_cast<ext_t>(side) / static_cast<ext_t>(W));
    tw = side;
    th = TruncInt(static_cast<ext_t>(H) * static_cast<ext_t>(ratio)) + 1;
  } else {
    const float ratio = static_cast<float>(static_cast<ext_t>(side) / static_cast<ext_t>(H));
    tw = TruncInt(static_cast<ext_t>(W) * static_cast<ext_t>(ratio)) + 1;
    th = side;
  }
}

void CompactLayerImage(TBlockImage& image, TLayerKind kind) {
  if (kind != lkArgb) {
    image.Compact();
    return;
  }
  CompactExactTiles(image, 0, 0, TBlock::kGridSide - 1, TBlock::kGridSide - 1, [&] { image.Compact(); });
}

void CompactLayerImageRect(TBlockImage& image, TLayerKind kind, int32_t X, int32_t Y, int32_t W, int32_t H) {
  if (kind != lkArgb) {
    image.CompactRect(X, Y, W, H);
    return;
  }
  // The same tiles as the plain rule visits.
  const int32_t tx0 = TBlock::TileIndex(X) - 1, ty0 = TBlock::TileIndex(Y) - 1;
  CompactExactTiles(image, tx0, ty0, tx0 + W / 64 + 1, ty0 + H / 64 + 1, [&] { image.CompactRect(X, Y, W, H); });
}

TLayer::TLayer(TLayerKind kind) : kind_(SanitizeLayerKind(kind)) {
  image_ = std::make_unique<TBlockImage>();
  image_->SetSize(0, 0);
  image_->SetBackColour(ClearColor());
  thumbnail_ = std::make_unique<TTC>();  // 4 x 4
  for (auto& slot : undo_) {
    slot = std::make_unique<TBlockImage>();
    slot->SetBackColour(ClearColor());
  }
  ClearUndo();
}

TLayer::~TLayer() = default;

void TLayer::SetKind(TLayerKind kind) {
  image_->AllocateAll();
  kind_ = SanitizeLayerKind(kind);
  image_->SetBackColour(ClearColor());
  Compact();
}

bool TLayer::SetSize(int32_t W, int32_t H) {
  if (W < 0 || H < 0 || W > kMaxPaperSide || H > kMaxPaperSide) return false;
  image_->SetSize(W, H);
  ResizeThumbnail();
  ClearUndo();
  return true;
}

void TLayer::ResizeThumbnail() {
  int32_t tw, th;
  ThumbnailSize(kLayerThumbSide, image_->Width(), image_->Height(), tw, th);
  thumbnail_->SetSize(tw, th);
  thumbnail_->Fill(0xFFFFFFFFu);
  thumb_debt_all_ = true;
  thumb_pending_.assign(size_t(thumbnail_->Width()) * size_t(thumbnail_->Height()), 0);
  thumb_pending_count_ = 0;
}

void TLayer::UpdateThumbnail() {
  UpdateThumbnailRect(0, 0, image_->Width(), image_->Height());
  thumb_debt_all_ = false;
  thumb_debt_.assign(size_t(thumbnail_->Width()) * size_t(thumbnail_->Height()), 0);
}

void TLayer::RedrawThumbnail() {
  if (image_->Width() <= 0 || image_->Height() <= 0) {
    SettleThumbnail();
    ReduceImageTo(*image_, *thumbnail_);
    return;
  }
  MarkReduce(0, 0, thumbnail_->Width(), thumbnail_->Height());
}

void TLayer::MarkRedraw(int64_t x0, int64_t x1, int64_t y0, int64_t y1) {
  const int32_t tw = thumbnail_->Width();
  if (thumb_pending_.size() != size_t(tw) * size_t(thumbnail_->Height()))
    thumb_pending_.assign(size_t(tw) * size_t(thumbnail_->Height()), 0), thumb_pending_count_ = 0;
  for (int64_t y = y0; y <= y1; ++y) {
    uint8_t* row = thumb_pending_.data() + y * tw;
    for (int64_t x = x0; x <= x1; ++x) {
      thumb_pending_count_ += row[x] ^ 1;
      row[x] = 1;
    }
  }
}

void TLayer::MarkReduce(int32_t X, int32_t Y, int32_t W, int32_t H) {
  int64_t x0, x1, y0, y1;
  if (ReduceBox(thumbnail_->Width(), thumbnail_->Height(), X, Y, W, H, x0, x1, y0, y1)) MarkRedraw(x0, x1, y0, y1);
}

void TLayer::SettleThumbnail() const {
  if (thumb_pending_count_ > 0) SettleThumbnailBox(0, thumbnail_->Width() - 1, 0, thumbnail_->Height() - 1);
}

void TLayer::SettleThumbnailBox(int32_t x0, int32_t x1, int32_t y0, int32_t y1) const {
  const int32_t tw = thumbnail_->Width(), th = thumbnail_->Height();
  if (thumb_pending_count_ <= 0) return;
  if (thumb_pending_.size() != size_t(tw) * size_t(th) || image_->Width() <= 0 || image_->Height() <= 0) {
    thumb_pending_.assign(thumb_pending_.size(), 0);  // no redraw of such a layer was marked
    thumb_pending_count_ = 0;
    return;
  }
  x0 = std::max(x0, 0), y0 = std::max(y0, 0), x1 = std::min(x1, tw - 1), y1 = std::min(y1, th - 1);
  // Rows owed whole are drawn together; other rows run by run.
  for (int32_t y = y0; y <= y1;) {
    const uint8_t* row = thumb_pending_.data() + ptrdiff_t(y) * tw;
    auto whole = [&](int32_t r) {
      const uint8_t* p = thumb_pending_.data() + ptrdiff_t(r) * tw;
      return std::all_of(p + x0, p + x1 + 1, [](uint8_t v) { return v != 0; });
    };
    if (whole(y)) {
      int32_t last = y;
      while (last < y1 && whole(last + 1)) ++last;
      ReduceSpan(*image_, *thumbnail_, x0, x1, y, last);
      for (int32_t r = y; r <= last; ++r) std::fill_n(thumb_pending_.begin() + (ptrdiff_t(r) * tw + x0), x1 - x0 + 1, uint8_t{0});
      thumb_pending_count_ -= int64_t(last - y + 1) * (x1 - x0 + 1);
      y = last + 1;
      continue;
    }
    for (int32_t x = x0; x <= x1;) {
      if (!row[x]) {
        ++x;
        continue;
      }
      const int32_t start = x;
      while (x <= x1 && row[x]) ++x;
      ReduceSpan(*image_, *thumbnail_, start, x - 1, y, y);
      std::fill_n(thumb_pending_.begin() + (ptrdiff_t(y) * tw + start), x - start, uint8_t{0});
      thumb_pending_count_ -= x - start;
    }
    ++y;
  }
}

void TLayer::SettleThumbnailFed(int32_t X, int32_t Y, int32_t W, int32_t H) const {
  if (thumb_pending_count_ <= 0 || W <= 0 || H <= 0) return;
  int32_t x0, x1, y0, y1;
  if (FedSpan(image_->Width(), thumbnail_->Width(), X, int64_t(X) + W - 1, x0, x1) &&
      FedSpan(image_->Height(), thumbnail_->Height(), Y, int64_t(Y) + H - 1, y0, y1))
    SettleThumbnailBox(x0, x1, y0, y1);
}

namespace {

std::vector<uint8_t> TilePresence(const TBlockImage& image) {
  std::vector<uint8_t> had(size_t(TBlock::kGridSide) * TBlock::kGridSide);
  for (int32_t ty = 0; ty < TBlock::kGridSide; ++ty)
    for (int32_t tx = 0; tx < TBlock::kGridSide; ++tx) had[size_t(ty) * TBlock::kGridSide + size_t(tx)] = image.GetTile(tx, ty) != nullptr;
  return had;
}

}  // namespace

void TLayer::Compact() {
  // A freed tile that held other alphas than its background changes what the thumbnail pixels
  // it feeds reduce to: those still owed a redraw are drawn from it first.
  if (thumb_pending_count_ > 0 && kind_ != lkArgb)
    for (int32_t ty = 0; ty < TBlock::kGridSide; ++ty)
      for (int32_t tx = 0; tx < TBlock::kGridSide; ++tx) {
        const TTC* t = image_->GetTile(tx, ty);
        if (t && t->IsUniform(image_->BackColour()))
          SettleThumbnailFed(tx * TBlock::kTileSide, ty * TBlock::kTileSide, TBlock::kTileSide, TBlock::kTileSide);
      }
  if (thumb_debt_all_) {
    CompactLayerImage(*image_, kind_);
    return;
  }
  const std::vector<uint8_t> had = TilePresence(*image_);
  CompactLayerImage(*image_, kind_);
  OweFreedTiles(had, 0, 0, TBlock::kGridSide - 1, TBlock::kGridSide - 1);
}

void TLayer::OweFreedTiles(const std::vector<uint8_t>& had, int32_t tx0, int32_t ty0, int32_t tx1, int32_t ty1) {
  for (int32_t ty = std::max(ty0, 0); ty <= std::min(ty1, TBlock::kGridSide - 1); ++ty)
    for (int32_t tx = std::max(tx0, 0); tx <= std::min(tx1, TBlock::kGridSide - 1); ++tx)
      if (had[size_t(ty) * TBlock::kGridSide + size_t(tx)] && !image_->GetTile(tx, ty))
        OweThumbnail(tx * TBlock::kTileSide, ty * TBlock::kTileSide, TBlock::kTileSide, TBlock::kTileSide);
}

void TLayer::OweThumbnail(int32_t X, int32_t Y, int32_t W, int32_t H) {
  const int32_t tw = thumbnail_->Width(), th = thumbnail_->Height();
  if (thumb_debt_all_ || thumb_debt_.size() != size_t(tw) * size_t(th)) {
    thumb_debt_all_ = true;
    return;
  }
  int32_t x0, x1, y0, y1;
  if (W > 0 && H > 0 && FedSpan(image_->Width(), tw, X, int64_t(X) + W - 1, x0, x1) &&
      FedSpan(image_->Height(), th, Y, int64_t(Y) + H - 1, y0, y1))
    for (int32_t y = y0; y <= y1; ++y) std::fill_n(thumb_debt_.begin() + (ptrdiff_t(y) * tw + x0), x1 - x0 + 1, uint8_t{1});
}

void TLayer::UpdateThumbnailAfter(int32_t X, int32_t Y, int32_t W, int32_t H) {
  const int32_t tw = thumbnail_->Width(), th = thumbnail_->Height();
  if (thumb_debt_all_ || thumb_debt_.size() != size_t(tw) * size_t(th) || image_->Width() <= 0 ||
      image_->Height() <= 0) {
    UpdateThumbnail();
    return;
  }
  OweThumbnail(X, Y, W, H);
  // Each run of owed pixels drawn on its own: a pixel's value depends on its samples alone, so
  // drawing a pixel more (the reduction draws two rows and columns at least) changes nothing
  // that a whole redraw would not.
  for (int32_t y = 0; y < th; ++y) {
    uint8_t* row = thumb_debt_.data() + ptrdiff_t(y) * tw;
    for (int32_t x = 0; x < tw;) {
      if (!row[x]) {
        ++x;
        continue;
      }
      const int32_t start = x;
      while (x < tw && row[x]) row[x++] = 0;
      MarkReduce(start, y, std::max(x - 1 - start, 1), 1);
    }
  }
}

void TLayer::UpdateThumbnailRect(int32_t X, int32_t Y, int32_t W, int32_t H) {
  const int32_t iw = image_->Width(), ih = image_->Height();
  if (iw <= 0 || ih <= 0) return;
  const int32_t tw = thumbnail_->Width(), th = thumbnail_->Height();
  const int32_t tx = TruncInt(static_cast<ext_t>(int64_t(X) * tw) / static_cast<ext_t>(iw));
  const int32_t ty = TruncInt(static_cast<ext_t>(int64_t(Y) * th) / static_cast<ext_t>(ih));
  const float rx = static_cast<float>(static_cast<ext_t>(tw) / static_cast<ext_t>(iw));
  const float ry = static_cast<float>(static_cast<ext_t>(th) / static_cast<ext_t>(ih));
  const int32_t tW = TruncInt(static_cast<ext_t>(W) * static_cast<ext_t>(rx)) + 1;
  const int32_t tH = TruncInt(static_cast<ext_t>(H) * static_cast<ext_t>(ry)) + 1;
  MarkReduce(tx, ty, tW, tH);
  // What this redraw drew is fresh; what the rectangle feeds beyond it is owed to the next
  // redraw that stands for a whole one.
  if (thumb_debt_all_ || thumb_debt_.size() != size_t(tw) * size_t(th)) return;
  if (tW <= 0 || tH <= 0) {
    thumb_debt_all_ = true;  // nothing was drawn; keep no count of what is owed
    return;
  }
  const int64_t dx0 = std::max<int64_t>(tx, 0), dx1 = std::min<int64_t>(int64_t(tx) + tW, tw - 1);
  const int64_t dy0 = std::max<int64_t>(ty, 0), dy1 = std::min<int64_t>(int64_t(ty) + tH, th - 1);
  for (int64_t y = dy0; y <= dy1; ++y)
    for (int64_t x = dx0; x <= dx1; ++x) thumb_debt_[size_t(y * tw + x)] = 0;
  int32_t x0, x1, y0, y1;
  if (W <= 0 || H <= 0 || !FedSpan(iw, tw, X, int64_t(X) + W - 1, x0, x1) || !FedSpan(ih, th, Y, int64_t(Y) + H - 1, y0, y1))
    return;
  for (int32_t y = y0; y <= y1; ++y)
    for (int32_t x = x0; x <= x1; ++x)
      if (x < dx0 || x > dx1 || y < dy0 || y > dy1) thumb_debt_[size_t(y) * tw + size_t(x)] = 1;
}

int64_t TLayer::MemorySize() const {
  return image_->MemoryUsed() + int64_t(thumbnail_->Width()) * thumbnail_->Height() * 4;
}

int64_t TLayer::UndoMemorySize() const {
  int64_t sum = 0;
  for (const auto& slot : undo_) sum += slot->MemoryUsed();
  return sum;
}

void TLayer::ClearUndo() {
  for (auto& slot : undo_) slot->SetSize(kEmptySlotSide, kEmptySlotSide);
  undo_steps_ = 0;
  undo_top_ = 0;
}

TBlockImage& TLayer::NextUndoSlot(int32_t X, int32_t Y, int32_t W, int32_t H) {
  undo_steps_ = std::min(undo_steps_ + 1, kUndoSlots);
  undo_top_ = (undo_top_ + 1) % kUndoSlots;
  TBlockImage& slot = *undo_[undo_top_];
  slot.SetSize(W, H);
  slot.SetBackColour(ClearColor());
  undo_origin_[undo_top_] = TPoint{X, Y};
  return slot;
}

void TLayer::PushUndo() {
  SettleThumbnail();
  TBlockImage& slot = NextUndoSlot(0, 0, image_->Width(), image_->Height());
  image_->CopyToBlock(slot, 0, 0);
}

void TLayer::PushUndoRect(int32_t X, int32_t Y, int32_t W, int32_t H) {
  IntersectWithImage(image_->Width(), image_->Height(), X, Y, W, H);
  SettleThumbnailFed(X, Y, W, H);
  TBlockImage& slot = NextUndoSlot(X, Y, W, H);
  if (W > 0 && H > 0) image_->CopyRectToBlock(slot, X, Y, W, H, 0, 0);
}

bool TLayer::PopUndo(TBlockImage* work, int32_t& X, int32_t& Y, int32_t& W, int32_t& H) {
  X = Y = W = H = 0;
  if (undo_steps_ <= 0) return false;
  undo_steps_ -= 1;
  TBlockImage& slot = *undo_[undo_top_];
  const TPoint origin = undo_origin_[undo_top_];
  SettleThumbnail();
  slot.CopyToBlock(*image_, origin.X, origin.Y);
  if (work) slot.CopyToBlock(*work, origin.X, origin.Y);
  X = origin.X;
  Y = origin.Y;
  W = slot.Width();
  H = slot.Height();
  // The tiles the compaction examines (see CompactLayerImageRect); those it frees are owed.
  const int32_t tx0 = TBlock::TileIndex(X) - 1, ty0 = TBlock::TileIndex(Y) - 1;
  const std::vector<uint8_t> had = thumb_debt_all_ ? std::vector<uint8_t>() : TilePresence(*image_);
  CompactLayerImageRect(*image_, kind_, X, Y, W, H);
  if (!had.empty()) OweFreedTiles(had, tx0, ty0, tx0 + W / 64 + 1, ty0 + H / 64 + 1);
  if (work) CompactLayerImageRect(*work, kind_, X, Y, W, H);
  slot.SetSize(kEmptySlotSide, kEmptySlotSide);
  undo_top_ = undo_top_ == 0 ? kUndoSlots - 1 : undo_top_ - 1;
  return true;
}

void TLayer::Assign(TLayer& dest) const {
  SettleThumbnail();
  dest.SettleThumbnail();
  image_->CloneTo(*dest.image_);
  thumbnail_->CopyTo(*dest.thumbnail_, 0, 0);
  const bool same = dest.thumbnail_->Width() == thumbnail_->Width() && dest.thumbnail_->Height() == thumbnail_->Height();
  dest.thumb_debt_all_ = thumb_debt_all_ || !same;
  dest.thumb_debt_ = thumb_debt_;
  dest.SetOpacity(opacity_);
  dest.SetVisible(visible_);
  dest.SetKind(kind_);
  for (int32_t i = 0; i < kUndoSlots; ++i) {
    dest.undo_[i]->SetSize(undo_[i]->Width(), undo_[i]->Height());
    undo_[i]->CloneTo(*dest.undo_[i]);
    dest.SetUndoOrigin(i, undo_origin_[i].X, undo_origin_[i].Y);
  }
  dest.SetUndoTop(undo_top_);
  dest.SetUndoSteps(undo_steps_);
}

void TLayer::Clear() {
  image_->FreeAll();
  thumbnail_->Fill(ClearColor());
  std::fill(thumb_pending_.begin(), thumb_pending_.end(), uint8_t{0});
  thumb_pending_count_ = 0;
  // An empty layer reduces to its clear colour: the fill is a whole redraw.
  thumb_debt_all_ = image_->Width() <= 0 || image_->Height() <= 0;
  thumb_debt_.assign(size_t(thumbnail_->Width()) * size_t(thumbnail_->Height()), 0);
}

void TLayer::FillSelection(const TSelectSlot& slot, uint32_t colour) {
  colour |= 0xFF000000u;
  if (slot.Empty || !slot.Mask)
    image_->Fill(colour);
  else
    image_->BlendColourThroughMask(*slot.Mask, 0, 0, image_->Width(), image_->Height(), colour);
}

// Pixels outside the layer belong to no picture pixel; a rectangle is cut to the layer so that
// nothing is written or kept there.
void TLayer::FillRect(int32_t X, int32_t Y, int32_t W, int32_t H, uint32_t colour) {
  IntersectWithImage(image_->Width(), image_->Height(), X, Y, W, H);
  if (W > 0 && H > 0) image_->FillRect(X, Y, W, H, colour | 0xFF000000u);
}

void TLayer::ClearRect(int32_t X, int32_t Y, int32_t W, int32_t H) { FillRect(X, Y, W, H, ClearColor()); }

void TLayer::Offset(int32_t dx, int32_t dy) {
  const int32_t w = image_->Width(), h = image_->Height();
  // A shift by the whole layer or more leaves only the clear colour; capping it keeps every
  // coordinate sum in range.
  dx = std::clamp(dx, -w, w);
  dy = std::clamp(dy, -h, h);
  // The copy through a block of the layer's own background gives the same pixels as one
  // through a block filled with it, without materialising every tile.
  TBlockImage temp;
  temp.SetSize(w, h);
  temp.SetBackColour(image_->BackColour());
  image_->CopyToBlock(temp, 0, 0);
  image_->FreeAll();
  temp.CopyToBlock(*image_, dx, dy);
  Compact();
}

void TLayer::Mirror() {
  image_->FlipHorizontal();
  Compact();
}

void TLayer::UpsideDown() {
  image_->FlipVertical();
  Compact();
}

void TLayer::Rotate180() {
  TBlockImage temp;
  temp.SetSize(image_->Width(), image_->Height());
  temp.SetBackColour(image_->BackColour());
  image_->CopyToBlock(temp, 0, 0);
  temp.Rotate180To(*image_);
  Compact();
}

void TLayer::NegaPosi() {
  image_->Invert();
  Compact();
}
