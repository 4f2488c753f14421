// The real program on an X display: a Japanese start, the switch to French in the Help menu by
// keyboard, and the next start in French, seen in the caption of the new-paper dialog.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTest>
#include <filesystem>
#include <functional>
#include <set>
#include <string>

#include "common/TempDir.h"
#include "platform/core/Settings.h"

#include "common/Xvfb.h"

namespace {

const std::string kPainter = std::string(VELL_BINARY_DIR) + "/painter/vellpaint";

bool WaitFor(const std::function<bool()>& done, int ms) {
  QElapsedTimer t;
  t.start();
  while (!done()) {
    if (t.elapsed() > ms) return false;
    QTest::qWait(100);
  }
  return true;
}

class LocalizeReal : public ::testing::Test {
 protected:
  void SetUp() override {
    xvfb_ = vtest::FindProgram("Xvfb");
    xdotool_ = vtest::FindProgram("xdotool");
    if (xvfb_.empty() || xdotool_.empty())
      GTEST_SKIP() << "Xvfb and xdotool are needed (Debian packages xvfb, xdotool): the real program is not tried";
    ASSERT_TRUE(std::filesystem::exists(kPainter)) << kPainter;
    server_ = std::make_unique<vtest::TXvfb>(xvfb_);
    if (server_->Display().empty()) GTEST_SKIP() << "Xvfb did not start";
    std::filesystem::create_directory(dir_.Path("run"));
    std::filesystem::permissions(dir_.Path("run"), std::filesystem::perms::owner_all);
    env_ = QProcessEnvironment::systemEnvironment();
    env_.insert("DISPLAY", QString::fromStdString(server_->Display()));
    env_.insert("QT_QPA_PLATFORM", "xcb");
    env_.insert("XDG_RUNTIME_DIR", QString::fromStdString(dir_.Path("run")));
    env_.insert("XDG_DATA_HOME", QString::fromStdString(dir_.Path("data")));
    env_.insert("VELLORA_SETTINGS_DIR", QString::fromStdString(settings_.Dir()));
    env_.insert("VELLORA_MSGBOX_LOG", QString::fromStdString(dir_.Path("messages.log")));
    env_.insert("VELLORA_MSGBOX_ANSWER", "no");
    env_.remove("LC_ALL");
    env_.remove("LC_MESSAGES");
    env_.insert("LANG", "ja_JP.UTF-8");
  }

  std::string Xdotool(const QStringList& args) {
    // A window destroyed while a search walks the window tree ends it on an X error, with no
    // list at all: that is no answer, and the list is asked for again.
    for (;;) {
      QProcess p;
      p.setProcessEnvironment(env_);
      p.start(QString::fromStdString(xdotool_), args);
      if (!p.waitForFinished(20000)) return {};
      if (args.front() == "search" && vtest::IsCutShortByXError(p.readAllStandardError().toStdString())) continue;
      return p.readAllStandardOutput().toStdString();
    }
  }
  // The first visible window whose whole title is `title`, or an empty text.
  // (Titles are compared here: xdotool's own pattern match misses titles outside Latin-1.)
  std::string Window(const std::string& title) {
    const QString ids = QString::fromStdString(Xdotool({"search", "--onlyvisible", "--name", "."}));
    for (const QString& id : ids.split('\n', Qt::SkipEmptyParts)) {
      std::string name = Xdotool({"getwindowname", id});
      if (!name.empty() && name.back() == '\n') name.pop_back();
      if (name == title) return id.toStdString();
    }
    return {};
  }
  // Keys to the main window. The focus it gets first activates the program, so a first
  // activation not yet run runs before the keys are taken.
  void Keys(const QStringList& keys) {
    const std::string main = Window("Vellora1.1b72 FR");
    ASSERT_FALSE(main.empty());
    Xdotool({"windowfocus", "--sync", QString::fromStdString(main)});
    Xdotool(QStringList{"key"} + keys);
  }
  // The program's mapped windows, popup menus included.
  std::set<std::string> Mapped(const QProcess& painter) {
    std::set<std::string> ids;
    const QString out = QString::fromStdString(
        Xdotool({"search", "--onlyvisible", "--pid", QString::number(painter.processId())}));
    for (const QString& id : out.split('\n', Qt::SkipEmptyParts)) ids.insert(id.toStdString());
    return ids;
  }
  // A menu opened by `keys` on the main window, then `inMenu` once it is on the screen: keys
  // sent before would go to the window under it.
  void MenuKeys(const QProcess& painter, const QStringList& keys, const QStringList& inMenu) {
    const std::set<std::string> before = Mapped(painter);
    Keys(keys);
    const bool opened = WaitFor(
        [&] {
          for (const std::string& id : Mapped(painter))
            if (!before.count(id)) return true;
          return false;
        },
        20000);
    ASSERT_TRUE(opened) << "no menu opened";
    Xdotool(QStringList{"key"} + inMenu);
  }
  // The new-paper dialog opens with the given title and is cancelled.
  void ExpectNewPaperTitle(const std::string& title) {
    Keys({"ctrl+n"});
    EXPECT_TRUE(WaitFor([&] { return !Window(title).empty(); }, 20000)) << "no dialog titled \"" << title << "\"";
    Xdotool({"key", "Escape"});
    EXPECT_TRUE(WaitFor([&] { return Window(title).empty(); }, 20000));
  }
  void Start(QProcess& painter) {
    painter.setProcessEnvironment(env_);
    painter.start(QString::fromStdString(kPainter), {});
    ASSERT_TRUE(painter.waitForStarted(20000));
    ASSERT_TRUE(WaitFor([&] { return !Window("Vellora1.1b72 FR").empty(); }, 30000))
        << painter.readAllStandardError().toStdString();
  }
  void Quit(QProcess& painter) {
    Keys({"ctrl+q"});
    if (!painter.waitForFinished(30000)) {
      painter.kill();
      painter.waitForFinished(10000);
      FAIL() << "the program did not end on Ctrl+Q";
    }
  }

  std::string xvfb_, xdotool_;
  std::unique_ptr<vtest::TXvfb> server_;
  TTempDir dir_;
  TTempSettings settings_;  // the program's store, read here too
  QProcessEnvironment env_;
};

TEST_F(LocalizeReal, FrenchChosenInTheHelpMenuHoldsAtTheNextStart) {
  {
    QProcess painter;
    Start(painter);
    ExpectNewPaperTitle("\u65B0\u898F\u4F5C\u6210");
    // Help menu: its first item, then the two language items.
    MenuKeys(painter, {"alt+h"}, {"Down", "Down", "Return"});
    ExpectNewPaperTitle("Nou");
    Quit(painter);
  }
  {
    plat::TRegistry reg;
    ASSERT_TRUE(reg.OpenKey("Software\\Brenmoor\\Vellora", false));
    EXPECT_EQ(reg.ReadBool("Japanese"), std::optional<bool>(false));
  }
  {
    QProcess painter;
    Start(painter);
    ExpectNewPaperTitle("Nou");
    Quit(painter);
  }
}

}  // namespace
