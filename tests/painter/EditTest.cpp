// The Edit menu and the keyboard shortcuts: what each records, what it changes, and when it
// refuses.
#include <QAction>
#include <QMimeData>

#include "ToolFixture.h"
#include "painter/ColorWin.h"
#include "painter/LayerWin.h"
#include "painter/PenWin2.h"
#include "painter/PreviewWin.h"
#include "painter/SelectWin.h"

namespace {

using Edit = ToolFixture;

TEST_F(Edit, TransformsRecordTheirCodeThenClearTheUndoHistory) {
  struct Row {
    const char* name;
    void (TVLMain::*item)();
    uint8_t code;
  };
  const Row rows[] = {
      {"vflip", &TVLMain::VFlipItemClick, 0x10},         {"hflip", &TVLMain::HFlipItemClick, 0x11},
      {"rotate 180", &TVLMain::Rotate180ItemClick, 0x12}, {"negative", &TVLMain::NegaPosiItemClick, 0x13},
      {"right", &TVLMain::RotateRightItemClick, 0x04},    {"left", &TVLMain::RotateLeftItemClick, 0x05},
  };
  DrawMark();
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    Mark = W->Packets[0]->Data().Size();
    (VLMain->*r.item)();
    EXPECT_EQ(Recorded(), Hex({r.code, 0x02, 0x06, 0x02}));
    VLMain->Edit1Click();
    EXPECT_FALSE(VLMain->UndoItem->isEnabled());
    EXPECT_TRUE(VLMain->VFlipItem->isEnabled());
  }
  // Quarter turns changed the sides twice: the paper is back at 480 x 320.
  EXPECT_EQ(W->Paper->Width(), 480);
  EXPECT_NE(LayerPixel(12, 22), 0x000000u);  // the mark has moved
  ExpectReplayMatches();
}

TEST_F(Edit, PaperColourDeleteAndInsertRecordTheirEvents) {
  VLMain->Stroke->SetColor(0xFFFF8000u);  // the alpha byte is not part of the colour
  VLMain->PaperColorItemClick();
  EXPECT_EQ(Recorded(), Hex({0x01, 0x02, 0xFF, 0x80, 0x00}));
  EXPECT_EQ(W->Paper->Layers->PaperColor(), 0xFF8000u);
  EXPECT_EQ(Pixel(5, 5), 0xFF8000u & 0xFFFFFFu);  // white layer multiplied over it

  DrawMark();
  Mark = W->Packets[0]->Data().Size();
  Tap(Qt::Key_Delete);
  EXPECT_EQ(Recorded(), Hex({0x24, 0x01, 0x00}));
  EXPECT_EQ(LayerPixel(15, 25), 0xFFFFFFu);

  VLMain->Stroke->SetColor(0x0000FF);
  Mark = W->Packets[0]->Data().Size();
  Tap(Qt::Key_Insert);
  EXPECT_EQ(Recorded(), Hex({0x25, 0x01, 0x00, 0x00, 0x00, 0xFF}));
  EXPECT_EQ(LayerPixel(300, 300), 0x0000FFu);
  ExpectReplayMatches();
}

