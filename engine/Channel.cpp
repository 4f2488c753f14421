#include "engine/Channel.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

#include "engine/RectWalk.h"

namespace {

constexpr std::array<std::array<int8_t, 256>, 256> MakeAlphaDiff() {
  std::array<std::array<int8_t, 256>, 256> t{};
  for (int a = 0; a < 256; ++a)
    for (int d = -128; d < 128; ++d) {
      int v = 2 * a * d / 255;  // integer division truncates toward zero, as the entry demands
      t[a][d & 255] = static_cast<int8_t>(static_cast<uint8_t>(v & 255));
    }
  return t;
}

constexpr TBlendTable MakeMul() {
  TBlendTable t{};
  for (int a = 0; a < 256; ++a)
    for (int v = 0; v < 256; ++v) t[a][v] = static_cast<uint8_t>(a * v / 255);
  return t;
}

constexpr TBlendTable MakeFadeWhite() {
  TBlendTable t{};
  for (int a = 0; a < 256; ++a)
    for (int v = 0; v < 256; ++v) t[a][v] = static_cast<uint8_t>(255 - a * (255 - v) / 255);
  return t;
}

// Bitmaps of this size and more (a paper's composite, its view) are mapped on whole huge pages
// where the system offers them: their first touch then costs one page fault per 2 MB instead
// of one per 4 KB, which is most of the time a fresh large canvas takes. A fresh mapping reads
// as zeros.
constexpr int64_t kLargeBitmap = int64_t(4) << 20;
constexpr size_t kHugePage = size_t(2) << 20;

size_t MappedSize(int64_t bytes) { return (size_t(bytes) + kHugePage - 1) / kHugePage * kHugePage; }

// A mapping of `mapped` bytes (a whole number of huge pages) that starts on a huge page.
uint8_t* MapLarge(size_t mapped) {
  void* p = ::mmap(nullptr, mapped + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) return nullptr;
  uint8_t* base = static_cast<uint8_t*>(p);
  const size_t head = (kHugePage - reinterpret_cast<uintptr_t>(base) % kHugePage) % kHugePage;
  if (head) ::munmap(base, head);
  if (kHugePage - head) ::munmap(base + head + mapped, kHugePage - head);
#ifdef MADV_HUGEPAGE
  ::madvise(base + head, mapped, MADV_HUGEPAGE);  // advice only: without it the pages are small
#endif
  return base + head;
}

// The mapping p of `had` bytes resized to `want`, its pages kept (moved, not copied, when it
// cannot grow where it lies); null, with p untouched, when the memory cannot be had.
uint8_t* RemapLarge(uint8_t* p, size_t had, size_t want) {
  if (want <= had) {
    if (want < had) ::munmap(p + want, had - want);
    return p;
  }
  if (::mremap(p, had, want, 0) != MAP_FAILED) return p;
  uint8_t* q = MapLarge(want);
  if (!q) return nullptr;
  if (::mremap(p, had, had, MREMAP_MAYMOVE | MREMAP_FIXED, q) == MAP_FAILED) {
    ::munmap(q, want);
    return nullptr;
  }
  return q;
}

}  // namespace

constinit const std::array<std::array<int8_t, 256>, 256> T_AlphaDiff = MakeAlphaDiff();
constinit const TBlendTable T_Mul = MakeMul();
constinit const TBlendTable T_FadeWhite = MakeFadeWhite();

TChannel::TChannel() : TChannel(1, 4, 4) {}

TChannel::TChannel(int32_t W, int32_t H) : TChannel(1, W, H) {}

TChannel::TChannel(int32_t bytesPerPixel, int32_t W, int32_t H) : bpp_(bytesPerPixel) {
  Allocate(W, H);  // a refused size leaves the bitmap empty (0 x 0)
}

TChannel::TChannel(int32_t bytesPerPixel, int32_t W, int32_t H, TUncleared) : bpp_(bytesPerPixel) {
  Allocate(W, H, false);
}

