#include "engine/TrueCnvs.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "engine/RectWalk.h"
#include "platform/core/KeyState.h"
#include "platform/core/MessageBox.h"

namespace {

constexpr uint32_t kOpaque = 0xFF000000u;

inline int32_t SideOrTwo(int32_t v) { return v <= 0 ? 2 : v; }

// B, G and R of d move toward those of c through one alpha row; A is kept.
inline void BlendColourBytes(uint8_t* d, const uint8_t* c, const int8_t* row) {
  for (int k = 0; k < 3; ++k)
    d[k] = static_cast<uint8_t>(d[k] + static_cast<uint8_t>(row[static_cast<uint8_t>((c[k] >> 1) - (d[k] >> 1))]));
}

inline void ColourBytes(uint32_t colour, uint8_t out[4]) {
  out[0] = static_cast<uint8_t>(colour);
  out[1] = static_cast<uint8_t>(colour >> 8);
  out[2] = static_cast<uint8_t>(colour >> 16);
  out[3] = static_cast<uint8_t>(colour >> 24);
}

// Copies the clipped rectangle and returns the destination area that was written.
TRect CopyPixelsRect(const TPixelView& dst, int32_t dx, int32_t dy, int32_t w, int32_t h, const TPixelView& src,
                     int32_t sx, int32_t sy) {
  if (dst.IsEmpty() || src.IsEmpty() || w <= 0 || h <= 0) return {};
  const int64_t i0 = std::max<int64_t>({0, -int64_t(dx), -int64_t(sx)});
  const int64_t i1 = std::min<int64_t>({w, int64_t(dst.Width) - dx, int64_t(src.Width) - sx});
  const int64_t j0 = std::max<int64_t>({0, -int64_t(dy), -int64_t(sy)});
  const int64_t j1 = std::min<int64_t>({h, int64_t(dst.Height) - dy, int64_t(src.Height) - sy});
  if (i0 >= i1 || j0 >= j1) return {};
  const size_t n = static_cast<size_t>(i1 - i0) * 4;
  // Rows in the direction that keeps an overlapping copy within one view intact.
  const bool up = dst.Bits == src.Bits && dy > sy;
  for (int64_t k = 0; k < j1 - j0; ++k) {
    const int64_t j = up ? j1 - 1 - k : j0 + k;
    std::memmove(dst.Row(static_cast<int32_t>(dy + j)) + dx + i0, src.Row(static_cast<int32_t>(sy + j)) + sx + i0, n);
  }
  return TRect{static_cast<int32_t>(dx + i0), static_cast<int32_t>(dy + j0), static_cast<int32_t>(dx + i1),
               static_cast<int32_t>(dy + j1)};
}

TRect StretchPixelsRect(const TPixelView& dst, int32_t dx, int32_t dy, int32_t dw, int32_t dh, const TPixelView& src,
                        int32_t sx, int32_t sy, int32_t sw, int32_t sh) {
  if (dst.IsEmpty() || src.IsEmpty() || dw <= 0 || dh <= 0 || sw <= 0 || sh <= 0) return {};
  const int64_t i0 = std::max<int64_t>(0, -int64_t(dx)), i1 = std::min<int64_t>(dw, int64_t(dst.Width) - dx);
  const int64_t j0 = std::max<int64_t>(0, -int64_t(dy)), j1 = std::min<int64_t>(dh, int64_t(dst.Height) - dy);
  if (i0 >= i1 || j0 >= j1) return {};
  std::vector<int64_t> cols(static_cast<size_t>(i1 - i0));
  for (int64_t i = i0; i < i1; ++i) cols[static_cast<size_t>(i - i0)] = sx + i * sw / dw;
  for (int64_t j = j0; j < j1; ++j) {
    const int64_t r = sy + j * sh / dh;
    if (r < 0 || r >= src.Height) continue;
    const uint32_t* s = src.Row(static_cast<int32_t>(r));
    uint32_t* d = dst.Row(static_cast<int32_t>(dy + j)) + dx;
    for (int64_t i = i0; i < i1; ++i) {
      const int64_t c = cols[static_cast<size_t>(i - i0)];
      if (c >= 0 && c < src.Width) d[i] = s[c];
    }
  }
  return TRect{static_cast<int32_t>(dx + i0), static_cast<int32_t>(dy + j0), static_cast<int32_t>(dx + i1),
               static_cast<int32_t>(dy + j1)};
}

}  // namespace

// ---- Display interface -------------------------------------------------------------------

void CopyPixels(const TPixelView& dst, int32_t dx, int32_t dy, int32_t w, int32_t h, const TPixelView& src, int32_t sx,
                int32_t sy) {
  CopyPixelsRect(dst, dx, dy, w, h, src, sx, sy);
}

