// The painter's windows as the desktop shows them, offscreen: the close key of a paper window,
// a paper window restored from minimised, the paper dialogs at each opening, the captions
// after the commands that change what they tell, the zoom that gives the view back, the
// autosave warning beside the hints, where new paper windows go, the session window after a
// port in use, and every text of every form whole in both languages.
#include <QAbstractSpinBox>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QStatusBar>
#include <QStyle>
#include <QStyleOption>
#include <QTcpServer>
#include <QTimer>
#include <QWheelEvent>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "PainterFixture.h"
#include "engine/Stroke.h"
#include "painter/ChatWin.h"
#include "painter/ColorWin.h"
#include "painter/FormEventMul.h"
#include "painter/LayerWin.h"
#include "painter/NetWin.h"
#include "painter/NewWin.h"
#include "painter/PenWin2.h"
#include "painter/PreviewWin.h"
#include "painter/ResoWin.h"
#include "painter/SizeWin.h"
#include "painter/ToolsWin.h"
#include "painter/UpDown.h"
#include "platform/core/Files.h"
#include "platform/qt/Placement.h"

namespace {

// Every warning the toolkit prints while an object lives.
class TWarnings {
 public:
  TWarnings() {
    Seen().clear();
    old_ = qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& m) {
      Seen().push_back(m.toStdString());
    });
  }
  ~TWarnings() { qInstallMessageHandler(old_); }
  static std::vector<std::string>& Seen() {
    static std::vector<std::string> seen;
    return seen;
  }
  bool Any(const std::string& part) const {
    for (const std::string& s : Seen())
      if (s.find(part) != std::string::npos) return true;
    return false;
  }

 private:
  QtMessageHandler old_;
};

class DesktopForms : public PainterFixture {
 protected:
  void SetUp() override {
    PainterFixture::SetUp();
    ShowMain();
  }
  // What these tests leave in the toolkit stays out of the next test: the modifier state of the
  // keys they pressed, and the window frames their shown windows taught.
  void TearDown() override {
    QTest::keyRelease(VLMain, Qt::Key_Control, Qt::NoModifier);
    PainterFixture::TearDown();
    plat::ClearKeys();
    plat::ForgetFrames();
  }
  // The paper window made active and given the keyboard.
  static void Focus(TDrawWindow* w) {
    VLMain->MdiArea->setActiveSubWindow(w->SubWindow());
    w->setFocus();
    ASSERT_TRUE(QTest::qWaitFor([&] { return QApplication::focusWidget() == w; }, 5000));
  }
  static void Wheel(TDrawWindow* w, QPoint at, int delta) {
    QWheelEvent e(QPointF(at), QPointF(w->mapToGlobal(at)), QPoint(), QPoint(0, delta), Qt::NoButton, Qt::NoModifier,
                  Qt::NoScrollPhase, false);
    QApplication::sendEvent(w, &e);
  }
  // Where the view stands: zoom step and both scroll positions.
  static std::tuple<int32_t, int32_t, int32_t> View(TDrawWindow* w) {
    return {w->Paper->Display.ZoomIndex, w->ScrollBar1.Position(), w->ScrollBar2.Position()};
  }
  static TPoint PaperAt(TDrawWindow* w, QPoint at) {
    TPoint p{at.x(), at.y()};
    w->Paper->Display.WindowToPaper(w->ClientWidth(), w->ClientHeight(), p);
    return p;
  }
};

// ---- Keys that the toolkit's own windows take too ----------------------------------------------

TEST_F(DesktopForms, CtrlWAsksAndClosesTheActivePaperWindowAsCtrlF4Does) {
  TWarnings warnings;
  for (const QKeySequence& key : {QKeySequence(Qt::CTRL | Qt::Key_W), QKeySequence(Qt::CTRL | Qt::Key_F4)}) {
    SCOPED_TRACE(key.toString().toStdString());
    TDrawWindow* kept = MakePaper(40, 30);
    TDrawWindow* w = MakePaper(50, 40);
    Focus(w);
    Messages.Messages.clear();
    Messages.Answer = plat::IDNO;
    // Given to the frame, which outlives the paper window it closes.
    QTest::keySequence(VLMain, key);
    ASSERT_EQ(Messages.Messages.size(), 1u) << "the key did not ask";
    EXPECT_EQ(Messages.Messages[0].Text, msgCloseWindow);
    EXPECT_EQ(VLMain->DrawWindows().size(), 2u) << "No keeps the window";
    Messages.Answer = plat::IDYES;
    QTest::keySequence(VLMain, key);
    Settle();
    ASSERT_EQ(VLMain->DrawWindows().size(), 1u);
    EXPECT_EQ(VLMain->DrawWindows()[0], kept) << "only the active paper window closes";
    VLMain->CloseAllPapers(false);
    Settle();
  }
  EXPECT_FALSE(warnings.Any("Ambiguous")) << "a key is taken twice";
}

