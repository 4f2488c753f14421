// Where the dialogs, the message box and the short help open: centred, wholly on screen and
// above the stay-on-top tool windows.
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include "PainterFixture.h"
#include "painter/EnvWin.h"
#include "painter/EzHelpWin.h"
#include "painter/NewWin.h"
#include "painter/PenWin2.h"
#include "painter/ResoWin.h"
#include "painter/SizeWin.h"
#include "platform/qt/MessageDialog.h"
#include "platform/qt/Placement.h"

namespace {

class DialogPlace : public PainterFixture {};

// Whether the window's outer frame is centred on the screen (within the frame's width, which
// the window system may tell only once the window is shown).
::testing::AssertionResult ScreenCentred(const QWidget* w) {
  const QRect area = plat::WorkArea(), frame = w->frameGeometry();
  const QPoint off(frame.x() + frame.width() / 2 - (area.x() + area.width() / 2),
                   frame.y() + frame.height() / 2 - (area.y() + area.height() / 2));
  if (std::abs(off.x()) <= 2 && std::abs(off.y()) <= 2) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "frame " << frame.x() << "," << frame.y() << " " << frame.width() << "x"
                                       << frame.height() << " is off the centre by " << off.x() << "," << off.y();
}

TEST_F(DialogPlace, PaperDialogsOpenCentredAboveTheToolWindows) {
  MakePaper(64, 48);
  for (QDialog* d : std::initializer_list<QDialog*>{NewWindow, SizeWindow, ResoWindow, EnvWindow}) {
    SCOPED_TRACE(d->objectName().toStdString());
    d->move(plat::WorkArea().right() - 10, plat::WorkArea().bottom() - 10);
    d->show();
    EXPECT_TRUE(d->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_TRUE(ScreenCentred(d));
    d->hide();
  }
}

TEST_F(DialogPlace, TheShortHelpOpensCentredOnceThenWhereItWasLeft) {
  EzHelpWindow->show();
  EXPECT_TRUE(ScreenCentred(EzHelpWindow));
  EzHelpWindow->move(20, 30);
  EzHelpWindow->hide();
  EzHelpWindow->show();
  EXPECT_EQ(EzHelpWindow->pos(), QPoint(20, 30));
}

TEST_F(DialogPlace, AMessageBoxOverAWindowAtTheScreenEdgeStaysWhollyOnScreen) {
  // The real box, over a tool window in the bottom-right corner.
  plat::TMessageBoxHandler recorder = plat::SetMessageBoxHandler(nullptr);
  plat::InstallMessageDialog();
  PenWindow2->SetDefaultPosition();
  PenWindow2->show();
  PenWindow2->activateWindow();
  QApplication::setActiveWindow(PenWindow2);
  QRect seen;
  bool above = false;
  QTimer::singleShot(0, [&] {
    (void)QTest::qWaitFor([] { return qobject_cast<QMessageBox*>(QApplication::activeModalWidget()) != nullptr; }, 5000);
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      seen = QRect(box->pos(), box->size());
      above = box->windowFlags() & Qt::WindowStaysOnTopHint;
      box->button(QMessageBox::Yes)->click();
    }
  });
  const int answer = plat::MessageBox("?", "", unsigned{plat::MB_YESNO});
  plat::SetMessageBoxHandler(recorder);
  EXPECT_EQ(answer, plat::IDYES);
  EXPECT_TRUE(above);
  ASSERT_FALSE(seen.isEmpty());
  EXPECT_TRUE(plat::WorkArea().contains(seen)) << seen.x() << "," << seen.y() << " " << seen.width() << "x" << seen.height();
}

}  // namespace
