// Atomic saves: the replaced file's permission bits and group are kept, and a save cut off by
// a kill leaves no temporary behind once the same name is saved again.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "common/TempDir.h"
#include "platform/core/Files.h"

extern char** environ;

namespace {

// Started as the child of the killed-save test, the program begins a large save, says so on
// the descriptor it was given, and waits to be killed; it never reaches the tests.
[[maybe_unused]] const bool gSavingChild = [] {
  const char* target = std::getenv("VELL_SAVE_CHILD_TARGET");
  const char* ready = std::getenv("VELL_SAVE_CHILD_READY_FD");
  if (!target || !ready) return false;
  plat::TAtomicFile f;
  if (f.Open(target)) {
    const std::vector<char> block(1 << 20, 'n');
    for (int i = 0; i < 4; ++i) f.Write(block.data(), block.size());
  }
  const char c = 1;
  if (::write(std::atoi(ready), &c, 1) != 1) ::_exit(3);
  for (;;) ::pause();
}();

std::string Text(const std::string& path) {
  std::vector<uint8_t> b;
  return plat::ReadWholeFile(path, b) ? std::string(b.begin(), b.end()) : std::string("<unreadable>");
}

std::set<std::string> Entries(const std::string& dir) {
  std::set<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir)) names.insert(e.path().filename().string());
  return names;
}

mode_t ModeOf(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : mode_t(-1);
}

// A started program, killed and reaped when the test is done with it.
struct TChild {
  pid_t Pid = -1;
  bool Start(const std::vector<std::string>& args, char** env = environ, posix_spawn_file_actions_t* actions = nullptr) {
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    return ::posix_spawn(&Pid, argv[0], actions, nullptr, argv.data(), env) == 0;
  }
  int Reap() {
    int status = 0;
    if (Pid > 0) ::waitpid(Pid, &status, 0);
    Pid = -1;
    return status;
  }
  ~TChild() {
    if (Pid > 0) {
      ::kill(Pid, SIGKILL);
      Reap();
    }
  }
};

// The id of a process that has ended and been reaped.
pid_t DeadPid() {
  TChild c;
  if (!c.Start({"/bin/true"})) return 0;
  const pid_t pid = c.Pid;
  c.Reap();
  return pid;
}

std::string SelfExe() {
  char buf[PATH_MAX + 1];
  const ssize_t n = ::readlink("/proc/self/exe", buf, PATH_MAX);
  return n > 0 ? std::string(buf, size_t(n)) : std::string();
}

TEST(AtomicSave, AReplacedFileKeepsItsPermissionBits) {
  TTempDir dir;
  const std::string p = dir.Path("picture.bmp");
  for (mode_t mode : {0600, 0640, 0604, 0400, 0755, 0666}) {
    SCOPED_TRACE(testing::Message() << std::oct << mode);
    ASSERT_TRUE(plat::WriteFileAtomic(p, "old", 3));
    ASSERT_EQ(::chmod(p.c_str(), mode), 0);
    ASSERT_TRUE(plat::WriteFileAtomic(p, "new", 3));
    EXPECT_EQ(Text(p), "new");
    EXPECT_EQ(ModeOf(p), mode);
    // Through the writer the picture formats use.
    plat::TAtomicFile f;
    ASSERT_TRUE(f.Open(p));
    ASSERT_TRUE(f.Write("newer", 5));
    ASSERT_TRUE(f.Commit());
    EXPECT_EQ(Text(p), "newer");
    EXPECT_EQ(ModeOf(p), mode);
    ASSERT_EQ(::chmod(p.c_str(), 0644), 0);
    ASSERT_TRUE(plat::WriteFileAtomic(p, "x", 1));
  }
  // A new file gets the usual mode.
  const mode_t mask = ::umask(022);
  ASSERT_TRUE(plat::WriteFileAtomic(dir.Path("fresh.bmp"), "x", 1));
  ::umask(mask);
  EXPECT_EQ(ModeOf(dir.Path("fresh.bmp")), mode_t(0644));
  EXPECT_EQ(Entries(dir.Dir()), (std::set<std::string>{"picture.bmp", "fresh.bmp"}));
}

