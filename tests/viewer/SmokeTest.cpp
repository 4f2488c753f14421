// The real program on a real X display: Xvfb, vellview with a file, a screenshot.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QImage>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTest>
#include <filesystem>
#include <cstdio>
#include <fstream>
#include <regex>

#include "common/TempDir.h"

#include "common/RealPainter.h"
#include "common/Xvfb.h"

namespace {

const std::string kViewer = std::string(VELL_BINARY_DIR) + "/viewer/vellview";
const std::string kWpeTool = std::string(VELL_BINARY_DIR) + "/tools/wpetool";

}  // namespace

TEST(ViewerSmoke, TheProgramShowsAPlayedFileOnARealDisplay) {
  const std::string xvfb = vtest::FindProgram("Xvfb");
  if (xvfb.empty()) GTEST_SKIP() << "Xvfb is not installed (Debian package xvfb): the smoke test needs an X server";
  ASSERT_TRUE(std::filesystem::exists(kViewer)) << kViewer;
  TTempDir dir;
  const std::string text = dir.Path("red.txt"), file = dir.Path("red.wpe");
  std::ofstream(text) << "NewPaper width=160 height=120\nFillRect layer=0 x=20 y=20 w=100 h=60 color=ff0000\nEnd\n";
  QProcess build;
  build.start(QString::fromStdString(kWpeTool), {"build", QString::fromStdString(text), QString::fromStdString(file)});
  ASSERT_TRUE(build.waitForFinished(20000));
  ASSERT_EQ(build.exitCode(), 0);

  vtest::TXvfb server(xvfb, "800x600x24");
  if (server.Display().empty()) GTEST_SKIP() << "Xvfb did not start";
  std::filesystem::create_directory(dir.Path("run"));
  std::filesystem::permissions(dir.Path("run"), std::filesystem::perms::owner_all);
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("DISPLAY", QString::fromStdString(server.Display()));
  env.insert("QT_QPA_PLATFORM", "xcb");
  env.insert("XDG_RUNTIME_DIR", QString::fromStdString(dir.Path("run")));

  QProcess viewer;
  viewer.setProcessEnvironment(env);
  viewer.start(QString::fromStdString(kViewer), {QString::fromStdString(file)});
  ASSERT_TRUE(viewer.waitForStarted(10000));

  // Look at the screen until the file's red rectangle shows (or give up).
  const std::string shot = dir.Path("screen.png");
  const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
  bool red = false;
  QImage img;
  for (int attempt = 0; attempt < 40 && !red && viewer.state() == QProcess::Running; ++attempt) {
    QTest::qWait(250);
    QProcess grab;
    grab.setProcessEnvironment(env);
    grab.start(QString::fromStdString(self), {"--grab-screen", QString::fromStdString(shot)});
    if (!grab.waitForFinished(20000) || grab.exitCode() != 0) continue;
    img.load(QString::fromStdString(shot));
    int count = 0;
    for (int y = 0; y < img.height(); y += 2)
      for (int x = 0; x < img.width(); x += 2)
        if ((img.pixel(x, y) & 0xFFFFFF) == 0xFF0000) ++count;
    red = count > 25 * 15;  // most of the 100 x 60 rectangle, sampled every other pixel
  }
  EXPECT_EQ(viewer.state(), QProcess::Running) << viewer.readAllStandardError().toStdString();
  EXPECT_TRUE(red) << "no played file on the screen; last screenshot " << img.width() << "x" << img.height();

  // The window system shows the captions exactly as the program sets them, nothing appended.
  const std::string xwininfo = vtest::FindProgram("xwininfo");
  if (!xwininfo.empty()) {
    QProcess info;
    info.setProcessEnvironment(env);
    info.start(QString::fromStdString(xwininfo), {"-root", "-tree"});
    ASSERT_TRUE(info.waitForFinished(20000));
    const std::string tree = info.readAllStandardOutput().toStdString();
    EXPECT_NE(tree.find("\"[vl] Viewer1.1- b13 FR\": ("), std::string::npos) << tree;
    EXPECT_TRUE(std::regex_search(tree, std::regex("\"<OFFLINE>  \"red.wpe\" 160\\*120 : 100% : <(Lecture|Quitte)[^\n]*\\[ms\\]>\": \\(")))
        << tree;
  } else {
    std::printf("xwininfo is not installed (Debian package x11-utils): window captions not checked\n");
  }
  viewer.terminate();
  if (!viewer.waitForFinished(10000)) viewer.kill();
}

// A paper larger than the screen: the playback window and the list docked beside it stay
// wholly on the screen, their title bars and scroll bars within reach.
TEST(ViewerSmoke, APaperLargerThanTheScreenGivesWindowsOnTheScreen) {
  if (std::string why = vtest::TRealPainter::Missing(); !why.empty()) GTEST_SKIP() << why;
  vtest::TXvfb server(vtest::FindProgram("Xvfb"), "1600x1000x24", vtest::TDesktopKind::Managed);
  if (!server.Managed()) GTEST_SKIP() << server.WhyNotManaged();
  TTempDir dir;
  const std::string text = dir.Path("big.txt"), file = dir.Path("big.wpe");
  std::ofstream(text) << "NewPaper width=1400 height=900\nEnd\n";
  QProcess build;
  build.start(QString::fromStdString(kWpeTool), {"build", QString::fromStdString(text), QString::fromStdString(file)});
  ASSERT_TRUE(build.waitForFinished(20000));
  ASSERT_EQ(build.exitCode(), 0);
  // The painter's helpers for what the window system shows; the viewer runs in their setting.
  vtest::TRealPainter x(server, dir.Dir());
  QProcess viewer;
  viewer.setProcessEnvironment(x.Env);
  viewer.start(QString::fromStdString(kViewer), {QString::fromStdString(file)});
  ASSERT_TRUE(viewer.waitForStarted(10000));
  std::string playback, list;
  ASSERT_TRUE(QTest::qWaitFor(
      [&] {
        playback = x.Xdo({"search", "--onlyvisible", "--name", "big\\.wpe"});
        list = x.Xdo({"search", "--onlyvisible", "--name", "^\\[vl\\] Viewer"});
        playback = playback.substr(0, playback.find('\n'));
        list = list.substr(0, list.find('\n'));
        return !playback.empty() && !list.empty();
      },
      20000))
      << viewer.readAllStandardError().toStdString();
  const vtest::TScreenRect screen = x.Screen();
  // Placed once framed, and docked by the timer: what stands after a few of its rounds.
  EXPECT_TRUE(QTest::qWaitFor([&] { return x.Frame(playback).Inside(screen) && x.Frame(list).Inside(screen); }, 10000))
      << "playback " << x.Frame(playback) << ", list " << x.Frame(list) << " on " << screen;
  EXPECT_GT(x.Frame(playback).W, 1000) << "the window gives up more than it must";
  viewer.terminate();
  if (!viewer.waitForFinished(10000)) viewer.kill();
}
