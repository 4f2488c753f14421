#include "painter/ResoWin.h"

#include <QCheckBox>
#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <algorithm>

#include "engine/EventPacket.h"
#include "engine/Paper.h"
#include "engine/Types.h"
#include "painter/DrawWin.h"
#include "painter/Localize.h"
#include "painter/Main.h"
#include "painter/SizeWin.h"
#include "painter/UpDown.h"
#include "platform/qt/Desktop.h"
#include "platform/qt/Placement.h"
#include "platform/qt/Translations.h"

TResoWindow* ResoWindow = nullptr;

namespace {
constexpr int kMaxSide = 5000;
constexpr int kMaxPercent = 1600;
}  // namespace

TResoWindow::TResoWindow(QWidget* owner) : QDialog(owner) {
  setObjectName("ResoWindow");
  setWindowFlags(Qt::Dialog | Qt::Tool | Qt::WindowStaysOnTopHint);
  setFont(plat::UiFont());
  setFixedSize(290, 183);
  setModal(true);

  PageControl1 = new QTabWidget(this);
  PageControl1->setObjectName("PageControl1");
  PageControl1->setGeometry(0, 8, 289, 89);
  TabSheet1 = new QWidget;
  TabSheet1->setObjectName("TabSheet1");
  TabSheet2 = new QWidget;
  TabSheet2->setObjectName("TabSheet2");
  PageControl1->addTab(TabSheet1, "[pixel]");
  PageControl1->addTab(TabSheet2, "[%]");

  auto label = [](QWidget* page, const char* name, const char* text, int x, int y) {
    auto* l = new QLabel(QString::fromUtf8(text), page);
    l->setObjectName(name);
    l->move(x, y);
    return l;
  };
  auto edit = [this](QWidget* page, const char* name, const char* upName, int y, int max, int pos,
                     TUpDown*& upDown) {
    auto* e = new QLineEdit(page);
    e->setObjectName(name);
    e->setGeometry(88, y, 57, 20);
    MakeDigitEdit(e);
    e->installEventFilter(this);
    upDown = new TUpDown(e, 1, max, pos, page);
    upDown->setObjectName(upName);
    upDown->move(145, y);
    return e;
  };
  LabelWidth = label(TabSheet1, "LabelWidth", "新規幅", 24, 16);
  LabelHeight = label(TabSheet1, "LabelHeight", "新規高さ", 16, 40);
  label(TabSheet1, "LabelPixelX", "[pixel]", 176, 12);
  label(TabSheet1, "LabelPixelY", "[pixel]", 176, 39);
  EditPixelX = edit(TabSheet1, "EditPixelX", "UpDownPixelX", 8, kMaxSide, 1, UpDownPixelX);
  EditPixelY = edit(TabSheet1, "EditPixelY", "UpDownPixelY", 35, kMaxSide, 1, UpDownPixelY);
  LabelWidth2 = label(TabSheet2, "LabelWidth2", "新規幅", 24, 16);
  LabelHeight2 = label(TabSheet2, "LabelHeight2", "新規高さ", 16, 40);
  label(TabSheet2, "LabelPerX", "[%]", 176, 12);
  label(TabSheet2, "LabelPerY", "[%]", 176, 39);
  EditPerX = edit(TabSheet2, "EditPerX", "UpDownPerX", 8, kMaxPercent, 100, UpDownPerX);
  EditPerY = edit(TabSheet2, "EditPerY", "UpDownPerY", 35, kMaxPercent, 100, UpDownPerY);

  CheckFixed = new QCheckBox(QString::fromUtf8("画像の縦横比の固定"), this);
  CheckFixed->setObjectName("CheckFixed");
  CheckFixed->move(8, 104);
  CheckFixed->setChecked(true);
  LabelCaution = new QLabel(QString::fromUtf8("(注) 主に、画像の縮小に使ってください。"), this);
  LabelCaution->setObjectName("LabelCaution");
  LabelCaution->move(8, 128);
  LabelCaution->setStyleSheet("color: #800000");

  BitBtn1 = new plat::TStandardButton(QDialogButtonBox::Ok, this);
  BitBtn1->setObjectName("BitBtn1");
  BitBtn1->setGeometry(56, 152, 75, 25);
  BitBtn1->setDefault(true);
  BitBtn2 = new plat::TStandardButton(QDialogButtonBox::Cancel, this);
  BitBtn2->setObjectName("BitBtn2");
  BitBtn2->setGeometry(136, 152, 75, 25);
  connect(BitBtn1, &QPushButton::clicked, this, &TResoWindow::BitBtn1Click);
  connect(BitBtn2, &QPushButton::clicked, this, &TResoWindow::BitBtn2Click);

  // An arrow click names its axis, then the other values follow.
  auto clicked = [this](TUpDown* u, uint8_t axisX) {
    connect(u, &TUpDown::Clicked, this, [this, axisX] {
      LastAxisX = axisX;
      Recalc();
    });
  };
  clicked(UpDownPixelX, 1);
  clicked(UpDownPerX, 1);
  clicked(UpDownPixelY, 0);
  clicked(UpDownPerY, 0);
  // Typing makes the other values follow; leaving the edit holds its own to the limits.
  for (TUpDown* u : {UpDownPixelX, UpDownPixelY, UpDownPerX, UpDownPerY}) {
    connect(u, &TUpDown::Edited, this, &TResoWindow::Recalc);
    connect(u, &TUpDown::Committed, this, &TResoWindow::Recalc);
  }
  LastAxisX = 1;
}

