// The real painter on a real X display: strokes dragged with the mouse over a picture named on
// the command line, then a quiet pause; the autosave file's picture equals the replay of its
// own record.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QProcess>
#include <QProcessEnvironment>
#include <QTest>
#include <filesystem>
#include <memory>

#include "common/TempDir.h"
#include "common/ToolRun.h"
#include "engine/EventPacket.h"
#include "engine/Paper.h"

namespace {

std::string FindOnPath(const char* name) {
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
class TXServer {
 public:
  explicit TXServer(const std::string& program) {
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
  ~TXServer() {
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

int StrokeEvents(TEventPacket& r) {
  const uint8_t* b = r.Data().Memory();
  const int32_t n = r.Data().Size();
  int32_t pos = 0, size = 0, strokes = 0;
  while (pos + 2 <= n && MeasureEvent(b + pos, n - pos, size) == TEventMeasure::Complete) {
    if ((b[pos] | (b[pos + 1] << 8)) <= ecStrokeLast) ++strokes;
    pos += size;
  }
  return strokes;
}

TEST(StrokeSmoke, DraggedStrokesAreAutosavedAsTheirRecordReplays) {
  const std::string program = std::string(VELL_BINARY_DIR) + "/painter/vellpaint";
  const std::string xvfb = FindOnPath("Xvfb"), xdotool = FindOnPath("xdotool");
  if (xvfb.empty() || xdotool.empty())
    GTEST_SKIP() << "Xvfb and xdotool are needed (Debian packages xvfb, xdotool): the real program is not tried";
  ASSERT_EQ(access(program.c_str(), X_OK), 0) << program;

  TTempDir dir;
  const std::string wpb = dir.Path("blank.wpb");
  {
    TPaper paper;
    ASSERT_TRUE(paper.Init("blank", 300, 200));
    TEventPacket record;
    record.WriteNewPaper(300, 200);
    ASSERT_TRUE(paper.SaveToFile(wpb, false, record));
  }
  for (const char* sub : {"run", "settings", "data"}) {
    std::filesystem::create_directory(dir.Path(sub));
    std::filesystem::permissions(dir.Path(sub), std::filesystem::perms::owner_all);
  }
  const std::string autosave = dir.Path("data") + "/vellora/$$$tmp.wpb";

  // A server that another one, started at the same moment, took from under the painter is
  // tried again with a fresh one.
  std::unique_ptr<TXServer> server;
  QProcessEnvironment env;
  QProcess painter;
  std::string main, lastError;
  auto xdo = [&](const QStringList& args) {
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(QString::fromStdString(xdotool), args);
    p.waitForFinished(10000);
    return p.readAllStandardOutput().trimmed().toStdString();
  };
  for (int attempt = 0; attempt < 3 && main.empty(); ++attempt) {
    server = std::make_unique<TXServer>(xvfb);
    if (server->Display().empty()) continue;
    env = QProcessEnvironment::systemEnvironment();
    env.insert("DISPLAY", QString::fromStdString(server->Display()));
    env.insert("QT_QPA_PLATFORM", "xcb");
    env.insert("XDG_RUNTIME_DIR", QString::fromStdString(dir.Path("run")));
    env.insert("VELLORA_SETTINGS_DIR", QString::fromStdString(dir.Path("settings")));
    env.insert("XDG_DATA_HOME", QString::fromStdString(dir.Path("data")));
    env.insert("VELLORA_MSGBOX_LOG", QString::fromStdString(dir.Path("messages.log")));
    env.insert("VELLORA_MSGBOX_ANSWER", "yes");
    painter.setProcessEnvironment(env);
    painter.start(QString::fromStdString(program), {QString::fromStdString(wpb)});
    ASSERT_TRUE(painter.waitForStarted(10000));
    QTest::qWaitFor(
        [&] {
          main = xdo({"search", "--name", "Vellora1.1b72"});
          return !main.empty() || painter.state() != QProcess::Running;
        },
        20000);
    if (main.empty()) {
      lastError = painter.readAllStandardError().toStdString();
      painter.kill();
      painter.waitForFinished(5000);
    }
  }
  if (!server || server->Display().empty()) GTEST_SKIP() << "Xvfb did not start";
  ASSERT_FALSE(main.empty()) << "the main window did not show: " << lastError;
  ASSERT_EQ(painter.state(), QProcess::Running) << painter.readAllStandardError().toStdString();
  xdo({"windowfocus", "--sync", QString::fromStdString(main.substr(0, main.find('\n')))});
  QTest::qWait(3000);  // the first activation opens the picture (the paper is no window of X's)

  // 51 drags well inside the paper, which opens near the top-left corner of the frame's work
  // area; the points are given relative to the main window, wherever it is.
  const QString mainWindow = QString::fromStdString(main.substr(0, main.find('\n')));
  for (int i = 0; i < 51; ++i) {
    const int y = 130 + (i % 12) * 6;
    QStringList args{"mousemove", "--window", mainWindow, "100", QString::number(y), "mousedown", "1"};
    for (int k = 1; k <= 8; ++k)
      args << "mousemove" << "--window" << mainWindow << QString::number(100 + 15 * k) << QString::number(y + (k % 3) * 4);
    args << "mouseup" << "1";
    xdo(args);
  }
  // Quiet for more than five seconds: the autosave is written.
  ASSERT_TRUE(QTest::qWaitFor([&] { return access(autosave.c_str(), R_OK) == 0; }, 20000))
      << "no autosave; " << painter.readAllStandardError().toStdString();
  QTest::qWait(300);
  painter.terminate();
  if (!painter.waitForFinished(10000)) painter.kill();

  TPaper saved;
  TEventPacket record;
  ASSERT_TRUE(saved.LoadFromFile(autosave, record));
  EXPECT_GE(StrokeEvents(record), 51);
  record.WriteEndMarker();
  const std::string wpe = dir.Path("record.wpe");
  ASSERT_TRUE(record.ExportToFile(wpe));
  const std::string fromPicture = dir.Path("picture.bmp"), fromRecord = dir.Path("record.bmp");
  ASSERT_EQ(RunTool(dir, "render '" + autosave + "' " + fromPicture).status, 0);
  ASSERT_EQ(RunTool(dir, "render " + wpe + " " + fromRecord).status, 0);
  EXPECT_TRUE(Slurp(fromPicture) == Slurp(fromRecord));
}

}  // namespace
