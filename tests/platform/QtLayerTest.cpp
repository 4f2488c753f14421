#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <spawn.h>
#include <unistd.h>

#include <QApplication>
#include <QKeyEvent>
#include <QLocalSocket>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <future>
#include <thread>

#include "common/TempDir.h"
#include "platform/OtherThread.h"
#include "platform/core/KeyState.h"
#include "platform/core/MessageBox.h"
#include "platform/qt/BackBuffer.h"
#include "platform/qt/Desktop.h"
#include "platform/qt/KeyTracker.h"
#include "platform/qt/MessageDialog.h"
#include "platform/qt/ScrollBar.h"
#include "platform/qt/SingleInstance.h"
#include "platform/qt/WindowMessages.h"

using namespace plat;

namespace {

// Points the per-user runtime folder (locks, window sockets) at a private temporary folder.
class TTempRuntime : public TTempDir {
 public:
  TTempRuntime() {
    if (const char* v = std::getenv("XDG_RUNTIME_DIR")) old_ = v, had_ = true;
    setenv("XDG_RUNTIME_DIR", Dir().c_str(), 1);
  }
  ~TTempRuntime() {
    if (had_) setenv("XDG_RUNTIME_DIR", old_.c_str(), 1);
    else unsetenv("XDG_RUNTIME_DIR");
  }

 private:
  std::string old_;
  bool had_ = false;
};

uint32_t Px(const TBackBuffer& b, int x, int y) {
  return reinterpret_cast<const uint32_t*>(b.Image().constScanLine(y))[x] & 0xFFFFFFu;
}

}  // namespace

TEST(BackBuffer, ResizeKeepsWhatStillFitsAndFillsTheRestBlack) {
  TBackBuffer b;
  EXPECT_TRUE(b.Resize(3, 3));
  b.FillRect(-5, -5, 100, 100, 0x123456);
  EXPECT_FALSE(b.Resize(3, 3));
  EXPECT_TRUE(b.Resize(5, 2));
  EXPECT_EQ(Px(b, 2, 1), 0x123456u);
  EXPECT_EQ(Px(b, 3, 0), 0u);
  EXPECT_TRUE(b.Resize(0, -1));  // never an empty image
  EXPECT_EQ(b.Width(), 1);
  EXPECT_EQ(b.Height(), 1);
}

namespace {
class TCountingWidget : public TBufferedWidget {
 public:
  int Repaints = 0;
  bool InvalidateWhilePainting = false;

 protected:
  void RepaintBuffer() override {
    ++Repaints;
    BackBuffer().FillRect(0, 0, BackBuffer().Width(), BackBuffer().Height(), 0x00FF00);
    if (InvalidateWhilePainting) Invalidate();
  }
};
}  // namespace

TEST(BufferedWidget, RedrawsItsBufferOnlyAfterAResizeAndShowsTheBuffer) {
  TCountingWidget w;
  w.InvalidateWhilePainting = true;
  w.resize(40, 30);
  w.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
  QApplication::processEvents();
  EXPECT_EQ(w.Repaints, 1);
  EXPECT_EQ(w.BackBuffer().Width(), 40);
  EXPECT_EQ(w.BackBuffer().Height(), 30);
  // Pixels the engine draws into the surface appear on screen once it reports them; an
  // update request repaints from the buffer, not by drawing it again.
  TPixelView v = w.Surface();
  ASSERT_EQ(v.Width, 40);
  ASSERT_EQ(v.Height, 30);
  for (int y = 10; y < 15; ++y)
    for (int x = 10; x < 15; ++x) v.Row(y)[x] = 0xFFFF0000u;
  w.SurfaceChanged(TRect{10, 10, 15, 15});
  w.FillRect(0, 28, 40, 5, 0x606060);  // clipped at the bottom edge
  const QImage shot = w.grab().toImage();
  EXPECT_EQ(shot.pixel(12, 12) & 0xFFFFFFu, 0xFF0000u);
  EXPECT_EQ(shot.pixel(2, 2) & 0xFFFFFFu, 0x00FF00u);
  EXPECT_EQ(shot.pixel(2, 29) & 0xFFFFFFu, 0x606060u);
  EXPECT_EQ(w.Repaints, 1);
  // The view fits the window through the form's client size.
  w.SetClientSize(50, 30);
  EXPECT_EQ(w.ClientWidth(), 50);
  EXPECT_EQ(w.Surface().Width, 50);
  w.grab();
  EXPECT_EQ(w.Repaints, 2);
  QApplication::processEvents();
  EXPECT_EQ(w.Repaints, 2);  // the update asked for inside the repaint was dropped
}

