#pragma once
// Helpers of the paper tests: a paint target over a plain canvas, and pixel dumps.
#include <cstdint>
#include <vector>

#include "engine/Block.h"
#include "engine/LayerMng.h"
#include "engine/Paper.h"
#include "engine/TrueCnvs.h"

// A window's client area as a plain canvas; remembers what the engine reported as changed.
class TCanvasTarget : public TPaintTarget {
 public:
  TCanvasTarget(int32_t w, int32_t h, uint32_t fill = 0xFF123456u) : Canvas(w, h) { Canvas.Fill(fill); }
  TPixelView Surface() override { return Canvas.View(); }
  void SurfaceChanged(const TRect& r) override { Changed.push_back(r); }
  uint32_t At(int32_t x, int32_t y) const { return Canvas.GetPixel(x, y); }
  TTC Canvas;
  std::vector<TRect> Changed;
};

inline std::vector<uint32_t> ImagePixels(const TBlockImage& img, int32_t w, int32_t h, uint32_t mask = 0xFFFFFFFFu) {
  std::vector<uint32_t> v;
  v.reserve(static_cast<size_t>(w) * h);
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) v.push_back(img.GetPixel(x, y) & mask);
  return v;
}

inline std::vector<uint32_t> LayerPixels(const TPaper& p, int32_t layer, uint32_t mask = 0xFFFFFFFFu) {
  return ImagePixels(*p.Layers->LayerImage(layer), p.Width(), p.Height(), mask);
}

inline std::vector<uint32_t> CanvasPixels(const TTC& c, uint32_t mask = 0xFFFFFFFFu) {
  std::vector<uint32_t> v;
  for (int32_t y = 0; y < c.Height(); ++y)
    for (int32_t x = 0; x < c.Width(); ++x) v.push_back(c.GetPixel(x, y) & mask);
  return v;
}

// A small picture with every pixel different, so that any misplaced pixel shows.
inline uint32_t PatternPixel(int32_t x, int32_t y) {
  return 0xFF000000u | (static_cast<uint32_t>(x * 37 + 11) & 0xFF) << 16 | (static_cast<uint32_t>(y * 53 + 7) & 0xFF) << 8 |
         static_cast<uint32_t>((x * 7 + y * 13) & 0xFF);
}

inline void PaintPattern(TPaper& p, int32_t layer) {
  TBlockImage& img = *p.Layers->LayerImage(layer);
  for (int32_t y = 0; y < p.Height(); ++y)
    for (int32_t x = 0; x < p.Width(); ++x) img.SetPixel(x, y, PatternPixel(x, y));
}
