#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QTest>
#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <string>

#include "common/TempDir.h"
#include "platform/core/Clock.h"
#include "platform/core/Files.h"
#include "platform/core/MessageBox.h"
#include "platform/core/Settings.h"

using namespace plat;

TEST(Settings, ValuesRoundTripByTypeAndKeyNamesIgnoreCase) {
  TTempSettings env;
  {
    TRegistry r;
    ASSERT_TRUE(r.OpenKey("Software\\Brenmoor\\Vellora", true));
    EXPECT_TRUE(r.WriteInteger("Left", -12));
    EXPECT_TRUE(r.WriteBool("Maximized", true));
    EXPECT_TRUE(r.WriteFloat("Pressure", 0.35));
    EXPECT_TRUE(r.WriteString("Path", "/home/ユーザー/tab\there\nline\\"));
  }
  TRegistry r;
  ASSERT_FALSE(r.OpenKey("Software\\Brenmoor\\Missing", false));
  ASSERT_TRUE(r.OpenKey("software\\BRENMOOR\\vellora\\", false));
  EXPECT_EQ(r.ReadInteger("left"), -12);
  EXPECT_EQ(r.ReadBool("Maximized"), true);
  EXPECT_EQ(r.ReadFloat("Pressure"), 0.35);
  EXPECT_EQ(r.ReadString("Path"), "/home/ユーザー/tab\there\nline\\");
  // A value of another type reads as absent, never as garbage.
  EXPECT_FALSE(r.ReadInteger("Path").has_value());
  EXPECT_FALSE(r.ReadFloat("Left").has_value());
  EXPECT_FALSE(r.ReadString("Nothing").has_value());
}

TEST(Settings, MakersLiveInSeparateFilesAndSubkeysDeleteWithTheirParent) {
  TTempSettings env;
  TRegistry r;
  ASSERT_TRUE(r.OpenKey("Software\\Brenmoor\\Vellora\\pen\\0", true));
  r.WriteInteger("Size", 5);
  ASSERT_TRUE(r.OpenKey("Software\\Other\\Thing", true));
  r.WriteInteger("X", 1);
  EXPECT_TRUE(FileExists(env.Dir() + "/brenmoor.reg"));
  EXPECT_TRUE(FileExists(env.Dir() + "/other.reg"));
  EXPECT_TRUE(r.DeleteKey("Software\\Brenmoor\\Vellora\\pen"));
  EXPECT_FALSE(r.KeyExists("Software\\Brenmoor\\Vellora\\pen\\0"));
  EXPECT_TRUE(r.KeyExists("Software\\Brenmoor\\Vellora"));
  EXPECT_TRUE(r.KeyExists("Software\\Other\\Thing"));
}

TEST(Settings, AnAccessorHeldOpenSeesAndKeepsWhatOthersWroteMeanwhile) {
  TTempSettings env;
  TRegistry held;
  ASSERT_TRUE(held.OpenKey("Software\\Brenmoor\\Vellora", true));
  held.WriteInteger("WinLeft", 10);
  {
    TRegistry other;
    ASSERT_TRUE(other.OpenKey("Software\\Brenmoor\\Vellora", true));
    other.WriteString("Path", "/pictures/");
    other.WriteInteger("WinLeft", 20);
    TRegistry preset;
    ASSERT_TRUE(preset.OpenKey("Software\\Brenmoor\\Vellora\\pen1", true));
    preset.WriteInteger("Size", 7);
    TRegistry lobby;
    ASSERT_TRUE(lobby.OpenKey("Software\\Brenmoor\\Roomvane\\vlConfig", true));
    lobby.WriteBool("IsServer", true);
  }
  EXPECT_EQ(held.ReadInteger("WinLeft"), 20);
  EXPECT_EQ(held.ReadString("Path"), "/pictures/");
  // Writing one value through the old accessor changes that value only.
  held.WriteInteger("WinTop", 5);
  held.DeleteValue("WinLeft");
  TRegistry check;
  ASSERT_TRUE(check.OpenKey("Software\\Brenmoor\\Vellora\\pen1", false));
  EXPECT_EQ(check.ReadInteger("Size"), 7);
  ASSERT_TRUE(check.OpenKey("Software\\Brenmoor\\Roomvane\\vlConfig", false));
  EXPECT_EQ(check.ReadBool("IsServer"), true);
  ASSERT_TRUE(check.OpenKey("Software\\Brenmoor\\Vellora", false));
  EXPECT_EQ(check.ReadString("Path"), "/pictures/");
  EXPECT_EQ(check.ReadInteger("WinTop"), 5);
  EXPECT_FALSE(check.ValueExists("WinLeft"));
}