TChannel::TChannel(int32_t bytesPerPixel, int32_t W, int32_t H, const TLentStorage& lent)
    : width_(W), height_(H), bpp_(bytesPerPixel) {
  bits_ = std::unique_ptr<uint8_t[], TBitsRelease>(lent.Bits, TBitsRelease{lent.Release});
  rows_ = std::unique_ptr<int64_t[], TRowsRelease>(const_cast<int64_t*>(lent.Rows), TRowsRelease{true});
}

TChannel::~TChannel() = default;

bool TChannel::Allocate(int32_t W, int32_t H, bool clear) {
  if (W < 0) W = 0;
  if (H < 0) H = 0;
  const int64_t pixels = int64_t(W) * H;  // at most 2^62: no overflow
  const int64_t budget = kMaxBitmapBytes - int64_t(H) * int64_t(sizeof(int64_t));
  if (budget < 0 || pixels > budget / bpp_) return false;
  const int64_t bytes = pixels * bpp_;
  std::unique_ptr<uint8_t[], TBitsRelease> bits;
  if (bytes >= kLargeBitmap) {
    const size_t mapped = MappedSize(bytes);
    bits = std::unique_ptr<uint8_t[], TBitsRelease>(MapLarge(mapped), TBitsRelease{nullptr, mapped});
    if (!bits) return false;  // a fresh mapping is already clear
  } else if (bytes > 0) {
    bits.reset(new (std::nothrow) uint8_t[static_cast<size_t>(bytes)]);
    if (!bits) return false;
    if (clear) std::memset(bits.get(), 0, static_cast<size_t>(bytes));
  }
  std::unique_ptr<int64_t[], TRowsRelease> rows;
  if (H > 0) {
    rows.reset(new (std::nothrow) int64_t[static_cast<size_t>(H)]);
    if (!rows) return false;
    const int64_t stride = int64_t(W) * bpp_;
    for (int32_t y = 0; y < H; ++y) rows[y] = y * stride;
  }
  bits_ = std::move(bits);
  rows_ = std::move(rows);
  width_ = W;
  height_ = H;
  return true;
}

bool TChannel::Reshape(int32_t W, int32_t H) {
  if (W < 0) W = 0;
  if (H < 0) H = 0;
  const size_t had = bits_.get_deleter().Mapped;
  const int64_t pixels = int64_t(W) * H;
  const int64_t budget = kMaxBitmapBytes - int64_t(H) * int64_t(sizeof(int64_t));
  if (had == 0 || budget < 0 || pixels > budget / bpp_ || pixels * bpp_ < kLargeBitmap) return Allocate(W, H, false);
  std::unique_ptr<int64_t[], TRowsRelease> rows(new (std::nothrow) int64_t[static_cast<size_t>(H)]);
  if (!rows) return false;
  const size_t want = MappedSize(pixels * bpp_);
  uint8_t* p = RemapLarge(bits_.get(), had, want);
  if (!p) return false;
  (void)bits_.release();
  bits_ = std::unique_ptr<uint8_t[], TBitsRelease>(p, TBitsRelease{nullptr, want});
  const int64_t stride = int64_t(W) * bpp_;
  for (int32_t y = 0; y < H; ++y) rows[y] = y * stride;
  rows_ = std::move(rows);
  width_ = W;
  height_ = H;
  return true;
}

bool TChannel::SetSize(int32_t W, int32_t H) { return Allocate(W, H); }

void UnmapBits(uint8_t* p, size_t mapped) { ::munmap(p, mapped); }

void TChannel::BlendPixel(int32_t x, int32_t y, uint8_t value, uint8_t alpha) {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
  uint8_t& p = Row(y)[x];
  p = alpha == 255 ? value : BlendByte(p, value, alpha);
}

uint8_t TChannel::GetPixel(int32_t x, int32_t y) const {
  if (width_ <= 0 || height_ <= 0) return 0;
  x = std::clamp(x, 0, width_ - 1);
  y = std::clamp(y, 0, height_ - 1);
  return Row(y)[x];
}

void TChannel::Fill(uint8_t value) {
  if (ByteSize() > 0) std::memset(bits_.get(), value, static_cast<size_t>(ByteSize()));
}

