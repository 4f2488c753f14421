#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <utime.h>

#include <QAbstractButton>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCursor>
#include <QLabel>
#include <QListWidget>
#include <QScreen>
#include <QMimeData>
#include <QProcess>
#include <QRadioButton>
#include <QSpinBox>
#include <QTest>
#include <QUrl>
#include <filesystem>
#include <fstream>
#include <regex>

#include "common/TempDir.h"
#include "engine/EventPacket.h"
#include "engine/Paper.h"
#include "platform/core/Clock.h"
#include "platform/core/KeyState.h"
#include "platform/core/MessageBox.h"
#include "platform/core/Screen.h"
#include "platform/qt/Desktop.h"
#include "platform/qt/SingleInstance.h"
#include "platform/qt/WindowMessages.h"
#include "viewer/Viewer.h"
#include "viewer/ViewerMenu.h"

namespace {

const std::string kWpeTool = std::string(VELL_BINARY_DIR) + "/tools/wpetool";
const std::string kViewer = std::string(VELL_BINARY_DIR) + "/viewer/vellview";

// Writes an event file from its text form with wpetool (the engine's own recorder).
std::string Wpe(const TTempDir& dir, const std::string& name, const std::string& text) {
  const std::string txt = dir.Path(name + ".txt"), out = dir.Path(name);
  std::ofstream(txt) << text;
  QProcess p;
  p.start(QString::fromStdString(kWpeTool), {QString::fromStdString("build"), QString::fromStdString(txt),
                                            QString::fromStdString(out)});
  EXPECT_TRUE(p.waitForFinished(20000));
  EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
  return out;
}

std::string Paper(int w, int h, const std::string& more = "") {
  return "NewPaper width=" + std::to_string(w) + " height=" + std::to_string(h) + "\n" + more + "End\n";
}

void SetDate(const std::string& path, time_t seconds) {
  struct timeval tv[2] = {{seconds, 0}, {seconds, 0}};
  ASSERT_EQ(utimes(path.c_str(), tv), 0);
}

std::vector<std::string> ListNames(const TForm2& f) {
  std::vector<std::string> out;
  for (int i = 0; i < f.ListBox1->count(); ++i) out.push_back(f.ListBox1->item(i)->text().toStdString());
  return out;
}

// The two windows of the program, with the idle loop driven by the test unless it asks.
struct TViewer {
  TForm1 Form1;
  TForm2 Form2{&Form1};
  explicit TViewer(bool idleLoop = false) { Form1.EnableIdleLoop(idleLoop); }
  // Steps the idle loop until the file ends (or a step limit passes).
  bool PlayToEnd(int limit = 1000000) {
    for (int i = 0; i < limit && Form1.Playing; ++i) Form1.AppIdle();
    return !Form1.Playing && Form1.WaitingNext;
  }
};

// The composite of the file as the headless replay tool renders it.
QImage Render(const TTempDir& dir, const std::string& path) {
  const std::string bmp = dir.Path("render.bmp");
  QProcess p;
  p.start(QString::fromStdString(kWpeTool), {"render", QString::fromStdString(path), QString::fromStdString(bmp)});
  EXPECT_TRUE(p.waitForFinished(60000));
  EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
  return QImage(QString::fromStdString(bmp)).convertToFormat(QImage::Format_RGB32);
}

const char* kGolden =
    "NewPaper width=120 height=90\n"
    "FillRect layer=0 x=10 y=10 w=40 h=30 color=ff0000\n"
    "Stroke kind=0 layer=0 color=0000ff ifsize=1 iftransparency=1 min=50 width=6 gamma=1 "
    "points=20,60,0.5;30,62,0.625;40,65,0.75;60,70,0.875;80,72,0.5;90,50,0\n"
    "NewLayer kind=0\n"
    "FillRect layer=1 x=60 y=5 w=30 h=50 color=00ff00\n"
    "LayerOpacity layer=1 opacity=128\n"
    "Stroke kind=1 layer=1 color=884400 ifsize=1 min=20 width=10 gamma=1 effect=0.5 "
    "points=5,85,0.25;50,40,0.75;115,20,0.5\n"
    "End\n";

}  // namespace

