// The network window's controls, settings and the session papers of each layer layout.
#include <filesystem>
#include <fstream>
#include <regex>

#include "NetTestUtil.h"
#include "platform/core/Settings.h"

namespace {

using NetWindowForm = NetFixture;

const char* const kKey = "Software\\Brenmoor\\Vellora";

TEST_F(NetWindowForm, ControlsHaveTheirNamesLimitsAndDefaults) {
  // At least its design size: it grows where its texts need more.
  EXPECT_GE(NetWindow->width(), 299);
  EXPECT_GE(NetWindow->height(), 99);
  EXPECT_EQ(NetWindow->PageControlCS->currentWidget(), NetWindow->TabSheet2);
  EXPECT_EQ(NetWindow->EditServerUser->text(), "HOTE");
  EXPECT_EQ(NetWindow->EditClientUser->text(), "CLIENT");
  EXPECT_EQ(NetWindow->EditIP->text(), "127.0.0.1");
  EXPECT_EQ(NetWindow->EditServerUser->maxLength(), 14);
  EXPECT_EQ(NetWindow->EditClientUser->maxLength(), 14);
  EXPECT_EQ(NetWindow->EditServerPassword->echoMode(), QLineEdit::Password);
  EXPECT_EQ(NetWindow->EditClientPassword->echoMode(), QLineEdit::Password);
  struct Spin {
    QSpinBox* box;
    int lo, hi, value;
  };
  for (const Spin& s : {Spin{NetWindow->SpinEditNetWidth, 1, 3000, 600}, Spin{NetWindow->SpinEditNetHeight, 1, 3000, 600},
                        Spin{NetWindow->SpinEditPort, 0, 65535, 9001}, Spin{NetWindow->SpinEditMaxMember, 2, 4, 3},
                        Spin{NetWindow->SpinEditLayer, 1, 4, 2}}) {
    SCOPED_TRACE(s.box->objectName().toStdString());
    EXPECT_EQ(s.box->minimum(), s.lo);
    EXPECT_EQ(s.box->maximum(), s.hi);
    EXPECT_EQ(s.box->value(), s.value);
  }
  // Below the chat window, at its left edge.
  EXPECT_EQ(NetWindow->x(), ChatWindow->x());
  EXPECT_EQ(NetWindow->y(), ChatWindow->frameGeometry().bottom() + 1 + 10);
}

TEST_F(NetWindowForm, TypedTextKeepsToWhatEachBoxTakes) {
  QLineEdit* ip = NetWindow->EditIP;
  ip->clear();
  QTest::keyClicks(ip, "19a2.16b8.x0.1");
  EXPECT_EQ(ip->text(), "192.168.0.1");
  QTest::keyClick(ip, Qt::Key_Backspace);
  EXPECT_EQ(ip->text(), "192.168.0.");
  ip->clear();
  QTest::keyClicks(ip, "1234567890.1234567");
  EXPECT_EQ(ip->text(), "1234567890.1234");  // 15 characters
  for (QLineEdit* name : {NetWindow->EditServerUser, NetWindow->EditClientUser}) {
    name->clear();
    QTest::keyClicks(name, "ABCDEFGHIJKLMNOP");
    EXPECT_EQ(name->text(), "ABCDEFGHIJKLMN");
  }
}

TEST_F(NetWindowForm, SettingsAreReadClampedAndWrittenWithoutPasswords) {
  NetWindow->EditIP->setText("10.0.0.7");
  NetWindow->EditClientUser->setText("ALICE");
  NetWindow->EditServerUser->setText("BOB");
  NetWindow->EditClientPassword->setText("secret1");
  NetWindow->EditServerPassword->setText("secret2");
  NetWindow->SpinEditNetWidth->setValue(800);
  NetWindow->SpinEditNetHeight->setValue(700);
  NetWindow->SpinEditPort->setValue(9100);
  delete NetWindow;  // as at the program's end
  NetWindow = nullptr;
  {
    plat::TRegistry reg;
    ASSERT_TRUE(reg.OpenKey(kKey, false));
    EXPECT_EQ(reg.ReadString("NetIP"), "10.0.0.7");
    EXPECT_EQ(reg.ReadString("NetClientUser"), "ALICE");
    EXPECT_EQ(reg.ReadString("NetServerUser"), "BOB");
    EXPECT_EQ(reg.ReadInteger("NetWidth"), 800);
    EXPECT_EQ(reg.ReadInteger("NetHeight"), 700);
    // Nothing else of this window is kept: no password, no port.
    EXPECT_FALSE(reg.ValueExists("NetPort"));
    std::string all;
    for (const char* name : {"NetIP", "NetClientUser", "NetServerUser"}) all += reg.ReadString(name).value_or("");
    EXPECT_EQ(all.find("secret"), std::string::npos);
    reg.WriteInteger("NetWidth", 9999);
    reg.WriteInteger("NetHeight", 0);
  }
  NetWindow = new TNetWindow(VLMain);
  EXPECT_EQ(NetWindow->SpinEditNetWidth->value(), 3000);
  EXPECT_EQ(NetWindow->SpinEditNetHeight->value(), 1);
  EXPECT_EQ(NetWindow->EditIP->text(), "10.0.0.7");
  EXPECT_EQ(NetWindow->EditClientUser->text(), "ALICE");
  EXPECT_TRUE(NetWindow->EditClientPassword->text().isEmpty());
  EXPECT_EQ(NetWindow->SpinEditPort->value(), 9001);
}

TEST_F(NetWindowForm, TheHostsPaperHasEveryMembersLayers) {
  struct Layout {
    int members, layers;
  };
  for (const Layout& l : {Layout{4, 2}, Layout{2, 1}, Layout{4, 4}}) {
    SCOPED_TRACE(std::to_string(l.members) + " x " + std::to_string(l.layers));
    NetWindow->SpinEditPort->setValue(0);
    NetWindow->SpinEditMaxMember->setValue(l.members);
    NetWindow->SpinEditLayer->setValue(l.layers);
    NetWindow->SpinEditNetWidth->setValue(64);
    NetWindow->SpinEditNetHeight->setValue(48);
    NetWindow->ButtonStandby->click();
    TDrawWindow* w = NetWindow->SessionPaper();
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->Paper->Layers->LastIndex() + 1, l.members * l.layers);
    EXPECT_EQ(w->Paper->Layers->ActiveIndex(), 0);
    EXPECT_EQ(w->Paper->Layers->Flow().SlotCount(), 4);
    EXPECT_EQ(Bytes(*w->Log).size(), 6u + 3u * (l.members * l.layers - 1));
    VLMain->CloseAllPapers(false);
    EXPECT_TRUE(Unlocked());
  }
}

// The transport stays below the painter: no file of session/ includes a painter header.
TEST(SessionLayer, IncludesNothingFromThePainter) {
  namespace fs = std::filesystem;
  const fs::path root = fs::path(VELL_SOURCE_DIR) / "session";
  ASSERT_TRUE(fs::is_directory(root));
  const std::regex include(R"(^\s*#\s*include\s*["<](painter/|\.\./painter/)[^">]*)");
  int files = 0;
  for (const fs::directory_entry& e : fs::recursive_directory_iterator(root)) {
    const std::string ext = e.path().extension().string();
    if (!e.is_regular_file() || (ext != ".h" && ext != ".cpp")) continue;
    ++files;
    std::ifstream in(e.path());
    std::string line;
    while (std::getline(in, line)) EXPECT_FALSE(std::regex_search(line, include)) << e.path() << ": " << line;
  }
  EXPECT_GT(files, 0);
}

}  // namespace
