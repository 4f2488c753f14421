// The real painter on a real X display: a picture named on the command line opens, and
// Ctrl+S writes it back, with the messages going to a log instead of boxes.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QProcess>
#include <QProcessEnvironment>
#include <filesystem>

#include "FileTestUtil.h"

namespace {

std::string FindProgram(const char* name) {
  const char* path = getenv("PATH");
  const std::string dirs = path ? path : "/usr/bin:/bin";
  size_t start = 0;
  for (;;) {
    const size_t end = dirs.find(':', start);
    const std::string d = dirs.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (!d.empty() && access((d + "/" + name).c_str(), X_OK) == 0) return d + "/" + name;
    if (end == std::string::npos) return {};
    start = end + 1;
  }
}

// An X server on a display number it picks itself; stopped on destruction.
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
      const int devnull = open("/dev/null", O_WRONLY);
      dup2(devnull, 2);
      execl(program.c_str(), program.c_str(), "-displayfd", "3", "-screen", "0", "1024x768x24", "-nolisten", "tcp",
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

std::string FileText(const std::string& path) {
  const std::vector<uint8_t> b = FileBytes(path);
  return std::string(b.begin(), b.end());
}

TEST(FileSmoke, TheRealProgramOpensAPictureAndSavesItBack) {
  const std::string program = std::string(VELL_BINARY_DIR) + "/painter/vellpaint";
  const std::string xvfb = FindProgram("Xvfb"), xdotool = FindProgram("xdotool");
  if (xvfb.empty() || xdotool.empty())
    GTEST_SKIP() << "Xvfb and xdotool are needed (Debian packages xvfb, xdotool): the real program is not tried";
  ASSERT_TRUE(Exists(program)) << program;
  TTempDir dir;
  TTC picture;
  FillPattern(picture, 40, 30);
  const std::string bmp = dir.Path("pattern.bmp"), log = dir.Path("messages.log");
  ASSERT_TRUE(SaveBMP(picture, bmp));
  const std::vector<uint8_t> original = FileBytes(bmp);

  TXvfb server(xvfb);
  if (server.Display().empty()) GTEST_SKIP() << "Xvfb did not start";
  for (const char* sub : {"run", "settings", "data"}) {
    std::filesystem::create_directory(dir.Path(sub));
    std::filesystem::permissions(dir.Path(sub), std::filesystem::perms::owner_all);
  }
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("DISPLAY", QString::fromStdString(server.Display()));
  env.insert("QT_QPA_PLATFORM", "xcb");
  env.insert("XDG_RUNTIME_DIR", QString::fromStdString(dir.Path("run")));
  env.insert("VELLORA_SETTINGS_DIR", QString::fromStdString(dir.Path("settings")));
  env.insert("XDG_DATA_HOME", QString::fromStdString(dir.Path("data")));
  env.insert("VELLORA_MSGBOX_LOG", QString::fromStdString(log));
  env.insert("VELLORA_MSGBOX_ANSWER", "yes");

  QProcess painter;
  painter.setProcessEnvironment(env);
  painter.start(QString::fromStdString(program), {QString::fromStdString(bmp)});
  ASSERT_TRUE(painter.waitForStarted(10000));
  auto xdo = [&](const QStringList& args) {
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(QString::fromStdString(xdotool), args);
    p.waitForFinished(10000);
    return p.readAllStandardOutput().trimmed().toStdString();
  };
  // The picture's question is answered (the paper opens) and the main window is there.
  ASSERT_TRUE(QTest::qWaitFor(
      [&] {
        return FileText(log).find("以降、イベントデータがエクスポート出来なくなりますが") != std::string::npos ||
               painter.state() != QProcess::Running;
      },
      20000))
      << "the picture was not opened";
  ASSERT_EQ(painter.state(), QProcess::Running) << painter.readAllStandardError().toStdString();
  std::string main;
  ASSERT_TRUE(QTest::qWaitFor(
      [&] {
        main = xdo({"search", "--name", "Vellora1.1b72"});
        return !main.empty();
      },
      10000));

  // Ctrl+S writes the paper's own file again.
  WriteBytes(bmp, {'x'});
  const std::string mainWindow = main.substr(0, main.find('\n'));
  const bool saved = QTest::qWaitFor(
      [&] {
        xdo({"windowfocus", "--sync", QString::fromStdString(mainWindow)});
        xdo({"key", "ctrl+s"});
        return QTest::qWaitFor([&] { return FileBytes(bmp) == original; }, 1000);
      },
      15000);
  EXPECT_TRUE(saved) << FileText(log);
  EXPECT_NE(FileText(log).find("画像を保存しました"), std::string::npos) << FileText(log);

  painter.terminate();
  if (!painter.waitForFinished(10000)) painter.kill();
}

}  // namespace
