// The main menu as a user meets it: menus opened by a click on their title, items read and
// chosen in the open menu; the Window menu's list of papers; hints in the status bar.
#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>

#include "ToolFixture.h"
#include "painter/ColorWin.h"
#include "painter/MousePaintBox.h"
#include "painter/PenWin2.h"
#include "platform/qt/FileDialog.h"

namespace {

class MenuState : public ToolFixture {
 protected:
  void SetUp() override {
    ToolFixture::SetUp();
    ShowMain();
  }
  void TearDown() override {
    CloseMenus();
    ToolFixture::TearDown();
  }

  // Clicks the menu's title in the menu bar and waits until the menu is open and has taken
  // the focus, as the window system gives it.
  static void OpenByClick(QMenu* menu) {
    QMenuBar* bar = VLMain->menuBar();
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->actionGeometry(menu->menuAction()).center());
    WaitOpenWithFocus(menu);
  }
  // The focus change decides the open menu's items again: it is what is waited for.
  static void WaitOpenWithFocus(QMenu* menu) {
    ASSERT_TRUE(QTest::qWaitFor([&] { return menu->isVisible(); }, 5000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return QGuiApplication::focusWindow() == menu->windowHandle(); }, 5000));
  }
  // Chooses an item of the open menu with the mouse.
  static void Choose(QMenu* menu, QAction* item) {
    QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(item).center());
    QApplication::processEvents();
  }
  static void CloseMenus() {
    for (QMenu* m : VLMain->menuBar()->findChildren<QMenu*>())
      if (m->isVisible()) m->hide();
    QApplication::processEvents();
  }
};

TEST_F(MenuState, OpenMenusShowWhatTheirOpeningDecidedAndDisabledItemsDoNothing) {
  // A flip leaves nothing to undo: Undo is off in the open menu, and clicking it records nothing.
  VLMain->VFlipItemClick();
  Mark = W->Packets[0]->Data().Size();
  ASSERT_NO_FATAL_FAILURE(OpenByClick(VLMain->Edit1));
  EXPECT_FALSE(VLMain->UndoItem->isEnabled());
  EXPECT_TRUE(VLMain->VFlipItem->isEnabled());
  Choose(VLMain->Edit1, VLMain->UndoItem);
  EXPECT_EQ(Recorded(), std::vector<uint8_t>{});
  CloseMenus();

  // Ctrl+Z and the item itself, called from anywhere, refuse alike.
  QTest::keyClick(W, Qt::Key_Z, Qt::ControlModifier);
  VLMain->UndoItemClick();
  EXPECT_EQ(Recorded(), std::vector<uint8_t>{});

  // With a step to undo, the same path undoes it.
  DrawMark();
  Mark = W->Packets[0]->Data().Size();
  ASSERT_NO_FATAL_FAILURE(OpenByClick(VLMain->Edit1));
  ASSERT_TRUE(VLMain->UndoItem->isEnabled());
  Choose(VLMain->Edit1, VLMain->UndoItem);
  EXPECT_EQ(Recorded(), Hex({0x10, 0x01, 0x00}));
  EXPECT_EQ(LayerPixel(15, 25), 0xFFFFFFu);
  CloseMenus();

  // A paper whose record can no longer rebuild it offers no export; saving stays.
  W->Paper->SetEventsIncomplete(true);
  plat::TFileDialogRecorder dialogs({std::nullopt});
  ASSERT_NO_FATAL_FAILURE(OpenByClick(VLMain->File1));
  EXPECT_FALSE(VLMain->EventExportItem->isEnabled());
  EXPECT_TRUE(VLMain->FileSaveAsItem->isEnabled());
  Choose(VLMain->File1, VLMain->EventExportItem);
  EXPECT_TRUE(dialogs.Dialogs.empty());
  EXPECT_TRUE(Messages.Messages.empty());

  // Moving to the next menu with the keyboard opens it as its own opening decides.
  QTest::keyClick(VLMain->File1, Qt::Key_Right);
  ASSERT_NO_FATAL_FAILURE(WaitOpenWithFocus(VLMain->Edit1));
  EXPECT_FALSE(VLMain->UndoItem->isEnabled());  // the mark's one step was undone
  EXPECT_TRUE(VLMain->PasteItem->isEnabled());
}

