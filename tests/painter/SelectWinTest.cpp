// The selection window: its cells drawn from the paper's selection slots, the click that
// picks the current slot, its timer and its place.
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QSlider>
#include <QTimer>

#include "PainterFixture.h"
#include "engine/SelectMng.h"
#include "painter/SelectWin.h"
#include "painter/ToolsWin.h"
#include "platform/core/Settings.h"

namespace {

class SelectWin : public PainterFixture {
 protected:
  static uint32_t SurfacePixel(int x, int y) { return SelectWindow->Surface->GetPixel(x, y); }
  static uint32_t BoxPixel(int x, int y) {
    return SelectWindow->PaintBox1->BackBuffer().Image().pixel(x, y) | 0xFF000000u;
  }
  static void ReleaseAt(int x, int y) {
    QMouseEvent e(QEvent::MouseButtonRelease, QPointF(x, y), SelectWindow->PaintBox1->mapToGlobal(QPointF(x, y)),
                  Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(SelectWindow->PaintBox1, &e);
  }
};

TEST_F(SelectWin, IsBuiltHiddenWithItsControls) {
  EXPECT_FALSE(SelectWindow->isVisible());
  EXPECT_FALSE(SelectWindow->Timer1->isActive());
  EXPECT_EQ(SelectWindow->Timer1->interval(), 250);
  EXPECT_EQ(SelectWindow->Surface->Width(), 50);
  EXPECT_EQ(SelectWindow->Surface->Height(), 300);
  EXPECT_EQ(SelectWindow->TrackBar1->minimum(), 0);
  EXPECT_EQ(SelectWindow->TrackBar1->maximum(), 40);
  EXPECT_EQ(SelectWindow->TrackBar1->value(), 10);
  EXPECT_EQ(SelectWindow->PaintBox1->geometry(), QRect(0, 40, 81, 161));
  EXPECT_EQ(SelectWindow->windowTitle().toStdString(), "\u9078\u629E\u7BC4\u56F2Win");
}

TEST_F(SelectWin, CellsShowTheSlotsWithTheCurrentOneFramed) {
  TDrawWindow* w = MakePaper(480, 480);
  TSelectMng& sel = *w->Paper->Selection;
  ASSERT_EQ(sel.LastSlot(), 0);
  ASSERT_TRUE(sel.IsEmpty(0));
  SelectWindow->Timer1Timer();

  // The frame of the current cell.
  for (int i = 0; i < 50; ++i) {
    EXPECT_EQ(SurfacePixel(i, 0), kSelectFrame) << i;
    EXPECT_EQ(SurfacePixel(i, 49), kSelectFrame) << i;
    EXPECT_EQ(SurfacePixel(0, i), kSelectFrame) << i;
    EXPECT_EQ(SurfacePixel(49, i), kSelectFrame) << i;
  }
  // The middle: the thumbnail, darkened since the slot is empty.
  const TTC* thumb = sel.GetThumb(0);
  ASSERT_NE(thumb, nullptr);
  TTCDC expected(50, 50);
  expected.Fill(kSelectBackground);
  thumb->BlendTo(expected, 25 - thumb->Width() / 2, 25 - thumb->Height() / 2, 255);
  expected.BlendFillRect(0, 0, 50, 50, 0xFF000000, 64);
  EXPECT_EQ(SurfacePixel(25, 25), expected.GetPixel(25, 25));
  EXPECT_NE(SurfacePixel(25, 25), thumb->GetPixel(thumb->Width() / 2, thumb->Height() / 2));
  // Below the only cell: the background.
  EXPECT_EQ(SurfacePixel(10, 75), kSelectBackground);
  EXPECT_EQ(SurfacePixel(49, 299), kSelectBackground);
  // The paint box shows the surface at its top-left corner.
  EXPECT_EQ(BoxPixel(0, 0), kSelectFrame);
  EXPECT_EQ(BoxPixel(25, 25), expected.GetPixel(25, 25) | 0xFF000000u);
  EXPECT_EQ(BoxPixel(10, 75), kSelectBackground);

  // A selected slot is drawn without the dark veil.
  sel.SelectAll(0);
  SelectWindow->Timer1Timer();
  TTCDC bright(50, 50);
  bright.Fill(kSelectBackground);
  thumb = sel.GetThumb(0);
  thumb->BlendTo(bright, 25 - thumb->Width() / 2, 25 - thumb->Height() / 2, 255);
  EXPECT_EQ(SurfacePixel(25, 25), bright.GetPixel(25, 25));
  EXPECT_EQ(SurfacePixel(0, 25), kSelectFrame);
}

TEST_F(SelectWin, SeveralSlotsOneCellEachTheCurrentOneFramed) {
  TDrawWindow* w = MakePaper(200, 100);
  TSelectMng& sel = *w->Paper->Selection;
  sel.StoreCopy(0);  // a second slot, made current
  sel.StoreCopy(1);  // a third
  ASSERT_EQ(sel.LastSlot(), 2);
  sel.SetCurrent(1);
  SelectWindow->Timer1Timer();
  EXPECT_NE(SurfacePixel(0, 10), kSelectFrame);
  EXPECT_EQ(SurfacePixel(0, 60), kSelectFrame);
  EXPECT_EQ(SurfacePixel(49, 99), kSelectFrame);
  EXPECT_NE(SurfacePixel(0, 110), kSelectFrame);
  EXPECT_EQ(SurfacePixel(10, 175), kSelectBackground);
  // A click in the third cell makes it current and redraws the paper window.
  ReleaseAt(10, 125);
  EXPECT_EQ(sel.Current(), 2);
  // A click below the last cell changes nothing.
  ReleaseAt(10, 160);
  EXPECT_EQ(sel.Current(), 2);
  ReleaseAt(10, 20);
  EXPECT_EQ(sel.Current(), 0);
  // A release above the box (the cursor left it with the button down) is no click.
  sel.SetCurrent(2);
  ReleaseAt(10, -20);
  EXPECT_EQ(sel.Current(), 2);
}

TEST_F(SelectWin, AClickBelowTheOnlyCellKeepsSlotZero) {
  TDrawWindow* w = MakePaper(480, 480);
  const std::vector<uint8_t> before = Bytes(*w->Packets[0]);
  ReleaseAt(10, 75);
  EXPECT_EQ(w->Paper->Selection->Current(), 0);
  ReleaseAt(10, 10);
  EXPECT_EQ(w->Paper->Selection->Current(), 0);
  // Picking a slot is not recorded.
  EXPECT_EQ(Bytes(*w->Packets[0]), before);
}

TEST_F(SelectWin, WithoutAPaperTheCellsKeepTheirLastDrawing) {
  TDrawWindow* w = MakePaper(480, 480);
  SelectWindow->Timer1Timer();
  const uint32_t corner = SurfacePixel(0, 0), middle = SurfacePixel(25, 25);
  w->CloseWindow(false);
  Settle();
  ASSERT_EQ(VLMain->ActiveDrawWindow(), nullptr);
  SelectWindow->Surface->SetPixel(5, 200, 0xFF123456);
  SelectWindow->Timer1Timer();
  EXPECT_EQ(SurfacePixel(0, 0), corner);
  EXPECT_EQ(SurfacePixel(25, 25), middle);
  EXPECT_EQ(SurfacePixel(5, 200), 0xFF123456u);
  ReleaseAt(10, 10);    // nothing to act on
  SelectWindow->Button3Click();
}

TEST_F(SelectWin, TheTimerRunsOnlyWhileShown) {
  TDrawWindow* w = MakePaper(480, 480);
  (void)w;
  EXPECT_FALSE(SelectWindow->Timer1->isActive());
  SelectWindow->show();
  EXPECT_TRUE(SelectWindow->Timer1->isActive());
  // It draws within a tick of being shown.
  QElapsedTimer clock;
  clock.start();
  while (BoxPixel(0, 0) != kSelectFrame && clock.elapsed() < 5000) QApplication::processEvents(QEventLoop::AllEvents, 50);
  EXPECT_EQ(BoxPixel(0, 0), kSelectFrame);
  SelectWindow->hide();
  EXPECT_FALSE(SelectWindow->Timer1->isActive());
}

TEST_F(SelectWin, SelectAllOfTheUnboundButtonFillsTheCurrentSlot) {
  TDrawWindow* w = MakePaper(64, 64);
  ASSERT_TRUE(w->Paper->Selection->IsEmpty(0));
  SelectWindow->Button3Click();
  EXPECT_FALSE(w->Paper->Selection->IsEmpty(0));
}

TEST_F(SelectWin, PlaceIsKeptAcrossStarts) {
  ASSERT_NE(ToolsWindow, nullptr);
  // Left of the tool box where there is room, else right of it.
  ToolsWindow->move(300, 200);
  SelectWindow->SetDefaultPosition();
  EXPECT_EQ(SelectWindow->x() + SelectWindow->frameGeometry().width(), ToolsWindow->x());
  EXPECT_EQ(SelectWindow->y(), ToolsWindow->y());
  ToolsWindow->move(0, 200);
  SelectWindow->SetDefaultPosition();
  EXPECT_EQ(SelectWindow->x(), ToolsWindow->frameGeometry().width());
  EXPECT_EQ(SelectWindow->y(), ToolsWindow->y());
  SelectWindow->move(300, 220);
  DestroyForms();
  Settle();
  {
    plat::TRegistry reg;
    ASSERT_TRUE(reg.OpenKey("Software\\Brenmoor\\Vellora", false));
    EXPECT_EQ(reg.ReadInteger("SelectX"), std::optional<int32_t>(300));
    EXPECT_EQ(reg.ReadInteger("SelectY"), std::optional<int32_t>(220));
  }
  CreateForms();
  EXPECT_EQ(SelectWindow->pos(), QPoint(300, 220));
}

}  // namespace
