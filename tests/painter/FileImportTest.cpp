// Importing event files, drops and hand-overs, and the commands that check again when they
// run from a shortcut.
#include <QAction>
#include <QComboBox>
#include <QDropEvent>
#include <QMimeData>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QUrl>

#include "FileTestUtil.h"
#include "painter/FormEventMul.h"
#include "painter/SizeWin.h"
#include "platform/qt/SingleInstance.h"

namespace {

// A 300 x 200 paper with a red 5 x 5 square at (10, 10) on layer 0.
const std::vector<uint8_t> kSquare = {0x00, 0x02, 0x2C, 0x01, 0xC8, 0x00, 0x28, 0x01, 0x00, 0x0A, 0x00,
                                      0x0A, 0x00, 0x05, 0x00, 0x05, 0x00, 0xFF, 0x00, 0x00, 0xFF, 0xFF};

class FileImport : public FileFixture {
 protected:
  // Drops the files on a window (the main window by default) as the window system delivers a
  // drop: the drag enters, then it is dropped.
  static void Drop(const std::vector<std::string>& paths, QWidget* on = nullptr) {
    if (!on) on = VLMain;
    QMimeData mime;
    QList<QUrl> urls;
    for (const std::string& p : paths) urls << QUrl::fromLocalFile(QString::fromStdString(p));
    urls << QUrl("https://example.com/remote.wpb");
    mime.setUrls(urls);
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(on, &enter);
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(on, &drop);
  }
  // Answers the next magnification dialog: item 0, or item 1 with a combo index; -1 cancels.
  static void AnswerMagnification(int item, int combo = 1) {
    OnNextModal([item, combo](QWidget* m) {
      auto* dialog = qobject_cast<TFormEventMul*>(m);
      ASSERT_NE(dialog, nullptr);
      if (item < 0) {
        dialog->BitBtn2->click();
        return;
      }
      (item == 1 ? dialog->RadioItem1 : dialog->RadioItem0)->click();
      EXPECT_EQ(dialog->ComboBox1->isEnabled(), item == 1);
      dialog->ComboBox1->setCurrentIndex(combo);
      dialog->BitBtn1->click();
    });
  }
  std::string SquareFile() {
    const std::string path = Data.Path("square.wpe");
    WriteBytes(path, kSquare);
    return path;
  }
};

TEST_F(FileImport, ADroppedRecordPlaysMagnifiedAndSavesAsPicture) {
  const std::string path = SquareFile();
  AnswerMagnification(1, 1);  // 2.0
  Drop({path});
  ASSERT_TRUE(DrainQueue());
  ASSERT_EQ(Windows(), 1);
  TDrawWindow* w = VLMain->ActiveDrawWindow();
  ASSERT_TRUE(PlayToEnd(w));
  EXPECT_EQ(w->Paper->Width(), 600);
  EXPECT_EQ(w->Paper->Height(), 400);
  // Replayed, the record would make the unscaled paper: it no longer rebuilds this one.
  EXPECT_EQ(w->Paper->EventsIncomplete, 1);
  EXPECT_TRUE(VLMain->findChildren<TFormEventMul*>().isEmpty());

  const std::string bmp = Data.Path("y.bmp");
  plat::TFileDialogRecorder dialogs({bmp});
  VLMain->FileSaveAsItemClick();
  const std::vector<uint8_t> b = FileBytes(bmp);
  ASSERT_EQ(b.size(), 720054u);
  EXPECT_EQ(b[2] | b[3] << 8 | b[4] << 16 | b[5] << 24, 720054);
  auto rgb = [&b](int x, int y) {
    const size_t at = 54 + static_cast<size_t>(399 - y) * 1800 + static_cast<size_t>(x) * 3;
    return b[at + 2] << 16 | b[at + 1] << 8 | b[at];
  };
  EXPECT_EQ(rgb(25, 25), 0xFF0000);
  EXPECT_EQ(rgb(5, 5), 0xFFFFFF);
  EXPECT_EQ(rgb(30, 30), 0xFFFFFF);
}

TEST_F(FileImport, AnImportAtItsOwnSizeExportsItselfAndWhatIsDrawnAfter) {
  const std::string path = SquareFile();
  AnswerMagnification(0);
  VLMain->OpenFile(path);
  ASSERT_EQ(Windows(), 1);
  TDrawWindow* w = VLMain->ActiveDrawWindow();
  ASSERT_TRUE(PlayToEnd(w));
  EXPECT_EQ(w->Paper->EventsIncomplete, 0);
  plat::TFileDialogRecorder dialogs({Data.Path("a.wpe"), Data.Path("b.wpe")});
  VLMain->EventExportItemClick();
  EXPECT_EQ(FileBytes(Data.Path("a.wpe")), kSquare);

  // Drawing goes on where the record ended (the painter draws while it is the active window).
  VLMain->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(VLMain));
  const size_t before = Bytes(*w->Packets[0]).size();
  Drag(w, {At(w, 100, 100), At(w, 120, 110), At(w, 150, 130)});
  const std::vector<uint8_t> stroke = StrokeFixture::BytesFrom(*w->Packets[0], before);
  ASSERT_FALSE(stroke.empty());
  VLMain->EventExportItemClick();
  std::vector<uint8_t> expected(kSquare.begin(), kSquare.end() - 2);
  expected.insert(expected.end(), stroke.begin(), stroke.end());
  expected.insert(expected.end(), {0xFF, 0xFF});
  EXPECT_EQ(FileBytes(Data.Path("b.wpe")), expected);
}

