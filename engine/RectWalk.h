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

// The colour bytes of a rectangle through a byte operation op(d, s) -> new d: B, G and R of
// canvases (alpha kept), the one byte of channels. Same walk order as WalkRect; between two
// bitmaps each row is one pass over its bytes with the alpha lanes masked, which vectorises.
template <int Bpp, class Op>
inline void WalkBytes(const TChannel& src, TChannel& dst, int32_t SrcX, int32_t SrcY, int32_t W, int32_t H,
                      int32_t DstX, int32_t DstY, Op op) {
  if (!ClipCopyRect(src, dst, W, H, SrcX, SrcY, DstX, DstY)) return;
  constexpr int kColour = Bpp == 4 ? 3 : 1;
  const bool same = src.Bits() == dst.Bits();
  for (int32_t r = 0; r < H; ++r) {
    uint8_t* d = dst.Row(DstY + r) + int64_t(DstX) * Bpp;
    const uint8_t* s = src.Row(SrcY + r) + int64_t(SrcX) * Bpp;
    if (same) {
      for (int32_t x = W - 1; x >= 0; --x)
        for (int k = 0; k < kColour; ++k)
          d[int64_t(x) * Bpp + k] = op(d[int64_t(x) * Bpp + k], s[int64_t(x) * Bpp + k]);
    } else {
      uint8_t* __restrict dr = d;
      const uint8_t* __restrict sr = s;
      if constexpr (Bpp == 1) {
        for (int32_t i = 0; i < W; ++i) dr[i] = op(dr[i], sr[i]);
      } else {
        // Every byte through the operation in chunks of 64 pixels, the alpha bytes put back.
        uint8_t keep[64];
        for (int32_t x0 = 0; x0 < W; x0 += 64) {
          const int32_t m = W - x0 < 64 ? W - x0 : 64;
          uint8_t* __restrict dc = dr + int64_t(x0) * 4;
          const uint8_t* __restrict sc = sr + int64_t(x0) * 4;
          for (int32_t k = 0; k < m; ++k) keep[k] = dc[4 * k + 3];
          for (int32_t i = 0; i < 4 * m; ++i) dc[i] = op(dc[i], sc[i]);
          for (int32_t k = 0; k < m; ++k) dc[4 * k + 3] = keep[k];
        }
      }
    }
  }
}

// The byte operations, as 16-bit arithmetic that gives exactly the entries of the blend tables
// (checked over every index by the tests) and vectorises in 16-bit lanes.
// x div 255 for 0 <= x <= 65280.
inline uint16_t Div255(uint16_t x) { return uint16_t((x + 1 + (x >> 8)) >> 8); }

struct TAddOp {
  uint16_t a;
  uint8_t operator()(uint8_t d, uint8_t s) const {
    const uint16_t v = uint16_t(d + Div255(uint16_t(a * s)));
    return uint8_t(v > 255 ? 255 : v);
  }
};
struct TSubtractOp {
  uint16_t a;
  uint8_t operator()(uint8_t d, uint8_t s) const {
    const uint16_t m = Div255(uint16_t(a * s));
    return uint8_t(d > m ? d - m : 0);
  }
};
struct TMultiplyOp {  // d x (s faded towards white by a) div 255
  uint16_t a;
  uint8_t operator()(uint8_t d, uint8_t s) const {
    const uint16_t f = uint16_t(255 - Div255(uint16_t(a * (255 - s))));
    return uint8_t(Div255(uint16_t(d * f)));
  }
};
struct TBlendOp {  // d + trunc(2 a (s/2 - d/2) / 255): T_AlphaDiff without the lookup
  uint16_t a;
  uint8_t operator()(uint8_t d, uint8_t s) const {
    const uint8_t hs = uint8_t(s >> 1), hd = uint8_t(d >> 1);
    const uint16_t q = Div255(uint16_t(2 * a * (hs > hd ? hs - hd : hd - hs)));
    return uint8_t(hs > hd ? d + q : d - q);
  }
};
// The same three at full opacity, where a * s div 255 is s itself: fewer steps per byte for
// the layers most papers composite.
struct TAddFullOp {
  uint8_t operator()(uint8_t d, uint8_t s) const {
    const uint16_t v = uint16_t(d + s);
    return uint8_t(v > 255 ? 255 : v);
  }
};
struct TSubtractFullOp {
  uint8_t operator()(uint8_t d, uint8_t s) const { return uint8_t(d > s ? d - s : 0); }
};
struct TMultiplyFullOp {
  uint8_t operator()(uint8_t d, uint8_t s) const { return uint8_t(Div255(uint16_t(d * s))); }
};
struct TAndOp {
  uint8_t operator()(uint8_t d, uint8_t s) const { return uint8_t(d & s); }
};

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
