// The real painter on a 1600 x 1000 desktop with a window manager, as a user meets its view and
// its keys: the wheel and the zoom keys turned there and back give the same view again, the
// editing keys typed in a text field edit the field while on the paper they undo the stroke, and
// the brush window's caption names the brush a key chose at once.
#include <gtest/gtest.h>

#include <QImage>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <set>

#include "common/RealPainter.h"
#include "common/TempDir.h"
#include "engine/EventPacket.h"
#include "engine/LayerMng.h"
#include "engine/Paper.h"

namespace {

using vtest::TScreenRect;

// The test picture's pixels all have this blue and differ in red and green, which no grey of the
// window's own has.
constexpr int kPictureBlue = 0x5A;
bool IsPicture(QRgb p) { return qBlue(p) == kPictureBlue && qRed(p) != qGreen(p); }

// Blocks of 25 x 25 pixels, each of its own colour, so that a view moved by one pixel shows.
bool WritePatternPicture(const std::string& file, int32_t width, int32_t height) {
  TPaper paper;
  TEventPacket record;
  if (!paper.Init("pattern", width, height)) return false;
  record.WriteNewPaper(width, height);
  for (int32_t y = 0; y < height; y += 25)
    for (int32_t x = 0; x < width; x += 25) {
      const uint8_t r = static_cast<uint8_t>(x / 25 * 41 + y / 25 * 7 + 1);
      uint8_t g = static_cast<uint8_t>(y / 25 * 29 + x / 25 * 3);
      if (g == r) ++g;
      record.WriteFillRect(0, x, y, 25, 25, r, g, kPictureBlue);
      paper.Layers->FillRect(0, x, y, 25, 25, uint32_t{r} << 16 | uint32_t{g} << 8 | kPictureBlue);
    }
  paper.Composite();
  return paper.SaveToFile(file, false, record);
}

// The part of the screen where the picture shows; empty while it does not.
TScreenRect PictureShown(const QImage& shot) {
  int left = shot.width(), right = -1, top = shot.height(), bottom = -1;
  for (int y = 0; y < shot.height(); y += 2)
    for (int x = 0; x < shot.width(); x += 2)
      if (IsPicture(shot.pixel(x, y))) {
        left = std::min(left, x), right = std::max(right, x), top = std::min(top, y), bottom = std::max(bottom, y);
      }
  if (right < 0) return {};
  return {left, top, right - left + 1, bottom - top + 1};
}

// The white of a blank paper at least `side` pixels wide and high on the screen: the rows and
// columns with that many white pixels; empty while none shows.
TScreenRect WhiteShown(const QImage& shot, int side) {
  std::vector<int> rows(shot.height()), columns(shot.width());
  for (int y = 0; y < shot.height(); ++y)
    for (int x = 0; x < shot.width(); ++x)
      if ((shot.pixel(x, y) & 0xFFFFFF) == 0xFFFFFF) ++rows[y], ++columns[x];
  int left = -1, right = -1, top = -1, bottom = -1;
  for (int x = 0; x < shot.width(); ++x)
    if (columns[x] >= side) {
      if (left < 0) left = x;
      right = x;
    }
  for (int y = 0; y < shot.height(); ++y)
    if (rows[y] >= side) {
      if (top < 0) top = y;
      bottom = y;
    }
  if (left < 0 || top < 0) return {};
  return {left, top, right - left + 1, bottom - top + 1};
}

int DarkPixels(const QImage& shot, const TScreenRect& r) {
  int n = 0;
  for (int y = std::max(r.Y, 0); y < std::min(r.Bottom(), shot.height()); ++y)
    for (int x = std::max(r.X, 0); x < std::min(r.Right(), shot.width()); ++x) {
      const QRgb p = shot.pixel(x, y);
      n += qRed(p) < 0x60 && qGreen(p) < 0x60 && qBlue(p) < 0x60;
    }
  return n;
}

// Where two pictures of the same part of the screen show the picture differently, in a failure
// message's words; empty when they agree. Only pixels that show the picture in both count: a tool
// window above the paper that is still settling, or the grey beside it, is not the view.
std::string ViewDifference(const QImage& a, const QImage& b) {
  if (a.size() != b.size()) return "sizes differ";
  for (int y = 0; y < a.height(); ++y)
    for (int x = 0; x < a.width(); ++x) {
      const QRgb pa = a.pixel(x, y), pb = b.pixel(x, y);
      if (IsPicture(pa) && IsPicture(pb) && pa != pb) return "first at " + std::to_string(x) + "," + std::to_string(y);
    }
  return {};
}

class ViewReal : public ::testing::Test {
 protected:
  // The painter at its first start in the given language, with `file` opened when there is one;
  // empty when it runs, else why the test cannot go on (a '!' first when that is a failure).
  std::string Start(bool japanese, const std::string& file = {}) {
    if (std::string why = vtest::TRealPainter::Missing(); !why.empty()) return why;
    if (vtest::FindProgram("xwd").empty()) return "xwd is needed (Debian package x11-apps): no screenshots";
    server = std::make_unique<vtest::TXvfb>(vtest::FindProgram("Xvfb"), "1600x1000x24", vtest::TDesktopKind::Managed);
    if (!server->Managed()) return server->WhyNotManaged();
    painter = std::make_unique<vtest::TRealPainter>(*server, dir.Dir());
    std::ofstream(painter->Settings + "/brenmoor.reg")
        << "[Software\\Brenmoor\\Vellora]\nJapanese\tdword\t" << (japanese ? 1 : 0) << "\n";
    std::ofstream(dir.Path("lsan.supp")) << "leak:libdbus-1.so\n";
    painter->Env.insert("LSAN_OPTIONS", QString::fromStdString("suppressions=" + dir.Path("lsan.supp")));
    const QStringList args = file.empty() ? QStringList{} : QStringList{QString::fromStdString(file)};
    if (!painter->Start(args)) return "!the main window did not show: " + painter->Error();
    main = QString::fromStdString(painter->MainWindow());
    painter->Xdo({"windowactivate", "--sync", main});
    return {};
  }
  QImage Shot() { return painter->Screenshot(); }
  void Keys(const QStringList& keys) { painter->Xdo(QStringList{"key", "--clearmodifiers"} + keys); }
  void MoveTo(QPoint at) { painter->Xdo({"mousemove", QString::number(at.x()), QString::number(at.y())}); }
  QImage Part(const TScreenRect& r) { return Shot().copy(r.X, r.Y, r.W, r.H); }
  // Waits until the part of the screen shows the picture as `expected` does, or otherwise; false
  // after 20 s.
  bool Shows(const TScreenRect& r, const QImage& expected) {
    return QTest::qWaitFor([&] { return ViewDifference(Part(r), expected).empty(); }, 20000);
  }
  bool Changes(const TScreenRect& r, const QImage& from) {
    return QTest::qWaitFor([&] { return !ViewDifference(Part(r), from).empty(); }, 20000);
  }
  // A value the painter keeps in its settings store; empty when there is none.
  std::string Stored(const std::string& name) {
    for (const auto& f : std::filesystem::directory_iterator(painter->Settings)) {
      std::ifstream in(f.path());
      for (std::string line; std::getline(in, line);)
        if (line.rfind(name + "\t", 0) == 0) return line.substr(line.find('\t', name.size() + 1) + 1);
    }
    return {};
  }

