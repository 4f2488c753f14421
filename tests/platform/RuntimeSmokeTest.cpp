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

// Another user's runtime folder, open to all, with the instance lock of `mutex` held and a
// listener waiting for the file names that a second start hands to `windowClass`.
class TForeignRuntime {
 public:
  TForeignRuntime(const std::string& folder, const std::string& mutex, const std::string& windowClass)
      : Folder(folder) {
    ::mkdir(folder.c_str(), 0777);
    ::chmod(folder.c_str(), 0777);
    const std::string lock = folder + "/" + mutex + ".lock";
    const std::string sock = folder + "/wnd-" + windowClass + ".sock";
    held_ = ::open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (held_ < 0 || ::flock(held_, LOCK_EX | LOCK_NB) != 0) {
      Problem = "could not hold the lock " + lock;
      return;
    }
    QObject::connect(&listener_, &QLocalServer::newConnection, [this] {
      while (QLocalSocket* s = listener_.nextPendingConnection()) ++Connections, s->deleteLater();
    });
    if (!listener_.listen(QString::fromStdString(sock))) Problem = "could not listen at " + sock;
    for (const std::string& p : {lock, sock, folder})
      if (Problem.empty() && ::lchown(p.c_str(), 65534, 65534) != 0)
        Skip = "this process cannot hand files to another user (run as root)";
  }
  ~TForeignRuntime() {
    if (held_ >= 0) ::close(held_);
  }
  const std::string Folder;
  std::string Problem, Skip;
  int Connections = 0;

 private:
  int held_ = -1;
  QLocalServer listener_;
};

bool WaitUntilEnded(QProcess& p) {
  return QTest::qWaitFor([&] { return p.state() == QProcess::NotRunning; }, 30000) && p.exitCode() == 0;
}

}  // namespace

TEST(RuntimeSmoke, AnotherUsersRuntimeFolderNeitherStopsThePainterNorHearsItsHandOvers) {
  if (const std::string why = vtest::TRealPainter::Missing(); !why.empty()) GTEST_SKIP() << why;
  vtest::TXvfb server(vtest::FindProgram("Xvfb"), "1600x1000x24", vtest::TDesktopKind::Managed);
  if (!server.Managed()) GTEST_SKIP() << server.WhyNotManaged();
  TTempDir dir;
  TForeignRuntime foreign(dir.Path("foreign"), "VeryRareString", "TVLMain");
  ASSERT_EQ(foreign.Problem, "");
  if (!foreign.Skip.empty()) GTEST_SKIP() << foreign.Skip;

  vtest::TRealPainter p(server, dir.Dir());
  p.Env.insert("XDG_RUNTIME_DIR", QString::fromStdString(foreign.Folder));
  p.Env.insert("XDG_CACHE_HOME", QString::fromStdString(dir.Path("cache")));
  ASSERT_TRUE(p.Start()) << p.Error();
  const std::string own = dir.Path("cache") + "/vellora/run";
  EXPECT_EQ(plat::EntryTrust(own + "/VeryRareString.lock", S_IFREG), plat::TEntryTrust::Own);

  // A second start hands its file to the running painter through the private folder.
  QProcess second;
  second.setProcessEnvironment(p.Env);
  second.start(QString::fromStdString(vtest::TRealPainter::Program()), {"/home/someone/private.wpb"});
  ASSERT_TRUE(second.waitForStarted(10000));
  EXPECT_TRUE(WaitUntilEnded(second));
  EXPECT_TRUE(QTest::qWaitFor([&] { return p.Name(p.MainWindow()) == "OK"; }, 10000)) << p.Name(p.MainWindow());
  EXPECT_EQ(foreign.Connections, 0);
}

TEST(RuntimeSmoke, AnotherUsersRuntimeFolderNeitherStopsTheViewerNorHearsItsHandOvers) {
  const std::string viewer = std::string(VELL_BINARY_DIR) + "/viewer/vellview";
  if (const std::string why = vtest::TRealPainter::Missing(); !why.empty()) GTEST_SKIP() << why;
  vtest::TXvfb server(vtest::FindProgram("Xvfb"), "1024x768x24", vtest::TDesktopKind::Managed);
  if (!server.Managed()) GTEST_SKIP() << server.WhyNotManaged();
  TTempDir dir;
  TForeignRuntime foreign(dir.Path("foreign"), "VelloraViewer", "TForm1");
  ASSERT_EQ(foreign.Problem, "");
  if (!foreign.Skip.empty()) GTEST_SKIP() << foreign.Skip;

  // The painter's helper gives the folders and the window lookups; the viewer is started by hand.
  vtest::TRealPainter helper(server, dir.Dir());
  helper.Env.insert("XDG_RUNTIME_DIR", QString::fromStdString(foreign.Folder));
  helper.Env.insert("XDG_CACHE_HOME", QString::fromStdString(dir.Path("cache")));
  QProcess first;
  first.setProcessEnvironment(helper.Env);
  first.start(QString::fromStdString(viewer), {});
  ASSERT_TRUE(first.waitForStarted(10000));
  EXPECT_TRUE(QTest::qWaitFor(
      [&] {
        return !helper.Xdo({"search", "--onlyvisible", "--name", "^\\[vl\\] Viewer"}).empty() ||
               first.state() != QProcess::Running;
      },
      20000));
  ASSERT_EQ(first.state(), QProcess::Running) << first.readAllStandardError().toStdString();
  const std::string own = dir.Path("cache") + "/vellora/run";
  EXPECT_EQ(plat::EntryTrust(own + "/VelloraViewer.lock", S_IFREG), plat::TEntryTrust::Own);
  EXPECT_TRUE(QTest::qWaitFor(
      [&] { return plat::EntryTrust(own + "/wnd-TForm1.sock", S_IFSOCK) == plat::TEntryTrust::Own; }, 10000));

  QProcess second;
  second.setProcessEnvironment(helper.Env);
  second.start(QString::fromStdString(viewer), {"/home/someone/private.wpe"});
  ASSERT_TRUE(second.waitForStarted(10000));
  EXPECT_TRUE(WaitUntilEnded(second));
  EXPECT_EQ(first.state(), QProcess::Running);
  EXPECT_EQ(foreign.Connections, 0);
  first.terminate();
  if (!first.waitForFinished(10000)) {
    first.kill();
    first.waitForFinished(5000);
  }
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
