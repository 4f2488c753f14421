#pragma once
// 32-bit canvases, and the small display interface through which the GUI shows them.
//
// Pixel layout: a pixel is the 32-bit value 0xAARRGGBB stored little-endian, so the bytes in
// memory are B, G, R, A. Rows are stored top row first with no padding (row y starts at byte
// y * Width * 4), which is exactly QImage::Format_RGB32: the GUI shows a canvas by wrapping
// its memory, without a copy; the alpha byte is ignored on screen.
// Blends change B, G and R and keep the destination's alpha; whole-pixel writes (Fill,
// FillRect, SetPixel, copies, blends at alpha 255) write the colour's alpha byte too.
#include <cstdint>

#include "engine/Channel.h"
#include "engine/Types.h"

// ---- Display interface -------------------------------------------------------------------
//
// TPixelView stands for a device context: 32-bit pixels in the canvas layout above, rows top
// first, Stride bytes apart (a QImage of Format_RGB32 or ARGB32 gives bits(), bytesPerLine(),
// width(), height()). It does not own the pixels.
struct TPixelView {
  uint8_t* Bits = nullptr;
  int64_t Stride = 0;
  int32_t Width = 0, Height = 0;
  bool IsEmpty() const { return !Bits || Width <= 0 || Height <= 0; }
  uint32_t* Row(int32_t y) const { return reinterpret_cast<uint32_t*>(Bits + y * Stride); }
};

// A surface on which canvases are shown: a window's client area or a paint box. The GUI side
// implements it with a back buffer of the client size (RGB32) that paintEvent copies to the
// screen; tests implement it over a plain canvas. The engine draws into Surface() and then
// reports the rectangle it changed, which the implementer brings to the screen (update()).
// The surface's size is the client size. An empty surface receives nothing.
class TPaintTarget {
 public:
  virtual ~TPaintTarget() = default;
  virtual TPixelView Surface() = 0;
  virtual void SurfaceChanged(const TRect& r) = 0;
};

// Copies w x h pixels (all 32 bits) from src (sx, sy) to dst (dx, dy); pixels that fall outside
// either view are left alone.
void CopyPixels(const TPixelView& dst, int32_t dx, int32_t dy, int32_t w, int32_t h, const TPixelView& src, int32_t sx,
                int32_t sy);
// Scales the sw x sh source rectangle onto the dw x dh destination rectangle by repeating or
// dropping pixels: destination column i takes source column sx + i * sw div dw (rows alike).
// Non-positive sizes draw nothing; pixels outside either view are left alone.
void StretchPixels(const TPixelView& dst, int32_t dx, int32_t dy, int32_t dw, int32_t dh, const TPixelView& src,
                   int32_t sx, int32_t sy, int32_t sw, int32_t sh);

class TTC;
// The same onto a paint target, which is then told what changed.
void BlitCanvas(TPaintTarget& dst, int32_t dx, int32_t dy, int32_t w, int32_t h, const TTC& src, int32_t sx, int32_t sy);
void StretchBlitCanvas(TPaintTarget& dst, int32_t dx, int32_t dy, int32_t dw, int32_t dh, const TTC& src, int32_t sx,
                       int32_t sy, int32_t sw, int32_t sh);

// ---- Canvases ----------------------------------------------------------------------------

// A 32-bit canvas in memory. Width, Height, Bits and RowOffsets are the channel's, in bytes of
// four per pixel. Every new storage is opaque black (0xFF000000).
class TTC : public TChannel {
 public:
  TTC();                      // 4 x 4
  TTC(int32_t W, int32_t H);  // sized at once (W or H of 0 or less becomes 2)
  // The same with its pixels left as they come, for an owner that writes them all at once.
  TTC(int32_t W, int32_t H, TUncleared);
  // W x H pixels (both above 0) in storage lent by a pool, left as they come.
  TTC(int32_t W, int32_t H, const TLentStorage& lent);