TEST(ViewerPlayback, AFilePlaysToTheEndAndShowsWhatAReplayComposites) {
  TTempDir dir;
  const std::string file = Wpe(dir, "golden.wpe", kGolden);
  TViewer v(true);
  v.Form1.show();
  v.Form2.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&v.Form1));
  v.Form1.OpenSingleFile(file);
  EXPECT_EQ(v.Form1.Playing, 1);
  EXPECT_EQ(v.Form2.ListBox1->currentRow(), 0);
  EXPECT_EQ(ListNames(v.Form2), std::vector<std::string>{"golden.wpe"});
  ASSERT_TRUE(QTest::qWaitFor([&] { return v.Form1.WaitingNext == 1; }, 60000));
  v.Form1.EnableIdleLoop(false);

  // The caption tells how long it took; the window was fitted to the paper plus 80.
  const std::string caption = v.Form1.windowTitle().toStdString();
  EXPECT_TRUE(std::regex_match(caption, std::regex("<OFFLINE>  \"golden.wpe\" 120\\*90 : 100% : <Quitte lecture   : [0-9]+\\[ms\\]>")))
      << caption;
  EXPECT_EQ(v.Form1.ClientWidth(), 200);
  EXPECT_EQ(v.Form1.ClientHeight(), 170);

  // What is on screen at the paper's place is the replayed composite, pixel for pixel; the
  // rest of the window around it is grey.
  const QImage ref = Render(dir, file);
  ASSERT_EQ(ref.size(), QSize(120, 90));
  const int mx = v.Form1.Paper->Display.MarginX, my = v.Form1.Paper->Display.MarginY;
  EXPECT_EQ(mx, 32);
  EXPECT_EQ(my, 32);
  const QImage painted = v.Form1.BackBuffer().Image().copy();
  const QImage shot = v.Form1.grab().toImage().convertToFormat(QImage::Format_RGB32);
  // The back buffer holds what the playback painted step by step (the last stroke was never
  // followed by a whole repaint); the screen shows the buffer.
  int differ = 0, differOnScreen = 0;
  for (int y = 0; y < 90; ++y)
    for (int x = 0; x < 120; ++x) {
      if ((painted.pixel(mx + x, my + y) & 0xFFFFFF) != (ref.pixel(x, y) & 0xFFFFFF)) ++differ;
      if ((shot.pixel(mx + x, my + y) & 0xFFFFFF) != (ref.pixel(x, y) & 0xFFFFFF)) ++differOnScreen;
    }
  EXPECT_EQ(differ, 0);
  EXPECT_EQ(differOnScreen, 0);
  EXPECT_EQ(shot.pixel(mx - 1, my + 10) & 0xFFFFFF, 0x808080u);
  EXPECT_EQ(shot.pixel(mx + 120, my + 10) & 0xFFFFFF, 0x808080u);
  EXPECT_EQ(shot.pixel(mx + 10, my + 90) & 0xFFFFFF, 0x808080u);
  // The picture itself is not trivial: the fills and strokes are there.
  EXPECT_EQ(ref.pixel(15, 15) & 0xFFFFFF, 0xFF0000u);
}

TEST(ViewerPlayback, PausesBetweenFilesAndGoesRoundTheListForEver) {
  TTempDir dir;
  std::filesystem::create_directory(dir.Path("list"));
  for (int i = 0; i < 3; ++i) {
    const std::string name = std::string("list/") + char('a' + i) + ".wpe";
    Wpe(dir, name, Paper(10 * (i + 1), 10, "FillRect layer=0 x=0 y=0 w=3 h=3 color=123456\n"));
  }
  TViewer v;
  v.Form2.RadioGroup1Items->button(1)->setChecked(true);  // by name
  v.Form2.SpinEdit1->setValue(3);
  plat::SetFakeClock(100000);
  v.Form2.FolderChosen(dir.Path("list") + "/");
  ASSERT_EQ(v.Form1.FileCount, 3);
  EXPECT_EQ(ListNames(v.Form2), (std::vector<std::string>{"a.wpe", "b.wpe", "c.wpe"}));
  std::vector<int> widths;
  for (int round = 0; round < 4; ++round) {
    widths.push_back(v.Form1.Paper->Width());
    EXPECT_EQ(v.Form2.ListBox1->currentRow(), v.Form1.FileIndex);
    ASSERT_TRUE(v.PlayToEnd());
    // The pause runs for the chosen seconds, to the millisecond.
    plat::AdvanceFakeClock(2999);
    v.Form1.AppIdle();
    EXPECT_EQ(v.Form1.WaitingNext, 1);
    plat::AdvanceFakeClock(1);
    v.Form1.AppIdle();
    EXPECT_EQ(v.Form1.WaitingNext, 0);
    EXPECT_EQ(v.Form1.Playing, 1);
  }
  EXPECT_EQ(widths, (std::vector<int>{10, 20, 30, 10}));

  // A one-file list starts again; with no pause at the very next step.
  v.Form2.SpinEdit1->setValue(0);
  v.Form1.OpenSingleFile(v.Form1.Paths[2]);
  ASSERT_TRUE(v.PlayToEnd());
  v.Form1.AppIdle();
  EXPECT_EQ(v.Form1.Playing, 1);
  EXPECT_EQ(v.Form1.Paper->Width(), 30);
  EXPECT_EQ(v.Form1.FileIndex, 0);
  plat::UseRealClock();
}

