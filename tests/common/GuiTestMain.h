#pragma once
// The main function of a GUI test program: the tests run on the offscreen platform, with a
// runtime folder of their own, so that the windows they register meet no other program's.
// With "--grab-screen FILE" the program instead saves a picture of the X display it is given
// (the smoke tests use it to look at the real programs' windows).
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QTest>
#include <QWidget>
#include <cstring>
#include <string>

#include "platform/core/KeyState.h"
#include "platform/core/Screen.h"
#include "platform/qt/Desktop.h"
#include "platform/qt/KeyTracker.h"
#include "platform/qt/Placement.h"

namespace vtest {

// After each test the next one in the process meets the program as a fresh start does.
// The keyboard is at rest: a key click of QTest leaves the toolkit's record of the modifiers as
// its last release carried them (a modifier's release carries that modifier), and the held keys
// are brought back in line with that record whenever the focus moves, so a Ctrl+S clicked in
// one test would hold Ctrl down in the next; a release that carries no modifier leaves none.
// No mouse button is held either: a double-click of QTest on a widget leaves its button down in
// QTest's record, and every later move is a drag to the program, with no enter or leave.
// And no window frame is known yet: the frames learnt from windows shown would move the next
// test's windows by their borders.
class TFreshStart : public ::testing::EmptyTestEventListener {
 public:
  void OnTestEnd(const ::testing::TestInfo&) override {
    QWidget target;
    QTest::keyRelease(&target, Qt::Key_Control, Qt::NoModifier);
    for (Qt::MouseButton b : {Qt::LeftButton, Qt::RightButton, Qt::MiddleButton})
      if (QTestPrivate::qtestMouseButtons.testFlag(b)) QTest::mouseRelease(&target, b);
    plat::ClearKeys();
    plat::ForgetFrames();
  }
};

inline int GrabScreen(int argc, char** argv, const char* file) {
  qputenv("QT_QPA_PLATFORM", "xcb");
  QGuiApplication app(argc, argv);
  QScreen* s = QGuiApplication::primaryScreen();
  if (!s) return 3;
  return s->grabWindow(0).save(QString::fromLocal8Bit(file), "PNG") ? 0 : 4;
}

// `runtimeName` names the temporary runtime folder ("<name>-XXXXXX" under TMPDIR or /tmp).
inline int RunGuiTests(int argc, char** argv, const std::string& runtimeName) {
  if (argc == 3 && std::strcmp(argv[1], "--grab-screen") == 0) return GrabScreen(1, argv, argv[2]);
  qputenv("QT_QPA_PLATFORM", "offscreen");
  std::string runtime =
      (getenv("TMPDIR") ? std::string(getenv("TMPDIR")) : std::string("/tmp")) + "/" + runtimeName + "-XXXXXX";
  if (mkdtemp(runtime.data())) setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
  QApplication app(argc, argv);
  // Tests close windows and go on; nothing may end the application under them.
  QApplication::setQuitOnLastWindowClosed(false);
  plat::InstallKeyTracker();
  plat::SetFullScreenWidth(plat::GetSystemMetrics(plat::SM_CXFULLSCREEN));
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::UnitTest::GetInstance()->listeners().Append(new TFreshStart);
  const int rc = RUN_ALL_TESTS();
  std::system(("rm -rf '" + runtime + "'").c_str());
  return rc;
}

}  // namespace vtest
