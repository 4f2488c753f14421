// Arbitrary bytes as an event stream: validation, take-over, and a read of every event with the
// packet's readers, both of a validated stream (each reader must consume exactly its event) and
// of the raw bytes (readers handed short or damaged payloads must stay inside the buffer).
#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/EventPacket.h"

namespace {

volatile int64_t gSink;

struct TSinkBrush {
  void SetKind(uint8_t v) { gSink += v; }
  void SetLayer(int32_t v) { gSink += v; }
  void SetColor(uint32_t v) { gSink += v; }
  void SetPressureSize(bool v) { gSink += v; }
  void SetPressureAlpha(bool v) { gSink += v; }
  void SetSmoothEdge(bool v) { gSink += v; }
  void SetMinSize(float v) { gSink += static_cast<int64_t>(v); }
  void SetWidth(float v) { gSink += static_cast<int64_t>(v); }
  void SetGamma(float v) { gSink += static_cast<int64_t>(v); }
  void SetEffect(float v) { gSink += static_cast<int64_t>(v); }
  void SetEnv(float v) { gSink += static_cast<int64_t>(v); }
  void SetSpeed(float v) { gSink += static_cast<int64_t>(v); }
};

// Reads one event's payload after its code, touching every value.
void ReadPayload(TEventPacket& p, uint16_t code, std::vector<TPoint>& pts) {
  TSinkBrush brush;
  uint8_t l = 0, a = 0, r = 0, g = 0, b = 0;
  int32_t x = 0, y = 0, w = 0, h = 0, n = 0;
  bool v = false;
  switch (code) {
    case 0: case 1: case 2: case 3: case 4: {
      float fx, fy, fp;
      if (p.ReadStrokeBegin(brush, fx, fy, fp)) {
        gSink += static_cast<int64_t>(fx + fy + fp);
        for (int guard = 0; guard <= kMaxEventCount && !p.ReadStrokePoint(fx, fy, fp); ++guard)
          gSink += static_cast<int64_t>(fx + fy + fp);
        if (p.InStroke()) __builtin_trap();
      }
      break;
    }
    case ecNewLayer: p.ReadNewLayer(a); break;
    case ecDeleteLayer: case ecDuplicateLayer: case ecCombineLower: case ecUndo: case ecSelectLayer:
    case ecShowOnly: case ecLayerUpsideDown: case ecLayerMirror: case ecLayerRotate180: case ecLayerNegaPosi:
    case ecClearLayer: case ecClearUndoLayer:
      p.ReadLayer(l);
      break;
    case ecMoveLayer: p.ReadMoveLayer(l, a); break;
    case ecLayerVisible: p.ReadLayerVisible(l, v); break;
    case ecLayerOpacity: p.ReadLayerOpacity(l, a); break;
    case ecLayerKind: p.ReadLayerKind(l, a); break;
    case ecFillSelection: p.ReadFillSelection(l, r, g, b); break;
    case ecOffsetLayer: p.ReadOffsetLayer(l, x, y); break;
    case ecClearRect: p.ReadClearRect(l, x, y, w, h); break;
    case ecFillRect: p.ReadFillRect(l, x, y, w, h, r, g, b); break;
    case ecClearPolygon:
      // A small fixed buffer: the reader must keep to it whatever the count says.
      p.ReadClearPolygon(l, pts.data(), static_cast<int32_t>(pts.size()), n);
      for (int32_t i = 0; i < n && i < static_cast<int32_t>(pts.size()); ++i) gSink += pts[i].X + pts[i].Y;
      break;
    case ecFillPolygon: {
      std::vector<TPoint> all;
      p.ReadFillPolygon(l, r, g, b, all);
      for (const TPoint& q : all) gSink += q.X + q.Y;
      break;
    }
    case ecLine: p.ReadLine(brush, x, y, w, h); break;
    case ecNewPaper: p.ReadNewPaper(w, h); break;
    case ecPaperColor: p.ReadPaperColor(r, g, b); break;
    case ecCanvasSize: p.ReadCanvasSize(w, h, a); break;
    case ecResolution: p.ReadResolution(w, h); break;
    case ecPaperSize: p.Data().Skip(4); break;
    default: break;
  }
  gSink += l + a + r + g + b + x + y + w + h + n + v;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  const auto n = static_cast<int32_t>(size);
  std::vector<TPoint> pts(16);

  TMyMemory source(64);
  source.WriteBuffer(data, n);
  int32_t length = 0;
  bool valid = ValidateEventStream(data, n, length);

  TEventPacket packet;
  packet.WriteUndo(7);
  if (packet.LoadFromMemory(source) != valid) __builtin_trap();
  if (valid) {
    const TMyMemory& m = packet.Data();
    if (m.Size() != length || m.Memory()[length - 1] != 0xFF || m.Memory()[length - 2] != 0xFF) __builtin_trap();
    // Every event of a validated stream is read exactly by its reader.
    packet.SetScale(static_cast<float>(data[0] % 8) / 2.0f);
    for (;;) {
      int32_t at = packet.Data().ReadPos(), esize = 0;
      if (MeasureEvent(packet.Data().ReadPointer(), packet.Data().Remaining(), esize) != TEventMeasure::Complete)
        __builtin_trap();
      uint16_t code = packet.ReadCode();
      if (code == ecEnd) break;
      ReadPayload(packet, code, pts);
      if (packet.Data().ReadPos() != at + esize) __builtin_trap();
    }
    if (packet.GetProgress() != 100.0f) __builtin_trap();
  } else if (packet.Data().Size() != 3) {
    __builtin_trap();  // a failed load keeps the old stream
  }

  // The raw bytes read as they come, without validation.
  TEventPacket raw;
  raw.Data().WriteBuffer(data, n);
  for (int guard = 0; guard < 1 << 16 && raw.Data().Remaining() > 0; ++guard) {
    int32_t before = raw.Data().ReadPos();
    uint16_t code = raw.ReadCode();
    ReadPayload(raw, code, pts);
    if (raw.Data().ReadPos() == before) raw.Data().Skip(1);
  }
  return 0;
}
