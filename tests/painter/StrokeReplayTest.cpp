// Strokes drawn live, by mouse and by pen, with every brush kind, replay to the same pixels:
// from the exported record, through wpetool, and from the autosave file.
#include <cstdio>

#include "common/ToolRun.h"
#include "engine/Block.h"
#include "engine/LayerMng.h"
#include "engine/io/CanvasFiles.h"
#include "platform/core/Files.h"
#include "tests/painter/TabletFixture.h"

namespace {

class LiveReplay : public TabletFixture {
 protected:
  LiveReplay() { NeedsPen = false; }

  // Brush values between the steps a record can keep.
  void SetBrush(uint8_t kind, uint32_t colour) {
    TStroke& b = *VLMain->Stroke;
    b.SetKind(kind);
    b.SetColor(colour);
    b.SetWidth(13.3f);
    b.SetMinSize(37.7f);
    b.SetGamma(1.7f);
    b.SetEffect(61.3f);
    b.SetEnv(22.9f);
    b.SetSpeed(47.1f);
  }

  // A zigzag of 40 moves around paper point (x, y), `step` window pixels apart.
  void MouseStroke(TDrawWindow* w, int32_t x, int32_t y, int step) {
    const QPoint o = At(w, x, y);
    std::vector<QPoint> drag{o};
    for (int i = 1; i <= 40; ++i) drag.push_back(o + QPoint(i * step, (i % 7) * step - 3 * step));
    Drag(w, drag);
  }

  static bool SameLayers(TPaper& a, TPaper& b) {
    if (a.Layers->LastIndex() != b.Layers->LastIndex()) return false;
    for (int32_t i = 0; i <= a.Layers->LastIndex(); ++i) {
      TBlockImage* la = a.Layers->LayerImage(i);
      TBlockImage* lb = b.Layers->LayerImage(i);
      for (int32_t y = 0; y < a.Height(); ++y) {
        for (int32_t x = 0; x < a.Width(); ++x) {
          if (la->GetPixel(x, y) != lb->GetPixel(x, y)) return false;
        }
      }
    }
    return true;
  }