// ---- Restored from minimised -------------------------------------------------------------------

TEST_F(DesktopForms, TheWindowMenuRestoresAMinimisedPaperWindowToItsFormerState) {
  for (const bool maximised : {true, false}) {
    SCOPED_TRACE(maximised ? "maximised" : "normal");
    TDrawWindow* w = MakePaper(60, 40);
    QMdiSubWindow* sub = w->SubWindow();
    const QRect normal = sub->geometry();
    if (maximised) sub->showMaximized();
    sub->showMinimized();
    ASSERT_TRUE(sub->isMinimized());
    VLMain->Window1Click();
    QAction* item = nullptr;
    for (QAction* a : VLMain->Window1->actions())
      if (a->objectName() == "WindowListItem") item = a;
    ASSERT_NE(item, nullptr);
    item->trigger();
    EXPECT_FALSE(sub->isMinimized());
    EXPECT_EQ(sub->isMaximized(), maximised);
    if (!maximised) {
      EXPECT_EQ(sub->geometry().size(), normal.size());
    }
    VLMain->CloseAllPapers(false);
    Settle();
  }
}

TEST_F(DesktopForms, ARestoreAskedFromOutsideBringsBackAMaximisedWindowMaximised) {
  QWidget window;
  plat::RememberRestoreState(&window);
  window.resize(300, 200);
  window.show();
  window.showMaximized();
  ASSERT_TRUE(QTest::qWaitFor([&] { return window.isMaximized(); }, 5000));
  window.showMinimized();
  ASSERT_TRUE(QTest::qWaitFor([&] { return window.isMinimized(); }, 5000));
  plat::RestoreMinimised(&window);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !window.isMinimized(); }, 5000));
  EXPECT_TRUE(window.isMaximized());
  // A window that is not minimised is left as it is.
  window.showNormal();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !window.isMaximized(); }, 5000));
  plat::RestoreMinimised(&window);
  EXPECT_FALSE(window.isMaximized());
}

// ---- Paper dialogs ----------------------------------------------------------------------------------