TResoWindow::~TResoWindow() {
  if (ResoWindow == this) ResoWindow = nullptr;
}

void TResoWindow::showEvent(QShowEvent* e) {
  QDialog::showEvent(e);
  plat::CentreOnScreen(this);
  FormActivate();
  plat::StartDialog(BitBtn1, PageControl1->currentWidget() == TabSheet2 ? EditPerX : EditPixelX);
}

bool TResoWindow::eventFilter(QObject* watched, QEvent* e) {
  // Entering an edit, or typing in it, names its axis.
  if (e->type() == QEvent::FocusIn || e->type() == QEvent::KeyPress) {
    if (watched == EditPixelX || watched == EditPerX) LastAxisX = 1;
    if (watched == EditPixelY || watched == EditPerY) LastAxisX = 0;
  }
  return QDialog::eventFilter(watched, e);
}

void TResoWindow::FormActivate() {
  TDrawWindow* win = VLMain ? VLMain->ActiveDrawWindow() : nullptr;
  if (!win || !win->Paper || !win->Paper->Initialised) return;
  const TPaper& p = *win->Paper;
  setWindowTitle(QString::fromStdString(msgTitleResolution + " - " + plat::FileNameOf(p.Name) + " " +
                                        std::to_string(p.Width()) + "*" + std::to_string(p.Height())));
  UpDownPixelX->SetPosition(p.Width());
  UpDownPixelY->SetPosition(p.Height());
  UpDownPerX->SetPosition(100);
  UpDownPerY->SetPosition(100);
}

void TResoWindow::Recalc() {
  TDrawWindow* win = VLMain ? VLMain->ActiveDrawWindow() : nullptr;
  if (!win || !win->Paper || !win->Paper->Initialised) return;
  const ext_t W = win->Paper->Width();
  const ext_t H = win->Paper->Height();
  // A percentage may not make a side beyond the largest paper the dialog gives. The text the
  // user is typing stays as typed until the edit is left; the other values follow the limit.
  auto limited = [](TUpDown* u, ext_t side) {
    if (static_cast<int32_t>(side * u->Position() / 100) <= kMaxSide) return u->Position();
    const int32_t p = static_cast<int32_t>(kMaxSide / side * 100);
    if (!u->Typing()) u->SetPosition(p);
    return p;
  };
  const int32_t perX = limited(UpDownPerX, W);
  const int32_t perY = limited(UpDownPerY, H);
  if (!CheckFixed->isChecked()) return;
  if (LastAxisX == 1) {
    UpDownPixelY->SetPosition(static_cast<int32_t>(UpDownPixelX->Position() / W * H));
    UpDownPerY->SetPosition(perX);
  } else {
    UpDownPixelX->SetPosition(static_cast<int32_t>(UpDownPixelY->Position() / H * W));
    UpDownPerX->SetPosition(perY);
  }
}

void TResoWindow::BitBtn1Click() {
  TDrawWindow* win = VLMain ? VLMain->ActiveDrawWindow() : nullptr;
  if (!PaperDialogAllowed(win)) {
    reject();
    return;
  }
  plat::TBusyCursor busy;
  // The values as the user left them: each edit held to its range and limits.
  for (TUpDown* u : {UpDownPixelX, UpDownPixelY, UpDownPerX, UpDownPerY}) u->Commit();
  const ext_t W = win->Paper->Width();
  const ext_t H = win->Paper->Height();
  int32_t w, h;
  if (PageControl1->currentIndex() == 0) {
    w = UpDownPixelX->Position();
    h = UpDownPixelY->Position();
  } else {
    w = static_cast<int32_t>(W * UpDownPerX->Position() / 100);
    h = static_cast<int32_t>(H * UpDownPerY->Position() / 100);
  }
  // The record must hold the size the paper takes.
  w = std::clamp(w, 1, kMaxSide);
  h = std::clamp(h, 1, kMaxSide);
  TMyMemory& record = win->Packets[0]->Data();
  const int32_t before = record.Size();
  win->Packets[0]->WriteResolution(w, h);
  if (!win->Paper->ChangeResolution(w, h)) {
    record.SetSize(before);
    reject();
    return;
  }
  FinishPaperDialog(win);
  accept();
}

void TResoWindow::BitBtn2Click() { reject(); }
