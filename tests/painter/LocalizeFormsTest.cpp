// The text table on the forms as start-up makes them: every row of a built form reaches its
// one target, a switch relabels every target and back, the choice holds at the next start,
// and the other windows read the message texts when they show them.
#include <QAction>
#include <QMenu>
#include <QPlainTextEdit>
#include <QTextEdit>
#include <cstring>
#include <map>
#include <set>

#include "LocalizeEnv.h"
#include "PainterFixture.h"
#include "painter/PreviewWin.h"
#include "platform/core/Settings.h"

namespace {

// Forms still standing as stubs: their rows are skipped. A form whose rows all resolve is
// built, and must leave this list.
const std::set<std::string> kFormsNotBuilt = {};

class LocalizeForms : public PainterFixture {
 protected:
  // Rows of built forms, each with its form.
  std::vector<std::pair<const TLabelRow*, QWidget*>> BuiltRows() {
    std::vector<std::pair<const TLabelRow*, QWidget*>> rows;
    for (const TLabelRow& row : LabelRows())
      if (!kFormsNotBuilt.count(row.Form)) rows.emplace_back(&row, FindForm(row.Form));
    return rows;
  }

  // Lines of the short help memo; none while its window is not built.
  static std::optional<QStringList> HelpMemoLines() {
    QWidget* form = FindForm("TEzHelpWindow");
    if (!form) return std::nullopt;
    const auto memos = form->findChildren<QWidget*>("Memo1");
    if (memos.size() != 1) return std::nullopt;
    if (auto* plain = qobject_cast<QPlainTextEdit*>(memos[0])) return plain->toPlainText().split('\n');
    if (auto* rich = qobject_cast<QTextEdit*>(memos[0])) return rich->toPlainText().split('\n');
    return std::nullopt;
  }

