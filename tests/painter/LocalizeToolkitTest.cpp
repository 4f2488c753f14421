// The toolkit's own texts follow the painter's language, and the forms' Japanese font is the
// free proportional gothic when it is installed.
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QFontDatabase>
#include <QFontInfo>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QPushButton>

#include <gmock/gmock.h>

#include "PainterFixture.h"
#include "painter/EnvWin.h"
#include "painter/FormEventMul.h"
#include "painter/NewWin.h"
#include "painter/ResoWin.h"
#include "painter/SizeWin.h"
#include "platform/qt/Desktop.h"
#include "platform/qt/Translations.h"

namespace {

class LocalizeToolkit : public PainterFixture {
 protected:
  void SetUp() override {
    PainterFixture::SetUp();
    const QString dir = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    for (const char* qm : {"/qtbase_ja.qm", "/qtbase_fr.qm"})
      if (!QFile::exists(dir + qm))
        GTEST_SKIP() << "the toolkit's translations are not installed (Debian package qt6-translations-l10n)";
  }

  static std::string Cancel() { return plat::StandardButtonText(QDialogButtonBox::Cancel).toStdString(); }
  // The text of a button of the file dialog's own button box.
  static std::string FileDialogCancel(QFileDialog& d) {
    auto* box = d.findChild<QDialogButtonBox*>();
    QPushButton* b = box ? box->button(QDialogButtonBox::Cancel) : nullptr;
    return b ? b->text().toStdString() : "";
  }
  // Every form's unnamed Cancel button.
  static std::vector<QPushButton*> FormCancels() {
    return {NewWindow->BitBtn2, SizeWindow->BitBtn2, ResoWindow->BitBtn2, EnvWindow->BitBtn2};
  }
};

TEST_F(LocalizeToolkit, StandardButtonsAndDialogsSpeakTheChosenLanguage) {
  struct TCase {
    int Language;
    const char* Cancel;
    const char* OpenTitle;
  };
  // Made before the switches: they follow them.
  QDialogButtonBox box(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  QFileDialog files;
  files.setOption(QFileDialog::DontUseNativeDialog);
  for (const TCase& c : {TCase{1, "Annuler", "Ouvrir"}, TCase{0, "キャンセル", "開く"}, TCase{1, "Annuler", "Ouvrir"}}) {
    SCOPED_TRACE(c.Language);
    SetLanguage(c.Language);
    Settle();
    EXPECT_EQ(Cancel(), c.Cancel);
    QMessageBox message(QMessageBox::Question, "", "", QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    EXPECT_EQ(message.button(QMessageBox::Cancel)->text().toStdString(), c.Cancel);
    EXPECT_NE(message.button(QMessageBox::Yes)->text(), QString("&Yes"));
    EXPECT_EQ(box.button(QDialogButtonBox::Cancel)->text().toStdString(), c.Cancel);
    EXPECT_EQ(FileDialogCancel(files), c.Cancel);
    EXPECT_EQ(files.windowTitle().toStdString(), c.OpenTitle);
    for (QPushButton* b : FormCancels()) EXPECT_EQ(b->text().toStdString(), c.Cancel) << b->window()->objectName().toStdString();
  }
  SetLanguage(0);
}

TEST_F(LocalizeToolkit, ButtonsTheProgramNamesKeepTheirTexts) {
  TFormEventMul mul(VLMain);
  for (int language : {1, 0}) {
    SetLanguage(language);
    Settle();
    EXPECT_EQ(mul.BitBtn2->text().toStdString(), "Annuler");
    EXPECT_EQ(mul.BitBtn1->text(), plat::StandardButtonText(QDialogButtonBox::Ok));
  }
}

TEST_F(LocalizeToolkit, WithoutTranslationsTheToolkitStaysEnglish) {
  ASSERT_FALSE(plat::UseToolkitLanguage("xx"));
  Settle();
  EXPECT_EQ(Cancel(), "Cancel");
  EXPECT_EQ(SizeWindow->BitBtn2->text().toStdString(), "Cancel");
  SetLanguage(0);
  Settle();
  EXPECT_EQ(Cancel(), "キャンセル");
}

TEST(FormsFont, IsTheProportionalGothicWhenInstalled) {
  if (!QFontDatabase::families().contains(QString::fromLatin1(plat::kUiFontFamily)))
    GTEST_SKIP() << "IPA P Gothic is not installed (Debian package fonts-ipafont-gothic)";
  const QFont f = plat::UiFont();
  // Its own name, or its Japanese one in a Japanese locale.
  EXPECT_THAT(QFontInfo(f).family().toStdString(), testing::AnyOf(plat::kUiFontFamily, "IPA Pゴシック"));
  EXPECT_EQ(QFontInfo(f).pixelSize(), 12);
  // It has the forms' Japanese.
  EXPECT_TRUE(QFontMetrics(f).inFont(QChar(0x7B46)));  // 筆
}

}  // namespace