TEST(ViewerPlayback, SlowPlaybackTakesOneStepPerEightMilliseconds) {
  TTempDir dir;
  const std::string file = Wpe(dir, "s.wpe", Paper(20, 20, "FillRect layer=0 x=0 y=0 w=3 h=3 color=123456\n"
                                                             "FillRect layer=0 x=5 y=5 w=3 h=3 color=654321\n"));
  TViewer v;
  plat::SetFakeClock(5000);
  v.Form2.CheckBox1->setChecked(true);
  v.Form1.OpenSingleFile(file);
  const int32_t start = v.Form1.Packet->Data().ReadPos();
  v.Form1.AppIdle();  // within 8 ms of the open: nothing
  EXPECT_EQ(v.Form1.Packet->Data().ReadPos(), start);
  plat::AdvanceFakeClock(8);
  v.Form1.AppIdle();
  const int32_t after = v.Form1.Packet->Data().ReadPos();
  EXPECT_GT(after, start);
  plat::AdvanceFakeClock(7);
  v.Form1.AppIdle();
  EXPECT_EQ(v.Form1.Packet->Data().ReadPos(), after);
  v.Form2.CheckBox1->setChecked(false);
  EXPECT_TRUE(v.PlayToEnd());
  plat::UseRealClock();
}

TEST(ViewerPlayback, CorruptFilesAreReportedAndEndTheProgram) {
  TTempDir dir;
  {
    std::ofstream(dir.Path("garbage.wpe")) << "this is not an event file";
    std::ofstream(dir.Path("empty.wpe"));
  }
  std::filesystem::create_directory(dir.Path("folder.wpe"));
  ASSERT_EQ(mkfifo(dir.Path("pipe.wpe").c_str(), 0600), 0);
  const std::string files[] = {
      dir.Path("garbage.wpe"),
      dir.Path("empty.wpe"),
      Wpe(dir, "end-only.wpe", "End\n"),
      Wpe(dir, "truncated.wpe", "NewPaper width=40 height=40\nRaw hex=2801\n"),
      // Valid streams the player can show nothing of.
      Wpe(dir, "papersize.wpe", "PaperSize width=40 height=40\nFillRect layer=0 x=0 y=0 w=5 h=5 color=ff0000\nEnd\n"),
      Wpe(dir, "zero-wide.wpe", Paper(0, 40)),
      Wpe(dir, "too-high.wpe", Paper(40, 6400)),
      dir.Path("missing.wpe"),
      dir.Path("folder.wpe"),
      dir.Path("pipe.wpe"),  // never read: it would not end
  };
  for (const std::string& f : files) {
    SCOPED_TRACE(f);
    TViewer v;
    v.Form1.show();
    plat::TMessageRecorder rec;
    v.Form1.OpenSingleFile(f);
    ASSERT_EQ(rec.Messages.size(), 1u);
    EXPECT_EQ(rec.Messages[0].Text, "Fichier corrompu <" + f + ">");
    EXPECT_EQ(rec.Messages[0].Flags & 0xF0u, unsigned(plat::MB_ICONERROR));
    EXPECT_FALSE(v.Form1.isVisible());
    EXPECT_EQ(v.Form1.Playing, 0);
    v.Form1.AppIdle();  // nothing left to do, and nothing breaks
  }
  // The largest paper side is still a paper.
  TViewer v;
  plat::TMessageRecorder rec;
  v.Form1.OpenSingleFile(Wpe(dir, "tall.wpe", Paper(1, 6399)));
  EXPECT_TRUE(rec.Messages.empty());
  EXPECT_EQ(v.Form1.Paper->Height(), 6399);
}