// Each opening starts with OK as the default and the focus in the first field, whichever
// button had the focus when the dialog last closed: Enter then means OK.
TEST_F(DesktopForms, EachOpeningOfAPaperDialogStartsWithOkAndTheFirstField) {
  TDrawWindow* w = MakePaper(30, 20);
  struct Case {
    const char* name;
    QDialog* dialog;
    QPushButton *ok, *cancel;
    QWidget* first;
    std::function<void()> open;
  };
  const Case cases[] = {
      {"new", NewWindow, NewWindow->BitBtn1, NewWindow->BitBtn2, NewWindow->EditWidth, [] { VLMain->FileNewItemClick(); }},
      {"size", SizeWindow, SizeWindow->BitBtn1, SizeWindow->BitBtn2, SizeWindow->EditWidth,
       [] { VLMain->PaperResizeItemClick(); }},
      {"resolution", ResoWindow, ResoWindow->BitBtn1, ResoWindow->BitBtn2, ResoWindow->EditPixelX,
       [] { VLMain->PaperResolutionItemClick(); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // First opening: the focus is put on Cancel, and Escape closes it.
    bool sawFirst = false;
    QTimer::singleShot(0, [&] {
      EXPECT_TRUE(QTest::qWaitFor([&] { return c.dialog->isActiveWindow(); }, 5000));
      c.cancel->setFocus();
      EXPECT_TRUE(QTest::qWaitFor([&] { return c.cancel->hasFocus(); }, 5000));
      sawFirst = true;
      QTest::keyClick(c.cancel, Qt::Key_Escape);
    });
    c.open();
    ASSERT_TRUE(sawFirst);
    // Next opening: Enter in the first field is OK.
    bool ready = false, wasDefault = false;
    QTimer::singleShot(0, [&] {
      ready = QTest::qWaitFor([&] { return c.dialog->isActiveWindow() && c.first->hasFocus(); }, 5000);
      wasDefault = c.ok->isDefault() && !c.cancel->isDefault();
      QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : c.dialog, Qt::Key_Return);
    });
    QSignalSpy accepted(c.dialog, &QDialog::accepted);
    c.open();
    EXPECT_TRUE(ready) << "the focus is not in the first field";
    EXPECT_TRUE(wasDefault) << "OK is not the default button";
    EXPECT_EQ(accepted.count(), 1) << "Enter did not mean OK";
    Settle();
  }
  (void)w;
}

// ---- Captions ------------------------------------------------------------------------------------

TEST_F(DesktopForms, CaptionsTellTheStateAtOnce) {
  TDrawWindow* w = MakePaper(300, 200);
  Focus(w);
  VLMain->RotateRightItemClick();
  EXPECT_NE(w->Caption().find(" 200*300 : "), std::string::npos) << w->Caption();
  VLMain->RotateLeftItemClick();
  EXPECT_NE(w->Caption().find(" 300*200 : "), std::string::npos) << w->Caption();

  // The brush keys name the brush they choose, from the paper window and the brush window.
  auto named = [] {
    const std::string* names[] = {&msgBrushPen, &msgBrushWatercolor, &msgBrushOldBlur, &msgBrushEraser, &msgBrushNewBlur};
    return PenWindow2->CaptionPrefix + *names[VLMain->Stroke->Kind];
  };
  for (QWidget* from : {static_cast<QWidget*>(w), static_cast<QWidget*>(PenWindow2)})
    for (const Qt::Key key : {Qt::Key_S, Qt::Key_F, Qt::Key_D, Qt::Key_A}) {
      const int32_t before = VLMain->Stroke->Kind;
      QTest::keyClick(from, key);
      EXPECT_NE(VLMain->Stroke->Kind, before);
      EXPECT_EQ(PenWindow2->windowTitle().toStdString(), named());
    }
  // So do the preset keys.
  QTest::keyClick(w, Qt::Key_S);
  PenWindow2->setWindowTitle("old");
  QTest::keyClick(w, Qt::Key_R);
  EXPECT_EQ(PenWindow2->windowTitle().toStdString(), named());
}

// ---- Zoom and back -----------------------------------------------------------------------------

// Zooming in and back out at a point gives back the view it started from, whatever the point,
// the number of steps and the zoom it starts at; the paper under the point stays under it.
TEST_F(DesktopForms, ZoomingInAndBackOutAtAPointGivesTheViewBack) {
  struct Case {
    int startZoom;
    QPoint at;
    int steps;  // > 0: in, then out; < 0: out, then in
  };
  const Case cases[] = {
      {0, {37, 29}, 1},  {0, {130, 95}, 3}, {0, {3, 160}, 6},  {-2, {61, 44}, 8}, {1, {150, 20}, 2},
      {2, {91, 77}, -3}, {0, {48, 52}, -2}, {6, {70, 60}, -8}, {-1, {0, 0}, 5},
  };
  TDrawWindow* w = MakePaper(300, 200);
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.startZoom << " at " << c.at.x() << "," << c.at.y() << " steps " << c.steps);
    w->ZoomReset(false, 150, 100);
    for (int i = 0; i < c.startZoom; ++i) w->ZoomInAt(false, 150, 100);
    for (int i = 0; i > c.startZoom; --i) w->ZoomOutAt(false, 150, 100);
    w->Redraw();
    const auto start = View(w);
    const TPoint under = PaperAt(w, c.at);
    const bool overPaper = under.X >= 0 && under.Y >= 0 && under.X < 300 && under.Y < 200;
    const int delta = c.steps > 0 ? -120 : 120;  // turning the wheel down zooms in
    for (int i = 0; i < std::abs(c.steps); ++i) {
      Wheel(w, c.at, delta);
      // Over the paper the point stays under the cursor; beside it, as far as the scroll range
      // reaches.
      const TPoint now = PaperAt(w, c.at);
      // Half a window pixel of rounding, and two truncations, in paper pixels.
      const double slack = 2 + 0.5 / w->Paper->Display.Zoom();
      if (overPaper) {
        EXPECT_NEAR(now.X, under.X, slack);
        EXPECT_NEAR(now.Y, under.Y, slack);
      }
    }
    for (int i = 0; i < std::abs(c.steps); ++i) Wheel(w, c.at, -delta);
    EXPECT_EQ(View(w), start);
  }
  // The keys zoom about the middle of the view and give it back the same way.
  Focus(w);
  w->ZoomReset(false, 100, 60);
  w->Redraw();
  const auto start = View(w);
  const TPoint middle = PaperAt(w, QPoint(w->ClientWidth() / 2, w->ClientHeight() / 2));
  for (int i = 0; i < 4; ++i) QTest::keyClick(w, Qt::Key_F5);
  const TPoint zoomed = PaperAt(w, QPoint(w->ClientWidth() / 2, w->ClientHeight() / 2));
  EXPECT_NEAR(zoomed.X, middle.X, 1);
  EXPECT_NEAR(zoomed.Y, middle.Y, 1);
  for (int i = 0; i < 4; ++i) QTest::keyClick(w, Qt::Key_F6);
  EXPECT_EQ(View(w), start);
}

