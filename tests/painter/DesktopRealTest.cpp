// The real painter at its first start on a 1600 x 1000 desktop with a window manager, in each
// language, as a new user meets it: the autosave warning keeps its own status-bar field while
// the pointer crosses the tool windows and their hints, no tool window covers the status bar,
// and the warning goes once an autosave succeeds; Ctrl+Tab and Ctrl+F4 act on the paper windows
// as the toolkit's own windows would have them; after a port in use the session window has the
// keyboard.
#include <gtest/gtest.h>

#include <QImage>
#include <QTcpServer>
#include <QTest>
#include <filesystem>
#include <fstream>

#include "common/RealPainter.h"
#include "common/RecordEvents.h"
#include "common/TempDir.h"
#include "engine/EventPacket.h"
#include "engine/Paper.h"

namespace {

using vtest::TScreenRect;

// The main window's status bar: its bottom 18 rows.
constexpr int kStatusBarHeight = 18;

struct TLanguage {
  const char* Name;
  int Japanese;
};
const TLanguage kLanguages[] = {{"Japanese", 1}, {"French", 0}};
void PrintTo(const TLanguage& l, std::ostream* os) { *os << l.Name; }

// Pixels of a part of the screen that count: the warning's red text, or dark text.
int RedPixels(const QImage& shot, const TScreenRect& r) {
  int n = 0;
  for (int y = r.Y; y < r.Bottom(); ++y)
    for (int x = r.X; x < r.Right(); ++x) {
      const QRgb p = shot.pixel(x, y);
      n += qRed(p) > 0x90 && qGreen(p) < 0x60 && qBlue(p) < 0x60;
    }
  return n;
}
int DarkPixels(const QImage& shot, const TScreenRect& r) {
  int n = 0;
  for (int y = r.Y; y < r.Bottom(); ++y)
    for (int x = r.X; x < r.Right(); ++x) {
      const QRgb p = shot.pixel(x, y);
      n += qRed(p) < 0x60 && qGreen(p) < 0x60 && qBlue(p) < 0x60;
    }
  return n;
}

class DesktopRealSmoke : public ::testing::TestWithParam<TLanguage> {
 protected:
  // The painter at its first start (maximised, tool windows at their default places) with a
  // blank 600 x 400 picture opened; empty when all is ready, else why the test cannot go on
  // (a '!' first when that is a failure).
  std::string Start() {
    if (std::string why = vtest::TRealPainter::Missing(); !why.empty()) return why;
    if (vtest::FindProgram("xwd").empty()) return "xwd is needed (Debian package x11-apps): no screenshots";
    server = std::make_unique<vtest::TXvfb>(vtest::FindProgram("Xvfb"), "1600x1000x24", vtest::TDesktopKind::Managed);
    if (!server->Managed()) return server->WhyNotManaged();
    painter = std::make_unique<vtest::TRealPainter>(*server, dir.Dir());
    std::ofstream(painter->Settings + "/brenmoor.reg")
        << "[Software\\Brenmoor\\Vellora]\nJapanese\tdword\t" << GetParam().Japanese << "\n";
    std::ofstream(dir.Path("lsan.supp")) << "leak:libdbus-1.so\n";
    painter->Env.insert("LSAN_OPTIONS", QString::fromStdString("suppressions=" + dir.Path("lsan.supp")));
    const std::string file = dir.Path("blank.wpb");
    {
      TPaper paper;
      TEventPacket record;
      record.WriteNewPaper(600, 400);
      if (!paper.Init("blank", 600, 400) || !paper.SaveToFile(file, false, record)) return "!no picture file";
    }
    if (!painter->Start({QString::fromStdString(file)})) return "!the main window did not show: " + painter->Error();
    main = QString::fromStdString(painter->MainWindow());
    painter->Xdo({"windowactivate", "--sync", main});
    if (!QTest::qWaitFor([&] { return PaperCentre(painter->Screenshot()).x() >= 0; }, 20000))
      return "!the picture did not open";
    return {};
  }
  // The centre of the paper's white on the screen; (-1, -1) while it does not show.
  static QPoint PaperCentre(const QImage& shot) {
    int left = shot.width(), right = -1, top = shot.height(), bottom = -1, n = 0;
    for (int y = 0; y < shot.height(); y += 4)
      for (int x = 0; x < shot.width(); x += 4)
        if ((shot.pixel(x, y) & 0xFFFFFF) == 0xFFFFFF) {
          ++n;
          left = std::min(left, x), right = std::max(right, x), top = std::min(top, y), bottom = std::max(bottom, y);
        }
    // 600 x 400 white pixels, a sixteenth of them sampled.
    if (n < 12000) return {-1, -1};
    return {(left + right) / 2, (top + bottom) / 2};
  }
  static int WhitePixels(const QImage& shot) {
    int n = 0;
    for (int y = 0; y < shot.height(); ++y)
      for (int x = 0; x < shot.width(); ++x) n += (shot.pixel(x, y) & 0xFFFFFF) == 0xFFFFFF;
    return n;
  }
  TScreenRect StatusBar() {
    const TScreenRect c = painter->Client(main.toStdString());
    return {c.X, c.Bottom() - kStatusBarHeight, c.W, kStatusBarHeight};
  }
  // The status bar's left half, where hints show, and its right end, where the warning's field
  // stands.
  TScreenRect HintPart() {
    const TScreenRect s = StatusBar();
    return {s.X, s.Y + 2, s.W / 2, s.H - 4};
  }
  TScreenRect WarningPart() {
    const TScreenRect s = StatusBar();
    return {s.X + s.W / 2, s.Y + 2, s.W / 2, s.H - 4};
  }
  // `count` short pen strokes around `at`, their moves apart in time so that the toolkit does
  // not merge them into one point.
  void Strokes(QPoint at, int count) {
    QStringList args;
    for (int i = 0; i < count; ++i) {
      const int y = at.y() - 60 + (i % 12) * 10;
      args << "mousemove" << QString::number(at.x() - 60) << QString::number(y) << "mousedown" << "1";
      for (int k = 1; k <= 5; ++k)
        args << "sleep" << "0.01" << "mousemove" << QString::number(at.x() - 60 + 20 * k)
             << QString::number(y + (k % 3) * 3);
      args << "mouseup" << "1" << "sleep" << "0.02";
    }
    painter->Xdo(args, 60000);
  }
  // The centre of a tool window's client area on the screen.
  QPoint Centre(const std::string& window) {
    const TScreenRect c = painter->Client(window);
    return {c.X + c.W / 2, c.Y + c.H / 2};
  }
  void Hover(QPoint at) { painter->Xdo({"mousemove", QString::number(at.x()), QString::number(at.y())}); }