TEST(ViewerList, FolderScanListsRegularEventFilesAndSortsBothWays) {
  TTempDir dir;
  const std::string folder = dir.Path("pics") + "/";
  std::filesystem::create_directory(folder);
  const std::string fills = "FillRect layer=0 x=0 y=0 w=3 h=3 color=123456\nFillRect layer=0 x=4 y=4 w=3 h=3 color=654321\n";
  const std::string c = Wpe(dir, "pics/c.wpe", Paper(30, 10, fills));
  const std::string a = Wpe(dir, "pics/a.wpe", Paper(10, 10, fills));
  const std::string b = Wpe(dir, "pics/B.WPE", Paper(20, 10, fills));
  std::filesystem::create_directory(folder + "sub.wpe");
  ASSERT_EQ(mkfifo((folder + "pipe.wpe").c_str(), 0600), 0);
  std::ofstream(folder + ".hidden.wpe") << "x";
  std::ofstream(folder + "x.bmp") << "BM";
  SetDate(c, 3000);
  SetDate(a, 1000);
  SetDate(b, 2000);

  TViewer v;
  // Hidden files are listed like the others.
  EXPECT_TRUE(v.Form1.ScanFolder(folder));
  EXPECT_EQ(v.Form1.FileCount, 4);
  std::filesystem::remove(folder + ".hidden.wpe");
  v.Form2.FolderChosen(folder);
  ASSERT_EQ(v.Form1.FileCount, 3);
  // By date, newest first; the first is played and selected.
  EXPECT_EQ(ListNames(v.Form2), (std::vector<std::string>{"c.wpe", "B.WPE", "a.wpe"}));
  EXPECT_EQ(v.Form1.Paths[0], c);
  EXPECT_EQ(v.Form1.Paper->Width(), 30);
  EXPECT_EQ(v.Form2.ListBox1->currentRow(), 0);

  // Play the middle one, then sort by name: byte order (capitals first), the file keeps
  // playing where it was and stays selected.
  v.Form2.SelectRow(1);
  v.Form2.ListBox1Click();
  ASSERT_EQ(v.Form1.Paper->Width(), 20);
  v.Form1.AppIdle();
  ASSERT_EQ(v.Form1.Playing, 1);
  const TEventPacket* playing = v.Form1.Packet.get();
  const int32_t pos = playing->Data().ReadPos();
  v.Form2.RadioGroup1Items->button(1)->click();
  EXPECT_EQ(ListNames(v.Form2), (std::vector<std::string>{"B.WPE", "a.wpe", "c.wpe"}));
  EXPECT_EQ(v.Form1.FileIndex, 0);
  EXPECT_EQ(v.Form2.ListBox1->currentRow(), 0);
  EXPECT_EQ(v.Form1.Packet.get(), playing);
  EXPECT_EQ(v.Form1.Packet->Data().ReadPos(), pos);
  EXPECT_EQ(v.Form1.Playing, 1);
  // The next file after the pause is the one after it in the new order.
  v.Form2.SpinEdit1->setValue(0);
  ASSERT_TRUE(v.PlayToEnd());
  v.Form1.AppIdle();
  EXPECT_EQ(v.Form1.Paper->Width(), 10);
  EXPECT_EQ(v.Form2.ListBox1->currentRow(), 1);

  // Two files of one date: after sorting, the first of them is the one selected.
  SetDate(a, 2000);
  v.Form2.FolderChosen(folder);
  v.Form2.RadioGroup1Items->button(1)->click();
  ASSERT_EQ(ListNames(v.Form2), (std::vector<std::string>{"B.WPE", "a.wpe", "c.wpe"}));
  v.Form2.SelectRow(1);
  v.Form2.ListBox1Click();  // a.wpe plays
  v.Form2.RadioGroup1Items->button(0)->click();
  EXPECT_EQ(ListNames(v.Form2), (std::vector<std::string>{"c.wpe", "B.WPE", "a.wpe"}));
  EXPECT_EQ(v.Form1.FileIndex, 1);
  EXPECT_EQ(v.Form2.ListBox1->currentRow(), 1);

  // A folder without event files changes nothing.
  std::filesystem::create_directory(dir.Path("none"));
  std::ofstream(dir.Path("none/readme.txt")) << "x";
  std::filesystem::create_directory_symlink(folder + "sub.wpe", dir.Path("none/link.wpe"));
  EXPECT_FALSE(v.Form1.ScanFolder(dir.Path("none") + "/"));
  v.Form2.FolderChosen(dir.Path("none") + "/");
  EXPECT_EQ(v.Form1.FileCount, 3);
  EXPECT_EQ(v.Form2.ListBox1->count(), 3);
}

