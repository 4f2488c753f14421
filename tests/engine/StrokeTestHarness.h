#pragma once
// A layer with its working copy and coverage mask, driven through a stroke the way the paper
// drives one: begin, one segment per point with the working copy brought up to date over the
// segment's rectangle, and the commit of the stroke's rectangle into the layer at the end.
#include <algorithm>
#include <cstdint>
#include <string>

#include "engine/Block.h"
#include "engine/Stroke.h"

class TStrokeCanvas {
 public:
  TStrokeCanvas(int32_t w, int32_t h, uint8_t layerKind) : Kind(layerKind) {
    Layer.SetSize(w, h);
    Layer.SetBackColour(layerKind == 0 ? 0xFFFFFF : 0);
    Flow.SetSize(w, h);
    Mask.SetSize(w, h);
    Reload();
  }

  // The working copy taken again from the layer, as the cache loads it.
  void Reload() {
    Layer.CloneTo(Flow);
    Mask.ChannelFill(0);
  }

  void Begin(TStroke& s, float x, float y, float p) { s.BeginStroke(Layer, Kind, x, y, p); }

  void Move(TStroke& s, float x, float y, float p) {
    s.AddPoint(x, y, p);
    s.DrawLastSegment(Flow, Mask, Layer);
    int32_t l, t, r, b;
    s.GetSegmentRect(l, t, r, b);
    Refresh(s, l, t, r, b);
  }

  // A straight line at full pressure, as the line tool draws it.
  void Line(TStroke& s, int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
    Begin(s, static_cast<float>(x1), static_cast<float>(y1), 1);
    s.RenderSegment(Flow, Mask, static_cast<float>(x1), static_cast<float>(y1), 1, static_cast<float>(x2),
                    static_cast<float>(y2), 1, Layer);
    int32_t l, t, r, b;
    s.GetStrokeRect(l, t, r, b);
    Refresh(s, l, t, r, b);
    End(s);
  }

  void End(TStroke& s) {
    int32_t l, t, r, b;
    s.GetStrokeRect(l, t, r, b);
    Flow.CopyRectToBlock(Layer, l, t, r - l, b - t, l, t);
    Mask.ChannelFillRect(l, t, r - l, b - t, 0);
  }

  // Pen coverage and the new blur's strength become pixels of the working copy.
  void Refresh(const TStroke& s, int32_t l, int32_t t, int32_t r, int32_t b) {
    const int32_t w = Layer.Width(), h = Layer.Height();
    if (r < 0 || b < 0 || l > w || t > h) return;
    l = std::max(l, 0);
    t = std::max(t, 0);
    r = std::min(r, w);
    b = std::min(b, h);
    if (r <= l || b <= t) return;
    if (s.Kind == bkPen) {
      Layer.CopyRectToBlock(Flow, l, t, r - l, b - t, l, t);
      Flow.BlendColourThroughMask(Mask, l, t, r - l, b - t, s.Color);
    } else if (s.Kind == bkBlur2) {
      Layer.MaskedSmooth(Flow, Mask, l, t, r - l, b - t);
    }
  }

  uint32_t Pixel(int32_t x, int32_t y) const { return Layer.GetPixel(x, y); }
  uint32_t Rgb(int32_t x, int32_t y) const { return Layer.GetPixel(x, y) & 0xFFFFFF; }

  // FNV-1a over every pixel of the layer, all 32 bits.
  uint64_t Hash() const {
    uint64_t h = 1469598103934665603ull;
    for (int32_t y = 0; y < Layer.Height(); ++y)
      for (int32_t x = 0; x < Layer.Width(); ++x) {
        const uint32_t v = Layer.GetPixel(x, y);
        for (int i = 0; i < 4; ++i) {
          h ^= (v >> (8 * i)) & 0xFF;
          h *= 1099511628211ull;
        }
      }
    return h;
  }

  // The layer as text, one character per pixel by brightness, for failure messages.
  std::string Picture() const {
    std::string out;
    for (int32_t y = 0; y < Layer.Height(); ++y) {
      for (int32_t x = 0; x < Layer.Width(); ++x) {
        const uint32_t v = Layer.GetPixel(x, y);
        const int lum = (((v >> 16) & 255) + ((v >> 8) & 255) + (v & 255)) / 3;
        out += " .:-=+*#%@"[9 - lum * 9 / 255];
      }
      out += '\n';
    }
    return out;
  }

  uint8_t Kind;
  TBlockImage Layer, Flow;
  TBlockChannel Mask;
};