void TChannel::FillRect(int32_t x, int32_t y, int32_t w, int32_t h, uint8_t value) {
  TClippedFill f;
  if (!ClipFillRect(width_, height_, x, y, w, h, f)) return;
  for (int32_t r = 0; r < f.H; ++r) std::memset(Row(f.Y + r) + f.X, value, static_cast<size_t>(f.W));
}

void TChannel::AddRectTo(TChannel& dst, int32_t SrcX, int32_t SrcY, int32_t W, int32_t H, int32_t DstX, int32_t DstY,
                         uint8_t alpha) const {
  WalkBytes<1>(*this, dst, SrcX, SrcY, W, H, DstX, DstY, TAddOp{alpha});
}

void TChannel::SubtractRectFrom(TChannel& dst, int32_t SrcX, int32_t SrcY, int32_t W, int32_t H, int32_t DstX,
                                int32_t DstY, uint8_t alpha) const {
  WalkBytes<1>(*this, dst, SrcX, SrcY, W, H, DstX, DstY, TSubtractOp{alpha});
}

void TChannel::AndRectTo(TChannel& dst, int32_t SrcX, int32_t SrcY, int32_t W, int32_t H, int32_t DstX,
                         int32_t DstY) const {
  WalkBytes<1>(*this, dst, SrcX, SrcY, W, H, DstX, DstY, TAndOp{});
}

void TChannel::CopyRectTo(TChannel& dst, int32_t SrcX, int32_t SrcY, int32_t W, int32_t H, int32_t DstX,
                          int32_t DstY) const {
  CopyRect<1>(*this, dst, SrcX, SrcY, W, H, DstX, DstY);
}

bool ClipCopyRect(const TChannel& src, const TChannel& dst, int32_t& W, int32_t& H, int32_t& SrcX, int32_t& SrcY,
                  int32_t& DstX, int32_t& DstY) {
  // 64-bit throughout: hostile positions and sizes must not overflow on the way.
  const int64_t Sw = src.Width(), Sh = src.Height(), Dw = dst.Width(), Dh = dst.Height();
  int64_t w = W, h = H, sx = SrcX, sy = SrcY, dx = DstX, dy = DstY;
  if (w + dx <= 0 || h + dy <= 0 || dx >= Dw || dy >= Dh || sx >= Sw || sy >= Sh || sx + w < 0 || sy + h < 0)
    return false;
  if (sx + w >= Sw) w = Sw - sx;
  if (sy + h >= Sh) h = Sh - sy;
  if (sx < 0) { dx -= sx; w += sx; sx = 0; }
  if (sy < 0) { dy -= sy; h += sy; sy = 0; }
  if (dx < 0) { sx -= dx; w += dx; dx = 0; }
  if (dy < 0) { sy -= dy; h += dy; dy = 0; }
  if (dx + w > Dw) w = Dw - dx;
  if (dy + h > Dh) h = Dh - dy;
  if (w <= 0 || h <= 0) return false;
  W = static_cast<int32_t>(w);
  H = static_cast<int32_t>(h);
  SrcX = static_cast<int32_t>(sx);
  SrcY = static_cast<int32_t>(sy);
  DstX = static_cast<int32_t>(dx);
  DstY = static_cast<int32_t>(dy);
  return true;
}

void PointsBounds(const TPoint* points, int32_t count, int32_t& Left, int32_t& Top, int32_t& Width, int32_t& Height) {
  if (!points || count <= 0) {
    Left = Top = Width = Height = 0;
    return;
  }
  int64_t minX = points[0].X, maxX = minX, minY = points[0].Y, maxY = minY;
  for (int32_t i = 1; i < count; ++i) {
    minX = std::min<int64_t>(minX, points[i].X);
    maxX = std::max<int64_t>(maxX, points[i].X);
    minY = std::min<int64_t>(minY, points[i].Y);
    maxY = std::max<int64_t>(maxY, points[i].Y);
  }
  auto fit = [](int64_t v) {
    return static_cast<int32_t>(std::clamp<int64_t>(v, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()));
  };
  Left = fit(minX - 2);
  Top = fit(minY - 2);
  Width = fit(maxX - minX + 4);
  Height = fit(maxY - minY + 4);
}