TEST_F(FileImport, CancellingTheMagnificationOpensNothing) {
  const std::string path = SquareFile();
  plat::TFileDialogRecorder dialogs({path});
  AnswerMagnification(-1);
  VLMain->EventImportItemClick();
  EXPECT_EQ(Windows(), 0);
  EXPECT_TRUE(VLMain->findChildren<TFormEventMul*>().isEmpty());
  EXPECT_TRUE(ReadSetting("Path").empty());
  EXPECT_TRUE(Messages.Messages.empty());
}

TEST_F(FileImport, ADropOpensItsFirst32FilesOneAfterAnother) {
  TDrawWindow* w = MakePaper(2, 2);
  const std::string one = Data.Path("one.wpb");
  ASSERT_TRUE(w->Paper->SaveToFile(one, false, *w->Packets[0]));
  std::vector<std::string> paths;
  for (int i = 0; i < 40; ++i) {
    paths.push_back(Data.Path("p " + std::to_string(i) + ".wpb"));
    WriteBytes(paths.back(), FileBytes(one));
  }
  // Dropped on a paper window, the files reach the main window.
  Drop(paths, w);
  // Only queued: they open from the event loop.
  EXPECT_EQ(VLMain->PendingOpens.size(), 32u);
  EXPECT_EQ(VLMain->DrawWindows().size(), 1u);
  ASSERT_TRUE(DrainQueue());
  ASSERT_EQ(Windows(), 33);
  for (int i = 0; i < 32; ++i) EXPECT_EQ(VLMain->DrawWindows()[i + 1]->Paper->Name, paths[i]);
  EXPECT_TRUE(Messages.Messages.empty());
}

TEST_F(FileImport, ADroppedJpegWithTheLongExtensionOpensNothing) {
  TTC c;
  FillPattern(c, 8, 8);
  std::vector<uint8_t> jpeg;
  ASSERT_TRUE(EncodeJPEG(c, 90, jpeg));
  WriteBytes(Data.Path("p.jpeg"), jpeg);
  Drop({Data.Path("p.jpeg")});
  ASSERT_TRUE(DrainQueue());
  EXPECT_EQ(Windows(), 0);
  EXPECT_TRUE(Messages.Messages.empty());
}