TEST(ViewerList, AFolderListsAtMost4094Files) {
  TTempDir dir;
  std::vector<uint8_t> bytes;
  {
    const std::string one = Wpe(dir, "one.wpe", Paper(4, 4));
    std::ifstream in(one, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), {});
  }
  std::filesystem::create_directory(dir.Path("many"));
  for (int i = 0; i < 4100; ++i) {
    std::ofstream out(dir.Path("many/f" + std::to_string(i) + ".wpe"), std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  TViewer v;
  EXPECT_TRUE(v.Form1.ScanFolder(dir.Path("many") + "/"));
  EXPECT_EQ(v.Form1.FileCount, 4094);
  EXPECT_EQ(v.Form2.ListBox1->count(), 4094);
  v.Form1.SortByName();
  EXPECT_EQ(v.Form1.Paths[0], dir.Path("many/f0.wpe"));
  EXPECT_EQ(v.Form1.Paths[1], dir.Path("many/f1.wpe"));
  EXPECT_EQ(v.Form1.Paths[2], dir.Path("many/f10.wpe"));
}

TEST(ViewerList, DropsTakeTheEventFilesOfTheFirst32) {
  TTempDir dir;
  const std::string a = Wpe(dir, "a.wpe", Paper(10, 10));
  const std::string b = Wpe(dir, "b.wpe", Paper(20, 10));
  std::ofstream(dir.Path("pic.bmp")) << "BM";
  std::filesystem::create_directory(dir.Path("dir.wpe"));
  SetDate(a, 1000);
  SetDate(b, 2000);

  TViewer v;
  v.Form1.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&v.Form1));
  // A real drop: two event files, a picture and a folder named like an event file.
  QMimeData mime;
  mime.setUrls({QUrl::fromLocalFile(QString::fromStdString(a)), QUrl::fromLocalFile(QString::fromStdString(dir.Path("pic.bmp"))),
                QUrl::fromLocalFile(QString::fromStdString(dir.Path("dir.wpe"))), QUrl::fromLocalFile(QString::fromStdString(b))});
  QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&v.Form1, &enter);
  EXPECT_TRUE(enter.isAccepted());
  QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&v.Form1, &drop);
  EXPECT_EQ(v.Form1.FileCount, 2);
  EXPECT_EQ(ListNames(v.Form2), (std::vector<std::string>{"b.wpe", "a.wpe"}));  // by date
  EXPECT_EQ(v.Form1.Paper->Width(), 20);
  EXPECT_EQ(v.Form1.Playing, 1);
  EXPECT_EQ(v.Form2.ListBox1->currentRow(), 0);

  // Of a drop of more than 32 files the first 32 count, exactly 32 included.
  std::vector<std::string> many;
  for (int i = 0; i < 40; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "m%d.wpe", 100 + i);
    const std::string p = dir.Path(name);
    std::filesystem::copy_file(a, p);
    many.push_back(p);
  }
  v.Form2.RadioGroup1Items->button(1)->setChecked(true);
  for (size_t n : {size_t(32), size_t(33), size_t(40)}) {
    v.Form1.WMDropFiles(std::vector<std::string>(many.begin(), many.begin() + static_cast<long>(n)));
    EXPECT_EQ(v.Form1.FileCount, 32) << n;
    EXPECT_EQ(v.Form2.ListBox1->count(), 32) << n;
    EXPECT_EQ(ListNames(v.Form2).back(), "m131.wpe");
  }
  // A drop without event files leaves an empty list and the playback as it was.
  const TEventPacket* playing = v.Form1.Packet.get();
  v.Form1.WMDropFiles({dir.Path("pic.bmp")});
  EXPECT_EQ(v.Form2.ListBox1->count(), 0);
  EXPECT_EQ(v.Form1.Packet.get(), playing);
  EXPECT_EQ(v.Form1.FileCount, 32);
}

TEST(ViewerView, ScrollRangeMarginsAndGreyBandsFollowThePosition) {
  plat::SetFullScreenWidth(1280);
  TTempDir dir;
  const std::string file = Wpe(dir, "p.wpe", Paper(300, 200));
  {
    TViewer v;
    v.Form1.OpenSingleFile(file);
    v.Form1.SetClientSize(400, 300);
    v.Form1.ScrollBar1.SetPosition(600);
    v.Form1.ScrollBar2.SetPosition(640);
    v.Form1.UpdateView();
    EXPECT_EQ(v.Form1.ScrollBar1.Max(), 1580);
    EXPECT_EQ(v.Form1.ScrollBar2.Max(), 1480);
    EXPECT_EQ(v.Form1.ScrollBar1.LargeChange(), 384);
    const TDisplay& d = v.Form1.Paper->Display;
    EXPECT_EQ(d.MarginX, 40);
    EXPECT_EQ(d.ScrollX, 0);
    EXPECT_EQ(d.MarginY, 0);
    EXPECT_EQ(d.ScrollY, 0);
    const QImage& buf = v.Form1.BackBuffer().Image();
    EXPECT_EQ(buf.pixel(39, 100) & 0xFFFFFF, 0x808080u);
    EXPECT_EQ(buf.pixel(40, 100) & 0xFFFFFF, 0xFFFFFFu);
    EXPECT_EQ(buf.pixel(339, 100) & 0xFFFFFF, 0xFFFFFFu);
    EXPECT_EQ(buf.pixel(340, 100) & 0xFFFFFF, 0x808080u);  // right of the paper
    // Scrolled into the paper: no margin, the scroll offset is the paper column at the edge;
    // the position never passes the paper's far edge.
    v.Form1.ScrollBar1.SetPosition(700);
    v.Form1.UpdateView();
    EXPECT_EQ(d.MarginX, 0);
    EXPECT_EQ(d.ScrollX, 60);
    v.Form1.ScrollBar1.SetPosition(1500);
    v.Form1.UpdateView();
    EXPECT_EQ(v.Form1.ScrollBar1.Position(), 1180);
    // The user's scrolling moves the view at once.
    v.Form1.ScrollBar1.Bar()->setValue(650);
    EXPECT_EQ(d.ScrollX, 10);
  }
  plat::SetFullScreenWidth(plat::GetSystemMetrics(plat::SM_CXFULLSCREEN));
}

