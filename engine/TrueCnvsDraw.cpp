// Lines, discs, resampling and turns of canvases.
#include <algorithm>
#include <cmath>

#include "engine/TrueCnvs.h"

namespace {

int32_t Fit32(int64_t v) { return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)); }
uint8_t AlphaByte(int32_t v) { return static_cast<uint8_t>(std::clamp(v, 0, 255)); }

// The walk shared by the two line kinds. The major positions run S..E; the minor position of
// the k-th pixel is Pos0 + k * Step in 16.16 fixed point.
struct TLineWalk {
  bool AlongX = false;
  int32_t S = 0, E = 0;
  int64_t Pos0 = 0, Step = 0;
  bool Swapped = false;  // the walk starts at (x2, y2)
};

bool MakeWalk(float x1, float y1, float x2, float y2, TLineWalk& w) {
  const float dx = x1 - x2, dy = y1 - y2;
  w.AlongX = std::fabs(dx) > std::fabs(dy);
  float a1 = w.AlongX ? x1 : y1, b1 = w.AlongX ? y1 : x1;
  float a2 = w.AlongX ? x2 : y2, b2 = w.AlongX ? y2 : x2;
  w.Swapped = a1 > a2;
  if (w.Swapped) {
    std::swap(a1, a2);
    std::swap(b1, b2);
  }
  w.S = TruncInt(a1);
  w.E = TruncInt(a2);
  if (w.E < w.S) return false;  // also NaN ends, which truncate to 0 and compare false above
  w.Pos0 = TruncInt(ext_t(b1) * 65536.0L);
  w.Step = w.E == w.S ? 0 : TruncInt((ext_t(b2) - ext_t(b1)) / ext_t(int64_t(w.E) - w.S + 1) * 65536.0L);
  return true;
}

// The part of the walk that can touch the canvas (the neighbour pixel lies across the minor
// axis, so clipping the major axis changes no drawn pixel).
void MajorRange(const TLineWalk& w, int32_t majorSize, int64_t& first, int64_t& last) {
  first = std::max<int64_t>(w.S, 0);
  last = std::min<int64_t>(w.E, int64_t(majorSize) - 1);
}

}  // namespace

// ---- Lines, rectangles, discs ----------------------------------------------------------------

void TTCDC::DrawLine(uint32_t colour, bool antialias, float x1, float y1, float x2, float y2) {
  TLineWalk w;
  if (!MakeWalk(x1, y1, x2, y2, w)) return;
  int64_t first, last;
  MajorRange(w, w.AlongX ? Width() : Height(), first, last);
  for (int64_t m = first; m <= last; ++m) {
    const int64_t pos = w.Pos0 + w.Step * (m - w.S);
    const int32_t minor = Fit32(pos >> 16), major = static_cast<int32_t>(m);
    const int32_t px = w.AlongX ? major : minor, py = w.AlongX ? minor : major;
    if (!antialias) {
      BlendPixel(px, py, colour, 255);
      continue;
    }
    const int32_t f = static_cast<int32_t>((pos >> 8) & 255);
    BlendPixel(px, py, colour, static_cast<uint8_t>(255 - f));
    if (w.AlongX)
      BlendPixel(px, Fit32(int64_t(py) + 1), colour, static_cast<uint8_t>(f));
    else
      BlendPixel(Fit32(int64_t(px) + 1), py, colour, static_cast<uint8_t>(f));
  }
}

