#include "engine/EventPacket.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <set>
#include <sstream>

#include "EventPacketTestUtil.h"

namespace {

std::string Fields(std::initializer_list<int64_t> values) {
  std::ostringstream s;
  for (int64_t v : values) s << v << ' ';
  return s.str();
}

std::string AttrFields(const TStrokeAttributes& a) {
  std::ostringstream s;
  s << int(a.Layer) << ' ' << std::hex << a.Color << std::dec << ' ' << a.ifSIZE << a.ifTRANSPARENCY << a.ifEDGE
    << ' ' << a.MIN << ' ' << a.WIDTH << ' ' << a.GAMMA << ' ' << a.EFFECT << ' ' << a.ENV << ' ' << a.SPEED
    << " | ";
  return s.str();
}

// One row per event code: how it is written, its bytes, and what its reader gives back.
struct EventCase {
  const char* name;
  std::function<void(TEventPacket&)> write;
  std::vector<uint8_t> bytes;
  std::function<bool(TEventPacket&, std::string&)> read;  // after ReadCode
  std::string fields;
};

using Rd = std::function<bool(TEventPacket&, std::string&)>;

Rd LayerReader(bool (TEventPacket::*reader)(uint8_t&)) {
  return [reader](TEventPacket& p, std::string& f) {
    uint8_t layer = 0;
    bool ok = (p.*reader)(layer);
    f = Fields({layer});
    return ok;
  };
}

Rd NoPayload() {
  return [](TEventPacket&, std::string& f) {
    f = "";
    return true;
  };
}

std::vector<EventCase> EventTable() {
  const std::vector<TPoint> tri = {{10, 20}, {-30, 40}, {32767, -32768}};
  using P = TEventPacket;
  return {
      {"NewLayer", [](P& p) { p.WriteNewLayer(2); }, B().w(256).b(2),
       [](P& p, std::string& f) {
         uint8_t k;
         bool ok = p.ReadNewLayer(k);
         f = Fields({k});
         return ok;
       },
       "2 "},
      {"DeleteLayer", [](P& p) { p.WriteDeleteLayer(7); }, B().w(257).b(7), LayerReader(&P::ReadDeleteLayer), "7 "},
      {"CombineVisible", [](P& p) { p.WriteCombineVisible(); }, B().w(258), NoPayload(), ""},
      {"DuplicateLayer", [](P& p) { p.WriteDuplicateLayer(3); }, B().w(259).b(3), LayerReader(&P::ReadDuplicateLayer),
       "3 "},
      {"MoveLayer", [](P& p) { p.WriteMoveLayer(4, 1); }, B().w(260).b(4).b(1),
       [](P& p, std::string& f) {
         uint8_t a, b;
         bool ok = p.ReadMoveLayer(a, b);
         f = Fields({a, b});
         return ok;
       },
       "4 1 "},
      {"CombineLower", [](P& p) { p.WriteCombineLower(5); }, B().w(261).b(5), LayerReader(&P::ReadCombineLower), "5 "},
      {"Undo", [](P& p) { p.WriteUndo(6); }, B().w(272).b(6), LayerReader(&P::ReadUndo), "6 "},
      {"SelectLayer", [](P& p) { p.WriteSelectLayer(23); }, B().w(273).b(23), LayerReader(&P::ReadSelectLayer),
       "23 "},
      {"LayerVisible", [](P& p) { p.WriteLayerVisible(1, 5); }, B().w(274).b(1).b(1),
       [](P& p, std::string& f) {
         uint8_t l;
         bool v;
         bool ok = p.ReadLayerVisible(l, v);
         f = Fields({l, v});
         return ok;
       },
       "1 1 "},
      {"LayerHidden", [](P& p) { p.WriteLayerVisible(2, 0); }, B().w(274).b(2).b(0),
       [](P& p, std::string& f) {
         uint8_t l;
         bool v;
         bool ok = p.ReadLayerVisible(l, v);
         f = Fields({l, v});
         return ok;
       },
       "2 0 "},
      {"LayerOpacity", [](P& p) { p.WriteLayerOpacity(3, 200); }, B().w(275).b(3).b(200),
       [](P& p, std::string& f) {
         uint8_t l, o;
         bool ok = p.ReadLayerOpacity(l, o);
         f = Fields({l, o});
         return ok;
       },
       "3 200 "},
      {"LayerKind", [](P& p) { p.WriteLayerKind(4, 3); }, B().w(276).b(4).b(3),
       [](P& p, std::string& f) {
         uint8_t l, k;
         bool ok = p.ReadLayerKind(l, k);
         f = Fields({l, k});
         return ok;
       },
       "4 3 "},
      {"ShowOnly", [](P& p) { p.WriteShowOnly(9); }, B().w(277).b(9), LayerReader(&P::ReadShowOnly), "9 "},
      {"LayerUpsideDown", [](P& p) { p.WriteLayerUpsideDown(1); }, B().w(288).b(1),
       LayerReader(&P::ReadLayerUpsideDown), "1 "},
      {"LayerMirror", [](P& p) { p.WriteLayerMirror(2); }, B().w(289).b(2), LayerReader(&P::ReadLayerMirror), "2 "},
      {"LayerRotate180", [](P& p) { p.WriteLayerRotate180(3); }, B().w(290).b(3), LayerReader(&P::ReadLayerRotate180),
       "3 "},
      {"LayerNegaPosi", [](P& p) { p.WriteLayerNegaPosi(4); }, B().w(291).b(4), LayerReader(&P::ReadLayerNegaPosi),
       "4 "},
      {"ClearLayer", [](P& p) { p.WriteClearLayer(255); }, B().w(292).b(255), LayerReader(&P::ReadClearLayer), "255 "},
      {"FillSelection", [](P& p) { p.WriteFillSelection(1, 255, 128, 0); }, B().w(293).b(1).b(255).b(128).b(0),
       [](P& p, std::string& f) {
         uint8_t l, r, g, b;
         bool ok = p.ReadFillSelection(l, r, g, b);
         f = Fields({l, r, g, b});
         return ok;
       },
       "1 255 128 0 "},
      {"OffsetLayer", [](P& p) { p.WriteOffsetLayer(2, -15, 300); }, B().w(294).b(2).w(-15).w(300),
       [](P& p, std::string& f) {
         uint8_t l;
         int32_t dx, dy;
         bool ok = p.ReadOffsetLayer(l, dx, dy);
         f = Fields({l, dx, dy});
         return ok;
       },
       "2 -15 300 "},
      {"ClearRect", [](P& p) { p.WriteClearRect(3, -2, 5, 100, 50); }, B().w(295).b(3).w(-2).w(5).w(100).w(50),
       [](P& p, std::string& f) {
         uint8_t l;
         int32_t x, y, w, h;
         bool ok = p.ReadClearRect(l, x, y, w, h);
         f = Fields({l, x, y, w, h});
         return ok;
       },
       "3 -2 5 100 50 "},
      {"FillRect", [](P& p) { p.WriteFillRect(4, 1, 2, 3, 4, 10, 20, 30); },
       B().w(296).b(4).w(1).w(2).w(3).w(4).b(10).b(20).b(30),
       [](P& p, std::string& f) {
         uint8_t l, r, g, b;
         int32_t x, y, w, h;
         bool ok = p.ReadFillRect(l, x, y, w, h, r, g, b);
         f = Fields({l, x, y, w, h, r, g, b});
         return ok;
       },
       "4 1 2 3 4 10 20 30 "},
      {"ClearPolygon", [tri](P& p) { p.WriteClearPolygon(5, tri.data(), 3); },
       B().w(297).b(5).w(3).w(10).w(20).w(-30).w(40).w(32767).w(-32768),
       [](P& p, std::string& f) {
         uint8_t l;
         std::vector<TPoint> pts;
         bool ok = p.ReadClearPolygon(l, pts);
         f = Fields({l, int64_t(pts.size())});
         for (auto& q : pts) f += Fields({q.X, q.Y});
         return ok;
       },
       "5 3 10 20 -30 40 32767 -32768 "},
      {"FillPolygon", [tri](P& p) { p.WriteFillPolygon(6, tri.data(), 1, 2, 3, 3); },
       B().w(304).b(6).b(1).b(2).b(3).w(3).w(10).w(20).w(-30).w(40).w(32767).w(-32768),
       [](P& p, std::string& f) {
         uint8_t l, r, g, b;
         std::vector<TPoint> pts;
         bool ok = p.ReadFillPolygon(l, r, g, b, pts);
         f = Fields({l, r, g, b, int64_t(pts.size())});
         for (auto& q : pts) f += Fields({q.X, q.Y});
         return ok;
       },
       "6 1 2 3 3 10 20 -30 40 32767 -32768 "},
      {"FillPolygonEmpty", [](P& p) { p.WriteFillPolygon(0, nullptr, 9, 9, 9, 0); }, B().w(304).b(0).b(9).b(9).b(9).w(0),
       [](P& p, std::string& f) {
         uint8_t l, r, g, b;
         std::vector<TPoint> pts;
         bool ok = p.ReadFillPolygon(l, r, g, b, pts);
         f = Fields({l, r, g, b, int64_t(pts.size())});
         return ok;
       },
       "0 9 9 9 0 "},
      {"Line", [](P& p) { p.WriteLine(SampleAttributes(), 3, -1, 2, 300, -400); },
       B().w(305).add(SampleAttributeBytes()).w(3).w(-1).w(2).w(300).w(-400),
       [](P& p, std::string& f) {
         TStrokeAttributes a;
         uint16_t k;
         int32_t x1, y1, x2, y2;
         bool ok = p.ReadLine(a, k, x1, y1, x2, y2);
         f = AttrFields(a) + Fields({k, x1, y1, x2, y2});
         return ok;
       },
       AttrFields(SampleAttributes()) + "3 -1 2 300 -400 "},
      {"NewPaper", [](P& p) { p.WriteNewPaper(640, 480); }, B().w(512).w(640).w(480),
       [](P& p, std::string& f) {
         int32_t w, h;
         bool ok = p.ReadNewPaper(w, h);
         f = Fields({w, h});
         return ok;
       },
       "640 480 "},
      {"PaperColor", [](P& p) { p.WritePaperColor(255, 128, 0); }, B().w(513).b(255).b(128).b(0),
       [](P& p, std::string& f) {
         uint8_t r, g, b;
         bool ok = p.ReadPaperColor(r, g, b);
         f = Fields({r, g, b});
         return ok;
       },
       "255 128 0 "},
      {"CanvasSize", [](P& p) { p.WriteCanvasSize(5000, 1, 8); }, B().w(514).w(5000).w(1).b(8),
       [](P& p, std::string& f) {
         int32_t w, h;
         uint8_t a;
         bool ok = p.ReadCanvasSize(w, h, a);
         f = Fields({w, h, a});
         return ok;
       },
       "5000 1 8 "},
      {"Resolution", [](P& p) { p.WriteResolution(320, 240); }, B().w(515).w(320).w(240),
       [](P& p, std::string& f) {
         int32_t w, h;
         bool ok = p.ReadResolution(w, h);
         f = Fields({w, h});
         return ok;
       },
       "320 240 "},
      {"RotateRight", [](P& p) { p.WriteRotateRight(); }, B().w(516), NoPayload(), ""},
      {"RotateLeft", [](P& p) { p.WriteRotateLeft(); }, B().w(517), NoPayload(), ""},
      {"ClearUndoAll", [](P& p) { p.WriteClearUndoAll(); }, B().w(518), NoPayload(), ""},
      {"ClearUndoLayer", [](P& p) { p.WriteClearUndoLayer(11); }, B().w(519).b(11), LayerReader(&P::ReadClearUndoLayer),
       "11 "},
      {"UpsideDownVisible", [](P& p) { p.WriteUpsideDownVisible(); }, B().w(528), NoPayload(), ""},
      {"MirrorVisible", [](P& p) { p.WriteMirrorVisible(); }, B().w(529), NoPayload(), ""},
      {"Rotate180Visible", [](P& p) { p.WriteRotate180Visible(); }, B().w(530), NoPayload(), ""},
      {"NegaPosiVisible", [](P& p) { p.WriteNegaPosiVisible(); }, B().w(531), NoPayload(), ""},
      {"End", [](P& p) { p.WriteEndMarker(); }, B().w(0xFFFF), NoPayload(), ""},
  };
}

TEST(EventTable, EveryCodeWritesItsBytesAndReadsBack) {
  for (const EventCase& c : EventTable()) {
    SCOPED_TRACE(c.name);
    TEventPacket p;
    c.write(p);
    ASSERT_EQ(StreamBytes(p), c.bytes);
    int32_t size = 0;
    EXPECT_EQ(MeasureEvent(c.bytes.data(), static_cast<int32_t>(c.bytes.size()), size), TEventMeasure::Complete);
    EXPECT_EQ(size, static_cast<int32_t>(c.bytes.size()));
    // The event needs every one of its bytes.
    EXPECT_EQ(MeasureEvent(c.bytes.data(), size - 1, size), TEventMeasure::Short);

    EXPECT_EQ(p.ReadCode(), c.bytes[0] | (c.bytes[1] << 8));
    std::string fields;
    EXPECT_TRUE(c.read(p, fields));
    EXPECT_EQ(fields, c.fields);
    EXPECT_EQ(p.Data().Remaining(), 0) << "the reader consumes exactly the payload";
    EXPECT_FALSE(p.Data().ReadFailed());
  }
}

TEST(EventTable, ReadersRefuseAPayloadCutShort) {
  for (const EventCase& c : EventTable()) {
    if (c.bytes.size() == 2) continue;  // no payload to cut
    SCOPED_TRACE(c.name);
    TEventPacket p;
    SetRaw(p, std::vector<uint8_t>(c.bytes.begin(), c.bytes.end() - 1));
    p.ReadCode();
    std::string fields;
    EXPECT_FALSE(c.read(p, fields));
    EXPECT_EQ(p.Data().ReadPos(), 2) << "nothing of the short payload is consumed";
  }
}

TEST(EventTable, CodesOutsideTheTableAreNotEvents) {
  std::set<int> codes = {0, 1, 2, 3, 4, 297, 304};
  for (const EventCase& c : EventTable()) codes.insert(c.bytes[0] | (c.bytes[1] << 8));
  codes.insert(ecPaperSize);  // no writer, but an event
  for (int code = 0; code <= 0xFFFF; ++code) {
    EXPECT_EQ(IsEventCode(static_cast<uint16_t>(code)), codes.count(code) == 1) << code;
  }
  uint8_t bytes[32] = {};
  for (int code : {5, 255, 262, 271, 278, 287, 298, 303, 306, 511, 521, 527, 532, 65534}) {
    bytes[0] = static_cast<uint8_t>(code), bytes[1] = static_cast<uint8_t>(code >> 8);
    int32_t size = 0;
    EXPECT_EQ(MeasureEvent(bytes, 32, size), TEventMeasure::NotEvent) << code;
  }
}

TEST(EventTable, KindReadersReportNoKindOutsideZeroToThree) {
  TEventPacket p;
  SetRaw(p, B().w(ecNewLayer).b(4).w(ecLayerKind).b(1).b(200));
  uint8_t kind = 0, layer = 0;
  p.ReadCode();
  EXPECT_FALSE(p.ReadNewLayer(kind));
  EXPECT_EQ(kind, 4);
  p.ReadCode();
  EXPECT_FALSE(p.ReadLayerKind(layer, kind));
  EXPECT_EQ(layer, 1);
  EXPECT_EQ(kind, 200);
  EXPECT_EQ(p.Data().Remaining(), 0);
}

TEST(EventTable, VisibleOnlyForTheByteOne) {
  TEventPacket p;
  SetRaw(p, B().w(ecLayerVisible).b(0).b(2).w(ecLayerVisible).b(0).b(1));
  uint8_t layer;
  bool visible = true;
  p.ReadCode();
  p.ReadLayerVisible(layer, visible);
  EXPECT_FALSE(visible);
  p.ReadCode();
  p.ReadLayerVisible(layer, visible);
  EXPECT_TRUE(visible);
}

TEST(Stroke, RecordedStrokeLayout) {
  for (uint8_t kind = 0; kind <= 4; ++kind) {
    SCOPED_TRACE(int(kind));
    TEventPacket p;
    p.BeginStroke(SampleAttributes(), kind, 10.7f, -5.2f, 0.5f);
    EXPECT_TRUE(p.InStroke());
    p.AddStrokePoint(-3.9f, 4000.2f, 1.0f);
    p.AddStrokePoint(7, 8, 0);
    EXPECT_EQ(p.PointCount(), 2);
    p.EndStroke();
    EXPECT_FALSE(p.InStroke());
    std::vector<uint8_t> expect =
        B().w(kind).add(SampleAttributeBytes()).w(10).w(-5).w(512).w(2).w(-3).w(4000).w(1024).w(7).w(8).w(0);
    ASSERT_EQ(StreamBytes(p), expect);
    EXPECT_EQ(expect.size(), 39u);
    TMyMemory& m = p.Data();
    EXPECT_EQ(m.ReadSmallInt(19), 10);
    EXPECT_EQ(m.ReadSmallInt(21), -5);
    EXPECT_EQ(m.ReadSmallInt(23), 512);
    EXPECT_EQ(m.ReadWord(25), 2);
    EXPECT_EQ(m.ReadSmallInt(27 + 6), 7);
  }
}

TEST(Stroke, ReadBackThroughABrush) {
  TEventPacket rec;
  TFakeBrush brush;
  brush.Kind = 1;
  brush.LayerIndex = 2;
  brush.Color = 0xFFFF8000;  // the alpha byte is not recorded
  brush.ifSIZE = brush.ifEDGE = true;
  brush.MIN = 75, brush.WIDTH = 1.5f, brush.GAMMA = 1, brush.EFFECT = 65, brush.ENV = 40, brush.SPEED = 30;
  rec.BeginStroke(brush, 10, -5, 0.5f);
  rec.AddStrokePoint(11, -6, 0.25f);
  rec.EndStroke();
  ASSERT_EQ(StreamBytes(rec), (std::vector<uint8_t>)B().w(1).add(SampleAttributeBytes()).w(10).w(-5).w(512).w(1).w(11)
                                  .w(-6).w(256));

  TFakeBrush played;
  float x, y, pr;
  EXPECT_EQ(rec.ReadCode(), 1);
  ASSERT_TRUE(rec.ReadStrokeBegin(played, x, y, pr));
  EXPECT_EQ(played.calls, "layer color size alpha edge min width gamma effect env speed");
  EXPECT_EQ(played.Color, 0xFF8000u);
  EXPECT_EQ(played.LayerIndex, 2);
  EXPECT_TRUE(played.ifSIZE && !played.ifTRANSPARENCY && played.ifEDGE);
  EXPECT_EQ(played.MIN, 75);
  EXPECT_EQ(played.WIDTH, 1.5f);
  EXPECT_EQ(played.SPEED, 30);
  EXPECT_EQ(std::vector<float>({x, y, pr}), std::vector<float>({10, -5, 0.5f}));
  EXPECT_TRUE(rec.InStroke());
  EXPECT_EQ(rec.PointCount(), 1);
  EXPECT_TRUE(rec.ReadStrokePoint(x, y, pr));
  EXPECT_EQ(std::vector<float>({x, y, pr}), std::vector<float>({11, -6, 0.25f}));
  EXPECT_FALSE(rec.InStroke());
  EXPECT_EQ(rec.Data().Remaining(), 0);
}

TEST(Stroke, EncodingOfBrushValues) {
  struct Case {
    float value;
    uint16_t stored;
  } cases[] = {{1.5f, 384}, {200, 51200}, {0.1f, 25}, {0, 0}, {255.99609375f, 65535}};
  for (const auto& c : cases) {
    TEventPacket p;
    TStrokeAttributes a;
    a.WIDTH = c.value;
    p.WriteStrokeAttributes(a);
    EXPECT_EQ(p.Data().ReadWord(7), c.stored) << c.value;
  }
}

TEST(Stroke, ZeroPointStrokeEndsAtItsFirstPoint) {
  TEventPacket p;
  SetRaw(p, B().w(0).add(SampleAttributeBytes()).w(5).w(6).w(1024).w(0).w(ecEnd));
  TStrokeAttributes a;
  float x, y, pr;
  p.ReadCode();
  ASSERT_TRUE(p.ReadStrokeBegin(a, x, y, pr));
  EXPECT_EQ(p.PointCount(), 0);
  float x2 = -1, y2 = -1, p2 = -1;
  EXPECT_TRUE(p.ReadStrokePoint(x2, y2, p2));  // last point: the first one again
  EXPECT_EQ(std::vector<float>({x2, y2, p2}), std::vector<float>({5, 6, 1}));
  EXPECT_FALSE(p.InStroke());
  EXPECT_EQ(p.ReadCode(), ecEnd);
  EXPECT_EQ(p.Data().Remaining(), 0);
}

TEST(Stroke, PointsThatRunOutEndTheStrokeWithoutReadingPastTheData) {
  TEventPacket p;
  // N says 3 but only one point and half of another are present.
  SetRaw(p, B().w(0).add(SampleAttributeBytes()).w(1).w(2).w(0).w(3).w(4).w(5).w(512).w(9));
  TStrokeAttributes a;
  float x, y, pr;
  p.ReadCode();
  ASSERT_TRUE(p.ReadStrokeBegin(a, x, y, pr));
  EXPECT_FALSE(p.ReadStrokePoint(x, y, pr));
  EXPECT_EQ(x, 4);
  EXPECT_TRUE(p.ReadStrokePoint(x, y, pr));
  EXPECT_EQ(std::vector<float>({x, y, pr}), std::vector<float>({4, 5, 0.5f}));
  EXPECT_FALSE(p.InStroke());
  EXPECT_EQ(p.Data().Remaining(), 2);
  EXPECT_FALSE(p.Data().ReadFailed());
}

TEST(Stroke, RecorderKeepsTheStreamWellFormed) {
  TEventPacket p;
  p.WriteNewPaper(100, 100);
  // A kind outside 0..4 would make the code a non-event.
  p.BeginStroke(SampleAttributes(), 9, 1, 1, 1);
  p.AddStrokePoint(2, 2, 1);
  // Another event (or a second begin) while a stroke is open closes it first.
  p.WriteUndo(0);
  p.BeginStroke(SampleAttributes(), 2, 1, 1, 1);
  p.BeginStroke(SampleAttributes(), 3, 1, 1, 1);
  p.AddStrokePoint(5, 5, 0);
  p.WriteLine(SampleAttributes(), 200, 0, 0, 1, 1);
  p.EndStroke();  // nothing open: ignored
  EXPECT_FALSE(p.AddStrokePoint(1, 1, 1));
  p.WriteEndMarker();
  int32_t len = 0;
  ASSERT_TRUE(ValidateEventStream(p.Data().Memory(), p.Data().Size(), len));
  EXPECT_EQ(len, p.Data().Size());
  TMyMemory& m = p.Data();
  EXPECT_EQ(m.ReadWord(6), 0);                // stroke code of the bad kind
  EXPECT_EQ(m.ReadWord(6 + 25), 1);           // its N
  int32_t line = 6 + 33 + 3 + 27 + 33;
  EXPECT_EQ(m.ReadWord(line), ecLine);
  EXPECT_EQ(m.ReadWord(line + 19), 0);        // line kind of 200
}

TEST(Stroke, PointsBeyondWhatNCountsAreNotRecorded) {
  TEventPacket p;
  p.BeginStroke(SampleAttributes(), 0, 0, 0, 1);
  for (int i = 0; i < kMaxEventCount; ++i) ASSERT_TRUE(p.AddStrokePoint(float(i % 100), 0, 1));
  EXPECT_FALSE(p.AddStrokePoint(1, 1, 1));
  p.EndStroke();
  EXPECT_EQ(p.Data().Size(), 27 + 6 * kMaxEventCount);
  EXPECT_EQ(p.Data().ReadWord(25), 65535);
}

TEST(Writers, SixteenBitFieldsSaturate) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  struct Case {
    const char* what;
    std::function<void(TEventPacket&)> write;
    std::vector<uint8_t> bytes;
  } cases[] = {
      {"rect coordinates", [](TEventPacket& p) { p.WriteClearRect(0, 40000, -40000, 32767, -32768); },
       B().w(295).b(0).w(32767).w(-32768).w(32767).w(-32768)},
      {"offset", [](TEventPacket& p) { p.WriteOffsetLayer(0, -70000, 70000); }, B().w(294).b(0).w(-32768).w(32767)},
      {"paper size", [](TEventPacket& p) { p.WriteNewPaper(70000, -1); }, B().w(512).w(65535).w(0)},
      {"canvas size", [](TEventPacket& p) { p.WriteCanvasSize(65535, 65536, 4); }, B().w(514).w(65535).w(65535).b(4)},
      {"resolution", [](TEventPacket& p) { p.WriteResolution(-5, 100000); }, B().w(515).w(0).w(65535)},
      {"line ends", [](TEventPacket& p) { p.WriteLine(TStrokeAttributes{}, 0, 1 << 20, -(1 << 20), 0, 0); },
       B().w(305).add(std::vector<uint8_t>(17, 0)).w(0).w(32767).w(-32768).w(0).w(0)},
      {"stroke point and pressure",
       [nan](TEventPacket& p) {
         p.BeginStroke(TStrokeAttributes{}, 0, 1e9f, -1e9f, 40.0f);
         p.AddStrokePoint(nan, 0, -1e30f);
         p.EndStroke();
       },
       B().w(0).add(std::vector<uint8_t>(17, 0)).w(32767).w(-32768).w(32767).w(1).w(0).w(0).w(-32768)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TEventPacket p;
    c.write(p);
    EXPECT_EQ(StreamBytes(p), c.bytes);
  }

  TStrokeAttributes a;
  a.MIN = 300, a.WIDTH = -2, a.GAMMA = nan, a.EFFECT = 1e30f, a.ENV = 255.999f, a.SPEED = 256;
  TEventPacket p;
  p.WriteStrokeAttributes(a);
  EXPECT_EQ(StreamBytes(p),
            (std::vector<uint8_t>)B().b(0).b(0).b(0).b(0).b(0).w(65535).w(0).w(0).w(65535).w(65535).w(65535));
}

TEST(Writers, PolygonCountIsClampedWithItsPoints) {
  std::vector<TPoint> pts(70000, TPoint{1, 2});
  TEventPacket p;
  p.WriteClearPolygon(0, pts.data(), 70000);
  EXPECT_EQ(p.Data().Size(), 5 + 4 * 65535);
  EXPECT_EQ(p.Data().ReadWord(3), 65535);
  p.Clear();
  p.WriteFillPolygon(0, pts.data(), 1, 2, 3, -4);
  EXPECT_EQ(StreamBytes(p), (std::vector<uint8_t>)B().w(304).b(0).b(1).b(2).b(3).w(0));
}

TEST(Readers, PolygonReaderKeepsToTheCallersCapacity) {
  TEventPacket p;
  const TPoint tri[3] = {{1, 2}, {3, 4}, {5, 6}};
  p.WriteClearPolygon(7, tri, 3);
  p.WriteFillPolygon(8, tri, 9, 9, 9, 3);
  p.WriteUndo(1);
  TPoint buf[3] = {{-1, -1}, {-1, -1}, {-1, -1}};
  uint8_t layer, r, g, b;
  int32_t count = 0;
  p.ReadCode();
  ASSERT_TRUE(p.ReadClearPolygon(layer, buf, 2, count));
  EXPECT_EQ(count, 3);
  EXPECT_EQ(buf[1], (TPoint{3, 4}));
  EXPECT_EQ(buf[2], (TPoint{-1, -1}));
  p.ReadCode();
  ASSERT_TRUE(p.ReadFillPolygon(layer, r, g, b, nullptr, 100, count));
  EXPECT_EQ(count, 3);
  EXPECT_EQ(p.ReadCode(), ecUndo) << "the whole polygon was consumed";
}

TEST(Readers, ReadCodeAtTheEndGivesEnd) {
  TEventPacket p;
  EXPECT_EQ(p.ReadCode(), ecEnd);
  SetRaw(p, {0x05});
  EXPECT_EQ(p.ReadCode(), ecEnd);
  EXPECT_EQ(p.Data().ReadPos(), 0);
}

// ---- playback scale ----

TEST(Scale, CoordinatesSizesAndWidthAreScaledOnReading) {
  struct Case {
    const char* what;
    float scale;
    std::function<void(TEventPacket&)> write;
    std::function<std::string(TEventPacket&)> read;
    std::string expect;
  } cases[] = {
      {"rect x2", 2, [](TEventPacket& p) { p.WriteClearRect(1, 10, 10, 5, 5); },
       [](TEventPacket& p) {
         uint8_t l;
         int32_t x, y, w, h;
         p.ReadClearRect(l, x, y, w, h);
         return Fields({l, x, y, w, h});
       },
       "1 20 20 10 10 "},
      {"rect truncates toward zero", 0.5f, [](TEventPacket& p) { p.WriteFillRect(1, -3, 3, 5, -5, 1, 2, 3); },
       [](TEventPacket& p) {
         uint8_t l, r, g, b;
         int32_t x, y, w, h;
         p.ReadFillRect(l, x, y, w, h, r, g, b);
         return Fields({l, x, y, w, h, r, g, b});
       },
       "1 -1 1 2 -2 1 2 3 "},
      {"offset", 1.5f, [](TEventPacket& p) { p.WriteOffsetLayer(2, 3, -3); },
       [](TEventPacket& p) {
         uint8_t l;
         int32_t dx, dy;
         p.ReadOffsetLayer(l, dx, dy);
         return Fields({l, dx, dy});
       },
       "2 4 -4 "},
      {"polygon points", 3, [](TEventPacket& p) { const TPoint q[2] = {{1, -2}, {100, 0}}; p.WriteFillPolygon(4, q, 5, 6, 7, 2); },
       [](TEventPacket& p) {
         uint8_t l, r, g, b;
         std::vector<TPoint> pts;
         p.ReadFillPolygon(l, r, g, b, pts);
         return Fields({l, r, g, b, pts[0].X, pts[0].Y, pts[1].X, pts[1].Y});
       },
       "4 5 6 7 3 -6 300 0 "},
      {"paper sizes saturate", 20, [](TEventPacket& p) { p.WriteNewPaper(5000, 3); },
       [](TEventPacket& p) {
         int32_t w, h;
         p.ReadNewPaper(w, h);
         return Fields({w, h});
       },
       "65535 60 "},
      {"canvas size keeps its anchor", 0.5f, [](TEventPacket& p) { p.WriteCanvasSize(641, 480, 7); },
       [](TEventPacket& p) {
         int32_t w, h;
         uint8_t a;
         p.ReadCanvasSize(w, h, a);
         return Fields({w, h, a});
       },
       "320 240 7 "},
      {"resolution", 2, [](TEventPacket& p) { p.WriteResolution(100, 50); },
       [](TEventPacket& p) {
         int32_t w, h;
         p.ReadResolution(w, h);
         return Fields({w, h});
       },
       "200 100 "},
      {"line ends and width", 2, [](TEventPacket& p) { p.WriteLine(SampleAttributes(), 1, 1, -1, 7, 8); },
       [](TEventPacket& p) {
         TFakeBrush br;
         int32_t x1, y1, x2, y2;
         p.ReadLine(br, x1, y1, x2, y2);
         std::ostringstream s;
         s << int(br.Kind) << ' ' << br.WIDTH << ' ' << br.MIN << ' ';
         return s.str() + Fields({x1, y1, x2, y2});
       },
       "1 3 75 2 -2 14 16 "},
      {"stroke points, not pressure", 0.5f,
       [](TEventPacket& p) {
         p.BeginStroke(SampleAttributes(), 0, 11, -11, 0.75f);
         p.AddStrokePoint(-3, 3, 1);
         p.EndStroke();
       },
       [](TEventPacket& p) {
         TStrokeAttributes a;
         float x, y, pr, x2, y2, pr2;
         p.ReadStrokeBegin(a, x, y, pr);
         p.ReadStrokePoint(x2, y2, pr2);
         std::ostringstream s;
         s << a.WIDTH << ' ' << x << ' ' << y << ' ' << pr << ' ' << x2 << ' ' << y2 << ' ' << pr2;
         return s.str();
       },
       "0.75 5 -5 0.75 -1 1 1"},
      {"layers, colours, opacity and kinds are not scaled", 4,
       [](TEventPacket& p) { p.WriteLayerOpacity(3, 100); },
       [](TEventPacket& p) {
         uint8_t l, o;
         p.ReadLayerOpacity(l, o);
         return Fields({l, o});
       },
       "3 100 "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TEventPacket p;
    c.write(p);
    p.SetScale(c.scale);
    p.ReadCode();
    EXPECT_EQ(c.read(p), c.expect);
  }
}

TEST(Scale, WidthBeyondTheBrushRangeIsHandedToTheBrush) {
  TStrokeAttributes in = SampleAttributes();
  in.WIDTH = 2;
  TEventPacket p;
  p.WriteLine(in, 0, 0, 0, 0, 0);
  p.SetScale(200);
  p.ReadCode();
  TStrokeAttributes a;
  uint16_t k;
  int32_t x1, y1, x2, y2;
  p.ReadLine(a, k, x1, y1, x2, y2);
  EXPECT_EQ(a.WIDTH, 400);  // the brush's own setter clamps this to 200
}

}  // namespace
