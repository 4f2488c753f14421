#pragma once
// Rectangle walks shared by the channel and canvas operations (internal to the engine).
#include <cstdint>
#include <cstring>

#include "engine/Channel.h"

struct TClippedFill {
  int32_t X = 0, Y = 0, W = 0, H = 0;
};

// The fill clipping rule: rejected when x >= Width, y >= Height, x + w < 0 or y + h < 0; a
// negative x (y) becomes 0 and w (h) shrinks by as much; rows are cut at the bottom and each
// row at the right edge.
inline bool ClipFillRect(int32_t Width, int32_t Height, int32_t x, int32_t y, int32_t w, int32_t h, TClippedFill& out) {
  int64_t X = x, Y = y, W = w, H = h;
  if (X >= Width || Y >= Height || X + W < 0 || Y + H < 0) return false;
  if (X < 0) { W += X; X = 0; }
  if (Y < 0) { H += Y; Y = 0; }
  if (Y + H > Height) H = Height - Y;
  if (W > Width - X) W = Width - X;
  if (W <= 0 || H <= 0) return false;
  out = {static_cast<int32_t>(X), static_cast<int32_t>(Y), static_cast<int32_t>(W), static_cast<int32_t>(H)};
  return true;
}

// Walks a clipped rectangle: destination rows top to bottom, within a row the columns from the
// last to the first, each source pixel read when it is reached. That order is what a transfer
// of a bitmap onto itself gives; between two bitmaps no pixel depends on another, so the rows
// are walked forward, which lets the compiler vectorise the simple operations.
template <int Bpp, class Op>
inline void WalkRect(const TChannel& src, TChannel& dst, int32_t SrcX, int32_t SrcY, int32_t W, int32_t H,
                     int32_t DstX, int32_t DstY, Op op) {
  if (!ClipCopyRect(src, dst, W, H, SrcX, SrcY, DstX, DstY)) return;
  const bool same = src.Bits() == dst.Bits();
  for (int32_t r = 0; r < H; ++r) {
    uint8_t* d = dst.Row(DstY + r) + int64_t(DstX) * Bpp;
    const uint8_t* s = src.Row(SrcY + r) + int64_t(SrcX) * Bpp;
    if (same) {
      for (int32_t x = W - 1; x >= 0; --x) op(d + int64_t(x) * Bpp, s + int64_t(x) * Bpp);
    } else {
      uint8_t* __restrict dr = d;
      const uint8_t* __restrict sr = s;
      for (int32_t x = 0; x < W; ++x) op(dr + int64_t(x) * Bpp, sr + int64_t(x) * Bpp);
    }
  }
}

// Whole-pixel copy with the same order rule.
template <int Bpp>
inline void CopyRect(const TChannel& src, TChannel& dst, int32_t SrcX, int32_t SrcY, int32_t W, int32_t H,
                     int32_t DstX, int32_t DstY) {
  if (!ClipCopyRect(src, dst, W, H, SrcX, SrcY, DstX, DstY)) return;
  const bool same = src.Bits() == dst.Bits();
  for (int32_t r = 0; r < H; ++r) {
    uint8_t* d = dst.Row(DstY + r) + int64_t(DstX) * Bpp;
    const uint8_t* s = src.Row(SrcY + r) + int64_t(SrcX) * Bpp;
    if (!same) {
      std::memcpy(d, s, static_cast<size_t>(W) * Bpp);
    } else {
      for (int32_t x = W - 1; x >= 0; --x) std::memcpy(d + int64_t(x) * Bpp, s + int64_t(x) * Bpp, Bpp);
    }
  }
}