void StretchPixels(const TPixelView& dst, int32_t dx, int32_t dy, int32_t dw, int32_t dh, const TPixelView& src,
                   int32_t sx, int32_t sy, int32_t sw, int32_t sh) {
  StretchPixelsRect(dst, dx, dy, dw, dh, src, sx, sy, sw, sh);
}

void BlitCanvas(TPaintTarget& dst, int32_t dx, int32_t dy, int32_t w, int32_t h, const TTC& src, int32_t sx, int32_t sy) {
  const TRect r = CopyPixelsRect(dst.Surface(), dx, dy, w, h, src.View(), sx, sy);
  if (!r.IsEmpty()) dst.SurfaceChanged(r);
}

void StretchBlitCanvas(TPaintTarget& dst, int32_t dx, int32_t dy, int32_t dw, int32_t dh, const TTC& src, int32_t sx,
                       int32_t sy, int32_t sw, int32_t sh) {
  const TRect r = StretchPixelsRect(dst.Surface(), dx, dy, dw, dh, src.View(), sx, sy, sw, sh);
  if (!r.IsEmpty()) dst.SurfaceChanged(r);
}

// ---- TTC -----------------------------------------------------------------------------------

TTC::TTC() : TChannel(4, 4, 4) { OrAll(kOpaque); }

TTC::TTC(int32_t W, int32_t H) : TChannel(4, SideOrTwo(W), SideOrTwo(H)) { OrAll(kOpaque); }

TTC::TTC(int32_t W, int32_t H, TUncleared u) : TChannel(4, SideOrTwo(W), SideOrTwo(H), u) {}

TTC::TTC(int32_t W, int32_t H, const TLentStorage& lent) : TChannel(4, W, H, lent) {}

bool TTC::SetSize(int32_t W, int32_t H) {
  if (W == Width() && H == Height()) return true;
  if (!Allocate(SideOrTwo(W), SideOrTwo(H))) return false;
  OrAll(kOpaque);
  return true;
}

bool TTC::SetSizeFilled(int32_t W, int32_t H, uint32_t colour) {
  if ((W != Width() || H != Height()) && !Reshape(SideOrTwo(W), SideOrTwo(H))) return false;
  Fill(colour);
  return true;
}

TPixelView TTC::View() const {
  if (!Bits()) return {};
  return TPixelView{const_cast<uint8_t*>(Bits()), int64_t(Width()) * 4, Width(), Height()};
}

void TTC::SetPixel(int32_t x, int32_t y, uint32_t colour) {
  if (x < 0 || y < 0 || x >= Width() || y >= Height()) return;
  Row32(y)[x] = colour;
}

uint32_t TTC::GetPixel(int32_t x, int32_t y) const {
  if (Width() <= 0 || Height() <= 0) return 0;
  return Row32(std::clamp(y, 0, Height() - 1))[std::clamp(x, 0, Width() - 1)];
}

void TTC::GetPixelChannels(int32_t x, int32_t y, int32_t& A, int32_t& R, int32_t& G, int32_t& B, bool accumulate) const {
  const uint32_t c = GetPixel(x, y);
  const int32_t a = int32_t(c >> 24), r = int32_t((c >> 16) & 255), g = int32_t((c >> 8) & 255), b = int32_t(c & 255);
  if (accumulate) {
    A += a; R += r; G += g; B += b;
  } else {
    A = a; R = r; G = g; B = b;
  }
}

void TTC::BlendPixel(int32_t x, int32_t y, uint32_t colour, uint8_t alpha) {
  if (x < 0 || y < 0 || x >= Width() || y >= Height()) return;
  if (alpha == 255) {
    Row32(y)[x] = colour;
    return;
  }
  uint8_t c[4];
  ColourBytes(colour, c);
  BlendColourBytes(Row(y) + int64_t(x) * 4, c, T_AlphaDiff[alpha].data());
}

void TTC::Fill(uint32_t colour) {
  for (int32_t y = 0; y < Height(); ++y) std::fill_n(Row32(y), Width(), colour);
}

void TTC::OrAll(uint32_t mask) {
  for (int32_t y = 0; y < Height(); ++y) {
    uint32_t* p = Row32(y);
    for (int32_t x = 0; x < Width(); ++x) p[x] |= mask;
  }
}

bool TTC::IsUniform(uint32_t colour) const {
  colour &= 0xFFFFFFu;
  for (int32_t y = 0; y < Height(); ++y) {
    const uint32_t* p = Row32(y);
    uint32_t diff = 0;
    for (int32_t x = 0; x < Width(); ++x) diff |= (p[x] & 0xFFFFFFu) ^ colour;
    if (diff) return false;
  }
  return true;
}

