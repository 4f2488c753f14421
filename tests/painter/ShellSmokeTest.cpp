// The real painter on a real X display, started as a user would: it recovers a left-over
// autosave, opens the picture named on the command line, takes a second start's picture,
// shows both, and ends on Ctrl+Q.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QImage>
#include <QProcess>
#include <QProcessEnvironment>
#include <filesystem>
#include <fstream>
#include <set>

#include "PainterFixture.h"
#include "platform/core/Files.h"

#include "common/Xvfb.h"

namespace {

const std::string kPainter = std::string(VELL_BINARY_DIR) + "/painter/vellpaint";
const std::string kTests = std::string(VELL_BINARY_DIR) + "/tests/test_painter";

// A picture file of one colour.
void WritePicture(const std::string& path, int32_t w, int32_t h, uint32_t colour) {
  TPaper paper;
  ASSERT_TRUE(paper.Init("NONAME", w, h));
  TEventPacket packet;
  packet.WriteNewPaper(w, h);
  if (colour != 0xFFFFFF) {
    paper.Layers->FillRect(0, 0, 0, w, h, colour);
    packet.WriteFillRect(0, 0, 0, w, h, colour >> 16, (colour >> 8) & 0xFF, colour & 0xFF);
    paper.Composite();
  }
  ASSERT_TRUE(paper.SaveToFile(path, false, packet));
}

std::string Text(const std::string& path) {
  std::vector<uint8_t> b;
  plat::ReadWholeFile(path, b);
  return std::string(b.begin(), b.end());
}

TEST(ShellSmoke, TheRealPainterRecoversTakesASecondStartAndQuits) {
  const std::string xvfb = vtest::FindProgram("Xvfb"), xdotool = vtest::FindProgram("xdotool");
  if (xvfb.empty() || xdotool.empty())
    GTEST_SKIP() << "Xvfb and xdotool are needed (Debian packages xvfb, xdotool): the real program is not tried";
  ASSERT_TRUE(std::filesystem::exists(kPainter)) << kPainter;
  TTempDir dir;
  for (const char* sub : {"run", "settings", "data", "data/vellora"}) {
    std::filesystem::create_directory(dir.Path(sub));
    std::filesystem::permissions(dir.Path(sub), std::filesystem::perms::owner_all);
  }
  const std::string autosave = dir.Path("data/vellora/$$$tmp.wpb"), log = dir.Path("messages.log");
  WritePicture(autosave, 40, 30, 0xFFFFFF);
  WritePicture(dir.Path("red.wpb"), 200, 150, 0xFF0000);
  WritePicture(dir.Path("blue.wpb"), 40, 30, 0x0000FF);
  // Japanese, and a main window of a known place (there is no window manager to maximise it).
  std::ofstream(dir.Path("settings/brenmoor.reg"))
      << "[Software\\Brenmoor\\Vellora]\nJapanese\tdword\t1\nMaximized\tdword\t0\nWinLeft\tdword\t0\n"
         "WinTop\tdword\t0\nWinWidth\tdword\t800\nWinHeight\tdword\t600\n";
  // The session bus library keeps a buffer to the end; that is no fault of the program.
  std::ofstream(dir.Path("lsan.supp")) << "leak:libdbus-1.so\n";

  vtest::TXvfb server(xvfb);
  if (server.Display().empty()) GTEST_SKIP() << "Xvfb did not start";
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("DISPLAY", QString::fromStdString(server.Display()));
  env.insert("QT_QPA_PLATFORM", "xcb");
  env.insert("XDG_RUNTIME_DIR", QString::fromStdString(dir.Path("run")));
  env.insert("VELLORA_SETTINGS_DIR", QString::fromStdString(dir.Path("settings")));
  env.insert("XDG_DATA_HOME", QString::fromStdString(dir.Path("data")));
  env.insert("VELLORA_MSGBOX_LOG", QString::fromStdString(log));
  env.insert("VELLORA_MSGBOX_ANSWER", "yes");
  env.insert("LSAN_OPTIONS", QString::fromStdString("suppressions=" + dir.Path("lsan.supp")));
  auto run = [&](const std::string& program, const QStringList& args, int ms) {
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(QString::fromStdString(program), args);
    p.waitForFinished(ms);
    return p.readAllStandardOutput().trimmed().toStdString();
  };
  auto windows = [&] {
    std::set<std::string> ids;
    const QString out = QString::fromStdString(run(xdotool, {"search", "--onlyvisible", "--name", "."}, 10000));
    for (const QString& id : out.split('\n', Qt::SkipEmptyParts)) ids.insert(id.toStdString());
    return ids;
  };

  QProcess painter;
  painter.setProcessEnvironment(env);
  painter.start(QString::fromStdString(kPainter), {QString::fromStdString(dir.Path("red.wpb"))});
  ASSERT_TRUE(painter.waitForStarted(10000));
  std::string main;
  ASSERT_TRUE(QTest::qWaitFor(
      [&] {
        main = run(xdotool, {"search", "--onlyvisible", "--name", "Vellora1.1b72 FR"}, 10000);
        return !main.empty() || painter.state() != QProcess::Running;
      },
      30000));
  ASSERT_FALSE(main.empty()) << "exit " << painter.exitCode() << ": " << painter.readAllStandardError().toStdString();
  main = main.substr(0, main.find('\n'));
  ASSERT_TRUE(QTest::qWaitFor([&] { return Text(log).find("前回異常終了しましたので") != std::string::npos; }, 20000))
      << Text(log);

  // The second start hands its picture over, maps no window of its own and ends.
  const std::set<std::string> before = windows();
  QProcess second;
  second.setProcessEnvironment(env);
  second.start(QString::fromStdString(kPainter), {QString::fromStdString(dir.Path("blue.wpb"))});
  ASSERT_TRUE(second.waitForFinished(30000));
  EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(second.exitCode(), 0) << second.readAllStandardError().toStdString();
  EXPECT_TRUE(QTest::qWaitFor([&] { return run(xdotool, {"getwindowname", QString::fromStdString(main)}, 10000) == "OK"; },
                              20000));
  EXPECT_EQ(windows(), before);

  // Red and blue papers on the screen.
  const std::string shot = dir.Path("screen.png");
  int red = 0, blue = 0;
  EXPECT_TRUE(QTest::qWaitFor(
      [&] {
        run(kTests, {"--grab-screen", QString::fromStdString(shot)}, 20000);
        QImage image(QString::fromStdString(shot));
        red = blue = 0;
        for (int y = 0; y < image.height(); ++y)
          for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y) & 0xFFFFFF;
            red += p == 0xFF0000;
            blue += p == 0x0000FF;
          }
        return red >= 2000 && blue >= 1000;
      },
      20000))
      << "red and blue papers not both on the screen";
  EXPECT_GE(red, 2000);
  EXPECT_GE(blue, 1000);

  // Ctrl+Q: the question is answered yes, the program ends well and its autosave goes.
  const bool ended = QTest::qWaitFor(
      [&] {
        run(xdotool, {"windowfocus", "--sync", QString::fromStdString(main)}, 10000);
        run(xdotool, {"key", "ctrl+q"}, 10000);
        return painter.waitForFinished(2000);
      },
      30000);
  if (!ended) {
    painter.kill();
    painter.waitForFinished(10000);
  }
  ASSERT_TRUE(ended) << Text(log);
  EXPECT_EQ(painter.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(painter.exitCode(), 0) << painter.readAllStandardError().toStdString();
  EXPECT_NE(Text(log).find("アプリケーションを終了しますか？\n"), std::string::npos) << Text(log);
  EXPECT_FALSE(std::filesystem::exists(autosave));
}

}  // namespace
