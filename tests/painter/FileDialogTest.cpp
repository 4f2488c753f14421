// The real file dialog as the commands describe it: Qt's name filters, the starting folder
// and the default suffix.
#include <QFileDialog>

#include "FileTestUtil.h"

namespace {

using FileDialog = FileFixture;

TEST_F(FileDialog, TheOpenDialogShowsItsFiltersInQtsForm) {
  WriteSetting("Path", Data.Dir() + "/");
  QStringList filters;
  QString folder, suffix;
  OnNextModal([&](QWidget* m) {
    auto* d = qobject_cast<QFileDialog*>(m);
    ASSERT_NE(d, nullptr);
    filters = d->nameFilters();
    folder = d->directory().absolutePath();
    suffix = d->defaultSuffix();
    d->reject();
  });
  VLMain->FileOpenItemClick();
  EXPECT_EQ(filters, (QStringList{"Tous Fichiers (*.wpb *.bmp *.jpg)", "WPB Vellora 1.1 (*.wpb)",
                                  "BMP Windows format (*.bmp)", "JPEG format (*.jpg)"}));
  EXPECT_EQ(folder.toStdString(), Data.Dir());
  EXPECT_EQ(suffix, "wpb");
  EXPECT_EQ(Windows(), 0);
}

TEST_F(FileDialog, TheCopyDialogKeepsItsJapaneseTexts) {
  MakePaper(8, 8);
  QStringList filters;
  QString title;
  OnNextModal([&](QWidget* m) {
    auto* d = qobject_cast<QFileDialog*>(m);
    ASSERT_NE(d, nullptr);
    filters = d->nameFilters();
    title = d->windowTitle();
    d->reject();
  });
  VLMain->FileSaveCopyItemClick();
  EXPECT_EQ(filters, (QStringList{QString::fromUtf8("Windowsビットマップファイル (*.bmp)"),
                                  QString::fromUtf8("JPEGファイル (*.jpg)")}));
  EXPECT_EQ(title, QString::fromUtf8("ファイルの複製を保存"));
  EXPECT_TRUE(Messages.Messages.empty());
}

}  // namespace
