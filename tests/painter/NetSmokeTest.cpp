// Two real painters on a real X display, started by the lobby's key and message: one hosts,
// one joins; the lobby hears of the join, and a raw peer joining the real host reads the six
// words of its reply.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QProcess>
#include <QProcessEnvironment>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "NetTestUtil.h"
#include "common/TempDir.h"
#include "platform/core/Settings.h"
#include "platform/qt/WindowMessages.h"

#include "common/Xvfb.h"

namespace {

// Whether a socket of this machine listens on the TCP port (as the kernel lists them); looking
// does not connect, so no session sees a visitor.
bool Listens(uint16_t port) {
  char local[16];
  std::snprintf(local, sizeof local, ":%04X ", port);
  for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
    std::ifstream f(table);
    for (std::string line; std::getline(f, line);) {
      std::istringstream fields(line);
      std::string slot, address, remote, state;
      fields >> slot >> address >> remote >> state;
      if ((address + " ").find(local) != std::string::npos && state == "0A") return true;
    }
  }
  return false;
}

TEST(NetSmoke, TwoRealPaintersStartedByTheLobby) {
  const std::string program = std::string(VELL_BINARY_DIR) + "/painter/vellpaint";
  const std::string xvfb = vtest::FindProgram("Xvfb");
  if (xvfb.empty()) GTEST_SKIP() << "Xvfb is needed (Debian package xvfb): the real program is not tried";
  ASSERT_EQ(access(program.c_str(), X_OK), 0) << program;
  vtest::TXvfb server(xvfb);
  if (server.Display().empty()) GTEST_SKIP() << "Xvfb did not start";

  // The host shares this program's runtime folder, so that its notices reach our lobby.
  TTempDir dir;
  const std::string ourRuntime = getenv("XDG_RUNTIME_DIR") ? getenv("XDG_RUNTIME_DIR") : "";
  ASSERT_FALSE(ourRuntime.empty());
  std::vector<uint32_t> heard;
  plat::TWindowClass lobby("TRVMain", nullptr, [&](const plat::TWindowMessage& m) {
    heard.push_back(m.Msg);
    return int64_t{0};
  });
  ASSERT_TRUE(lobby.Listening());

  const uint16_t port = FreePort();
  struct TSide {
    std::string Runtime, Settings;
    std::unique_ptr<QProcess> Proc;
  };
  TSide sides[2];
  for (int i = 0; i < 2; ++i) {
    const std::string base = dir.Path(i == 0 ? "host" : "member");
    for (const char* sub : {"", "/run", "/settings", "/data"}) std::filesystem::create_directories(base + sub);
    std::filesystem::permissions(base + "/run", std::filesystem::perms::owner_all);
    sides[i].Runtime = i == 0 ? ourRuntime : base + "/run";
    sides[i].Settings = base + "/settings";
    // The lobby's key.
    WithEnv("VELLORA_SETTINGS_DIR", sides[i].Settings, [&] {
      plat::TRegistry key;
      ASSERT_TRUE(key.OpenKey("Software\\Brenmoor\\Roomvane\\vlConfig", true));
      key.WriteBool("IsServer", i == 0);
      key.WriteString("User", i == 0 ? "HOTE" : "CLIENT");
      key.WriteString("Password", "pw");
      key.WriteInteger("X", 320);
      key.WriteInteger("Y", 240);
      key.WriteInteger("Port", port);
      key.WriteInteger("MaxConnections", 3);
      key.WriteInteger("Layer", 2);
      key.WriteString("IPAddress", "127.0.0.1");
    });
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DISPLAY", QString::fromStdString(server.Display()));
    env.insert("QT_QPA_PLATFORM", "xcb");
    env.insert("XDG_RUNTIME_DIR", QString::fromStdString(sides[i].Runtime));
    env.insert("VELLORA_SETTINGS_DIR", QString::fromStdString(sides[i].Settings));
    env.insert("XDG_DATA_HOME", QString::fromStdString(base + "/data"));
    env.insert("VELLORA_MSGBOX_LOG", QString::fromStdString(base + "/messages.log"));
    env.insert("VELLORA_MSGBOX_ANSWER", "yes");
    sides[i].Proc = std::make_unique<QProcess>();
    sides[i].Proc->setProcessEnvironment(env);
    sides[i].Proc->setStandardOutputFile(QProcess::nullDevice());
    sides[i].Proc->setStandardErrorFile(QProcess::nullDevice());
    sides[i].Proc->start(QString::fromStdString(program), {});
    ASSERT_TRUE(sides[i].Proc->waitForStarted(10000));
  }
  auto launch = [&](const TSide& s) {
    bool found = false;
    WithEnv("XDG_RUNTIME_DIR", s.Runtime, [&] {
      found = QTest::qWaitFor([] { return plat::FindWindowClass("TVLMain", 200); }, 20000);
      // The address is taken at once; the post goes out from the event loop that waits next.
      if (found) plat::PostWindowMessage("TVLMain", plat::TWindowMessage{0x601, 0, 0, {}});
    });
    return found;
  };
  ASSERT_TRUE(launch(sides[0])) << "the host's window did not come";
  // The host listens once it has taken the message: its chat window comes up.
  const std::string xdotool = vtest::FindProgram("xdotool");
  if (!xdotool.empty()) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DISPLAY", QString::fromStdString(server.Display()));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
          QProcess p;
          p.setProcessEnvironment(env);
          p.start(QString::fromStdString(xdotool), {"search", "--onlyvisible", "--name", "チャットウィンドウ"});
          p.waitForFinished(5000);
          return !p.readAllStandardOutput().trimmed().isEmpty();
        },
        20000));
  } else {
    EXPECT_TRUE(QTest::qWaitFor([&] { return Listens(port); }, 20000));
  }
  ASSERT_TRUE(launch(sides[1])) << "the member's window did not come";
  ASSERT_TRUE(QTest::qWaitFor([&] { return std::count(heard.begin(), heard.end(), 0x603u) > 0; }, 20000))
      << "the lobby heard no join";

  // A raw peer joining the real host reads the six words of its reply.
  std::unique_ptr<TRawConn> peer;
  const bool joined = QTest::qWaitFor(
      [&] {
        // Refused while the member's handshake holds the lock: the close comes without a slot.
        if (!peer || peer->Closed()) {
          peer = std::make_unique<TRawConn>();
          if (!peer->Connect(port)) return false;
        }
        return !peer->FramesOf(1).empty();
      },
      20000);
  ASSERT_TRUE(joined);
  const int32_t slot = ReadLe(peer->FramesOf(1)[0].Payload.data());
  peer->Send(Cat({Le(2), Le(slot), Le(0), Le(32), Field("RAW", 16), Field("pw", 16)}));
  std::vector<int32_t> words;
  ASSERT_TRUE(QTest::qWaitFor(
      [&] {
        words.clear();
        for (const TRawFrame& f : peer->FramesOf(0)) {
          if (f.Sender == 0 && f.Dest == slot && f.Payload.size() == 4) words.push_back(ReadLe(f.Payload.data()));
        }
        return words.size() >= 6;
      },
      20000));
  EXPECT_EQ(words, (std::vector<int32_t>{10007, 0, 320, 240, 3, 2}));

  for (TSide& s : sides) {
    s.Proc->terminate();
    if (!s.Proc->waitForFinished(5000)) s.Proc->kill();
  }
}

}  // namespace