TEST(ScrollBar, KeepsWindowsValuesApartFromQtsPageStep) {
  QWidget parent;
  TQtScrollBar bar(Qt::Horizontal, &parent);
  int scrolls = 0;
  bar.OnScroll = [&] { ++scrolls; };
  bar.SetMax(1580);
  bar.SetPage(400);
  bar.SetLargeChange(384);
  bar.SetPosition(600);
  EXPECT_EQ(bar.Position(), 600);
  EXPECT_EQ(bar.Bar()->maximum(), 1180);  // the far edge of the range shows at the window's
  EXPECT_EQ(scrolls, 0);                  // setting is not scrolling
  // A track click moves by the large change, not by the thumb's page.
  bar.Bar()->triggerAction(QAbstractSlider::SliderPageStepAdd);
  EXPECT_EQ(bar.Position(), 984);
  EXPECT_EQ(scrolls, 1);
  bar.Bar()->triggerAction(QAbstractSlider::SliderSingleStepSub);
  EXPECT_EQ(bar.Position(), 983);
  // A position beyond the user's reach is kept for the owner, as a Windows bar's is; values
  // outside 0..Max are cut.
  bar.SetPosition(1500);
  EXPECT_EQ(bar.Position(), 1500);
  bar.SetPosition(99999);
  EXPECT_EQ(bar.Position(), 1580);
  bar.SetPosition(-5);
  EXPECT_EQ(bar.Position(), 0);
  bar.SetMax(100);
  bar.SetPosition(80);
  bar.SetMax(50);
  EXPECT_EQ(bar.Position(), 50);
  // Placement follows the view's layout; the bar never takes the keyboard.
  bar.SetTop(317);
  bar.SetWidth(325);
  EXPECT_EQ(bar.Bar()->geometry(), QRect(0, 317, 325, 16));
  EXPECT_EQ(bar.Thickness(), 16);
  EXPECT_EQ(bar.Bar()->focusPolicy(), Qt::NoFocus);
}

TEST(KeyTracker, FollowsPressesAndReleasesButNotAutoRepeatAndForgetsOnDeactivation) {
  InstallKeyTracker();
  InstallKeyTracker();  // a second call adds no second filter
  ClearKeys();
  QWidget w;
  w.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
  QTest::keyPress(&w, Qt::Key_Space);
  EXPECT_TRUE(plat::IsKeyDown(VK_SPACE));
  QKeyEvent repeatRelease(QEvent::KeyRelease, Qt::Key_Space, Qt::NoModifier, QString(" "), true);
  QApplication::sendEvent(&w, &repeatRelease);
  EXPECT_TRUE(plat::IsKeyDown(VK_SPACE));
  QTest::keyRelease(&w, Qt::Key_Space);
  EXPECT_FALSE(plat::IsKeyDown(VK_SPACE));

  QTest::keyPress(&w, Qt::Key_Control, Qt::ControlModifier);
  QTest::keyPress(&w, Qt::Key_Plus, Qt::ControlModifier | Qt::KeypadModifier);
  EXPECT_TRUE(plat::IsKeyDown(VK_CONTROL));
  EXPECT_TRUE(plat::IsKeyDown(VK_ADD));
  QEvent deactivate(QEvent::ApplicationDeactivate);
  QApplication::sendEvent(qApp, &deactivate);
  EXPECT_FALSE(plat::IsKeyDown(VK_CONTROL));
  EXPECT_FALSE(plat::IsKeyDown(VK_ADD));

  // A key that went down under one code comes up under the same code.
  QKeyEvent down(QEvent::KeyPress, Qt::Key_Exclam, Qt::ShiftModifier, 10, 0, 0, "!");
  QApplication::sendEvent(&w, &down);
  EXPECT_TRUE(plat::IsKeyDown('1'));
  QKeyEvent up(QEvent::KeyRelease, Qt::Key_1, Qt::NoModifier, 10, 0, 0, "1");
  QApplication::sendEvent(&w, &up);
  EXPECT_FALSE(plat::IsKeyDown('1'));
}

