// The text table itself: exact bytes of the rows that are easy to get wrong, the switch of the
// message texts, and the language chosen at the first activation.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "common/TempDir.h"
#include "LocalizeEnv.h"
#include "painter/Localize.h"
#include "platform/core/Settings.h"

namespace {

const TLabelRow* FindRow(const char* form, const char* target) {
  for (const TLabelRow& row : LabelRows())
    if (std::strcmp(row.Form, form) == 0 && std::strcmp(row.Target, target) == 0) return &row;
  return nullptr;
}

const TMessageRow* FindMessage(const std::string* message) {
  for (const TMessageRow& row : MessageRows())
    if (row.Message == message) return &row;
  return nullptr;
}

struct TExpectedLabel {
  const char* Form;
  const char* Target;
  std::string Japanese, Second;
};

TEST(LocalizeTable, RowsThatAreEasyToGetWrongHoldTheirExactBytes) {
  const std::vector<TExpectedLabel> cases = {
      // A tab, then the shortcut text in double quotes; "Zoom - " keeps its blank.
      {"TVLMain", "ZoomInItem", "\xE6\x8B\xA1\xE5\xA4\xA7\xE8\xA1\xA8\xE7\xA4\xBA\tCtrl+\"+\"", "Zoom +\tCtrl+\"+\""},
      {"TVLMain", "ZoomOutItem", "\xE7\xB8\xAE\xE5\xB0\x8F\xE8\xA1\xA8\xE7\xA4\xBA\tCtrl+\"-\"", "Zoom - \tCtrl+\"-\""},
      // Half-width katakana in the menu titles.
      {"TVLMain", "File1", "\uFF8C\uFF67\uFF72\uFF99(&F)", "Fichier "},
      {"TVLMain", "Window1", "\uFF73\uFF68\uFF9D\uFF84\uFF9E\uFF73(&W)", "Fen\u00EAtre   "},
      {"TVLMain", "NetworkItem", "\uFF88\uFF6F\uFF84\uFF9C\uFF70\uFF78(&N)", "R\u00E9seau     "},
      {"TVLMain", "Help1", "\uFF8D\uFF99\uFF8C\uFF9F(&H)", "Aide    "},
      {"TVLMain", "WindowArrangeItem", "\uFF71\uFF72\uFF7A\uFF9D\u306E\u6574\u5217(&A)", "Organiser  "},
      {"TVLMain", "Rotate180Item", "\u8868\u793A\u90E8\u5206\u306E180\u5EA6\u56DE\u8EE2",
       "Rotation 180\u00B0    (Calque actif) "},
      {"TVLMain", "WindowTileItem", "\u4E26\u3079\u3066\u8868\u793A(&C)", "Mosa\u00EEque"},
      {"TPreviewWindow", "", "\u30D7\u30EC\u30D3\u30E5\u30FC\u8868\u793A", "Aper\u00E7u        "},
      {"TVLMain", "PreviewWinItem", "\u30D7\u30EC\u30D3\u30E5\u30FC\u8868\u793A", "Aper\u00E7u            "},
      {"TPenWindow2", "CaptionPrefix", "\u7B46\u60C5\u5831 : ", "Info Outil: "},
      // Both labels of a pair carry one text.
      {"TNetWindow", "LabelClientUser", "\u30E6\u30FC\u30B6\u540D", "Nom     "},
      {"TNetWindow", "LabelServerUser", "\u30E6\u30FC\u30B6\u540D", "Nom     "},
      {"TNetWindow", "LabelNetHeight", "\u9AD8\u3055", "Hauteu"},
      {"TNetWindow", "ButtonStandby", "\u5F85\u6A5F", "En Atten"},
      {"TNetWindow", "LabelLayer", "\u30EC\u30A4\u30E4\u6570", "NbreCalq"},
      {"TNetWindow", "LabelServerPassword", "\u30D1\u30B9\u30EF\u30FC\u30C9", "Motdepas"},
      {"TResoWindow", "LabelCaution",
       "(\u6CE8) \u4E3B\u306B\u3001\u753B\u50CF\u306E\u7E2E\u5C0F\u306B\u4F7F\u3063\u3066\u304F\u3060\u3055\u3044\u3002",
       std::string(24, ' ')},
      {"TSizeWindow", "RadioButton9", "\u53F3\u4E0B\u5BC4\u305B", "Bas-Droite "},
      {"TColorWindow", "PaintBox3",
       "\u826F\u304F\u4F7F\u3046\u8272\u3092\u4FDD\u5B58\u51FA\u6765\u307E\u3059\u3002\u5DE6\u30AF\u30EA\u30C3\u30AF"
       "\u3067\u53D6\u308A\u51FA\u3057\u3001\u53F3\u30AF\u30EA\u30C3\u30AF\u3067\u73FE\u5728\u306E\u8272\u3092\u30B9"
       "\u30C8\u30C3\u30AF\u51FA\u6765\u307E\u3059\u3002",
       "Vous pouvez prendre une couleur et la stocker pour le pinceau      ."},
  };
  for (const TExpectedLabel& c : cases) {
    SCOPED_TRACE(std::string(c.Form) + "." + c.Target);
    const TLabelRow* row = FindRow(c.Form, c.Target);
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->Text[0], c.Japanese);
    EXPECT_EQ(row->Text[1], c.Second);
  }
  EXPECT_EQ(FindRow("TPenWindow2", "CaptionPrefix")->What, lwCaptionPrefix);
  EXPECT_EQ(FindRow("TColorWindow", "PaintBox3")->What, lwHint);
  EXPECT_EQ(FindRow("TVLMain", "File1")->What, lwMenuCaption);
  EXPECT_EQ(FindRow("TPreviewWindow", "")->What, lwCaption);
}