TEST_F(FileImport, AHandOverWaitsForTheStrokeToEnd) {
  TDrawWindow* w = MakePaper(200, 150);
  const std::string file = Data.Path("handed.wpb");
  ASSERT_TRUE(w->Paper->SaveToFile(file, false, *w->Packets[0]));
  QTest::mousePress(w, Qt::LeftButton, Qt::NoModifier, At(w, 20, 20));
  QTest::mouseMove(w, At(w, 40, 30));
  EXPECT_EQ(VLMain->WMCopyData(file + std::string(1, '\0')), 1);
  QTest::qWait(100);
  EXPECT_EQ(Windows(), 1);
  QTest::mouseRelease(w, Qt::LeftButton, Qt::NoModifier, At(w, 60, 40));
  ASSERT_TRUE(DrainQueue());
  ASSERT_EQ(Windows(), 2);
  EXPECT_EQ(VLMain->ActiveDrawWindow()->Paper->Name, file);
}

TEST_F(FileImport, ASecondProgramHandsItsFileOver) {
  const std::string program = std::string(VELL_BINARY_DIR) + "/painter/vellpaint";
  if (!Exists(program)) GTEST_SKIP() << "vellpaint is not built";
  TDrawWindow* w = MakePaper(20, 20);
  const std::string file = Data.Path("from second.wpb");
  ASSERT_TRUE(w->Paper->SaveToFile(file, false, *w->Packets[0]));
  plat::TNamedMutex running("VeryRareString");
  QProcess second;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("QT_QPA_PLATFORM", "offscreen");
  second.setProcessEnvironment(env);
  second.start(QString::fromStdString(program), {QString::fromStdString(file)});
  ASSERT_TRUE(second.waitForStarted(5000));
  // This program's loop answers the hand-over while the second one waits for it.
  ASSERT_TRUE(QTest::qWaitFor([&] { return second.state() == QProcess::NotRunning; }, 15000));
  EXPECT_EQ(second.exitCode(), 0);
  ASSERT_TRUE(DrainQueue());
  ASSERT_EQ(Windows(), 2);
  EXPECT_EQ(VLMain->ActiveDrawWindow()->Paper->Name, file);
}

TEST_F(FileImport, CommandsCheckAgainDuringAPlayback) {
  const std::string path = SquareFile();
  // With the clock standing, a waiting playback does not step.
  VLMain->EventWait = true;
  VLMain->ImportEvents(path, 1.0f);
  ASSERT_EQ(Windows(), 1);
  TDrawWindow* w = VLMain->ActiveDrawWindow();
  ASSERT_TRUE(w->Playing);
  bool dialogShown = false;
  OnNextModal([&dialogShown](QWidget* m) {
    dialogShown = true;
    m->close();
  });
  plat::TFileDialogRecorder dialogs({Data.Path("during.wpb")});
  QTest::keyClick(w, Qt::Key_S, Qt::ControlModifier);
  QTest::keyClick(w, Qt::Key_A, Qt::ControlModifier);
  QTest::keyClick(w, Qt::Key_Y, Qt::ControlModifier);
  VLMain->EventExportItemClick();
  VLMain->PaperResizeItemClick();
  VLMain->PaperResolutionItemClick();
  SizeWindow->BitBtn1Click();
  EXPECT_TRUE(dialogs.Dialogs.empty());
  EXPECT_FALSE(dialogShown);
  EXPECT_FALSE(Exists(Data.Path("during.wpb")));

  VLMain->EventWait = false;
  ASSERT_TRUE(PlayToEnd(w));
  VLMain->EventExportItemClick();
  EXPECT_EQ(FileBytes(Data.Path("during.wpb")), kSquare);
  QTest::qWait(20);
  EXPECT_FALSE(dialogShown);
}