// ---- Autosave warning ---------------------------------------------------------------------------

TEST_F(DesktopForms, TheAutosaveWarningStaysBesideTheHintsUntilASaveIsWritten) {
  TTempDir home;
  std::filesystem::create_directory(home.Path("h"));
  std::ofstream(home.Path("h/vellora")) << "not a folder";
  setenv("XDG_DATA_HOME", home.Path("h").c_str(), 1);
  TDrawWindow* w = MakePaper(100, 80);
  w->StrokeCount = 51;
  plat::AdvanceFakeClock(5001);
  VLMain->UpdateStep();
  QLabel* warning = VLMain->AutosaveWarning;
  ASSERT_NE(warning, nullptr);
  EXPECT_TRUE(warning->isVisible());
  EXPECT_EQ(warning->text().toStdString(), msgAutosaveFailed);
  // Hints come and go (a tool window's hint as the mouse moves over it) and leave it.
  VLMain->AppHint("a hint");
  VLMain->AppHint("");
  EXPECT_TRUE(warning->isVisible());
  EXPECT_EQ(warning->text().toStdString(), msgAutosaveFailed);
  EXPECT_GE(QFontMetrics(warning->font()).horizontalAdvance(warning->text()), 1);
  EXPECT_LE(QFontMetrics(warning->font()).horizontalAdvance(warning->text()), warning->width());
  // In the other language it says the same.
  VLMain->EnglishItemClick();
  EXPECT_EQ(warning->text().toStdString(), msgAutosaveFailed);
  VLMain->JapaneseItemClick();
  // Written again: the warning goes.
  std::filesystem::remove(home.Path("h/vellora"));
  plat::AdvanceFakeClock(3000);
  VLMain->UpdateStep();
  EXPECT_TRUE(plat::FileExists(AutosavePath()));
  EXPECT_FALSE(warning->isVisible());
  VLMain->CloseAllPapers(false);
  setenv("XDG_DATA_HOME", Data.Dir().c_str(), 1);
}

// ---- Where paper windows go -----------------------------------------------------------------------

TEST_F(DesktopForms, NewPaperWindowsOpenWhereTheToolWindowsLeaveRoom) {
  for (QWidget* t : std::initializer_list<QWidget*>{ToolsWindow, PreviewWindow, PenWindow2, ColorWindow, LayerWindow})
    t->show();
  Settle();
  const QRect area(VLMain->MdiArea->viewport()->mapToGlobal(QPoint(0, 0)), VLMain->MdiArea->viewport()->size());
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    NewWindow->UpDownWidth->SetPosition(120);
    NewWindow->UpDownHeight->SetPosition(90);
    NewWindow->BitBtn1Click();
    TDrawWindow* w = VLMain->DrawWindows().back();
    QMdiSubWindow* sub = w->SubWindow();
    const QRect frame(sub->mapToGlobal(QPoint(0, 0)), sub->size());
    EXPECT_TRUE(area.contains(frame)) << "outside the area";
    for (QWidget* t : std::initializer_list<QWidget*>{ToolsWindow, PreviewWindow, PenWindow2, ColorWindow, LayerWindow})
      EXPECT_FALSE(plat::OuterRect(t).intersects(frame)) << t->objectName().toStdString() << " covers it";
  }
  // A paper larger than the area: a window that fits in it, scroll bars within reach.
  NewWindow->UpDownWidth->SetPosition(3000);
  NewWindow->UpDownHeight->SetPosition(2000);
  NewWindow->BitBtn1Click();
  QMdiSubWindow* big = VLMain->DrawWindows().back()->SubWindow();
  EXPECT_TRUE(QRect(QPoint(0, 0), VLMain->MdiArea->viewport()->size()).contains(big->geometry()));
}

// ---- The session window after a port in use ---------------------------------------------------------

TEST_F(DesktopForms, AfterAPortInUseTheSessionWindowHasTheKeyboardInItsPortBox) {
  QTcpServer busy;
  ASSERT_TRUE(busy.listen(QHostAddress::AnyIPv4, 0));
  NetWindow->SpinEditPort->setValue(busy.serverPort());
  NetWindow->PageControlCS->setCurrentWidget(NetWindow->TabSheet2);
  // Hidden, as the lobby's launch leaves it, while the main window is active.
  NetWindow->hide();
  VLMain->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(VLMain, 5000));
  NetWindow->StartHosting();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !Messages.Messages.empty(); }, 5000));
  EXPECT_EQ(Messages.Messages[0].Text.rfind(msgPortInUse, 0), 0u);
  ASSERT_TRUE(QTest::qWaitFor([] { return NetWindow->isActiveWindow() && NetWindow->SpinEditPort->hasFocus(); }, 5000))
      << "typing would go elsewhere";
  QTest::keyClicks(QApplication::focusWidget(), "19517");
  EXPECT_EQ(NetWindow->SpinEditPort->text().toStdString(), "19517");
}

