// Playing recorded events onto a paper: waiting for whole events, stroke points one call at a
// time, the stopping codes, network mode, the playback scale, and streams that would paint a
// paper without layers.
#include <gtest/gtest.h>

#include "PaperTestUtil.h"
#include "engine/Channel.h"
#include "engine/EventPacket.h"
#include "engine/Layer.h"
#include "engine/LayerMng.h"
#include "engine/Paper.h"
#include "engine/SelectMng.h"
#include "engine/Stroke.h"

#include <functional>
#include <string>

namespace {

// What the code reads as when the player did not write it.
constexpr uint16_t kUnwritten = 0xABCD;

struct TStep {
  bool go;
  uint16_t code;
  uint8_t refit;
};

TStep Play(TPaper& p, TEventPacket& e, TStroke& brush, TPaintTarget* win = nullptr) {
  TStep s{false, kUnwritten, 9};
  s.go = p.PlayEvent(e, brush, s.code, s.refit, win);
  return s;
}

// Plays until the player stops; returns the number of calls.
int PlayAll(TPaper& p, TEventPacket& e, TStroke& brush) {
  int calls = 0;
  uint16_t code = 0;
  uint8_t refit = 0;
  while (p.PlayEvent(e, brush, code, refit, nullptr) && calls < 100000) ++calls;
  return calls + 1;
}

TStrokeAttributes Pen(uint8_t layer = 0) {
  TStrokeAttributes a;
  a.Layer = layer;
  a.Color = 0x000000;
  a.ifSIZE = true;
  a.ifTRANSPARENCY = true;
  a.MIN = 75;
  a.WIDTH = 3;
  a.GAMMA = 1;
  return a;
}

TEST(PaperPlayer, WaitsForWholeEventsWithoutConsuming) {
  TPaper p;
  TStroke brush;
  TEventPacket full;
  full.WriteNewPaper(20, 20);
  full.WriteFillRect(0, 2, 2, 5, 5, 0, 0, 0);
  const TMyMemory& bytes = full.Data();

  TEventPacket e;
  e.Data().WriteBuffer(bytes.Memory(), 1);  // one byte of a code
  EXPECT_EQ(Play(p, e, brush).go, true);
  EXPECT_EQ(e.Data().ReadPos(), 0);
  e.Data().WriteBuffer(bytes.Memory() + 1, 5);  // ecNewPaper complete
  TStep s = Play(p, e, brush);
  EXPECT_TRUE(s.go);
  EXPECT_EQ(s.code, ecNewPaper);
  EXPECT_EQ(s.refit, 1);
  e.Data().WriteBuffer(bytes.Memory() + 6, 7);  // a 7-byte prefix of ecFillRect
  s = Play(p, e, brush);
  EXPECT_TRUE(s.go);
  EXPECT_EQ(s.refit, 0);
  EXPECT_EQ(s.code, kUnwritten);  // no new event read
  EXPECT_EQ(e.Data().ReadPos(), 6);
  e.Data().WriteBuffer(bytes.Memory() + 13, bytes.Size() - 13);
  s = Play(p, e, brush);
  EXPECT_EQ(s.code, ecFillRect);
  EXPECT_EQ(s.refit, 0);  // the player repainted the rectangle itself
  EXPECT_EQ(p.CompositeImage.GetPixel(3, 3), 0xFF000000u);
}

TEST(PaperPlayer, StrokeOfThreePointsTakesFourCalls) {
  TPaper p;
  TStroke brush;
  TEventPacket e;
  e.WriteNewPaper(30, 30);
  e.BeginStroke(Pen(), 0, 5, 5, 1.0f);
  e.AddStrokePoint(10, 10, 1.0f);
  e.AddStrokePoint(15, 12, 1.0f);
  e.AddStrokePoint(20, 12, 0.0f);
  e.EndStroke();
  e.WriteEndMarker();
  ASSERT_TRUE(Play(p, e, brush).go);
  const auto blank = LayerPixels(p, 0);
  TStep s = Play(p, e, brush);
  EXPECT_EQ(s.code, 0);  // the stroke's code is its kind
  EXPECT_EQ(s.refit, 0);
  EXPECT_TRUE(e.InStroke());
  for (int k = 0; k < 3; ++k) {
    EXPECT_FALSE(p.Layers->CanUndo(0));
    s = Play(p, e, brush);
    EXPECT_TRUE(s.go);
    EXPECT_EQ(s.code, kUnwritten);  // points write no code
  }
  EXPECT_FALSE(e.InStroke());
  EXPECT_TRUE(p.Layers->CanUndo(0));  // the fourth call ended the stroke with one undo step
  EXPECT_NE(LayerPixels(p, 0), blank);
  s = Play(p, e, brush);
  EXPECT_FALSE(s.go);
  EXPECT_EQ(s.code, ecEnd);
  EXPECT_EQ(s.refit, 1);
}

TEST(PaperPlayer, StopsAtPaperSizeLeavingItsPayloadAndCutsTheRecordThere) {
  TPaper p;
  TStroke brush;
  TEventPacket e;
  e.WriteNewPaper(10, 10);
  e.WriteFillRect(0, 0, 0, 2, 2, 0, 0, 0);
  const int32_t stop = e.Data().Size();
  e.Data().WriteWord(ecPaperSize);
  e.Data().WriteWord(10);
  e.Data().WriteWord(10);
  e.WriteFillRect(0, 5, 5, 2, 2, 0, 0, 0);
  e.WriteEndMarker();
  EXPECT_TRUE(Play(p, e, brush).go);
  EXPECT_TRUE(Play(p, e, brush).go);
  const TStep s = Play(p, e, brush);
  EXPECT_FALSE(s.go);
  EXPECT_EQ(s.code, ecPaperSize);
  EXPECT_EQ(s.refit, 1);
  EXPECT_EQ(e.Data().ReadPos(), stop + 2);
  // The record is cut at the stopping code, not two bytes before its end: it matches the paper.
  TPaper::EndPlayback(e);
  EXPECT_EQ(e.Data().Size(), stop);
  EXPECT_EQ(p.CompositeImage.GetPixel(5, 5), 0xFFFFFFFFu);
}

TEST(PaperPlayer, EndPlaybackAfterTheEndMarkerDropsOnlyTheMarker) {
  TPaper p;
  TStroke brush;
  TEventPacket e;
  e.WriteNewPaper(10, 10);
  const int32_t size = e.Data().Size();
  e.WriteEndMarker();
  PlayAll(p, e, brush);
  TPaper::EndPlayback(e);
  EXPECT_EQ(e.Data().Size(), size);
  e.WriteClearUndoAll();  // recording continues the record
  EXPECT_EQ(e.Data().Size(), size + 2);
}

TEST(PaperPlayer, NothingPaintsAPaperWithoutLayers) {
  // Streams whose first event leaves the paper without a size: each stops at once.
  struct Case {
    const char* name;
    void (*write)(TEventPacket&);
  };
  const Case cases[] = {
      {"paper size first", [](TEventPacket& e) { e.Data().WriteWord(ecPaperSize); e.Data().WriteWord(5); e.Data().WriteWord(5); }},
      {"fill first", [](TEventPacket& e) { e.WriteFillRect(0, 0, 0, 4, 4, 1, 2, 3); }},
      {"stroke first", [](TEventPacket& e) { e.BeginStroke(Pen(), 0, 1, 1, 1); e.AddStrokePoint(2, 2, 1); e.EndStroke(); }},
      {"undo first", [](TEventPacket& e) { e.WriteUndo(0); }},
      {"new layer first", [](TEventPacket& e) { e.WriteNewLayer(1); }},
  };
  for (const Case& c : cases) {
    TPaper p;
    TStroke brush;
    TEventPacket e;
    c.write(e);
    e.WriteFillRect(0, 0, 0, 4, 4, 1, 2, 3);
    e.WriteEndMarker();
    EXPECT_FALSE(TPaper::StartsWithNewPaper(e)) << c.name;
    EXPECT_FALSE(Play(p, e, brush).go) << c.name;
    EXPECT_FALSE(p.Initialised) << c.name;
    EXPECT_FALSE(p.Layers) << c.name;
  }
  TEventPacket good;
  good.WriteNewPaper(5, 5);
  EXPECT_TRUE(TPaper::StartsWithNewPaper(good));
}

TEST(PaperPlayer, NetworkModeLeavesThePaperToTheSession) {
  TPaper p;
  p.Init("NONAME", 16, 16);
  p.Layers->AddLayer(lkMultiply);
  p.Layers->SetActiveLayer(0);
  p.SetNetMode(1);
  TStroke brush;
  TEventPacket e;
  e.WriteNewPaper(40, 40);
  e.WriteSelectLayer(1);
  e.WriteNewLayer(0);
  e.WriteRotateRight();
  e.WriteFillRect(1, 0, 0, 3, 3, 0, 0, 0);
  TStep s = Play(p, e, brush);
  EXPECT_TRUE(s.go);
  EXPECT_EQ(s.refit, 1);
  EXPECT_EQ(p.Width(), 16);
  EXPECT_EQ(p.Layers->LastIndex(), 1);
  s = Play(p, e, brush);
  EXPECT_EQ(s.refit, 0);
  EXPECT_EQ(p.Layers->ActiveIndex(), 0);  // the local user's active layer stays
  EXPECT_GE(p.Layers->Flow().SlotOf(1), 0);  // but the member's layer has a working copy
  Play(p, e, brush);
  Play(p, e, brush);
  EXPECT_EQ(p.Layers->LastIndex(), 1);
  EXPECT_EQ(p.Width(), 16);
  Play(p, e, brush);  // pixel operations on a member's layer do play
  EXPECT_EQ(p.Layers->LayerImage(1)->GetPixel(1, 1) & 0xFFFFFF, 0u);
  EXPECT_EQ(e.Data().Remaining(), 0);
}

TEST(PaperPlayer, ScaleMultipliesRectanglesAndPaperSizes) {
  TPaper p;
  TStroke brush;
  TEventPacket e;
  e.WriteNewPaper(20, 10);
  e.WriteClearRect(0, 0, 0, 20, 10);
  e.WriteFillRect(0, 2, 3, 4, 2, 0, 0, 0);
  e.WriteClearRect(0, 3, 3, 1, 1);
  e.WriteEndMarker();
  e.SetScale(2.0f);
  PlayAll(p, e, brush);
  EXPECT_EQ(p.Width(), 40);
  EXPECT_EQ(p.Height(), 20);
  for (int32_t y = 0; y < 20; ++y) {
    for (int32_t x = 0; x < 40; ++x) {
      const bool filled = x >= 4 && x < 12 && y >= 6 && y < 10 && !(x >= 6 && x < 8 && y >= 6 && y < 8);
      ASSERT_EQ(p.Layers->LayerImage(0)->GetPixel(x, y) & 0xFFFFFF, filled ? 0u : 0xFFFFFFu) << x << "," << y;
    }
  }
}

TEST(PaperPlayer, UndoWithoutStepsChangesNothing) {
  TPaper p;
  p.Init("x", 8, 8);
  p.Composite();
  TStroke brush;
  TEventPacket e;
  e.WriteUndo(0);
  TCanvasTarget win(8, 8);
  const TStep s = Play(p, e, brush, &win);
  EXPECT_TRUE(s.go);
  EXPECT_EQ(s.refit, 0);
  EXPECT_TRUE(win.Changed.empty());
}

TEST(PaperPlayer, UnknownLayerKindsBecomeArgbLayers) {
  TPaper p;
  p.Init("x", 8, 8);
  TStroke brush;
  TEventPacket e;
  e.Data().WriteWord(ecNewLayer);
  e.Data().WriteByte(7);
  e.Data().WriteWord(ecLayerKind);
  e.Data().WriteByte(0);
  e.Data().WriteByte(200);
  e.Data().WriteWord(ecNewLayer);  // later layer indexes stay where they would be
  e.Data().WriteByte(1);
  PlayAll(p, e, brush);
  ASSERT_EQ(p.Layers->LastIndex(), 2);
  EXPECT_EQ(p.Layers->LayerKind(0), lkArgb);
  EXPECT_EQ(p.Layers->LayerKind(1), lkArgb);
  EXPECT_EQ(p.Layers->LayerKind(2), lkAdd);
}

TEST(PaperPlayer, CodesThatAreNotEventsStop) {
  for (uint16_t code : {uint16_t{5}, uint16_t{262}, uint16_t{300}, uint16_t{521}, uint16_t{0xFFFE}}) {
    TPaper p;
    p.Init("x", 4, 4);
    TStroke brush;
    TEventPacket e;
    e.Data().WriteWord(code);
    const TStep s = Play(p, e, brush);
    EXPECT_FALSE(s.go) << code;
    EXPECT_EQ(s.code, code);
    EXPECT_EQ(e.Data().ReadPos(), 2);
  }
}

// Three distinct layers with an undo step each, so that wrong layers, missing undo steps and
// wrong operations all show.
void MakeDispatchPaper(TPaper& p) {
  p.Init("x", 6, 4);
  p.Layers->AddLayer(lkAdd);
  p.Layers->AddLayer(lkArgb);
  for (int32_t i = 0; i <= 2; ++i) {
    PaintPattern(p, i);
    p.Layers->PushUndoRect(i, i, 0, 3, 2);
    p.Layers->FillRect(i, i, 0, 3, 2, 0x102030u * static_cast<uint32_t>(i + 1));
  }
  p.Layers->SetActiveLayer(0);
}

std::string PaperState(TPaper& p) {
  std::string s = std::to_string(p.Width()) + "x" + std::to_string(p.Height()) + " paper " +
                  std::to_string(p.Layers->PaperColor()) + " active " + std::to_string(p.Layers->ActiveIndex());
  auto pixels = [&](int32_t i) {
    std::string t;
    for (uint32_t v : LayerPixels(p, i)) t += std::to_string(v) + ",";
    return t;
  };
  for (int32_t i = 0; i <= p.Layers->LastIndex(); ++i)
    s += "\n" + std::to_string(i) + ": kind " + std::to_string(p.Layers->LayerKind(i)) + " opacity " +
         std::to_string(p.Layers->LayerOpacity(i)) + " visible " + std::to_string(p.Layers->LayerVisible(i)) + " " +
         pixels(i);
  // The undo history each event leaves behind.
  for (int32_t i = 0; i <= p.Layers->LastIndex(); ++i) {
    p.Layers->Undo(i);
    s += "\nundone " + std::to_string(i) + ": " + pixels(i);
  }
  return s;
}

TEST(PaperPlayer, EachCodeActsAsItsOperationDoes) {
  const TPoint tri[] = {{0, 0}, {5, 1}, {2, 3}};
  auto poly = [&](TPaper& p, bool fill) {
    int32_t x = 0, y = 0, w = 0, h = 0;
    PointsBounds(tri, 3, x, y, w, h);
    p.Layers->PushUndoRect(1, x, y, w, h);
    if (fill) p.Layers->FillPolygon(1, *p.Selection, 0x405060u, tri, 3);
    else p.Layers->ClearPolygon(1, *p.Selection, tri, 3);
  };
  struct Case {
    uint16_t code;
    std::function<void(TEventPacket&)> write;
    std::function<void(TPaper&)> apply;
    uint8_t refit;
    std::function<void(TPaper&)> prepare = [](TPaper&) {};
  };
  const Case cases[] = {
      {ecNewLayer, [](TEventPacket& e) { e.WriteNewLayer(2); }, [](TPaper& p) { p.Layers->AddLayer(lkSubtract); }, 1},
      {ecDeleteLayer, [](TEventPacket& e) { e.WriteDeleteLayer(1); }, [](TPaper& p) { p.Layers->DeleteLayer(1); }, 1},
      // Layers of one kind only combine: the Argb layer becomes an Add layer first.
      {ecCombineVisible, [](TEventPacket& e) { e.WriteCombineVisible(); },
       [](TPaper& p) { p.Layers->CombineVisible(); }, 1, [](TPaper& p) { p.Layers->SetVisible(0, 0), p.Layers->SetLayerKind(2, lkAdd); }},
      {ecDuplicateLayer, [](TEventPacket& e) { e.WriteDuplicateLayer(0); }, [](TPaper& p) { p.Layers->DuplicateLayer(0); }, 1},
      {ecMoveLayer, [](TEventPacket& e) { e.WriteMoveLayer(0, 2); }, [](TPaper& p) { p.Layers->MoveLayer(0, 2); }, 1},
      {ecCombineLower, [](TEventPacket& e) { e.WriteCombineLower(2); }, [](TPaper& p) { p.Layers->CombineLower(2); }, 1},
      {ecUndo, [](TEventPacket& e) { e.WriteUndo(1); }, [](TPaper& p) { p.Layers->Undo(1); }, 0},
      {ecSelectLayer, [](TEventPacket& e) { e.WriteSelectLayer(2); }, [](TPaper& p) { p.Layers->SetActiveLayer(2); }, 0},
      {ecLayerVisible, [](TEventPacket& e) { e.WriteLayerVisible(1, 0); }, [](TPaper& p) { p.Layers->SetVisible(1, 0); }, 1},
      {ecLayerOpacity, [](TEventPacket& e) { e.WriteLayerOpacity(2, 100); }, [](TPaper& p) { p.Layers->SetOpacity(2, 100); }, 1},
      {ecLayerKind, [](TEventPacket& e) { e.WriteLayerKind(0, 2); }, [](TPaper& p) { p.Layers->SetLayerKind(0, lkSubtract); }, 1},
      {ecShowOnly, [](TEventPacket& e) { e.WriteShowOnly(1); }, [](TPaper& p) { p.Layers->ShowOnly(1); }, 1},
      {ecLayerUpsideDown, [](TEventPacket& e) { e.WriteLayerUpsideDown(2); },
       [](TPaper& p) { p.Layers->PushUndo(2), p.Layers->UpsideDown(2); }, 1},
      {ecLayerMirror, [](TEventPacket& e) { e.WriteLayerMirror(2); },
       [](TPaper& p) { p.Layers->PushUndo(2), p.Layers->Mirror(2); }, 1},
      {ecLayerRotate180, [](TEventPacket& e) { e.WriteLayerRotate180(1); },
       [](TPaper& p) { p.Layers->PushUndo(1), p.Layers->Rotate180(1); }, 1},
      {ecLayerNegaPosi, [](TEventPacket& e) { e.WriteLayerNegaPosi(1); },
       [](TPaper& p) { p.Layers->PushUndo(1), p.Layers->NegaPosi(1); }, 1},
      {ecClearLayer, [](TEventPacket& e) { e.WriteClearLayer(2); },
       [](TPaper& p) { p.Layers->PushUndo(2), p.Layers->ClearLayer(2); }, 1},
      {ecFillSelection, [](TEventPacket& e) { e.WriteFillSelection(1, 0x11, 0x22, 0x33); },
       [](TPaper& p) { p.Layers->PushUndo(1), p.Layers->FillSelection(p.Selection->GetCurrentSlot(), 1, 0x112233u); }, 1},
      {ecOffsetLayer, [](TEventPacket& e) { e.WriteOffsetLayer(0, 2, -1); },
       [](TPaper& p) { p.Layers->PushUndo(0), p.Layers->OffsetLayer(0, 2, -1); }, 1},
      {ecClearRect, [](TEventPacket& e) { e.WriteClearRect(1, 1, 1, 3, 2); },
       [](TPaper& p) { p.Layers->PushUndoRect(1, 1, 1, 3, 2), p.Layers->ClearRect(1, 1, 1, 3, 2); }, 0},
      {ecFillRect, [](TEventPacket& e) { e.WriteFillRect(2, 2, 1, 3, 3, 0x80, 0x90, 0xA0); },
       [](TPaper& p) { p.Layers->PushUndoRect(2, 2, 1, 3, 3), p.Layers->FillRect(2, 2, 1, 3, 3, 0x8090A0u); }, 0},
      {ecClearPolygon, [&](TEventPacket& e) { e.WriteClearPolygon(1, tri, 3); }, [&](TPaper& p) { poly(p, false); }, 0},
      {ecFillPolygon, [&](TEventPacket& e) { e.WriteFillPolygon(1, tri, 0x40, 0x50, 0x60, 3); }, [&](TPaper& p) { poly(p, true); },
       0},
      {ecNewPaper, [](TEventPacket& e) { e.WriteNewPaper(9, 7); }, [](TPaper& p) { p.Init("NONAME", 9, 7); }, 1},
      {ecPaperColor, [](TEventPacket& e) { e.WritePaperColor(0x11, 0x22, 0x33); },
       [](TPaper& p) { p.Layers->SetPaperColor(0x112233u); }, 1},
      {ecCanvasSize, [](TEventPacket& e) { e.WriteCanvasSize(8, 3, 4); }, [](TPaper& p) { p.ChangeCanvasSize(8, 3, 4); }, 1},
      {ecResolution, [](TEventPacket& e) { e.WriteResolution(12, 5); }, [](TPaper& p) { p.ChangeResolution(12, 5); }, 1},
      {ecRotateRight, [](TEventPacket& e) { e.WriteRotateRight(); }, [](TPaper& p) { p.Rotate90(1); }, 1},
      {ecRotateLeft, [](TEventPacket& e) { e.WriteRotateLeft(); }, [](TPaper& p) { p.Rotate90(0); }, 1},
      {ecClearUndoAll, [](TEventPacket& e) { e.WriteClearUndoAll(); }, [](TPaper& p) { p.Layers->ClearAllUndo(); }, 1},
      {ecClearUndoLayer, [](TEventPacket& e) { e.WriteClearUndoLayer(1); }, [](TPaper& p) { p.Layers->ClearUndo(1); }, 1},
      {ecUpsideDownVisible, [](TEventPacket& e) { e.WriteUpsideDownVisible(); },
       [](TPaper& p) { p.Layers->UpsideDownVisible(); }, 1},
      {ecMirrorVisible, [](TEventPacket& e) { e.WriteMirrorVisible(); }, [](TPaper& p) { p.Layers->MirrorVisible(); }, 1},
      {ecRotate180Visible, [](TEventPacket& e) { e.WriteRotate180Visible(); },
       [](TPaper& p) { p.Layers->Rotate180Visible(); }, 1},
      {ecNegaPosiVisible, [](TEventPacket& e) { e.WriteNegaPosiVisible(); }, [](TPaper& p) { p.Layers->NegaPosiVisible(); },
       1},
  };
  for (const Case& c : cases) {
    TPaper played, direct;
    MakeDispatchPaper(played);
    MakeDispatchPaper(direct);
    c.prepare(played);
    c.prepare(direct);
    const std::string before = PaperState(direct);
    MakeDispatchPaper(direct);
    c.prepare(direct);
    c.apply(direct);
    TStroke brush;
    TEventPacket e;
    c.write(e);
    const TStep s = Play(played, e, brush);
    EXPECT_TRUE(s.go) << c.code;
    EXPECT_EQ(s.code, c.code);
    EXPECT_EQ(s.refit, c.refit) << c.code;
    EXPECT_EQ(e.Data().Remaining(), 0) << c.code;
    const std::string want = PaperState(direct);
    EXPECT_NE(want, before) << c.code << ": the case shows nothing";
    EXPECT_EQ(PaperState(played), want) << c.code;
  }
}

}  // namespace
