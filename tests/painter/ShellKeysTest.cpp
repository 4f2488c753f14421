// Keys and clicks as the user gives them: Ctrl shortcuts through the menus' opening handlers,
// text fields keeping their own keys, Tab and Alt for the paper window, the double-click on
// the empty area.
#include <QLineEdit>
#include <QMenuBar>
#include <QStyle>
#include <QWindow>

#include "PainterFixture.h"
#include "painter/NetWin.h"

namespace {

class ShellKeys : public PainterFixture {
 protected:
  void SetUp() override {
    PainterFixture::SetUp();
    ShowMain();
  }
  // A fill of the active layer with one undo step, recorded as a menu command records it.
  static void RecordedFill(TDrawWindow* w) {
    w->Packets[0]->WriteFillRect(0, 1, 1, 5, 5, 0, 0xFF, 0);
    w->Paper->Layers->PushUndoRect(0, 1, 1, 5, 5);
    w->Paper->Layers->FillRect(0, 1, 1, 5, 5, 0x00FF00);
    w->RecompositeAll();
  }
  static size_t Size(TDrawWindow* w) { return static_cast<size_t>(w->Packets[0]->Data().Size()); }
  const std::vector<plat::TFileDialogRequest>& Dialogs() const { return recorder_.Dialogs; }

 private:
  plat::TFileDialogRecorder recorder_;
};

TEST_F(ShellKeys, AShortcutOpensItsMenuFirstAndActsWhenTheItemIsThenEnabled) {
  TDrawWindow* w = MakePaper(40, 30);
  w->setFocus();
  ASSERT_TRUE(QTest::qWaitForWindowActive(VLMain, 2000));
  // The Edit menu opened while nothing could be undone: its item is disabled.
  VLMain->Edit1Click();
  ASSERT_FALSE(VLMain->UndoItem->isEnabled());
  RecordedFill(w);
  const size_t before = Size(w);
  QTest::keyClick(w, Qt::Key_Z, Qt::ControlModifier);
  EXPECT_EQ(Size(w), before + 3);
  EXPECT_EQ(w->Paper->CompositeImage.GetPixel(2, 2) & 0xFFFFFF, 0xFFFFFFu);
  // Nothing left to undo: the opening handler disables the item and the key does nothing.
  QTest::keyClick(w, Qt::Key_Z, Qt::ControlModifier);
  EXPECT_EQ(Size(w), before + 3);
}

TEST_F(ShellKeys, AFocusedTextFieldKeepsItsEditingKeys) {
  TDrawWindow* w = MakePaper(40, 30);
  RecordedFill(w);
  const size_t before = Size(w);
  NetWindow->show();
  NetWindow->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(NetWindow, 2000));
  QLineEdit* edit = NetWindow->EditServerUser;
  edit->setFocus();
  edit->clear();
  QTest::keyClicks(edit, "abc");
  QTest::keyClick(edit, Qt::Key_Z, Qt::ControlModifier);
  EXPECT_EQ(edit->text().toStdString(), "");
  QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
  EXPECT_TRUE(Dialogs().empty());
  EXPECT_EQ(Size(w), before);
  // Keys the field has no use for still reach the painter.
  QTest::keyClick(edit, Qt::Key_Q, Qt::ControlModifier);
  ASSERT_EQ(Messages.Messages.size(), 1u);
  EXPECT_EQ(Messages.Messages[0].Text, msgQuit);
}

TEST_F(ShellKeys, TabAndALoneAltReachThePaperWindow) {
  TDrawWindow* w = MakePaper(40, 30);
  w->setFocus();
  ASSERT_TRUE(QTest::qWaitFor([&] { return QApplication::focusWidget() == w; }, 2000));
  // Tab hides the shown tool windows (and focus does not move on to another control).
  VLMain->ToolWindowsShown = true;
  QTest::keyClick(w, Qt::Key_Tab);
  EXPECT_FALSE(VLMain->ToolWindowsShown);
  EXPECT_EQ(QApplication::focusWidget(), w);
  EXPECT_EQ(VLMain->menuBar()->style()->styleHint(QStyle::SH_MenuBar_AltKeyNavigation, nullptr, VLMain->menuBar()), 0);
  w->Paper->Display.SetAngle(0.25f);
  QTest::keyClick(w, Qt::Key_Alt);
  EXPECT_FALSE(w->Paper->Display.IsRotated());
  EXPECT_EQ(QApplication::focusWidget(), w);
}

