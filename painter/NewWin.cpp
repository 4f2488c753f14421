#include "painter/NewWin.h"

#include <QApplication>
#include <QClipboard>
#include <QEvent>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabBar>
#include <algorithm>

#include "engine/EventPacket.h"
#include "engine/Paper.h"
#include "painter/DrawWin.h"
#include "painter/Main.h"
#include "painter/PreviewWin.h"
#include "painter/UpDown.h"
#include "platform/core/Settings.h"
#include "platform/qt/Desktop.h"
#include "platform/qt/Placement.h"
#include "platform/qt/Translations.h"

TNewWindow* NewWindow = nullptr;

namespace {

constexpr int kMaxNewSide = 5000;

std::string SizeName(const char* base, int tab) { return base + std::to_string(tab); }

}  // namespace

TNewWindow::TNewWindow(QWidget* owner) : QDialog(owner) {
  setObjectName("NewWindow");
  setWindowFlags(Qt::Dialog | Qt::Tool);
  plat::OpenAboveToolWindows(this);
  setWindowTitle(QString::fromUtf8("新規作成"));
  setFont(plat::UiFont());
  setFixedSize(321, 155);
  setModal(true);

  TabControl1 = new QTabBar(this);
  TabControl1->setObjectName("TabControl1");
  TabControl1->setGeometry(0, 4, 321, 24);
  for (const char* t : {"*1", "*2", "*3", "*4", "*5", "*Presse-Papiers  "}) TabControl1->addTab(QString::fromUtf8(t));
  TabControl1->setCurrentIndex(0);

  auto label = [this](const char* name, const char* text, int x, int y) {
    auto* l = new QLabel(QString::fromUtf8(text), this);
    l->setObjectName(name);
    l->move(x, y);
    return l;
  };
  Label3 = label("Label3", "幅", 40, 44);
  Label4 = label("Label4", "高さ", 40, 76);
  Label1 = label("Label1", "[pixel]", 184, 44);
  Label2 = label("Label2", "[pixel]", 184, 76);

  EditWidth = new QLineEdit(this);
  EditWidth->setObjectName("EditWidth");
  EditWidth->setGeometry(88, 40, 65, 20);
  UpDownWidth = new TUpDown(EditWidth, 1, kMaxNewSide, 480, this);
  UpDownWidth->setObjectName("UpDownWidth");
  UpDownWidth->move(153, 40);
  EditHeight = new QLineEdit(this);
  EditHeight->setObjectName("EditHeight");
  EditHeight->setGeometry(88, 72, 65, 20);
  UpDownHeight = new TUpDown(EditHeight, 1, kMaxNewSide, 320, this);
  UpDownHeight->setObjectName("UpDownHeight");
  UpDownHeight->move(153, 72);
  for (QLineEdit* e : {EditWidth, EditHeight}) MakeDigitEdit(e);

  BitBtn1 = new plat::TStandardButton(QDialogButtonBox::Ok, this);
  BitBtn1->setObjectName("BitBtn1");
  BitBtn1->setGeometry(56, 112, 75, 25);
  BitBtn1->setDefault(true);
  BitBtn2 = new plat::TStandardButton(QDialogButtonBox::Cancel, this);
  BitBtn2->setObjectName("BitBtn2");
  BitBtn2->setGeometry(144, 112, 75, 25);

  connect(TabControl1, &QTabBar::currentChanged, this, &TNewWindow::TabControl1Change);
  connect(BitBtn1, &QPushButton::clicked, this, &TNewWindow::BitBtn1Click);
  connect(BitBtn2, &QPushButton::clicked, this, &TNewWindow::BitBtn2Click);
}

TNewWindow::~TNewWindow() {
  if (NewWindow == this) NewWindow = nullptr;
}

void TNewWindow::showEvent(QShowEvent* e) {
  QDialog::showEvent(e);
  plat::CentreOnScreen(this);
  FormActivate();
  plat::StartDialog(BitBtn1, EditWidth);
}

void TNewWindow::FormActivate() {
  const int t = TabControl1->currentIndex();
  if (t == kClipboardTab) {
    const QImage image = QApplication::clipboard()->image();
    if (!image.isNull()) {
      UpDownWidth->SetPosition(image.width());
      UpDownHeight->SetPosition(image.height());
      return;
    }
    // Changing the tab runs this again for tab "*1".
    TabControl1->setCurrentIndex(0);
    return;
  }
  plat::TRegistry reg;
  reg.OpenKey(kVelloraKey, true);
  UpDownWidth->SetPosition(reg.ReadInteger(SizeName("NewWidth", t)).value_or(480));
  UpDownHeight->SetPosition(reg.ReadInteger(SizeName("NewHeight", t)).value_or(320));
}

void TNewWindow::TabControl1Change() { FormActivate(); }

void TNewWindow::BitBtn1Click() {
  UpDownWidth->Commit();
  UpDownHeight->Commit();
  done(QDialog::Accepted);
  int32_t w = UpDownWidth->Position();
  int32_t h = UpDownHeight->Position();
  if (w == 0 || h == 0 || !VLMain) return;
  const int t = TabControl1->currentIndex();
  if (TDrawWindow* active = VLMain->ActiveDrawWindow(); active && active->IsMaximized()) active->SetNormalState();
  TDrawWindow* win = VLMain->CreateDrawWindow("");
  w = std::min(w, kMaxNewSide);
  h = std::min(h, kMaxNewSide);
  win->Paper->Init("SanNom", w, h);
  win->Packets[0]->WriteNewPaper(w, h);
  VLMain->PlaceNewWindow(win);
  VLMain->CentrePaper(win);
  win->SetCaption(win->Paper->Caption());
  if (PreviewWindow) PreviewWindow->NeedsFit = true;
  plat::TRegistry reg;
  if (reg.OpenKey(kVelloraKey, true)) {
    reg.WriteInteger(SizeName("NewWidth", t), w);
    reg.WriteInteger(SizeName("NewHeight", t), h);
  }
}

void TNewWindow::BitBtn2Click() { reject(); }
