// The real painter's windows on a desktop with a window manager: where the tool windows stand
// at the first start and after the reset command, which window is on top when a message box
// asks, and the main window's maximised state across a restart.
#include <gtest/gtest.h>

#include <QTest>
#include <algorithm>
#include <functional>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "common/RealPainter.h"
#include "common/TempDir.h"
#include "engine/EventPacket.h"
#include "engine/Paper.h"

namespace {

using vtest::TScreenRect;

// The main window's status bar, along the bottom of the screen while it is maximised.
constexpr int kStatusBarHeight = 18;

const char kJapanese[] = "[Software\\Brenmoor\\Vellora]\nJapanese\tdword\t1\n";

void WriteSettings(const vtest::TRealPainter& p, const std::string& text) {
  std::ofstream(p.Settings + "/brenmoor.reg") << text;
}

// The painter on its own managed X display; skips where that cannot be had.
#define START_DESKTOP(server)                                                             \
  if (std::string why = vtest::TRealPainter::Missing(); !why.empty()) GTEST_SKIP() << why; \
  vtest::TXvfb server(vtest::FindProgram("Xvfb"), "1600x1000x24", vtest::TDesktopKind::Managed); \
  if (!server.Managed()) GTEST_SKIP() << server.WhyNotManaged()

// The five tool windows by their captions in Japanese.
struct TToolFrames {
  std::map<std::string, TScreenRect> Frames;  // brush, colour, layer, preview, tools
  std::vector<std::string> Ids;
};

TToolFrames ToolWindows(vtest::TRealPainter& p) {
  TToolFrames out;
  for (const std::string& w : p.Windows()) {
    const std::string name = p.Name(w);
    std::string role;
    if (name.find("ペン") != std::string::npos) role = "brush";
    else if (name == "カラーパレット") role = "colour";
    else if (name.find("レイヤ") != std::string::npos) role = "layer";
    else if (name == "プレビュー表示") role = "preview";
    else if (name.find_first_not_of(' ') == std::string::npos) role = "tools";  // a blank caption
    if (role.empty()) continue;
    out.Frames[role] = p.Frame(w);
    out.Ids.push_back(w);
  }
  return out;
}

// What is wrong with the tool windows' places; empty when each stands at its default place,
// wholly on screen and covering no other.
std::string DefaultPlaceFaults(vtest::TRealPainter& p) {
  const TToolFrames t = ToolWindows(p);
  std::ostringstream f;
  for (const char* role : {"brush", "colour", "layer", "preview", "tools"})
    if (!t.Frames.count(role)) f << role << " window not shown; ";
  if (!f.str().empty()) return f.str();
  const TScreenRect screen = p.Screen();
  for (const auto& [role, r] : t.Frames)
    if (!r.Inside(screen)) f << role << " " << r << " not wholly on the screen " << screen << "; ";
  for (auto a = t.Frames.begin(); a != t.Frames.end(); ++a)
    for (auto b = std::next(a); b != t.Frames.end(); ++b)
      if (a->second.Overlaps(b->second)) f << a->first << " " << a->second << " covers " << b->first << " " << b->second << "; ";
  const TScreenRect brush = t.Frames.at("brush"), colour = t.Frames.at("colour"), layer = t.Frames.at("layer"),
                    preview = t.Frames.at("preview"), tools = t.Frames.at("tools");
  // The bottom row of the screen is the maximised main window's status bar: left free.
  const int bottom = screen.Bottom() - kStatusBarHeight;
  if (brush.Right() != screen.Right() || brush.Bottom() != bottom) f << "brush " << brush << " not bottom right; ";
  if (colour.Right() != screen.Right() || colour.Bottom() != brush.Y) f << "colour " << colour << " not above the brush; ";
  if (layer.X != 0 || layer.Bottom() != bottom) f << "layer " << layer << " not bottom left; ";
  if (preview.X != 0 || preview.Y != 40) f << "preview " << preview << " not at 0, 40; ";
  if (tools.X != preview.X || tools.Y != preview.Bottom()) f << "tools " << tools << " not under the preview; ";
  return f.str();
}

// Keys to the main window, tried again until `done` holds (a key can be lost while a menu
// opens on a busy machine).
bool KeysUntil(vtest::TRealPainter& p, const QStringList& keys, const std::function<bool()>& done) {
  return QTest::qWaitFor(
      [&] {
        p.Xdo({"windowactivate", "--sync", QString::fromStdString(p.MainWindow())});
        p.Xdo(QStringList{"key", "--delay", "300"} + keys);
        return QTest::qWaitFor(done, 4000);
      },
      30000);
}

std::string MessageBoxWindow(vtest::TRealPainter& p) {
  for (const std::string& w : p.Windows())
    if (p.Name(w) == "Vellora1.1") return w;
  return {};
}

// What is wrong with a message box's place: it must be above every other window of the painter
// and wholly on screen.
std::string BoxFaults(vtest::TRealPainter& p, const std::string& box) {
  std::ostringstream f;
  const std::vector<std::string> stack = p.Stacking();
  const auto at = std::find(stack.begin(), stack.end(), box);
  if (at == stack.end()) return "the box is not in the stacking order";
  for (const std::string& w : p.Windows())
    if (w != box && std::find(at, stack.end(), w) != stack.end()) f << "'" << p.Name(w) << "' above the box; ";
  if (!p.Frame(box).Inside(p.Screen())) f << "box " << p.Frame(box) << " not wholly on screen; ";
  return f.str();
}

TEST(DesktopSmokePlace, TheToolWindowsStandAtTheirPlacesAtTheFirstStartAndAfterTheReset) {
  START_DESKTOP(server);
  TTempDir dir;
  vtest::TRealPainter p(server, dir.Dir());
  WriteSettings(p, kJapanese);
  ASSERT_TRUE(p.Start()) << p.Error();

  std::string faults;
  (void)QTest::qWaitFor([&] { return (faults = DefaultPlaceFaults(p)).empty(); }, 20000);
  EXPECT_EQ(faults, "") << "at the first start";

  // Moved about by the user, then put back by the Window menu's reset.
  const TToolFrames moved = ToolWindows(p);
  int x = 300;
  for (const std::string& w : moved.Ids) {
    p.Xdo({"windowmove", QString::fromStdString(w), QString::number(x), "300"});
    x += 150;
  }
  ASSERT_TRUE(QTest::qWaitFor([&] { return !DefaultPlaceFaults(p).empty(); }, 10000));
  KeysUntil(p, {"Escape", "alt+w", "Down", "Return"}, [&] { return (faults = DefaultPlaceFaults(p)).empty(); });
  EXPECT_EQ(faults, "") << "after the reset";

  // The short help opens centred on the screen.
  std::string help;
  KeysUntil(p, {"Escape", "alt+h", "h"}, [&] { return !(help = p.FindWindow("簡易ヘルプ")).empty(); });
  ASSERT_FALSE(help.empty());
  TScreenRect r, screen = p.Screen();
  (void)QTest::qWaitFor(
      [&] {
        r = p.Frame(help);
        return std::abs(r.X + r.W / 2 - screen.W / 2) <= 1 && std::abs(r.Y + r.H / 2 - screen.H / 2) <= 1;
      },
      10000);
  EXPECT_LE(std::abs(r.X + r.W / 2 - screen.W / 2), 1) << r;
  EXPECT_LE(std::abs(r.Y + r.H / 2 - screen.H / 2), 1) << r;
}

TEST(DesktopSmokePlace, MessageBoxesOpenAboveTheStayOnTopWindows) {
  START_DESKTOP(server);
  TTempDir dir;
  vtest::TRealPainter p(server, dir.Dir());
  WriteSettings(p, kJapanese);
  // A real box, answered from here.
  p.Env.remove("VELLORA_MSGBOX_LOG");
  // A paper left by a run that did not end: the first activation says so in a box.
  std::filesystem::create_directories(p.Data + "/vellora");
  {
    TPaper paper;
    ASSERT_TRUE(paper.Init("NONAME", 64, 48));
    TEventPacket packet;
    packet.WriteNewPaper(64, 48);
    ASSERT_TRUE(paper.SaveToFile(p.Data + "/vellora/$$$tmp.wpb", false, packet));
  }
  ASSERT_TRUE(p.Start()) << p.Error();

  std::string box, faults;
  ASSERT_TRUE(QTest::qWaitFor([&] { return !(box = MessageBoxWindow(p)).empty(); }, 20000));
  (void)QTest::qWaitFor([&] { return (faults = BoxFaults(p, box)).empty(); }, 10000);
  EXPECT_EQ(faults, "") << "the recovery box";
  p.Xdo({"windowactivate", "--sync", QString::fromStdString(box)});
  p.Xdo({"key", "Return"});
  ASSERT_TRUE(QTest::qWaitFor([&] { return MessageBoxWindow(p).empty(); }, 10000));

  // The chat window and the session window below it, each wholly on screen, neither covering
  // the other.
  std::string chat, net;
  KeysUntil(p, {"Escape", "alt+n", "n"}, [&] {
    chat = p.FindWindow("チャットウィンドウ");
    net = p.FindWindow("ネットワークウィンドウ");
    return !chat.empty() && !net.empty();
  });
  ASSERT_FALSE(chat.empty());
  ASSERT_FALSE(net.empty());
  const TScreenRect screen = p.Screen(), chatFrame = p.Frame(chat), netFrame = p.Frame(net);
  EXPECT_TRUE(chatFrame.Inside(screen)) << chatFrame;
  EXPECT_TRUE(netFrame.Inside(screen)) << netFrame;
  EXPECT_FALSE(chatFrame.Overlaps(netFrame)) << chatFrame << " " << netFrame;
  EXPECT_EQ(netFrame.X, chatFrame.X);
  EXPECT_EQ(netFrame.Y, chatFrame.Bottom() + 10);

  // Quitting with a paper open asks; the box comes above the chat and tool windows.
  box.clear();
  KeysUntil(p, {"ctrl+q"}, [&] { return !(box = MessageBoxWindow(p)).empty(); });
  ASSERT_FALSE(box.empty());
  (void)QTest::qWaitFor([&] { return (faults = BoxFaults(p, box)).empty(); }, 10000);
  EXPECT_EQ(faults, "") << "the quit question";
  // No: the painter goes on.
  p.Xdo({"windowactivate", "--sync", QString::fromStdString(box)});
  p.Xdo({"key", "Escape"});
  EXPECT_TRUE(QTest::qWaitFor([&] { return MessageBoxWindow(p).empty(); }, 10000));
  EXPECT_EQ(p.Proc.state(), QProcess::Running);
}

TEST(DesktopSmokePlace, AMaximisedMainWindowComesBackMaximised) {
  START_DESKTOP(server);
  TTempDir dir;
  vtest::TRealPainter p(server, dir.Dir());
  // A window of its own size first; the user maximises it by its title bar.
  WriteSettings(p, std::string(kJapanese) + "Maximized\tdword\t0\nWinLeft\tdword\t100\nWinTop\tdword\t100\n"
                                            "WinWidth\tdword\t600\nWinHeight\tdword\t400\n");
  auto maximised = [&] {
    const std::string state = p.Tool("xprop", {"-id", QString::fromStdString(p.MainWindow()), "_NET_WM_STATE"});
    return state.find("_NET_WM_STATE_MAXIMIZED_VERT") != std::string::npos &&
           state.find("_NET_WM_STATE_MAXIMIZED_HORZ") != std::string::npos;
  };
  ASSERT_TRUE(p.Start()) << p.Error();
  ASSERT_FALSE(maximised());
  ASSERT_TRUE(QTest::qWaitFor(
      [&] {
        const TScreenRect frame = p.Frame(p.MainWindow());
        p.Xdo({"mousemove", QString::number(frame.X + 200), QString::number(frame.Y + 8)});
        p.Xdo({"click", "--repeat", "2", "--delay", "80", "1"});
        return QTest::qWaitFor(maximised, 4000);
      },
      30000));

  // Quit with nothing open: nothing is asked, the state is kept.
  ASSERT_TRUE(KeysUntil(p, {"ctrl+q"}, [&] { return p.Proc.state() != QProcess::Running; }));

  vtest::TRealPainter again(server, dir.Dir());
  ASSERT_TRUE(again.Start()) << again.Error();
  auto state = [&] { return again.Tool("xprop", {"-id", QString::fromStdString(again.MainWindow()), "_NET_WM_STATE"}); };
  (void)QTest::qWaitFor([&] { return state().find("_NET_WM_STATE_MAXIMIZED_HORZ") != std::string::npos; }, 10000);
  EXPECT_NE(state().find("_NET_WM_STATE_MAXIMIZED_VERT"), std::string::npos) << state();
  EXPECT_NE(state().find("_NET_WM_STATE_MAXIMIZED_HORZ"), std::string::npos) << state();
  const TScreenRect frame = again.Frame(again.MainWindow()), screen = again.Screen();
  EXPECT_EQ(frame.W, screen.W) << frame;
  EXPECT_EQ(frame.H, screen.H) << frame;
}

}  // namespace