// Ctrl+Tab goes to the other paper window; its Tab held on, after Ctrl is let go or while the
// keyboard repeats it, is no Tab of its own and toggles no tool windows. A plain Tab held
// toggles them again after 300 ms.
TEST_F(ShellKeys, ATabHeldFromCtrlTabTogglesNoToolWindows) {
  struct TCase {
    const char* Name;
    bool WithCtrl;
    bool RepeatAfterCtrl;
    bool ShownAfterPress, ShownAfterHeldStep;
  };
  const TCase cases[] = {
      {"Ctrl let go first", true, false, true, true},
      {"Tab repeated by the keyboard after Ctrl", true, true, true, true},
      {"plain Tab", false, false, false, true},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TDrawWindow* first = MakePaper(40, 30);
    TDrawWindow* second = MakePaper(50, 30);
    second->setFocus();
    ASSERT_TRUE(QTest::qWaitFor([&] { return QApplication::focusWidget() == second; }, 2000));
    VLMain->ToolWindowsShown = true;
    VLMain->LastTabTime = timeGetTime();
    plat::AdvanceFakeClock(1000);
    // Through the window system's path, as the X server's keys come: the toolkit's own Ctrl+Tab
    // takes the press before any widget sees it.
    QWindow* window = VLMain->windowHandle();
    auto key = [&](bool press, Qt::Key k, Qt::KeyboardModifiers mods, bool repeat = false) {
      QTest::simulateEvent(window, press, k, mods, k == Qt::Key_Tab ? QString("\t") : QString(), repeat);
    };
    if (c.WithCtrl) {
      key(true, Qt::Key_Control, Qt::ControlModifier);
      key(true, Qt::Key_Tab, Qt::ControlModifier);
      key(false, Qt::Key_Control, Qt::NoModifier);
      EXPECT_EQ(VLMain->ActiveDrawWindow(), first) << "Ctrl+Tab did not switch paper windows";
    } else {
      key(true, Qt::Key_Tab, Qt::NoModifier);
    }
    EXPECT_TRUE(plat::IsKeyDown(plat::VK_TAB));
    EXPECT_EQ(VLMain->ToolWindowsShown, c.ShownAfterPress);
    if (c.RepeatAfterCtrl) key(true, Qt::Key_Tab, Qt::NoModifier, true);
    plat::AdvanceFakeClock(301);
    VLMain->UpdateStep();
    EXPECT_EQ(VLMain->ToolWindowsShown, c.ShownAfterHeldStep);
    key(false, Qt::Key_Tab, Qt::NoModifier);
    EXPECT_FALSE(plat::IsKeyDown(plat::VK_TAB));
    plat::AdvanceFakeClock(301);
    VLMain->UpdateStep();
    EXPECT_EQ(VLMain->ToolWindowsShown, c.ShownAfterHeldStep) << "a released Tab toggled";
    CloseAllQuietly();
    Settle();
  }
}

TEST_F(ShellKeys, ADoubleClickOnTheEmptyAreaOpensAPicture) {
  QWidget* area = VLMain->MdiArea->viewport();
  QTest::mouseClick(area, Qt::LeftButton, Qt::NoModifier, QPoint(20, 20));
  EXPECT_TRUE(Dialogs().empty());
  QTest::mouseDClick(area, Qt::LeftButton, Qt::NoModifier, QPoint(20, 20));
  // Its release, as the window system sends it: the toolkit's test layer would hold the button
  // down for every later mouse move of the program.
  QTest::mouseRelease(area, Qt::LeftButton, Qt::NoModifier, QPoint(20, 20));
  ASSERT_EQ(Dialogs().size(), 1u);
  EXPECT_FALSE(Dialogs()[0].Save);
  EXPECT_EQ(Dialogs()[0].DefaultExt, "wpb");
}

}  // namespace
