// The real painter on a desktop with a window manager, driven by xdotool: held keys through a
// modal dialog, and menus as their openings set them.
#include <gtest/gtest.h>

#include <QImage>
#include <QProcess>
#include <QTest>
#include <algorithm>
#include <fstream>
#include <set>

#include "common/RealPainter.h"
#include "common/RecordEvents.h"
#include "common/TempDir.h"
#include "engine/EventPacket.h"
#include "engine/Paper.h"
#include "engine/io/CanvasFiles.h"

namespace {

// A white picture file with only its new-paper event.
void WriteBlank(const std::string& path, int32_t w, int32_t h) {
  TPaper paper;
  ASSERT_TRUE(paper.Init("blank", w, h));
  TEventPacket record;
  record.WriteNewPaper(w, h);
  ASSERT_TRUE(paper.SaveToFile(path, false, record));
}

class Desktop {
 public:
  // A managed desktop and the painter on it with `file` opened, its main window 900 x 700
  // and focused. Empty when all is ready, else why the test cannot go on.
  // With `maximised` the main window starts maximised instead.
  std::string Start(const std::string& file, bool maximised = false) {
    if (std::string why = vtest::TRealPainter::Missing(); !why.empty()) return why;
    server = std::make_unique<vtest::TXvfb>(vtest::FindProgram("Xvfb"), "1600x1000x24", vtest::TDesktopKind::Managed);
    if (!server->Managed()) return server->WhyNotManaged();
    painter = std::make_unique<vtest::TRealPainter>(*server, dir.Dir());
    std::ofstream(painter->Settings + "/brenmoor.reg")
        << (maximised ? "[Software\\Brenmoor\\Vellora]\nJapanese\tdword\t1\nMaximized\tdword\t1\n"
                      : "[Software\\Brenmoor\\Vellora]\nJapanese\tdword\t1\nMaximized\tdword\t0\nWinLeft\tdword\t300\n"
                        "WinTop\tdword\t150\nWinWidth\tdword\t900\nWinHeight\tdword\t700\n");
    std::ofstream(dir.Path("lsan.supp")) << "leak:libdbus-1.so\n";
    painter->Env.insert("LSAN_OPTIONS", QString::fromStdString("suppressions=" + dir.Path("lsan.supp")));
    if (!painter->Start({QString::fromStdString(file)})) return "!the main window did not show: " + painter->Error();
    main = QString::fromStdString(painter->MainWindow());
    painter->Xdo({"windowactivate", "--sync", main});
    // The first activation opens the picture: white paper inside the main window.
    // Maximised, the paper window goes where the tool windows leave room.
    const bool paper = QTest::qWaitFor(
        [&] {
          if (maximised) return WhitePixels() > 50000;
          const QImage shot = painter->Screenshot();
          const QPoint at = Screen(150, 150);
          return shot.valid(at) && (shot.pixel(at) & 0xFFFFFF) == 0xFFFFFF;
        },
        20000);
    return paper ? std::string() : "!the picture did not open";
  }
  // A point given relative to the main window's client area, on the screen.
  QPoint Screen(int x, int y) {
    const vtest::TScreenRect c = painter->Client(main.toStdString());
    return {c.X + x, c.Y + y};
  }
  // A pen drag relative to the main window, well inside the paper.
  void Drag(int y) {
    QStringList args{"mousemove", "--window", main, "100", QString::number(y), "mousedown", "1"};
    // Apart in time, so that the toolkit does not merge the moves into one point.
    for (int k = 1; k <= 8; ++k)
      args << "sleep" << "0.05" << "mousemove" << "--window" << main << QString::number(100 + 15 * k)
           << QString::number(y + (k % 3) * 4);
    args << "mouseup" << "1";
    painter->Xdo(args);
  }
  // Ctrl+S on a named paper: saved over its file once the message says so.
  bool Save() {
    const size_t before = painter->Messages().size();
    painter->Xdo({"key", "--clearmodifiers", "ctrl+s"});
    return QTest::qWaitFor(
        [&] {
          const std::vector<std::string> m = painter->Messages();
          return m.size() > before && m.back().find("画像を保存しました") != std::string::npos;
        },
        20000);
  }

  // The popup window that opens after `before` was taken, once shown; empty when none came.
  std::string NewPopup(const std::set<std::string>& before) { return painter->NewWindow(before); }
  // The items of an open menu as it draws them, top to bottom: true for an enabled item (dark
  // text, or the highlight), false for a greyed one. Separators and the frame are too thin to
  // count. Waits until `count` items are drawn.
  std::vector<bool> Items(const std::string& popup, size_t count) {
    std::vector<bool> items;
    (void)QTest::qWaitFor(
        [&] {
          items.clear();
          const QImage shot = painter->Screenshot(popup);
          int top = -1, darkest = 255;
          for (int y = 0; y <= shot.height(); ++y) {
            int m = 255;
            for (int x = 6; y < shot.height() && x < shot.width() - 6; ++x) {
              const QRgb p = shot.pixel(x, y);
              m = std::min({m, qRed(p), qGreen(p), qBlue(p)});
            }
            if (m < 0xE0) {
              if (top < 0) top = y, darkest = m;
              darkest = std::min(darkest, m);
            } else if (top >= 0) {
              if (y - top >= 5) items.push_back(darkest < 0x60);
              top = -1;
            }
          }
          return items.size() == count;
        },
        20000);
    return items;
  }

