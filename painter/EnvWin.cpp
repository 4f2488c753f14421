#include "painter/EnvWin.h"

#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <algorithm>

#include "engine/Paper.h"
#include "painter/DrawWin.h"
#include "painter/Main.h"
#include "painter/WinTab32.h"
#include "platform/core/Settings.h"
#include "platform/qt/Desktop.h"
#include "platform/qt/Placement.h"
#include "platform/qt/Translations.h"

TEnvWindow* EnvWindow = nullptr;

namespace {
constexpr int32_t kDefaultJpegQuality = 80;
}

int32_t JpegSaveQuality() { return EnvWindow ? EnvWindow->JpegQuality : kDefaultJpegQuality; }

TEnvWindow::TEnvWindow(QWidget* owner) : QDialog(owner) {
  setObjectName("EnvWindow");
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowStaysOnTopHint);
  setWindowTitle(QString::fromUtf8("環境設定"));
  setFont(plat::UiFont());
  setFixedSize(311, 69);
  setModal(true);

  LabelJpeg = new QLabel(QString::fromUtf8("JPEG保存品質"), this);
  LabelJpeg->setObjectName("LabelJpeg");
  LabelJpeg->move(8, 8);
  TrackBarJpeg = new QSlider(Qt::Horizontal, this);
  TrackBarJpeg->setObjectName("TrackBarJpeg");
  TrackBarJpeg->setGeometry(120, 4, 129, 22);
  TrackBarJpeg->setRange(1, 100);
  TrackBarJpeg->setTickPosition(QSlider::TicksBelow);
  TrackBarJpeg->setTickInterval(10);
  Label2 = new QLabel(this);
  Label2->setObjectName("Label2");
  Label2->move(248, 8);
  Label2->setMinimumWidth(56);

  BitBtn1 = new plat::TStandardButton(QDialogButtonBox::Ok, this);
  BitBtn1->setObjectName("BitBtn1");
  BitBtn1->setGeometry(72, 40, 83, 25);
  BitBtn1->setDefault(true);
  BitBtn2 = new plat::TStandardButton(QDialogButtonBox::Cancel, this);
  BitBtn2->setObjectName("BitBtn2");
  BitBtn2->setGeometry(160, 40, 89, 25);
  connect(TrackBarJpeg, &QSlider::valueChanged, this, &TEnvWindow::TrackBarJpegChange);
  connect(BitBtn1, &QPushButton::clicked, this, &TEnvWindow::BitBtn1Click);
  connect(BitBtn2, &QPushButton::clicked, this, &QDialog::reject);
  FormCreate();
}

TEnvWindow::~TEnvWindow() {
  FormDestroy();
  if (EnvWindow == this) EnvWindow = nullptr;
}

void TEnvWindow::FormCreate() {
  GridWidth = 25;
  JpegQuality = kDefaultJpegQuality;
  TabletCorrect = false;
  TabletCorrectX = 0;
  TabletCorrectY = 0;
  TabletCorrectWidth = 100;
  TabletCorrectHeight = 100;
  plat::TRegistry reg;
  if (reg.OpenKey(kVelloraKey, true)) {
    // Values of another type read as absent and keep their defaults.
    GridWidth = reg.ReadInteger("GridWidth").value_or(GridWidth);
    JpegQuality = std::clamp(reg.ReadInteger("JpegQuality").value_or(JpegQuality), 1, 100);
    TabletCorrect = reg.ReadBool("TabletCorrect").value_or(TabletCorrect);
    TabletCorrectX = reg.ReadInteger("TabletCorrectX").value_or(TabletCorrectX);
    TabletCorrectY = reg.ReadInteger("TabletCorrectY").value_or(TabletCorrectY);
    TabletCorrectWidth = reg.ReadInteger("TabletCorrectWidth").value_or(TabletCorrectWidth);
    TabletCorrectHeight = reg.ReadInteger("TabletCorrectHeight").value_or(TabletCorrectHeight);
  }
  Label2->setText(QString("[%1%]").arg(JpegQuality));
}

void TEnvWindow::FormDestroy() {
  plat::TRegistry reg;
  if (!reg.OpenKey(kVelloraKey, true)) return;
  reg.WriteInteger("GridWidth", GridWidth);
  reg.WriteInteger("JpegQuality", JpegQuality);
  reg.WriteBool("TabletCorrect", TabletCorrect);
  reg.WriteInteger("TabletCorrectX", TabletCorrectX);
  reg.WriteInteger("TabletCorrectY", TabletCorrectY);
  reg.WriteInteger("TabletCorrectWidth", TabletCorrectWidth);
  reg.WriteInteger("TabletCorrectHeight", TabletCorrectHeight);
}

void TEnvWindow::showEvent(QShowEvent* e) {
  QDialog::showEvent(e);
  plat::CentreOnScreen(this);
  FormActivate();
}

void TEnvWindow::FormActivate() {
  TrackBarJpeg->setValue(JpegQuality);
  TrackBarJpegChange();
}

void TEnvWindow::TrackBarJpegChange() { Label2->setText(QString("[%1%]").arg(TrackBarJpeg->value())); }

void TEnvWindow::TabletArea(int32_t& x, int32_t& y, int32_t& width, int32_t& height) const {
  if (TabletCorrect) {
    x = TabletCorrectX;
    y = TabletCorrectY;
    width = TabletCorrectWidth;
    height = TabletCorrectHeight;
  } else {
    x = 0;
    y = 0;
    width = 100;
    height = 100;
  }
}

void TEnvWindow::BitBtn1Click() {
  JpegQuality = TrackBarJpeg->value();
  if (VLMain) {
    if (TDrawWindow* win = VLMain->ActiveDrawWindow(); win && win->Paper && win->Paper->Initialised) {
      win->Paper->Composite();
      win->Redraw();
    }
    if (VLMain->Tablet && VLMain->Tablet->Available()) {
      int32_t x, y, w, h;
      TabletArea(x, y, w, h);
      VLMain->Tablet->CloseContext();
      VLMain->Tablet->OpenContext(VLMain, x, y, w, h);
    }
  }
  accept();
}