TEST(ViewerView, CtrlKeypadZoomsAboutTheWindowCentre) {
  TTempDir dir;
  const std::string file = Wpe(dir, "p.wpe", Paper(200, 160));
  TViewer v;
  v.Form1.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&v.Form1));
  v.Form1.OpenSingleFile(file);
  v.Form1.SetClientSize(300, 240);
  v.Form1.UpdateView();
  TDisplay& d = v.Form1.Paper->Display;
  int32_t cx = 0, cy = 0;
  d.CentrePoint(300, 240, cx, cy);
  QTest::keyPress(&v.Form1, Qt::Key_Control, Qt::ControlModifier);
  QTest::keyClick(&v.Form1, Qt::Key_Plus, Qt::ControlModifier | Qt::KeypadModifier);
  EXPECT_EQ(d.ZoomIndex, 1);
  int32_t nx = 0, ny = 0;
  d.CentrePoint(v.Form1.ClientWidth(), v.Form1.ClientHeight(), nx, ny);
  EXPECT_NEAR(nx, cx, 1);
  EXPECT_NEAR(ny, cy, 1);
  // Not on the keypad, or without Ctrl, the keys do nothing.
  QTest::keyClick(&v.Form1, Qt::Key_Plus, Qt::ControlModifier);
  EXPECT_EQ(d.ZoomIndex, 1);
  QTest::keyRelease(&v.Form1, Qt::Key_Control);
  QTest::keyClick(&v.Form1, Qt::Key_Plus, Qt::KeypadModifier);
  EXPECT_EQ(d.ZoomIndex, 1);
  // At 800 per cent plus only recentres; minus steps down.
  d.ZoomIndex = 6;
  QTest::keyPress(&v.Form1, Qt::Key_Control, Qt::ControlModifier);
  QTest::keyClick(&v.Form1, Qt::Key_Plus, Qt::ControlModifier | Qt::KeypadModifier);
  EXPECT_EQ(d.ZoomIndex, 6);
  QTest::keyClick(&v.Form1, Qt::Key_Minus, Qt::ControlModifier | Qt::KeypadModifier);
  EXPECT_EQ(d.ZoomIndex, 5);
  QTest::keyRelease(&v.Form1, Qt::Key_Control);
}

TEST(ViewerView, SpaceDragScrollsTheViewExceptDuringThePause) {
  TTempDir dir;
  const std::string file = Wpe(dir, "p.wpe", Paper(200, 160, "FillRect layer=0 x=0 y=0 w=3 h=3 color=123456\n"));
  TViewer v;
  v.Form1.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&v.Form1));
  v.Form1.OpenSingleFile(file);
  const QPoint start = v.Form1.mapToGlobal(QPoint(50, 50));
  QCursor::setPos(start);
  plat::SetKeyDown(plat::VK_SPACE, true);
  QTest::mousePress(&v.Form1, Qt::LeftButton, Qt::NoModifier, QPoint(50, 50));
  EXPECT_EQ(v.Form1.HandDragging, 1);
  const int32_t x0 = v.Form1.ScrollBar1.Position(), y0 = v.Form1.ScrollBar2.Position();
  QCursor::setPos(start + QPoint(-10, -4));
  v.Form1.AppIdle();
  EXPECT_EQ(v.Form1.ScrollBar1.Position(), x0 + 10);
  EXPECT_EQ(v.Form1.ScrollBar2.Position(), y0 + 4);
  ASSERT_TRUE(v.PlayToEnd());
  QCursor::setPos(start + QPoint(-30, -4));
  v.Form1.AppIdle();  // the pause ends the step before the drag
  EXPECT_EQ(v.Form1.ScrollBar1.Position(), x0 + 10);
  QTest::mouseRelease(&v.Form1, Qt::LeftButton, Qt::NoModifier, QPoint(50, 50));
  EXPECT_EQ(v.Form1.HandDragging, 0);
  plat::SetKeyDown(plat::VK_SPACE, false);
  // Without Space a press does not drag.
  QTest::mousePress(&v.Form1, Qt::LeftButton, Qt::NoModifier, QPoint(50, 50));
  EXPECT_EQ(v.Form1.HandDragging, 0);
  QTest::mouseRelease(&v.Form1, Qt::LeftButton, Qt::NoModifier, QPoint(50, 50));
}