  // Pixels of the screen in the paper's white.
  int WhitePixels() {
    const QImage shot = painter->Screenshot();
    int n = 0;
    for (int y = 0; y < shot.height(); y += 2)
      for (int x = 0; x < shot.width(); x += 2) n += (shot.pixel(x, y) & 0xFFFFFF) == 0xFFFFFF;
    return 4 * n;
  }
  bool Told(const std::string& text) {
    for (const std::string& line : painter->Messages())
      if (line.find(text) != std::string::npos) return true;
    return false;
  }

  TTempDir dir;
  std::unique_ptr<vtest::TXvfb> server;
  std::unique_ptr<vtest::TRealPainter> painter;
  QString main;
};

#define START_OR_SKIP(desk, ...)                         \
  do {                                                   \
    const std::string why = (desk).Start(__VA_ARGS__);   \
    if (!why.empty() && why[0] == '!') FAIL() << why;    \
    if (!why.empty()) GTEST_SKIP() << why;               \
  } while (0)

TEST(DesktopSmoke, CtrlLetGoAsTheNewPaperDialogOpensLeavesTheNextStrokeDrawing) {
  Desktop desk;
  const std::string file = desk.dir.Path("blank.wpb");
  WriteBlank(file, 300, 200);
  START_OR_SKIP(desk, file);
  vtest::TRealPainter& p = *desk.painter;

  // Ctrl+N as one quick chord: both keys come up while the dialog opens.
  const size_t windows = p.Windows().size();
  p.Xdo({"key", "ctrl+n"});
  ASSERT_TRUE(QTest::qWaitFor([&] { return !p.FindWindow("新規作成").empty(); }, 20000)) << "no new-paper dialog";
  p.Xdo({"key", "Escape"});
  ASSERT_TRUE(QTest::qWaitFor([&] { return p.FindWindow("新規作成").empty() && p.Windows().size() == windows; }, 20000));
  p.Xdo({"windowactivate", "--sync", desk.main});

  desk.Drag(140);
  ASSERT_TRUE(desk.Save()) << "no save message";
  TPaper saved;
  TEventPacket record;
  ASSERT_TRUE(saved.LoadFromFile(file, record));
  EXPECT_EQ(vtest::StrokeEvents(record), 1) << "the stroke was refused: a key is taken as held";
  saved.Composite();
  int drawn = 0;
  for (int32_t y = 0; y < 200; ++y)
    for (int32_t x = 0; x < 300; ++x) drawn += (saved.CompositeImage.GetPixel(x, y) & 0xFF) < 0xC0;
  EXPECT_GT(drawn, 20);
}

// A picture opened from a BMP file has a record that cannot rebuild it and nothing to undo:
// the menus, opened by a click and moved through with the keyboard, show Export and Undo
// greyed while saving and the transforms stay, and the Window menu ends with the paper.
TEST(MenuSmoke, MenusOpenedByAClickShowTheStatesTheirOpeningsSet) {
  Desktop desk;
  const std::string file = desk.dir.Path("white.bmp");
  {
    TPaper paper;
    ASSERT_TRUE(paper.Init("white", 300, 200));
    ASSERT_TRUE(SaveBMP(paper.CompositeImage, file));
  }
  START_OR_SKIP(desk, file);
  vtest::TRealPainter& p = *desk.painter;

  std::set<std::string> before = p.AllWindows();
  p.Xdo({"mousemove", "--window", desk.main, "20", "10", "click", "1"});
  std::string popup = desk.NewPopup(before);
  ASSERT_FALSE(popup.empty()) << "the File menu did not open";
  // New, Open, Close, Save, Save As, Save Copy, Import, Export, Settings, Exit.
  std::vector<bool> file1 = desk.Items(popup, 10);
  ASSERT_EQ(file1.size(), 10u);
  EXPECT_TRUE(file1[3]) << "Save";
  EXPECT_FALSE(file1[7]) << "Export";

  before = p.AllWindows();
  p.Xdo({"key", "Right"});
  popup = desk.NewPopup(before);
  ASSERT_FALSE(popup.empty()) << "the Edit menu did not open";
  // Undo, Copy, Paste, Paper colour, Resize, Resolution, four transforms, two rotations.
  std::vector<bool> edit = desk.Items(popup, 12);
  ASSERT_EQ(edit.size(), 12u);
  EXPECT_FALSE(edit[0]) << "Undo";
  EXPECT_TRUE(edit[2]) << "Paste";
  EXPECT_TRUE(edit[6]) << "Flip";

  // Show, then Window: its eleven items and the paper window at the end.
  before = p.AllWindows();
  p.Xdo({"key", "Right"});
  ASSERT_FALSE(desk.NewPopup(before).empty()) << "the Show menu did not open";
  before = p.AllWindows();
  p.Xdo({"key", "Right"});
  popup = desk.NewPopup(before);
  ASSERT_FALSE(popup.empty()) << "the Window menu did not open";
  EXPECT_EQ(desk.Items(popup, 12).size(), 12u);
  p.Xdo({"key", "Escape"});
}

// Ctrl+W closes the active paper window through its question, as the File menu says: the
// sub-window's own close key does not make it ambiguous.
TEST(DesktopSmoke, CtrlWClosesThePaperWindowAfterItsQuestion) {
  Desktop desk;
  const std::string file = desk.dir.Path("blank.wpb");
  WriteBlank(file, 300, 200);
  START_OR_SKIP(desk, file);
  vtest::TRealPainter& p = *desk.painter;
  p.Xdo({"mousemove", "--window", desk.main, "150", "150", "click", "1"});
  p.Xdo({"key", "--clearmodifiers", "ctrl+w"});
  EXPECT_TRUE(QTest::qWaitFor([&] { return desk.Told("本当に閉じますか"); }, 20000)) << "the key did not ask";
  EXPECT_TRUE(QTest::qWaitFor(
      [&] {
        const QImage shot = p.Screenshot();
        const QPoint at = desk.Screen(150, 150);
        return shot.valid(at) && (shot.pixel(at) & 0xFFFFFF) != 0xFFFFFF;
      },
      20000))
      << "the paper window stayed";
}

// A focus left on Cancel at one opening of the new-paper dialog is not there at the next: Enter
// in its first field makes the paper.
TEST(DesktopSmoke, EnterInTheNewPaperDialogMeansOkAfterCancelHadTheFocus) {
  Desktop desk;
  const std::string file = desk.dir.Path("blank.wpb");
  WriteBlank(file, 300, 200);
  START_OR_SKIP(desk, file);
  vtest::TRealPainter& p = *desk.painter;
  p.Xdo({"key", "--clearmodifiers", "ctrl+n"});
  std::string dialog;
  ASSERT_TRUE(QTest::qWaitFor([&] { return !(dialog = p.FindWindow("新規作成")).empty(); }, 20000));
  // Pressed on Cancel and let go beside it: Cancel has the focus, and nothing is clicked.
  const QString d = QString::fromStdString(dialog);
  p.Xdo({"mousemove", "--window", d, "180", "124", "mousedown", "1", "mousemove", "--window", d, "300", "20",
         "mouseup", "1"});
  p.Xdo({"key", "Escape"});
  ASSERT_TRUE(QTest::qWaitFor([&] { return p.FindWindow("新規作成").empty(); }, 20000));
  const int before = desk.WhitePixels();
  p.Xdo({"key", "--clearmodifiers", "ctrl+n"});
  ASSERT_TRUE(QTest::qWaitFor([&] { return !p.FindWindow("新規作成").empty(); }, 20000));
  p.Xdo({"key", "Return"});
  ASSERT_TRUE(QTest::qWaitFor([&] { return p.FindWindow("新規作成").empty(); }, 20000));
  // A new 480 x 320 paper shows.
  EXPECT_TRUE(QTest::qWaitFor([&] { return desk.WhitePixels() > before + 80000; }, 20000)) << "Enter cancelled";
}

// A maximised main window minimised, then handed a file by a second start, comes back maximised.
TEST(DesktopSmoke, AMaximisedWindowMinimisedComesBackMaximisedOnAHandOver) {
  Desktop desk;
  const std::string file = desk.dir.Path("blank.wpb"), second = desk.dir.Path("second.wpb");
  WriteBlank(file, 300, 200);
  WriteBlank(second, 200, 100);
  START_OR_SKIP(desk, file, true);
  vtest::TRealPainter& p = *desk.painter;
  const vtest::TScreenRect screen = p.Screen();
  auto maximised = [&] {
    const std::string state = p.Tool("xprop", {"-id", desk.main, "_NET_WM_STATE"});
    return state.find("_NET_WM_STATE_MAXIMIZED_VERT") != std::string::npos &&
           state.find("_NET_WM_STATE_HIDDEN") == std::string::npos && p.Client(desk.main.toStdString()).W > screen.W - 20;
  };
  ASSERT_TRUE(QTest::qWaitFor(maximised, 20000)) << "not maximised at the start";
  p.Xdo({"windowminimize", "--sync", desk.main});
  ASSERT_TRUE(QTest::qWaitFor([&] { return !maximised(); }, 20000));
  QProcess again;
  again.setProcessEnvironment(p.Env);
  again.start(QString::fromStdString(vtest::TRealPainter::Program()), {QString::fromStdString(second)});
  ASSERT_TRUE(again.waitForFinished(30000));
  EXPECT_TRUE(QTest::qWaitFor(maximised, 20000)) << "came back as " << p.Client(desk.main.toStdString());
}

}  // namespace
