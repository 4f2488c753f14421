// The runtime folder, the instance lock and the window sockets are used only when they are
// this user's own: another local user must neither block the program nor receive its messages.
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTest>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <optional>
#include <string>

#include "common/TempDir.h"
#include "platform/OtherThread.h"
#include "platform/core/Files.h"
#include "platform/qt/SingleInstance.h"
#include "platform/qt/WindowMessages.h"

using namespace plat;

namespace {

constexpr uid_t kOtherUser = 65534;

// Sets or unsets an environment variable for one scope.
class TScopedEnv {
 public:
  TScopedEnv(const char* name, const std::optional<std::string>& value) : name_(name) {
    if (const char* v = std::getenv(name)) old_ = v;
    if (value) setenv(name, value->c_str(), 1);
    else unsetenv(name);
  }
  ~TScopedEnv() {
    if (old_) setenv(name_, old_->c_str(), 1);
    else unsetenv(name_);
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

// Hands `path` to another user; false (the caller skips) where this process may not.
bool GiveAway(const std::string& path) { return ::lchown(path.c_str(), kOtherUser, kOtherUser) == 0; }

unsigned ModeOf(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0u;
}

// A private test folder with a cache folder for the fallback.
class RuntimeFolder : public ::testing::Test {
 protected:
  TTempDir dir;
  TScopedEnv cache{"XDG_CACHE_HOME", dir.Path("cache")};
  std::string Fallback() const { return dir.Path("cache") + "/vellora/run"; }
};

}  // namespace

TEST_F(RuntimeFolder, OnlyAPrivateFolderOfThisUsersIsUsedElseThePrivateFallback) {
  enum TMade { Folder, Nothing, Link, File, Relative, Unset };
  struct Case {
    const char* what;
    TMade made;
    unsigned mode;
    bool otherUser;
    bool used;  // the folder itself, else the fallback
  } cases[] = {
      {"own 0700", Folder, 0700, false, true},
      {"missing", Nothing, 0, false, true},
      {"own 0777", Folder, 0777, false, false},
      {"own, group-writable", Folder, 0770, false, false},
      {"other user's 0700", Folder, 0700, true, false},
      {"other user's 0777", Folder, 0777, true, false},
      {"link to an own 0700 folder", Link, 0700, false, false},
      {"a file", File, 0600, false, false},
      {"relative", Relative, 0, false, false},
      {"unset", Unset, 0, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string run = dir.Path("run-" + std::to_string(&c - cases));
    std::optional<std::string> env = run;
    if (c.made == Folder) ::mkdir(run.c_str(), 0700), ::chmod(run.c_str(), c.mode);
    if (c.made == Link) {
      ::mkdir(dir.Path("real").c_str(), c.mode);
      ASSERT_EQ(::symlink(dir.Path("real").c_str(), run.c_str()), 0);
    }
    if (c.made == File) std::ofstream(run) << "x";
    if (c.made == Relative) env = "run-relative";
    if (c.made == Unset) env.reset();
    if (c.otherUser && !GiveAway(run)) {
      std::cout << "[  SKIPPED ] row \"" << c.what << "\": this process cannot hand a folder to another user\n";
      continue;
    }
    TScopedEnv xdg("XDG_RUNTIME_DIR", env);
    const std::string got = RuntimeDir();
    EXPECT_EQ(got, c.used ? run : Fallback());
    EXPECT_EQ(ModeOf(got) & 077, 0u);
    EXPECT_EQ(EntryTrust(got, S_IFDIR), TEntryTrust::Own);
    if (c.made == Nothing) {
      EXPECT_EQ(ModeOf(run), 0700u);
    }
    if (c.made == Folder) {
      EXPECT_EQ(ModeOf(run), c.mode);  // a refused folder is left as it was
    }
    // The instance lock and the sockets follow the folder chosen.
    EXPECT_EQ(TNamedMutex("VeryRareString").LockPath(), got + "/VeryRareString.lock");
    EXPECT_EQ(WindowClassAddress("TVLMain").rfind(got + "/", 0), 0u);
  }
}

TEST_F(RuntimeFolder, WithoutAnyPrivateFolderNothingIsSharedAndTheProgramRunsAlone) {
  ::mkdir(dir.Path("cache").c_str(), 0700);
  ::mkdir(dir.Path("cache/vellora").c_str(), 0700);
  ::mkdir(Fallback().c_str(), 0777);
  ::chmod(Fallback().c_str(), 0777);
  TScopedEnv xdg("XDG_RUNTIME_DIR", std::nullopt);
  EXPECT_EQ(RuntimeDir(), "");
  TNamedMutex first("VelloraViewer"), second("VelloraViewer");
  EXPECT_FALSE(first.AlreadyExists());
  EXPECT_FALSE(second.AlreadyExists());
  QWidget window;
  TWindowClass cls("TForm1", &window, [](const TWindowMessage&) { return int64_t(1); });
  EXPECT_FALSE(cls.Listening());
  EXPECT_FALSE(FindWindowClass("TForm1", 200));
  EXPECT_FALSE(HandOverToRunningInstance("TForm1", std::string("/tmp/a.wpe")));
}

TEST_F(RuntimeFolder, ALockFileThatIsNotThisUsersOwnIsReplacedNotObeyed) {
  const std::string run = dir.Path("run");
  ASSERT_EQ(::mkdir(run.c_str(), 0700), 0);
  TScopedEnv xdg("XDG_RUNTIME_DIR", run);
  const std::string lock = run + "/VeryRareString.lock";
  const std::string target = dir.Path("precious.txt");
  struct Case {
    const char* what;
  } cases[] = {{"link"}, {"pipe"}, {"world-writable"}, {"other user's, held"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string what = c.what;
    std::ofstream(target) << "keep me";
    ::unlink(lock.c_str());
    int holder = -1;
    if (what == "link") {
      ASSERT_EQ(::symlink(target.c_str(), lock.c_str()), 0);
    }
    if (what == "pipe") {
      ASSERT_EQ(::mkfifo(lock.c_str(), 0600), 0);
    }
    if (what == "world-writable") {
      std::ofstream(lock) << "1\n";
      ::chmod(lock.c_str(), 0666);
    }
    if (what == "other user's, held") {
      holder = ::open(lock.c_str(), O_RDWR | O_CREAT, 0644);
      ASSERT_GE(holder, 0);
      ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
      if (!GiveAway(lock)) {
        ::close(holder);
        std::cout << "[  SKIPPED ] row \"" << c.what << "\": this process cannot hand a file to another user\n";
        continue;
      }
    }
    {
      TNamedMutex m("VeryRareString");
      EXPECT_TRUE(m.Held());
      EXPECT_FALSE(m.AlreadyExists());
      EXPECT_EQ(EntryTrust(lock, S_IFREG), TEntryTrust::Own);
      // Ours now counts: a second instance sees it.
      EXPECT_TRUE(TNamedMutex("VeryRareString").AlreadyExists());
    }
    std::ifstream in(target);
    std::string text((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(text, "keep me");
    if (holder >= 0) ::close(holder);
  }
}

TEST_F(RuntimeFolder, MessagesNeverGoToASocketThatIsNotThisUsersOwn) {
  const std::string run = dir.Path("run");
  ASSERT_EQ(::mkdir(run.c_str(), 0700), 0);
  TScopedEnv xdg("XDG_RUNTIME_DIR", run);
  const std::string addr = WindowClassAddress("TVLMain");
  ASSERT_EQ(addr, run + "/wnd-TVLMain.sock");
  // Someone else's listener, reached through a link or sitting at the address itself.
  const std::string elsewhere = dir.Path("elsewhere.sock");
  struct Case {
    const char* what;
  } cases[] = {{"link to a listener"}, {"other user's listener"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string what = c.what;
    QLocalServer stranger;
    int connections = 0;
    QObject::connect(&stranger, &QLocalServer::newConnection, [&] {
      while (auto* s = stranger.nextPendingConnection()) ++connections, s->deleteLater();
    });
    const std::string at = what == "link to a listener" ? elsewhere : addr;
    QLocalServer::removeServer(QString::fromStdString(at));
    ASSERT_TRUE(stranger.listen(QString::fromStdString(at)));
    if (what == "link to a listener") {
      ASSERT_EQ(::symlink(elsewhere.c_str(), addr.c_str()), 0);
    }
    if (what == "other user's listener" && !GiveAway(addr)) {
      std::cout << "[  SKIPPED ] row \"" << c.what << "\": this process cannot hand a socket to another user\n";
      continue;
    }
    EXPECT_FALSE(FromOtherThread([] { return FindWindowClass("TVLMain", 500); }));
    EXPECT_FALSE(FromOtherThread([] { return HandOverToRunningInstance("TVLMain", std::string("/home/me/secret.wpb")); }));
    EXPECT_FALSE(FromOtherThread([] { return SendWindowMessage("TVLMain", TWindowMessage{0x601, 0, 0, {}}, 500); })
                     .has_value());
    PostWindowMessage("TVLMain", TWindowMessage{0x601, 0, 0, {}});
    QTest::qWait(200);
    EXPECT_EQ(connections, 0);

    // The window of the class takes the address over and gets what is sent to it.
    QWidget window;
    std::vector<std::string> texts;
    {
      TWindowClass cls("TVLMain", &window, [&](const TWindowMessage& m) {
        if (m.Msg == WM_COPYDATA) texts.push_back(m.Data);
        return int64_t(1);
      });
      ASSERT_TRUE(cls.Listening());
      EXPECT_EQ(EntryTrust(addr, S_IFSOCK), TEntryTrust::Own);
      EXPECT_TRUE(FromOtherThread([] { return HandOverToRunningInstance("TVLMain", std::string("/home/me/a.wpb")); }));
    }
    EXPECT_EQ(texts, (std::vector<std::string>{std::string("/home/me/a.wpb\0", 15)}));
    EXPECT_EQ(connections, 0);
    if (what == "link to a listener") {
      EXPECT_EQ(EntryTrust(elsewhere, S_IFSOCK), TEntryTrust::Own);  // untouched
    }
    ::unlink(addr.c_str());
  }
}

TEST_F(RuntimeFolder, ADeepRuntimeFolderTalksThroughAShortPrivateOne) {
  std::string run = dir.Dir();
  while (run.size() < 120) run += "/deeper";
  TScopedEnv xdg("XDG_RUNTIME_DIR", run);
  ASSERT_EQ(RuntimeDir(), run);
  const std::string shortDir = ShortRuntimeDir();
  if (shortDir.empty()) GTEST_SKIP() << "/tmp/vellora-" << ::geteuid() << " is not this user's own folder";
  const std::string addr = WindowClassAddress("TForm1");
  EXPECT_EQ(addr.rfind(shortDir + "/", 0), 0u);
  EXPECT_LE(addr.size(), 100u);
  EXPECT_EQ(ModeOf(shortDir) & 077, 0u);
  QWidget window;
  int got = 0;
  TWindowClass cls("TForm1", &window, [&](const TWindowMessage&) { return int64_t(++got); });
  ASSERT_TRUE(cls.Listening());
  EXPECT_EQ(FromOtherThread([] { return SendWindowMessage("TForm1", TWindowMessage{0x603, 0, 0, {}}); }), 1);
}