TEST(ViewerWindows, DockFollowsTheActiveWindowWhileChecked) {
  TViewer v;
  v.Form1.show();
  v.Form2.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&v.Form2));
  v.Form2.move(100, 120);
  QApplication::setActiveWindow(&v.Form2);
  ASSERT_TRUE(QTest::qWaitForWindowActive(&v.Form2));
  v.Form2.Timer1Timer();
  EXPECT_EQ(v.Form1.frameGeometry().topLeft(), QPoint(100 + v.Form2.frameGeometry().width(), 120));
  v.Form1.Timer1Timer();  // not the active one: stays
  EXPECT_EQ(v.Form2.frameGeometry().topLeft(), QPoint(100, 120));
  v.Form2.CheckBox2->setChecked(false);
  v.Form2.move(10, 10);
  v.Form2.Timer1Timer();
  EXPECT_EQ(v.Form1.frameGeometry().topLeft(), QPoint(100 + v.Form2.frameGeometry().width(), 120));
  // Closing either window closes the other.
  v.Form2.close();
  EXPECT_FALSE(v.Form1.isVisible());
}

TEST(ViewerWindows, FirstActivationPlaysTheCommandLineEventFileOnly) {
  TTempDir dir;
  const std::string file = Wpe(dir, "arg.WPE", Paper(24, 12));
  {
    TViewer v;
    v.Form2.CommandLineArgument = file;
    v.Form2.FormActivate();
    EXPECT_TRUE(v.Form1.Timer1->isActive());
    EXPECT_TRUE(v.Form2.Timer1->isActive());
    EXPECT_EQ(v.Form1.Paper->Width(), 24);
    EXPECT_EQ(v.Form1.FileCount, 1);
    EXPECT_EQ(ListNames(v.Form2), std::vector<std::string>{"arg.WPE"});
    v.Form1.Paper->Display.ZoomIndex = 3;  // a later activation opens nothing
    v.Form2.FormActivate();
    EXPECT_EQ(v.Form1.Paper->Display.ZoomIndex, 3);
  }
  TViewer v;
  plat::TMessageRecorder rec;
  v.Form2.CommandLineArgument = dir.Path("arg.WPE.txt");
  v.Form2.FormActivate();
  EXPECT_EQ(v.Form1.Playing, 0);
  EXPECT_TRUE(rec.Messages.empty());
}

TEST(ViewerStartUp, ASecondStartHandsItsFileToTheRunningWindowAndEnds) {
  if (!std::filesystem::exists(kViewer)) GTEST_SKIP() << "vellview was not built";
  TTempDir dir;
  const std::string file = Wpe(dir, "handed.wpe", Paper(44, 33));
  // This process is the running instance: it holds the mutex and its window has the class.
  plat::TNamedMutex mutex("VelloraViewer");
  ASSERT_TRUE(mutex.Held());
  auto running = std::make_unique<TViewer>();
  TViewer& v = *running;
  v.Form1.showMinimized();
  auto second = [&](QStringList args, const std::string& cwd = "/") {
    QProcess p;
    p.setWorkingDirectory(QString::fromStdString(cwd));
    if (!args.isEmpty() && cwd != "/") args[0] = QString::fromStdString(plat::FileNameOf(args[0].toStdString()));
    p.start(QString::fromStdString(kViewer), args);
    EXPECT_TRUE(p.waitForStarted(10000));
    // The second start talks to this window: keep its messages coming in while it runs.
    EXPECT_TRUE(QTest::qWaitFor([&] { return p.state() == QProcess::NotRunning; }, 30000));
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
  };
  // Started in the file's folder with a relative path: the running window gets the full path.
  second({QString::fromStdString(file)}, dir.Dir());
  EXPECT_EQ(v.Form1.Paths[0], file);
  EXPECT_EQ(v.Form1.FileCount, 1);
  EXPECT_EQ(v.Form1.Playing, 1);
  EXPECT_EQ(v.Form1.Paper->Width(), 44);
  EXPECT_FALSE(v.Form1.isMinimized());
  // Without an argument, or with one that is no event file, the window only comes forward.
  ASSERT_TRUE(v.PlayToEnd());
  second({});
  second({QString::fromStdString(dir.Path("handed.wpe.txt"))});
  EXPECT_EQ(v.Form1.Playing, 0);
  EXPECT_EQ(v.Form1.WaitingNext, 1);
  // With the window gone but the mutex held, a second start still ends at once.
  running.reset();
  second({QString::fromStdString(file)});
}

