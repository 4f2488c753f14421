// Saving, exporting and capturing: what is written, where the dialogs start, and failures
// that are told as failures and keep what was there.
#include <sys/stat.h>
#include <sys/wait.h>
#include <spawn.h>
#include <unistd.h>

#include <filesystem>
#include <set>

#include <QDate>

#include "FileTestUtil.h"
#include "painter/SizeWin.h"

namespace {

using FileSave = FileFixture;

TEST_F(FileSave, FailedSavesAreToldAndKeepTheNameAndTheOldFile) {
  TDrawWindow* w = MakePaper(30, 20);
  WriteBytes(Data.Path("plain"), {'x'});
  const std::string underFile = Data.Path("plain/x.bmp");
  const std::string png = Data.Path("x.png");
  plat::TFileDialogRecorder dialogs({underFile, png});
  VLMain->FileSaveAsItemClick();
  VLMain->FileSaveAsItemClick();
  EXPECT_EQ(Texts(), (std::vector<std::string>{msgSaveFailed + "\n" + underFile, msgUnknownFormat}));
  EXPECT_FALSE(Exists(png));
  EXPECT_EQ(w->Paper->Name, "NONAME");

  if (geteuid() == 0) GTEST_SKIP() << "as root a read-only folder is writable";
  const std::string folder = Data.Path("locked");
  ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
  const std::string old = folder + "/old.bmp";
  WriteBytes(old, {'o', 'l', 'd'});
  ASSERT_EQ(chmod(folder.c_str(), 0555), 0);
  w->Paper->Name = old;
  Messages.Messages.clear();
  QTest::keyClick(w, Qt::Key_S, Qt::ControlModifier);
  chmod(folder.c_str(), 0755);
  EXPECT_EQ(Texts(), std::vector<std::string>{msgSaveFailed + "\n" + old});
  EXPECT_EQ(FileBytes(old), (std::vector<uint8_t>{'o', 'l', 'd'}));
}

TEST_F(FileSave, ANewPaperIsGivenAFileNeverItsTitle) {
  // A file named after the title would land in the working folder.
  const QString cwd = QDir::currentPath();
  QDir::setCurrent(QString::fromStdString(Data.Dir()));
  TDrawWindow* w = MakePaper(16, 16);
  w->Paper->Name = "SanNom";
  const std::string path = Data.Path("named.wpb");
  plat::TFileDialogRecorder dialogs({std::nullopt, path});
  VLMain->FileSaveItemClick();  // cancelled
  EXPECT_FALSE(Exists(Data.Path("SanNom")));
  QDir::setCurrent(cwd);
  EXPECT_EQ(w->Paper->Name, "SanNom");
  VLMain->FileSaveItemClick();
  ASSERT_EQ(dialogs.Dialogs.size(), 2u);
  EXPECT_EQ(dialogs.Dialogs[1].FileName, "");
  EXPECT_EQ(w->Paper->Name, path);
  EXPECT_EQ(FileBytes(path).size() > 32, true);
  EXPECT_EQ(Texts(), std::vector<std::string>{msgImageSaved});
}

TEST_F(FileSave, AFailedExportKeepsTheRecordAsItWas) {
  TDrawWindow* w = MakePaper(16, 16);
  const std::vector<uint8_t> before = Bytes(*w->Packets[0]);
  WriteBytes(Data.Path("plain"), {'x'});
  const std::string target = Data.Path("plain/x.wpe");
  plat::TFileDialogRecorder dialogs({target, Data.Path("ok.wpe")});
  VLMain->EventExportItemClick();
  EXPECT_EQ(Texts(), std::vector<std::string>{msgSaveFailed + "\n" + target});
  EXPECT_EQ(Bytes(*w->Packets[0]), before);
  // The record goes on as before: the next export holds it with one end marker.
  VLMain->EventExportItemClick();
  std::vector<uint8_t> expected = before;
  expected.insert(expected.end(), {0xFF, 0xFF});
  EXPECT_EQ(FileBytes(Data.Path("ok.wpe")), expected);
  EXPECT_EQ(Texts().back(), msgEventsExported);
}

TEST_F(FileSave, CapturesAreNumberedByDayInThePathFolder) {
  TDrawWindow* w = MakePaper(12, 8);
  const std::string folder = Data.Path("shots");
  ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
  WriteSetting("Path", folder + "/");
  const QDate d = QDate::currentDate();
  const std::string stem = folder + "/" + std::to_string(d.year()) + "-" + std::to_string(d.month()) + "-" +
                           std::to_string(d.day()) + "-";
  VLMain->CaptureSaveItemClick();
  VLMain->CaptureSaveItemClick();
  std::vector<uint8_t> bmp;
  ASSERT_TRUE(EncodeBMP(w->Paper->CompositeImage, bmp));
  EXPECT_EQ(FileBytes(stem + "0.bmp"), bmp);
  EXPECT_EQ(FileBytes(stem + "1.bmp"), bmp);
  EXPECT_EQ(Texts(), (std::vector<std::string>{stem + "0.bmp - " + msgScreenCaptured,
                                                stem + "1.bmp - " + msgScreenCaptured}));

  WriteBytes(folder + "/2006-3-7-0.bmp", {'x'});
  EXPECT_EQ(TVLMain::CaptureFileName(folder + "/", 2006, 3, 7), folder + "/2006-3-7-1.bmp");
  EXPECT_EQ(TVLMain::CaptureFileName(folder + "/", 2006, 12, 17), folder + "/2006-12-17-0.bmp");

  // A "Path" folder that has gone away: the capture fails and says so.
  WriteSetting("Path", Data.Path("gone") + "/");
  Messages.Messages.clear();
  VLMain->CaptureSaveItemClick();
  ASSERT_EQ(Messages.Messages.size(), 1u);
  EXPECT_EQ(Messages.Messages[0].Text.rfind(msgSaveFailed, 0), 0u);
}

TEST_F(FileSave, WithoutPathCapturesGoToTheDataFolder) {
  MakePaper(4, 4);
  VLMain->CaptureSaveItemClick();
  ASSERT_EQ(Messages.Messages.size(), 1u);
  const std::string text = Messages.Messages[0].Text;
  const std::string file = text.substr(0, text.find(" - "));
  EXPECT_EQ(file.rfind(Data.Dir() + "/vellora/", 0), 0u) << file;
  EXPECT_TRUE(Exists(file));
}

TEST_F(FileSave, EveryDialogStartsInPathAndPresetsTheRightName) {
  const std::string folder = Data.Dir() + "/";
  WriteSetting("Path", folder);
  TDrawWindow* w = MakePaper(10, 10);
  {
    plat::TFileDialogRecorder dialogs;
    VLMain->FileOpenItemClick();
    VLMain->FileSaveItemClick();
    VLMain->FileSaveAsItemClick();
    VLMain->FileSaveCopyItemClick();
    VLMain->EventExportItemClick();
    VLMain->EventImportItemClick();
    struct TExpected {
      const char* Name;
      bool Save;
      const char* Ext;
      const char* Title;
      const char* Filter;
    };
    const TExpected expected[] = {
        {"OpenDialogBitmap", false, "wpb", "",
         "Tous Fichiers    (*.wpb; *.bmp; *.jpg)|*.wpb;*.bmp;*.jpg|WPB Vellora 1.1 (*.wpb)|*.wpb|"
         "BMP Windows format (*.bmp)      |*.bmp|JPEG format (*.jpg)|*.jpg"},
        {"SaveDialogBitmap", true, "wpb", "",
         "WPB Vellora 1.1 format (*.wpb)|*.wpb|BMP Windows format (*.bmp)        |*.bmp|JPEG format  (*.jpg)|*.jpg"},
        {"SaveDialogBitmap", true, "wpb", "",
         "WPB Vellora 1.1 format (*.wpb)|*.wpb|BMP Windows format (*.bmp)        |*.bmp|JPEG format  (*.jpg)|*.jpg"},
        {"SaveDialogCopy", true, "bmp", "ファイルの複製を保存",
         "Windowsビットマップファイル(*.bmp)|*.bmp|JPEGファイル (*.jpg)|*.jpg"},
        {"SaveDialogEvent", true, "wpe", "Exporter fichier event", "Vellora event (*.wpe)      |*.wpe"},
        {"OpenDialogEvent", false, "wpe", "", "Vellora event (*.wpe)      |*.wpe"},
    };
    ASSERT_EQ(dialogs.Dialogs.size(), std::size(expected));
    for (size_t i = 0; i < std::size(expected); ++i) {
      const plat::TFileDialogRequest& d = dialogs.Dialogs[i];
      SCOPED_TRACE(expected[i].Name);
      EXPECT_EQ(d.Name, expected[i].Name);
      EXPECT_EQ(d.Save, expected[i].Save);
      EXPECT_EQ(d.DefaultExt, expected[i].Ext);
      EXPECT_EQ(d.Title, expected[i].Title);
      EXPECT_EQ(d.Filter, expected[i].Filter);
      EXPECT_EQ(d.FilterIndex, 1);
      EXPECT_EQ(d.Folder, folder);
      // A paper without a file presets no name (no wildcard that could become one).
      EXPECT_EQ(d.FileName, "");
    }
  }
  // A named paper presets its own name in the copy and export dialogs.
  w->Paper->Name = Data.Path("photo.wpb");
  plat::TFileDialogRecorder dialogs;
  VLMain->FileSaveCopyItemClick();
  VLMain->EventExportItemClick();
  ASSERT_EQ(dialogs.Dialogs.size(), 2u);
  EXPECT_EQ(dialogs.Dialogs[0].FileName, "photo");
  EXPECT_EQ(dialogs.Dialogs[1].FileName, "photo.wpe");

  // A "Path" folder that no longer exists: the home folder.
  WriteSetting("Path", Data.Path("gone") + "/");
  VLMain->FileOpenItemClick();
  EXPECT_EQ(dialogs.Dialogs.back().Folder, QDir::homePath().toStdString() + "/");
}

TEST_F(FileSave, SaveAsWritesTheChosenFolderToPath) {
  TDrawWindow* w = MakePaper(10, 10);
  const std::string folder = Data.Path("sub");
  ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
  plat::TFileDialogRecorder dialogs({folder + "/p.jpg"});
  VLMain->FileSaveAsItemClick();
  EXPECT_EQ(ReadSetting("Path"), folder + "/");
  EXPECT_EQ(w->Paper->Name, folder + "/p.jpg");
  const std::vector<uint8_t> jpeg = FileBytes(folder + "/p.jpg");
  ASSERT_GE(jpeg.size(), 2u);
  EXPECT_EQ(jpeg[0], 0xFF);
  EXPECT_EQ(jpeg[1], 0xD8);
}

// The id of a process that has ended and been reaped.
pid_t DeadPid() {
  pid_t pid = 0;
  char* argv[] = {const_cast<char*>("/bin/true"), nullptr};
  if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv, environ) != 0) return 0;
  int status = 0;
  waitpid(pid, &status, 0);
  return pid;
}

