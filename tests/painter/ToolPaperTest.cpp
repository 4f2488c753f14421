// The paper window's tools end to end: mouse events in, recorded bytes and pixels out, and
// every record replays to the same paper.
#include "ToolFixture.h"

namespace {

using ToolPaper = ToolFixture;

TEST_F(ToolPaper, FilledRectangleFromTheToolBoxLeavesTheEndColumnAndRow) {
  ToolBoxClick(15, 62);
  EXPECT_EQ(Mode().Kind, tkRect);
  VLMain->Stroke->SetColor(0xFF8000);
  PaperDrag(30, 40, 10, 20);
  EXPECT_EQ(Recorded(), Hex({0x28, 0x01, 0x00, 0x0A, 0x00, 0x14, 0x00, 0x14, 0x00, 0x14, 0x00, 0xFF, 0x80, 0x00}));
  EXPECT_EQ(LayerPixel(10, 20), 0xFF8000u);
  EXPECT_EQ(LayerPixel(29, 39), 0xFF8000u);
  EXPECT_EQ(LayerPixel(30, 25), 0xFFFFFFu);
  EXPECT_EQ(LayerPixel(15, 40), 0xFFFFFFu);
  EXPECT_EQ(Pixel(20, 30), 0xFF8000u);
  EXPECT_TRUE(W->BandLines.empty());
  ExpectReplayMatches();
}

TEST_F(ToolPaper, EraserRectangleFromTheXKey) {
  ToolBoxClick(15, 62);
  VLMain->Stroke->SetColor(0x102030);
  PaperDrag(0, 0, 60, 60);
  Mark = W->Packets[0]->Data().Size();
  Tap(Qt::Key_X);
  EXPECT_EQ(Mode().Kind, tkRect);
  EXPECT_FALSE(Mode().Fill);
  PaperDrag(30, 40, 10, 20);
  EXPECT_EQ(Recorded(), Hex({0x27, 0x01, 0x00, 0x0A, 0x00, 0x14, 0x00, 0x14, 0x00, 0x14, 0x00}));
  EXPECT_EQ(LayerPixel(10, 20), 0xFFFFFFu);
  EXPECT_EQ(LayerPixel(30, 40), 0x102030u);
  ExpectReplayMatches();
}

TEST_F(ToolPaper, LineAfterASizeDragIsDrawnWithTheRecordedWidth) {
  // Ctrl+Alt arms the size drag; at 150 % a 1-pixel move gives a width the event cannot hold.
  W->ZoomInAt(false, 0, 0);
  ASSERT_EQ(W->Paper->Display.ZoomIndex, 1);
  VLMain->Stroke->SetWidth(6.0f);
  plat::SetKeyDown(plat::VK_CONTROL, true);
  plat::SetKeyDown(plat::VK_MENU, true);
  Mode().UpdateModifiers(W);
  ASSERT_EQ(Mode().SizeState, dsArmed);
  const QPoint at = Win(100, 100);
  Press(at);
  Move(at + QPoint(1, 0));
  float width = 0;
  ASSERT_TRUE(Mode().TrackSizeDrag(*W->Paper, width));  // as the update step polls it
  VLMain->Stroke->SetWidth(width);
  Release(at + QPoint(1, 0));
  plat::ClearKeys();
  Mode().UpdateModifiers(W);
  EXPECT_NE(RecordedParameter(VLMain->Stroke->WIDTH), VLMain->Stroke->WIDTH);
  W->ZoomReset(false, 0, 0);

  Tap(Qt::Key_N);
  ASSERT_EQ(Mode().Kind, tkLine);
  VLMain->Stroke->SetColor(0x0000FF);
  PaperDrag(10, 10, 100, 50);
  EXPECT_EQ(RecordedParameter(VLMain->Stroke->WIDTH), VLMain->Stroke->WIDTH);
  TEventPacket expected;
  expected.WriteLine(*VLMain->Stroke, 10, 10, 100, 50);
  const std::vector<uint8_t> want = Bytes(expected);
  ASSERT_EQ(want.size(), 2u + 17u + 10u);
  EXPECT_EQ(Recorded(), want);
  EXPECT_EQ(std::vector<uint8_t>(want.begin(), want.begin() + 2), Hex({0x31, 0x01}));
  EXPECT_EQ(std::vector<uint8_t>(want.end() - 10, want.end()),
            Hex({0x00, 0x00, 0x0A, 0x00, 0x0A, 0x00, 0x64, 0x00, 0x32, 0x00}));
  EXPECT_NE(LayerPixel(55, 30), 0xFFFFFFu);
  ExpectReplayMatches();
}

TEST_F(ToolPaper, PolygonsFillAndEraseAndTheDoubleClickAddsNoVertex) {
  struct Row {
    int cellX;
    std::vector<uint8_t> head;
  };
  const std::vector<uint8_t> points =
      Hex({0x04, 0x00, 0x0A, 0x00, 0x0A, 0x00, 0x3C, 0x00, 0x0A, 0x00, 0x3C, 0x00, 0x32, 0x00, 0x0A, 0x00, 0x32, 0x00});
  for (const Row& r : {Row{15, Hex({0x30, 0x01, 0x00, 0x00, 0x00, 0xFF})}, Row{47, Hex({0x29, 0x01, 0x00})}}) {
    SCOPED_TRACE(r.cellX);
    ToolBoxClick(r.cellX, 87);
    ASSERT_EQ(Mode().Kind, tkPolygon);
    VLMain->Stroke->SetColor(0x0000FF);
    Mark = W->Packets[0]->Data().Size();
    Click(Win(10, 10));
    Click(Win(60, 10));
    Click(Win(60, 50));
    Move(Win(30, 55), Qt::NoButton);
    EXPECT_EQ(W->BandLines.size(), 3u);
    // The band is drawn over the window: its back buffer keeps the paper's pixels.
    const QPoint onBand = Win(35, 10);
    EXPECT_EQ(W->BackBuffer().Image().pixel(onBand) & 0xFFFFFFu, Pixel(35, 10));
    DoubleClick(Win(10, 50));
    EXPECT_EQ(Recorded(), Cat(r.head, points));
    EXPECT_EQ(Mode().Count, 0);
    EXPECT_TRUE(W->BandLines.empty());
    // The next press is a real one: it starts the next polygon.
    Click(Win(20, 20));
    EXPECT_EQ(Mode().Count, 1);
    Mode().ResetShape();
  }
  // Filled, then erased again.
  EXPECT_EQ(LayerPixel(30, 20), 0xFFFFFFu);
  ExpectReplayMatches();
}

TEST_F(ToolPaper, FilledPolygonPixels) {
  ToolBoxClick(15, 87);
  VLMain->Stroke->SetColor(0x0000FF);
  Click(Win(10, 10));
  Click(Win(60, 10));
  Click(Win(60, 50));
  DoubleClick(Win(10, 50));
  EXPECT_EQ(LayerPixel(30, 30) & 0xFF, 0xFFu);
  EXPECT_LT(LayerPixel(30, 30) >> 16, 4u);
  EXPECT_EQ(LayerPixel(70, 30), 0xFFFFFFu);
  ExpectReplayMatches();
}

TEST_F(ToolPaper, UnfinishedShapesAndClicksWithoutMovementDrawNothing) {
  ToolBoxClick(15, 87);
  Click(Win(10, 10));
  DoubleClick(Win(60, 10));
  EXPECT_EQ(Recorded(), std::vector<uint8_t>{});
  EXPECT_EQ(Mode().Count, 0);
  for (QPoint cell : {QPoint(15, 62), QPoint(47, 30)}) {  // rectangle, then line
    ToolBoxClick(cell.x(), cell.y());
    Click(Win(40, 40));
    EXPECT_EQ(Recorded(), std::vector<uint8_t>{});
    EXPECT_FALSE(W->ButtonDown);
    EXPECT_EQ(Mode().Count, 0);
  }
  // A later pen move draws nothing: the button is no longer down.
  ToolBoxClick(15, 10);
  Move(Win(50, 50), Qt::NoButton);
  Move(Win(80, 80), Qt::NoButton);
  EXPECT_EQ(Recorded(), std::vector<uint8_t>{});
}

TEST_F(ToolPaper, LayerMoveOffsetFollowsTheZoom) {
  struct Row {
    int zoomSteps;
    std::vector<uint8_t> bytes;
  };
  for (const Row& r : {Row{0, Hex({0x26, 0x01, 0x00, 0x0F, 0x00, 0xFC, 0xFF})},
                       Row{2, Hex({0x26, 0x01, 0x00, 0x07, 0x00, 0xFE, 0xFF})}}) {
    SCOPED_TRACE(r.zoomSteps);
    W->ZoomReset(false, 0, 0);
    for (int i = 0; i < r.zoomSteps; ++i) W->ZoomInAt(false, 240, 160);
    Mark = W->Packets[0]->Data().Size();
    Tap(Qt::Key_V);
    ASSERT_EQ(Mode().Kind, tkMove);
    const QPoint from = Win(100, 100);
    Drag(from, from + QPoint(15, -4));
    EXPECT_EQ(Recorded(), r.bytes);
  }
  ExpectReplayMatches();
}

TEST_F(ToolPaper, LayerMoveUnderARotatedViewAndAKeyUpCommitsOnce) {
  ToolBoxClick(15, 62);
  VLMain->Stroke->SetColor(0x000000);
  PaperDrag(100, 100, 110, 110);
  W->Paper->Display.SetCentre(240, 160);
  W->Paper->Display.SetAngle(static_cast<float>(3.14159265358979L / 2));
  Tap(Qt::Key_V);
  Mark = W->Packets[0]->Data().Size();
  const QPoint from(100, 100);
  Press(from);
  Move(from + QPoint(20, 0));
  // Any key released during the move commits it.
  KeyDown(0, Qt::Key_Shift);
  KeyUp(Qt::Key_Shift);
  const std::vector<uint8_t> once = Recorded();
  ASSERT_EQ(once.size(), 7u);
  EXPECT_EQ(once[0] | (once[1] << 8), ecOffsetLayer);
  const int16_t dx = static_cast<int16_t>(once[3] | (once[4] << 8));
  const int16_t dy = static_cast<int16_t>(once[5] | (once[6] << 8));
  EXPECT_EQ(dx, 0);
  EXPECT_GT(dy, 0);
  Release(from + QPoint(20, 0));
  EXPECT_EQ(Recorded(), once);
  ExpectReplayMatches();
}

TEST_F(ToolPaper, AnAutoRepeatReleaseDuringAMoveCommitsNothing) {
  Tap(Qt::Key_V);
  const QPoint from = Win(100, 100);
  Press(from);
  Move(from + QPoint(5, 5));
  KeyDown(0, Qt::Key_Shift);
  KeyUp(Qt::Key_Shift, {}, true);
  EXPECT_EQ(Recorded(), std::vector<uint8_t>{});
  EXPECT_EQ(Mode().MoveState, dsDragging);
  Release(from + QPoint(5, 5));
  EXPECT_EQ(Recorded(), Hex({0x26, 0x01, 0x00, 0x05, 0x00, 0x05, 0x00}));
}

TEST_F(ToolPaper, FarOutsideAtQuarterZoomIsClampedToTheEventFields) {
  W->ZoomOutAt(false, 0, 0);
  W->ZoomOutAt(false, 0, 0);
  ASSERT_EQ(W->Paper->Display.ZoomIndex, -2);
  const QPoint inside = Win(12, 12);
  const QPoint far(20000, -20000);  // 4 paper pixels per window pixel: beyond the 16-bit range

  Tap(Qt::Key_N);
  Drag(inside, far);
  std::vector<uint8_t> line = Recorded();
  ASSERT_EQ(line.size(), 29u);
  EXPECT_EQ(std::vector<uint8_t>(line.end() - 4, line.end()), Hex({0xFF, 0x7F, 0x00, 0x80}));

  // Rectangles: the far corner clamped; a side longer than its field is cut to the paper.
  ToolBoxClick(15, 62);
  struct RectRow {
    QPoint to;
    std::vector<uint8_t> xywh;
  };
  for (const RectRow& r : {RectRow{QPoint(20000, 20000), Hex({0x0C, 0x00, 0x0C, 0x00, 0xF3, 0x7F, 0xF3, 0x7F})},
                           RectRow{QPoint(-20000, -20000), Hex({0x00, 0x00, 0x00, 0x00, 0x0C, 0x00, 0x0C, 0x00})}}) {
    Mark = W->Packets[0]->Data().Size();
    Drag(inside, r.to);
    const std::vector<uint8_t> rect = Recorded();
    ASSERT_EQ(rect.size(), 14u);
    EXPECT_EQ(std::vector<uint8_t>(rect.begin() + 3, rect.begin() + 11), r.xywh);
  }

  ToolBoxClick(15, 87);
  Mark = W->Packets[0]->Data().Size();
  Click(inside);
  Click(far);
  DoubleClick(Win(10, 200));
  std::vector<uint8_t> poly = Recorded();
  ASSERT_EQ(poly.size(), 6u + 2u + 12u);
  EXPECT_EQ(std::vector<uint8_t>(poly.begin() + 12, poly.begin() + 16), Hex({0xFF, 0x7F, 0x00, 0x80}));

  Tap(Qt::Key_V);
  Mark = W->Packets[0]->Data().Size();
  Drag(inside, far);
  EXPECT_EQ(Recorded(), Hex({0x26, 0x01, 0x00, 0xFF, 0x7F, 0x00, 0x80}));
  ExpectReplayMatches();
}

TEST_F(ToolPaper, ShiftHeldAcceptsShapesOtherToolKeysRefuseThem) {
  ToolBoxClick(15, 62);
  plat::SetKeyDown(plat::VK_SHIFT, true);
  PaperDrag(10, 10, 20, 20);
  plat::ClearKeys();
  EXPECT_EQ(Recorded().size(), 14u);
  for (int key : {int(plat::VK_CONTROL), int(plat::VK_MENU), int(plat::VK_SPACE), int('X'), int('M')}) {
    SCOPED_TRACE(key);
    Mark = W->Packets[0]->Data().Size();
    ToolBoxClick(15, 62);
    plat::SetKeyDown(key, true);
    PaperDrag(30, 30, 40, 40);
    plat::ClearKeys();
    Mode().UpdateModifiers(W);
    Mode().SetTool(tkPen);
    EXPECT_EQ(Recorded(), std::vector<uint8_t>{});
  }
}

TEST_F(ToolPaper, PlaybackAllowsViewDragsButNoShapeOrMove) {
  W->Playing = true;
  ToolBoxClick(15, 62);
  PaperDrag(10, 10, 20, 20);
  Tap(Qt::Key_V);
  PaperDrag(10, 10, 20, 20);
  EXPECT_EQ(Recorded(), std::vector<uint8_t>{});
  EXPECT_EQ(LayerPixel(15, 15), 0xFFFFFFu);
  Tap(Qt::Key_H);
  const QPoint at = Win(50, 50);
  Press(at);
  EXPECT_EQ(Mode().HandState, dsDragging);
  Release(at);
  EXPECT_EQ(Mode().HandState, dsArmed);
  W->Playing = false;
}

TEST_F(ToolPaper, NetworkMemberRecordsShapesAndMovesInItsOwnSlot) {
  W->Paper->SetNetMode(1);
  W->Paper->SetMemberCount(3);
  W->Paper->SetMemberIndex(2);
  ToolBoxClick(15, 62);
  PaperDrag(10, 10, 20, 20);
  ToolBoxClick(15, 87);
  Click(Win(10, 10));
  Click(Win(60, 10));
  DoubleClick(Win(60, 50));
  Tap(Qt::Key_V);
  PaperDrag(10, 10, 13, 14);
  EXPECT_EQ(Recorded(0), std::vector<uint8_t>{});
  const std::vector<uint8_t> own = Recorded(2);
  ASSERT_EQ(own.size(), 14u + 6u + 2u + 12u + 7u);
  EXPECT_EQ(own[0] | (own[1] << 8), ecFillRect);
  EXPECT_EQ(own[14] | (own[15] << 8), ecFillPolygon);
  EXPECT_EQ(own[34] | (own[35] << 8), ecOffsetLayer);
  W->Paper->SetNetMode(0);  // closed as an offline paper: no session log to offer
}

TEST_F(ToolPaper, SpaceArmsTheHandForADragThatScrolls) {
  KeyDown(0, Qt::Key_Space);
  EXPECT_EQ(Mode().HandState, dsArmed);
  EXPECT_EQ(W->cursor().shape(), Qt::PointingHandCursor);
  const int32_t before = W->ScrollBar1.Position();
  const QPoint at = Win(100, 100);
  Press(at);
  Move(at + QPoint(-30, 0));
  VLMain->UpdateStep();  // the update step tracks the drag
  EXPECT_EQ(W->ScrollBar1.Position(), before + 30);
  Release(at + QPoint(-30, 0));
  EXPECT_EQ(Recorded(), std::vector<uint8_t>{});
  KeyUp(Qt::Key_Space);
  EXPECT_EQ(Mode().HandState, dsIdle);
  EXPECT_NE(W->cursor().shape(), Qt::PointingHandCursor);
}

TEST_F(ToolPaper, RightButtonTakesBackTheLastVertex) {
  ToolBoxClick(15, 87);
  Click(Win(10, 10));
  Click(Win(60, 10));
  Click(Win(60, 50), Qt::RightButton);
  EXPECT_EQ(Mode().Count, 1);
  Click(Win(60, 50));
  Click(Win(10, 50));
  DoubleClick(Win(10, 60));
  const std::vector<uint8_t> rec = Recorded();
  ASSERT_EQ(rec.size(), 8u + 16u);
  EXPECT_EQ(rec[6], 4);
}

}  // namespace