void TTC::FillRect(int32_t x, int32_t y, int32_t w, int32_t h, uint32_t colour) {
  TClippedFill f;
  if (!ClipFillRect(Width(), Height(), x, y, w, h, f)) return;
  for (int32_t r = 0; r < f.H; ++r) std::fill_n(Row32(f.Y + r) + f.X, f.W, colour);
}

void TTC::BlendRectTo(TTC& dst, int32_t SrcX, int32_t SrcY, int32_t W, int32_t H, int32_t DstX, int32_t DstY,
                      uint8_t alpha) const {
  if (alpha == 0) return;
  if (alpha == 255) {
    CopyRect<4>(*this, dst, SrcX, SrcY, W, H, DstX, DstY);
    return;
  }
  WalkBytes<4>(*this, dst, SrcX, SrcY, W, H, DstX, DstY, TBlendOp{alpha});
}

void TTC::CopyRectTo(TTC& dst, int32_t SrcX, int32_t SrcY, int32_t W, int32_t H, int32_t DstX, int32_t DstY) const {
  CopyRect<4>(*this, dst, SrcX, SrcY, W, H, DstX, DstY);
}

void TTC::AddRectTo(TTC& dst, int32_t SrcX, int32_t SrcY, int32_t W, int32_t H, int32_t DstX, int32_t DstY,
                    uint8_t alpha) const {
  if (alpha == 0) return;
  if (alpha == 255)
    WalkBytes<4>(*this, dst, SrcX, SrcY, W, H, DstX, DstY, TAddFullOp{});
  else
    WalkBytes<4>(*this, dst, SrcX, SrcY, W, H, DstX, DstY, TAddOp{alpha});
}

void TTC::SubtractRectFrom(TTC& dst, int32_t SrcX, int32_t SrcY, int32_t W, int32_t H, int32_t DstX, int32_t DstY,
                           uint8_t alpha) const {
  if (alpha == 0) return;
  if (alpha == 255)
    WalkBytes<4>(*this, dst, SrcX, SrcY, W, H, DstX, DstY, TSubtractFullOp{});
  else
    WalkBytes<4>(*this, dst, SrcX, SrcY, W, H, DstX, DstY, TSubtractOp{alpha});
}

void TTC::MultiplyRectTo(TTC& dst, int32_t SrcX, int32_t SrcY, int32_t W, int32_t H, int32_t DstX, int32_t DstY,
                         uint8_t alpha) const {
  if (alpha == 0) return;
  if (alpha == 255)
    WalkBytes<4>(*this, dst, SrcX, SrcY, W, H, DstX, DstY, TMultiplyFullOp{});
  else
    WalkBytes<4>(*this, dst, SrcX, SrcY, W, H, DstX, DstY, TMultiplyOp{alpha});
}

void TTC::BlendTo(TTC& dst, int32_t DstX, int32_t DstY, uint8_t alpha) const {
  BlendRectTo(dst, 0, 0, Width(), Height(), DstX, DstY, alpha);
}

void TTC::CopyTo(TTC& dst, int32_t DstX, int32_t DstY) const { CopyRectTo(dst, 0, 0, Width(), Height(), DstX, DstY); }

void TTC::BlendColourThroughMask(const TChannel& mask, int32_t SrcX, int32_t SrcY, int32_t W, int32_t H, int32_t DstX,
                                 int32_t DstY, uint32_t colour) {
  if (!ClipCopyRect(*this, *this, W, H, SrcX, SrcY, DstX, DstY)) return;
  if (!ClipCopyRect(mask, *this, W, H, SrcX, SrcY, DstX, DstY)) return;
  uint8_t c[4];
  ColourBytes(colour, c);
  // At 255 a byte steps by twice its halved difference, which leaves the colour's upper seven
  // bits and the pixel's lowest bit: one mask over the whole pixel.
  const uint32_t fullBits = colour & 0x00FEFEFEu;
  auto one = [&](uint32_t& p, uint8_t a) {
    if (a == 255)
      p = (p & 0xFF010101u) | fullBits;
    else if (a != 0)
      BlendColourBytes(reinterpret_cast<uint8_t*>(&p), c, T_AlphaDiff[a].data());
  };
  const int32_t w = W;
  for (int32_t r = 0; r < H; ++r) {
    const uint8_t* m = mask.Row(SrcY + r) + SrcX;
    uint32_t* d = Row32(DstY + r) + DstX;
    int32_t x = 0;
    // Eight pixels at a time: left alone where the mask is clear, one pass where it is full.
    for (; x + 8 <= w; x += 8) {
      uint64_t eight;
      std::memcpy(&eight, m + x, sizeof eight);
      if (eight == 0) continue;
      if (eight == ~uint64_t(0)) {
        for (int k = 0; k < 8; ++k) d[x + k] = (d[x + k] & 0xFF010101u) | fullBits;
        continue;
      }
      for (int k = 0; k < 8; ++k) one(d[x + k], m[x + k]);
    }
    for (; x < w; ++x) one(d[x], m[x]);
  }
}

