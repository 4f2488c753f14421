// The painter's GUI tests run on the offscreen platform, each test program with a runtime
// folder of its own, so that the windows it registers meet no other program's.
// With "--grab-screen FILE" the program instead saves a picture of the X display it is given
// (the smoke test uses it to look at the real program's windows).
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <cstring>
#include <string>

#include "platform/core/Screen.h"
#include "platform/qt/Desktop.h"
#include "platform/qt/KeyTracker.h"

namespace {
int GrabScreen(int argc, char** argv, const char* file) {
  qputenv("QT_QPA_PLATFORM", "xcb");
  QGuiApplication app(argc, argv);
  QScreen* s = QGuiApplication::primaryScreen();
  if (!s) return 3;
  return s->grabWindow(0).save(QString::fromLocal8Bit(file), "PNG") ? 0 : 4;
}
}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--grab-screen") == 0) return GrabScreen(1, argv, argv[2]);
  qputenv("QT_QPA_PLATFORM", "offscreen");
  std::string runtime = (getenv("TMPDIR") ? std::string(getenv("TMPDIR")) : std::string("/tmp")) + "/vellpaint-test-XXXXXX";
  if (mkdtemp(runtime.data())) setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
  QApplication app(argc, argv);
  // Tests close windows and go on; nothing may end the application under them.
  QApplication::setQuitOnLastWindowClosed(false);
  plat::InstallKeyTracker();
  plat::SetFullScreenWidth(plat::GetSystemMetrics(plat::SM_CXFULLSCREEN));
  ::testing::InitGoogleTest(&argc, argv);
  const int rc = RUN_ALL_TESTS();
  std::system(("rm -rf '" + runtime + "'").c_str());
  return rc;
}
