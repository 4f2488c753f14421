// Mouse strokes in a paper window: what the record keeps of them.
#include <cmath>

#include "engine/LayerMng.h"
#include "platform/core/KeyState.h"
#include "tests/painter/StrokeFixture.h"

namespace {

class StrokeInput : public StrokeFixture {};

constexpr size_t kNewPaperSize = 6;

TEST_F(StrokeInput, ADefaultPenDragIsRecordedPointByPoint) {
  TDrawWindow* w = MakePaper(400, 300);
  std::vector<QPoint> drag;
  for (int x = 10; x <= 20; ++x) drag.push_back(At(w, x, 5));
  Drag(w, drag);

  const std::vector<uint8_t> want = {
      0x00, 0x00,                                                        // pen stroke
      0x00, 0x00, 0x00, 0x00, 0x03, 0x00, 0x4B, 0x80, 0x01, 0x00, 0x01,  // layer, colour, switches, brush
      0x00, 0x00, 0x00, 0x00, 0x00, 0x00,                                //
      0x0B, 0x00, 0x05, 0x00, 0x00, 0x04,                                // (11, 5) at 1024
      0x05, 0x00,                                                        // N = 5
      0x0C, 0x00, 0x05, 0x00, 0x00, 0x04, 0x0D, 0x00, 0x05, 0x00, 0x00, 0x04,
      0x10, 0x00, 0x05, 0x00, 0x00, 0x04, 0x13, 0x00, 0x05, 0x00, 0x00, 0x04,
      0x14, 0x00, 0x05, 0x00, 0x00, 0x00};                               // release at (20, 5)
  EXPECT_EQ(BytesFrom(*w->Packets[0], kNewPaperSize), want);
  EXPECT_EQ(w->StrokeCount, 1);
  EXPECT_FALSE(w->Packets[0]->InStroke());
  EXPECT_FALSE(w->ButtonDown);
}

TEST_F(StrokeInput, ASmallViewKeepsPointsFurtherApart) {
  TDrawWindow* w = MakePaper(400, 300);
  w->ZoomOutAt(false, 100, 100);
  w->ZoomOutAt(false, 100, 100);
  ASSERT_EQ(w->Paper->Display.ZoomIndex, -2);
  const QPoint start = At(w, 100, 100);
  std::vector<QPoint> drag;
  for (int i = 0; i <= 20; ++i) drag.push_back(start + QPoint(i, 0));
  Drag(w, drag);

  const std::vector<TRecordedStroke> s = Strokes(*w->Packets[0]);
  ASSERT_EQ(s.size(), 1u);
  const auto& pts = s[0].Points;
  ASSERT_GE(pts.size(), 5u);
  // One window pixel is four paper pixels: the first two moves are kept, then every second.
  EXPECT_EQ(pts[1][0] - pts[0][0], 4);
  EXPECT_EQ(pts[2][0] - pts[1][0], 4);
  for (size_t i = 3; i + 1 < pts.size(); ++i) EXPECT_EQ(pts[i][0] - pts[i - 1][0], 8) << i;
  EXPECT_EQ(pts.back()[2], 0);
}

TEST_F(StrokeInput, AWideBrushKeepsPointsAQuarterOfItsSizeApartAtEveryZoom) {
  for (int zoomIn : {0, 3}) {  // 100 % and 400 %
    TDrawWindow* w = MakePaper(400, 300);
    for (int k = 0; k < zoomIn; ++k) w->ZoomInAt(false, 50, 50);
    VLMain->Stroke->SetWidth(20.0f);
    const QPoint start = At(w, 50, 50);
    std::vector<QPoint> drag;
    for (int i = 0; i <= 120; ++i) drag.push_back(start + QPoint(i, 0));
    Drag(w, drag);

    const float dmin = static_cast<float>(VLMain->Stroke->PressureSize(1.0f) / 4.0L + 2.0L);
    const float step = 1.0f;  // paper points are whole pixels
    const std::vector<TRecordedStroke> s = Strokes(*w->Packets[0]);
    ASSERT_EQ(s.size(), 1u) << zoomIn;
    const auto& pts = s[0].Points;
    ASSERT_GE(pts.size(), 6u);
    for (size_t i = 3; i + 1 < pts.size(); ++i) {
      const float d = static_cast<float>(pts[i][0] - pts[i - 1][0]);
      EXPECT_GT(d, dmin) << "zoom step " << zoomIn << ", point " << i;
      EXPECT_LE(d, dmin + step) << "zoom step " << zoomIn << ", point " << i;
    }
    w->CloseWindow(false);
    Settle();
  }
}

TEST_F(StrokeInput, NothingIsDrawnWhileAModifierOrToolKeyIsHeld) {
  TDrawWindow* w = MakePaper(200, 100);
  const std::vector<uint8_t> before = Bytes(*w->Packets[0]);
  const uint32_t layerBefore = w->Paper->CompositeImage.GetPixel(30, 30);
  for (int key : {int(plat::VK_SHIFT), int(plat::VK_SPACE), int(plat::VK_CONTROL), int(plat::VK_MENU), int('M'),
                  int('X'), int('A'), int('S'), int('D'), int('F'), int('E'), int('R')}) {
    plat::SetKeyDown(key, true);
    Drag(w, {At(w, 20, 30), At(w, 30, 30), At(w, 40, 30), At(w, 50, 30)});
    plat::SetKeyDown(key, false);
    EXPECT_EQ(Bytes(*w->Packets[0]), before) << "key " << key;
  }
  EXPECT_EQ(w->StrokeCount, 0);
  EXPECT_EQ(w->Paper->CompositeImage.GetPixel(30, 30), layerBefore);
}

TEST_F(StrokeInput, AVeryLongStrokeIsCutIntoEventsAndCountedOnce) {
  TDrawWindow* w = MakePaper(100, 100);
  const QPoint a = At(w, 10, 10), b = At(w, 13, 10);
  QTest::mousePress(w, Qt::LeftButton, Qt::NoModifier, a);
  for (int i = 0; i < 60010; ++i) {
    const QPoint p = i % 2 ? a : b;  // every point 3 pixels from the last: each is kept
    VLMain->StrokeTo(p.x(), p.y(), 1.0f, 1.0f, false);
  }
  QTest::mouseRelease(w, Qt::LeftButton, Qt::NoModifier, a);

  const std::vector<TRecordedStroke> s = Strokes(*w->Packets[0]);
  ASSERT_EQ(s.size(), 2u);
  EXPECT_EQ(s[0].Points.size(), 60002u);  // the first point and N = 60001
  EXPECT_EQ(s[1].Points.size(), 8u);      // N = 7, the release included
  EXPECT_EQ(s[1].Points.back()[2], 0);
  EXPECT_EQ(w->StrokeCount, 1);
}

TEST_F(StrokeInput, AStrokeLeftOpenByAnotherWindowsActivationEndsAtItsNewestPoint) {
  TDrawWindow* first = MakePaper(200, 100);
  TDrawWindow* second = MakePaper(200, 100);
  VLMain->MdiArea->setActiveSubWindow(first->SubWindow());
  ASSERT_EQ(VLMain->ActiveDrawWindow(), first);
  QTest::mousePress(first, Qt::LeftButton, Qt::NoModifier, At(first, 10, 10));
  QTest::mouseMove(first, At(first, 20, 10));
  QTest::mouseMove(first, At(first, 30, 12));
  ASSERT_TRUE(first->Packets[0]->InStroke());

  VLMain->MdiArea->setActiveSubWindow(second->SubWindow());
  ASSERT_EQ(VLMain->ActiveDrawWindow(), second);
  EXPECT_FALSE(first->Packets[0]->InStroke());
  EXPECT_FALSE(first->ButtonDown);
  EXPECT_EQ(first->StrokeCount, 1);
  const std::vector<TRecordedStroke> s = Strokes(*first->Packets[0]);
  ASSERT_EQ(s.size(), 1u);
  const std::array<int32_t, 3> end{30, 12, 0};
  EXPECT_EQ(s[0].Points.back(), end);
  const std::vector<uint8_t> closed = Bytes(*first->Packets[0]);

  QTest::mouseRelease(first, Qt::LeftButton, Qt::NoModifier, At(first, 40, 12));
  EXPECT_EQ(Bytes(*first->Packets[0]), closed);
  EXPECT_EQ(Bytes(*second->Packets[0]).size(), kNewPaperSize);
  EXPECT_EQ(first->StrokeCount, 1);
}

}  // namespace