TEST(AtomicSave, AReplacedFileKeepsItsGroupWhereItCan) {
  TTempDir dir;
  const std::string p = dir.Path("shared.wpb");
  ASSERT_TRUE(plat::WriteFileAtomic(p, "old", 3));
  // Any group other than this process's own that the file can be given.
  std::vector<gid_t> candidates(64);
  const int n = ::getgroups(int(candidates.size()), candidates.data());
  candidates.resize(n > 0 ? size_t(n) : 0);
  candidates.push_back(65534);
  gid_t other = gid_t(-1);
  for (gid_t g : candidates)
    if (g != ::getegid() && ::chown(p.c_str(), uid_t(-1), g) == 0) {
      other = g;
      break;
    }
  if (other == gid_t(-1)) GTEST_SKIP() << "this user can give a file no other group";
  ASSERT_EQ(::chmod(p.c_str(), 0640), 0);
  ASSERT_TRUE(plat::WriteFileAtomic(p, "new", 3));
  struct stat st {};
  ASSERT_EQ(::stat(p.c_str(), &st), 0);
  EXPECT_EQ(st.st_gid, other);
  EXPECT_EQ(st.st_mode & 07777, mode_t(0640));
}

TEST(AtomicSave, LeftoversOfDeadSavesOfThatNameGoAtTheNextSave) {
  TTempDir dir;
  const pid_t dead = DeadPid();
  ASSERT_GT(dead, 0);
  TChild live;
  ASSERT_TRUE(live.Start({"/bin/sleep", "60"}));
  const std::string d = std::to_string(dead), l = std::to_string(live.Pid);
  // What stays: a live save's temporary, names of another pattern, another file's leftover.
  const std::set<std::string> stays = {"f.wpb",       "f.wpb.tmp-" + l, "f.wpb.tmp-" + d + ".x", "f.wpb.tmp-",
                                       "f.wpb.tmp-1a", "g.wpb.tmp-" + d, "xf.wpb.tmp-" + d};
  for (const std::string& name : stays) ASSERT_TRUE(plat::WriteFileAtomic(dir.Path(name), "keep", 4)) << name;
  ASSERT_TRUE(plat::WriteFileAtomic(dir.Path("f.wpb.tmp-" + d), "left", 4));
  ASSERT_EQ(Entries(dir.Dir()).size(), stays.size() + 1);

  ASSERT_TRUE(plat::WriteFileAtomic(dir.Path("f.wpb"), "saved", 5));
  EXPECT_EQ(Entries(dir.Dir()), stays);
  EXPECT_EQ(Text(dir.Path("f.wpb")), "saved");
  EXPECT_EQ(Text(dir.Path("f.wpb.tmp-" + l)), "keep");
}

TEST(AtomicSave, ASaveKilledMidwayLeavesTheOldFileAndNothingAfterTheNextSave) {
  TTempDir dir;
  const std::string target = dir.Path("big.wpb");
  ASSERT_TRUE(plat::WriteFileAtomic(target, "old", 3));
  int ready[2];
  ASSERT_EQ(::pipe2(ready, O_CLOEXEC), 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  const int childReady = 10;
  posix_spawn_file_actions_adddup2(&actions, ready[1], childReady);  // a dup is not closed on exec
  std::vector<std::string> vars = {"VELL_SAVE_CHILD_TARGET=" + target,
                                   "VELL_SAVE_CHILD_READY_FD=" + std::to_string(childReady)};
  std::vector<char*> env;
  for (char** e = environ; *e; ++e) env.push_back(*e);
  for (std::string& v : vars) env.push_back(v.data());
  env.push_back(nullptr);
  TChild saver;
  const bool started = saver.Start({SelfExe()}, env.data(), &actions);
  posix_spawn_file_actions_destroy(&actions);
  ::close(ready[1]);
  ASSERT_TRUE(started);
  // Killed once its save is under way (the pipe closes instead if it never gets there).
  char c = 0;
  const ssize_t got = ::read(ready[0], &c, 1);
  ::close(ready[0]);
  ASSERT_EQ(got, 1) << "the saving child did not start its save";
  ::kill(saver.Pid, SIGKILL);
  const int status = saver.Reap();
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(Text(target), "old");

  ASSERT_TRUE(plat::WriteFileAtomic(target, "new", 3));
  EXPECT_EQ(Entries(dir.Dir()), std::set<std::string>{"big.wpb"});
  EXPECT_EQ(Text(target), "new");
}

}  // namespace