TEST(KeyTracker, VirtualKeysOfQtKeys) {
  struct Case {
    int key;
    Qt::KeyboardModifiers mods;
    int vk;
  } cases[] = {
      {Qt::Key_A, Qt::NoModifier, 'A'},          {Qt::Key_Z, Qt::ShiftModifier, 'Z'},
      {Qt::Key_7, Qt::NoModifier, '7'},          {Qt::Key_Space, Qt::NoModifier, VK_SPACE},
      {Qt::Key_Plus, Qt::KeypadModifier, VK_ADD}, {Qt::Key_Minus, Qt::KeypadModifier, VK_SUBTRACT},
      {Qt::Key_Minus, Qt::NoModifier, 0xBD},     {Qt::Key_Alt, Qt::AltModifier, VK_MENU},
      {Qt::Key_Shift, Qt::ShiftModifier, VK_SHIFT}, {Qt::Key_F5, Qt::NoModifier, VK_F1 + 4},
      {Qt::Key_3, Qt::KeypadModifier, 0x63},     {Qt::Key_Escape, Qt::NoModifier, VK_ESCAPE},
      {Qt::Key_Tab, Qt::NoModifier, VK_TAB},     {Qt::Key_Delete, Qt::NoModifier, VK_DELETE},
      {Qt::Key_yen, Qt::NoModifier, 0},
  };
  for (const Case& c : cases) {
    QKeyEvent e(QEvent::KeyPress, c.key, c.mods);
    EXPECT_EQ(VirtualKeyOf(&e), c.vk) << std::hex << c.key;
  }
}

namespace {
// Presses the button of the message box that comes up next, once it is shown.
void AnswerNextBox(QMessageBox::StandardButton button, QString* seenText, QString* seenTitle, bool* sawIcon) {
  QTimer::singleShot(0, [=] {
    for (QWidget* w : QApplication::topLevelWidgets())
      if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) {
        *seenText = box->text();
        *seenTitle = box->windowTitle();
        *sawIcon = box->icon() == QMessageBox::Critical;
        box->button(button)->click();
        return;
      }
    AnswerNextBox(button, seenText, seenTitle, sawIcon);
  });
}
}  // namespace