TEST_F(FileImport, TheFileMenuFollowsThePaper) {
  struct TCase {
    const char* Name;
    std::function<void(TDrawWindow*)> Set;
    bool Save, Export;
  };
  const TCase cases[] = {
      {"plain paper", [](TDrawWindow*) {}, true, true},
      {"incomplete record", [](TDrawWindow* w) { w->Paper->SetEventsIncomplete(true); }, true, false},
      {"playing back", [](TDrawWindow* w) { w->Playing = true; }, false, false},
      {"network paper", [](TDrawWindow* w) { w->Paper->SetNetMode(1); }, false, true},
  };
  NetState.IsHost = true;
  VLMain->File1Click();
  EXPECT_FALSE(VLMain->FileSaveItem->isEnabled());
  EXPECT_FALSE(VLMain->FileCloseItem->isEnabled());
  EXPECT_TRUE(VLMain->FileOpenItem->isEnabled());
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TDrawWindow* w = MakePaper(10, 10);
    c.Set(w);
    VLMain->File1Click();
    EXPECT_TRUE(VLMain->FileCloseItem->isEnabled());
    EXPECT_EQ(VLMain->FileSaveItem->isEnabled(), c.Save);
    EXPECT_EQ(VLMain->FileSaveAsItem->isEnabled(), c.Save);
    EXPECT_EQ(VLMain->FileSaveCopyItem->isEnabled(), c.Save);
    EXPECT_EQ(VLMain->EventExportItem->isEnabled(), c.Export);
    w->Playing = false;
    w->Paper->SetNetMode(0);
    w->CloseWindow(false);
    Settle();
  }
}

TEST_F(FileImport, ANetworkPaperGetsNoResizeDialog) {
  // A host's paper: the update loop keeps it while no member is there.
  NetState.IsHost = true;
  TDrawWindow* w = MakePaper(40, 30);
  w->Paper->SetNetMode(1);
  bool dialogShown = false;
  OnNextModal([&dialogShown](QWidget* m) {
    dialogShown = true;
    m->close();
  });
  const std::vector<uint8_t> before = Bytes(*w->Packets[0]);
  VLMain->PaperResizeItemClick();
  VLMain->PaperResolutionItemClick();
  SizeWindow->BitBtn1Click();
  QTest::qWait(20);
  EXPECT_FALSE(dialogShown);
  EXPECT_EQ(Bytes(*w->Packets[0]), before);
  EXPECT_EQ(w->Paper->Width(), 40);
  w->Paper->SetNetMode(0);
}

}  // namespace

namespace {

TEST_F(FileImport, StopEndsAPlaybackWhereItStands) {
  const std::string path = SquareFile();
  // With the clock standing, a waiting playback does not step past its first event.
  VLMain->EventWaitItem->trigger();
  ASSERT_TRUE(VLMain->EventWait);
  VLMain->ImportEvents(path, 1.0f);
  TDrawWindow* w = VLMain->ActiveDrawWindow();
  ASSERT_NE(w, nullptr);
  VLMain->EventStopItemClick();
  ASSERT_TRUE(PlayToEnd(w));
  // The record keeps what was played: the new paper only.
  EXPECT_EQ(Bytes(*w->Packets[0]), std::vector<uint8_t>(kSquare.begin(), kSquare.begin() + 6));
  VLMain->EventWaitItem->trigger();
  EXPECT_FALSE(VLMain->EventWait);
}

TEST_F(FileImport, TheOpenDialogAlsoKnowsTheLongJpegExtension) {
  TTC c;
  FillPattern(c, 8, 8);
  std::vector<uint8_t> jpeg;
  ASSERT_TRUE(EncodeJPEG(c, 90, jpeg));
  const std::string path = Data.Path("p.jpeg");
  WriteBytes(path, jpeg);
  plat::TFileDialogRecorder dialogs({path});
  VLMain->FileOpenItemClick();
  ASSERT_EQ(Windows(), 1);
  EXPECT_EQ(VLMain->ActiveDrawWindow()->Paper->Name, path);
  EXPECT_EQ(ReadSetting("Path"), Data.Dir() + "/");
}

}  // namespace
