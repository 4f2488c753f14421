// Arbitrary bytes as a played stroke: a brush kind, the 17-byte brush block, a playback scale
// and up to 32 points of int16 x, y, pressure, applied through the brush's setters exactly as
// the event reader applies them, then rendered onto a small layer as the paper renders a
// stroke. Whatever the values (huge or negative coordinates, pressures far outside 0..1, the
// extremes of every parameter), rendering must stay inside its buffers and finish.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "engine/Block.h"
#include "engine/EventPacket.h"
#include "engine/Stroke.h"

namespace {

class TReader {
 public:
  TReader(const uint8_t* d, size_t n) : d_(d), n_(n) {}
  uint8_t Byte() { return pos_ < n_ ? d_[pos_++] : 0; }
  uint16_t Word() { return static_cast<uint16_t>(Byte() | (Byte() << 8)); }
  int16_t Small() { return static_cast<int16_t>(Word()); }
  bool More() const { return pos_ + 6 <= n_; }

 private:
  const uint8_t* d_;
  size_t n_, pos_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TReader in(data, size);
  TStroke brush;
  const uint8_t kind = in.Byte() % 5;
  const uint8_t layerKind = in.Byte() % 4;
  // Playback scales from 1/16 to 4 in sixteenths.
  const float scale = static_cast<float>(1 + in.Byte() % 64) / 16.0f;

  TStrokeAttributes a;
  a.Layer = in.Byte();
  a.Color = static_cast<uint32_t>(in.Byte() << 16 | in.Byte() << 8 | in.Byte());
  const uint8_t flags = in.Byte();
  a.ifSIZE = flags & 1;
  a.ifTRANSPARENCY = flags & 2;
  a.ifEDGE = flags & 4;
  a.MIN = static_cast<float>(in.Word() / 256.0L);
  a.WIDTH = static_cast<float>(in.Word() / 256.0L * scale);
  a.GAMMA = static_cast<float>(in.Word() / 256.0L);
  a.EFFECT = static_cast<float>(in.Word() / 256.0L);
  a.ENV = static_cast<float>(in.Word() / 256.0L);
  a.SPEED = static_cast<float>(in.Word() / 256.0L);
  brush.SetKind(kind);
  ApplyStrokeAttributes(a, brush);

  TBlockImage layer, flow;
  TBlockChannel mask;
  layer.SetSize(96, 64);
  layer.SetBackColour(layerKind == 0 ? 0xFFFFFF : 0);
  layer.FillRect(10, 10, 40, 30, 0xFF336699);
  flow.SetSize(96, 64);
  mask.SetSize(96, 64);
  layer.CloneTo(flow);
  mask.ChannelFill(0);

  auto point = [&](float& x, float& y, float& p) {
    x = static_cast<float>(TruncInt(in.Small() * static_cast<ext_t>(scale)));
    y = static_cast<float>(TruncInt(in.Small() * static_cast<ext_t>(scale)));
    p = static_cast<float>(in.Small() / 1024.0L);
  };
  float x, y, p;
  point(x, y, p);
  brush.BeginStroke(layer, layerKind, x, y, p);
  for (int i = 0; i < 32 && in.More(); ++i) {
    point(x, y, p);
    brush.AddPoint(x, y, p);
    brush.DrawLastSegment(flow, mask, layer);
    int32_t l, t, r, b;
    brush.GetSegmentRect(l, t, r, b);
    if (r > 0 && b > 0 && l < 96 && t < 64) {
      l = l < 0 ? 0 : l;
      t = t < 0 ? 0 : t;
      r = r > 96 ? 96 : r;
      b = b > 64 ? 64 : b;
      if (kind == bkPen) {
        layer.CopyRectToBlock(flow, l, t, r - l, b - t, l, t);
        flow.BlendColourThroughMask(mask, l, t, r - l, b - t, brush.Color);
      } else if (kind == bkBlur2) {
        layer.MaskedSmooth(flow, mask, l, t, r - l, b - t);
      }
    }
  }
  int32_t l, t, r, b;
  brush.GetStrokeRect(l, t, r, b);
  flow.CopyRectToBlock(layer, l, t, r - l, b - t, l, t);
  // Touch the result so that a sanitizer sees every byte that was written.
  uint32_t sum = 0;
  for (int32_t yy = 0; yy < 64; ++yy)
    for (int32_t xx = 0; xx < 96; ++xx) sum += layer.GetPixel(xx, yy);
  volatile uint32_t sink = sum + static_cast<uint32_t>(brush.StepCount);
  (void)sink;
  return 0;
}
