// The real painter hosting a session on a real X display with a window manager, while another
// program is the active one: raw members join and read their whole reply, a member's chat
// line reaches the other, and the idle host costs next to no processor time.
#include <unistd.h>

#include <QElapsedTimer>
#include <algorithm>
#include <fstream>
#include <sstream>

#include "NetTestUtil.h"
#include "common/RealPainter.h"
#include "common/TempDir.h"
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

  // Joins one after another: a join refused while the one before still holds the lock tries again.
  auto join = [&](std::unique_ptr<TRawConn>& c, const std::string& name, int32_t slot) {
    return QTest::qWaitFor(
        [&] {
          c = std::make_unique<TRawConn>();
          return JoinRaw(*c, port, name) == slot &&
                 QTest::qWaitFor([&] { return ReplyWords(*c, slot).size() >= 6 || c->Closed(); }, 10000) &&
                 ReplyWords(*c, slot).size() >= 6;
        },
        30000);
  };
  std::unique_ptr<TRawConn> a, f, c;
  ASSERT_TRUE(join(a, "A", 1));
  ASSERT_TRUE(join(f, "F", 2));

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
  ASSERT_TRUE(join(c, "C", 2)) << "the flooder's slot was not given to the next member";
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

}  // namespace