TEST(MessageDialog, ShowsUtf8TextsAndReturnsTheButtonPressed) {
  InstallMessageDialog();
  SetApplicationTitle("[vl] Test");
  struct Case {
    unsigned flags;
    QMessageBox::StandardButton press;
    int result;
  } cases[] = {
      {unsigned(MB_OK) | MB_ICONERROR, QMessageBox::Ok, IDOK},
      {unsigned(MB_YESNO) | MB_ICONQUESTION, QMessageBox::No, IDNO},
      {MB_YESNOCANCEL, QMessageBox::Yes, IDYES},
      {MB_YESNOCANCEL, QMessageBox::Cancel, IDCANCEL},
      {MB_OKCANCEL, QMessageBox::Cancel, IDCANCEL},
  };
  for (const Case& c : cases) {
    QString text, title;
    bool critical = false;
    AnswerNextBox(c.press, &text, &title, &critical);
    EXPECT_EQ(plat::MessageBox("表示用画像ではありません", "", c.flags), c.result);
    EXPECT_EQ(text, QString::fromUtf8("表示用画像ではありません"));
    EXPECT_EQ(title, "[vl] Test");
    EXPECT_EQ(critical, (c.flags & 0xF0u) == MB_ICONERROR);
  }
  // The recorder of the tests takes the dialog's place and gives it back.
  {
    TMessageRecorder rec(IDNO);
    EXPECT_EQ(plat::MessageBox("question", "Titre", MB_YESNO), IDNO);
    ASSERT_EQ(rec.Messages.size(), 1u);
    EXPECT_EQ(rec.Messages[0].Caption, "Titre");
  }
  QString text, title;
  bool critical = false;
  AnswerNextBox(QMessageBox::Ok, &text, &title, &critical);
  EXPECT_EQ(plat::MessageBox("again", "Titre"), IDOK);
  EXPECT_EQ(title, "Titre");
  SetMessageBoxHandler(nullptr);
}

TEST(NamedMutex, SecondHolderSeesTheFirstUntilItIsReleased) {
  TTempRuntime rt;
  auto first = std::make_unique<TNamedMutex>("VelloraViewer");
  EXPECT_TRUE(first->Held());
  EXPECT_FALSE(first->AlreadyExists());
  {
    TNamedMutex second("VelloraViewer");
    EXPECT_TRUE(second.AlreadyExists());
    EXPECT_FALSE(second.Held());
    TNamedMutex other("VeryRareString");  // another name is another mutex
    EXPECT_FALSE(other.AlreadyExists());
  }
  first.reset();
  TNamedMutex third("VelloraViewer");
  EXPECT_FALSE(third.AlreadyExists());
  EXPECT_EQ(third.LockPath(), rt.Dir() + "/VelloraViewer.lock");
  // Names that are not file names stay inside the runtime folder.
  TNamedMutex odd("../x/y\\z");
  EXPECT_EQ(odd.LockPath(), rt.Dir() + "/_.._x_y_z.lock");
}

TEST(NamedMutex, LockOfAHolderThatDiedIsTakenOver) {
  TTempRuntime rt;
  const std::string lock = rt.Dir() + "/VelloraViewer.lock";
  {
    std::ofstream(lock) << "99999\ngarbage left by an old holder\n";
  }
  // Another process holds the lock, then is killed without any chance to clean up.
  // Spawned rather than forked: a child forked from this threaded process could block on a
  // lock held by another thread before it reaches exec. flock(1) waits for the lock and then
  // becomes `sleep` in the same process, so that name says the lock is held; looking at it
  // takes no lock that could make the holder give up.
  pid_t pid = -1;
  std::string l = lock;
  char* args[] = {const_cast<char*>("flock"), const_cast<char*>("--no-fork"), l.data(),
                  const_cast<char*>("sleep"), const_cast<char*>("30"), nullptr};
  ASSERT_EQ(posix_spawnp(&pid, "flock", nullptr, nullptr, args, environ), 0);
  const std::string comm = "/proc/" + std::to_string(pid) + "/comm";
  auto holding = [&] {
    std::string name;
    std::getline(std::ifstream(comm), name);
    return name == "sleep";
  };
  bool held = false;
  for (int i = 0; i < 3000 && !held; ++i) {  // up to 30 s for the start on a loaded machine
    held = holding();
    if (!held) usleep(10000);
  }
  EXPECT_TRUE(held) << "the other holder never took the lock (is flock(1) installed?)";
  EXPECT_TRUE(TNamedMutex("VelloraViewer").AlreadyExists());
  kill(pid, SIGKILL);
  int status = 0;
  waitpid(pid, &status, 0);
  TNamedMutex after("VelloraViewer");
  EXPECT_FALSE(after.AlreadyExists());
  EXPECT_TRUE(after.Held());
}