// The caption names the file it plays and tells the zoom at once, during the pause too.
TEST(ViewerView, TheCaptionNamesTheFileAndFollowsTheZoomInThePause) {
  TTempDir dir;
  const std::string file = Wpe(dir, "a_red.wpe", Paper(200, 160));
  TViewer v;
  v.Form1.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&v.Form1));
  v.Form1.OpenSingleFile(file);
  ASSERT_TRUE(v.PlayToEnd());
  const std::regex ended("<OFFLINE>  \"a_red\\.wpe\" 200\\*160 : (...%) : <Quitte lecture   : [0-9]+\\[ms\\]>");
  std::smatch m;
  std::string caption = v.Form1.windowTitle().toStdString();
  ASSERT_TRUE(std::regex_match(caption, m, ended)) << caption;
  EXPECT_EQ(m[1].str(), "100%");
  QTest::keyPress(&v.Form1, Qt::Key_Control, Qt::ControlModifier);
  QTest::keyClick(&v.Form1, Qt::Key_Plus, Qt::ControlModifier | Qt::KeypadModifier);
  caption = v.Form1.windowTitle().toStdString();
  ASSERT_TRUE(std::regex_match(caption, m, ended)) << caption;
  EXPECT_EQ(m[1].str(), "150%");
  QTest::keyClick(&v.Form1, Qt::Key_Minus, Qt::ControlModifier | Qt::KeypadModifier);
  QTest::keyClick(&v.Form1, Qt::Key_Minus, Qt::ControlModifier | Qt::KeypadModifier);
  QTest::keyRelease(&v.Form1, Qt::Key_Control);
  caption = v.Form1.windowTitle().toStdString();
  ASSERT_TRUE(std::regex_match(caption, m, ended)) << caption;
  EXPECT_EQ(m[1].str(), " 50%");
}

// A paper larger than the screen gives the largest window the screen holds, and the list
// window docks where it can be reached, also beside a maximised playback window.
TEST(ViewerWindows, BothWindowsStayWhollyOnTheScreen) {
  TTempDir dir;
  const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
  const std::string file = Wpe(dir, "big.wpe", Paper(area.width() + 600, area.height() + 300));
  TViewer v;
  v.Form1.show();
  v.Form2.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&v.Form1));
  v.Form1.OpenSingleFile(file);
  EXPECT_TRUE(area.contains(v.Form1.frameGeometry())) << "the playback window leaves the screen";
  EXPECT_GT(v.Form1.ClientWidth(), area.width() / 2) << "no more room than needed is given up";
  QApplication::setActiveWindow(&v.Form1);
  ASSERT_TRUE(QTest::qWaitForWindowActive(&v.Form1));
  v.Form1.Timer1Timer();
  EXPECT_TRUE(area.contains(v.Form2.frameGeometry())) << "the list window docks off the screen";
  v.Form1.showMaximized();
  ASSERT_TRUE(QTest::qWaitFor([&] { return v.Form1.isMaximized(); }, 5000));
  QApplication::setActiveWindow(&v.Form1);
  v.Form1.Timer1Timer();
  EXPECT_TRUE(area.contains(v.Form2.frameGeometry())) << "the list window docks off the screen";
  // The list window active beside a maximised playback window leaves it where it is.
  QApplication::setActiveWindow(&v.Form2);
  ASSERT_TRUE(QTest::qWaitForWindowActive(&v.Form2));
  v.Form2.Timer1Timer();
  EXPECT_TRUE(v.Form1.isMaximized());
  EXPECT_TRUE(area.contains(v.Form1.frameGeometry()));
}

// The list window's texts show whole at its own font, and each row is as tall as its line,
// underscores and all.
TEST(ViewerList, TextsAndRowsShowWhole) {
  TViewer v;
  v.Form2.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&v.Form2));
  for (QAbstractButton* b : v.Form2.findChildren<QAbstractButton*>()) {
    SCOPED_TRACE(b->text().toStdString());
    EXPECT_EQ(b->font().pixelSize(), 12) << "a smaller font";
    EXPECT_LE(QFontMetrics(b->font()).horizontalAdvance(b->text().trimmed()), b->width() - 4);
    EXPECT_TRUE(QRect(QPoint(0, 0), b->parentWidget()->size()).contains(b->geometry()));
  }
  for (QLabel* l : v.Form2.findChildren<QLabel*>()) {
    if (l->text().isEmpty()) continue;
    EXPECT_EQ(l->font().pixelSize(), 12);
    EXPECT_LE(QFontMetrics(l->font()).horizontalAdvance(l->text()), l->width()) << l->text().toStdString();
  }
  v.Form2.AddToList("a_red_g.wpe");
  const QRect row = v.Form2.ListBox1->visualItemRect(v.Form2.ListBox1->item(0));
  const QFontMetrics fm(v.Form2.ListBox1->font());
  EXPECT_GE(row.height(), fm.ascent() + fm.descent());
}
