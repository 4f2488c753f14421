#include "painter/SizeWin.h"

#include <QLabel>
#include <QLineEdit>
#include <QMdiSubWindow>
#include <QPushButton>
#include <QRadioButton>

#include "engine/EventPacket.h"
#include "engine/LayerMng.h"
#include "engine/Paper.h"
#include "painter/DrawWin.h"
#include "painter/LayerWin.h"
#include "painter/Localize.h"
#include "painter/Main.h"
#include "painter/PreviewWin.h"
#include "painter/UpDown.h"
#include "platform/qt/Desktop.h"
#include "platform/qt/Placement.h"
#include "platform/qt/Translations.h"

TSizeWindow* SizeWindow = nullptr;

namespace {
constexpr int kMaxSide = 5000;
}

bool PaperDialogAllowed(const TDrawWindow* win) {
  return win && win->Paper && win->Paper->Initialised && !win->Paper->NetMode && !win->Playing;
}

void FinishPaperDialog(TDrawWindow* win) {
  TPaper& p = *win->Paper;
  win->Packets[0]->WriteClearUndoAll();
  p.Layers->ClearAllUndo();
  win->SetCaption(p.Caption());
  if (win->IsNormalState()) {
    p.Display.FitWindow(p.Width(), p.Height(), *win);
    if (QMdiSubWindow* sub = win->SubWindow()) sub->move(0, 0);
    if (VLMain) VLMain->PlacePaperWindow(win);
  }
  win->RecompositeAll();
  if (LayerWindow) LayerWindow->DrawLayers(&p);
  if (PreviewWindow) PreviewWindow->NeedsFit = true;
}

TSizeWindow::TSizeWindow(QWidget* owner) : QDialog(owner) {
  setObjectName("SizeWindow");
  setWindowFlags(Qt::Dialog | Qt::Tool | Qt::WindowStaysOnTopHint);
  setFont(plat::UiFont());
  setFixedSize(286, 162);
  setModal(true);

  auto label = [this](const char* name, const char* text, int x, int y) {
    auto* l = new QLabel(QString::fromUtf8(text), this);
    l->setObjectName(name);
    l->move(x, y);
    return l;
  };
  LabelWidth = label("LabelWidth", "幅", 16, 20);
  LabelHeight = label("LabelHeight", "高さ", 16, 52);
  Label1 = label("Label1", "[ pixel ]", 136, 20);
  Label2 = label("Label2", "[ pixel ]", 136, 52);

  EditWidth = new QLineEdit(this);
  EditWidth->setObjectName("EditWidth");
  EditWidth->setGeometry(56, 16, 57, 20);
  UpDownWidth = new TUpDown(EditWidth, 1, kMaxSide, 1, this);
  UpDownWidth->setObjectName("UpDownWidth");
  UpDownWidth->move(113, 16);
  EditHeight = new QLineEdit(this);
  EditHeight->setObjectName("EditHeight");
  EditHeight->setGeometry(56, 48, 57, 20);
  UpDownHeight = new TUpDown(EditHeight, 1, kMaxSide, 1, this);
  UpDownHeight->setObjectName("UpDownHeight");
  UpDownHeight->move(113, 48);
  for (QLineEdit* e : {EditWidth, EditHeight}) MakeDigitEdit(e);

  static const char* const captions[9] = {"左上寄せ", "上寄せ",   "右上寄せ", "左寄せ",  "中央",
                                          "右寄せ",   "左下寄せ", "下寄せ",   "右下寄せ"};
  static const int columns[3] = {32, 112, 184};
  static const int rows[3] = {88, 112, 136};
  for (int i = 0; i < 9; ++i) {
    auto* r = new QRadioButton(QString::fromUtf8(captions[i]), this);
    r->setObjectName(QString("RadioButton%1").arg(i + 1));
    r->move(columns[i % 3], rows[i / 3]);
    RadioButtons[i] = r;
  }
  RadioButtons[4]->setChecked(true);

  BitBtn1 = new plat::TStandardButton(QDialogButtonBox::Ok, this);
  BitBtn1->setObjectName("BitBtn1");
  BitBtn1->setGeometry(192, 16, 75, 25);
  BitBtn1->setDefault(true);
  BitBtn2 = new plat::TStandardButton(QDialogButtonBox::Cancel, this);
  BitBtn2->setObjectName("BitBtn2");
  BitBtn2->setGeometry(192, 48, 75, 25);
  connect(BitBtn1, &QPushButton::clicked, this, &TSizeWindow::BitBtn1Click);
  connect(BitBtn2, &QPushButton::clicked, this, &TSizeWindow::BitBtn2Click);
}

TSizeWindow::~TSizeWindow() {
  if (SizeWindow == this) SizeWindow = nullptr;
}

void TSizeWindow::showEvent(QShowEvent* e) {
  QDialog::showEvent(e);
  plat::CentreOnScreen(this);
  FormActivate();
  plat::StartDialog(BitBtn1, EditWidth);
}

int TSizeWindow::Anchor() const {
  for (int i = 8; i >= 0; --i)
    if (RadioButtons[i]->isChecked()) return i;
  return 4;
}

void TSizeWindow::FormActivate() {
  TDrawWindow* win = VLMain ? VLMain->ActiveDrawWindow() : nullptr;
  if (!win || !win->Paper || !win->Paper->Initialised) return;
  const TPaper& p = *win->Paper;
  setWindowTitle(QString::fromStdString(msgTitleResize + " - " + plat::FileNameOf(p.Name) + " " +
                                        std::to_string(p.Width()) + "*" + std::to_string(p.Height())));
  UpDownWidth->SetPosition(p.Width());
  UpDownHeight->SetPosition(p.Height());
}

void TSizeWindow::BitBtn1Click() {
  TDrawWindow* win = VLMain ? VLMain->ActiveDrawWindow() : nullptr;
  if (!PaperDialogAllowed(win)) {
    reject();
    return;
  }
  plat::TBusyCursor busy;
  UpDownWidth->Commit();
  UpDownHeight->Commit();
  const int32_t w = UpDownWidth->Position();
  const int32_t h = UpDownHeight->Position();
  const int anchor = Anchor();
  TMyMemory& record = win->Packets[0]->Data();
  const int32_t before = record.Size();
  win->Packets[0]->WriteCanvasSize(w, h, static_cast<uint8_t>(anchor));
  if (!win->Paper->ChangeCanvasSize(w, h, anchor)) {
    // Out of memory: the paper is unchanged, so the record must not claim the change.
    record.SetSize(before);
    reject();
    return;
  }
  FinishPaperDialog(win);
  accept();
}

void TSizeWindow::BitBtn2Click() { reject(); }
