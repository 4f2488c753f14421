// Arbitrary streams played onto a paper, in network mode and out of it, at several scales.
// The first byte chooses the mode: bit 0 network mode, bit 1 a paper made beforehand (as a
// session's handshake makes it), bits 2-3 the playback scale, bit 4 the viewer's mode. The
// rest is the stream, fed in two pieces so that the wait for whole events is exercised too.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/EventPacket.h"
#include "engine/Paper.h"
#include "engine/Stroke.h"

namespace {

volatile uint32_t gSink;

uint16_t Word(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

// Keeps a run from stalling on huge papers: every size an event asks for, scaled, stays small.
bool SmallPapersOnly(const uint8_t* p, int32_t n, float scale) {
  int32_t pos = 0, size = 0;
  while (n - pos >= 2 && MeasureEvent(p + pos, n - pos, size) == TEventMeasure::Complete) {
    const uint16_t code = Word(p + pos);
    if (code == ecNewPaper || code == ecCanvasSize || code == ecResolution) {
      const int64_t w = static_cast<int64_t>(Word(p + pos + 2) * static_cast<double>(scale));
      const int64_t h = static_cast<int64_t>(Word(p + pos + 4) * static_cast<double>(scale));
      if (w > 2048 || h > 2048 || w * h > (1 << 18)) return false;
    }
    pos += size;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > (1u << 18)) return 0;
  const uint8_t mode = data[0];
  static const float kScales[4] = {1.0f, 2.0f, 0.5f, 3.0f};
  const float scale = kScales[(mode >> 2) & 3];
  const uint8_t* stream = data + 1;
  const int32_t n = static_cast<int32_t>(size - 1);
  if (!SmallPapersOnly(stream, n, scale)) return 0;

  TPaper paper;
  // Bit 4: the viewer's mode; otherwise a preview as small as a navigator may fit.
  if (mode & 16) paper.SetViewerMode(1);
  else paper.PreviewImage.SetSize(32, 24);
  if (mode & 2) paper.Init("NONAME", 64, 48);
  paper.SetNetMode(mode & 1);
  TEventPacket packet;
  packet.SetScale(scale);
  TStroke brush;
  const int32_t first = n / 2;
  packet.Data().WriteBuffer(stream, first);
  bool fed = false, stopped = false;
  for (int calls = 0; calls < 400000; ++calls) {
    const int32_t before = packet.Data().ReadPos();
    const bool inStroke = packet.InStroke();
    uint16_t code = 0;
    uint8_t refit = 0;
    if (!paper.PlayEvent(packet, brush, code, refit, nullptr)) {
      stopped = true;
      break;
    }
    if (!inStroke && !packet.InStroke() && packet.Data().ReadPos() == before) {
      if (fed) break;  // waiting for bytes that will not come
      packet.Data().WriteBuffer(stream + first, n - first);
      fed = true;
    }
  }
  if (stopped) TPaper::EndPlayback(packet);
  paper.Composite();
  for (int32_t y = 0; y < paper.Height(); ++y)
    for (int32_t x = 0; x < paper.Width(); ++x) gSink += paper.CompositeImage.GetPixel(x, y);
  return 0;
}