void TTCDC::DrawLineFade(uint32_t colour, bool antialias, float x1, float y1, float i1, float x2, float y2, float i2) {
  TLineWalk w;
  if (!MakeWalk(x1, y1, x2, y2, w)) return;
  if (w.Swapped) std::swap(i1, i2);
  const float dC = static_cast<float>((ext_t(i2) - ext_t(i1)) / ext_t(int64_t(w.E) - w.S + 1));
  int64_t first, last;
  MajorRange(w, w.AlongX ? Width() : Height(), first, last);
  // The strength is a single stepped once per pixel; pixels before the canvas are stepped over
  // one by one, unless there are absurdly many.
  float C = i1;
  const int64_t skipped = first - w.S;
  if (skipped <= (int64_t(1) << 16)) {
    for (int64_t k = 0; k < skipped; ++k) C = static_cast<float>(ext_t(C) + dC);
  } else {
    C = static_cast<float>(ext_t(i1) + ext_t(dC) * skipped);
  }
  for (int64_t m = first; m <= last; ++m, C = static_cast<float>(ext_t(C) + dC)) {
    const int64_t pos = w.Pos0 + w.Step * (m - w.S);
    const int32_t minor = Fit32(pos >> 16), major = static_cast<int32_t>(m);
    const int32_t px = w.AlongX ? major : minor, py = w.AlongX ? minor : major;
    if (!antialias) {
      BlendPixel(px, py, colour, AlphaByte(TruncInt(ext_t(C) * 255)));
      continue;
    }
    const int32_t f = static_cast<int32_t>((pos >> 8) & 255);
    BlendPixel(px, py, colour, AlphaByte(TruncInt(ext_t(C) * (255 - f))));
    const uint8_t a = AlphaByte(TruncInt(ext_t(C) * f));
    if (w.AlongX)
      BlendPixel(px, Fit32(int64_t(py) + 1), colour, a);
    else
      BlendPixel(Fit32(int64_t(px) + 1), py, colour, a);
  }
}

void TTCDC::DrawRect(int32_t x, int32_t y, int32_t w, int32_t h, uint32_t colour) {
  const float l = float(x), t = float(y), r = float(int64_t(x) + w - 1), b = float(int64_t(y) + h - 1);
  DrawLine(colour, false, l, t, r, t);
  DrawLine(colour, false, l, b, r, b);
  DrawLine(colour, false, l, t, l, b);
  DrawLine(colour, false, r, t, r, b);
}

void TTCDC::DrawDisc(uint32_t colour, bool soft, float cx, float cy, float r, float opacity) {
  const bool useSoft = soft && r >= 3;
  const int64_t R4 = TruncInt(4 * ext_t(r)), CX4 = TruncInt(4 * ext_t(cx)), CY4 = TruncInt(4 * ext_t(cy));
  const int64_t A0 = TruncInt(255 * ext_t(opacity));
  // Quarter-pixel squares of clamped 32-bit positions reach 2^66: 128-bit keeps them exact.
  using wide = __int128;
  const wide RR = wide(R4) * R4;
  colour |= 0xFF000000u;
  // Pixels outside the canvas would be ignored: visit only the part that lies on it.
  const int64_t x0 = std::max<int64_t>(TruncInt(ext_t(cx) - r), 0);
  const int64_t x1 = std::min<int64_t>(TruncInt(ext_t(cx) + r), int64_t(Width()) - 1);
  const int64_t y0 = std::max<int64_t>(TruncInt(ext_t(cy) - r), 0);
  const int64_t y1 = std::min<int64_t>(TruncInt(ext_t(cy) + r), int64_t(Height()) - 1);
  auto dist = [](int64_t a, int64_t b) { return wide(a) * a + wide(b) * b; };
  for (int64_t y = y0; y <= y1; ++y)
    for (int64_t x = x0; x <= x1; ++x) {
      const int64_t dx = 4 * x - CX4, dy = 4 * y - CY4;
      const int corners = (dist(dx, dy) >= RR) + (dist(dx + 4, dy) >= RR) + (dist(dx, dy + 4) >= RR) +
                          (dist(dx + 4, dy + 4) >= RR);
      if (corners == 4) continue;
      int64_t fade = 0;
      if (useSoft) {  // RR >= 144 here
        const wide f = 255 - dist(dx, dy) * 255 / RR;
        fade = f < 0 ? 0 : static_cast<int64_t>(f);
      }
      int64_t alpha;
      if (corners == 0) {
        alpha = useSoft ? (A0 * fade) >> 8 : A0;
      } else {
        int64_t n = 0;
        for (int j = 0; j < 4; ++j)
          for (int i = 0; i < 4; ++i) n += dist(dx + i, dy + j) < RR;
        alpha = useSoft ? ((A0 * n * fade) >> 8) / 16 : (A0 * n) / 16;
      }
      BlendPixel(static_cast<int32_t>(x), static_cast<int32_t>(y), colour, static_cast<uint8_t>(alpha & 255));
    }
}