  // Nothing when W and H equal the current size; otherwise a side of 0 or less becomes 2, the
  // storage is replaced and made opaque (colour bytes 0). False, with the canvas unchanged,
  // when the storage cannot be had.
  bool SetSize(int32_t W, int32_t H) override;
  // SetSize and then Fill(colour), without clearing storage that the fill overwrites; a large
  // canvas keeps its pages where it can. False, with the canvas unchanged, as SetSize.
  bool SetSizeFilled(int32_t W, int32_t H, uint32_t colour);

  uint32_t* Row32(int32_t y) { return reinterpret_cast<uint32_t*>(Row(y)); }
  const uint32_t* Row32(int32_t y) const { return reinterpret_cast<const uint32_t*>(Row(y)); }
  // The canvas's own pixels as a view (empty when it has none). A view of a const canvas is
  // only ever read.
  TPixelView View() const;

  void SetPixel(int32_t x, int32_t y, uint32_t colour);
  uint32_t GetPixel(int32_t x, int32_t y) const;  // clamped to the edges; 0 for an empty canvas
  void GetPixelChannels(int32_t x, int32_t y, int32_t& A, int32_t& R, int32_t& G, int32_t& B, bool accumulate) const;
  void BlendPixel(int32_t x, int32_t y, uint32_t colour, uint8_t alpha);
  void Fill(uint32_t colour);
  void OrAll(uint32_t mask);
  bool IsUniform(uint32_t colour) const;  // R, G, B of every pixel equal the colour's
  void FillRect(int32_t x, int32_t y, int32_t w, int32_t h, uint32_t colour);

  // Rectangle transfers: the object is the source, the first argument the destination (which
  // may be the object itself); clipped by ClipCopyRect; rows top to bottom, columns from the
  // last to the first. A no-op at alpha 0.
  void BlendRectTo(TTC& dst, int32_t SrcX, int32_t SrcY, int32_t W, int32_t H, int32_t DstX, int32_t DstY, uint8_t alpha) const;
  void CopyRectTo(TTC& dst, int32_t SrcX, int32_t SrcY, int32_t W, int32_t H, int32_t DstX, int32_t DstY) const;
  void AddRectTo(TTC& dst, int32_t SrcX, int32_t SrcY, int32_t W, int32_t H, int32_t DstX, int32_t DstY, uint8_t alpha) const;
  void SubtractRectFrom(TTC& dst, int32_t SrcX, int32_t SrcY, int32_t W, int32_t H, int32_t DstX, int32_t DstY, uint8_t alpha) const;
  void MultiplyRectTo(TTC& dst, int32_t SrcX, int32_t SrcY, int32_t W, int32_t H, int32_t DstX, int32_t DstY, uint8_t alpha) const;
  void BlendTo(TTC& dst, int32_t DstX, int32_t DstY, uint8_t alpha) const;
  void CopyTo(TTC& dst, int32_t DstX, int32_t DstY) const;

  // Mask byte m at mask (SrcX + i, SrcY + j) blends the colour into canvas pixel (DstX + i,
  // DstY + j) with T_AlphaDiff[m] (m = 255 too: no exact store); m = 0 leaves the pixel. The
  // rectangle is clipped against this canvas on both sides and against the mask.
  void BlendColourThroughMask(const TChannel& mask, int32_t SrcX, int32_t SrcY, int32_t W, int32_t H, int32_t DstX,
                              int32_t DstY, uint32_t colour);

  // Resampling into dst's size (the object is the source, read with edge clamping; dst is
  // written through SetPixel). Ratios are kept in 1/1024 units.
  // Box resample: each destination pixel averages (bw + 1) x (bh + 1) source samples,
  // bw = trunc(srcWidth / dstWidth); enlarging repeats source pixels.
  void ShrinkTo(TTC& dst) const;
  // Sixteen samples per destination pixel, a quarter of the ratio apart (also for enlarging).
  void ShrinkTo4x4(TTC& dst) const;
  // Quarter turns; dst is given the size Height x Width by the caller.
  // Right (clockwise): dst (x, y) := src (y, Height - 1 - x). Left: dst (x, y) := src (Width - 1 - y, x).
  void RotateRightTo(TTC& dst) const;
  void RotateLeftTo(TTC& dst) const;
};