TEST_F(FileSave, CtrlSKeepsAPrivateFilePrivateAndClearsLeftoversOfDeadSaves) {
  const pid_t dead = DeadPid();
  ASSERT_GT(dead, 0);
  for (const char* ext : {"bmp", "jpg", "wpb"}) {
    SCOPED_TRACE(ext);
    TDrawWindow* w = MakePaper(12, 10);
    const std::string path = Data.Path(std::string("private.") + ext);
    WriteBytes(path, {'o', 'l', 'd'});
    ASSERT_EQ(chmod(path.c_str(), 0600), 0);
    // What a save killed midway by an earlier run left beside the file.
    const std::string leftover = path + ".tmp-" + std::to_string(dead);
    WriteBytes(leftover, std::vector<uint8_t>(4096, 'x'));
    w->Paper->Name = path;
    Messages.Messages.clear();
    QTest::keyClick(w, Qt::Key_S, Qt::ControlModifier);
    EXPECT_EQ(Texts(), std::vector<std::string>{msgImageSaved});
    EXPECT_GT(FileBytes(path).size(), 3u);
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, mode_t(0600));
    EXPECT_FALSE(Exists(leftover));
    w->CloseWindow(false);
  }
  std::set<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(Data.Dir()))
    if (e.path().filename().string().rfind("private.", 0) == 0) names.insert(e.path().filename().string());
  EXPECT_EQ(names, (std::set<std::string>{"private.bmp", "private.jpg", "private.wpb"}));
}

TEST_F(FileSave, AJpegOpenedAsJpegSavesBack) {
  TDrawWindow* w = MakePaper(10, 10);
  const std::string path = Data.Path("p.jpeg");
  plat::TFileDialogRecorder dialogs({path});
  VLMain->FileSaveCopyItemClick();
  EXPECT_EQ(Texts(), std::vector<std::string>{msgImageSaved});
  EXPECT_EQ(w->Paper->Name, "NONAME");
  const std::vector<uint8_t> jpeg = FileBytes(path);
  ASSERT_GE(jpeg.size(), 2u);
  EXPECT_EQ(jpeg[0], 0xFF);
  EXPECT_EQ(jpeg[1], 0xD8);
}

}  // namespace
