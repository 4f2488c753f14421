#pragma once
// The drawing-event stream: event codes, their sizes, and TEventPacket, the recorder and reader
// of one stream. A stream is a sequence of events, each a little-endian 16-bit code and a
// payload, ended by ecEnd when it is stored; the same bytes live in memory, in event files, in
// picture files and on the wire.
#include <cstdint>
#include <string>
#include <vector>

#include "engine/MyStream.h"
#include "engine/Types.h"

// Event codes. A stroke's code is its brush kind (0..4).
constexpr uint16_t ecStroke = 0;
constexpr uint16_t ecStrokeLast = 4;
constexpr uint16_t ecNewLayer = 256;
constexpr uint16_t ecDeleteLayer = 257;
constexpr uint16_t ecCombineVisible = 258;
constexpr uint16_t ecDuplicateLayer = 259;
constexpr uint16_t ecMoveLayer = 260;
constexpr uint16_t ecCombineLower = 261;
constexpr uint16_t ecUndo = 272;
constexpr uint16_t ecSelectLayer = 273;
constexpr uint16_t ecLayerVisible = 274;
constexpr uint16_t ecLayerOpacity = 275;
constexpr uint16_t ecLayerKind = 276;
constexpr uint16_t ecShowOnly = 277;
constexpr uint16_t ecLayerUpsideDown = 288;
constexpr uint16_t ecLayerMirror = 289;
constexpr uint16_t ecLayerRotate180 = 290;
constexpr uint16_t ecLayerNegaPosi = 291;
constexpr uint16_t ecClearLayer = 292;
constexpr uint16_t ecFillSelection = 293;
constexpr uint16_t ecOffsetLayer = 294;
constexpr uint16_t ecClearRect = 295;
constexpr uint16_t ecFillRect = 296;
constexpr uint16_t ecClearPolygon = 297;
constexpr uint16_t ecFillPolygon = 304;
constexpr uint16_t ecLine = 305;
constexpr uint16_t ecNewPaper = 512;
constexpr uint16_t ecPaperColor = 513;
constexpr uint16_t ecCanvasSize = 514;
constexpr uint16_t ecResolution = 515;
constexpr uint16_t ecRotateRight = 516;
constexpr uint16_t ecRotateLeft = 517;
constexpr uint16_t ecClearUndoAll = 518;
constexpr uint16_t ecClearUndoLayer = 519;
constexpr uint16_t ecPaperSize = 520;
constexpr uint16_t ecUpsideDownVisible = 528;
constexpr uint16_t ecMirrorVisible = 529;
constexpr uint16_t ecRotate180Visible = 530;
constexpr uint16_t ecNegaPosiVisible = 531;
constexpr uint16_t ecEnd = 0xFFFF;

// Byte offsets inside variable-length events, from the event's first byte.
constexpr int32_t kStrokeCountOffset = 25;   // N of a stroke
constexpr int32_t kStrokeHeaderSize = 27;    // code, attributes, first point, N
constexpr int32_t kStrokePointSize = 6;
constexpr int32_t kClearPolygonCountOffset = 3;
constexpr int32_t kFillPolygonCountOffset = 6;
constexpr int32_t kPolygonPointSize = 4;
constexpr int32_t kStrokeAttributesSize = 17;
constexpr int32_t kMaxEventCount = 65535;    // largest N of a stroke or polygon

bool IsEventCode(uint16_t code);

enum class TEventMeasure {
  Complete,  // the whole event is present; size holds its length, code included
  Short,     // an event code, but its bytes are not all present yet
  NotEvent,  // not an event code (ecEnd is an event of size 2)
};
// Size of the event starting at p, of which avail bytes are present. The one sizing rule of
// validation, export and the player's wait for a complete event.
TEventMeasure MeasureEvent(const uint8_t* p, int32_t avail, int32_t& size);

// Walks a stream from its first byte: the first event must be ecNewPaper or ecPaperSize, every
// event must be complete, and ecEnd ends a valid stream. On success pos is the length up to and
// including the end marker; on failure it is the offset of the event (or missing code) at fault.
bool ValidateEventStream(const uint8_t* data, int32_t size, int32_t& pos);

