#include "engine/EventPacket.h"

#include <algorithm>

#include "platform/core/Files.h"

namespace {

constexpr int32_t kPacketCapacity = 256000;
constexpr int32_t kFileLoadCapacity = 65536;

// Sizes of the events whose length the code alone fixes; 0 for the others.
int32_t FixedEventSize(uint16_t code) {
  switch (code) {
    case ecCombineVisible:
    case ecRotateRight:
    case ecRotateLeft:
    case ecClearUndoAll:
    case ecUpsideDownVisible:
    case ecMirrorVisible:
    case ecRotate180Visible:
    case ecNegaPosiVisible:
    case ecEnd:
      return 2;
    case ecNewLayer:
    case ecDeleteLayer:
    case ecDuplicateLayer:
    case ecCombineLower:
    case ecUndo:
    case ecSelectLayer:
    case ecShowOnly:
    case ecLayerUpsideDown:
    case ecLayerMirror:
    case ecLayerRotate180:
    case ecLayerNegaPosi:
    case ecClearLayer:
    case ecClearUndoLayer:
      return 3;
    case ecMoveLayer:
    case ecLayerVisible:
    case ecLayerOpacity:
    case ecLayerKind:
      return 4;
    case ecPaperColor:
      return 5;
    case ecFillSelection:
    case ecNewPaper:
    case ecResolution:
    case ecPaperSize:
      return 6;
    case ecOffsetLayer:
    case ecCanvasSize:
      return 7;
    case ecClearRect:
      return 11;
    case ecFillRect:
      return 14;
    case ecLine:
      return 29;
    default:
      return 0;
  }
}

uint16_t PeekWord(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

int16_t Sat16(int64_t v) { return static_cast<int16_t>(std::clamp<int64_t>(v, -32768, 32767)); }
uint16_t SatU16(int64_t v) { return static_cast<uint16_t>(std::clamp<int64_t>(v, 0, 65535)); }

// 8.8 fixed point of a brush parameter.
uint16_t Fixed88(float v) { return SatU16(TruncInt(static_cast<ext_t>(v) * 256.0L)); }

}  // namespace

bool IsEventCode(uint16_t code) {
  return code <= ecStrokeLast || code == ecClearPolygon || code == ecFillPolygon || FixedEventSize(code) > 0;
}

TEventMeasure MeasureEvent(const uint8_t* p, int32_t avail, int32_t& size) {
  size = 2;
  if (!p || avail < 2) return TEventMeasure::Short;
  uint16_t code = PeekWord(p);
  int32_t header = 0, countAt = 0, item = 0;
  if (code <= ecStrokeLast) {
    header = kStrokeHeaderSize, countAt = kStrokeCountOffset, item = kStrokePointSize;
  } else if (code == ecClearPolygon) {
    header = kClearPolygonCountOffset + 2, countAt = kClearPolygonCountOffset, item = kPolygonPointSize;
  } else if (code == ecFillPolygon) {
    header = kFillPolygonCountOffset + 2, countAt = kFillPolygonCountOffset, item = kPolygonPointSize;
  }
  if (header > 0) {
    size = header;
    if (avail < header) return TEventMeasure::Short;
    size = header + item * PeekWord(p + countAt);
  } else {
    size = FixedEventSize(code);
    if (size == 0) return TEventMeasure::NotEvent;
  }
  return avail >= size ? TEventMeasure::Complete : TEventMeasure::Short;
}

bool ValidateEventStream(const uint8_t* data, int32_t size, int32_t& pos) {
  pos = 0;
  for (bool first = true;; first = false) {
    int32_t avail = size - pos;
    if (avail < 2) return false;
    uint16_t code = PeekWord(data + pos);
    if (first && code != ecNewPaper && code != ecPaperSize) return false;
    int32_t n = 0;
    if (MeasureEvent(data + pos, avail, n) != TEventMeasure::Complete) return false;
    pos += n;
    if (code == ecEnd) return true;
  }
}

TEventPacket::TEventPacket() : data_(kPacketCapacity) {}

void TEventPacket::Clear() {
  data_.Clear();
  inStroke_ = false;
  pointCount_ = 0;
}

void TEventPacket::WriteEndMarker() {
  if (inStroke_) EndStroke();
  data_.WriteWord(ecEnd);
}

void TEventPacket::DropEndMarker() { data_.AddSize(-2); }

uint16_t TEventPacket::ReadCode() {
  if (!Has(2)) return ecEnd;
  return data_.ReadWord();
}

int32_t TEventPacket::Scaled(int32_t v) const { return TruncInt(static_cast<ext_t>(v) * scale_); }

int32_t TEventPacket::ScaledSize(uint16_t v) const { return SatU16(Scaled(v)); }

// ---- recording ----

void TEventPacket::WriteStrokeAttributes(const TStrokeAttributes& a) {
  data_.WriteByte(a.Layer);
  data_.WriteByte(static_cast<uint8_t>(a.Color >> 16));
  data_.WriteByte(static_cast<uint8_t>(a.Color >> 8));
  data_.WriteByte(static_cast<uint8_t>(a.Color));
  data_.WriteByte(static_cast<uint8_t>((a.ifSIZE ? 1 : 0) | (a.ifTRANSPARENCY ? 2 : 0) | (a.ifEDGE ? 4 : 0)));
  for (float v : {a.MIN, a.WIDTH, a.GAMMA, a.EFFECT, a.ENV, a.SPEED}) data_.WriteWord(Fixed88(v));
}

void TEventPacket::WritePoint(float x, float y, float pressure) {
  data_.WriteSmallInt(Sat16(TruncInt(x)));
  data_.WriteSmallInt(Sat16(TruncInt(y)));
  data_.WriteSmallInt(Sat16(TruncInt(static_cast<ext_t>(pressure) * 1024.0L)));
}

void TEventPacket::BeginStroke(const TStrokeAttributes& attrs, uint8_t kind, float x, float y,
                               float pressure) {
  // An open stroke is closed first: appending after its unpatched count would corrupt the stream.
  if (inStroke_) EndStroke();
  pointCount_ = 0;
  inStroke_ = true;
  data_.WriteWord(kind <= ecStrokeLast ? kind : ecStroke);
  WriteStrokeAttributes(attrs);
  WritePoint(x, y, pressure);
  data_.WriteWord(0);
}

bool TEventPacket::AddStrokePoint(float x, float y, float pressure) {
  if (!inStroke_ || pointCount_ >= kMaxEventCount) return false;
  WritePoint(x, y, pressure);
  pointCount_ += 1;
  return true;
}

void TEventPacket::EndStroke() {
  if (!inStroke_) return;
  data_.WriteWord(static_cast<uint16_t>(pointCount_), -(kStrokePointSize * pointCount_ + 2));
  inStroke_ = false;
}

namespace {
// Every writer but the stroke's starts here.
struct TEventStart {
  TEventStart(TEventPacket& p, uint16_t code) {
    if (p.InStroke()) p.EndStroke();
    p.Data().WriteWord(code);
  }
};
}  // namespace

#define VELL_LAYER_WRITER(Name, Code)        \
  void TEventPacket::Name(uint8_t layer) {   \
    TEventStart start(*this, Code);          \
    data_.WriteByte(layer);                  \
  }
#define VELL_PLAIN_WRITER(Name, Code) \
  void TEventPacket::Name() { TEventStart start(*this, Code); }

VELL_LAYER_WRITER(WriteNewLayer, ecNewLayer)
VELL_LAYER_WRITER(WriteDeleteLayer, ecDeleteLayer)
VELL_PLAIN_WRITER(WriteCombineVisible, ecCombineVisible)
VELL_LAYER_WRITER(WriteDuplicateLayer, ecDuplicateLayer)
VELL_LAYER_WRITER(WriteCombineLower, ecCombineLower)
VELL_LAYER_WRITER(WriteUndo, ecUndo)
VELL_LAYER_WRITER(WriteSelectLayer, ecSelectLayer)
VELL_LAYER_WRITER(WriteShowOnly, ecShowOnly)
VELL_LAYER_WRITER(WriteLayerUpsideDown, ecLayerUpsideDown)
VELL_LAYER_WRITER(WriteLayerMirror, ecLayerMirror)
VELL_LAYER_WRITER(WriteLayerRotate180, ecLayerRotate180)
VELL_LAYER_WRITER(WriteLayerNegaPosi, ecLayerNegaPosi)
VELL_LAYER_WRITER(WriteClearLayer, ecClearLayer)
VELL_LAYER_WRITER(WriteClearUndoLayer, ecClearUndoLayer)
VELL_PLAIN_WRITER(WriteRotateRight, ecRotateRight)
VELL_PLAIN_WRITER(WriteRotateLeft, ecRotateLeft)
VELL_PLAIN_WRITER(WriteClearUndoAll, ecClearUndoAll)
VELL_PLAIN_WRITER(WriteUpsideDownVisible, ecUpsideDownVisible)
VELL_PLAIN_WRITER(WriteMirrorVisible, ecMirrorVisible)
VELL_PLAIN_WRITER(WriteRotate180Visible, ecRotate180Visible)
VELL_PLAIN_WRITER(WriteNegaPosiVisible, ecNegaPosiVisible)
#undef VELL_LAYER_WRITER
#undef VELL_PLAIN_WRITER

void TEventPacket::WriteMoveLayer(uint8_t from, uint8_t to) {
  TEventStart start(*this, ecMoveLayer);
  data_.WriteByte(from);
  data_.WriteByte(to);
}

void TEventPacket::WriteLayerVisible(uint8_t layer, int32_t visible) {
  TEventStart start(*this, ecLayerVisible);
  data_.WriteByte(layer);
  data_.WriteByte(visible != 0 ? 1 : 0);
}

void TEventPacket::WriteLayerOpacity(uint8_t layer, uint8_t opacity) {
  TEventStart start(*this, ecLayerOpacity);
  data_.WriteByte(layer);
  data_.WriteByte(opacity);
}

void TEventPacket::WriteLayerKind(uint8_t layer, uint8_t kind) {
  TEventStart start(*this, ecLayerKind);
  data_.WriteByte(layer);
  data_.WriteByte(kind);
}

void TEventPacket::WriteFillSelection(uint8_t layer, uint8_t r, uint8_t g, uint8_t b) {
  TEventStart start(*this, ecFillSelection);
  data_.WriteByte(layer);
  data_.WriteByte(r);
  data_.WriteByte(g);
  data_.WriteByte(b);
}

void TEventPacket::WriteOffsetLayer(uint8_t layer, int32_t dx, int32_t dy) {
  TEventStart start(*this, ecOffsetLayer);
  data_.WriteByte(layer);
  data_.WriteSmallInt(Sat16(dx));
  data_.WriteSmallInt(Sat16(dy));
}

void TEventPacket::WriteClearRect(uint8_t layer, int32_t x, int32_t y, int32_t w, int32_t h) {
  TEventStart start(*this, ecClearRect);
  data_.WriteByte(layer);
  for (int32_t v : {x, y, w, h}) data_.WriteSmallInt(Sat16(v));
}

void TEventPacket::WriteFillRect(uint8_t layer, int32_t x, int32_t y, int32_t w, int32_t h, uint8_t r,
                                 uint8_t g, uint8_t b) {
  TEventStart start(*this, ecFillRect);
  data_.WriteByte(layer);
  for (int32_t v : {x, y, w, h}) data_.WriteSmallInt(Sat16(v));
  data_.WriteByte(r);
  data_.WriteByte(g);
  data_.WriteByte(b);
}

namespace {
void WritePolygonPoints(TMyMemory& m, const TPoint* points, int32_t count) {
  int32_t n = points ? std::clamp(count, 0, kMaxEventCount) : 0;
  m.WriteWord(static_cast<uint16_t>(n));
  for (int32_t i = 0; i < n; ++i) {
    m.WriteSmallInt(Sat16(points[i].X));
    m.WriteSmallInt(Sat16(points[i].Y));
  }
}
}  // namespace

void TEventPacket::WriteClearPolygon(uint8_t layer, const TPoint* points, int32_t count) {
  TEventStart start(*this, ecClearPolygon);
  data_.WriteByte(layer);
  WritePolygonPoints(data_, points, count);
}

void TEventPacket::WriteFillPolygon(uint8_t layer, const TPoint* points, uint8_t r, uint8_t g, uint8_t b,
                                    int32_t count) {
  TEventStart start(*this, ecFillPolygon);
  data_.WriteByte(layer);
  data_.WriteByte(r);
  data_.WriteByte(g);
  data_.WriteByte(b);
  WritePolygonPoints(data_, points, count);
}

void TEventPacket::WriteLine(const TStrokeAttributes& attrs, uint8_t kind, int32_t x1, int32_t y1,
                             int32_t x2, int32_t y2) {
  TEventStart start(*this, ecLine);
  WriteStrokeAttributes(attrs);
  data_.WriteWord(kind <= ecStrokeLast ? kind : 0);
  for (int32_t v : {x1, y1, x2, y2}) data_.WriteSmallInt(Sat16(v));
}

void TEventPacket::WriteNewPaper(int32_t width, int32_t height) {
  TEventStart start(*this, ecNewPaper);
  data_.WriteWord(SatU16(width));
  data_.WriteWord(SatU16(height));
}

void TEventPacket::WritePaperColor(uint8_t r, uint8_t g, uint8_t b) {
  TEventStart start(*this, ecPaperColor);
  data_.WriteByte(r);
  data_.WriteByte(g);
  data_.WriteByte(b);
}

void TEventPacket::WriteCanvasSize(int32_t width, int32_t height, uint8_t anchor) {
  TEventStart start(*this, ecCanvasSize);
  data_.WriteWord(SatU16(width));
  data_.WriteWord(SatU16(height));
  data_.WriteByte(anchor);
}

void TEventPacket::WriteResolution(int32_t width, int32_t height) {
  TEventStart start(*this, ecResolution);
  data_.WriteWord(SatU16(width));
  data_.WriteWord(SatU16(height));
}

// ---- reading ----

void TEventPacket::DecodeAttributes(TStrokeAttributes& a) {
  a.Layer = data_.ReadByte();
  uint32_t r = data_.ReadByte(), g = data_.ReadByte(), b = data_.ReadByte();
  a.Color = (r << 16) + (g << 8) + b;
  uint8_t flags = data_.ReadByte();
  a.ifSIZE = (flags & 1) != 0;
  a.ifTRANSPARENCY = (flags & 2) != 0;
  a.ifEDGE = (flags & 4) != 0;
  a.MIN = static_cast<float>(data_.ReadWord() / 256.0L);
  a.WIDTH = static_cast<float>(data_.ReadWord() / 256.0L * scale_);
  a.GAMMA = static_cast<float>(data_.ReadWord() / 256.0L);
  a.EFFECT = static_cast<float>(data_.ReadWord() / 256.0L);
  a.ENV = static_cast<float>(data_.ReadWord() / 256.0L);
  a.SPEED = static_cast<float>(data_.ReadWord() / 256.0L);
}

bool TEventPacket::ReadStrokeAttributes(TStrokeAttributes& attrs) {
  attrs = {};
  if (!Has(kStrokeAttributesSize)) return false;
  DecodeAttributes(attrs);
  return true;
}

bool TEventPacket::ReadStrokeBegin(TStrokeAttributes& attrs, float& x, float& y, float& pressure) {
  attrs = {};
  x = y = pressure = 0;
  if (!Has(kStrokeHeaderSize - 2)) return false;
  DecodeAttributes(attrs);
  x = static_cast<float>(Scaled(data_.ReadSmallInt()));
  y = static_cast<float>(Scaled(data_.ReadSmallInt()));
  pressure = static_cast<float>(data_.ReadSmallInt() / 1024.0L);
  pointCount_ = data_.ReadWord();
  inStroke_ = true;
  lastX_ = x, lastY_ = y, lastPressure_ = pressure;
  return true;
}

bool TEventPacket::ReadStrokePoint(float& x, float& y, float& pressure) {
  if (inStroke_ && pointCount_ > 0 && Has(kStrokePointSize)) {
    lastX_ = static_cast<float>(Scaled(data_.ReadSmallInt()));
    lastY_ = static_cast<float>(Scaled(data_.ReadSmallInt()));
    lastPressure_ = static_cast<float>(data_.ReadSmallInt() / 1024.0L);
    pointCount_ -= 1;
  } else {
    pointCount_ = 0;
  }
  x = lastX_, y = lastY_, pressure = lastPressure_;
  if (pointCount_ > 0) return false;
  inStroke_ = false;
  return true;
}

bool TEventPacket::ReadNewLayer(uint8_t& kind) {
  kind = 0;
  if (!Has(1)) return false;
  kind = data_.ReadByte();
  return kind <= 3;
}

bool TEventPacket::ReadLayer(uint8_t& layer) {
  layer = 0;
  if (!Has(1)) return false;
  layer = data_.ReadByte();
  return true;
}

bool TEventPacket::ReadMoveLayer(uint8_t& from, uint8_t& to) {
  from = to = 0;
  if (!Has(2)) return false;
  from = data_.ReadByte();
  to = data_.ReadByte();
  return true;
}

bool TEventPacket::ReadLayerVisible(uint8_t& layer, bool& visible) {
  layer = 0;
  visible = false;
  if (!Has(2)) return false;
  layer = data_.ReadByte();
  visible = data_.ReadByte() == 1;
  return true;
}

bool TEventPacket::ReadLayerOpacity(uint8_t& layer, uint8_t& opacity) {
  layer = opacity = 0;
  if (!Has(2)) return false;
  layer = data_.ReadByte();
  opacity = data_.ReadByte();
  return true;
}

bool TEventPacket::ReadLayerKind(uint8_t& layer, uint8_t& kind) {
  layer = kind = 0;
  if (!Has(2)) return false;
  layer = data_.ReadByte();
  kind = data_.ReadByte();
  return kind <= 3;
}

bool TEventPacket::ReadFillSelection(uint8_t& layer, uint8_t& r, uint8_t& g, uint8_t& b) {
  layer = r = g = b = 0;
  if (!Has(4)) return false;
  layer = data_.ReadByte();
  r = data_.ReadByte();
  g = data_.ReadByte();
  b = data_.ReadByte();
  return true;
}

bool TEventPacket::ReadOffsetLayer(uint8_t& layer, int32_t& dx, int32_t& dy) {
  layer = 0;
  dx = dy = 0;
  if (!Has(5)) return false;
  layer = data_.ReadByte();
  dx = Scaled(data_.ReadSmallInt());
  dy = Scaled(data_.ReadSmallInt());
  return true;
}

bool TEventPacket::ReadClearRect(uint8_t& layer, int32_t& x, int32_t& y, int32_t& w, int32_t& h) {
  layer = 0;
  x = y = w = h = 0;
  if (!Has(9)) return false;
  layer = data_.ReadByte();
  x = Scaled(data_.ReadSmallInt());
  y = Scaled(data_.ReadSmallInt());
  w = Scaled(data_.ReadSmallInt());
  h = Scaled(data_.ReadSmallInt());
  return true;
}

bool TEventPacket::ReadFillRect(uint8_t& layer, int32_t& x, int32_t& y, int32_t& w, int32_t& h, uint8_t& r,
                                uint8_t& g, uint8_t& b) {
  r = g = b = 0;
  if (!Has(12)) {
    layer = 0;
    x = y = w = h = 0;
    return false;
  }
  ReadClearRect(layer, x, y, w, h);
  r = data_.ReadByte();
  g = data_.ReadByte();
  b = data_.ReadByte();
  return true;
}

bool TEventPacket::PolygonPresent(int32_t countAt) {
  if (!Has(countAt + 2)) return false;
  return Has(countAt + 2 + kPolygonPointSize * data_.ReadWord(countAt));
}

void TEventPacket::ReadPolygonPoints(int32_t count, TPoint* points, int32_t keep) {
  for (int32_t i = 0; i < count; ++i) {
    int16_t x = data_.ReadSmallInt();
    int16_t y = data_.ReadSmallInt();
    if (i < keep) points[i] = TPoint{Scaled(x), Scaled(y)};
  }
}

bool TEventPacket::ReadClearPolygon(uint8_t& layer, TPoint* points, int32_t capacity, int32_t& count) {
  layer = 0;
  count = 0;
  if (!PolygonPresent(1)) return false;
  layer = data_.ReadByte();
  count = data_.ReadWord();
  ReadPolygonPoints(count, points, points ? std::clamp(capacity, 0, count) : 0);
  return true;
}

bool TEventPacket::ReadClearPolygon(uint8_t& layer, std::vector<TPoint>& points) {
  points.clear();
  if (PolygonPresent(1)) points.resize(data_.ReadWord(1));
  int32_t count = 0;
  return ReadClearPolygon(layer, points.data(), static_cast<int32_t>(points.size()), count);
}

bool TEventPacket::ReadFillPolygon(uint8_t& layer, uint8_t& r, uint8_t& g, uint8_t& b, TPoint* points,
                                   int32_t capacity, int32_t& count) {
  layer = r = g = b = 0;
  count = 0;
  if (!PolygonPresent(4)) return false;
  layer = data_.ReadByte();
  r = data_.ReadByte();
  g = data_.ReadByte();
  b = data_.ReadByte();
  count = data_.ReadWord();
  ReadPolygonPoints(count, points, points ? std::clamp(capacity, 0, count) : 0);
  return true;
}

bool TEventPacket::ReadFillPolygon(uint8_t& layer, uint8_t& r, uint8_t& g, uint8_t& b,
                                   std::vector<TPoint>& points) {
  points.clear();
  if (PolygonPresent(4)) points.resize(data_.ReadWord(4));
  int32_t count = 0;
  return ReadFillPolygon(layer, r, g, b, points.data(), static_cast<int32_t>(points.size()), count);
}

bool TEventPacket::ReadLine(TStrokeAttributes& attrs, uint16_t& kind, int32_t& x1, int32_t& y1, int32_t& x2,
                            int32_t& y2) {
  attrs = {};
  kind = 0;
  x1 = y1 = x2 = y2 = 0;
  if (!Has(27)) return false;
  DecodeAttributes(attrs);
  kind = data_.ReadWord();
  x1 = Scaled(data_.ReadSmallInt());
  y1 = Scaled(data_.ReadSmallInt());
  x2 = Scaled(data_.ReadSmallInt());
  y2 = Scaled(data_.ReadSmallInt());
  return true;
}

bool TEventPacket::ReadNewPaper(int32_t& width, int32_t& height) {
  width = height = 0;
  if (!Has(4)) return false;
  width = ScaledSize(data_.ReadWord());
  height = ScaledSize(data_.ReadWord());
  return true;
}

bool TEventPacket::ReadPaperColor(uint8_t& r, uint8_t& g, uint8_t& b) {
  r = g = b = 0;
  if (!Has(3)) return false;
  r = data_.ReadByte();
  g = data_.ReadByte();
  b = data_.ReadByte();
  return true;
}

bool TEventPacket::ReadCanvasSize(int32_t& width, int32_t& height, uint8_t& anchor) {
  anchor = 0;
  if (!Has(5)) {
    width = height = 0;
    return false;
  }
  ReadNewPaper(width, height);
  anchor = data_.ReadByte();
  return true;
}

bool TEventPacket::ReadResolution(int32_t& width, int32_t& height) { return ReadNewPaper(width, height); }

// ---- whole streams ----

bool TEventPacket::LoadFromMemory(const TMyMemory& source) {
  int32_t length = 0;
  if (source.ReadPos() < 0 || !ValidateEventStream(source.ReadPointer(), source.Remaining(), length)) {
    return false;
  }
  // Make room before clearing, so that a failed allocation leaves the packet as it was.
  if (!data_.Reserve(length - data_.Size())) return false;
  data_.Clear();
  data_.WriteBuffer(source.ReadPointer(), length);
  data_.Rewind();
  return data_.Size() == length;
}

bool TEventPacket::LoadFromFile(const std::string& path) {
  TMyMemory file(kFileLoadCapacity);
  if (!file.LoadFromFile(path)) return false;
  file.Rewind();
  return LoadFromMemory(file);
}

bool TEventPacket::ExportToFile(const std::string& path) {
  data_.Rewind();
  plat::TAtomicFile file;
  if (!file.Open(path)) return false;
  for (;;) {
    int32_t size = 0;
    if (MeasureEvent(data_.ReadPointer(), data_.Remaining(), size) != TEventMeasure::Complete) return false;
    uint16_t code = PeekWord(data_.ReadPointer());
    if (!file.Write(data_.ReadPointer(), static_cast<size_t>(size))) return false;
    data_.Skip(size);
    if (code == ecEnd) return file.Commit();
  }
}
