// The preview window: the fit of the reduced paper, the view's marker, dragging in it to move
// the view, the Alt reset, and its place.
#include <QCursor>
#include <QMouseEvent>
#include <cmath>
#include <cstring>

#include "PainterFixture.h"
#include "engine/Display.h"
#include "painter/PreviewWin.h"
#include "painter/SelectWin.h"
#include "platform/core/Settings.h"

namespace {

constexpr uint32_t kRed = 0xFFFF0000;

struct TFitCase {
  int32_t W, H, Cw, Ch;
  int32_t Width, Height, Left, Top;
};

// (paper, client) -> (preview, paint box place).
const TFitCase kFits[] = {
    {1000, 500, 100, 100, 100, 50, 0, 25},
    {500, 500, 100, 200, 100, 100, 0, 50},
    {500, 500, 200, 100, 100, 100, 50, 0},
    // W / H kept in single precision: 3.3333333 falls just below 10 / 3, so the height wins.
    {1000, 300, 10, 3, 9, 3, 1, 0},
    // Each side is at least one pixel.
    {6399, 1, 100, 100, 100, 1, 0, 50},
    {1, 6399, 100, 100, 1, 100, 50, 0},
};

TEST(PreviewFit, PaperShapeKeptCentredEachSideAtLeastOne) {
  for (const TFitCase& c : kFits) {
    SCOPED_TRACE(testing::Message() << c.W << "x" << c.H << " in " << c.Cw << "x" << c.Ch);
    TPreviewFit f;
    ASSERT_TRUE(FitPreview(c.W, c.H, c.Cw, c.Ch, f));
    EXPECT_EQ(f.Width, c.Width);
    EXPECT_EQ(f.Height, c.Height);
    EXPECT_EQ(f.Left, c.Left);
    EXPECT_EQ(f.Top, c.Top);
  }
  TPreviewFit f;
  EXPECT_FALSE(FitPreview(1000, 500, 100, 0, f));
  EXPECT_FALSE(FitPreview(1000, 500, 0, 100, f));
  EXPECT_FALSE(FitPreview(1000, 500, -5, 100, f));
}

class PreviewWin : public PainterFixture {
 protected:
  void SetUp() override {
    PainterFixture::SetUp();
    PreviewWindow->resize(100, 100);
  }

  // Sets a paper window's client size and lays its view out again.
  static void SetClient(TDrawWindow* w, int32_t cw, int32_t ch) {
    w->SetClientSize(cw, ch);
    Settle();
    w->Redraw();
  }

  static uint32_t CanvasPixel(TDrawWindow* w, int x, int y) { return w->Paper->PreviewCanvas.GetPixel(x, y); }
  static uint32_t BoxPixel(int x, int y) { return PreviewWindow->PaintBox1->BackBuffer().Image().pixel(x, y); }