  TTempDir Out;
};

TEST_F(LiveReplay, LiveStrokesOfEveryKindReplayToTheSamePixels) {
  TDrawWindow* w = MakePaper(400, 300);
  const uint32_t colours[5] = {0x2050A0, 0xC03020, 0x000000, 0x000000, 0x000000};

  // Pen strokes first, so that the blurs, the eraser and the watercolour act on content.
  if (PenAvailable()) {
    for (uint8_t kind : {uint8_t(bkPen), uint8_t(bkWatercolor)}) {
      SetBrush(kind, colours[kind] ^ 0x103050);
      for (int k = 0; k < 3; ++k) {
        std::vector<std::pair<QPointF, double>> pts;
        for (int i = 0; i <= 30; ++i) {
          pts.push_back({QPointF(40 + i * 9, 40 + k * 60 + (i % 5) * 7), 0.1371 + 0.0291 * ((i * 7 + k) % 29)});
        }
        PenStroke(Stylus(), w, pts);
      }
    }
    // The eraser end: a stroke left open by turning the pen over, then an eraser stroke.
    SetBrush(bkPen, 0x406080);
    Pen(Stylus(), w, {60, 250}, 0.61, true);
    Pen(Stylus(), w, {90, 255}, 0.43, true);
    Pen(Stylus(), w, {120, 240}, 0.87, true);
    Pen(Eraser(), w, {125, 240}, 0.0, false);
    ASSERT_EQ(VLMain->Stroke->Kind, bkEraser);
    PenStroke(Eraser(), w, {{{50, 60}, 0.77}, {{120, 90}, 0.51}, {{200, 130}, 0.93}, {{260, 150}, 0.29}});
    Pen(Stylus(), w, {300, 280}, 0.0, false);
    ASSERT_EQ(VLMain->Stroke->Kind, bkPen);
  }

  // Every kind by mouse, at 100 %.
  for (uint8_t kind = 0; kind <= 4; ++kind) {
    SetBrush(kind, colours[kind]);
    MouseStroke(w, 30 + kind * 20, 60 + kind * 30, 6);
  }
  // At 25 % and at 400 %.
  SetBrush(bkWatercolor, 0x30A040);
  w->ZoomOutAt(false, 200, 150);
  w->ZoomOutAt(false, 200, 150);
  ASSERT_EQ(w->Paper->Display.ZoomIndex, -2);
  MouseStroke(w, 60, 80, 2);
  w->ZoomReset(false, 200, 150);
  w->ZoomInAt(false, 150, 150);
  w->ZoomInAt(false, 150, 150);
  w->ZoomInAt(false, 150, 150);
  ASSERT_EQ(w->Paper->Display.ZoomIndex, 3);
  SetBrush(bkBlur2, 0);
  MouseStroke(w, 140, 140, 5);
  w->ZoomReset(false, 200, 150);

  // A stroke whose last point lies past the largest coordinate a record can hold.
  SetBrush(bkPen, 0x803080);
  const QPoint start = At(w, 100, 200);
  QTest::mousePress(w, Qt::LeftButton, Qt::NoModifier, start);
  VLMain->StrokeTo(start.x() + 20, start.y() + 10, 1.0f, 1.0f, false);
  VLMain->StrokeTo(start.x() + 90000, start.y() + 70000, 1.0f, 1.0f, false);
  QTest::mouseRelease(w, Qt::LeftButton, Qt::NoModifier, start + QPoint(90000, 70000));
  const std::vector<TRecordedStroke> far = Strokes(*w->Packets[0]);
  ASSERT_FALSE(far.empty());
  EXPECT_EQ(far.back().Points.back()[0], 32767);

  // Enough strokes for the autosave.
  SetBrush(bkPen, 0x101010);
  while (w->StrokeCount <= 51) Drag(w, {At(w, 300, 20 + w->StrokeCount * 5), At(w, 330, 22 + w->StrokeCount * 5)});
  ASSERT_FALSE(w->Packets[0]->InStroke());

  // The exported record, replayed on a fresh paper.
  w->Packets[0]->WriteEndMarker();
  TEventPacket exported;
  ASSERT_TRUE(exported.LoadFromMemory(w->Packets[0]->Data()));
  w->Packets[0]->DropEndMarker();
  const std::string wpe = Out.Path("strokes.wpe");
  ASSERT_TRUE(exported.ExportToFile(wpe));
  TEventPacket record;
  ASSERT_TRUE(record.LoadFromFile(wpe));
  TPaper replay;
  ReplayAll(replay, record);
  EXPECT_TRUE(SameLayers(replay, *w->Paper));
  EXPECT_TRUE(SameComposite(replay, *w->Paper));

  // wpetool plays the file to the same picture.
  w->Paper->Composite();
  const std::string live = Out.Path("live.bmp"), played = Out.Path("played.bmp");
  ASSERT_TRUE(SaveBMP(w->Paper->CompositeImage, live));
  ASSERT_EQ(RunTool(Out, wpe + " " + played).status, 2) << "the command comes first";
  ASSERT_EQ(RunTool(Out, "render " + wpe + " " + played).status, 0);
  EXPECT_TRUE(Slurp(live) == Slurp(played));

  // So does the autosave file, in its pixels and in its record.
  std::remove(AutosavePath().c_str());
  plat::AdvanceFakeClock(5001);
  VLMain->UpdateStep();
  ASSERT_TRUE(plat::FileExists(AutosavePath()));
  const std::string saved = Out.Path("saved.bmp");
  ASSERT_EQ(RunTool(Out, "render '" + AutosavePath() + "' " + saved).status, 0);
  EXPECT_TRUE(Slurp(live) == Slurp(saved));
  TPaper reopened;
  TEventPacket savedRecord;
  ASSERT_TRUE(reopened.LoadFromFile(AutosavePath(), savedRecord));
  TPaper replayed;
  ReplayAll(replayed, savedRecord);
  EXPECT_TRUE(SameComposite(replayed, *w->Paper));
}

}  // namespace
