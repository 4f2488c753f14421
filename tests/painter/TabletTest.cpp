// Pen input: pressure, the toolkit's mouse events made from the pen, proximity, the eraser end.
#include "tests/painter/TabletFixture.h"

namespace {

class Tablet : public TabletFixture {};

constexpr size_t kNewPaperSize = 6;

TEST_F(Tablet, APenStrokeRecordsItsPressuresAndNoPointOfTheMouseMadeFromIt) {
  TDrawWindow* w = MakePaper(400, 300);
  PenStroke(Stylus(), w, {{{10, 10}, 0.3}, {{13, 10}, 0.3}, {{16, 10}, 0.77}});
  const std::vector<uint8_t> got = BytesFrom(*w->Packets[0], kNewPaperSize);
  ASSERT_EQ(got.size(), 39u);
  const std::vector<TRecordedStroke> s = Strokes(*w->Packets[0]);
  ASSERT_EQ(s.size(), 1u);
  EXPECT_EQ(s[0].Code, 0);
  const std::vector<std::array<int32_t, 3>> want = {{13, 10, 307}, {16, 10, 788}, {16, 10, 0}};
  EXPECT_EQ(s[0].Points, want);
  EXPECT_EQ(w->StrokeCount, 1);
  EXPECT_FALSE(w->ButtonDown) << "the toolkit's release cleared the button";
}

TEST_F(Tablet, MouseMovesDrawNothingWhileThePenIsNear) {
  TDrawWindow* w = MakePaper(200, 100);
  const std::vector<uint8_t> before = Bytes(*w->Packets[0]);
  Proximity(Stylus(), true);
  ASSERT_TRUE(VLMain->Tablet->InProximity());
  Drag(w, {At(w, 20, 20), At(w, 30, 20), At(w, 40, 25), At(w, 50, 25)});
  EXPECT_EQ(Bytes(*w->Packets[0]), before);
  Proximity(Stylus(), false);
  Drag(w, {At(w, 20, 20), At(w, 30, 20), At(w, 40, 25), At(w, 50, 25)});
  EXPECT_EQ(Strokes(*w->Packets[0]).size(), 1u) << "the mouse draws again once the pen has left";
}

TEST_F(Tablet, TheEraserEndEndsAnOpenStrokeWithItsOwnBrushFirst) {
  TDrawWindow* w = MakePaper(200, 100);
  Pen(Stylus(), w, {20, 20}, 0.5, true);
  Pen(Stylus(), w, {30, 20}, 0.5, true);
  Pen(Stylus(), w, {40, 22}, 0.5, true);
  ASSERT_TRUE(w->Packets[0]->InStroke());
  Pen(Eraser(), w, {45, 22}, 0.0, false);  // the pen turned over, hovering
  EXPECT_FALSE(w->Packets[0]->InStroke());
  const std::vector<TRecordedStroke> s = Strokes(*w->Packets[0]);
  ASSERT_EQ(s.size(), 1u);
  EXPECT_EQ(s[0].Code, bkPen);
  const std::array<int32_t, 3> end{45, 22, 0};
  EXPECT_EQ(s[0].Points.back(), end);
  EXPECT_TRUE(VLMain->EraserSwitched);
  EXPECT_EQ(VLMain->SavedBrushKind, bkPen);
  EXPECT_EQ(VLMain->Stroke->Kind, bkEraser);
}

TEST_F(Tablet, LeavingWithTheEraserBringsBackTheEarlierBrush) {
  // Without proximity events first: once the platform has shown that it reports them, they rule.
  for (bool proximityEvents : {false, true}) {
    TDrawWindow* w = MakePaper(200, 100);
    ASSERT_EQ(VLMain->Stroke->Kind, bkPen);
    if (proximityEvents) Proximity(Eraser(), true);
    Pen(Eraser(), w, {20, 30}, 0.0, false);
    PenStroke(Eraser(), w, {{{20, 30}, 0.6}, {{30, 30}, 0.6}, {{40, 32}, 0.6}});
    if (proximityEvents) {
      Proximity(Eraser(), false);
      Proximity(Stylus(), true);
    }
    Pen(Stylus(), w, {20, 60}, 0.0, false);  // the tip back, hovering
    EXPECT_FALSE(VLMain->EraserSwitched) << proximityEvents;
    PenStroke(Stylus(), w, {{{20, 60}, 0.6}, {{30, 60}, 0.6}, {{40, 62}, 0.6}});
    if (proximityEvents) Proximity(Stylus(), false);

    const std::vector<TRecordedStroke> s = Strokes(*w->Packets[0]);
    ASSERT_EQ(s.size(), 2u) << proximityEvents;
    EXPECT_EQ(s[0].Code, bkEraser) << proximityEvents;
    EXPECT_EQ(s[1].Code, bkPen) << proximityEvents;
    EXPECT_EQ(w->StrokeCount, 2);
    w->CloseWindow(false);
    Settle();
  }
}

TEST_F(Tablet, DeactivationClosesTheContextAndActivationOpensItAgain) {
  VLMain->AppDeactivate();
  EXPECT_FALSE(VLMain->Tablet->Open());
  EXPECT_FALSE(VLMain->Tablet->InProximity());
  VLMain->AppActivate();
  EXPECT_TRUE(VLMain->Tablet->Open());
  TDrawWindow* w = MakePaper(200, 100);
  PenStroke(Stylus(), w, {{{20, 20}, 1.0}, {{30, 20}, 1.0}, {{40, 20}, 1.0}});
  const std::vector<TRecordedStroke> s = Strokes(*w->Packets[0]);
  ASSERT_EQ(s.size(), 1u);
  EXPECT_EQ(s[0].Points.front()[2], 1024) << "full pressure";
}

}  // namespace

namespace {

TEST_F(Tablet, AStrokeOpenWhenTheApplicationIsLeftEndsAtItsNewestPoint) {
  TDrawWindow* w = MakePaper(200, 100);
  QTest::mousePress(w, Qt::LeftButton, Qt::NoModifier, At(w, 10, 10));
  QTest::mouseMove(w, At(w, 20, 10));
  QTest::mouseMove(w, At(w, 35, 14));
  ASSERT_TRUE(w->Packets[0]->InStroke());
#ifdef VELL_HAVE_PEN_INPUT
  QWindowSystemInterface::handleApplicationStateChanged(Qt::ApplicationInactive);
#endif
  EXPECT_FALSE(w->Packets[0]->InStroke());
  EXPECT_FALSE(w->ButtonDown);
  EXPECT_EQ(w->StrokeCount, 1);
  const std::vector<TRecordedStroke> s = Strokes(*w->Packets[0]);
  ASSERT_EQ(s.size(), 1u);
  const std::array<int32_t, 3> end{35, 14, 0};
  EXPECT_EQ(s[0].Points.back(), end);
#ifdef VELL_HAVE_PEN_INPUT
  QWindowSystemInterface::handleApplicationStateChanged(Qt::ApplicationActive);
#endif
}

}  // namespace