TEST(LocalizeTable, TableSizesAndOrder) {
  EXPECT_EQ(LabelRows().size(), 110u);
  EXPECT_EQ(HelpLines().size(), 28u);
  // The program's 35 messages in their order, then the ones added since (each with both texts).
  const std::vector<const std::string*> messages = {
      &msgFileNotFound,    &msgUnknownFormat,   &msgEventsNotExportable, &msgClipboardNotBitmap,
      &msgPlaybackDone,    &msgPlaybackStopped, &msgPlaying,             &msgLayerMemory,
      &msgQuit,            &msgEventsExported,  &msgImageSaved,          &msgDangerousData,
      &msgScreenCaptured,  &msgTitleResize,     &msgTitleResolution,     &msgCloseWindow,
      &msgNoUndo,          &msgConfigSaved,     &msgPressureSizeOn,      &msgPressureSizeOff,
      &msgPressureAlphaOn, &msgPressureAlphaOff, &msgSmoothOn,           &msgSmoothOff,
      &msgMinSize,         &msgMaxWidth,        &msgEffect,              &msgEnvEffect,
      &msgPenetration,     &msgPressureCurve,   &msgBrushPen,            &msgBrushWatercolor,
      &msgBrushOldBlur,    &msgBrushEraser,     &msgBrushNewBlur};
  ASSERT_EQ(messages.size(), 35u);
  const std::set<const std::string*> added = {&msgSaveFailed,     &msgMagnificationTooLarge, &msgPortInUse,
                                              &msgPortNotOpened,  &msgFileDamaged,           &msgAutosaveFailed,
                                              &msgAutosaveKept,   &msgPictureTooLarge,       &msgFileUnreadable};
  const auto rows = MessageRows();
  ASSERT_GE(rows.size(), messages.size());
  for (size_t i = 0; i < messages.size(); ++i) EXPECT_EQ(rows[i].Message, messages[i]) << i;
  std::set<const std::string*> seen(messages.begin(), messages.end());
  for (size_t i = messages.size(); i < rows.size(); ++i) {
    EXPECT_TRUE(added.count(rows[i].Message)) << "message row " << i << " is new: add it to `added` here";
    EXPECT_TRUE(seen.insert(rows[i].Message).second) << i;
    EXPECT_STRNE(rows[i].Text[0], "");
    EXPECT_STRNE(rows[i].Text[1], "");
  }
  EXPECT_EQ(rows.size(), messages.size() + added.size());
  // Rows run from the main window's File menu to the resize dialog's anchors.
  EXPECT_STREQ(LabelRows().front().Target, "File1");
  EXPECT_STREQ(LabelRows().back().Target, "TabSheet1");
  EXPECT_STREQ(LabelRows().back().Form, "TEzHelpWindow");
  // Every (form, target, kind) names one row.
  std::set<std::string> keys;
  for (const TLabelRow& row : LabelRows())
    EXPECT_TRUE(keys.insert(std::string(row.Form) + "/" + row.Target).second) << row.Form << " " << row.Target;
}

