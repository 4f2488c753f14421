// The real painter under X with a window manager: the toolkit's own dialogs speak the language
// the painter starts in, and the forms' font is the proportional gothic where it is installed.
#include <gtest/gtest.h>

#include <QFontDatabase>
#include <algorithm>
#include <fstream>

#include "common/RealPainter.h"
#include "common/TempDir.h"
#include "platform/qt/Desktop.h"

namespace {

std::vector<std::string> Lines(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream f(path);
  for (std::string line; std::getline(f, line);) lines.push_back(line);
  return lines;
}

bool Has(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

TEST(DesktopLanguageSmoke, TheFileDialogAndTheFontFollowTheStartLanguage) {
  if (const std::string why = vtest::TRealPainter::Missing(); !why.empty()) GTEST_SKIP() << why;
  if (!std::filesystem::exists(vtest::TRealPainter::Program())) GTEST_SKIP() << "vellpaint was not built";
  vtest::TXvfb server(vtest::FindProgram("Xvfb"), "1600x1000x24", vtest::TDesktopKind::Managed);
  if (!server.Managed()) GTEST_SKIP() << server.WhyNotManaged();
  const bool gothic = QFontDatabase::families().contains(QString::fromLatin1(plat::kUiFontFamily));

  struct TCase {
    const char* Locale;
    const char* Toolkit;
    const char* OpenTitle;
  };
  // No stored choice: the locale decides the language at the first start.
  for (const TCase& c : {TCase{"ja_JP.UTF-8", "ja", "開く"}, TCase{"fr_FR.UTF-8", "fr", "Ouvrir"}}) {
    SCOPED_TRACE(c.Locale);
    TTempDir dir;
    vtest::TRealPainter p(server, dir.Dir());
    const std::string log = dir.Path("desktop.log");
    p.Env.insert("VELLORA_DESKTOP_LOG", QString::fromStdString(log));
    p.Env.insert("LC_ALL", c.Locale);
    p.Env.insert("LANG", c.Locale);
    ASSERT_TRUE(p.Start()) << p.Error();
    const std::string loaded = std::string("toolkit ") + c.Toolkit + " loaded";
    ASSERT_TRUE(QTest::qWaitFor([&] { return Has(Lines(log), loaded); }, 20000)) << "the log has not: " << loaded;
    // The family under its own name or, in a Japanese locale, its Japanese one.
    if (gothic) {
      EXPECT_TRUE(Has(Lines(log), std::string("font ") + plat::kUiFontFamily) || Has(Lines(log), "font IPA Pゴシック"))
          << ::testing::PrintToString(Lines(log));
    }

    // The open dialog's title is the toolkit's, in that language.
    std::string dialog;
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
          p.Xdo({"windowactivate", "--sync", QString::fromStdString(p.MainWindow())});
          p.Xdo({"key", "ctrl+o"});
          return QTest::qWaitFor([&] { return !(dialog = p.FindWindow(c.OpenTitle)).empty(); }, 3000);
        },
        20000))
        << "no window titled " << c.OpenTitle;
    if (!dialog.empty()) {
      p.Xdo({"windowactivate", "--sync", QString::fromStdString(dialog)});
      p.Xdo({"key", "Escape"});
      EXPECT_TRUE(QTest::qWaitFor([&] { return p.FindWindow(c.OpenTitle).empty(); }, 10000));
    }
    EXPECT_TRUE(p.Messages().empty());
    p.Stop();
  }
}

}  // namespace
