#pragma once
// Eight-bit single-channel bitmaps (masks, coverage) and the blend tables that every alpha,
// add, subtract and multiply operation of channels, canvases and tiles reads.
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "engine/Types.h"

// Blend tables, built at compile time (constant-initialised before any code runs), read only.
// T_AlphaDiff[alpha][d & 255] = trunc(2 * alpha * d / 255) for the half-difference d in
// -128..127, stored as a two's-complement byte (values beyond 127 wrap, as 8-bit adds expect).
using TBlendTable = std::array<std::array<uint8_t, 256>, 256>;
extern const std::array<std::array<int8_t, 256>, 256> T_AlphaDiff;
// T_Mul[a][v] = a * v div 255.
extern const TBlendTable T_Mul;
// T_FadeWhite[alpha][v] = 255 - alpha * (255 - v) div 255: v seen through alpha over white.
extern const TBlendTable T_FadeWhite;

// The byte blend: both values halved before their difference, so the step is a signed byte and
// the result never leaves 0..255. Alpha 255 is not an exact store here; callers special-case it.
inline uint8_t BlendByte(uint8_t p, uint8_t value, uint8_t alpha) {
  return static_cast<uint8_t>(p + static_cast<uint8_t>(T_AlphaDiff[alpha][static_cast<uint8_t>((value >> 1) - (p >> 1))]));
}

// The largest storage a channel or canvas may own; a larger size fails cleanly.
constexpr int64_t kMaxBitmapBytes = int64_t(1) << 30;

// How a bitmap lets its storage go: pixels of new[], of a mapping of Mapped bytes of its own,
// or of another allocator whose Fn takes them back; a row table of its own, or one shared and
// never freed.
void UnmapBits(uint8_t* p, size_t mapped);
struct TBitsRelease {
  void (*Fn)(uint8_t*) = nullptr;
  size_t Mapped = 0;
  void operator()(uint8_t* p) const {
    if (Mapped) UnmapBits(p, Mapped);
    else if (Fn) Fn(p);
    else delete[] p;
  }
};
struct TRowsRelease {
  bool Shared = false;
  void operator()(int64_t* p) const {
    if (!Shared) delete[] p;
  }
};

// One byte per pixel. Rows are stored top row first; every access goes through the row table,
// so the byte of (x, y) is Bits() + RowOffsets()[y] + x (times 4 for canvases).
// Reads outside the bitmap clamp to the nearest edge, writes there are ignored, rectangles are
// clipped by ClipCopyRect.
class TChannel {
 public:
  // 4 x 4; new storage is always zeroed.
  TChannel();
  TChannel(int32_t W, int32_t H);
  virtual ~TChannel();
  TChannel(const TChannel&) = delete;
  TChannel& operator=(const TChannel&) = delete;

  // Replaces the storage (even at the same size) with zeroed bytes; a negative side is 0.
  // When the storage cannot be had (beyond kMaxBitmapBytes or out of memory) the bitmap keeps
  // its old size and bytes and the result is false.
  virtual bool SetSize(int32_t W, int32_t H);

  int32_t Width() const { return width_; }
  int32_t Height() const { return height_; }
  uint8_t* Bits() { return bits_.get(); }
  const uint8_t* Bits() const { return bits_.get(); }
  // Byte offset of each row within Bits (64-bit: large canvases exceed 2^31 bytes of offsets).
  const int64_t* RowOffsets() const { return rows_.get(); }
  uint8_t* Row(int32_t y) { return bits_.get() + rows_[y]; }
  const uint8_t* Row(int32_t y) const { return bits_.get() + rows_[y]; }
  // Storage size in bytes.
  int64_t ByteSize() const { return int64_t(width_) * height_ * bpp_; }

  // Asks for storage left as it comes, for a bitmap whose owner writes every byte first.
  struct TUncleared {};
  // Storage lent by a pool: Release takes the pixels back when the bitmap lets them go; the
  // row table is shared by every bitmap of the pool's shape and is never freed.
  struct TLentStorage {
    uint8_t* Bits = nullptr;
    void (*Release)(uint8_t*) = nullptr;
    const int64_t* Rows = nullptr;
  };

  void BlendPixel(int32_t x, int32_t y, uint8_t value, uint8_t alpha);
  uint8_t GetPixel(int32_t x, int32_t y) const;  // 0 for an empty bitmap
  void Fill(uint8_t value);
  void FillRect(int32_t x, int32_t y, int32_t w, int32_t h, uint8_t value);

  // The object is the source, the first argument the destination. The destination may be
  // the source itself: rows are walked top to bottom and columns from the last to the first,
  // each pixel read when it is reached.
  void AddRectTo(TChannel& dst, int32_t SrcX, int32_t SrcY, int32_t W, int32_t H, int32_t DstX, int32_t DstY, uint8_t alpha) const;
  void SubtractRectFrom(TChannel& dst, int32_t SrcX, int32_t SrcY, int32_t W, int32_t H, int32_t DstX, int32_t DstY, uint8_t alpha) const;
  void AndRectTo(TChannel& dst, int32_t SrcX, int32_t SrcY, int32_t W, int32_t H, int32_t DstX, int32_t DstY) const;
  void CopyRectTo(TChannel& dst, int32_t SrcX, int32_t SrcY, int32_t W, int32_t H, int32_t DstX, int32_t DstY) const;

 protected:
  // For the canvas chain: a bitmap of bytesPerPixel bytes per pixel, sized W x H without any
  // virtual call, so each class builds its own storage in its own constructor.
  TChannel(int32_t bytesPerPixel, int32_t W, int32_t H);
  TChannel(int32_t bytesPerPixel, int32_t W, int32_t H, TUncleared);
  // W x H pixels in lent storage, left as they come.
  TChannel(int32_t bytesPerPixel, int32_t W, int32_t H, const TLentStorage& lent);
  // The storage step shared by every SetSize; no clamping beyond "negative is 0".
  bool Allocate(int32_t W, int32_t H, bool clear = true);
  // The same for an owner that writes every byte next: large storage is resized where it lies,
  // keeping the pages it has (a fresh large bitmap's first touch is most of its cost), and
  // nothing is cleared. On failure the bitmap keeps its size and bytes.
  bool Reshape(int32_t W, int32_t H);

 private:
  int32_t width_ = 0, height_ = 0;
  int32_t bpp_ = 1;
  std::unique_ptr<uint8_t[], TBitsRelease> bits_;
  std::unique_ptr<int64_t[], TRowsRelease> rows_;
};

// The clipping rule of every channel and canvas rectangle operation: true when something is
// left to copy, with the rectangle then lying inside both bitmaps. The values are written back
// only when the result is true.
bool ClipCopyRect(const TChannel& src, const TChannel& dst, int32_t& W, int32_t& H, int32_t& SrcX, int32_t& SrcY,
                  int32_t& DstX, int32_t& DstY);

// Dirty rectangle of a point list: Left = min x - 2, Top = min y - 2, Width = max x - min x + 4,
// Height = max y - min y + 4. No points give the empty rectangle 0, 0, 0, 0.
void PointsBounds(const TPoint* points, int32_t count, int32_t& Left, int32_t& Top, int32_t& Width, int32_t& Height);

inline void SwapInts(int32_t& a, int32_t& b) { int32_t t = a; a = b; b = t; }
inline void SwapSingles(float& a, float& b) { float t = a; a = b; b = t; }
inline void SwapBytes(uint8_t& a, uint8_t& b) { uint8_t t = a; a = b; b = t; }