TEST(WindowMessageFrames, RoundTripAndRejectOrWaitOnBadBytes) {
  TWindowMessage m{WM_COPYDATA, 7, -3, std::string("/home/ユーザー/a.wpe\0", 26)};
  const std::string bytes = EncodeWindowMessage(m);
  TWindowMessage back;
  EXPECT_EQ(DecodeWindowMessage(bytes.data(), bytes.size(), back), int64_t(bytes.size()));
  EXPECT_EQ(back.Msg, m.Msg);
  EXPECT_EQ(back.WParam, 7u);
  EXPECT_EQ(back.LParam, -3);
  EXPECT_EQ(back.Data, m.Data);
  // Every proper prefix is incomplete, never an error and never a message.
  for (size_t n = 0; n < bytes.size(); ++n) EXPECT_EQ(DecodeWindowMessage(bytes.data(), n, back), 0) << n;
  std::string bad = bytes;
  bad[0] = 'X';
  EXPECT_EQ(DecodeWindowMessage(bad.data(), bad.size(), back), -1);
  EXPECT_EQ(DecodeWindowMessage(bad.data(), 1, back), -1);  // known at the first byte
  std::string huge = bytes;
  huge[24] = huge[25] = huge[26] = huge[27] = '\xFF';  // a length beyond the limit
  EXPECT_EQ(DecodeWindowMessage(huge.data(), huge.size(), back), -1);
  int64_t r = 0;
  const std::string ans = EncodeWindowAnswer(-42);
  EXPECT_EQ(DecodeWindowAnswer(ans.data(), ans.size() - 1, r), 0);
  // An empty read may come with no buffer at all.
  EXPECT_EQ(DecodeWindowMessage(nullptr, 0, back), 0);
  EXPECT_EQ(DecodeWindowAnswer(nullptr, 0, r), 0);
  EXPECT_EQ(DecodeWindowAnswer(ans.data(), ans.size(), r), int64_t(ans.size()));
  EXPECT_EQ(r, -42);
}

TEST(WindowMessages, ReachTheWindowOfTheClassAndOnlyIt) {
  TTempRuntime rt;
  QWidget window;
  std::vector<TWindowMessage> got;
  TWindowClass cls("TForm1", &window, [&](const TWindowMessage& m) {
    got.push_back(m);
    return int64_t(1);
  });
  ASSERT_TRUE(cls.Listening());
  EXPECT_TRUE(FromOtherThread([] { return FindWindowClass("TForm1"); }));
  EXPECT_FALSE(FromOtherThread([] { return FindWindowClass("TVLMain"); }));

  const std::string text = std::string("/tmp/フォルダ/x.wpe") + '\0';
  auto answer = FromOtherThread([&] { return SendWindowMessage("TForm1", TWindowMessage{WM_COPYDATA, 0, 0, text}); });
  ASSERT_TRUE(answer.has_value());
  EXPECT_EQ(*answer, 1);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].Msg, WM_COPYDATA);
  EXPECT_EQ(got[0].Data, text);

  // Nobody registered the class: the message is dropped and the sender is told.
  EXPECT_FALSE(FromOtherThread([] { return SendWindowMessage("TRVMain", TWindowMessage{0x602, 0, 0, {}}, 500); })
                   .has_value());
  PostWindowMessage("TRVMain", TWindowMessage{0x602, 0, 0, {}});
  QTest::qWait(50);

  // A post arrives later without blocking the poster.
  PostWindowMessage("TForm1", TWindowMessage{0x603, 5, 6, {}});
  EXPECT_TRUE(QTest::qWaitFor([&] { return got.size() == 2; }, 3000));
  EXPECT_EQ(got.back().Msg, 0x603u);
  EXPECT_EQ(got.back().LParam, 6);

  // Bytes that are not a message cost the sender its connection, not the window its channel.
  FromOtherThread([] {
    QLocalSocket s;
    s.connectToServer(QString::fromStdString(WindowClassAddress("TForm1")));
    if (s.waitForConnected(1000)) {
      s.write("GET / HTTP/1.0\r\n\r\n");
      s.waitForBytesWritten(1000);
      s.waitForDisconnected(2000);
    }
    return 0;
  });
  EXPECT_TRUE(FromOtherThread([] { return SendWindowMessage("TForm1", TWindowMessage{0x604, 0, 0, {}}); })
                  .has_value());
  EXPECT_EQ(got.back().Msg, 0x604u);
}

