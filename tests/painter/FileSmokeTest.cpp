// The real painter on a real X display: a picture named on the command line opens, and
// Ctrl+S writes it back, keeping its permissions, with the messages going to a log instead
// of boxes.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QProcess>
#include <QProcessEnvironment>
#include <filesystem>

#include "FileTestUtil.h"

#include "common/RealPainter.h"
#include "common/Xvfb.h"

namespace {

std::string FileText(const std::string& path) {
  const std::vector<uint8_t> b = FileBytes(path);
  return std::string(b.begin(), b.end());
}

TEST(FileSmoke, TheRealProgramOpensAPictureAndSavesItBack) {
  const std::string program = std::string(VELL_BINARY_DIR) + "/painter/vellpaint";
  const std::string xvfb = vtest::FindProgram("Xvfb"), xdotool = vtest::FindProgram("xdotool");
  if (xvfb.empty() || xdotool.empty())
    GTEST_SKIP() << "Xvfb and xdotool are needed (Debian packages xvfb, xdotool): the real program is not tried";
  ASSERT_TRUE(Exists(program)) << program;
  TTempDir dir;
  TTC picture;
  FillPattern(picture, 40, 30);
  const std::string bmp = dir.Path("pattern.bmp"), log = dir.Path("messages.log");
  ASSERT_TRUE(SaveBMP(picture, bmp));
  const std::vector<uint8_t> original = FileBytes(bmp);

  vtest::TXvfb server(xvfb);
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
  // The window that takes the keys once it is mapped: focus cannot go to a window that is not.
  std::string main;
  ASSERT_TRUE(QTest::qWaitFor(
      [&] {
        main = xdo({"search", "--onlyvisible", "--name", "Vellora1.1b72"});
        return !main.empty();
      },
      10000));

  // Ctrl+S writes the paper's own file again, private as it was, and clears what a save
  // killed in an earlier run left beside it. The picture opened in the same turn of the
  // program's loop as its question was logged, so the key, which comes after, finds the paper.
  WriteBytes(bmp, {'x'});
  ASSERT_EQ(chmod(bmp.c_str(), 0600), 0);
  pid_t dead = 0;
  {
    char* argv[] = {const_cast<char*>("/bin/true"), nullptr};
    ASSERT_EQ(posix_spawn(&dead, argv[0], nullptr, nullptr, argv, environ), 0);
    int status = 0;
    waitpid(dead, &status, 0);
  }
  const std::string leftover = bmp + ".tmp-" + std::to_string(dead);
  WriteBytes(leftover, std::vector<uint8_t>(1000, 'x'));
  const std::string mainWindow = main.substr(0, main.find('\n'));
  xdo({"windowfocus", "--sync", QString::fromStdString(mainWindow)});
  xdo({"key", "ctrl+s"});
  // The message comes once the file is in place.
  EXPECT_TRUE(QTest::qWaitFor([&] { return FileText(log).find("画像を保存しました") != std::string::npos; }, 20000))
      << FileText(log);
  EXPECT_EQ(FileBytes(bmp), original) << FileText(log);
  struct stat st {};
  ASSERT_EQ(stat(bmp.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, mode_t(0600));
  EXPECT_FALSE(Exists(leftover));

  painter.terminate();
  if (!painter.waitForFinished(10000)) painter.kill();
}

}  // namespace

namespace {

TEST(FileSmoke, TheRealProgramRefusesAPictureTooLargeAndOpensAJpegWithStrayBytes) {
  if (const std::string missing = vtest::TRealPainter::Missing(); !missing.empty()) GTEST_SKIP() << missing;
  TTempDir dir;
  TTC wide(5001, 4);
  wide.Fill(0xFF406080);
  const std::string big = dir.Path("wide.bmp");
  ASSERT_TRUE(SaveBMP(wide, big));
  const std::vector<uint8_t> original = FileBytes(big);
  // A whole JPEG with stray bytes before its end marker, as some writers leave them.
  TTC picture;
  FillPattern(picture, 48, 32);
  std::vector<uint8_t> jpeg;
  ASSERT_TRUE(EncodeJPEG(picture, 90, jpeg));
  jpeg.insert(jpeg.end() - 2, 40, 0x11);
  const std::string stray = dir.Path("stray.jpg");
  WriteBytes(stray, jpeg);

  vtest::TXvfb server(vtest::FindProgram("Xvfb"));
  if (server.Display().empty()) GTEST_SKIP() << "Xvfb did not start";
  vtest::TRealPainter p(server, dir.Dir());
  ASSERT_TRUE(p.Start({QString::fromStdString(big)})) << p.Error();
  auto logged = [&](const std::string& part) {
    for (const std::string& line : p.Messages())
      if (line.find(part) != std::string::npos) return true;
    return false;
  };
  ASSERT_TRUE(QTest::qWaitFor([&] { return logged("5000"); }, 20000)) << "the picture was not refused";
  EXPECT_FALSE(logged("イベントデータがエクスポート出来なくなります"));  // no paper was made of it
  EXPECT_EQ(FileBytes(big), original);

  QProcess second;
  second.setProcessEnvironment(p.Env);
  second.start(QString::fromStdString(vtest::TRealPainter::Program()), {QString::fromStdString(stray)});
  ASSERT_TRUE(second.waitForFinished(20000));
  EXPECT_TRUE(QTest::qWaitFor([&] { return logged("イベントデータがエクスポート出来なくなります"); }, 20000))
      << "the JPEG was not opened";
  EXPECT_FALSE(logged("ファイルが壊れています"));
}

}  // namespace