TEST(LocalizeTable, HelpLinesKeepQuotesBlanksAndEmptyLines) {
  const auto help = HelpLines();
  ASSERT_EQ(help.size(), 28u);
  for (size_t i : {4u, 8u, 11u, 17u, 26u}) {
    EXPECT_STREQ(help[i].Text[0], "") << i;
    EXPECT_STREQ(help[i].Text[1], "") << i;
  }
  EXPECT_EQ(std::string(help[0].Text[1]), "[Ctrl][+] / [F5]  \"Zoom +\"");
  EXPECT_EQ(std::string(help[1].Text[1]), "[Ctrl][-] / [F6]  \"Zoom -\" ");
  EXPECT_EQ(std::string(help[7].Text[1]), "[Ctrl][Z] \"Annuler (Max 8fois/calque)");
  // E and R are described the other way round in the second language; kept as it stands.
  EXPECT_EQ(std::string(help[23].Text[1]), "[E] \"Outil/ Aller vers reglage droite\"  ");
  EXPECT_EQ(std::string(help[24].Text[1]), "[R] \"Outil/ Aller vers reglage gauche\" ");
  EXPECT_EQ(std::string(help[18].Text[0]),
            "[Tab]  \u300E\u30C4\u30FC\u30EB\u30A6\u30A3\u30F3\u30C9\u30A6\u306E\u8868\u793A\u30FB\u975E\u8868\u793A"
            "\u5207\u308A\u66FF\u3048\u300F");
  EXPECT_EQ(std::string(help[27].Text[1]), "[Ctrl+ Bouton calque visible]\"Configurer calque inverse\"    ");
}

TEST(LocalizeTable, SetLanguageFillsEveryMessageFromItsRow) {
  struct TCase {
    std::string* Message;
    std::string Japanese, Second;
  };
  const std::vector<TCase> cases = {
      {&msgPlaying, "\u30A4\u30F3\u30DD\u30FC\u30C8\u30D5\u30A1\u30A4\u30EB\u518D\u751F\u4E2D", "Lecture du event     "},
      {&msgCloseWindow, "\u672C\u5F53\u306B\u9589\u3058\u307E\u3059\u304B\uFF1F", "Fermer la fen\u00EAtre ?   "},
      {&msgConfigSaved, "\u300C\u8A2D\u5B9A\u3092\u4FDD\u5B58\u3057\u307E\u3057\u305F\u300D", "\"Config sauv\u00E9e\""},
      {&msgBrushOldBlur, "\u300E\u65E7\u307C\u304B\u3057\u300F", "\"Blur (former)\""},
      {&msgSmoothOn, "\u7E01\u3092\u6ED1\u3089\u304B\u306B\u3059\u308B", "Activer Adoucir "},
      {&msgSmoothOff, "\u7E01\u3092\u6ED1\u3089\u304B\u306B\u3057\u306A\u3044", "D\u00E9sactiver Adoucir "},
      {&msgClipboardNotBitmap,
       "\u30AF\u30EA\u30C3\u30D7\u30DC\u30FC\u30C9\u306E\u30C7\u30FC\u30BF\u306F\u30D3\u30C3\u30C8\u30DE\u30C3\u30D7"
       "\u5F62\u5F0F\u3067\u306F\u3042\u308A\u307E\u305B\u3093\u3002",
       "Clip board's data is not BITAMP format"},
      {&msgTitleResolution, "\u89E3\u50CF\u5EA6\u5909\u66F4", "Dimension        "},
      {&msgMaxWidth, "\u6700\u5927\u7B46\u5E45  ", "Rayon      "},
      {&msgSaveFailed, "\u4FDD\u5B58\u3067\u304D\u307E\u305B\u3093\u3067\u3057\u305F\uFF01",
       "Impossible d'enregistrer le fichier !"},
  };
  for (int round = 0; round < 3; ++round) {
    SetLanguage(1);
    EXPECT_EQ(CurrentLanguage(), 1);
    for (const TMessageRow& row : MessageRows()) EXPECT_EQ(*row.Message, row.Text[1]);
    for (const TCase& c : cases) EXPECT_EQ(*c.Message, c.Second);
    SetLanguage(0);
    EXPECT_EQ(CurrentLanguage(), 0);
    for (const TMessageRow& row : MessageRows()) {
      EXPECT_EQ(*row.Message, row.Text[0]);
      EXPECT_FALSE(row.Message->empty());
    }
    for (const TCase& c : cases) EXPECT_EQ(*c.Message, c.Japanese);
  }
  // Only 1 selects the second language.
  for (int other : {-1, 2, 255}) {
    SetLanguage(1);
    SetLanguage(other);
    EXPECT_EQ(CurrentLanguage(), 0) << other;
    EXPECT_EQ(msgSmoothOff, FindMessage(&msgSmoothOff)->Text[0]) << other;
  }
}

