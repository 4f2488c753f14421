// The new-paper, canvas size and resolution dialogs: what they show, what they record and
// what their numeric edits let through.
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QGroupBox>
#include <QImage>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabBar>
#include <QTabWidget>
#include <utility>
#include <vector>

#include "FileTestUtil.h"
#include "painter/FormEventMul.h"
#include "painter/NewWin.h"
#include "painter/ResoWin.h"
#include "painter/SizeWin.h"
#include "painter/UpDown.h"

namespace {

class PaperDialog : public FileFixture {
 protected:
  // Selects an edit's whole text from the keyboard and types over it, as a user does; an
  // empty text deletes it. The edit keeps the focus.
  static void Type(QLineEdit* e, const char* text) {
    Focus(e);
    QTest::keyClick(e, Qt::Key_A, Qt::ControlModifier);
    if (*text)
      QTest::keyClicks(e, text);
    else
      QTest::keyClick(e, Qt::Key_Delete);
  }
  // The focus moves on to the next control.
  static void Leave(QLineEdit* e) {
    ASSERT_TRUE(e->hasFocus());
    QTest::keyClick(e, Qt::Key_Tab);
    ASSERT_FALSE(e->hasFocus());
  }
  // A dialog shown without its own loop, active, so that its edits take and lose the focus.
  // What the main window's own activation left pending runs first.
  static void ShowActive(QWidget* d) {
    Settle();
    d->show();
    ASSERT_TRUE(QTest::qWaitFor(
        [d] {
          if (!d->isActiveWindow()) d->activateWindow();
          Settle();
          return d->isActiveWindow();
        },
        10000));
  }
  static void Focus(QLineEdit* e) {
    ASSERT_TRUE(QTest::qWaitFor(
        [e] {
          e->setFocus();
          return e->hasFocus();
        },
        10000));
  }
  static std::string Text(QLineEdit* e) { return e->text().toStdString(); }
  // The record's bytes after `from`.
  static std::vector<uint8_t> Tail(TDrawWindow* w, size_t from) { return BytesFrom(*w->Packets[0], from); }
  static int ReadInt(const std::string& name) {
    plat::TRegistry reg;
    reg.OpenKey(kVelloraKey, true);
    return reg.ReadInteger(name).value_or(-1);
  }
};

TEST_F(PaperDialog, NewPaperRemembersTheSizeOfItsTab) {
  OnNextModal([](QWidget* m) {
    auto* d = qobject_cast<TNewWindow*>(m);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(Text(d->EditWidth), "480");
    EXPECT_EQ(Text(d->EditHeight), "320");
    d->TabControl1->setCurrentIndex(2);
    EXPECT_EQ(Text(d->EditWidth), "480");
    Type(d->EditWidth, "800");
    Type(d->EditHeight, "600");
    d->BitBtn1->click();
  });
  VLMain->FileNewItemClick();
  ASSERT_EQ(Windows(), 1);
  TDrawWindow* w = VLMain->ActiveDrawWindow();
  EXPECT_EQ(w->Paper->Name, "SanNom");
  EXPECT_EQ(Bytes(*w->Packets[0]), (std::vector<uint8_t>{0x00, 0x02, 0x20, 0x03, 0x58, 0x02}));
  EXPECT_EQ(ReadInt("NewWidth2"), 800);
  EXPECT_EQ(ReadInt("NewHeight2"), 600);
  EXPECT_EQ(ReadInt("NewWidth0"), -1);

  // Reopened, each tab shows its own size.
  NewWindow->show();
  NewWindow->TabControl1->setCurrentIndex(2);
  EXPECT_EQ(Text(NewWindow->EditWidth), "800");
  EXPECT_EQ(Text(NewWindow->EditHeight), "600");
  NewWindow->TabControl1->setCurrentIndex(1);
  EXPECT_EQ(Text(NewWindow->EditWidth), "480");
  NewWindow->BitBtn2->click();
  EXPECT_EQ(Windows(), 1);
}

TEST_F(PaperDialog, TheClipboardTabTakesThePictureSizeOrFallsBack) {
  {
    plat::TRegistry reg;
    reg.OpenKey(kVelloraKey, true);
    reg.WriteInteger("NewWidth0", 123);
  }
  QApplication::clipboard()->clear();
  NewWindow->show();
  NewWindow->TabControl1->setCurrentIndex(TNewWindow::kClipboardTab);
  EXPECT_EQ(NewWindow->TabControl1->currentIndex(), 0);
  EXPECT_EQ(Text(NewWindow->EditWidth), "123");
  NewWindow->hide();

  QApplication::clipboard()->setImage(QImage(640, 480, QImage::Format_RGB32));
  NewWindow->show();
  NewWindow->TabControl1->setCurrentIndex(TNewWindow::kClipboardTab);
  EXPECT_EQ(NewWindow->TabControl1->currentIndex(), TNewWindow::kClipboardTab);
  EXPECT_EQ(Text(NewWindow->EditWidth), "640");
  EXPECT_EQ(Text(NewWindow->EditHeight), "480");
  NewWindow->hide();
  QApplication::clipboard()->clear();
}

TEST_F(PaperDialog, ResizeRecordsTheSizeAndClearsUndo) {
  TDrawWindow* w = MakePaper(480, 320);
  w->Paper->Name = "SanNom";
  Drag(w, {At(w, 10, 10), At(w, 50, 40), At(w, 90, 60)});
  ASSERT_TRUE(w->Paper->Layers->CanUndo(0));
  const size_t before = Bytes(*w->Packets[0]).size();
  std::string title;
  OnNextModal([&title](QWidget* m) {
    auto* d = qobject_cast<TSizeWindow*>(m);
    ASSERT_NE(d, nullptr);
    title = d->windowTitle().toStdString();
    Type(d->EditWidth, "500");
    Type(d->EditHeight, "400");
    d->RadioButtons[8]->click();
    d->BitBtn1->click();
  });
  VLMain->PaperResizeItemClick();
  EXPECT_EQ(title, "サイズ変更 - SanNom 480*320");
  EXPECT_EQ(Tail(w, before), (std::vector<uint8_t>{0x02, 0x02, 0xF4, 0x01, 0x90, 0x01, 0x08, 0x06, 0x02}));
  EXPECT_EQ(w->Paper->Width(), 500);
  EXPECT_EQ(w->Paper->Height(), 400);
  for (int32_t i = 0; i <= w->Paper->Layers->LastIndex(); ++i) EXPECT_FALSE(w->Paper->Layers->CanUndo(i));

  // Cancel changes nothing.
  const size_t after = Bytes(*w->Packets[0]).size();
  OnNextModal([](QWidget* m) { qobject_cast<TSizeWindow*>(m)->BitBtn2->click(); });
  VLMain->PaperResizeItemClick();
  EXPECT_EQ(Bytes(*w->Packets[0]).size(), after);
}

TEST_F(PaperDialog, ResolutionByPercentRecordsTheComputedSize) {
  TDrawWindow* w = MakePaper(480, 320);
  const size_t before = Bytes(*w->Packets[0]).size();
  OnNextModal([](QWidget* m) {
    auto* d = qobject_cast<TResoWindow*>(m);
    ASSERT_NE(d, nullptr);
    d->PageControl1->setCurrentIndex(1);
    Type(d->EditPerX, "50");
    EXPECT_EQ(Text(d->EditPerY), "50");
    d->BitBtn1->click();
  });
  VLMain->PaperResolutionItemClick();
  EXPECT_EQ(Tail(w, before), (std::vector<uint8_t>{0x03, 0x02, 0xF0, 0x00, 0xA0, 0x00, 0x06, 0x02}));
  EXPECT_EQ(w->Paper->Width(), 240);
  EXPECT_EQ(w->Paper->Height(), 160);
}

TEST_F(PaperDialog, ResolutionKeepsTheAspectAndTheLargestSide) {
  MakePaper(480, 320);
  ShowActive(ResoWindow);
  // The other side follows each key.
  Type(ResoWindow->EditPixelX, "24");
  EXPECT_EQ(Text(ResoWindow->EditPixelY), "16");
  QTest::keyClick(ResoWindow->EditPixelX, Qt::Key_0);
  EXPECT_EQ(Text(ResoWindow->EditPixelY), "160");
  Type(ResoWindow->EditPixelY, "80");
  EXPECT_EQ(Text(ResoWindow->EditPixelX), "120");
  ResoWindow->PageControl1->setCurrentIndex(1);
  // A percentage beyond the largest side stays as typed until the edit is left; the other
  // follows the limit at once.
  Type(ResoWindow->EditPerX, "1200");
  EXPECT_EQ(Text(ResoWindow->EditPerX), "1200");
  EXPECT_EQ(Text(ResoWindow->EditPerY), "1041");
  Leave(ResoWindow->EditPerX);
  EXPECT_EQ(Text(ResoWindow->EditPerX), "1041");
  EXPECT_EQ(Text(ResoWindow->EditPerY), "1041");
  // Without the fixed aspect the other side stays.
  ResoWindow->CheckFixed->setChecked(false);
  Type(ResoWindow->EditPerY, "30");
  EXPECT_EQ(Text(ResoWindow->EditPerX), "1041");
  ResoWindow->CheckFixed->setChecked(true);
  ResoWindow->BitBtn2->click();
}

TEST_F(PaperDialog, ResolutionTakesATypedPercentHeldToTheLargestSideOnOK) {
  TDrawWindow* w = MakePaper(400, 40);
  const size_t before = Bytes(*w->Packets[0]).size();
  ShowActive(ResoWindow);
  ResoWindow->PageControl1->setCurrentIndex(1);
  Type(ResoWindow->EditPerX, "2000");
  ResoWindow->BitBtn1->click();
  // Held to 1600, then to 1250 % for the largest side: 5000 x 500.
  EXPECT_EQ(Tail(w, before), (std::vector<uint8_t>{0x03, 0x02, 0x88, 0x13, 0xF4, 0x01, 0x06, 0x02}));
}

TEST_F(PaperDialog, ATinyPercentStillRecordsAPaperOfOnePixel) {
  TDrawWindow* w = MakePaper(50, 50);
  const size_t before = Bytes(*w->Packets[0]).size();
  ResoWindow->show();
  ResoWindow->PageControl1->setCurrentIndex(1);
  Type(ResoWindow->EditPerX, "1");
  ResoWindow->BitBtn1->click();
  const std::vector<uint8_t> tail = Tail(w, before);
  ASSERT_GE(tail.size(), 6u);
  EXPECT_EQ(std::vector<uint8_t>(tail.begin(), tail.begin() + 6),
            (std::vector<uint8_t>{0x03, 0x02, 0x01, 0x00, 0x01, 0x00}));
  EXPECT_EQ(w->Paper->Width(), 1);
  EXPECT_EQ(w->Paper->Height(), 1);
}

using TKeys = std::vector<std::pair<Qt::Key, Qt::KeyboardModifiers>>;
const TKeys kSelectAll = {{Qt::Key_A, Qt::ControlModifier}};

struct TEditCase {
  const char* Name;
  TKeys Keys;          // from the edit showing "480", focused
  const char* Chars;   // then typed
  const char* Pasted;  // then pasted, when not null
  const char* Typed;   // the text while the edit has the focus
  const char* Left;    // the text once it is left
};

const TEditCase kEditCases[] = {
    {"all selected from the keyboard, typed over", kSelectAll, "800", nullptr, "800", "800"},
    {"selected with Shift+Home, typed over", {{Qt::Key_End, {}}, {Qt::Key_Home, Qt::ShiftModifier}}, "800", nullptr,
     "800", "800"},
    {"deleted digit by digit, then typed",
     {{Qt::Key_End, {}}, {Qt::Key_Backspace, {}}, {Qt::Key_Backspace, {}}, {Qt::Key_Backspace, {}}}, "600", nullptr,
     "600", "600"},
    {"a digit put in the middle", {{Qt::Key_Home, {}}, {Qt::Key_Right, {}}}, "2", nullptr, "4280", "4280"},
    {"beyond the range", kSelectAll, "12345", nullptr, "12345", "5000"},
    {"more digits than a number holds", kSelectAll, "99999999999999", nullptr, "99999999999999", "5000"},
    {"zero", kSelectAll, "0", nullptr, "0", "1"},
    {"leading zeros", kSelectAll, "0042", nullptr, "0042", "42"},
    {"emptied and left", {{Qt::Key_A, Qt::ControlModifier}, {Qt::Key_Delete, {}}}, "", nullptr, "", "1"},
    {"letters among the digits", kSelectAll, "8a0-b0 ", nullptr, "800", "800"},
    {"digits pasted over the selection", kSelectAll, "", "640", "640", "640"},
    {"a paste with letters", kSelectAll, "", "6x4", "480", "480"},
};

TEST_F(PaperDialog, NumericEditsKeepTheTypedTextAndHoldItToTheRangeWhenLeft) {
  MakePaper(480, 320);
  ShowActive(SizeWindow);
  QLineEdit* e = SizeWindow->EditWidth;
  for (const TEditCase& c : kEditCases) {
    SCOPED_TRACE(c.Name);
    SizeWindow->UpDownWidth->SetPosition(480);
    Focus(e);
    for (auto [key, mods] : c.Keys) QTest::keyClick(e, key, mods);
    // Nothing is filled in behind the user's back.
    if (c.Keys.size() > 1 && c.Keys.back().first == Qt::Key_Backspace) {
      EXPECT_EQ(Text(e), "");
    }
    QTest::keyClicks(e, c.Chars);
    if (c.Pasted) {
      QApplication::clipboard()->setText(QString::fromUtf8(c.Pasted));
      QTest::keyClick(e, Qt::Key_V, Qt::ControlModifier);
    }
    EXPECT_EQ(Text(e), c.Typed);
    Leave(e);
    EXPECT_EQ(Text(e), c.Left);
    EXPECT_EQ(SizeWindow->UpDownWidth->Position(), std::stoi(c.Left));
  }
  // The arrows step from what the edit shows, within the range.
  Type(e, "77");
  SizeWindow->UpDownWidth->Click(true);
  EXPECT_EQ(Text(e), "78");
  SizeWindow->UpDownWidth->SetPosition(5000);
  SizeWindow->UpDownWidth->Click(true);
  EXPECT_EQ(Text(e), "5000");
  SizeWindow->BitBtn2->click();
  QApplication::clipboard()->clear();
}

TEST_F(PaperDialog, OKTakesTheTypedValuesHeldToTheRange) {
  TDrawWindow* w = MakePaper(480, 320);
  const size_t before = Bytes(*w->Packets[0]).size();
  OnNextModal([](QWidget* m) {
    auto* d = qobject_cast<TSizeWindow*>(m);
    ASSERT_NE(d, nullptr);
    Type(d->EditWidth, "");
    Type(d->EditHeight, "9999");
    // Still in the edit: OK takes what is shown, held.
    d->BitBtn1->click();
  });
  VLMain->PaperResizeItemClick();
  EXPECT_EQ(Tail(w, before), (std::vector<uint8_t>{0x02, 0x02, 0x01, 0x00, 0x88, 0x13, 0x04, 0x06, 0x02}));
  EXPECT_EQ(SizeWindow->EditWidth->text(), "1");
  EXPECT_EQ(SizeWindow->EditHeight->text(), "5000");

  OnNextModal([](QWidget* m) {
    auto* d = qobject_cast<TNewWindow*>(m);
    ASSERT_NE(d, nullptr);
    Type(d->EditWidth, "0640");
    QTest::keyClick(d->EditWidth, Qt::Key_Return);
  });
  VLMain->FileNewItemClick();
  ASSERT_EQ(Windows(), 2);
  EXPECT_EQ(VLMain->ActiveDrawWindow()->Paper->Width(), 640);
  EXPECT_EQ(VLMain->ActiveDrawWindow()->Paper->Height(), 320);
}

TEST_F(PaperDialog, TheMagnificationFollowsTheChoice) {
  TFormEventMul d(VLMain);
  EXPECT_EQ(d.Magnification(), 1.0f);
  EXPECT_FALSE(d.ComboBox1->isEnabled());
  d.RadioItem1->click();
  EXPECT_TRUE(d.ComboBox1->isEnabled());
  const float scales[] = {0.5f, 2.0f, 3.0f, 4.0f, 5.0f};
  for (int i = 0; i < 5; ++i) {
    d.ComboBox1->setCurrentIndex(i);
    EXPECT_EQ(d.Magnification(), scales[i]);
  }
  d.RadioItem0->click();
  EXPECT_EQ(d.Magnification(), 1.0f);
  EXPECT_FALSE(d.GroupBox1->isEnabled());
}

}  // namespace
