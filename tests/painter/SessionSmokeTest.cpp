// The real painter hosting a session on a real X display with a window manager, while another
// program is the active one: raw members join and read their whole reply, a member's chat
// line reaches the other, and the idle host costs next to no processor time.
#include <unistd.h>

#include <QElapsedTimer>
#include <algorithm>
#include <fstream>
#include <set>
#include <sstream>

#include "NetTestUtil.h"
#include "common/RealPainter.h"
#include "common/TempDir.h"
#include "common/ToolRun.h"
#include "common/Xvfb.h"
#include "platform/core/Settings.h"
#include "platform/qt/WindowMessages.h"

namespace {

// Processor time (user and system) of a process so far, in seconds.
double CpuSeconds(qint64 pid) {
  std::ifstream f("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  std::getline(f, line);
  const size_t close = line.rfind(')');
  if (close == std::string::npos) return -1;
  std::istringstream rest(line.substr(close + 2));
  std::string field;
  unsigned long long utime = 0, stime = 0;
  for (int i = 3; i <= 15 && rest >> field; ++i) {
    if (i == 14) utime = std::stoull(field);
    if (i == 15) stime = std::stoull(field);
  }
  return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// Share of one core that the process used over `ms` of the test's own event loop.
double CpuShare(qint64 pid, int ms) {
  const double before = CpuSeconds(pid);
  QElapsedTimer t;
  t.start();
  QTest::qWait(ms);
  return (CpuSeconds(pid) - before) / (static_cast<double>(t.elapsed()) / 1000.0);
}

// A raw member that logs in as `name`; its slot, or -1.
int32_t JoinRaw(TRawConn& c, uint16_t port, const std::string& name) {
  if (!c.Connect(port)) return -1;
  if (!QTest::qWaitFor([&] { return !c.FramesOf(mkAssignId).empty() || c.Closed(); }, 10000)) return -1;
  if (c.FramesOf(mkAssignId).empty()) return -1;
  const int32_t slot = ReadLe(c.FramesOf(mkAssignId)[0].Payload.data());
  c.Send(Cat({Le(mkLogin), Le(slot), Le(mdHost), Le(32), Field(name, 16), Field("pw", 16)}));
  return slot;
}

std::vector<int32_t> ReplyWords(const TRawConn& c, int32_t slot) {
  std::vector<int32_t> words;
  for (const TRawFrame& f : c.FramesOf(mkData)) {
    if (f.Sender == 0 && f.Dest == slot && f.Payload.size() == 4) words.push_back(ReadLe(f.Payload.data()));
  }
  return words;
}

// Joins one after another: a join refused while the one before still holds the lock tries
// again, until the member has the slot and its whole reply.
bool JoinInTurn(std::unique_ptr<TRawConn>& c, uint16_t port, const std::string& name, int32_t slot) {
  return QTest::qWaitFor(
      [&] {
        c = std::make_unique<TRawConn>();
        return JoinRaw(*c, port, name) == slot &&
               QTest::qWaitFor([&] { return ReplyWords(*c, slot).size() >= 6 || c->Closed(); }, 10000) &&
               ReplyWords(*c, slot).size() >= 6;
      },
      30000);
}

// The painter hosts as the lobby's key asks: 3 members on 320 x 240 with 1 layer each.
void HostThreeOnOneLayer(vtest::TRealPainter& p, uint16_t port) {
  WithEnv("VELLORA_SETTINGS_DIR", p.Settings, [&] {
    plat::TRegistry key;
    ASSERT_TRUE(key.OpenKey("Software\\Brenmoor\\Roomvane\\vlConfig", true));
    key.WriteBool("IsServer", true);
    key.WriteString("User", "HOTE");
    key.WriteString("Password", "pw");
    key.WriteInteger("X", 320);
    key.WriteInteger("Y", 240);
    key.WriteInteger("Port", port);
    key.WriteInteger("MaxConnections", 3);
    key.WriteInteger("Layer", 1);
    key.WriteString("IPAddress", "127.0.0.1");
  });
  ASSERT_TRUE(p.Start()) << p.Error();
  WithEnv("XDG_RUNTIME_DIR", p.Runtime, [&] {
    ASSERT_TRUE(QTest::qWaitFor([] { return plat::FindWindowClass("TVLMain", 200); }, 20000));
    // The address is taken at once; the post goes out from the event loop that waits next.
    plat::PostWindowMessage("TVLMain", plat::TWindowMessage{0x601, 0, 0, {}});
  });
  ASSERT_TRUE(QTest::qWaitFor([&] { return !p.FindWindow("チャットウィンドウ").empty(); }, 20000))
      << "hosting did not start";
}

TEST(SessionSmoke, AHostInTheBackgroundAnswersJoinsRelaysChatAndIdlesCheaply) {
  if (const std::string why = vtest::TRealPainter::Missing(); !why.empty()) GTEST_SKIP() << why;
  if (vtest::FindProgram("xlogo").empty()) GTEST_SKIP() << "xlogo is needed (Debian package x11-apps)";
  vtest::TXvfb server(vtest::FindProgram("Xvfb"), "1600x1000x24", vtest::TDesktopKind::Managed);
  if (!server.Managed()) GTEST_SKIP() << server.WhyNotManaged();
  TTempDir dir;
  vtest::TRealPainter p(server, dir.Dir());

  // The lobby's key asks for hosting 3 members on 320 x 240 with 1 layer each.
  const uint16_t port = FreePort();
  HostThreeOnOneLayer(p, port);
  if (HasFatalFailure()) return;

  // Another program becomes the active one.
  QProcess logo;
  logo.setProcessEnvironment(p.Env);
  logo.start(QString::fromStdString(vtest::FindProgram("xlogo")), {});
  ASSERT_TRUE(logo.waitForStarted(10000));
  std::string other;
  ASSERT_TRUE(QTest::qWaitFor(
      [&] {
        const std::string found = p.Xdo({"search", "--onlyvisible", "--class", "xlogo"});
        other = found.substr(0, found.find('\n'));
        return !other.empty();
      },
      20000));
  p.Xdo({"windowactivate", "--sync", QString::fromStdString(other)});
  ASSERT_TRUE(QTest::qWaitFor([&] { return p.Xdo({"getactivewindow"}) == vtest::WindowId(other); }, 10000));

  // Two members join the host in the background; each reads all six words of its reply.
  TRawConn a;
  const int32_t slotA = JoinRaw(a, port, "A");
  ASSERT_EQ(slotA, 1);
  EXPECT_TRUE(QTest::qWaitFor([&] { return ReplyWords(a, slotA).size() >= 6; }, 10000))
      << ReplyWords(a, slotA).size() * 4 << " of 24 reply bytes";
  EXPECT_EQ(ReplyWords(a, slotA), (std::vector<int32_t>{10007, 0, 320, 240, 3, 1}));
  std::unique_ptr<TRawConn> bp;
  int32_t slotB = -1;
  // Refused while A's handshake still holds the lock: it tries again.
  ASSERT_TRUE(QTest::qWaitFor(
      [&] {
        bp = std::make_unique<TRawConn>();
        slotB = JoinRaw(*bp, port, "B");
        return slotB == 2;
      },
      20000));
  TRawConn& b = *bp;
  EXPECT_TRUE(QTest::qWaitFor([&] { return ReplyWords(b, slotB).size() >= 6; }, 10000));
  EXPECT_EQ(ReplyWords(b, slotB), (std::vector<int32_t>{10007, 0, 320, 240, 3, 1}));

  // A's chat line reaches B through the host.
  a.Send(Frame(mkChat, slotA, mdAll, Octets{'h', 'e', 'l', 'l', 'o'}));
  ASSERT_TRUE(QTest::qWaitFor([&] { return !b.FramesOf(mkChat).empty(); }, 10000));
  EXPECT_EQ(b.FramesOf(mkChat)[0].Payload, (Octets{'h', 'e', 'l', 'l', 'o'}));
  EXPECT_EQ(p.Xdo({"getactivewindow"}), vtest::WindowId(other)) << "the painter stayed in the background";

  // Nothing arrives: hosting in the background costs next to nothing, and so it does in front.
  QTest::qWait(500);
  const qint64 pid = p.Proc.processId();
  const double behind = CpuShare(pid, 5000);
  EXPECT_LT(behind, 0.10) << "share of a core, painter in the background";
  p.Xdo({"windowactivate", "--sync", QString::fromStdString(p.MainWindow())});
  QTest::qWait(500);
  const double front = CpuShare(pid, 5000);
  EXPECT_LT(front, 0.10) << "share of a core, painter active";
  RecordProperty("cpu_background", std::to_string(behind));
  RecordProperty("cpu_active", std::to_string(front));

  logo.terminate();
  logo.waitForFinished(5000);
}

// A member floods the real host at full speed beside a good member: the host's memory stays
// bounded, the flooder is slowed, the good member's chat keeps flowing, and once the flooder
// has gone a newcomer gets its slot.
TEST(SessionSmoke, AFloodingMemberLeavesTheHostsMemoryBoundedAndItsSlotFree) {
  if (const std::string why = vtest::TRealPainter::Missing(); !why.empty()) GTEST_SKIP() << why;
  vtest::TXvfb server(vtest::FindProgram("Xvfb"), "1600x1000x24", vtest::TDesktopKind::Managed);
  if (!server.Managed()) GTEST_SKIP() << server.WhyNotManaged();
  TTempDir dir;
  vtest::TRealPainter p(server, dir.Dir());
  // A sanitizer build keeps freed blocks for a while; a small quarantine leaves the painter's
  // own memory to be seen.
  p.Env.insert("ASAN_OPTIONS", p.Env.value("ASAN_OPTIONS") + ":quarantine_size_mb=8");
  const uint16_t port = FreePort();
  HostThreeOnOneLayer(p, port);
  if (HasFatalFailure()) return;

  std::unique_ptr<TRawConn> a, f, c;
  ASSERT_TRUE(JoinInTurn(a, port, "A", 1));
  ASSERT_TRUE(JoinInTurn(f, port, "F", 2));

  const qint64 pid = p.Proc.processId();
  QTest::qWait(500);
  const int64_t rss0 = ResidentBytes(std::to_string(pid));
  ASSERT_GT(rss0, 0);
  const Octets flood = DataFrames(2, FloodEvents(2, size_t{8} << 20));
  int64_t written = 0, mostRss = rss0;
  int chats = 0;
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < 12000) {
    if (f->Socket().bytesToWrite() < (4 << 20)) {
      f->Socket().write(reinterpret_cast<const char*>(flood.data()), static_cast<qint64>(flood.size()));
      written += static_cast<int64_t>(flood.size());
    }
    if (t.elapsed() / 1000 >= chats) {
      a->Send(Frame(mkChat, 1, mdAll, Octets{'o', 'k', static_cast<uint8_t>('0' + chats % 10)}));
      ++chats;
    }
    QTest::qWait(50);
    mostRss = std::max(mostRss, ResidentBytes(std::to_string(pid)));
    a->In.clear();  // the good member keeps reading, and the test keeps no copy of the flood
  }
  const int64_t sent = written - f->Socket().bytesToWrite();
  EXPECT_LT(mostRss - rss0, int64_t{96} << 20) << "bytes of resident memory more, " << sent << " bytes sent";
  EXPECT_GT(f->Socket().bytesToWrite(), 0) << "the flooder waits";
  EXPECT_LT(sent, int64_t{48} << 20) << "bytes that left the flooder in 12 s";
  EXPECT_GE(f->FramesOf(mkChat).size(), static_cast<size_t>(chats - 1)) << "the good member's chat got through";
  EXPECT_FALSE(a->Closed());

  // The flooder goes: a newcomer gets its slot and its whole reply.
  Reset(f->Socket());
  ASSERT_TRUE(JoinInTurn(c, port, "C", 2)) << "the flooder's slot was not given to the next member";
  EXPECT_EQ(ReplyWords(*c, 2), (std::vector<int32_t>{10007, 0, 320, 240, 3, 1}));
  RecordProperty("rss_growth", std::to_string(mostRss - rss0));
}

// Connections that never log in, from four addresses and three from one, keep no joiner
// out: one that logs in at once is answered as promptly as with nobody waiting.
TEST(SessionSmoke, SilentConnectionsKeepNoJoinerOut) {
  if (const std::string why = vtest::TRealPainter::Missing(); !why.empty()) GTEST_SKIP() << why;
  vtest::TXvfb server(vtest::FindProgram("Xvfb"), "1280x800x24", vtest::TDesktopKind::Managed);
  if (!server.Managed()) GTEST_SKIP() << server.WhyNotManaged();
  TTempDir dir;
  vtest::TRealPainter p(server, dir.Dir());
  const uint16_t port = FreePort();
  HostThreeOnOneLayer(p, port);
  if (HasFatalFailure()) return;

  std::vector<std::unique_ptr<TRawConn>> silent;
  for (const char* from : {"127.0.0.2", "127.0.0.3", "127.0.0.4", "127.0.0.5", "127.0.0.1", "127.0.0.1", "127.0.0.1"}) {
    silent.push_back(std::make_unique<TRawConn>());
    ASSERT_TRUE(silent.back()->Socket().bind(QHostAddress(QString::fromLatin1(from)))) << from;
    ASSERT_TRUE(silent.back()->Connect(port)) << from;
  }
  ASSERT_TRUE(QTest::qWaitFor([&] {
    return std::all_of(silent.begin(), silent.end(), [](const auto& s) { return !s->FramesOf(mkAssignId).empty(); });
  }, 10000));

  QElapsedTimer t;
  t.start();
  TRawConn joiner;
  const int32_t slot = JoinRaw(joiner, port, "JOINER");
  ASSERT_EQ(slot, 1);
  ASSERT_TRUE(QTest::qWaitFor([&] { return ReplyWords(joiner, slot).size() >= 6; }, 10000));
  RecordProperty("answered_ms", std::to_string(t.elapsed()));
  EXPECT_LT(t.elapsed(), 5000) << "held behind the silent connections";
  EXPECT_EQ(ReplyWords(joiner, slot), (std::vector<int32_t>{10007, 0, 320, 240, 3, 1}));
  for (const auto& s : silent) EXPECT_FALSE(s->Closed());
}

// A wide stroke of one colour on a layer, zig-zagging over the 320 x 240 paper.
Octets ColourStroke(int32_t layer, uint32_t colour, int32_t points, int32_t phase) {
  TEventPacket r;
  TStroke b;
  b.LoadPreset(bkPen, 1);
  b.SetWidth(16.0f);
  b.SetColor(colour);
  b.SetLayer(layer);
  r.BeginStroke(b, 20.0f, static_cast<float>(20 + phase), 1.0f);
  for (int32_t i = 1; i < points; ++i)
    r.AddStrokePoint(static_cast<float>(20 + (i * 47) % 280), static_cast<float>(20 + phase + (i * 5) % 60), 1.0f);
  r.EndStroke();
  return Octets(r.Data().Memory(), r.Data().Memory() + r.Data().Size());
}

// An event file of the session's paper (3 layers of 320 x 240) with the events after it.
void WriteSessionFile(const std::string& path, const Octets& events) {
  TEventPacket f;
  f.WriteNewPaper(320, 240);
  for (int i = 1; i < 3; ++i) f.WriteNewLayer(lkMultiply);
  f.Data().WriteBuffer(events.data(), static_cast<int32_t>(events.size()));
  f.WriteEndMarker();
  ASSERT_TRUE(f.ExportToFile(path));
}

// Pixels of the main window's client area, outside the painter's other windows, near one
// colour (each channel within 16).
int64_t PixelsNear(vtest::TRealPainter& p, const QImage& shot, uint32_t rgb) {
  const vtest::TScreenRect area = p.Client(p.MainWindow());
  std::vector<vtest::TScreenRect> others;
  for (const std::string& w : p.Windows())
    if (w != vtest::WindowId(p.MainWindow())) others.push_back(p.Frame(w));
  int64_t n = 0;
  for (int y = std::max(area.Y, 0); y < std::min(area.Bottom(), shot.height()); ++y)
    for (int x = std::max(area.X, 0); x < std::min(area.Right(), shot.width()); ++x) {
      const QRgb c = shot.pixel(x, y);
      if (std::abs(qRed(c) - int(rgb >> 16 & 255)) > 16 || std::abs(qGreen(c) - int(rgb >> 8 & 255)) > 16 ||
          std::abs(qBlue(c) - int(rgb & 255)) > 16)
        continue;
      n += std::none_of(others.begin(), others.end(), [&](const vtest::TScreenRect& o) {
        return x >= o.X && x < o.Right() && y >= o.Y && y < o.Bottom();
      });
    }
  return n;
}

// A member sends fill and clear polygons of 65535 zig-zag corners on its own layer, between two
// strokes: the real host goes on relaying chat and taking joins while it plays them, draws
// neither polygon (the fill keeps at most 1000 crossings a line), and its record, exported
// through the File menu, gives the same picture as the same events played headless.
TEST(SessionSmoke, AMembersPolygonsOfTheMostCornersLeaveTheHostAnsweringAndPicturesEqual) {
  if (const std::string why = vtest::TRealPainter::Missing(); !why.empty()) GTEST_SKIP() << why;
  if (vtest::FindProgram("xwd").empty()) GTEST_SKIP() << "xwd is needed (Debian package x11-apps)";
  vtest::TXvfb server(vtest::FindProgram("Xvfb"), "1600x1000x24", vtest::TDesktopKind::Managed);
  if (!server.Managed()) GTEST_SKIP() << server.WhyNotManaged();
  TTempDir dir;
  vtest::TRealPainter p(server, dir.Dir());
  // Japanese menus, and file dialogs that open in the test's folder.
  WithEnv("VELLORA_SETTINGS_DIR", p.Settings, [&] {
    plat::TRegistry key;
    ASSERT_TRUE(key.OpenKey("Software\\Brenmoor\\Vellora", true));
    key.WriteBool("Japanese", true);
    key.WriteString("Path", dir.Dir() + "/");
  });
  const uint16_t port = FreePort();
  HostThreeOnOneLayer(p, port);
  if (HasFatalFailure()) return;

  std::unique_ptr<TRawConn> a, b, c;
  ASSERT_TRUE(JoinInTurn(a, port, "A", 1));
  ASSERT_TRUE(JoinInTurn(b, port, "B", 2));

  // A's events on its own layer 1: a blue stroke, four pairs of a fill polygon (a colour of
  // its own) and a clear polygon of 65535 corners each, a red stroke; then a chat line. The
  // polygons are more than the host takes in at once, so the line is read only once most of
  // them have been played.
  constexpr uint32_t kBlue = 0x0000FF, kRed = 0xFF0000, kFill = 0x03FE05;
  std::vector<TPoint> zigzag(65535);
  for (size_t i = 0; i < zigzag.size(); ++i)
    zigzag[i] = TPoint{i % 2 ? 319 : 0, static_cast<int32_t>(i * 37 % 240)};
  TEventPacket polygons;
  for (int k = 0; k < 4; ++k) {
    polygons.WriteFillPolygon(1, zigzag.data(), 0x03, 0xFE, 0x05, static_cast<int32_t>(zigzag.size()));
    polygons.WriteClearPolygon(1, zigzag.data(), static_cast<int32_t>(zigzag.size()));
  }
  const Octets blue = ColourStroke(1, kBlue, 40, 0), red = ColourStroke(1, kRed, 40, 120);
  const Octets polygonBytes(polygons.Data().Memory(), polygons.Data().Memory() + polygons.Data().Size());
  ASSERT_GT(polygonBytes.size(), size_t{2} << 20);
  const Octets events = Cat({blue, polygonBytes, red});
  a->Send(DataFrames(1, events));
  a->Send(Frame(mkChat, 1, mdAll, Octets{'a', 'f', 't', 'e', 'r'}));

  // Meanwhile B's chat lines go to A one after another, each once the one before has arrived.
  auto chatsTo = [](const TRawConn& to, int32_t from) {
    size_t n = 0;
    for (const TRawFrame& f : to.FramesOf(mkChat)) n += f.Sender == from;
    return n;
  };
  size_t pings = 0;
  qint64 longestMs = 0;
  QElapsedTimer sent;
  ASSERT_TRUE(QTest::qWaitFor(
      [&] {
        if (chatsTo(*a, 2) == pings) {
          if (pings) longestMs = std::max(longestMs, sent.elapsed());
          b->Send(Frame(mkChat, 2, mdAll, Octets{'p', static_cast<uint8_t>('0' + pings % 10)}));
          sent.start();
          ++pings;
        }
        return chatsTo(*b, 1) > 0;
      },
      120000))
      << "A's line after its polygons never came";
  EXPECT_EQ(b->FramesOf(mkChat).back().Payload, (Octets{'a', 'f', 't', 'e', 'r'}));
  RecordProperty("chat_round_trips", std::to_string(pings));
  RecordProperty("longest_chat_round_trip_ms", std::to_string(longestMs));
  // After them, B's line still reaches A, and a newcomer in B's place gets its whole reply.
  const size_t before = chatsTo(*a, 2);
  b->Send(Frame(mkChat, 2, mdAll, Octets{'s', 't', 'i', 'l', 'l'}));
  EXPECT_TRUE(QTest::qWaitFor([&] { return chatsTo(*a, 2) > before; }, 10000)) << "B's line after the polygons";
  b->Close();
  ASSERT_TRUE(JoinInTurn(c, port, "C", 2)) << "no join answered after the polygons";
  EXPECT_EQ(ReplyWords(*c, 2), (std::vector<int32_t>{10007, 0, 320, 240, 3, 1}));

  // The red stroke, played after every polygon, shows in the host's main window, beside the
  // blue one, and the fill's colour nowhere.
  QImage shot;
  ASSERT_TRUE(QTest::qWaitFor(
      [&] {
        shot = p.Screenshot();
        return PixelsNear(p, shot, kRed) > 500;
      },
      30000))
      << "the stroke after the polygons is not on the host's screen";
  EXPECT_GT(PixelsNear(p, shot, kBlue), 500) << "the stroke before the polygons was cleared";
  EXPECT_EQ(PixelsNear(p, shot, kFill), 0) << "a polygon was filled";

  // The host's record, exported through the File menu into the test's folder.
  const std::string record = dir.Path("host.wpe");
  p.Xdo({"windowactivate", "--sync", QString::fromStdString(p.MainWindow())});
  const std::set<std::string> shown = p.AllWindows();
  p.Xdo({"key", "--clearmodifiers", "alt+f"});
  ASSERT_TRUE(QTest::qWaitFor(
      [&] {
        const std::set<std::string> now = p.AllWindows();
        return std::any_of(now.begin(), now.end(), [&](const std::string& w) { return !shown.count(w); });
      },
      20000))
      << "the File menu did not open";
  p.Xdo({"key", "e"});
  ASSERT_TRUE(QTest::qWaitFor(
      [&] {
        const std::string dialog = p.FindWindow("Exporter fichier event");
        return !dialog.empty() && p.Xdo({"getactivewindow"}) == dialog;
      },
      20000))
      << "no export dialog";
  p.Xdo({"type", "--delay", "30", "host.wpe"});
  p.Xdo({"key", "Return"});
  ASSERT_TRUE(QTest::qWaitFor(
      [&] {
        const std::vector<std::string> m = p.Messages();
        return !m.empty() && m.back().find("イベントファイルのエクスポートをしました") != std::string::npos;
      },
      20000))
      << "the record was not exported";

  // It holds A's events whole and in their order, and plays to the same picture as they do
  // headless; that picture is the two strokes' alone.
  TEventPacket saved;
  ASSERT_TRUE(saved.LoadFromFile(record));
  const Octets recorded(saved.Data().Memory(), saved.Data().Memory() + saved.Data().Size());
  EXPECT_TRUE(EventsOnLayer(recorded, 1) == events) << EventsOnLayer(recorded, 1).size() << " of " << events.size();
  const std::string mine = dir.Path("headless.wpe"), strokes = dir.Path("strokes.wpe");
  WriteSessionFile(mine, events);
  WriteSessionFile(strokes, Cat({blue, red}));
  for (const std::string& f : {record, mine, strokes})
    ASSERT_EQ(RunTool(dir, "render '" + f + "' '" + f + ".bmp'").status, 0) << f;
  EXPECT_TRUE(Slurp(record + ".bmp") == Slurp(mine + ".bmp")) << "the host's record plays to another picture";
  EXPECT_TRUE(Slurp(mine + ".bmp") == Slurp(strokes + ".bmp")) << "a polygon drew";
}

}  // namespace