TEST(LocalizeStart, SystemLanguageFromTheLocaleVariables) {
  struct TCase {
    const char *All, *Messages, *Lang;
    int Language;
  };
  const TCase cases[] = {
      {nullptr, nullptr, "ja_JP.UTF-8", 0},
      {nullptr, nullptr, "fr_FR.UTF-8", 1},
      {nullptr, nullptr, "en_US.UTF-8", 1},
      {nullptr, nullptr, "C.UTF-8", 0},
      {nullptr, nullptr, "C", 0},
      {nullptr, nullptr, "POSIX", 0},
      {nullptr, nullptr, nullptr, 0},
      {"ja_JP.UTF-8", nullptr, "fr_FR.UTF-8", 0},
      {nullptr, "fr_FR.UTF-8", "ja_JP.UTF-8", 1},
      {"", "", "ja_JP.eucJP", 0},  // empty variables are passed over
      {"de_DE.UTF-8", "ja_JP.UTF-8", "", 1},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(std::string(c.All ? c.All : "-") + " " + (c.Messages ? c.Messages : "-") + " " +
                 (c.Lang ? c.Lang : "-"));
    TLocaleEnv env;
    TLocaleEnv::Set("LC_ALL", c.All);
    TLocaleEnv::Set("LC_MESSAGES", c.Messages);
    TLocaleEnv::Set("LANG", c.Lang);
    EXPECT_EQ(LanguageOfSystemName(SystemLanguageName()), c.Language);
    TTempSettings settings;
    plat::TRegistry reg;
    ASSERT_TRUE(reg.OpenKey("Software\\Brenmoor\\Vellora", true));
    EXPECT_EQ(StartLanguage(reg), c.Language);
  }
  TLocaleEnv env;
  TLocaleEnv::Set("LANG", "ja_JP.UTF-8");
  EXPECT_EQ(SystemLanguageName(), std::optional<std::string>("JPN"));
}

TEST(LocalizeStart, StoredChoiceWinsOverTheSystem) {
  struct TCase {
    const char* Lang;
    bool Japanese;
    int Language;
  };
  for (const TCase& c : {TCase{"fr_FR.UTF-8", true, 0}, TCase{"ja_JP.UTF-8", false, 1}, TCase{nullptr, false, 1}}) {
    TLocaleEnv env;
    TLocaleEnv::Set("LANG", c.Lang);
    TTempSettings settings;
    plat::TRegistry reg;
    ASSERT_TRUE(reg.OpenKey("Software\\Brenmoor\\Vellora", true));
    reg.WriteBool("Japanese", c.Japanese);
    EXPECT_EQ(StartLanguage(reg), c.Language);
  }
}

}  // namespace