TEST(WindowMessages, HandOverSendsTheTextAndRestoresAMinimisedWindow) {
  TTempRuntime rt;
  QWidget window;
  window.showMinimized();
  QApplication::processEvents();
  std::vector<std::string> texts;
  TWindowClass cls("TForm1", &window, [&](const TWindowMessage& m) {
    if (m.Msg == WM_COPYDATA) texts.push_back(m.Data);
    return int64_t(1);
  });
  EXPECT_TRUE(FromOtherThread([] { return HandOverToRunningInstance("TForm1", std::string("/tmp/a b.wpe")); }));
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_EQ(texts[0], std::string("/tmp/a b.wpe\0", 13));
  EXPECT_FALSE(window.isMinimized());
  // Without an argument the window only comes to the front.
  EXPECT_TRUE(FromOtherThread([] { return HandOverToRunningInstance("TForm1", std::nullopt); }));
  EXPECT_EQ(texts.size(), 1u);
  EXPECT_FALSE(FromOtherThread([] { return HandOverToRunningInstance("TNoSuchClass", std::string("x")); }));
}

TEST(Desktop, DroppedPathsAreTheLocalOnesInOrder) {
  QMimeData mime;
  EXPECT_FALSE(HasDroppedPaths(&mime));
  mime.setUrls({QUrl::fromLocalFile("/tmp/b.wpe"), QUrl("https://example.org/a.wpe"),
                QUrl::fromLocalFile(QString::fromUtf8("/tmp/絵/a.WPE"))});
  EXPECT_TRUE(HasDroppedPaths(&mime));
  EXPECT_EQ(DroppedPaths(&mime), (std::vector<std::string>{"/tmp/b.wpe", "/tmp/絵/a.WPE"}));
  EXPECT_TRUE(DroppedPaths(nullptr).empty());
}

TEST(Desktop, ExtensionsAndNamesOfPaths) {
  struct Case {
    const char* path;
    const char* ext;
    const char* name;
  } cases[] = {
      {"/a/b/c.wpe", ".WPE", "c.wpe"}, {"/a/b.d/c", "", "c"},       {"x.Wpe", ".WPE", "x.Wpe"},
      {"/a/.wpe", ".WPE", ".wpe"},     {"/a/c.wpe.bmp", ".BMP", "c.wpe.bmp"}, {"/a/dir/", "", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(UpperExtension(c.path), c.ext) << c.path;
    EXPECT_EQ(FileNameOf(c.path), c.name) << c.path;
  }
}

TEST(Desktop, MetricsFontAndBusyCursor) {
  EXPECT_GT(GetSystemMetrics(SM_CXFULLSCREEN), 0);
  EXPECT_LE(GetSystemMetrics(SM_CXFULLSCREEN), GetSystemMetrics(SM_CXSCREEN));
  EXPECT_EQ(GetSystemMetrics(12345), 0);
  const QFont f = UiFont(12);
  EXPECT_EQ(f.pixelSize(), 12);
  EXPECT_EQ(f.styleHint(), QFont::SansSerif);
  {
    TBusyCursor outer;
    {
      TBusyCursor inner;
      ASSERT_NE(QApplication::overrideCursor(), nullptr);
      EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    }
    EXPECT_NE(QApplication::overrideCursor(), nullptr);
  }
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}