// ---- Resampling ------------------------------------------------------------------------------

namespace {

// Ratios in 1/1024 units, from the quotient in the wide type (exact for every canvas size).
int32_t Ratio1024(int32_t src, int32_t dst) { return TruncInt(ext_t(src) / ext_t(dst) * 1024.0L); }

void BoxResample(const TTC& src, TTC& dst, int64_t X0, int64_t X1, int64_t Y0, int64_t Y1) {
  const int32_t dw = dst.Width(), dh = dst.Height(), sw = src.Width(), sh = src.Height();
  if (dw <= 0 || dh <= 0 || sw <= 0 || sh <= 0) return;
  const int64_t fx = Ratio1024(sw, dw), fy = Ratio1024(sh, dh);
  const int64_t bw = TruncInt(ext_t(sw) / ext_t(dw)), bh = TruncInt(ext_t(sh) / ext_t(dh));
  const int64_t count = (bw + 1) * (bh + 1);
  X0 = std::max<int64_t>(X0, 0);
  Y0 = std::max<int64_t>(Y0, 0);
  X1 = std::min<int64_t>(X1, dw - 1);
  Y1 = std::min<int64_t>(Y1, dh - 1);
  for (int64_t y = Y0; y <= Y1; ++y) {
    const int64_t top = (fy * y) >> 10;
    for (int64_t x = X0; x <= X1; ++x) {
      const int64_t left = (fx * x) >> 10;
      uint64_t a = 0, r = 0, g = 0, b = 0;
      for (int64_t j = 0; j <= bh; ++j) {
        const uint32_t* row = src.Row32(static_cast<int32_t>(std::clamp<int64_t>(top + j, 0, sh - 1)));
        for (int64_t i = 0; i <= bw; ++i) {
          const uint32_t c = row[std::clamp<int64_t>(left + i, 0, sw - 1)];
          a += c >> 24;
          r += (c >> 16) & 255;
          g += (c >> 8) & 255;
          b += c & 255;
        }
      }
      dst.SetPixel(static_cast<int32_t>(x), static_cast<int32_t>(y),
                   uint32_t(a / count) << 24 | uint32_t(r / count) << 16 | uint32_t(g / count) << 8 |
                       uint32_t(b / count));
    }
  }
}

}  // namespace

void TTC::ShrinkTo(TTC& dst) const { BoxResample(*this, dst, 0, int64_t(dst.Width()) - 1, 0, int64_t(dst.Height()) - 1); }

void TTCDC::ShrinkRectTo(TTC& dst, int32_t X, int32_t Y, int32_t W, int32_t H) const {
  BoxResample(*this, dst, X, int64_t(X) + W, Y, int64_t(Y) + H);
}

void TTC::ShrinkTo4x4(TTC& dst) const {
  const int32_t dw = dst.Width(), dh = dst.Height(), sw = Width(), sh = Height();
  if (dw <= 0 || dh <= 0 || sw <= 0 || sh <= 0) return;
  const int64_t fx = Ratio1024(sw, dw), fy = Ratio1024(sh, dh);
  const int64_t sx = TruncInt(ext_t(sw) / ext_t(dw) / 4 * 1024.0L), sy = TruncInt(ext_t(sh) / ext_t(dh) / 4 * 1024.0L);
  for (int32_t y = 0; y < dh; ++y) {
    int32_t rows[4];
    for (int j = 0; j < 4; ++j) rows[j] = static_cast<int32_t>(std::min<int64_t>((fy * y + sy * j) >> 10, sh - 1));
    for (int32_t x = 0; x < dw; ++x) {
      uint32_t a = 0, r = 0, g = 0, b = 0;
      for (int j = 0; j < 4; ++j) {
        const uint32_t* row = Row32(rows[j]);
        for (int i = 0; i < 4; ++i) {
          const uint32_t c = row[std::min<int64_t>((fx * x + sx * i) >> 10, sw - 1)];
          a += c >> 24;
          r += (c >> 16) & 255;
          g += (c >> 8) & 255;
          b += c & 255;
        }
      }
      dst.Row32(y)[x] = (a / 16) << 24 | (r / 16) << 16 | (g / 16) << 8 | (b / 16);
    }
  }
}

