// The real painter on an X display, started where another user has laid traps: a runtime
// folder of theirs holding the instance lock and listening for hand-overs, or a pipe where the
// settings file belongs.
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>
#include <fcntl.h>
#include <string>

#include "common/RealPainter.h"
#include "common/TempDir.h"
#include "common/Xvfb.h"
#include "platform/core/Files.h"

namespace {

constexpr uid_t kOtherUser = 65534;

}  // namespace

TEST(RuntimeSmoke, AnotherUsersRuntimeFolderNeitherStopsThePainterNorHearsItsHandOvers) {
  if (const std::string why = vtest::TRealPainter::Missing(); !why.empty()) GTEST_SKIP() << why;
  vtest::TXvfb server(vtest::FindProgram("Xvfb"), "1600x1000x24", vtest::TDesktopKind::Managed);
  if (!server.Managed()) GTEST_SKIP() << server.WhyNotManaged();
  TTempDir dir;
  // The other user's folder, open to all, with the instance lock held and a listener waiting
  // for the file names that a second start hands over.
  const std::string foreign = dir.Path("foreign");
  ASSERT_EQ(::mkdir(foreign.c_str(), 0777), 0);
  ::chmod(foreign.c_str(), 0777);
  const std::string lock = foreign + "/VeryRareString.lock";
  const int held = ::open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  ASSERT_GE(held, 0);
  ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);
  QLocalServer stranger;
  int connections = 0;
  QObject::connect(&stranger, &QLocalServer::newConnection, [&] {
    while (QLocalSocket* s = stranger.nextPendingConnection()) ++connections, s->deleteLater();
  });
  ASSERT_TRUE(stranger.listen(QString::fromStdString(foreign + "/wnd-TVLMain.sock")));
  for (const std::string& p : {lock, foreign + "/wnd-TVLMain.sock", foreign}) {
    if (::lchown(p.c_str(), kOtherUser, kOtherUser) != 0) {
      ::close(held);
      GTEST_SKIP() << "this process cannot hand files to another user (run as root)";
    }
  }

  vtest::TRealPainter p(server, dir.Dir());
  p.Env.insert("XDG_RUNTIME_DIR", QString::fromStdString(foreign));
  p.Env.insert("XDG_CACHE_HOME", QString::fromStdString(dir.Path("cache")));
  ASSERT_TRUE(p.Start()) << p.Error();
  const std::string own = dir.Path("cache") + "/vellora/run";
  EXPECT_EQ(plat::EntryTrust(own + "/VeryRareString.lock", S_IFREG), plat::TEntryTrust::Own);

  // A second start hands its file to the running painter through the private folder.
  QProcess second;
  second.setProcessEnvironment(p.Env);
  second.start(QString::fromStdString(vtest::TRealPainter::Program()), {"/home/someone/private.wpb"});
  ASSERT_TRUE(second.waitForStarted(10000));
  EXPECT_TRUE(QTest::qWaitFor([&] { return second.state() == QProcess::NotRunning; }, 30000));
  EXPECT_EQ(second.exitCode(), 0);
  EXPECT_TRUE(QTest::qWaitFor([&] { return p.Name(p.MainWindow()) == "OK"; }, 10000)) << p.Name(p.MainWindow());
  EXPECT_EQ(connections, 0);
  ::close(held);
}

TEST(SettingsSmoke, APipeAtTheSettingsPathLetsThePainterStartOnItsDefaults) {
  if (const std::string why = vtest::TRealPainter::Missing(); !why.empty()) GTEST_SKIP() << why;
  vtest::TXvfb server(vtest::FindProgram("Xvfb"), "1600x1000x24", vtest::TDesktopKind::Managed);
  if (!server.Managed()) GTEST_SKIP() << server.WhyNotManaged();
  TTempDir dir;
  vtest::TRealPainter p(server, dir.Dir());
  const std::string file = p.Settings + "/brenmoor.reg";
  ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0);
  ASSERT_TRUE(p.Start()) << p.Error();
  EXPECT_FALSE(p.FindWindow("Vellora").empty());
  p.Stop();
  // Told once, and the pipe is still there: nothing was written over it.
  int told = 0;
  for (const std::string& line : p.Messages()) told += line.find(file) != std::string::npos;
  EXPECT_EQ(told, 1);
  struct stat st {};
  ASSERT_EQ(::lstat(file.c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
}
