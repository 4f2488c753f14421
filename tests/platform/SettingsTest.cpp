#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "common/TempDir.h"
#include "platform/core/Clock.h"
#include "platform/core/Files.h"
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
