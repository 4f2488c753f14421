// A second start of the real program hands its file to the running main window (this test's
// own window, holding the instance lock) and ends.
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QProcess>
#include <filesystem>

#include "PainterFixture.h"
#include "platform/qt/SingleInstance.h"

namespace {

const std::string kPainter = std::string(VELL_BINARY_DIR) + "/painter/vellpaint";

void WriteWpb(const std::string& path, int32_t w, int32_t h) {
  TPaper paper;
  ASSERT_TRUE(paper.Init("NONAME", w, h));
  TEventPacket packet;
  packet.WriteNewPaper(w, h);
  ASSERT_TRUE(paper.SaveToFile(path, false, packet));
}

class ShellHandOver : public PainterFixture {
 protected:
  // Starts the program as a second instance and keeps this process's windows answering until
  // it has ended.
  static void SecondStart(const QStringList& args, const std::string& cwd, const std::function<void()>& meanwhile = {}) {
    QProcess p;
    p.setWorkingDirectory(QString::fromStdString(cwd));
    p.start(QString::fromStdString(kPainter), args);
    ASSERT_TRUE(p.waitForStarted(10000));
    if (meanwhile) meanwhile();
    EXPECT_TRUE(QTest::qWaitFor([&] { return p.state() == QProcess::NotRunning; }, 30000));
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
  }
};

TEST_F(ShellHandOver, ASecondStartHandsItsFileToTheRunningMainWindow) {
  if (!std::filesystem::exists(kPainter)) GTEST_SKIP() << "vellpaint was not built";
  TTempDir dir;
  WriteWpb(dir.Path("handed over.wpb"), 33, 22);
  plat::TNamedMutex mutex("VeryRareString");
  ASSERT_TRUE(mutex.Held());
  ShowMain();
  VLMain->showMinimized();
  ASSERT_TRUE(VLMain->isMinimized());

  // A relative path with a blank, from the file's folder: the running window gets it in full.
  SecondStart({"handed over.wpb", "ignored.wpb"}, dir.Dir());
  ASSERT_TRUE(QTest::qWaitFor([] { return VLMain->DrawWindows().size() == 1; }, 10000));
  EXPECT_EQ(VLMain->windowTitle().toStdString(), "OK");
  EXPECT_EQ(VLMain->DrawWindows()[0]->Paper->Name, dir.Path("handed over.wpb"));
  EXPECT_EQ(VLMain->DrawWindows()[0]->Paper->Width(), 33);
  EXPECT_FALSE(VLMain->isMinimized());

  // Without an argument the window only comes forward.
  VLMain->setWindowTitle("Vellora1.1b72 FR");
  VLMain->showMinimized();
  SecondStart({}, "/");
  EXPECT_TRUE(QTest::qWaitFor([] { return !VLMain->isMinimized(); }, 5000));
  EXPECT_EQ(VLMain->windowTitle().toStdString(), "Vellora1.1b72 FR");
  EXPECT_EQ(VLMain->DrawWindows().size(), 1u);
}

TEST_F(ShellHandOver, ANameThatIsNotUtf8ArrivesWithItsBytes) {
  if (!std::filesystem::exists(kPainter)) GTEST_SKIP() << "vellpaint was not built";
  TTempDir dir;
  // A Shift-JIS name, as an old archive unpacks it.
  const std::string name = "\x83\x65\x83\x58\x83\x67.wpb";
  WriteWpb(dir.Path(name), 21, 13);
  ASSERT_TRUE(std::filesystem::exists(dir.Path(name)));
  plat::TNamedMutex mutex("VeryRareString");
  ASSERT_TRUE(mutex.Held());
  ShowMain();

  // Started from the file's folder with the relative name as its bytes (no toolkit in between).
  posix_spawn_file_actions_t actions;
  ASSERT_EQ(posix_spawn_file_actions_init(&actions), 0);
  ASSERT_EQ(posix_spawn_file_actions_addchdir_np(&actions, dir.Dir().c_str()), 0);
  std::string program = kPainter, argument = name;
  char* argv[] = {program.data(), argument.data(), nullptr};
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, kPainter.c_str(), &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  ASSERT_EQ(spawned, 0);
  int status = -1;
  EXPECT_TRUE(QTest::qWaitFor([&] { return waitpid(pid, &status, WNOHANG) == pid; }, 30000));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;

  ASSERT_TRUE(QTest::qWaitFor([] { return VLMain->DrawWindows().size() == 1; }, 10000))
      << (Messages.Messages.empty() ? "" : Messages.Messages.front().Text);
  EXPECT_EQ(VLMain->DrawWindows()[0]->Paper->Name, dir.Path(name));
  EXPECT_EQ(VLMain->DrawWindows()[0]->Paper->Width(), 21);
  EXPECT_TRUE(Messages.Messages.empty());
}

TEST_F(ShellHandOver, AMainWindowThatComesLateStillGetsTheFile) {
  if (!std::filesystem::exists(kPainter)) GTEST_SKIP() << "vellpaint was not built";
  TTempDir dir;
  WriteWpb(dir.Path("late.wpb"), 12, 34);
  plat::TNamedMutex mutex("VeryRareString");
  ASSERT_TRUE(mutex.Held());
  // The lock is held but no main window listens yet: the second start waits for it.
  DestroyForms();
  SecondStart({QString::fromStdString(dir.Path("late.wpb"))}, "/", [] {
    QTest::qWait(1000);
    CreateForms();
  });
  ASSERT_TRUE(QTest::qWaitFor([] { return VLMain->DrawWindows().size() == 1; }, 10000));
  EXPECT_EQ(VLMain->DrawWindows()[0]->Paper->Height(), 34);
  EXPECT_EQ(VLMain->windowTitle().toStdString(), "OK");
}

}  // namespace
