#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>
#include <sstream>
#include <string>

#include "common/TempDir.h"
#include "platform/core/MessageBox.h"
#include "platform/qt/MessageDialog.h"

namespace {

// Installs the dialog with the log variables set, and puts everything back afterwards.
class LoggedDialog {
 public:
  LoggedDialog(const std::string& log, const char* answer) {
    setenv("VELLORA_MSGBOX_LOG", log.c_str(), 1);
    if (answer) setenv("VELLORA_MSGBOX_ANSWER", answer, 1);
    else unsetenv("VELLORA_MSGBOX_ANSWER");
    previous_ = plat::SetMessageBoxHandler(nullptr);
    plat::InstallMessageDialog();
  }
  ~LoggedDialog() {
    plat::SetMessageBoxHandler(previous_);
    unsetenv("VELLORA_MSGBOX_LOG");
    unsetenv("VELLORA_MSGBOX_ANSWER");
  }

 private:
  plat::TMessageBoxHandler previous_;
};

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST(MessageLog, EachTextIsOneLineAndTheAnswerFitsTheBox) {
  struct Case {
    const char* answer;
    unsigned buttons;
    int expected;
  };
  const Case cases[] = {
      {"yes", plat::MB_YESNO, plat::IDYES},       {"no", plat::MB_YESNO, plat::IDNO},
      {"NO", plat::MB_YESNOCANCEL, plat::IDNO},   {"cancel", plat::MB_YESNOCANCEL, plat::IDCANCEL},
      {"cancel", plat::MB_OKCANCEL, plat::IDCANCEL}, {"cancel", plat::MB_YESNO, plat::IDYES},
      {"no", plat::MB_OK, plat::IDOK},            {"ok", plat::MB_YESNO, plat::IDYES},
      {nullptr, plat::MB_YESNO, plat::IDYES},     {nullptr, plat::MB_OKCANCEL, plat::IDOK},
      {"maybe", plat::MB_OK, plat::IDOK},
  };
  TTempDir dir;
  const std::string log = dir.Path("messages.log");
  std::string expected;
  int n = 0;
  for (const Case& c : cases) {
    LoggedDialog d(log, c.answer);
    const std::string text = "message " + std::to_string(n++) + "\nsecond line";
    EXPECT_EQ(plat::MessageBox(text, "caption", c.buttons | plat::MB_ICONQUESTION), c.expected)
        << (c.answer ? c.answer : "(none)") << " for buttons " << c.buttons;
    expected += text.substr(0, text.find('\n')) + "\\nsecond line\n";
    // Flushed at once: the file holds the line while the program still runs.
    EXPECT_EQ(ReadAll(log), expected);
  }
}

TEST(MessageLog, JapaneseTextsAreLoggedAsTheyStand) {
  TTempDir dir;
  const std::string log = dir.Path("sub.log");
  LoggedDialog d(log, "ok");
  plat::MessageBox("アプリケーションを終了しますか？");
  EXPECT_EQ(ReadAll(log), "アプリケーションを終了しますか？\n");
}

}  // namespace
