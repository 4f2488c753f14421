// The real painter under a window manager: a quit while a hosted session paper's closing
// dialog stays open past the autosave's quiet time writes no autosave and leaves none behind,
// and a JPEG cut short that a second start hands over is told as damaged.
#include <gtest/gtest.h>

#include <QTcpServer>
#include <QTest>
#include <filesystem>

#include "NetTestUtil.h"
#include "common/RealPainter.h"
#include "common/TempDir.h"
#include "engine/TrueCnvs.h"
#include "engine/io/CanvasFiles.h"
#include "platform/core/Files.h"
#include "platform/core/Settings.h"
#include "platform/qt/WindowMessages.h"

namespace {

bool Logged(vtest::TRealPainter& p, const std::string& text) {
  for (const std::string& line : p.Messages())
    if (line.find(text) != std::string::npos) return true;
  return false;
}

TEST(AutosaveSmoke, AQuitWithASessionPapersDialogOpenLeavesNoAutosave) {
  if (const std::string why = vtest::TRealPainter::Missing(); !why.empty()) GTEST_SKIP() << why;
  vtest::TXvfb server(vtest::FindProgram("Xvfb"), "1600x1000x24", vtest::TDesktopKind::Managed);
  if (!server.Managed()) GTEST_SKIP() << server.WhyNotManaged();
  TTempDir dir;
  vtest::TRealPainter p(server, dir.Dir());
  const std::string autosave = p.Data + "/vellora/$$$tmp.wpb";

  // The lobby's key asks for a hosted session.
  WithEnv("VELLORA_SETTINGS_DIR", p.Settings, [&] {
    plat::TRegistry key;
    ASSERT_TRUE(key.OpenKey("Software\\Brenmoor\\Roomvane\\vlConfig", true));
    key.WriteBool("IsServer", true);
    key.WriteString("User", "HOTE");
    key.WriteString("Password", "pw");
    key.WriteInteger("X", 320);
    key.WriteInteger("Y", 240);
    key.WriteInteger("Port", FreePort());
    key.WriteInteger("MaxConnections", 2);
    key.WriteInteger("Layer", 1);
  });
  // The file dialog brings in the desktop bus library, whose own allocations outlive the program.
  const QString asan = p.Env.value("ASAN_OPTIONS");
  p.Env.insert("ASAN_OPTIONS", (asan.isEmpty() ? "" : asan + ":") + "detect_leaks=0");
  ASSERT_TRUE(p.Start()) << p.Error();
  WithEnv("XDG_RUNTIME_DIR", p.Runtime, [&] {
    ASSERT_TRUE(QTest::qWaitFor([] { return plat::FindWindowClass("TVLMain", 200); }, 20000));
    // The address is taken at once; the post goes out from the event loop that waits next.
    plat::PostWindowMessage("TVLMain", plat::TWindowMessage{0x601, 0, 0, {}});
  });
  ASSERT_TRUE(QTest::qWaitFor([&] { return !p.FindWindow("チャットウィンドウ").empty(); }, 20000))
      << "the session did not start";

  // Pictures handed over by a second start: one cut short, then a whole one to draw on.
  TTC picture(300, 200);
  for (int y = 0; y < 200; ++y)
    for (int x = 0; x < 300; ++x) picture.SetPixel(x, y, 0xFF000000u | uint32_t(x * 7 + y * 3) * 0x010101u);
  std::vector<uint8_t> jpeg;
  ASSERT_TRUE(EncodeJPEG(picture, 90, jpeg));
  jpeg.resize(jpeg.size() * 2 / 3);
  ASSERT_TRUE(plat::WriteFileAtomic(dir.Path("cut.jpg"), jpeg.data(), jpeg.size()));
  ASSERT_TRUE(SaveBMP(picture, dir.Path("whole.bmp")));
  auto handOver = [&](const std::string& file) {
    QProcess second;
    second.setProcessEnvironment(p.Env);
    second.start(QString::fromStdString(vtest::TRealPainter::Program()), {QString::fromStdString(file)});
    return second.waitForFinished(20000) && second.exitCode() == 0;
  };
  ASSERT_TRUE(handOver(dir.Path("cut.jpg")));
  EXPECT_TRUE(QTest::qWaitFor([&] { return Logged(p, "ファイルが壊れています！"); }, 20000)) << "not told as damaged";
  ASSERT_TRUE(handOver(dir.Path("whole.bmp")));
  ASSERT_TRUE(QTest::qWaitFor([&] { return Logged(p, "イベントデータがエクスポート出来なくなります"); }, 20000));

  // 51 strokes on the picture, right of the tool box that stands above its left edge, and the
  // pause after which they are autosaved.
  const QString main = QString::fromStdString(p.MainWindow());
  // They wait until the picture's paper window is up above the session's where they go: its
  // blue rises by 7 from each pixel to the next on a row, which the white session paper's
  // does not.
  ASSERT_TRUE(QTest::qWaitFor(
      [&] {
        const QImage shot = p.Screenshot();
        const vtest::TScreenRect c = p.Client(p.MainWindow());
        int rising = 0;
        for (int y = c.Y + 130; y < c.Y + 200; ++y)
          for (int x = c.X + 160; x < c.X + 250; ++x)
            rising += shot.valid(x + 1, y) && ((qBlue(shot.pixel(x + 1, y)) - qBlue(shot.pixel(x, y))) & 0xFF) == 7;
        return rising >= 70 * 90 * 9 / 10;
      },
      20000))
      << "the picture's paper window did not come up";
  p.Xdo({"windowactivate", "--sync", main});
  auto draw51 = [&] {
    QStringList args;
    for (int i = 0; i < 51; ++i) {
      const int y = 130 + (i % 12) * 6;
      args << "mousemove" << "--window" << main << "160" << QString::number(y) << "mousedown" << "1";
      for (int k = 1; k <= 6; ++k)
        args << "mousemove" << "--window" << main << QString::number(160 + 15 * k) << QString::number(y + (k % 3) * 4);
      args << "mouseup" << "1" << "sleep" << "0.02";
    }
    p.Xdo(args, 60000);
  };
  auto bytes = [&] {
    std::vector<uint8_t> b;
    plat::ReadWholeFile(autosave, b);
    return b;
  };
  draw51();
  ASSERT_TRUE(QTest::qWaitFor([&] { return std::filesystem::exists(autosave); }, 20000))
      << "the strokes were not autosaved";
  const std::vector<uint8_t> first = bytes();
  ASSERT_FALSE(first.empty());

  // 51 more, then at once the quit. The session paper closes first and asks where to keep its
  // record; the dialog stays open past the quiet time after which they would be autosaved.
  draw51();
  p.Xdo({"key", "--window", main, "ctrl+q"});
  std::string dialog;
  ASSERT_TRUE(QTest::qWaitFor([&] { return !(dialog = p.FindWindow("Exporter fichier event")).empty(); }, 20000))
      << "no dialog for the session's record";
  EXPECT_FALSE(QTest::qWaitFor([&] { return bytes() != first; }, 8000))
      << "the autosave was written or deleted while the papers were closing";
  p.Xdo({"windowactivate", "--sync", QString::fromStdString(dialog)});
  p.Xdo({"key", "--window", QString::fromStdString(dialog), "Escape"});
  ASSERT_TRUE(p.Proc.waitForFinished(20000)) << "the program did not end";
  EXPECT_EQ(p.Proc.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(p.Proc.exitCode(), 0) << p.Error();
  EXPECT_FALSE(std::filesystem::exists(autosave));
  EXPECT_TRUE(Logged(p, "アプリケーションを終了しますか？"));
}

}  // namespace