// The list at the end of the Window menu: every paper window by its caption, the active one
// checked; choosing one brings it up, restored when it was minimised.
TEST_F(MenuState, TheWindowMenuListsThePapersAndChoosesOne) {
  W->SetCaption("first & one");
  TDrawWindow* second = MakePaper(40, 30);
  second->SetCaption("second");
  auto listed = [] {
    std::vector<std::pair<std::string, bool>> out;
    for (QAction* a : VLMain->Window1->actions())
      if (a->objectName() == "WindowListItem") out.emplace_back(a->text().toStdString(), a->isChecked());
    return out;
  };
  auto item = [](const char* text) -> QAction* {
    for (QAction* a : VLMain->Window1->actions())
      if (a->objectName() == "WindowListItem" && a->text() == text) return a;
    return nullptr;
  };
  ASSERT_NO_FATAL_FAILURE(OpenByClick(VLMain->Window1));
  using L = std::vector<std::pair<std::string, bool>>;
  EXPECT_EQ(listed(), (L{{"&1 first && one", false}, {"&2 second", true}}));
  Choose(VLMain->Window1, item("&1 first && one"));
  EXPECT_EQ(VLMain->ActiveDrawWindow(), W);
  CloseMenus();

  VLMain->WindowMinimizeItemClick();
  ASSERT_NO_FATAL_FAILURE(OpenByClick(VLMain->Window1));
  EXPECT_EQ(listed().size(), 2u);  // made anew, not added to
  Choose(VLMain->Window1, item("&2 second"));
  EXPECT_EQ(VLMain->ActiveDrawWindow(), second);
  EXPECT_FALSE(VLMain->MdiArea->activeSubWindow()->isMinimized());
  CloseMenus();

  // A paper closed since: gone from the list; with none left, no list and no separator.
  EXPECT_TRUE(second->CloseWindow(false));
  Settle();
  ASSERT_NO_FATAL_FAILURE(OpenByClick(VLMain->Window1));
  EXPECT_EQ(listed(), (L{{"&1 first && one", true}}));
  CloseMenus();
  EXPECT_TRUE(W->CloseWindow(false));
  Settle();
  ASSERT_NO_FATAL_FAILURE(OpenByClick(VLMain->Window1));
  EXPECT_EQ(listed(), L{});
  EXPECT_FALSE(VLMain->Window1->actions().back()->isSeparator());
}

// The hints of the controls under the mouse, in the tool windows too, and of the menu item
// pointed at, stand in the main window's status bar.
TEST_F(MenuState, HintsOfControlsAndMenuItemsReachTheStatusBar) {
  auto status = [] { return VLMain->StatusBar->currentMessage().toStdString(); };
  ColorWindow->show();
  PenWindow2->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(ColorWindow));
  ASSERT_TRUE(QTest::qWaitForWindowExposed(PenWindow2));
  // The mouse as the window system moves it, with the enter and leave events it brings.
  auto moveTo = [](QWidget* w, QPoint at) { QTest::mouseMove(w->window()->windowHandle(), w->mapTo(w->window(), at)); };
  moveTo(ColorWindow->PaintBox4, QPoint(10, 10));
  EXPECT_TRUE(QTest::qWaitFor([&] { return status() == "現在選択されている色です。"; }, 3000)) << status();
  moveTo(ColorWindow, QPoint(ColorWindow->width() - 2, ColorWindow->height() - 2));
  EXPECT_TRUE(QTest::qWaitFor([&] { return status().empty(); }, 3000)) << status();

  // A control whose hint follows the part under the mouse.
  PenWindow2->SelectBrush(1);
  QWidget* box = PenWindow2->PaintBox1;
  moveTo(box, QPoint(60, 60));
  moveTo(box, QPoint(150, 53));
  EXPECT_TRUE(QTest::qWaitFor([&] { return status() == "描画周囲の色がどれだけ影響するか"; }, 3000)) << status();
  moveTo(box, QPoint(60, 60));
  EXPECT_TRUE(QTest::qWaitFor([&] { return status().empty(); }, 3000)) << status();

  ASSERT_NO_FATAL_FAILURE(OpenByClick(VLMain->File1));
  moveTo(VLMain->File1, VLMain->File1->actionGeometry(VLMain->FileExitItem).center());
  EXPECT_TRUE(QTest::qWaitFor([&] { return status() == "ｱﾌﾟﾘｹｰｼｮﾝの終了"; }, 3000)) << status();
}

}  // namespace