TEST(Settings, MalformedFileLinesAreSkipped) {
  TTempSettings env;
  std::string text =
      "garbage before any key\n"
      "[Software\\Brenmoor\\Vellora]\n"
      "Good\tdword\t7\n"
      "TooBig\tdword\t99999999999\n"
      "Neg\tdword\t-1x\n"
      "OddHex\tbinary\tabc\n"
      "NoTabs\n"
      "Kind\tweird\t1\n"
      "Bin\tbinary\t0a0B\n";
  ASSERT_TRUE(WriteFileAtomic(env.Dir() + "/brenmoor.reg", text.data(), text.size()));
  TRegistry r;
  ASSERT_TRUE(r.OpenKey("Software\\Brenmoor\\Vellora", false));
  EXPECT_EQ(r.ReadDword("Good"), 7u);
  EXPECT_FALSE(r.ValueExists("TooBig"));
  EXPECT_FALSE(r.ValueExists("Neg"));
  EXPECT_FALSE(r.ValueExists("OddHex"));
  EXPECT_FALSE(r.ValueExists("Kind"));
  EXPECT_EQ(r.ReadBinary("Bin"), (std::vector<uint8_t>{0x0a, 0x0b}));
}

TEST(Clock, FakeClockWrapsLikeTheTimer) {
  SetFakeClock(0xFFFFFFF0u);
  uint32_t then = timeGetTime();
  AdvanceFakeClock(0x20);
  uint32_t now = timeGetTime();
  EXPECT_EQ(now, 0x10u);
  EXPECT_EQ(uint32_t(now - then), 0x20u);
  UseRealClock();
  uint32_t a = timeGetTime(), b = timeGetTime();
  EXPECT_LE(uint32_t(b - a), 1000u);
}

TEST(Files, AtomicWriteLeavesOldFileWhenTargetFolderIsMissing) {
  TTempSettings env;
  std::string p = env.Dir() + "/f.bin";
  ASSERT_TRUE(WriteFileAtomic(p, "old", 3));
  EXPECT_FALSE(WriteFileAtomic(env.Dir() + "/no/such/dir/f.bin", "new", 3));
  TAtomicFile f;
  ASSERT_TRUE(f.Open(p));
  f.Write("newer", 5);
  f.Discard();  // dropped without commit: the old bytes stay
  std::vector<uint8_t> bytes;
  ASSERT_TRUE(ReadWholeFile(p, bytes));
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "old");
  EXPECT_EQ(FileSizeOf(env.Dir()), -1);  // a folder is not a file
}

namespace {

const char* const kKey = "Software\\Brenmoor\\Vellora";

std::string FileText(const std::string& path) {
  std::vector<uint8_t> bytes;
  return ReadWholeFile(path, bytes) ? std::string(bytes.begin(), bytes.end()) : std::string();
}

// Bytes this process has read through read() and its kin so far.
int64_t BytesReadByThisProcess() {
  std::ifstream io("/proc/self/io");
  for (std::string field; io >> field;) {
    int64_t n = 0;
    io >> n;
    if (field == "rchar:") return n;
  }
  return -1;
}

// Waits until the file's last change is old enough for its times to tell any later change.
void LetSettle(const std::string& path) {
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  auto ns = [](const timespec& t) { return int64_t(t.tv_sec) * 1000000000 + t.tv_nsec; };
  const int64_t changed = std::max(ns(st.st_mtim), ns(st.st_ctim));
  ASSERT_TRUE(QTest::qWaitFor(
      [&] {
        timespec now {};
        clock_gettime(CLOCK_REALTIME, &now);
        return ns(now) > changed + 2100000000;
      },
      10000));
}

}  // namespace