  static const char* kKey;
};
const char* LocalizeForms::kKey = "Software\\Brenmoor\\Vellora";

TEST_F(LocalizeForms, EveryRowOfABuiltFormReachesExactlyOneTarget) {
  std::map<std::string, std::pair<int, int>> listed;  // form -> (rows, resolved)
  for (const TLabelRow& row : LabelRows()) {
    QWidget* form = FindForm(row.Form);
    SCOPED_TRACE(std::string(row.Form) + "." + row.Target);
    if (kFormsNotBuilt.count(row.Form)) {
      auto& [rows, resolved] = listed[row.Form];
      ++rows;
      resolved += form && ResolveLabelTarget(form, row) ? 1 : 0;
      continue;
    }
    ASSERT_NE(form, nullptr) << "no form of this class is open";
    QObject* target = ResolveLabelTarget(form, row);
    ASSERT_NE(target, nullptr) << "no single target of the row's kind";
    switch (row.What) {
      case lwMenuCaption: EXPECT_NE(qobject_cast<QAction*>(target), nullptr); break;
      case lwHint: EXPECT_TRUE(target->isWidgetType()); break;
      case lwCaptionPrefix: EXPECT_EQ(target, form); break;
      case lwCaption: EXPECT_TRUE(target->isWidgetType()); break;
    }
  }
  for (const auto& [form, counts] : listed)
    EXPECT_LT(counts.second, counts.first)
        << form << " is built now: take it out of kFormsNotBuilt in tests/painter/LocalizeFormsTest.cpp";
  // A row whose name is shared by two objects of its kind does not resolve.
  QWidget* main = FindForm("TVLMain");
  ASSERT_NE(main, nullptr);
  auto* twin = new QAction("x", main);
  twin->setObjectName("FileSaveItem");
  const TLabelRow* save = nullptr;
  for (const TLabelRow& row : LabelRows())
    if (std::strcmp(row.Target, "FileSaveItem") == 0) save = &row;
  ASSERT_NE(save, nullptr);
  EXPECT_EQ(ResolveLabelTarget(main, *save), nullptr);
  delete twin;
  EXPECT_NE(ResolveLabelTarget(main, *save), nullptr);
}

TEST_F(LocalizeForms, SwitchingRelabelsEveryTargetAndBack) {
  const auto rows = BuiltRows();
  ASSERT_FALSE(rows.empty());
  for (int round = 0; round < 3; ++round) {
    for (int language : {1, 0}) {
      SetLanguage(language);
      for (const auto& [row, form] : rows)
        EXPECT_EQ(LabelTargetText(form, *row), row->Text[language]) << row->Form << "." << row->Target;
      for (const TMessageRow& m : MessageRows()) EXPECT_EQ(*m.Message, m.Text[language]);
      const auto lines = HelpMemoLines();
      if (!kFormsNotBuilt.count("TEzHelpWindow")) {
        ASSERT_TRUE(lines.has_value()) << "the help window has no Memo1";
      }
      if (lines) {
        ASSERT_EQ(lines->size(), 28);
        for (int i = 0; i < 28; ++i) EXPECT_EQ(lines->at(i).toStdString(), HelpLines()[i].Text[language]);
      }
    }
  }
  // The two items whose captions carry a tab and their shortcut text came back whole.
  EXPECT_EQ(VLMain->ZoomInItem->text().toStdString(), "\u62E1\u5927\u8868\u793A\tCtrl+\"+\"");
  EXPECT_EQ(VLMain->ZoomOutItem->text().toStdString(), "\u7E2E\u5C0F\u8868\u793A\tCtrl+\"-\"");
  SetLanguage(1);
  EXPECT_EQ(VLMain->ZoomOutItem->text().toStdString(), "Zoom - \tCtrl+\"-\"");
  EXPECT_EQ(PreviewWindow->windowTitle().toStdString(), "Aper\u00E7u        ");
  // The language items are not in the table: they keep their blanks in both languages.
  EXPECT_EQ(VLMain->JapaneseItem->text().toStdString(), "Japonais    ");
  EXPECT_EQ(VLMain->EnglishItem->text().toStdString(), "Fran\u00E7ais   ");
}

TEST_F(LocalizeForms, TheChosenLanguageHoldsAtTheNextStart) {
  TLocaleEnv env;
  TLocaleEnv::Set("LANG", "ja_JP.UTF-8");
  VLMain->FirstActivate();
  EXPECT_TRUE(VLMain->JapaneseItem->isChecked());
  VLMain->EnglishItem->trigger();
  EXPECT_TRUE(VLMain->EnglishItem->isChecked());
  EXPECT_FALSE(VLMain->JapaneseItem->isChecked());
  EXPECT_EQ(VLMain->File1->title().toStdString(), "Fichier ");
  VLMain->close();
  {
    plat::TRegistry reg;
    ASSERT_TRUE(reg.OpenKey(kKey, false));
    EXPECT_EQ(reg.ReadBool("Japanese"), std::optional<bool>(false));
  }
  // The next start: a fresh program's texts, then its first activation.
  DestroyForms();
  Settle();
  SetLanguage(0);
  CreateForms();
  EXPECT_EQ(VLMain->File1->title().toStdString(), "\uFF8C\uFF67\uFF72\uFF99(&F)");
  VLMain->FirstActivate();
  EXPECT_EQ(VLMain->File1->title().toStdString(), "Fichier ");
  EXPECT_TRUE(VLMain->EnglishItem->isChecked());
  EXPECT_FALSE(VLMain->JapaneseItem->isChecked());
  EXPECT_EQ(PreviewWindow->windowTitle().toStdString(), "Aper\u00E7u        ");
  EXPECT_EQ(msgQuit, "Quitter le logiciel sans sauver ?  ");
}

TEST_F(LocalizeForms, WithoutAStoredChoiceTheFirstStartFollowsTheLocale) {
  struct TCase {
    const char* Lang;
    bool English;
  };
  for (const TCase& c : {TCase{"fr_FR.UTF-8", true}, TCase{"ja_JP.UTF-8", false}, TCase{nullptr, false}}) {
    SCOPED_TRACE(c.Lang ? c.Lang : "unset");
    TLocaleEnv env;
    TLocaleEnv::Set("LANG", c.Lang);
    DestroyForms();
    Settle();
    {
      plat::TRegistry reg;
      ASSERT_TRUE(reg.OpenKey(kKey, true));
      reg.DeleteValue("Japanese");
    }
    SetLanguage(0);
    CreateForms();
    VLMain->FirstActivate();
    EXPECT_EQ(VLMain->EnglishItem->isChecked(), c.English);
    EXPECT_EQ(VLMain->JapaneseItem->isChecked(), !c.English);
    EXPECT_EQ(CurrentLanguage(), c.English ? 1 : 0);
    EXPECT_EQ(VLMain->Help1->title().toStdString(), c.English ? "Aide    " : "\uFF8D\uFF99\uFF8C\uFF9F(&H)");
  }
}

TEST_F(LocalizeForms, AClosingPaperWindowAsksInTheChosenLanguage) {
  TDrawWindow* w = MakePaper(40, 30);
  VLMain->EnglishItem->trigger();
  Messages.Answer = plat::IDNO;
  Messages.Messages.clear();
  VLMain->FileCloseItem->trigger();
  Settle();
  ASSERT_EQ(Messages.Messages.size(), 1u);
  EXPECT_EQ(Messages.Messages[0].Text, "Fermer la fen\u00EAtre ?   ");
  // Declined: the window stays.
  ASSERT_EQ(VLMain->DrawWindows().size(), 1u);
  EXPECT_EQ(VLMain->DrawWindows()[0], w);
  VLMain->JapaneseItem->trigger();
  Messages.Messages.clear();
  VLMain->FileCloseItem->trigger();
  Settle();
  ASSERT_EQ(Messages.Messages.size(), 1u);
  EXPECT_EQ(Messages.Messages[0].Text, "\u672C\u5F53\u306B\u9589\u3058\u307E\u3059\u304B\uFF1F");
}

}  // namespace