// ---- TTCDC ---------------------------------------------------------------------------------

TTCDC::TTCDC() : TTC() {}

TTCDC::TTCDC(int32_t W, int32_t H) : TTC(W, H) {}

TPixelView TTCDC::DC() const {
  if (!Bits()) {
    plat::MessageBox("表示用画像ではありません(TrueCanvasError)", "", unsigned(plat::MB_OK) | plat::MB_ICONERROR);
    return {};
  }
  return View();
}

void TTCDC::BlendFillRect(int32_t x, int32_t y, int32_t w, int32_t h, uint32_t colour, uint8_t alpha) {
  if (alpha == 0) return;
  TClippedFill f;
  if (!ClipFillRect(Width(), Height(), x, y, w, h, f)) return;
  if (alpha == 255) {
    for (int32_t r = 0; r < f.H; ++r) std::fill_n(Row32(f.Y + r) + f.X, f.W, colour);
    return;
  }
  uint8_t c[4];
  ColourBytes(colour, c);
  const int8_t* t = T_AlphaDiff[alpha].data();
  for (int32_t r = 0; r < f.H; ++r) {
    uint8_t* d = Row(f.Y + r) + int64_t(f.X) * 4;
    for (int32_t i = 0; i < f.W; ++i) BlendColourBytes(d + int64_t(i) * 4, c, t);
  }
}

void TTCDC::CompositeTo(TTC& dst, int32_t DstX, int32_t DstY, uint32_t key, uint8_t opacity) const {
  if (opacity == 0) return;
  key |= kOpaque;
  int32_t W = Width(), H = Height(), SrcX = 0, SrcY = 0;
  if (!ClipCopyRect(*this, dst, W, H, SrcX, SrcY, DstX, DstY)) return;
  const uint32_t op = opacity;
  for (int32_t r = 0; r < H; ++r) {
    const uint32_t* sRow = Row32(SrcY + r) + SrcX;
    uint32_t* dRow = dst.Row32(DstY + r) + DstX;
    for (int32_t x = W - 1; x >= 0; --x) {
      const uint32_t S = sRow[x];
      uint32_t& D = dRow[x];
      if (S == key) continue;
      const uint32_t da = D >> 24, sa = S >> 24;
      if (da == 255 && op == 255) {
        D = S;
        continue;
      }
      const uint32_t k = op * sa;
      if (sa == 0) continue;
      if (da == 255) {
        uint32_t out = kOpaque;
        for (int sh = 0; sh < 24; sh += 8) {
          const int32_t s = int32_t((S >> sh) & 255), d = int32_t((D >> sh) & 255);
          const int32_t v = d + ((s - d) * int32_t(k) >> 16);  // arithmetic shift: floor division
          out |= uint32_t(v & 255) << sh;
        }
        D = out;
      } else if (sa == 255 && op == 255) {
        D = S;
      } else if (da == 0) {
        D = (S & 0xFFFFFFu) | ((k >> 8) << 24);
      } else {
        const uint32_t u = (da << 8) + k - ((k * da) >> 8);
        const uint32_t t = ((65535u - k) * da) >> 8;
        uint32_t out = (u >> 8) << 24;
        for (int sh = 0; sh < 24; sh += 8) {
          const uint32_t s = (S >> sh) & 255, d = (D >> sh) & 255;
          out |= ((d * t + s * k) / u) << sh;
        }
        D = out;
      }
    }
  }
}

bool TTCDC::CopyFromDC(const TPixelView& dc, int32_t w, int32_t h) {
  if (!SetSize(w, h)) return false;
  CopyPixels(View(), 0, 0, w, h, dc, 0, 0);
  OrAll(kOpaque);
  return true;
}

void TTCDC::DrawToWindow(TPaintTarget* window, int32_t x, int32_t y, bool stretch) const {
  if (!window) return;
  const TPixelView s = window->Surface();
  if (s.IsEmpty()) return;
  if (!stretch)
    BlitCanvas(*window, x, y, Width(), Height(), *this, 0, 0);
  else if (Width() == s.Width && Height() == s.Height)
    BlitCanvas(*window, 0, 0, Width(), Height(), *this, 0, 0);
  else
    StretchBlitCanvas(*window, 0, 0, s.Width, s.Height, *this, 0, 0, Width(), Height());
}

void TTCDC::DrawToPaintBox(TPaintTarget* paintBox, int32_t x, int32_t y, bool stretch) const {
  DrawToWindow(paintBox, x, y, stretch);
}

bool IsKeyDown(int virtualKey) { return plat::IsKeyDown(virtualKey); }