TEST(Settings, AFileThatIsNoRegularFileOrTooBigIsRefusedOnceAndLeftAsItIs) {
  // What a careless reader would take for settings, repeated far beyond any real store.
  std::string huge = "[Software\\Brenmoor\\Vellora]\n";
  while (huge.size() < 20u << 20) huge += "GridWidth\tdword\t40\n";
  struct Case {
    const char* what;
  } cases[] = {{"pipe"}, {"folder"}, {"20 MB file"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string what = c.what;
    TTempSettings env;
    const std::string file = env.Dir() + "/brenmoor.reg";
    bool made = false;
    if (what == "pipe") made = ::mkfifo(file.c_str(), 0600) == 0;
    if (what == "folder") made = ::mkdir(file.c_str(), 0700) == 0;
    if (what == "20 MB file") made = WriteFileAtomic(file, huge.data(), huge.size());
    ASSERT_TRUE(made);
    struct stat before {};
    ASSERT_EQ(::stat(file.c_str(), &before), 0);
    TMessageRecorder rec;
    // A pipe nobody writes to must not hold up the reader.
    TRegistry r;
    EXPECT_FALSE(r.OpenKey(kKey, true));
    EXPECT_FALSE(r.ReadInteger("GridWidth").has_value());
    EXPECT_FALSE(r.WriteInteger("GridWidth", 25));
    EXPECT_FALSE(r.KeyExists(kKey));
    EXPECT_FALSE(r.DeleteKey(kKey));
    TRegistry other;
    EXPECT_FALSE(other.OpenKey("Software\\Brenmoor\\Roomvane\\vlConfig", true));
    ASSERT_EQ(rec.Messages.size(), 1u);
    EXPECT_NE(rec.Messages[0].Text.find(file), std::string::npos);
    struct stat after {};
    ASSERT_EQ(::stat(file.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_mode, before.st_mode);
    EXPECT_EQ(after.st_size, before.st_size);
    if (what == "20 MB file") {
      EXPECT_EQ(FileText(file), huge);
    }
  }
}

TEST(Settings, AnEmptyFileIsAStoreWithoutValuesAndAValueTooBigForTheStoreIsNotWritten) {
  TTempSettings env;
  const std::string file = env.Dir() + "/brenmoor.reg";
  ASSERT_TRUE(WriteFileAtomic(file, "", 0));
  TMessageRecorder rec;
  TRegistry r;
  EXPECT_FALSE(r.OpenKey(kKey, false));
  ASSERT_TRUE(r.OpenKey(kKey, true));
  EXPECT_FALSE(r.ReadInteger("GridWidth").has_value());
  EXPECT_TRUE(r.WriteInteger("GridWidth", 40));
  const std::string kept = FileText(file);
  // A store that would be refused at the next start is never written.
  EXPECT_FALSE(r.WriteString("Path", std::string(kMaxSettingsFile, 'x')));
  EXPECT_EQ(FileText(file), kept);
  EXPECT_FALSE(r.ValueExists("Path"));
  EXPECT_TRUE(r.WriteString("Path", "/pictures/"));
  TRegistry check;
  ASSERT_TRUE(check.OpenKey(kKey, false));
  EXPECT_EQ(check.ReadInteger("GridWidth"), 40);
  EXPECT_EQ(check.ReadString("Path"), "/pictures/");
  EXPECT_TRUE(rec.Messages.empty());
}

TEST(Settings, AnUnchangedFileIsNotReadAgainButEveryChangeIsSeen) {
  TTempSettings env;
  const std::string file = env.Dir() + "/brenmoor.reg";
  std::string text = "[Software\\Brenmoor\\Vellora]\nGridWidth\tdword\t40\n";
  for (int i = 0; i < 5000; ++i) text += "Filler" + std::to_string(i) + "\tstring\t" + std::string(40, 'f') + "\n";
  ASSERT_TRUE(WriteFileAtomic(file, text.data(), text.size()));
  const int64_t size = FileSizeOf(file);
  ASSERT_GT(size, 200000);
  LetSettle(file);
  TRegistry held;
  ASSERT_TRUE(held.OpenKey(kKey, false));
  EXPECT_EQ(held.ReadInteger("GridWidth"), 40);
  const int64_t readBefore = BytesReadByThisProcess();
  for (int i = 0; i < 200; ++i) EXPECT_EQ(held.ReadInteger("GridWidth"), 40);
  if (readBefore >= 0) {
    EXPECT_LT(BytesReadByThisProcess() - readBefore, size);
  }

  // Another accessor replaces the file with one of the same size, at once.
  {
    TRegistry other;
    ASSERT_TRUE(other.OpenKey(kKey, false));
    ASSERT_TRUE(other.WriteInteger("GridWidth", 41));
  }
  EXPECT_EQ(FileSizeOf(file), size);
  EXPECT_EQ(held.ReadInteger("GridWidth"), 41);

  // Another program edits the file in place, same size, and puts its modification time back.
  LetSettle(file);
  EXPECT_EQ(held.ReadInteger("GridWidth"), 41);
  struct stat st {};
  ASSERT_EQ(::stat(file.c_str(), &st), 0);
  text = FileText(file);
  const size_t at = text.find("GridWidth\tdword\t41");
  ASSERT_NE(at, std::string::npos);
  {
    std::fstream f(file, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(static_cast<std::streamoff>(at + 17));
    f.put('2');
  }
  const timespec times[2] = {st.st_atim, st.st_mtim};
  ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
  EXPECT_EQ(held.ReadInteger("GridWidth"), 42);
  // And the held accessor writes over that, keeping everything else.
  EXPECT_TRUE(held.WriteInteger("WinTop", 3));
  TRegistry check;
  ASSERT_TRUE(check.OpenKey(kKey, false));
  EXPECT_EQ(check.ReadInteger("GridWidth"), 42);
  EXPECT_EQ(check.ReadString("Filler4999"), std::string(40, 'f'));
}
