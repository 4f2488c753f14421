// The autosave file: a write that fails is told and tried again, a quit leaves none behind,
// and a file found at start that cannot be read is kept rather than deleted.
#include <sys/mount.h>
#include <unistd.h>

#include <QStatusBar>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "FileTestUtil.h"
#include "platform/core/Files.h"

namespace {

// A small tmpfs of the test's own, unmounted again at the end. Mounting needs the right to
// (root here); without it the tmpfs is not there and Why() says so.
class TSmallDisk {
 public:
  TSmallDisk(const std::string& dir, const char* options) : dir_(dir) {
    std::filesystem::create_directories(dir);
    if (::mount("tmpfs", dir.c_str(), "tmpfs", 0, options) == 0) mounted_ = true;
    else why_ = std::string("no tmpfs could be mounted (") + std::strerror(errno) + ")";
  }
  ~TSmallDisk() {
    if (mounted_) ::umount2(dir_.c_str(), MNT_DETACH);
  }
  bool Mounted() const { return mounted_; }
  const std::string& Why() const { return why_; }
  bool Remount(const char* options) {
    return ::mount("tmpfs", dir_.c_str(), "tmpfs", MS_REMOUNT | (std::strcmp(options, "ro") == 0 ? MS_RDONLY : 0),
                   nullptr) == 0;
  }
  // Writes a file until the disk takes no more.
  void Fill(const std::string& name) {
    std::ofstream f(dir_ + "/" + name, std::ios::binary);
    const std::string block(4096, 'x');
    while (f.write(block.data(), static_cast<std::streamsize>(block.size())) && f.flush()) {
    }
  }

 private:
  std::string dir_, why_;
  bool mounted_ = false;
};

class Autosave : public FileFixture {
 protected:
  // n short strokes, each ended by its release.
  void DrawStrokes(TDrawWindow* w, int n) {
    for (int i = 0; i < n; ++i) {
      const int y = 10 + (i % 40) * 2;
      Drag(w, {At(w, 10, y), At(w, 14, y), At(w, 18, y + 1)});
    }
  }
  // The next run of the program, shown and through its first activation.
  void StartAgain() {
    Restart();
    ShowActive();
  }
  // The data folder the program uses from now on (the autosave lives in its "vellora").
  static void UseDataHome(const std::string& dir) { setenv("XDG_DATA_HOME", dir.c_str(), 1); }

  // Every text the status bar was given.
  std::vector<std::string> StatusTexts;
  void WatchStatus() {
    QObject::connect(VLMain->StatusBar, &QStatusBar::messageChanged, VLMain,
                     [this](const QString& m) { StatusTexts.push_back(m.toStdString()); });
  }
  int TimesToldNotSaved() const {
    return static_cast<int>(std::count(StatusTexts.begin(), StatusTexts.end(), msgAutosaveFailed));
  }
};

TEST_F(Autosave, AFailedWriteIsToldOnceRetriedAfterAPauseAndCountsOnlyOnceWritten) {
  struct Case {
    const char* name;
    std::function<std::string(TTempDir&, std::unique_ptr<TSmallDisk>&)> Break;  // the data home, or "" to skip
    std::function<void(TTempDir&)> Mend;
  };
  const Case cases[] = {
      {"the disk is full",
       [](TTempDir& d, std::unique_ptr<TSmallDisk>& disk) {
         disk = std::make_unique<TSmallDisk>(d.Path("small"), "size=256k");
         if (!disk->Mounted()) return std::string();
         std::filesystem::create_directory(d.Path("small/vellora"));
         disk->Fill("filler");
         return d.Path("small");
       },
       [](TTempDir& d) { std::filesystem::remove(d.Path("small/filler")); }},
      {"the data folder is a file",
       [](TTempDir& d, std::unique_ptr<TSmallDisk>&) {
         std::filesystem::create_directory(d.Path("home"));
         std::ofstream(d.Path("home/vellora")) << "not a folder";
         return d.Path("home");
       },
       [](TTempDir& d) { std::filesystem::remove(d.Path("home/vellora")); }},
  };
  WatchStatus();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TTempDir dir;
    std::unique_ptr<TSmallDisk> disk;
    const std::string home = c.Break(dir, disk);
    if (home.empty()) {
      std::printf("[ SKIPPED  ] %s: %s\n", c.name, disk ? disk->Why().c_str() : "");
      continue;
    }
    UseDataHome(home);
    StatusTexts.clear();
    TDrawWindow* w = MakePaper(200, 100);
    DrawStrokes(w, 51);

    plat::AdvanceFakeClock(5001);
    VLMain->UpdateStep();
    EXPECT_FALSE(plat::FileExists(AutosavePath()));
    EXPECT_EQ(w->SavedStrokeCount, 0) << "a failed write is no autosave";
    EXPECT_EQ(TimesToldNotSaved(), 1);
    EXPECT_EQ(VLMain->StatusBar->currentMessage().toStdString(), msgAutosaveFailed);

    // Tried again after the pause, still failing: not told again.
    plat::AdvanceFakeClock(2001);
    VLMain->UpdateStep();
    EXPECT_EQ(w->SavedStrokeCount, 0);

    // Mended: no try before the pause is over, then one without a single further stroke.
    c.Mend(dir);
    plat::AdvanceFakeClock(1000);
    VLMain->UpdateStep();
    EXPECT_FALSE(plat::FileExists(AutosavePath())) << "tried again within the pause";
    plat::AdvanceFakeClock(1001);
    VLMain->UpdateStep();
    ASSERT_TRUE(plat::FileExists(AutosavePath()));
    EXPECT_EQ(w->SavedStrokeCount, 51);
    EXPECT_EQ(TimesToldNotSaved(), 1);
    EXPECT_TRUE(VLMain->StatusBar->currentMessage().isEmpty()) << "the warning stays after it no longer holds";
    TPaper saved;
    TEventPacket record;
    ASSERT_TRUE(saved.LoadFromFile(AutosavePath(), record));
    EXPECT_TRUE(SameComposite(saved, *w->Paper));

    w->CloseWindow(false);
    Settle();
    UseDataHome(Data.Dir());
  }
}