// ---- Whole texts --------------------------------------------------------------------------------

// What of a control's text does not show at its font: empty when all of it does, and the
// control lies within its window.
std::string Cut(QWidget* w) {
  const QFontMetrics fm(w->font());
  QString text;
  int room = 0;
  if (auto* l = qobject_cast<QLabel*>(w)) {
    if (l->wordWrap() || l->text().isEmpty()) return {};
    text = l->text();
    room = l->contentsRect().width() - 2 * l->margin() - std::max(0, l->indent());
  } else if (auto* b = qobject_cast<QPushButton*>(w)) {
    text = b->text();
    QStyleOptionButton o;
    o.initFrom(b);
    room = b->style()->subElementRect(QStyle::SE_PushButtonContents, &o, b).width();
  } else if (qobject_cast<QCheckBox*>(w) || qobject_cast<QRadioButton*>(w)) {
    auto* b = static_cast<QAbstractButton*>(w);
    text = b->text();
    QStyleOptionButton o;
    o.initFrom(b);
    o.text = text;
    room = b->style()
               ->subElementRect(qobject_cast<QCheckBox*>(w) ? QStyle::SE_CheckBoxContents : QStyle::SE_RadioButtonContents,
                                &o, b)
               .width();
  } else if (auto* s = qobject_cast<QAbstractSpinBox*>(w)) {
    auto* spin = qobject_cast<QSpinBox*>(w);
    text = spin ? QString::number(spin->maximum()) : s->text();
    room = s->findChild<QLineEdit*>()->width() - 4;
  } else if (auto* e = qobject_cast<QLineEdit*>(w)) {
    if (qobject_cast<QAbstractSpinBox*>(e->parentWidget()) || e->echoMode() != QLineEdit::Normal) return {};
    text = e->text();
    room = e->width() - 6;
  } else {
    return {};
  }
  text.remove('&');
  if (text.trimmed().isEmpty()) return {};
  std::ostringstream out;
  if (fm.horizontalAdvance(text.trimmed()) > room)
    out << "\"" << text.toStdString() << "\" needs " << fm.horizontalAdvance(text.trimmed()) << " has " << room;
  if (QFontMetrics(w->font()).height() > w->height()) out << " height " << w->height() << " for its line";
  // Within every container up to its window.
  for (QWidget* c = w; c->parentWidget() && !c->isWindow(); c = c->parentWidget()) {
    QWidget* p = c->parentWidget();
    if (qobject_cast<QAbstractSpinBox*>(p)) break;
    if (!QRect(QPoint(0, 0), p->size()).contains(c->geometry()))
      out << " " << c->objectName().toStdString() << " sticks out of " << p->objectName().toStdString();
  }
  return out.str();
}

TEST_F(DesktopForms, EveryFormShowsItsWholeTextsInBothLanguages) {
  auto formEventMul = std::make_unique<TFormEventMul>(VLMain);
  for (const int language : {1, 0}) {
    SetLanguage(language);
    ShowMain();
    std::vector<QWidget*> forms;
    for (QWidget* f : QApplication::topLevelWidgets())
      if (!qobject_cast<QMenu*>(f) && f != VLMain) forms.push_back(f);
    for (QWidget* form : forms) {
      form->show();
      // Shown as it is shown to a user, so that every control has its size; each page of a
      // tab widget in turn.
      (void)QTest::qWaitForWindowExposed(form, 2000);
      std::vector<std::pair<QTabWidget*, int>> pages{{nullptr, 0}};
      for (QTabWidget* t : form->findChildren<QTabWidget*>())
        for (int i = 0; i < t->count(); ++i) pages.push_back({t, i});
      for (const auto& [tabs, index] : pages) {
        if (tabs) tabs->setCurrentIndex(index);
        Settle();
        for (QWidget* w : form->findChildren<QWidget*>()) {
          if (!w->isVisibleTo(form)) continue;
          const std::string cut = Cut(w);
          EXPECT_TRUE(cut.empty()) << "language " << language << ": " << form->objectName().toStdString() << "."
                                   << w->objectName().toStdString() << ": " << cut;
        }
      }
      form->hide();
    }
  }
}

}  // namespace
