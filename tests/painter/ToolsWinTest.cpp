// The tool box window: its picture, its cells acting on the active paper window, its place.
#include "ToolFixture.h"
#include "painter/PreviewWin.h"

namespace {

class ToolsWin : public ToolFixture {
 protected:
  static uint32_t BoxPixel(int x, int y) {
    const TPixelView v = ToolsWindow->Surface();
    return v.Row(y)[x] & 0xFFFFFFu;
  }
  // Qt's order: press, release, double-click, release.
  static void ToolBoxDoubleClick(int x, int y) {
    const QPoint at(x, y);
    Send(ToolsWindow, QEvent::MouseButtonPress, at, Qt::LeftButton, Qt::LeftButton);
    Send(ToolsWindow, QEvent::MouseButtonRelease, at, Qt::LeftButton, {});
    Send(ToolsWindow, QEvent::MouseButtonDblClick, at, Qt::LeftButton, Qt::LeftButton);
    Send(ToolsWindow, QEvent::MouseButtonRelease, at, Qt::LeftButton, {});
  }
};

TEST_F(ToolsWin, ShowsTheChoiceFramedInRed) {
  EXPECT_EQ(ToolsWindow->width(), 63);
  EXPECT_EQ(ToolsWindow->height(), 151);
  ToolBoxClick(15, 10);
  EXPECT_EQ(BoxPixel(1, 1), 0xFF0000u);
  EXPECT_EQ(BoxPixel(30, 24), 0xFF0000u);
  const uint32_t penInside = BoxPixel(5, 20);
  ToolBoxClick(47, 110);
  EXPECT_EQ(Mode().Kind, tkRotate);
  EXPECT_EQ(BoxPixel(32, 101), 0xFF0000u);
  EXPECT_NE(BoxPixel(1, 1), 0xFF0000u);
  EXPECT_LT(BoxPixel(5, 20) & 0xFF, penInside & 0xFF);  // darkened now
}

TEST_F(ToolsWin, ClicksDropTheShapeAndActOnThePaperWindow) {
  ToolBoxClick(15, 87);
  Click(Win(10, 10));
  Move(Win(50, 50), Qt::NoButton);
  ASSERT_EQ(Mode().Count, 1);
  ASSERT_EQ(W->BandLines.size(), 1u);
  ToolBoxClick(15, 87);
  EXPECT_EQ(Mode().Count, 0);
  EXPECT_TRUE(W->BandLines.empty());

  // The line cell straightens a rotated view.
  W->Paper->Display.SetCentre(240, 160);
  W->Paper->Display.SetAngle(0.5f);
  ToolBoxClick(47, 30);
  EXPECT_FALSE(W->Paper->Display.IsRotated());
  EXPECT_EQ(Mode().Kind, tkLine);

  // The zoom cells zoom about the centre and keep the tool.
  ToolBoxClick(15, 130);
  EXPECT_EQ(W->Paper->Display.ZoomIndex, 1);
  ToolBoxClick(47, 140);
  ToolBoxClick(47, 140);
  EXPECT_EQ(W->Paper->Display.ZoomIndex, -1);
  EXPECT_EQ(Mode().Kind, tkLine);
}

TEST_F(ToolsWin, TheLineCellShowsTheStraightenedViewAtOnce) {
  DrawMark();
  auto shown = [this] { return W->BackBuffer().Image().copy(); };
  TDisplay& d = W->Paper->Display;
  d.SetCentre(240, 160);
  d.SetAngle(0.5f);
  W->Redraw();
  PreviewWindow->DrawPreview();
  ToolBoxClick(47, 30);
  ASSERT_FALSE(d.IsRotated());
  // The window shows the unrotated paint before anything else repaints it...
  const QImage after = shown();
  W->Redraw();
  EXPECT_EQ(after, shown());
  // ...and the preview's marker is the unrotated frame again: no antialiased red pixels.
  const TTCDC& preview = W->Paper->PreviewCanvas;
  int partial = 0;
  for (int32_t y = 0; y < preview.Height(); ++y)
    for (int32_t x = 0; x < preview.Width(); ++x) {
      const uint32_t c = preview.GetPixel(x, y) & 0xFFFFFFu;
      if ((c >> 16) > ((c >> 8) & 0xFF) + 8 && c != 0xFF0000u) ++partial;
    }
  EXPECT_EQ(partial, 0);
}

TEST_F(ToolsWin, DoubleClicks) {
  // The zoom cell's double-click is two zoom clicks.
  ToolBoxDoubleClick(15, 130);
  EXPECT_EQ(W->Paper->Display.ZoomIndex, 2);
  // On the hand or rotate cell it also puts the view back to 100 %.
  ToolBoxDoubleClick(15, 110);
  EXPECT_EQ(Mode().Kind, tkHand);
  EXPECT_EQ(W->Paper->Display.ZoomIndex, 0);
  W->ZoomInAt(false, 0, 0);
  ToolBoxDoubleClick(47, 110);
  EXPECT_EQ(Mode().Kind, tkRotate);
  EXPECT_EQ(W->Paper->Display.ZoomIndex, 0);
}

TEST_F(ToolsWin, WithoutAPaperWindowClicksStillChooseTools) {
  VLMain->CloseAllPapers(false);
  Settle();
  ASSERT_EQ(VLMain->ActiveDrawWindow(), nullptr);
  W = nullptr;
  ToolBoxClick(47, 10);
  EXPECT_EQ(Mode().Kind, tkMove);
  ToolBoxDoubleClick(15, 110);
  ToolBoxClick(15, 130);
  EXPECT_EQ(Mode().Kind, tkHand);
  EXPECT_EQ(BoxPixel(1, 101), 0xFF0000u);
}

TEST_F(ToolsWin, SitsUnderThePreviewFirstThenWhereItWasLeft) {
  PreviewWindow->move(300, 40);
  ToolsWindow->SetDefaultPosition();
  const QRect preview = PreviewWindow->frameGeometry();
  EXPECT_EQ(ToolsWindow->pos(), QPoint(preview.left(), preview.top() + preview.height()));

  ToolsWindow->move(123, 234);
  delete ToolsWindow;  // stores the place
  ASSERT_EQ(ToolsWindow, nullptr);
  plat::TRegistry reg;
  ASSERT_TRUE(reg.OpenKey(kVelloraKey, false));
  EXPECT_EQ(reg.ReadInteger("ToolX"), 123);
  EXPECT_EQ(reg.ReadInteger("ToolY"), 234);
  ToolsWindow = new TToolsWindow(VLMain);
  EXPECT_EQ(ToolsWindow->pos(), QPoint(123, 234));
}

}  // namespace