// The 17-byte brush block of strokes and lines, decoded. Parameters are value / 256 (WIDTH also
// multiplied by the playback scale on reading); Color is 0x00RRGGBB.
struct TStrokeAttributes {
  uint8_t Layer = 0;
  uint32_t Color = 0;
  bool ifSIZE = false;
  bool ifTRANSPARENCY = false;
  bool ifEDGE = false;
  float MIN = 0, WIDTH = 0, GAMMA = 0, EFFECT = 0, ENV = 0, SPEED = 0;
  friend bool operator==(const TStrokeAttributes&, const TStrokeAttributes&) = default;
};

// The attributes of a brush, and the brush set from attributes through its setters, in the
// order in which a recorded stroke restores them.
template <class Brush>
TStrokeAttributes StrokeAttributesOf(const Brush& b) {
  TStrokeAttributes a;
  a.Layer = static_cast<uint8_t>(b.LayerIndex);
  a.Color = b.Color;
  a.ifSIZE = b.ifSIZE;
  a.ifTRANSPARENCY = b.ifTRANSPARENCY;
  a.ifEDGE = b.ifEDGE;
  a.MIN = b.MIN;
  a.WIDTH = b.WIDTH;
  a.GAMMA = b.GAMMA;
  a.EFFECT = b.EFFECT;
  a.ENV = b.ENV;
  a.SPEED = b.SPEED;
  return a;
}

template <class Brush>
void ApplyStrokeAttributes(const TStrokeAttributes& a, Brush& b) {
  b.SetLayer(a.Layer);
  b.SetColor(a.Color);
  b.SetPressureSize(a.ifSIZE);
  b.SetPressureAlpha(a.ifTRANSPARENCY);
  b.SetSmoothEdge(a.ifEDGE);
  b.SetMinSize(a.MIN);
  b.SetWidth(a.WIDTH);
  b.SetGamma(a.GAMMA);
  b.SetEffect(a.EFFECT);
  b.SetEnv(a.ENV);
  b.SetSpeed(a.SPEED);
}

// Recorder and reader of one drawing-event stream.
//
// Writers append one event at the write end. Values too large for their 16-bit field saturate
// (coordinates to -32768..32767, sizes, counts and brush parameters to 0..65535); values in range
// give the bytes of the event table unchanged. Layer, opacity and kind arguments are bytes.
//
// Readers consume one payload at the read cursor, after ReadCode. They return false, set their
// results to 0 and consume nothing when the payload is not all present (the player reads only
// complete events, so this guards misuse). Scaled results are Trunc(value x Scale).
class TEventPacket {
 public:
  TEventPacket();

  TMyMemory& Data() { return data_; }
  const TMyMemory& Data() const { return data_; }
  float Scale() const { return scale_; }
  bool InStroke() const { return inStroke_; }
  int32_t PointCount() const { return pointCount_; }

  void SetScale(float s) { scale_ = s; }
  void Clear();
  float GetProgress() const { return data_.ReadPercent(); }
  void WriteEndMarker();
  void DropEndMarker();
  // The next code; ecEnd (consuming nothing) when fewer than 2 bytes remain.
  uint16_t ReadCode();

  // Stroke recording. A kind outside 0..4 is recorded as 0, so that the stream stays readable.
  // Points beyond the 65535 that N can count are not recorded. EndStroke closes the open stroke
  // and does nothing when none is open.
  void BeginStroke(const TStrokeAttributes& attrs, uint8_t kind, float x, float y, float pressure);
  template <class Brush>
  void BeginStroke(const Brush& brush, float x, float y, float pressure) {
    BeginStroke(StrokeAttributesOf(brush), brush.Kind, x, y, pressure);
  }
  bool AddStrokePoint(float x, float y, float pressure);  // false when not recorded
  void EndStroke();

