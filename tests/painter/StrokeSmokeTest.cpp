// The real painter on a real X display: strokes dragged with the mouse over a picture named on
// the command line, then a quiet pause; the autosave file's picture equals the replay of its
// own record; drags made while the painter is too busy to take them are drawn whole once it
// catches up.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QImage>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTest>
#include <filesystem>
#include <memory>

#include "common/RealPainter.h"
#include "common/RecordEvents.h"
#include "common/TempDir.h"
#include "common/ToolRun.h"
#include "engine/EventPacket.h"
#include "engine/LayerMng.h"
#include "engine/Paper.h"

#include "common/Xvfb.h"

namespace {

using vtest::StrokeEvents;
using vtest::StrokePointCounts;

constexpr uint32_t kPaperColour = 0x00FF00;

// A green 300x200 picture with its record, which the painter opens from its command line.
void WriteGreenPicture(const std::string& file) {
  TPaper paper;
  ASSERT_TRUE(paper.Init("blank", 300, 200));
  TEventPacket record;
  record.WriteNewPaper(300, 200);
  // Green, so that the screen tells when the picture is open.
  paper.Layers->FillRect(0, 0, 0, 300, 200, kPaperColour);
  record.WriteFillRect(0, 0, 0, 300, 200, 0x00, 0xFF, 0x00);
  paper.Composite();
  ASSERT_TRUE(paper.SaveToFile(file, false, record));
}

// The green picture covers half its size of the X display of `env`.
bool GreenPictureShown(const QProcessEnvironment& env, const std::string& shot) {
  QProcess grab;
  grab.setProcessEnvironment(env);
  grab.start(QString::fromStdString(std::string(VELL_BINARY_DIR) + "/tests/test_painter"),
             {"--grab-screen", QString::fromStdString(shot)});
  grab.waitForFinished(20000);
  const QImage image(QString::fromStdString(shot));
  int paperPixels = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) paperPixels += (image.pixel(x, y) & 0xFFFFFF) == kPaperColour;
  return paperPixels >= 300 * 200 / 2;
}

TEST(StrokeSmoke, DraggedStrokesAreAutosavedAsTheirRecordReplays) {
  const std::string program = std::string(VELL_BINARY_DIR) + "/painter/vellpaint";
  const std::string xvfb = vtest::FindProgram("Xvfb"), xdotool = vtest::FindProgram("xdotool");
  if (xvfb.empty() || xdotool.empty())
    GTEST_SKIP() << "Xvfb and xdotool are needed (Debian packages xvfb, xdotool): the real program is not tried";
  ASSERT_EQ(access(program.c_str(), X_OK), 0) << program;

  TTempDir dir;
  const std::string wpb = dir.Path("blank.wpb");
  ASSERT_NO_FATAL_FAILURE(WriteGreenPicture(wpb));
  for (const char* sub : {"run", "settings", "data"}) {
    std::filesystem::create_directory(dir.Path(sub));
    std::filesystem::permissions(dir.Path(sub), std::filesystem::perms::owner_all);
  }
  const std::string autosave = dir.Path("data") + "/vellora/$$$tmp.wpb";

  // A server that another one, started at the same moment, took from under the painter is
  // tried again with a fresh one.
  std::unique_ptr<vtest::TXvfb> server;
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
    server = std::make_unique<vtest::TXvfb>(xvfb);
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
    // Only a painter that ended is started again: one that neither ends nor shows is at fault.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
          main = xdo({"search", "--name", "Vellora1.1b72"});
          return !main.empty() || painter.state() != QProcess::Running;
        },
        20000))
        << "the painter neither showed its window nor ended";
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
  // The first activation opens the picture; the paper is no window of X's, but the screen
  // shows it.
  const std::string shot = dir.Path("screen.png");
  const bool shown = QTest::qWaitFor([&] { return GreenPictureShown(env, shot); }, 30000);
  ASSERT_TRUE(shown) << "the picture did not open";

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

// Drags made while the painter is stopped wait in its queue, moves and button changes in turn;
// once it goes on, each is one stroke through every position the pointer took, the first drag
// as the last: none is cut down to its release point.
TEST(StrokeSmoke, DragsQueuedWhileThePainterIsBusyAreDrawnWhole) {
  if (const std::string why = vtest::TRealPainter::Missing(); !why.empty()) GTEST_SKIP() << why;
  vtest::TXvfb server(vtest::FindProgram("Xvfb"));
  if (server.Display().empty()) GTEST_SKIP() << "Xvfb did not start";
  TTempDir dir;
  const std::string wpb = dir.Path("blank.wpb");
  ASSERT_NO_FATAL_FAILURE(WriteGreenPicture(wpb));
  vtest::TRealPainter p(server, dir.Dir());
  ASSERT_TRUE(p.Start({QString::fromStdString(wpb)})) << p.Error();
  const QString main = QString::fromStdString(p.MainWindow());
  p.Xdo({"windowfocus", "--sync", main});
  ASSERT_TRUE(QTest::qWaitFor([&] { return GreenPictureShown(p.Env, dir.Path("screen.png")); }, 30000))
      << "the picture did not open";

  const pid_t painter = static_cast<pid_t>(p.Proc.processId());
  ASSERT_EQ(kill(painter, SIGSTOP), 0);
  struct TGoOn {
    pid_t Pid;
    ~TGoOn() { kill(Pid, SIGCONT); }
  } goOn{painter};
  constexpr int kDrags = 51, kMoves = 8;
  for (int i = 0; i < kDrags; ++i) {
    const int y = 130 + (i % 12) * 6;
    QStringList args{"mousemove", "--window", main, "100", QString::number(y), "mousedown", "1"};
    for (int k = 1; k <= kMoves; ++k)
      args << "mousemove" << "--window" << main << QString::number(100 + 15 * k) << QString::number(y + (k % 3) * 4);
    args << "mouseup" << "1";
    p.Xdo(args);
  }
  ASSERT_EQ(kill(painter, SIGCONT), 0);
  const std::string autosave = p.Data + "/vellora/$$$tmp.wpb";
  ASSERT_TRUE(QTest::qWaitFor([&] { return access(autosave.c_str(), R_OK) == 0; }, 30000))
      << "no autosave; " << p.Error();

  TPaper saved;
  TEventPacket record;
  ASSERT_TRUE(saved.LoadFromFile(autosave, record));
  // The first move begins a stroke; the other moves and the release each add a point.
  EXPECT_EQ(StrokePointCounts(record), std::vector<int>(kDrags, kMoves));
}

}  // namespace