TEST_F(Edit, PasteReplacesTheLayerUnrecordedAndOneUndoRestoresIt) {
  DrawMark();
  std::vector<uint32_t> before;
  for (int32_t y = 0; y < 320; y += 7)
    for (int32_t x = 0; x < 480; x += 7) before.push_back(W->Paper->Layers->LayerImage(0)->GetPixel(x, y));

  // A small picture lands at the top-left corner.
  QImage small(50, 40, QImage::Format_ARGB32);
  small.fill(QColor(0x20, 0x40, 0x60, 0x10));  // translucent: pasted opaque
  QGuiApplication::clipboard()->setImage(small);
  Mark = W->Packets[0]->Data().Size();
  VLMain->PasteItemClick();
  EXPECT_EQ(Recorded(), std::vector<uint8_t>{});
  EXPECT_TRUE(W->Paper->EventsIncomplete);
  EXPECT_EQ(Pixel(0, 0), 0x204060u);
  EXPECT_EQ(Pixel(49, 39), 0x204060u);
  EXPECT_EQ(Pixel(50, 39), 0xFFFFFFu);
  EXPECT_EQ(Pixel(30, 38), 0x204060u);  // over the mark: the whole layer is replaced
  EXPECT_EQ(Pixel(35, 30), 0x204060u);
  EXPECT_EQ(Pixel(60, 60), 0xFFFFFFu);

  // A larger picture fills the layer; one Undo gives back the layer as it was.
  VLMain->UndoItemClick();
  QImage big(2000, 1500, QImage::Format_RGB32);
  big.fill(QColor(0x11, 0x22, 0x33));
  QGuiApplication::clipboard()->setImage(big);
  VLMain->PasteItemClick();
  EXPECT_EQ(LayerPixel(479, 319), 0x112233u);
  EXPECT_EQ(LayerPixel(0, 0), 0x112233u);
  VLMain->UndoItemClick();
  std::vector<uint32_t> after;
  for (int32_t y = 0; y < 320; y += 7)
    for (int32_t x = 0; x < 480; x += 7) after.push_back(W->Paper->Layers->LayerImage(0)->GetPixel(x, y));
  EXPECT_EQ(after, before);
  EXPECT_EQ(Messages.Messages.size(), 2u);  // one question per paste
}

TEST_F(Edit, PasteAskedNoOrWithoutAPictureChangesNothing) {
  QImage small(50, 40, QImage::Format_RGB32);
  small.fill(Qt::black);
  QGuiApplication::clipboard()->setImage(small);
  Messages.Answer = plat::IDNO;
  VLMain->PasteItemClick();
  ASSERT_EQ(Messages.Messages.size(), 1u);
  EXPECT_EQ(Messages.Messages[0].Text, msgEventsNotExportable);
  EXPECT_FALSE(W->Paper->EventsIncomplete);
  EXPECT_EQ(Pixel(0, 0), 0xFFFFFFu);

  QGuiApplication::clipboard()->setText("not a picture");
  Messages.Answer = plat::IDYES;
  VLMain->PasteItemClick();
  ASSERT_EQ(Messages.Messages.size(), 2u);
  EXPECT_EQ(Messages.Messages[1].Text, msgClipboardNotBitmap);
  EXPECT_FALSE(W->Paper->EventsIncomplete);
  EXPECT_EQ(Recorded(), std::vector<uint8_t>{});
}

TEST_F(Edit, CopyPutsTheCompositeOnTheClipboard) {
  DrawMark();
  VLMain->CopyItemClick();
  const QImage img = QGuiApplication::clipboard()->image();
  ASSERT_EQ(img.width(), 480);
  ASSERT_EQ(img.height(), 320);
  for (QPoint p : {QPoint(0, 0), QPoint(10, 20), QPoint(39, 39), QPoint(40, 40), QPoint(479, 319)})
    EXPECT_EQ(img.pixel(p) & 0xFFFFFFu, Pixel(p.x(), p.y())) << p.x() << "," << p.y();
  EXPECT_EQ(Recorded().size(), 14u);  // only the mark
}