  void WriteStrokeAttributes(const TStrokeAttributes& attrs);
  void WriteNewLayer(uint8_t kind);
  void WriteDeleteLayer(uint8_t layer);
  void WriteCombineVisible();
  void WriteDuplicateLayer(uint8_t layer);
  void WriteMoveLayer(uint8_t from, uint8_t to);
  void WriteCombineLower(uint8_t layer);
  void WriteUndo(uint8_t layer);
  void WriteSelectLayer(uint8_t layer);
  void WriteLayerVisible(uint8_t layer, int32_t visible);  // any non-zero value is written as 1
  void WriteLayerOpacity(uint8_t layer, uint8_t opacity);
  void WriteLayerKind(uint8_t layer, uint8_t kind);
  void WriteShowOnly(uint8_t layer);
  void WriteLayerUpsideDown(uint8_t layer);
  void WriteLayerMirror(uint8_t layer);
  void WriteLayerRotate180(uint8_t layer);
  void WriteLayerNegaPosi(uint8_t layer);
  void WriteClearLayer(uint8_t layer);
  void WriteFillSelection(uint8_t layer, uint8_t r, uint8_t g, uint8_t b);
  void WriteOffsetLayer(uint8_t layer, int32_t dx, int32_t dy);
  void WriteClearRect(uint8_t layer, int32_t x, int32_t y, int32_t w, int32_t h);
  void WriteFillRect(uint8_t layer, int32_t x, int32_t y, int32_t w, int32_t h, uint8_t r, uint8_t g,
                     uint8_t b);
  // A count above 65535 records the first 65535 points; a negative count records none.
  void WriteClearPolygon(uint8_t layer, const TPoint* points, int32_t count);
  void WriteFillPolygon(uint8_t layer, const TPoint* points, uint8_t r, uint8_t g, uint8_t b,
                        int32_t count);
  // The kind is written as a 16-bit field; a kind outside 0..4 as 0.
  void WriteLine(const TStrokeAttributes& attrs, uint8_t kind, int32_t x1, int32_t y1, int32_t x2,
                 int32_t y2);
  template <class Brush>
  void WriteLine(const Brush& brush, int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
    WriteLine(StrokeAttributesOf(brush), brush.Kind, x1, y1, x2, y2);
  }
  void WriteNewPaper(int32_t width, int32_t height);
  void WritePaperColor(uint8_t r, uint8_t g, uint8_t b);
  void WriteCanvasSize(int32_t width, int32_t height, uint8_t anchor);
  void WriteResolution(int32_t width, int32_t height);
  void WriteRotateRight();
  void WriteRotateLeft();
  void WriteClearUndoAll();
  void WriteClearUndoLayer(uint8_t layer);
  void WriteUpsideDownVisible();
  void WriteMirrorVisible();
  void WriteRotate180Visible();
  void WriteNegaPosiVisible();

  // Stroke reading. ReadStrokeBegin returns the scaled first point (whole numbers) and the
  // pressure, and opens the stroke with PointCount := N. ReadStrokePoint gives the next point and
  // true for the stroke's last one. A stroke with N = 0, or one whose points run out, ends at the
  // last point read: that point is given once more as the last, and nothing is consumed.
  bool ReadStrokeBegin(TStrokeAttributes& attrs, float& x, float& y, float& pressure);
  template <class Brush>
  bool ReadStrokeBegin(Brush& brush, float& x, float& y, float& pressure) {
    TStrokeAttributes a;
    bool ok = ReadStrokeBegin(a, x, y, pressure);
    if (ok) ApplyStrokeAttributes(a, brush);
    return ok;
  }
  bool ReadStrokePoint(float& x, float& y, float& pressure);
  bool ReadStrokeAttributes(TStrokeAttributes& attrs);
  template <class Brush>
  bool ReadStrokeAttributes(Brush& brush) {
    TStrokeAttributes a;
    bool ok = ReadStrokeAttributes(a);
    if (ok) ApplyStrokeAttributes(a, brush);
    return ok;
  }