void TTC::RotateRightTo(TTC& dst) const {
  for (int32_t y = 0; y < dst.Height(); ++y)
    for (int32_t x = 0; x < dst.Width(); ++x) dst.Row32(y)[x] = GetPixel(y, static_cast<int32_t>(int64_t(Height()) - 1 - x));
}

void TTC::RotateLeftTo(TTC& dst) const {
  for (int32_t y = 0; y < dst.Height(); ++y)
    for (int32_t x = 0; x < dst.Width(); ++x) dst.Row32(y)[x] = GetPixel(static_cast<int32_t>(int64_t(Width()) - 1 - y), x);
}

// ---- Rotation with scale ---------------------------------------------------------------------

namespace {

constexpr uint32_t kOutside = 0x00606060u;

void RotateScaleRows(const TTC& src, TTC& dst, int32_t CentreX, int32_t CentreY, int64_t L, int64_t T, int64_t W,
                     int64_t H, float Angle, float Scale) {
  const int32_t dw = dst.Width(), dh = dst.Height();
  const ext_t c = std::cos(ext_t(Angle)), s = std::sin(ext_t(Angle));
  const int64_t stepX = TruncInt(ext_t(Scale) * c * 65536.0L), stepY = TruncInt(ext_t(Scale) * s * 65536.0L);
  const int64_t limX = int64_t(src.Width()) * 65536, limY = int64_t(src.Height()) * 65536;
  const int64_t hw = dw / 2, hh = dh / 2;
  const int64_t x0 = std::max<int64_t>(L, 0), x1 = std::min<int64_t>(L + W, dw);
  const int64_t y0 = std::max<int64_t>(T, 0), y1 = std::min<int64_t>(T + H, dh);
  for (int64_t y = y0; y < y1; ++y) {
    // The row's column 0 in single precision, then fixed-point steps: a part of a row is
    // stepped from the same start as the whole row, so it gets the very same pixels.
    const ext_t u = ext_t(-hw), v = ext_t(y - hh);
    const float fx = static_cast<float>(CentreX + ext_t(Scale) * (c * u - s * v));
    const float fy = static_cast<float>(CentreY + ext_t(Scale) * (s * u + c * v));
    const int64_t px0 = TruncInt(ext_t(fx) * 65536.0L), py0 = TruncInt(ext_t(fy) * 65536.0L);
    uint32_t* out = dst.Row32(static_cast<int32_t>(y));
    for (int64_t x = x0; x < x1; ++x) {
      const int64_t px = px0 + stepX * x, py = py0 + stepY * x;
      out[x] = (px >= 0 && py >= 0 && px < limX && py < limY)
                   ? src.Row32(static_cast<int32_t>(py >> 16))[px >> 16]
                   : kOutside;
    }
  }
}

}  // namespace

void TTCDC::RotateScaleTo(TTC& dst, int32_t CentreX, int32_t CentreY, float Angle, float Scale) const {
  RotateScaleRows(*this, dst, CentreX, CentreY, 0, 0, dst.Width(), dst.Height(), Angle, Scale);
}

void TTCDC::RotateScaleRectTo(TTC& dst, int32_t CentreX, int32_t CentreY, int32_t Left, int32_t Top, int32_t Width,
                              int32_t Height, float Angle, float Scale) const {
  RotateScaleRows(*this, dst, CentreX, CentreY, Left, Top, Width, Height, Angle, Scale);
}