  // Left press in the paint box with the screen cursor where it is now.
  static void Press(Qt::MouseButton button = Qt::LeftButton) {
    QMouseEvent e(QEvent::MouseButtonPress, QPointF(1, 1), PreviewWindow->PaintBox1->mapToGlobal(QPointF(1, 1)),
                  button, button, Qt::NoModifier);
    QApplication::sendEvent(PreviewWindow->PaintBox1, &e);
  }
  static void Release(Qt::MouseButton button = Qt::LeftButton) {
    QMouseEvent e(QEvent::MouseButtonRelease, QPointF(1, 1), PreviewWindow->PaintBox1->mapToGlobal(QPointF(1, 1)),
                  button, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(PreviewWindow->PaintBox1, &e);
  }
  // The screen cursor onto a point of the preview.
  static void MoveTo(int x, int y) { QCursor::setPos(PreviewWindow->PaintBox1->mapToGlobal(QPoint(x, y))); }

  static TPoint Centre(TDrawWindow* w) {
    TPoint p;
    w->Paper->Display.CentrePoint(w->ClientWidth(), w->ClientHeight(), p.X, p.Y);
    return p;
  }
};

TEST_F(PreviewWin, FitsThePaperIntoTheClientAndCentresThePaintBox) {
  for (const TFitCase& c : kFits) {
    if (c.Cw < 50) continue;  // a window this small is below the platform's minimum
    SCOPED_TRACE(testing::Message() << c.W << "x" << c.H << " in " << c.Cw << "x" << c.Ch);
    TDrawWindow* w = MakePaper(c.W, c.H);
    PreviewWindow->resize(c.Cw, c.Ch);
    ASSERT_EQ(PreviewWindow->width(), c.Cw);
    ASSERT_EQ(PreviewWindow->height(), c.Ch);
    PreviewWindow->DrawPreview();
    EXPECT_FALSE(PreviewWindow->NeedsFit);
    EXPECT_EQ(PreviewWindow->ShownChild, w);
    EXPECT_EQ(PreviewWindow->PaintBox1->geometry(), QRect(c.Left, c.Top, c.Width, c.Height));
    EXPECT_EQ(w->Paper->PreviewImage.Width(), c.Width);
    EXPECT_EQ(w->Paper->PreviewImage.Height(), c.Height);
    EXPECT_EQ(w->Paper->PreviewCanvas.Width(), c.Width);
    EXPECT_EQ(w->Paper->PreviewCanvas.Height(), c.Height);
    w->CloseWindow(false);
    Settle();
  }
}

TEST_F(PreviewWin, AClientWithoutAreaLeavesTheFitPending) {
  TDrawWindow* w = MakePaper(1000, 500);
  const int32_t before = w->Paper->PreviewImage.Width();
  for (QSize client : {QSize(100, 0), QSize(0, 100)}) {
    PreviewWindow->NeedsFit = true;
    PreviewWindow->resize(client);
    if (PreviewWindow->size() != client) GTEST_SKIP() << "the platform keeps windows at least one pixel big";
    PreviewWindow->DrawPreview();
    EXPECT_TRUE(PreviewWindow->NeedsFit);
    EXPECT_EQ(w->Paper->PreviewImage.Width(), before);
  }
}

TEST_F(PreviewWin, MarkerFramesTheShownPartAndIsClampedToThePreview) {
  TDrawWindow* w = MakePaper(1000, 500);
  // At 25 % the whole paper shows with grey margins round it.
  w->Paper->Display.ZoomIndex = -2;
  SetClient(w, 400, 300);
  ASSERT_GT(w->Paper->Display.MarginX, 0);
  ASSERT_GT(w->Paper->Display.MarginY, 0);
  PreviewWindow->DrawPreview();
  ASSERT_EQ(w->Paper->PreviewCanvas.Width(), 100);
  ASSERT_EQ(w->Paper->PreviewCanvas.Height(), 50);
  for (int x = 0; x < 100; ++x) {
    EXPECT_EQ(CanvasPixel(w, x, 0), kRed) << x;
    EXPECT_EQ(CanvasPixel(w, x, 49), kRed) << x;
  }
  for (int y = 0; y < 50; ++y) {
    EXPECT_EQ(CanvasPixel(w, 0, y), kRed) << y;
    EXPECT_EQ(CanvasPixel(w, 99, y), kRed) << y;
  }
  EXPECT_NE(CanvasPixel(w, 50, 25), kRed);
  // The paint box shows the same.
  EXPECT_EQ(BoxPixel(0, 0) | 0xFF000000u, kRed);
  EXPECT_EQ(BoxPixel(99, 49) | 0xFF000000u, kRed);
  EXPECT_NE(BoxPixel(50, 25) | 0xFF000000u, kRed);

  // At 100 % in a 300 x 200 client scrolled to the top-left corner: a 30 x 20 frame there.
  w->Paper->Display.ZoomIndex = 0;
  SetClient(w, 300, 200);
  w->CentreOn(150, 100);
  w->Redraw();
  ASSERT_EQ(w->Paper->Display.MarginX, 0);
  PreviewWindow->DrawPreview();
  EXPECT_EQ(CanvasPixel(w, 0, 0), kRed);
  EXPECT_EQ(CanvasPixel(w, 30, 20), kRed);
  EXPECT_EQ(CanvasPixel(w, 15, 20), kRed);
  EXPECT_NE(CanvasPixel(w, 15, 10), kRed);
  EXPECT_NE(CanvasPixel(w, 31, 21), kRed);
  EXPECT_NE(CanvasPixel(w, 60, 40), kRed);
}

TEST_F(PreviewWin, RotatedMarkerHasItsDotOnTheTopEdge) {
  TDrawWindow* w = MakePaper(1000, 500);
  w->Paper->Display.ZoomIndex = 2;  // 200 %: the rotated frame stays inside the preview
  SetClient(w, 300, 200);
  TDisplay& d = w->Paper->Display;
  d.SetAngle(static_cast<float>(30 * M_PI / 180));
  d.SetCentre(500, 250);
  w->Redraw();
  PreviewWindow->DrawPreview();
  const double s = 0.1, k = s / d.Zoom(), a = d.Angle;
  const double hh = w->ClientHeight() / 2.0;
  // The middle of the window's top edge, (0, -ch/2) rotated.
  const double dotX = s * 500 + k * (0 * std::cos(a) + hh * std::sin(a));
  const double dotY = s * 250 + k * (0 * std::sin(a) - hh * std::cos(a));
  EXPECT_EQ(CanvasPixel(w, int(dotX), int(dotY)), kRed);
  // The paper's middle is inside the frame, away from its edges.
  EXPECT_NE(CanvasPixel(w, 50, 25), kRed);
}

TEST_F(PreviewWin, ClosingTheLastPaperLeavesTheButtonColour) {
  TDrawWindow* w = MakePaper(200, 100);
  PreviewWindow->DrawPreview();
  ASSERT_EQ(BoxPixel(0, 0) | 0xFF000000u, kRed);
  w->CloseWindow(false);
  Settle();
  const QRgb face = PreviewWindow->palette().color(QPalette::Button).rgb();
  const QImage& img = PreviewWindow->PaintBox1->BackBuffer().Image();
  ASSERT_EQ(img.size(), PreviewWindow->PaintBox1->size());
  for (int y = 0; y < img.height(); ++y)
    for (int x = 0; x < img.width(); ++x) ASSERT_EQ(img.pixel(x, y) | 0xFF000000u, face | 0xFF000000u) << x << "," << y;
  // Nothing to draw and nothing to drag without a paper.
  PreviewWindow->DrawPreview();
  PreviewWindow->Dragging = true;
  PreviewWindow->TrackDrag();
  EXPECT_EQ(img.pixel(0, 0) | 0xFF000000u, face | 0xFF000000u);
}

TEST_F(PreviewWin, APaperWithoutLayersIsNeitherFittedNorDrawnNorMoved) {
  TDrawWindow* w = VLMain->CreateDrawWindow("");
  ASSERT_EQ(VLMain->ActiveDrawWindow(), w);
  ASSERT_EQ(w->Paper->Layers, nullptr);
  PreviewWindow->DrawPreview();
  EXPECT_TRUE(PreviewWindow->NeedsFit);
  EXPECT_TRUE(PreviewWindow->ShownChild.isNull());
  PreviewWindow->Dragging = true;
  QCursor::setPos(QCursor::pos() + QPoint(7, 7));
  PreviewWindow->TrackDrag();
  QTest::keyRelease(PreviewWindow, Qt::Key_Alt);
  SelectWindow->Surface->Fill(0xFF010203);
  SelectWindow->Timer1Timer();
  SelectWindow->Button3Click();
  EXPECT_EQ(SelectWindow->Surface->GetPixel(25, 25), 0xFF010203u);
}

TEST_F(PreviewWin, ANewPaperAtTheAddressOfAFreedOneStillRefits) {
  TDrawWindow* first = MakePaper(1000, 500);
  PreviewWindow->DrawPreview();
  ASSERT_EQ(PreviewWindow->ShownChild, first);
  first->CloseWindow(false);
  Settle();
  EXPECT_TRUE(PreviewWindow->ShownChild.isNull());
  TDrawWindow* second = MakePaper(500, 1000);
  PreviewWindow->DrawPreview();
  EXPECT_EQ(PreviewWindow->ShownChild, second);
  EXPECT_EQ(second->Paper->PreviewImage.Width(), 50);
  EXPECT_EQ(second->Paper->PreviewImage.Height(), 100);
}

class PreviewDrag : public PreviewWin {
 protected:
  void SetUp() override {
    PreviewWin::SetUp();
    PreviewWindow->show();
    W = MakePaper(1000, 500);
    SetClient(W, 300, 200);
    W->CentreOn(500, 250);
    W->Redraw();
    PreviewWindow->DrawPreview();
    ASSERT_EQ(PreviewWindow->PaintBox1->geometry(), QRect(0, 25, 100, 50));
    // The cursor somewhere in the preview when the button goes down.
    MoveTo(60, 30);
  }
  int32_t Bar1() const { return W->ScrollBar1.Position(); }
  int32_t Bar2() const { return W->ScrollBar2.Position(); }
  TDrawWindow* W = nullptr;
};

TEST_F(PreviewDrag, DraggingCentresThePaperPointUnderTheCursor) {
  Press();
  EXPECT_TRUE(PreviewWindow->Dragging);
  const int32_t b1 = Bar1(), b2 = Bar2();
  // No move, no change.
  PreviewWindow->TrackDrag();
  EXPECT_EQ(Bar1(), b1);
  EXPECT_EQ(Bar2(), b2);
  MoveTo(10, 25);
  PreviewWindow->TrackDrag();
  EXPECT_EQ(Centre(W), (TPoint{100, 250}));
  // Far outside the preview the bars bound the view.
  MoveTo(-500, -500);
  PreviewWindow->TrackDrag();
  EXPECT_GE(Bar1(), 0);
  EXPECT_GE(Bar2(), 0);
  Release();
  EXPECT_FALSE(PreviewWindow->Dragging);
  const int32_t after1 = Bar1(), after2 = Bar2();
  MoveTo(50, 25);
  PreviewWindow->TrackDrag();
  EXPECT_EQ(Bar1(), after1);
  EXPECT_EQ(Bar2(), after2);
}

TEST_F(PreviewWin, ThePointBetweenPixelsIsScaledBeforeItIsTruncated) {
  PreviewWindow->show();
  TDrawWindow* w = MakePaper(999, 500);
  w->Paper->Display.ZoomIndex = 1;  // 150 %
  SetClient(w, 300, 200);
  PreviewWindow->DrawPreview();
  ASSERT_EQ(w->Paper->PreviewImage.Width(), 100);
  // 9.99 paper pixels a preview pixel: preview (7, 3) is paper (69.93, 29.97), 104.895 and
  // 44.955 window pixels at 150 % (a rounded paper point would give 103 and 43).
  MoveTo(50, 20);
  Press();
  MoveTo(7, 3);
  PreviewWindow->TrackDrag();
  const int32_t half = TDisplay::ScrollSlack();
  EXPECT_EQ(w->ScrollBar1.Position(), half + 104 - 150);
  EXPECT_EQ(w->ScrollBar2.Position(), half + 44 - 100);
  Release();
}

TEST_F(PreviewDrag, AClickOrARightPressMovesNothing) {
  const int32_t b1 = Bar1(), b2 = Bar2();
  Press();
  Release();
  PreviewWindow->TrackDrag();
  EXPECT_EQ(Bar1(), b1);
  EXPECT_EQ(Bar2(), b2);
  Press(Qt::RightButton);
  EXPECT_FALSE(PreviewWindow->Dragging);
  MoveTo(10, 25);
  PreviewWindow->TrackDrag();
  EXPECT_EQ(Bar1(), b1);
  EXPECT_EQ(Bar2(), b2);
  Release(Qt::RightButton);
}

TEST_F(PreviewDrag, RotatedDragMovesTheRotationCentreAndLeavesTheBars) {
  TDisplay& d = W->Paper->Display;
  d.SetAngle(0.5f);
  d.SetCentre(500, 250);
  W->Redraw();
  const int32_t b1 = Bar1(), b2 = Bar2();
  Press();
  MoveTo(10, 25);
  PreviewWindow->TrackDrag();
  EXPECT_EQ(d.CentreX, 100);
  EXPECT_EQ(d.CentreY, 250);
  EXPECT_EQ(Bar1(), b1);
  EXPECT_EQ(Bar2(), b2);
  // Alt released over the preview turns the view back, on every release.
  QTest::keyRelease(PreviewWindow, Qt::Key_Alt);
  EXPECT_FALSE(d.IsRotated());
  d.SetAngle(0.25f);
  QTest::keyRelease(PreviewWindow, Qt::Key_Alt);
  EXPECT_FALSE(d.IsRotated());
}

TEST_F(PreviewDrag, TheDragEndsWhenThePreviewHidesOrTheApplicationIsLeft) {
  Press();
  PreviewWindow->hide();
  EXPECT_FALSE(PreviewWindow->Dragging);
  PreviewWindow->show();
  Press();
  QEvent leave(QEvent::ApplicationDeactivate);
  QApplication::sendEvent(qApp, &leave);
  EXPECT_FALSE(PreviewWindow->Dragging);
  const int32_t b1 = Bar1();
  MoveTo(10, 25);
  PreviewWindow->TrackDrag();
  EXPECT_EQ(Bar1(), b1);
  // Without a paper window a drag step does nothing.
  Press();
  W->CloseWindow(false);
  Settle();
  MoveTo(20, 20);
  PreviewWindow->TrackDrag();
  EXPECT_EQ(VLMain->ActiveDrawWindow(), nullptr);
}

TEST_F(PreviewDrag, NavigatingRecordsNothing) {
  W->Paper->Display.ZoomIndex = 1;
  W->Redraw();
  std::vector<std::vector<uint8_t>> before;
  for (auto& p : W->Packets) before.push_back(Bytes(*p));
  before.push_back(Bytes(*W->Log));
  auto pixels = [this] {
    const TTC& c = W->Paper->CompositeImage;
    std::vector<uint32_t> v;
    for (int32_t y = 0; y < c.Height(); ++y) v.insert(v.end(), c.Row32(y), c.Row32(y) + c.Width());
    return v;
  };
  const std::vector<uint32_t> composite = pixels();
  const TNetState net = NetState;

  Press();
  MoveTo(20, 10);
  PreviewWindow->TrackDrag();
  Release();
  W->Paper->Display.SetAngle(0.3f);
  Press();
  MoveTo(30, 30);
  PreviewWindow->TrackDrag();
  Release();
  QTest::keyRelease(PreviewWindow, Qt::Key_Alt);
  {
    QMouseEvent click(QEvent::MouseButtonRelease, QPointF(10, 10), SelectWindow->PaintBox1->mapToGlobal(QPointF(10, 10)),
                      Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(SelectWindow->PaintBox1, &click);
  }
  VLMain->EnglishItem->trigger();
  VLMain->JapaneseItem->trigger();
  Settle();

  std::vector<std::vector<uint8_t>> after;
  for (auto& p : W->Packets) after.push_back(Bytes(*p));
  after.push_back(Bytes(*W->Log));
  EXPECT_EQ(after, before);
  EXPECT_TRUE(pixels() == composite);
  EXPECT_EQ(NetState.Phase, net.Phase);
  EXPECT_EQ(NetState.Step, net.Step);
  EXPECT_EQ(NetState.SentTotal, net.SentTotal);
  EXPECT_EQ(NetState.Socket, net.Socket);
}

TEST_F(PreviewDrag, TheUpdateStepDrivesTheDrag) {
  Press();
  MoveTo(10, 25);
  // Past the refresh interval, whether or not a driver ran the step meanwhile.
  plat::AdvanceFakeClock(1000);
  VLMain->UpdateStep();
  EXPECT_EQ(Centre(W), (TPoint{100, 250}));
  // The step redrew the preview: the marker frames the new view, paper (-50, 150)-(250, 350),
  // which is (0, 15)-(25, 35) of the preview once clamped.
  EXPECT_EQ(W->Paper->PreviewCanvas.GetPixel(0, 15), kRed);
  EXPECT_EQ(W->Paper->PreviewCanvas.GetPixel(25, 15), kRed);
  EXPECT_EQ(W->Paper->PreviewCanvas.GetPixel(25, 35), kRed);
  EXPECT_NE(W->Paper->PreviewCanvas.GetPixel(10, 25), kRed);
  EXPECT_NE(W->Paper->PreviewCanvas.GetPixel(50, 25), kRed);
  Release();
}

TEST_F(PreviewDrag, TheMarkerFollowsEachMoveWithoutWaitingForTheRefresh) {
  // A step now makes the periodic refresh wait its whole interval; the clock stays.
  VLMain->UpdateStep();
  ASSERT_EQ(VLMain->LastRefresh, plat::timeGetTime());
  Press();
  struct TMove {
    int X, Y;
    TPoint Centre;
    // Marker corners (clamped) and a point inside it.
    int Left, Top, Right, Bottom;
  };
  const TMove moves[] = {
      {10, 25, {100, 250}, 0, 15, 25, 35},
      {80, 10, {800, 100}, 65, 0, 95, 20},
  };
  for (const TMove& m : moves) {
    SCOPED_TRACE(testing::Message() << "to " << m.X << "," << m.Y);
    MoveTo(m.X, m.Y);
    VLMain->UpdateStep();
    EXPECT_EQ(Centre(W), m.Centre);
    for (auto [x, y] : {std::pair{m.Left, m.Top}, {m.Right, m.Top}, {m.Right, m.Bottom}, {m.Left, m.Bottom}})
      EXPECT_EQ(W->Paper->PreviewCanvas.GetPixel(x, y), kRed) << x << "," << y;
    EXPECT_NE(W->Paper->PreviewCanvas.GetPixel((m.Left + m.Right) / 2, (m.Top + m.Bottom) / 2), kRed);
    // The paint box shows it too.
    EXPECT_EQ(BoxPixel(m.Right, m.Bottom) | 0xFF000000u, kRed);
  }
  // The marker left the first place.
  EXPECT_NE(W->Paper->PreviewCanvas.GetPixel(0, 25), kRed);
  Release();
}

TEST_F(PreviewWin, BothWindowsStayOnTopAndPassTheirKeysOn) {
  std::vector<int> keys;
  auto saved = plat::TToolWindow::KeyHook;
  plat::TToolWindow::KeyHook = [&keys](int vk) { keys.push_back(vk); };
  for (QWidget* w : {static_cast<QWidget*>(PreviewWindow), static_cast<QWidget*>(SelectWindow)}) {
    SCOPED_TRACE(w->objectName().toStdString());
    EXPECT_TRUE(w->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_EQ(w->windowType(), Qt::Tool);
    EXPECT_FALSE(w->testAttribute(Qt::WA_InputMethodEnabled));
    keys.clear();
    QTest::keyPress(w, Qt::Key_A);
    QTest::keyPress(w, Qt::Key_Tab);
    EXPECT_EQ(keys, (std::vector<int>{'A', plat::VK_TAB}));
  }
  plat::TToolWindow::KeyHook = saved;
}

TEST_F(PreviewWin, PlaceIsKeptAcrossStarts) {
  EXPECT_EQ(PreviewWindow->pos(), QPoint(0, 40));
  PreviewWindow->move(120, 90);
  PreviewWindow->resize(140, 160);
  DestroyForms();
  Settle();
  {
    plat::TRegistry reg;
    ASSERT_TRUE(reg.OpenKey("Software\\Brenmoor\\Vellora", false));
    EXPECT_EQ(reg.ReadInteger("PreviewX"), std::optional<int32_t>(120));
    EXPECT_EQ(reg.ReadInteger("PreviewY"), std::optional<int32_t>(90));
    EXPECT_EQ(reg.ReadInteger("PreviewWidth"), std::optional<int32_t>(140));
    EXPECT_EQ(reg.ReadInteger("PreviewHeight"), std::optional<int32_t>(160));
  }
  CreateForms();
  EXPECT_EQ(PreviewWindow->pos(), QPoint(120, 90));
  // The stored size is the client size: it does not grow from start to start.
  EXPECT_EQ(PreviewWindow->size(), QSize(140, 160));
  EXPECT_TRUE(PreviewWindow->NeedsFit);
  PreviewWindow->SetDefaultPosition();
  EXPECT_EQ(PreviewWindow->pos(), QPoint(0, 40));
}

}  // namespace