  // Kind readers give the byte read, and false when it is no kind (outside 0..3).
  bool ReadNewLayer(uint8_t& kind);
  bool ReadLayer(uint8_t& layer);  // the payload of every event that carries only a layer
  bool ReadDeleteLayer(uint8_t& layer) { return ReadLayer(layer); }
  bool ReadDuplicateLayer(uint8_t& layer) { return ReadLayer(layer); }
  bool ReadCombineLower(uint8_t& layer) { return ReadLayer(layer); }
  bool ReadUndo(uint8_t& layer) { return ReadLayer(layer); }
  bool ReadSelectLayer(uint8_t& layer) { return ReadLayer(layer); }
  bool ReadShowOnly(uint8_t& layer) { return ReadLayer(layer); }
  bool ReadLayerUpsideDown(uint8_t& layer) { return ReadLayer(layer); }
  bool ReadLayerMirror(uint8_t& layer) { return ReadLayer(layer); }
  bool ReadLayerRotate180(uint8_t& layer) { return ReadLayer(layer); }
  bool ReadLayerNegaPosi(uint8_t& layer) { return ReadLayer(layer); }
  bool ReadClearLayer(uint8_t& layer) { return ReadLayer(layer); }
  bool ReadClearUndoLayer(uint8_t& layer) { return ReadLayer(layer); }
  bool ReadMoveLayer(uint8_t& from, uint8_t& to);
  bool ReadLayerVisible(uint8_t& layer, bool& visible);  // visible only for the byte 1
  bool ReadLayerOpacity(uint8_t& layer, uint8_t& opacity);
  bool ReadLayerKind(uint8_t& layer, uint8_t& kind);
  bool ReadFillSelection(uint8_t& layer, uint8_t& r, uint8_t& g, uint8_t& b);
  bool ReadOffsetLayer(uint8_t& layer, int32_t& dx, int32_t& dy);
  bool ReadClearRect(uint8_t& layer, int32_t& x, int32_t& y, int32_t& w, int32_t& h);
  bool ReadFillRect(uint8_t& layer, int32_t& x, int32_t& y, int32_t& w, int32_t& h, uint8_t& r,
                    uint8_t& g, uint8_t& b);
  // Polygon readers store at most `capacity` points (count tells how many the event holds) and
  // always consume the whole event; the vector forms return every point.
  bool ReadClearPolygon(uint8_t& layer, TPoint* points, int32_t capacity, int32_t& count);
  bool ReadClearPolygon(uint8_t& layer, std::vector<TPoint>& points);
  bool ReadFillPolygon(uint8_t& layer, uint8_t& r, uint8_t& g, uint8_t& b, TPoint* points,
                       int32_t capacity, int32_t& count);
  bool ReadFillPolygon(uint8_t& layer, uint8_t& r, uint8_t& g, uint8_t& b, std::vector<TPoint>& points);
  // kind is the raw 16-bit field; a brush takes it only when it is 0..4.
  bool ReadLine(TStrokeAttributes& attrs, uint16_t& kind, int32_t& x1, int32_t& y1, int32_t& x2,
                int32_t& y2);
  template <class Brush>
  bool ReadLine(Brush& brush, int32_t& x1, int32_t& y1, int32_t& x2, int32_t& y2) {
    TStrokeAttributes a;
    uint16_t kind = 0;
    bool ok = ReadLine(a, kind, x1, y1, x2, y2);
    if (ok) {
      ApplyStrokeAttributes(a, brush);
      if (kind <= ecStrokeLast) brush.SetKind(static_cast<uint8_t>(kind));
    }
    return ok;
  }
  // Paper sizes are scaled and saturate to 0..65535.
  bool ReadNewPaper(int32_t& width, int32_t& height);
  bool ReadPaperColor(uint8_t& r, uint8_t& g, uint8_t& b);
  bool ReadCanvasSize(int32_t& width, int32_t& height, uint8_t& anchor);
  bool ReadResolution(int32_t& width, int32_t& height);

  // Takes over a valid stream that starts at the source's read cursor, keeping it up to and
  // including its first ecEnd (bytes after it are dropped, so that drawing appended after a
  // playback is exported). False, and Data unchanged, for an invalid stream. The source's cursor
  // does not move; InStroke, PointCount and Scale are not changed.
  bool LoadFromMemory(const TMyMemory& source);
  bool LoadFromFile(const std::string& path);
  // Writes every event up to and including the first ecEnd, saving atomically: true only when
  // all of it reached the file; on failure an existing file is left as it was. Leaves the read
  // cursor after the exported end marker.
  bool ExportToFile(const std::string& path);

 private:
  int32_t Scaled(int32_t v) const;
  int32_t ScaledSize(uint16_t v) const;
  bool Has(int32_t payload) const { return data_.Remaining() >= payload; }
  void DecodeAttributes(TStrokeAttributes& a);
  void WritePoint(float x, float y, float pressure);
  bool PolygonPresent(int32_t countAt);  // the whole polygon payload is at the cursor
  void ReadPolygonPoints(int32_t count, TPoint* points, int32_t keep);

  float scale_ = 1.0f;
  TMyMemory data_;
  bool inStroke_ = false;
  int32_t pointCount_ = 0;
  // The last stroke point read, given again when a stroke's points run out.
  float lastX_ = 0, lastY_ = 0, lastPressure_ = 0;
};