// A canvas that can be shown. In this build every canvas's memory is displayable as it is, so
// the display canvas adds only the display operations.
class TTCDC : public TTC {
 public:
  TTCDC();
  TTCDC(int32_t W, int32_t H);

  // The canvas as a device context. When it has no pixels the user is told
  // "表示用画像ではありません(TrueCanvasError)" and the view is empty.
  TPixelView DC() const;

  // alpha 0: nothing; alpha 255: whole pixels := colour; otherwise B, G, R blended.
  void BlendFillRect(int32_t x, int32_t y, int32_t w, int32_t h, uint32_t colour, uint8_t alpha);
  // Composites the whole canvas over dst at (DstX, DstY), reading alpha as transparency; pixels
  // equal to the key (with alpha 255) are skipped.
  void CompositeTo(TTC& dst, int32_t DstX, int32_t DstY, uint32_t key, uint8_t opacity) const;

  // Resizes to w x h (as SetSize) and copies w x h pixels from dc (0, 0); the result is opaque.
  // Parts of the canvas that dc does not cover are opaque black. False when the size cannot be had.
  bool CopyFromDC(const TPixelView& dc, int32_t w, int32_t h);
  // stretch false: the whole canvas at (x, y). stretch true: at (0, 0) when the canvas has the
  // target's size, otherwise scaled onto the whole target. A null target gets nothing.
  void DrawToWindow(TPaintTarget* window, int32_t x, int32_t y, bool stretch) const;
  void DrawToPaintBox(TPaintTarget* paintBox, int32_t x, int32_t y, bool stretch) const;

  // Lines walk the major axis (x when |dx| > |dy|, otherwise y) from the end with the smaller
  // major coordinate, the minor position in 16.16 fixed point; antialiased, a pixel gets
  // 255 - f and its minor neighbour f, f being bits 8..15 of the position.
  void DrawLine(uint32_t colour, bool antialias, float x1, float y1, float x2, float y2);
  // The same walk with a strength going from i1 at (x1, y1) to i2 at (x2, y2) (0..1).
  void DrawLineFade(uint32_t colour, bool antialias, float x1, float y1, float i1, float x2, float y2, float i2);
  // Four hard lines round the w x h rectangle at (x, y).
  void DrawRect(int32_t x, int32_t y, int32_t w, int32_t h, uint32_t colour);
  // A disc in quarter pixels: full pixels at the opacity, edge pixels by their 16 samples;
  // soft (only from r = 3 on) fades from the centre to the rim.
  void DrawDisc(uint32_t colour, bool soft, float cx, float cy, float r, float opacity);

  // Box resample like ShrinkTo of the destination pixels X..X+W and Y..Y+H, both inclusive.
  void ShrinkRectTo(TTC& dst, int32_t X, int32_t Y, int32_t W, int32_t H) const;
  // Fills every destination pixel from the source rotated by Angle (radians) and scaled by
  // Scale (source pixels per destination pixel) about (CentreX, CentreY), which lands on the
  // destination's centre; nearest pixel below, no filtering; outside the source 0x00606060.
  void RotateScaleTo(TTC& dst, int32_t CentreX, int32_t CentreY, float Angle, float Scale) const;
  // The same mapping for the destination rectangle only; pixels outside dst are skipped.
  void RotateScaleRectTo(TTC& dst, int32_t CentreX, int32_t CentreY, int32_t Left, int32_t Top, int32_t Width,
                         int32_t Height, float Angle, float Scale) const;
};

// True while the key is held (virtual-key codes, platform/core/KeyState.h).
bool IsKeyDown(int virtualKey);