TEST_F(Edit, CommandsCheckPlaybackSessionAndStrokeWhenTheyRun) {
  VLMain->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(VLMain));
  DrawMark();
  Mark = W->Packets[0]->Data().Size();
  // During a playback: Undo by shortcut records nothing behind the played stream.
  W->Playing = true;
  QTest::keyClick(W, Qt::Key_Z, Qt::ControlModifier);
  VLMain->UndoItemClick();
  VLMain->VFlipItemClick();
  VLMain->PaperColorItemClick();
  VLMain->Edit1Click();
  EXPECT_FALSE(VLMain->UndoItem->isEnabled());
  EXPECT_FALSE(VLMain->PasteItem->isEnabled());
  EXPECT_FALSE(VLMain->PaperResizeItem->isEnabled());
  EXPECT_FALSE(VLMain->PaperResolutionItem->isEnabled());
  EXPECT_EQ(Recorded(), std::vector<uint8_t>{});
  W->Playing = false;

  // A session paper: no paste (asked nothing, changed nothing), no transforms.
  W->Paper->SetNetMode(1);
  QImage small(50, 40, QImage::Format_RGB32);
  small.fill(Qt::black);
  QGuiApplication::clipboard()->setImage(small);
  QTest::keyClick(W, Qt::Key_V, Qt::ControlModifier);
  VLMain->PasteItemClick();
  VLMain->RotateRightItemClick();
  VLMain->Edit1Click();
  EXPECT_FALSE(VLMain->RotateRightItem->isEnabled());
  EXPECT_EQ(Pixel(5, 5), 0xFFFFFFu);
  EXPECT_FALSE(W->Paper->EventsIncomplete);
  EXPECT_TRUE(Messages.Messages.empty());
  EXPECT_EQ(Mode().Kind, tkPen);  // Ctrl+V is no tool key
  W->Paper->SetNetMode(0);

  // Mid-stroke: nothing but Copy acts.
  W->OwnPacket().BeginStroke(*VLMain->Stroke, 1.0f, 1.0f, 1.0f);
  const int32_t open = W->Packets[0]->Data().Size();
  VLMain->HFlipItemClick();
  VLMain->UndoItemClick();
  VLMain->PasteItemClick();
  EXPECT_EQ(W->Packets[0]->Data().Size(), open);
  EXPECT_EQ(LayerPixel(15, 25), 0x000000u);
  W->OwnPacket().EndStroke();

  VLMain->Edit1Click();
  EXPECT_TRUE(VLMain->UndoItem->isEnabled());
  EXPECT_TRUE(VLMain->PasteItem->isEnabled());
}

TEST_F(Edit, ToolKeysSelectTheirTools) {
  struct Row {
    Qt::Key key;
    TToolKind kind;
  };
  for (const Row& r : {Row{Qt::Key_N, tkLine}, Row{Qt::Key_I, tkSpoit}, Row{Qt::Key_V, tkMove}, Row{Qt::Key_H, tkHand},
                       Row{Qt::Key_B, tkPen}}) {
    Tap(r.key);
    EXPECT_EQ(Mode().Kind, r.kind) << r.key;
  }
  Mode().SetFill(true);
  Tap(Qt::Key_X);
  EXPECT_EQ(Mode().Kind, tkRect);
  EXPECT_FALSE(Mode().Fill);
}

TEST_F(Edit, KeysWaitForTheStrokeAndSomeForThePlayback) {
  VLMain->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(VLMain));
  VLMain->ToolWindowsShown = true;
  ToolsWindow->show();
  W->OwnPacket().BeginStroke(*VLMain->Stroke, 1.0f, 1.0f, 1.0f);
  const int32_t open = W->Packets[0]->Data().Size();
  Tap(Qt::Key_N);
  Tap(Qt::Key_Delete);
  Tap(Qt::Key_F5);
  EXPECT_EQ(Mode().Kind, tkPen);
  EXPECT_EQ(W->Paper->Display.ZoomIndex, 0);
  EXPECT_EQ(W->Packets[0]->Data().Size(), open);
  Tap(Qt::Key_Tab);  // Tab alone still acts
  EXPECT_FALSE(ToolsWindow->isVisible());
  EXPECT_FALSE(VLMain->ToolWindowsShown);
  W->OwnPacket().EndStroke();
  Tap(Qt::Key_Tab);

  DrawMark();
  Mark = W->Packets[0]->Data().Size();
  W->Playing = true;
  VLMain->Stroke->SetColor(0x123456);
  const QPoint over = Win(20, 30);
  Move(over, Qt::NoButton);
  Tap(Qt::Key_Delete);
  Tap(Qt::Key_Insert);
  Tap(Qt::Key_Shift);
  EXPECT_EQ(Recorded(), std::vector<uint8_t>{});
  EXPECT_EQ(VLMain->Stroke->Color, 0x123456u);
  Tap(Qt::Key_F5);  // view keys still work
  EXPECT_EQ(W->Paper->Display.ZoomIndex, 1);
  Tap(Qt::Key_H);
  EXPECT_EQ(Mode().Kind, tkHand);
  W->Playing = false;
}

