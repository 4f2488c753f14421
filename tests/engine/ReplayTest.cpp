// Replay identity: a stroke drawn live, exported, imported and replayed gives the same bytes;
// a record played to its end and exported again is the file it came from; a record imported
// at x2 gives the pixels of a copy whose values were doubled beforehand.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "PaperTestUtil.h"
#include "common/TempDir.h"
#include "engine/EventPacket.h"
#include "engine/Layer.h"
#include "engine/LayerMng.h"
#include "engine/Paper.h"
#include "engine/SelectMng.h"
#include "engine/Stroke.h"
#include "platform/core/Files.h"

namespace {

// Plays until the player stops or has played every byte there is.
void PlayToEnd(TPaper& p, TEventPacket& e, TStroke& brush) {
  while (p.PlayEvent(e, brush, nullptr)) {
    if (!e.InStroke() && e.Data().Remaining() == 0) break;
  }
}

TStrokeAttributes Brush(uint8_t layer, uint32_t color, float width, float min, float effect, bool edge) {
  TStrokeAttributes a;
  a.Layer = layer;
  a.Color = color;
  a.ifSIZE = true;
  a.ifTRANSPARENCY = true;
  a.ifEDGE = edge;
  a.MIN = min;
  a.WIDTH = width;
  a.GAMMA = 1.5f;
  a.EFFECT = effect;
  a.ENV = 40;
  a.SPEED = 30;
  return a;
}

// A record touching every family of events, on a paper with two layers.
void WriteMixedRecord(TEventPacket& e) {
  e.WriteNewPaper(60, 40);
  e.WriteFillRect(0, 0, 20, 60, 20, 0x30, 0x60, 0xC0);
  e.WriteNewLayer(1);
  e.WriteFillRect(1, 10, 5, 30, 12, 0x40, 0x10, 0x00);
  e.WriteSelectLayer(0);
  const TPoint poly[] = {{40, 2}, {58, 12}, {44, 30}};
  e.WriteFillPolygon(0, poly, 0xFF, 0, 0, 3);
  for (uint8_t kind = 0; kind <= 4; ++kind) {
    e.BeginStroke(Brush(0, 0x102030, 3.5f + kind, 50, 60, kind == 3), kind, 4.0f + 10 * kind, 6, 0.5f);
    e.AddStrokePoint(9.0f + 10 * kind, 18, 1.0f);
    e.AddStrokePoint(12.0f + 10 * kind, 30, 0.75f);
    e.AddStrokePoint(8.0f + 10 * kind, 36, 0.0f);
    e.EndStroke();
  }
  e.WriteLine(Brush(1, 0x00A000, 2, 75, 0, false), 0, 2, 38, 58, 3);
  e.WriteOffsetLayer(1, -3, 4);
  e.WriteClearRect(0, 20, 10, 8, 8);
  e.WriteUndo(0);
  e.WriteCanvasSize(70, 46, 4);
  e.WriteResolution(50, 30);
  e.WriteRotateRight();
}

// The same record with every value that the playback scale touches already doubled, written
// through the recorder: what a reader at scale 2 gives, recorded again at scale 1.
void WriteDoubled(const TEventPacket& source, TEventPacket& out) {
  TEventPacket in;
  ASSERT_TRUE(in.LoadFromMemory(source.Data()));
  in.SetScale(2.0f);
  uint8_t l = 0, a = 0, r = 0, g = 0, b = 0;
  int32_t x = 0, y = 0, w = 0, h = 0;
  std::vector<TPoint> pts;
  for (;;) {
    const uint16_t code = in.ReadCode();
    if (code <= ecStrokeLast) {
      TStrokeAttributes at;
      float fx, fy, fp;
      in.ReadStrokeBegin(at, fx, fy, fp);
      out.BeginStroke(at, static_cast<uint8_t>(code), fx, fy, fp);
      while (in.InStroke()) {
        in.ReadStrokePoint(fx, fy, fp);
        out.AddStrokePoint(fx, fy, fp);
      }
      out.EndStroke();
      continue;
    }
    switch (code) {
      case ecNewPaper: in.ReadNewPaper(w, h); out.WriteNewPaper(w, h); break;
      case ecFillRect: in.ReadFillRect(l, x, y, w, h, r, g, b); out.WriteFillRect(l, x, y, w, h, r, g, b); break;
      case ecClearRect: in.ReadClearRect(l, x, y, w, h); out.WriteClearRect(l, x, y, w, h); break;
      case ecNewLayer: in.ReadNewLayer(a); out.WriteNewLayer(a); break;
      case ecSelectLayer: in.ReadLayer(l); out.WriteSelectLayer(l); break;
      case ecUndo: in.ReadLayer(l); out.WriteUndo(l); break;
      case ecFillPolygon:
        in.ReadFillPolygon(l, r, g, b, pts);
        out.WriteFillPolygon(l, pts.data(), r, g, b, static_cast<int32_t>(pts.size()));
        break;
      case ecLine: {
        TStrokeAttributes at;
        uint16_t kind = 0;
        in.ReadLine(at, kind, x, y, w, h);
        out.WriteLine(at, static_cast<uint8_t>(kind), x, y, w, h);
        break;
      }
      case ecOffsetLayer: in.ReadOffsetLayer(l, x, y); out.WriteOffsetLayer(l, x, y); break;
      case ecCanvasSize: in.ReadCanvasSize(w, h, a); out.WriteCanvasSize(w, h, a); break;
      case ecResolution: in.ReadResolution(w, h); out.WriteResolution(w, h); break;
      case ecRotateRight: out.WriteRotateRight(); break;
      case ecEnd: out.WriteEndMarker(); return;
      default: FAIL() << "unexpected code " << code;
    }
  }
}

void ExpectSamePapers(const TPaper& a, const TPaper& b) {
  ASSERT_EQ(a.Width(), b.Width());
  ASSERT_EQ(a.Height(), b.Height());
  ASSERT_EQ(a.Layers->LastIndex(), b.Layers->LastIndex());
  for (int32_t i = 0; i <= a.Layers->LastIndex(); ++i) EXPECT_EQ(LayerPixels(a, i), LayerPixels(b, i)) << "layer " << i;
  EXPECT_EQ(CanvasPixels(a.CompositeImage), CanvasPixels(b.CompositeImage));
}

// Ends the record, exports it to path, imports the file and plays it onto replay.
void ReplayExported(TEventPacket& record, const std::string& path, TPaper& replay) {
  record.WriteEndMarker();
  ASSERT_TRUE(record.ExportToFile(path));
  TEventPacket imported;
  ASSERT_TRUE(imported.LoadFromFile(path));
  TStroke playBrush;
  PlayToEnd(replay, imported, playBrush);
  replay.Composite();
}

TEST(Replay, LiveStrokesOfEveryKindReplayToTheSameBytes) {
  TTempDir dir;
  for (uint8_t kind = 0; kind <= 4; ++kind) {
    TPaper live;
    TEventPacket record;
    TStroke setupBrush;
    record.WriteNewPaper(48, 32);
    record.WriteFillRect(0, 0, 16, 48, 16, 0x30, 0x60, 0xC0);
    PlayToEnd(live, record, setupBrush);  // plays the set-up; waits at the record's end

    TStroke brush;
    brush.SetKind(kind);
    brush.LoadPreset(kind, 1);
    brush.SetColor(0x804020);
    brush.SetLayer(0);
    brush.UseRecordedValues();
    const float pts[][3] = {{5, 5, 0.25f}, {12, 10, 0.5f}, {20, 18, 1.0f}, {30, 22, 0.75f}, {40, 26, 0.5f}};
    record.BeginStroke(brush, pts[0][0], pts[0][1], pts[0][2]);
    live.StrokeBegin(brush, pts[0][0], pts[0][1], pts[0][2]);
    for (size_t k = 1; k < std::size(pts); ++k) {
      record.AddStrokePoint(pts[k][0], pts[k][1], pts[k][2]);
      live.StrokeMove(brush, nullptr, pts[k][0], pts[k][1], pts[k][2]);
    }
    record.AddStrokePoint(42, 27, 0);  // the release point
    live.StrokeMove(brush, nullptr, 42, 27, 0);
    record.EndStroke();
    live.StrokeEnd(brush, nullptr);
    live.Composite();

    TPaper replay;
    ASSERT_NO_FATAL_FAILURE(ReplayExported(record, dir.Path("live.wpe"), replay));
    SCOPED_TRACE(testing::Message() << "brush kind " << int{kind});
    ExpectSamePapers(live, replay);
    EXPECT_NE(LayerPixels(replay, 0), [] {
      TPaper blank;
      TEventPacket e;
      e.WriteNewPaper(48, 32);
      e.WriteFillRect(0, 0, 16, 48, 16, 0x30, 0x60, 0xC0);
      TStroke b;
      PlayToEnd(blank, e, b);
      return LayerPixels(blank, 0);
    }()) << "the stroke painted nothing";
  }
}

TEST(Replay, ExportAfterImportIsByteIdentical) {
  TTempDir dir;
  TEventPacket e;
  WriteMixedRecord(e);
  e.WriteEndMarker();
  const std::string first = dir.Path("first.wpe"), second = dir.Path("second.wpe");
  ASSERT_TRUE(e.ExportToFile(first));
  TEventPacket imported;
  ASSERT_TRUE(imported.LoadFromFile(first));
  TPaper p;
  TStroke brush;
  PlayToEnd(p, imported, brush);
  TPaper::EndPlayback(imported);
  imported.WriteEndMarker();
  ASSERT_TRUE(imported.ExportToFile(second));
  std::vector<uint8_t> a, b;
  ASSERT_TRUE(plat::ReadWholeFile(first, a));
  ASSERT_TRUE(plat::ReadWholeFile(second, b));
  EXPECT_EQ(a, b);
}

TEST(Replay, ImportAtTwiceGivesThePixelsOfADoubledCopy) {
  TEventPacket original;
  WriteMixedRecord(original);
  original.WriteEndMarker();
  TEventPacket doubled;
  WriteDoubled(original, doubled);

  TEventPacket atTwo;
  ASSERT_TRUE(atTwo.LoadFromMemory(original.Data()));
  atTwo.SetScale(2.0f);
  TPaper a, b;
  TStroke ba, bb;
  PlayToEnd(a, atTwo, ba);
  a.Composite();
  TEventPacket atOne;
  ASSERT_TRUE(atOne.LoadFromMemory(doubled.Data()));
  PlayToEnd(b, atOne, bb);
  b.Composite();
  EXPECT_EQ(a.Width(), 60);  // 2 x 30 after the turn
  ExpectSamePapers(a, b);
}

// The largest polygons an event carries (65535 corners), filled and cleared as the paper
// window does it and recorded beside: a zig-zag crossing every row 65535 times, which the fill
// refuses, and a ring of as many corners that it fills. The exported record replays to the same pixels.
TEST(Replay, LargestPolygonsReplayToTheLivePixels) {
  TTempDir dir;
  constexpr int32_t kSide = 1000, kCorners = 65535;
  std::vector<TPoint> zigzag, ring;
  for (int32_t i = 0; i < kCorners; ++i) {
    zigzag.push_back({i * kSide / kCorners, i % 2 ? kSide - 1 : 0});
    const double a = 6.283185307179586 * i / kCorners;
    ring.push_back({int32_t(500 + 350 * std::cos(a)), int32_t(500 + 350 * std::sin(a))});
  }
  TPaper live;
  TEventPacket record;
  TStroke brush;
  record.WriteNewPaper(kSide, kSide);
  record.WriteFillRect(0, 100, 100, 800, 800, 0x30, 0x60, 0xC0);
  PlayToEnd(live, record, brush);
  const std::vector<uint32_t> before = LayerPixels(live, 0);
  auto polygon = [&](const std::vector<TPoint>& pts, bool fill) {
    int32_t l = 0, t = 0, w = 0, h = 0;
    PointsBounds(pts.data(), kCorners, l, t, w, h);
    live.Layers->PushUndoRect(0, l, t, w, h);
    if (fill) {
      record.WriteFillPolygon(0, pts.data(), 0x80, 0x40, 0x20, kCorners);
      live.Layers->FillPolygon(0, *live.Selection, 0x804020u, pts.data(), kCorners);
    } else {
      record.WriteClearPolygon(0, pts.data(), kCorners);
      live.Layers->ClearPolygon(0, *live.Selection, pts.data(), kCorners);
    }
  };
  polygon(zigzag, true);
  polygon(zigzag, false);
  EXPECT_EQ(LayerPixels(live, 0), before) << "the refused zig-zag changed the layer";
  polygon(ring, true);
  const std::vector<uint32_t> filled = LayerPixels(live, 0);
  EXPECT_NE(filled, before) << "the ring filled nothing";
  EXPECT_EQ(filled[500 * kSide + 500] & 0xFFFFFFu, 0x804020u);
  polygon(ring, false);
  EXPECT_NE(LayerPixels(live, 0), filled) << "the ring cleared nothing";
  live.Composite();

  TPaper replay;
  ASSERT_NO_FATAL_FAILURE(ReplayExported(record, dir.Path("polygons.wpe"), replay));
  ExpectSamePapers(live, replay);
}

}  // namespace
