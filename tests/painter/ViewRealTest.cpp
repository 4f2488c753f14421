// The real painter on a 1600 x 1000 desktop with a window manager, as a user meets its view and
// its keys: the wheel and the zoom keys turned there and back give the same view again, the
// editing keys typed in a text field edit the field while on the paper they undo the stroke, and
// the brush window's caption names the brush a key chose at once.
#include <gtest/gtest.h>

#include <QImage>
#include <QTest>
#include <filesystem>
#include <fstream>

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
      const uint8_t r = static_cast<uint8_t>(x / 25 * 41 + y / 25 * 7 + 1), g = static_cast<uint8_t>(y / 25 * 29 + x / 25 * 3);
      record.WriteFillRect(0, x, y, 25, 25, r, g == r ? g + 1 : g, kPictureBlue);
      paper.Layers->FillRect(0, x, y, 25, 25, uint32_t{r} << 16 | uint32_t(g == r ? g + 1 : g) << 8 | kPictureBlue);
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

// The white of a blank paper on the screen (sampled every fourth pixel); empty while none shows.
TScreenRect WhiteShown(const QImage& shot, int atLeast) {
  int left = shot.width(), right = -1, top = shot.height(), bottom = -1, n = 0;
  for (int y = 0; y < shot.height(); y += 4)
    for (int x = 0; x < shot.width(); x += 4)
      if ((shot.pixel(x, y) & 0xFFFFFF) == 0xFFFFFF) {
        ++n;
        left = std::min(left, x), right = std::max(right, x), top = std::min(top, y), bottom = std::max(bottom, y);
      }
  if (n * 16 < atLeast) return {};
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

// The picture's pixels in a part of the screen, everything else (the tool windows above it, the
// grey beside the paper, the scroll bars) black.
QImage Part(const QImage& shot, const TScreenRect& r) {
  QImage part = shot.copy(r.X, r.Y, r.W, r.H);
  for (int y = 0; y < part.height(); ++y) {
    auto* row = reinterpret_cast<QRgb*>(part.scanLine(y));
    for (int x = 0; x < part.width(); ++x)
      if (!IsPicture(row[x])) row[x] = 0xFF000000u;
  }
  return part;
}

// Where two pictures of the same part differ first, for a failure message.
std::string FirstDifference(const QImage& a, const QImage& b) {
  if (a.size() != b.size()) return "sizes differ";
  for (int y = 0; y < a.height(); ++y)
    for (int x = 0; x < a.width(); ++x)
      if (a.pixel(x, y) != b.pixel(x, y)) return "first at " + std::to_string(x) + "," + std::to_string(y);
  return "none";
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
  // Waits until the part of the screen shows `expected`; false after 20 s.
  bool Shows(const TScreenRect& r, const QImage& expected) {
    return QTest::qWaitFor([&] { return Part(Shot(), r) == expected; }, 20000);
  }
  bool Changes(const TScreenRect& r, const QImage& from) {
    return QTest::qWaitFor([&] { return Part(Shot(), r) != from; }, 20000);
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
  const QImage start = Part(Shot(), view);

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
    EXPECT_TRUE(same) << FirstDifference(Part(Shot(), view), start);
    if (!same) return;
  }
}

}  // namespace