TEST_F(Edit, ZoomKeys) {
  struct Row {
    Qt::Key key;
    Qt::KeyboardModifiers mods;
    bool ctrl;
    int32_t zoom;
  };
  const Row rows[] = {
      {Qt::Key_Plus, Qt::KeypadModifier, true, 1},   // 107
      {Qt::Key_Plus, Qt::NoModifier, true, 1},       // 187
      {Qt::Key_Plus, Qt::NoModifier, false, 0},      // plus without Ctrl
      {Qt::Key_F5, Qt::NoModifier, false, 1},        // F5
      {Qt::Key_F6, Qt::NoModifier, false, -1},       // F6
      {Qt::Key_Minus, Qt::KeypadModifier, true, -1}, // 109
      {Qt::Key_Minus, Qt::NoModifier, true, -1},     // 189
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.key);
    W->ZoomReset(false, 240, 160);
    if (r.ctrl) plat::SetKeyDown(plat::VK_CONTROL, true);
    Tap(r.key, r.mods);
    plat::ClearKeys();
    EXPECT_EQ(W->Paper->Display.ZoomIndex, r.zoom);
  }
  // With Alt the window is fitted to the zoomed paper.
  W->ZoomReset(false, 240, 160);
  plat::SetKeyDown(plat::VK_MENU, true);
  Tap(Qt::Key_F5);
  plat::ClearKeys();
  EXPECT_EQ(W->Paper->Display.ZoomIndex, 1);
  // As far as the area holds it: its frame stays within reach.
  const QSize area = VLMain->MdiArea->viewport()->size(), frame = W->SubWindow()->size() - W->size();
  EXPECT_EQ(W->ClientWidth(), std::min(480 * 3 / 2 + 80, area.width() - frame.width()));
  EXPECT_EQ(W->ClientHeight(), std::min(320 * 3 / 2 + 80, area.height() - frame.height()));
  // At the limit nothing happens.
  for (int i = 0; i < 10; ++i) Tap(Qt::Key_F5);
  EXPECT_EQ(W->Paper->Display.ZoomIndex, 6);
}

TEST_F(Edit, ShiftPicksTheCompositeOrWithCtrlTheActiveLayer) {
  DrawMark();  // black on layer 0
  W->Paper->Layers->AddLayer(lkMultiply);
  W->Paper->Layers->SetActiveLayer(1);
  ToolBoxClick(15, 62);
  VLMain->Stroke->SetColor(0x0000FF);
  PaperDrag(0, 0, 100, 100);  // blue over the mark on layer 1
  W->Paper->Layers->SetActiveLayer(0);
  Mode().SetTool(tkPen);
  VLMain->Stroke->SetColor(0x808080);
  Move(Win(60, 60), Qt::NoButton);
  Tap(Qt::Key_Shift);
  EXPECT_EQ(VLMain->Stroke->Color & 0xFFFFFF, 0x0000FFu);
  Move(Win(20, 30), Qt::NoButton);
  Tap(Qt::Key_Shift);
  EXPECT_EQ(VLMain->Stroke->Color & 0xFFFFFF, 0x000000u);  // black multiplied by blue
  plat::SetKeyDown(plat::VK_CONTROL, true);
  VLMain->Stroke->SetColor(0x808080);
  Move(Win(60, 60), Qt::NoButton);
  Tap(Qt::Key_Shift);
  EXPECT_EQ(VLMain->Stroke->Color & 0xFFFFFF, 0xFFFFFFu);  // layer 0 itself is white there
  Move(Win(20, 30), Qt::NoButton);
  Tap(Qt::Key_Shift);
  EXPECT_EQ(VLMain->Stroke->Color & 0xFFFFFF, 0x000000u);
  plat::ClearKeys();
}