  TTempDir dir;
  std::unique_ptr<vtest::TXvfb> server;
  std::unique_ptr<vtest::TRealPainter> painter;
  QString main;
};

#define START_OR_SKIP(...)                            \
  do {                                                \
    const std::string why = Start(__VA_ARGS__);       \
    if (!why.empty() && why[0] == '!') FAIL() << why; \
    if (!why.empty()) GTEST_SKIP() << why;            \
  } while (0)

// A picture larger than its window: a turn of the wheel and back with the cursor still, or a zoom
// key and the other, leaves the view as it was.
TEST_F(ViewReal, ZoomingThereAndBackWithTheWheelOrTheKeysGivesTheSameView) {
  const std::string file = dir.Path("pattern.wpb");
  ASSERT_TRUE(WritePatternPicture(file, 1800, 1300));
  START_OR_SKIP(true, file);
  TScreenRect shown;
  ASSERT_TRUE(QTest::qWaitFor([&] { return (shown = PictureShown(Shot())).W > 400; }, 20000))
      << "the picture did not show";
  // Inside the scroll bars.
  const TScreenRect view{shown.X + 4, shown.Y + 4, shown.W - 8, shown.H - 8};
  const QPoint at{view.X + view.W / 3, view.Y + view.H / 3 + 7};
  MoveTo(at);
  const QImage start = Part(view);

  struct Turn {
    const char* how;
    QStringList there, back;
  };
  // Button 5 turns the wheel down (zoom in), 4 up (zoom out).
  const Turn turns[] = {
      {"wheel in and out", {"click", "5"}, {"click", "4"}},
      {"wheel in twice and out twice", {"click", "5", "click", "5"}, {"click", "4", "click", "4"}},
      {"wheel out and in", {"click", "4"}, {"click", "5"}},
      {"F5 and F6", {"key", "F5"}, {"key", "F6"}},
      {"Ctrl+Plus and Ctrl+Minus", {"key", "ctrl+KP_Add"}, {"key", "ctrl+KP_Subtract"}},
      {"F6 and F5", {"key", "F6"}, {"key", "F5"}},
  };
  for (const Turn& t : turns) {
    SCOPED_TRACE(t.how);
    painter->Xdo(t.there);
    ASSERT_TRUE(Changes(view, start)) << "the view did not zoom";
    painter->Xdo(t.back);
    const bool same = Shows(view, start);
    EXPECT_TRUE(same) << ViewDifference(Part(view), start);
    if (!same) return;
  }
}

// The editing keys typed in the new-paper dialog's fields, the session window's name and size
// boxes and the chat window's input line edit their text and leave the paper alone; the same
// Ctrl+Z on the paper window undoes the stroke.
TEST_F(ViewReal, EditingKeysActOnTheFieldTypedInAndCtrlZOnThePaperUndoesTheStroke) {
  START_OR_SKIP(false);
  vtest::TRealPainter& p = *painter;
  auto click = [&](const QString& window, QPoint at) {
    p.Xdo({"mousemove", "--window", window, QString::number(at.x()), QString::number(at.y()), "click", "1"});
  };
  auto type = [&](const QString& text) { p.Xdo({"type", "--delay", "30", text}); };

  // New paper: the width typed, copied and pasted into the height, a key typed there undone.
  Keys({"ctrl+n"});
  std::string dialog;
  ASSERT_TRUE(QTest::qWaitFor([&] { return !(dialog = p.FindWindow("Nou")).empty(); }, 20000))
      << "no new-paper dialog";
  const QString dialogId = QString::fromStdString(dialog);
  click(dialogId, {110, 50});
  Keys({"ctrl+a"});
  type("360");
  Keys({"ctrl+a", "ctrl+c"});
  click(dialogId, {110, 82});
  Keys({"ctrl+a", "ctrl+v", "Left", "Right"});
  type("9");
  Keys({"ctrl+z"});
  Keys({"Return"});
  ASSERT_TRUE(QTest::qWaitFor([&] { return p.FindWindow("Nou").empty(); }, 20000)) << "the dialog stayed";
  TScreenRect paper;
  ASSERT_TRUE(QTest::qWaitFor([&] { return (paper = WhiteShown(Shot(), 350)).W > 0; }, 20000))
      << "no new paper";
  EXPECT_EQ(Stored("NewWidth0"), "360");
  EXPECT_EQ(Stored("NewHeight0"), "360");

  // One stroke across the paper's middle.
  const QPoint mid{paper.X + paper.W / 2, paper.Y + paper.H / 2};
  {
    QStringList args{"mousemove", QString::number(mid.x() - 80), QString::number(mid.y()), "mousedown", "1"};
    for (int k = 1; k <= 8; ++k)
      args << "sleep" << "0.01" << "mousemove" << QString::number(mid.x() - 80 + 20 * k) << QString::number(mid.y() + k % 3);
    args << "mouseup" << "1";
    p.Xdo(args);
  }
  ASSERT_TRUE(QTest::qWaitFor([&] { return DarkPixels(Shot(), paper) > 100; }, 20000)) << "the stroke did not show";
  const QImage drawn = Shot().copy(paper.X, paper.Y, paper.W, paper.H);

  // Network menu, fifth along the menu bar, opened by the keyboard on its first item, then its
  // fourth item: the session and chat windows.
  std::set<std::string> before = p.AllWindows();
  p.Xdo({"mousemove", "--window", main, "20", "10", "click", "1"});
  ASSERT_FALSE(p.NewWindow(before).empty()) << "the File menu did not open";
  for (int i = 0; i < 4; ++i) {
    before = p.AllWindows();
    Keys({"Right"});
    ASSERT_FALSE(p.NewWindow(before).empty()) << "menu " << i + 2 << " did not open";
  }
  Keys({"Down", "Down", "Down", "Return"});
  std::string net, chat;
  ASSERT_TRUE(QTest::qWaitFor([&] { return !(net = p.FindWindow("Menu Réseau")).empty(); }, 20000))
      << "no session window";
  ASSERT_TRUE(QTest::qWaitFor([&] { return !(chat = p.FindWindow("Menu Chat")).empty(); }, 20000))
      << "no chat window";
  const QString netId = QString::fromStdString(net), chatId = QString::fromStdString(chat);

  // The host's name: typed, copied, replaced, pasted back, a key typed after it undone.
  p.Xdo({"windowactivate", "--sync", netId});
  click(netId, {120, 38});
  Keys({"ctrl+a"});
  type("kumo");
  Keys({"ctrl+a", "ctrl+c", "ctrl+a"});
  type("y");
  Keys({"ctrl+a", "ctrl+v", "Left", "Right"});
  type("x");
  Keys({"ctrl+z"});
  // The session paper's width on the third page: a digit rubbed out and brought back.
  click(netId, {185, 14});
  click(netId, {100, 38});
  Keys({"ctrl+a"});
  type("640");
  Keys({"Left", "Right", "BackSpace", "ctrl+z"});

  // The chat line: typed, then undone.
  p.Xdo({"windowactivate", "--sync", chatId});
  const TScreenRect c = p.Client(chat);
  // The line's text, right of where the caret stands in an empty line.
  const TScreenRect line{74, c.H - 22, c.W - 80, 16};
  auto lineText = [&] { return DarkPixels(p.Screenshot(chat), line); };
  const int empty = lineText();
  click(chatId, {124, c.H - 15});
  type("abc");
  EXPECT_TRUE(QTest::qWaitFor([&] { return lineText() > empty + 20; }, 20000)) << "no text in the chat line";
  Keys({"ctrl+z"});
  EXPECT_TRUE(QTest::qWaitFor([&] { return lineText() <= empty; }, 20000)) << "the chat line kept its text";

  // None of it reached the paper or asked anything.
  EXPECT_EQ(Shot().copy(paper.X, paper.Y, paper.W, paper.H), drawn) << "the paper changed";
  EXPECT_TRUE(p.Messages().empty()) << p.Messages().front();

  // On the paper window Ctrl+Z undoes the stroke.
  p.Xdo({"windowactivate", "--sync", main});
  Keys({"ctrl+z"});
  EXPECT_TRUE(QTest::qWaitFor([&] { return DarkPixels(Shot(), paper) == 0; }, 20000)) << "the stroke stayed";

  // The boxes' texts, as the program keeps them at its end.
  Keys({"ctrl+q"});
  ASSERT_TRUE(p.Proc.waitForFinished(30000)) << "the program did not end on Ctrl+Q";
  EXPECT_EQ(Stored("NetServerUser"), "kumo");
  EXPECT_EQ(Stored("NetWidth"), "640");
}

struct TLanguage {
  const char* Name;
  bool Japanese;
  // The brush window's caption for the brushes of keys S, F and A.
  const char* Watercolour;
  const char* Eraser;
  const char* Pen;
};
const TLanguage kLanguages[] = {
    {"Japanese", true, "筆情報 : 『水彩風』", "筆情報 : 『消しゴム』", "筆情報 : 『鉛筆/ペン』"},
    {"French", false, "Info Outil:  Pinceau", "Info Outil:  Gomme", "Info Outil: Plume/Crayon"},
};
void PrintTo(const TLanguage& l, std::ostream* os) { *os << l.Name; }

class ViewRealCaptions : public ViewReal, public ::testing::WithParamInterface<TLanguage> {};

// The brush window's caption names the brush a key chose at once.
TEST_P(ViewRealCaptions, TheBrushWindowNamesTheBrushAKeyChose) {
  const std::string file = dir.Path("blank.wpb");
  {
    TPaper paper;
    TEventPacket record;
    record.WriteNewPaper(600, 400);
    ASSERT_TRUE(paper.Init("blank", 600, 400) && paper.SaveToFile(file, false, record));
  }
  START_OR_SKIP(GetParam().Japanese, file);
  vtest::TRealPainter& p = *painter;
  ASSERT_TRUE(QTest::qWaitFor([&] { return WhiteShown(Shot(), 390).W > 0; }, 20000)) << "no paper";
  std::string brush;
  ASSERT_TRUE(QTest::qWaitFor([&] { return !(brush = p.FindWindow(GetParam().Pen)).empty(); }, 20000))
      << "no brush window named " << GetParam().Pen;
  const struct {
    const char* key;
    std::string caption;
  } keys[] = {{"s", GetParam().Watercolour}, {"f", GetParam().Eraser}, {"a", GetParam().Pen}};
  for (const auto& k : keys) {
    SCOPED_TRACE(k.key);
    Keys({k.key});
    EXPECT_TRUE(QTest::qWaitFor([&] { return p.Name(brush) == k.caption; }, 20000)) << p.Name(brush);
  }
}

INSTANTIATE_TEST_SUITE_P(Languages, ViewRealCaptions, ::testing::ValuesIn(kLanguages),
                         [](const ::testing::TestParamInfo<TLanguage>& info) { return std::string(info.param.Name); });

}  // namespace
