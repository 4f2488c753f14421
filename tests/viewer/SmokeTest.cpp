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

namespace {

const std::string kViewer = std::string(VELL_BINARY_DIR) + "/viewer/vellview";
const std::string kWpeTool = std::string(VELL_BINARY_DIR) + "/tools/wpetool";

std::string FindProgram(const char* name) {
  const char* path = getenv("PATH");
  std::string dirs = path ? path : "/usr/bin:/bin";
  size_t start = 0;
  while (start <= dirs.size()) {
    const size_t end = dirs.find(':', start);
    const std::string d = dirs.substr(start, end == std::string::npos ? std::string::npos : end - start);
    const std::string p = d + "/" + name;
    if (!d.empty() && access(p.c_str(), X_OK) == 0) return p;
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return {};
}

// An X server of its own on a display number it picks itself; stopped on destruction.
class TXvfb {
 public:
  explicit TXvfb(const std::string& program) {
    int fds[2];
    if (pipe(fds) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(fds[1], 3);
      if (fds[1] != 3) close(fds[1]);
      close(fds[0]);
      int devnull = open("/dev/null", O_WRONLY);
      dup2(devnull, 2);
      execl(program.c_str(), program.c_str(), "-displayfd", "3", "-screen", "0", "800x600x24", "-nolisten", "tcp",
            static_cast<char*>(nullptr));
      _exit(127);
    }
    close(fds[1]);
    std::string number;
    char c;
    while (read(fds[0], &c, 1) == 1 && c != '\n') number += c;
    close(fds[0]);
    if (!number.empty()) display_ = ":" + number;
  }
  ~TXvfb() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }
  const std::string& Display() const { return display_; }

 private:
  pid_t pid_ = -1;
  std::string display_;
};

}  // namespace

TEST(ViewerSmoke, TheProgramShowsAPlayedFileOnARealDisplay) {
  const std::string xvfb = FindProgram("Xvfb");
  if (xvfb.empty()) GTEST_SKIP() << "Xvfb is not installed (Debian package xvfb): the smoke test needs an X server";
  ASSERT_TRUE(std::filesystem::exists(kViewer)) << kViewer;
  TTempDir dir;
  const std::string text = dir.Path("red.txt"), file = dir.Path("red.wpe");
  std::ofstream(text) << "NewPaper width=160 height=120\nFillRect layer=0 x=20 y=20 w=100 h=60 color=ff0000\nEnd\n";
  QProcess build;
  build.start(QString::fromStdString(kWpeTool), {"build", QString::fromStdString(text), QString::fromStdString(file)});
  ASSERT_TRUE(build.waitForFinished(20000));
  ASSERT_EQ(build.exitCode(), 0);

  TXvfb server(xvfb);
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
  const std::string xwininfo = FindProgram("xwininfo");
  if (!xwininfo.empty()) {
    QProcess info;
    info.setProcessEnvironment(env);
    info.start(QString::fromStdString(xwininfo), {"-root", "-tree"});
    ASSERT_TRUE(info.waitForFinished(20000));
    const std::string tree = info.readAllStandardOutput().toStdString();
    EXPECT_NE(tree.find("\"[vl] Viewer1.1- b13 FR\": ("), std::string::npos) << tree;
    EXPECT_TRUE(std::regex_search(tree, std::regex("\"<OFFLINE>  \"NONAME\" 160\\*120 : 100% : <(Lecture|Quitte)[^\n]*\\[ms\\]>\": \\(")))
        << tree;
  } else {
    std::printf("xwininfo is not installed (Debian package x11-utils): window captions not checked\n");
  }
  viewer.terminate();
  if (!viewer.waitForFinished(10000)) viewer.kill();
}