TEST_F(Autosave, AQuitLeavesNoAutosaveWhileASessionPaperAsksWhereToKeepItsRecord) {
  // The session paper first: it is the first to close, and asks while the other is still open.
  TDrawWindow* session = MakePaper(120, 80);
  NetState.IsHost = 1;
  session->Paper->SetNetMode(1);
  TDrawWindow* w = MakePaper(200, 100);
  DrawStrokes(w, 51);
  ASSERT_EQ(VLMain->ActiveDrawWindow(), w);
  VLMain->SetUpdateMode(true);
  ASSERT_TRUE(VLMain->UpdateTimer->isActive() || VLMain->IdleTimer->isActive());

  int asked = 0;
  bool loopRan = false, writtenMeanwhile = false;
  const plat::TFileDialogHandler previous = plat::SetFileDialogHandler([&](const plat::TFileDialogRequest& d) {
    ++asked;
    EXPECT_EQ(d.Name, "SaveDialogEvent");
    // The dialog stays open well past the autosave's quiet time while events are handled.
    plat::AdvanceFakeClock(6000);
    QTest::qWait(300);
    loopRan = VLMain->UpdateTimer->isActive() || VLMain->IdleTimer->isActive();
    writtenMeanwhile = plat::FileExists(AutosavePath());
    return std::optional<std::string>();
  });
  Messages.Answer = plat::IDYES;
  const bool closed = VLMain->close();
  plat::SetFileDialogHandler(previous);
  EXPECT_TRUE(closed);
  EXPECT_EQ(asked, 1);
  EXPECT_FALSE(loopRan) << "the update loop ran while the papers closed";
  EXPECT_FALSE(writtenMeanwhile);
  EXPECT_FALSE(plat::FileExists(AutosavePath()));
  EXPECT_TRUE(VLMain->DrawWindows().empty());
}

TEST_F(Autosave, AnAutosaveThatCannotBeReadIsKeptUnderANewNameAndNeverDeleted) {
  const std::string folder = plat::DataDir() + "/";
  const struct {
    const char* name;
    std::string bytes;
  } files[] = {
      {"damaged", std::string("WPB2\x01\x00\x00\x00garbage", 15)},
      {"not a picture file", "GIF89a"},
  };
  for (size_t i = 0; i < std::size(files); ++i) {
    SCOPED_TRACE(files[i].name);
    std::ofstream(AutosavePath(), std::ios::binary) << files[i].bytes;
    Messages.Messages.clear();
    StartAgain();
    const std::string kept = folder + "$$$tmp-refused-" + std::to_string(i) + ".wpb";
    ASSERT_EQ(Messages.Messages.size(), 3u);
    EXPECT_EQ(Messages.Messages[0].Text, "前回異常終了しましたので、ファイルを復帰します。");
    EXPECT_EQ(Messages.Messages[2].Text, msgAutosaveKept + "\n" + kept);
    EXPECT_FALSE(plat::FileExists(AutosavePath()));
    EXPECT_EQ(Windows(), 0);
    // A normal end and the next start leave it alone.
    ASSERT_TRUE(VLMain->close());
    Messages.Messages.clear();
    StartAgain();
    EXPECT_TRUE(Messages.Messages.empty());
    ASSERT_TRUE(VLMain->close());
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(plat::ReadWholeFile(kept, bytes));
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), files[i].bytes);
  }
  // The earlier one kept its name beside the later one.
  EXPECT_TRUE(plat::FileExists(folder + "$$$tmp-refused-0.wpb"));
}

TEST_F(Autosave, AnUnreadAutosaveThatCannotBeMovedIsNeitherWrittenOverNorDeleted) {
  TTempDir dir;
  TSmallDisk disk(dir.Path("disk"), "size=1m");
  if (!disk.Mounted()) GTEST_SKIP() << disk.Why();
  UseDataHome(dir.Path("disk"));
  std::ofstream(AutosavePath(), std::ios::binary) << "WPB2 but nothing more";
  ASSERT_TRUE(disk.Remount("ro"));
  StartAgain();
  ASSERT_EQ(Messages.Messages.size(), 3u);
  EXPECT_EQ(Messages.Messages[2].Text, msgAutosaveKept + "\n" + AutosavePath());
  ASSERT_TRUE(disk.Remount("rw"));
  // Work of this run is not saved over it, and the user is told.
  WatchStatus();
  TDrawWindow* w = MakePaper(200, 100);
  DrawStrokes(w, 51);
  plat::AdvanceFakeClock(5001);
  VLMain->UpdateStep();
  EXPECT_EQ(TimesToldNotSaved(), 1);
  EXPECT_EQ(w->SavedStrokeCount, 0);
  Messages.Answer = plat::IDYES;
  ASSERT_TRUE(VLMain->close());
  std::vector<uint8_t> bytes;
  ASSERT_TRUE(plat::ReadWholeFile(AutosavePath(), bytes));
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "WPB2 but nothing more");
  UseDataHome(Data.Dir());
}

}  // namespace