TEST_F(Edit, TabTogglesTheFiveWindowsOncePerPressThenEvery300ms) {
  VLMain->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(VLMain));
  QWidget* const five[] = {ToolsWindow, PenWindow2, ColorWindow, LayerWindow, PreviewWindow};
  for (QWidget* f : five) f->show();
  SelectWindow->show();
  VLMain->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(VLMain));
  VLMain->ToolWindowsShown = true;

  KeyDown(0, Qt::Key_Tab);
  for (QWidget* f : five) EXPECT_FALSE(f->isVisible());
  EXPECT_TRUE(SelectWindow->isVisible());
  // Auto-repeated key-downs and update steps within 300 ms change nothing.
  for (int i = 0; i < 3; ++i) {
    QKeyEvent repeat(QEvent::KeyPress, Qt::Key_Tab, Qt::NoModifier, QString(), true);
    QApplication::sendEvent(W, &repeat);
    QApplication::sendEvent(ToolsWindow, &repeat);
    plat::AdvanceFakeClock(100);
    VLMain->UpdateStep();
  }
  for (QWidget* f : five) EXPECT_FALSE(f->isVisible());
  plat::AdvanceFakeClock(1);
  VLMain->UpdateStep();
  for (QWidget* f : five) EXPECT_TRUE(f->isVisible());
  KeyUp(Qt::Key_Tab);
  plat::AdvanceFakeClock(1000);
  VLMain->UpdateStep();
  for (QWidget* f : five) EXPECT_TRUE(f->isVisible());
  EXPECT_TRUE(VLMain->ToolWindowsShown);
}

TEST_F(Edit, PresetKeysStopAtTheEnds) {
  PenWindow2->SelectBrush(0);
  PenWindow2->PresetTabs[0] = 0;
  Tap(Qt::Key_E);
  EXPECT_EQ(PenWindow2->PresetIndex(), 0);
  PenWindow2->PresetTabs[0] = 4;
  Tap(Qt::Key_R);
  EXPECT_EQ(PenWindow2->PresetIndex(), 4);
  Tap(Qt::Key_E);
  EXPECT_EQ(PenWindow2->PresetIndex(), 3);
  Tap(Qt::Key_R);
  EXPECT_EQ(PenWindow2->PresetIndex(), 4);
}

TEST_F(Edit, AToolKeyDuringALayerMoveShowsTheUnmovedLayer) {
  DrawMark();
  Tap(Qt::Key_V);
  Mark = W->Packets[0]->Data().Size();
  const QPoint from = Win(20, 30);
  Press(from);
  Move(from + QPoint(100, 0));
  VLMain->UpdateStep();  // the tick shows the layer at its offset
  ASSERT_EQ(Pixel(125, 30), 0x000000u);
  KeyDown(0, Qt::Key_B);
  EXPECT_EQ(Mode().Kind, tkPen);
  EXPECT_EQ(Pixel(125, 30), 0xFFFFFFu);
  EXPECT_EQ(Pixel(25, 30), 0x000000u);
  KeyUp(Qt::Key_B);
  Release(from + QPoint(100, 0));
  EXPECT_EQ(Recorded(), std::vector<uint8_t>{});
  EXPECT_EQ(LayerPixel(25, 30), 0x000000u);
}

TEST_F(Edit, NetworkMemberKeysGoToItsSlot) {
  W->Paper->SetNetMode(1);
  W->Paper->SetMemberCount(3);
  W->Paper->SetMemberIndex(2);
  Tap(Qt::Key_Delete);
  VLMain->Stroke->SetColor(0x0000FF);
  Tap(Qt::Key_Insert);
  EXPECT_EQ(Recorded(0), std::vector<uint8_t>{});
  EXPECT_EQ(Recorded(2), Hex({0x24, 0x01, 0x00, 0x25, 0x01, 0x00, 0x00, 0x00, 0xFF}));
  W->Paper->SetNetMode(0);
}

}  // namespace

namespace {

TEST_F(Edit, TabFromEachToolWindowReachesTheShortcuts) {
  QWidget* const five[] = {ToolsWindow, PenWindow2, ColorWindow, LayerWindow, PreviewWindow};
  for (QWidget* from : five) {
    SCOPED_TRACE(from->objectName().toStdString());
    for (QWidget* f : five) f->show();
    from->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(from));
    VLMain->ToolWindowsShown = true;
    QKeyEvent tab(QEvent::KeyPress, Qt::Key_Tab, Qt::NoModifier);
    QApplication::sendEvent(from, &tab);
    for (QWidget* f : five) EXPECT_FALSE(f->isVisible()) << f->objectName().toStdString();
    EXPECT_FALSE(VLMain->ToolWindowsShown);
    plat::ClearKeys();
  }
}

}  // namespace