  TTempDir dir;
  std::unique_ptr<vtest::TXvfb> server;
  std::unique_ptr<vtest::TRealPainter> painter;
  QString main;
};

#define START_OR_SKIP()                                \
  do {                                                 \
    const std::string why = Start();                   \
    if (!why.empty() && why[0] == '!') FAIL() << why;  \
    if (!why.empty()) GTEST_SKIP() << why;             \
  } while (0)

TEST_P(DesktopRealSmoke, TheAutosaveWarningStaysWhileThePointerCrossesTheToolWindows) {
  // The data folder is a plain file: no autosave can be written.
  std::filesystem::create_directories(dir.Path("data"));
  std::ofstream(dir.Path("data/vellora")) << "not a folder";
  START_OR_SKIP();
  vtest::TRealPainter& p = *painter;
  const TScreenRect bar = StatusBar();
  for (const std::string& w : p.Windows()) {
    if (w == main.toStdString()) continue;
    EXPECT_FALSE(p.Frame(w).Overlaps(bar)) << p.Name(w) << " " << p.Frame(w) << " covers the status bar " << bar;
  }

  Strokes(PaperCentre(p.Screenshot()), 51);
  ASSERT_TRUE(QTest::qWaitFor([&] { return RedPixels(p.Screenshot(), WarningPart()) > 30; }, 30000))
      << "no warning after 51 strokes and the pause";

  // Across every tool window, then onto the colour window's stock, whose hint takes the status
  // bar's message: the warning's field keeps its text.
  for (const std::string& w : p.Windows())
    if (w != main.toStdString()) Hover(Centre(w));
  const std::string colour = p.FindWindow(GetParam().Japanese ? "カラーパレット" : "Palette");
  ASSERT_FALSE(colour.empty()) << "no colour window";
  const TScreenRect hint = HintPart();
  auto hintShown = [&](const QImage& shot) { return shot.copy(hint.X, hint.Y, hint.W, hint.H); };
  const QImage before = hintShown(p.Screenshot());
  // The stock: the column of 40 x 96 at the window's left.
  const TScreenRect c = p.Client(colour);
  Hover({c.X + 24, c.Y + 50});
  ASSERT_TRUE(QTest::qWaitFor(
      [&] {
        const QImage shot = p.Screenshot();
        return DarkPixels(shot, hint) > 30 && hintShown(shot) != before;
      },
      20000))
      << "the stock's hint did not show";
  EXPECT_GT(RedPixels(p.Screenshot(), WarningPart()), 30) << "a hint took the warning away";

  // A folder to write into: the next try succeeds and the warning goes.
  std::filesystem::remove(dir.Path("data/vellora"));
  std::filesystem::create_directories(dir.Path("data/vellora"));
  EXPECT_TRUE(QTest::qWaitFor([&] { return std::filesystem::exists(dir.Path("data/vellora/$$$tmp.wpb")); }, 30000))
      << "no autosave once the folder is there";
  {
    // Renamed into place once whole: the paper and the 51 strokes.
    TPaper saved;
    TEventPacket record;
    ASSERT_TRUE(saved.LoadFromFile(dir.Path("data/vellora/$$$tmp.wpb"), record));
    EXPECT_EQ(vtest::StrokeEvents(record), 51);
  }
  EXPECT_TRUE(QTest::qWaitFor([&] { return RedPixels(p.Screenshot(), WarningPart()) == 0; }, 20000))
      << "the warning stayed after the autosave";
}

// Ctrl+Tab goes to the other paper window and leaves the tool windows shown; Ctrl+F4 closes the
// active paper window through its question, as Ctrl+W does.
TEST_P(DesktopRealSmoke, CtrlTabSwitchesPaperWindowsAndCtrlF4ClosesTheActiveOne) {
  START_OR_SKIP();
  vtest::TRealPainter& p = *painter;
  const size_t windows = p.Windows().size();
  // A second paper, 480 x 320, in front of the picture.
  const std::string title = GetParam().Japanese ? "新規作成" : "Nou";
  p.Xdo({"key", "--clearmodifiers", "ctrl+n"});
  ASSERT_TRUE(QTest::qWaitFor([&] { return !p.FindWindow(title).empty(); }, 20000)) << "no new-paper dialog";
  p.Xdo({"key", "Return"});
  ASSERT_TRUE(QTest::qWaitFor([&] { return p.FindWindow(title).empty(); }, 20000));
  ASSERT_TRUE(QTest::qWaitFor([&] { return WhitePixels(p.Screenshot()) >= 480 * 320; }, 20000));

  p.Xdo({"key", "ctrl+Tab"});
  p.Xdo({"key", "ctrl+F4"});
  const std::string question = GetParam().Japanese ? "本当に閉じますか" : "Fermer la fen";
  ASSERT_TRUE(QTest::qWaitFor(
      [&] {
        for (const std::string& line : p.Messages())
          if (line.find(question) != std::string::npos) return true;
        return false;
      },
      20000))
      << "Ctrl+F4 did not ask";
  EXPECT_EQ(p.Windows().size(), windows) << "Ctrl+Tab showed or hid tool windows";
  // The picture was closed: the new paper's white alone stays.
  auto newPaperLeft = [&] {
    const int white = WhitePixels(p.Screenshot());
    return white >= 480 * 320 && white < 600 * 400;
  };
  EXPECT_TRUE(QTest::qWaitFor(newPaperLeft, 20000)) << WhitePixels(p.Screenshot()) << " white pixels";
}

// Standing by on a port another program holds: the message, then the session window comes back
// active, and what is typed next goes into its port box, not to the window behind.
TEST_P(DesktopRealSmoke, APortInUseBringsTheSessionWindowBackActiveWithTheKeysInItsPortBox) {
  START_OR_SKIP();
  vtest::TRealPainter& p = *painter;
  // The session window's port at its first start, held here for the whole test: another run of
  // this test may hold it for a while, and had it let go before the painter asked, the port would
  // not be in use.
  QTcpServer holder;
  ASSERT_TRUE(QTest::qWaitFor([&] { return holder.listen(QHostAddress::Any, 9001); }, 120000))
      << "port 9001 stayed in use by another program";

  // Network menu, fifth along the menu bar, opened by the keyboard on its first item, then its
  // fourth item: the session window.
  std::set<std::string> before = p.AllWindows();
  p.Xdo({"mousemove", "--window", main, "20", "10", "click", "1"});
  ASSERT_FALSE(p.NewWindow(before).empty()) << "the File menu did not open";
  for (int i = 0; i < 4; ++i) {
    before = p.AllWindows();
    p.Xdo({"key", "Right"});
    ASSERT_FALSE(p.NewWindow(before).empty()) << "menu " << i + 2 << " did not open";
  }
  p.Xdo({"key", "Down", "Down", "Down", "Return"});
  std::string net;
  const std::string title = GetParam().Japanese ? "ネットワークウィンドウ" : "Menu Réseau";
  ASSERT_TRUE(QTest::qWaitFor([&] { return !(net = p.FindWindow(title)).empty(); }, 20000)) << "no session window";
  const QString netId = QString::fromStdString(net);
  p.Xdo({"windowactivate", "--sync", netId});
  // The stand-by button of the host's page, open first.
  p.Xdo({"mousemove", "--window", netId, "222", "37", "click", "1"});
  const std::string told = GetParam().Japanese ? "既に使われています" : "déjà utilisé";
  auto toldOf = [&](const std::string& port) {
    return QTest::qWaitFor(
        [&] {
          for (const std::string& line : p.Messages())
            if (line.find(told) != std::string::npos && line.find(" " + port) != std::string::npos) return true;
          return false;
        },
        20000);
  };
  ASSERT_TRUE(toldOf("9001")) << "no message about the port";
  EXPECT_TRUE(QTest::qWaitFor([&] { return vtest::WindowId(p.Xdo({"getactivewindow"})) == net; }, 20000))
      << "the active window is " << p.Name(vtest::WindowId(p.Xdo({"getactivewindow"})));

  // Another port in use typed at once, then stand-by again from the host's page: the message
  // names the typed port.
  QTcpServer other;
  ASSERT_TRUE(other.listen(QHostAddress::Any, 0));
  const QString port = QString::number(other.serverPort());
  p.Xdo({"key", "End", "BackSpace", "BackSpace", "BackSpace", "BackSpace", "BackSpace", "BackSpace"});
  p.Xdo({"type", "--delay", "50", port});
  p.Xdo({"mousemove", "--window", netId, "30", "12", "click", "1", "mousemove", "--window", netId, "222", "37", "click",
         "1"});
  EXPECT_TRUE(toldOf(port.toStdString())) << "the keys did not reach the port box";
}

INSTANTIATE_TEST_SUITE_P(Languages, DesktopRealSmoke, ::testing::ValuesIn(kLanguages),
                         [](const ::testing::TestParamInfo<TLanguage>& info) { return std::string(info.param.Name); });

}  // namespace
