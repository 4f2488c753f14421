#include "painter/LayerWin.h"

#include <QMenu>
#include <QMenuBar>
#include <QResizeEvent>
#include <QShowEvent>
#include <QStatusBar>
#include <QTimer>
#include <algorithm>

#include "engine/EventPacket.h"
#include "engine/LayerMng.h"
#include "engine/Paper.h"
#include "painter/DrawWin.h"
#include "painter/Localize.h"
#include "painter/Main.h"
#include "painter/MousePaintBox.h"
#include "painter/ToolArt.h"
#include "painter/ToolWinShared.h"
#include "platform/core/MessageBox.h"
#include "platform/qt/Desktop.h"
#include "platform/qt/Placement.h"
#include "session/NetState.h"

TLayerWindow* LayerWindow = nullptr;

namespace {

constexpr int32_t kStatusHeight = 19;
constexpr uint32_t kListGrey = 0xFF808080u;
constexpr int32_t kOpacityZoneLeft = 108, kOpacityZoneRight = 172;
const char* const kCombineQuestion = "取り消し出来ませんが、統合しますか？";
const char* const kCombineRefused = "別種レイヤの統合は出来ません！";
const char* const kWarningTitle = "警告";

bool InSession(const TPaper& paper) { return paper.NetMode == 1; }

// A layer of the local member: every layer outside a session; in a session the layers
// i div L = member index, and none at all for a layer count L outside 1..4.
bool OwnLayer(const TPaper& paper, int32_t i) {
  if (!InSession(paper)) return true;
  const int32_t L = NetState.LayersPerMember;
  return L >= 1 && L <= 4 && i >= 0 && i / L == paper.MemberIndex;
}

// Next blending kind of the kind icon; the ARGB kind stays.
uint8_t NextKind(uint8_t k) {
  switch (k) {
    case lkMultiply: return lkAdd;
    case lkAdd: return lkSubtract;
    case lkSubtract: return lkMultiply;
    default: return k;
  }
}

}  // namespace

TLayerWindow::TLayerWindow(QWidget* owner) : plat::TToolWindow(owner) {
  setObjectName("LayerWindow");
  setWindowTitle(QString::fromUtf8("レイヤー管理"));
  setMinimumSize(210, 120);
  setMaximumWidth(210);

  MainMenu1 = new QMenuBar(this);
  MainMenu1->setObjectName("MainMenu1");
  MainMenu1->setNativeMenuBar(false);
  auto menu = [this](const char* name, const char* caption, void (TLayerWindow::*onOpen)()) {
    QMenu* m = MainMenu1->addMenu(QString::fromUtf8(caption));
    m->setObjectName(name);
    connect(m, &QMenu::aboutToShow, this, onOpen);
    return m;
  };
  auto item = [this](QMenu* m, const char* name, const char* caption, void (TLayerWindow::*slot)()) {
    QAction* a = m->addAction(QString::fromUtf8(caption));
    a->setObjectName(name);
    connect(a, &QAction::triggered, this, slot);
    return a;
  };
  LayerItem = menu("LayerItem", "レイヤー", &TLayerWindow::LayerItemClick);
  MultiItem = item(LayerItem, "MultiItem", "新規作成 (乗算レイヤ / 標準)", &TLayerWindow::MultiItemClick);
  AddItem = item(LayerItem, "AddItem", "新規作成 (加算レイヤ)", &TLayerWindow::AddItemClick);
  SubItem = item(LayerItem, "SubItem", "新規作成 (減算レイヤ)", &TLayerWindow::SubItemClick);
  LayerItem->addSeparator()->setObjectName("N4");
  DeleteItem = item(LayerItem, "DeleteItem", "アクティブレイヤの削除", &TLayerWindow::DeleteItemClick);
  EditItem = menu("EditItem", "編集", &TLayerWindow::EditItemClick);
  CombineItem = item(EditItem, "CombineItem", "表示部分の統合", &TLayerWindow::CombineItemClick);
  CopyItem = item(EditItem, "CopyItem", "アクティブレイヤの複製", &TLayerWindow::CopyItemClick);
  CombLowerItem = item(EditItem, "CombLowerItem", "下のレイヤに統合", &TLayerWindow::CombLowerItemClick);
  FilterItem = menu("FilterItem", "フィルタ", &TLayerWindow::FilterItemClick);
  UpsideDownItem =
      item(FilterItem, "UpsideDownItem", "アクティブレイヤの上下反転", &TLayerWindow::UpsideDownItemClick);
  MirrorItem = item(FilterItem, "MirrorItem", "アクティブレイヤの左右反転", &TLayerWindow::MirrorItemClick);
  NegaposiItem = item(FilterItem, "NegaposiItem", "アクティブレイヤのネガポジ反転", &TLayerWindow::NegaposiItemClick);
  Rot180Item = item(FilterItem, "Rot180Item", "アクティブレイヤの180度回転", &TLayerWindow::Rot180ItemClick);

  ListBox = new TMousePaintBox(this, "ListBox", 0, 0, LayerRowWidth, LayerRowHeight);
  ListBox->OnMouseDown = [this](Qt::MouseButton b, Qt::KeyboardModifiers mods, int32_t x, int32_t y) {
    if (b == Qt::LeftButton) ListMouseDown(mods, x, y);
  };
  ListBox->OnMouseMove = [this](Qt::KeyboardModifiers, int32_t x, int32_t y) { ListMouseMove(x, y); };
  ListBox->OnMouseUp = [this](Qt::MouseButton b, Qt::KeyboardModifiers, int32_t x, int32_t y) {
    if (b == Qt::LeftButton) ListMouseUp(x, y);
  };

  ScrollBar1 = std::make_unique<plat::TQtScrollBar>(Qt::Vertical, this);
  ScrollBar1->Bar()->setObjectName("ScrollBar1");
  ScrollBar1->SetSmallChange(25);
  ScrollBar1->SetLargeChange(25);
  ScrollBar1->SetPage(0);
  ScrollBar1->Bar()->setEnabled(false);
  ScrollBar1->OnScroll = [this] { ScrollBar1Change(); };

  StatusBar1 = new QStatusBar(this);
  StatusBar1->setObjectName("StatusBar1");
  StatusBar1->setSizeGripEnabled(false);

  Timer1 = new QTimer(this);
  Timer1->setObjectName("Timer1");
  Timer1->setInterval(100);
  connect(Timer1, &QTimer::timeout, this, &TLayerWindow::Timer1Timer);

  // The opacity scale: a wedge that grows and darkens to the right.
  RowTemplate.Fill(0xFFD8D8D8u);
  RowTemplate.DrawRect(0, 0, 125, 50, 0xFF000000u);
  for (int32_t u = 65; u <= 115; ++u) {
    const int32_t bottom = 40 - (u - 65) / 5;
    const uint8_t alpha = static_cast<uint8_t>(TruncInt(ext_t(u - 65) / 50 * 255));
    for (int32_t y = 15; y <= bottom; ++y) RowTemplate.BlendPixel(u, y, 0xFF000000u, alpha);
  }
  PaintLayerIcons(Icons);

  resize(210, 169);
  SetDefaultPosition();
  LoadPlace(kVelloraKey, "LayerX", "LayerY", "LayerWidth", "LayerHeight");
  FormResize();
}

TLayerWindow::~TLayerWindow() {
  SavePlace(kVelloraKey, "LayerX", "LayerY", "LayerWidth", "LayerHeight");
  if (LayerWindow == this) LayerWindow = nullptr;
}

void TLayerWindow::SetDefaultPosition() {
  move(0, plat::ToolAreaHeight() - plat::OuterSize(this).height());
}

int32_t TLayerWindow::ListHeight() const {
  return std::max(1, height() - MainMenu1->sizeHint().height() - kStatusHeight);
}

void TLayerWindow::resizeEvent(QResizeEvent* e) {
  plat::TToolWindow::resizeEvent(e);
  FormResize();
}

void TLayerWindow::FormResize() {
  const int32_t menuHeight = MainMenu1->sizeHint().height();
  const int32_t h = ListHeight();
  MainMenu1->setGeometry(0, 0, width(), menuHeight);
  ListBox->setGeometry(0, menuHeight, width(), h);
  ListSurface.SetSize(width(), h);
  ScrollBar1->SetLeft(width() - ScrollBar1->Thickness());
  ScrollBar1->SetTop(menuHeight);
  ScrollBar1->SetWidth(ScrollBar1->Thickness());
  ScrollBar1->SetHeight(h);
  StatusBar1->setGeometry(0, height() - kStatusHeight, width(), kStatusHeight);
  DrawLayers(toolwin::ActivePaper());
}

void TLayerWindow::showEvent(QShowEvent* e) {
  plat::TToolWindow::showEvent(e);
  FormPaint();
}

void TLayerWindow::FormPaint() { DrawLayers(toolwin::ActivePaper()); }

int32_t TLayerWindow::RowAt(int32_t x, int32_t y, int32_t* rowY) const {
  return RowIn(toolwin::ActivePaper(), x, y, rowY);
}

int32_t TLayerWindow::RowIn(const TPaper* paper, int32_t, int32_t y, int32_t* rowY) const {
  if (!paper || !paper->Layers || y < 0) return -1;
  const int64_t t = int64_t(y) + ScrollBar1->Position();
  const int64_t h = int64_t(paper->Layers->LastIndex() + 1) * LayerRowHeight;
  // The row formula would give layer 0 for the pixel just below the last row.
  if (t >= h) return -1;
  if (rowY) *rowY = static_cast<int32_t>(t % LayerRowHeight);
  return static_cast<int32_t>((h - t - 1) / LayerRowHeight);
}

void TLayerWindow::DrawRow(TPaper& paper, TTCDC& s, int32_t top, int32_t index) {
  const TLayerMng& layers = *paper.Layers;
  RowTemplate.CopyTo(s, 50, top);
  if (index == layers.ActiveIndex()) s.BlendFillRect(0, top, LayerRowWidth, LayerRowHeight, 0xFF0000FFu, 64);
  Icons[layers.LayerVisible(index) ? 0 : 1].CopyTo(s, 0, top);
  Icons[2 + std::min<int32_t>(layers.LayerKind(index), 3)].CopyTo(s, 25, top);
  s.FillRect(114 + TruncInt(ext_t(layers.LayerOpacity(index)) / 255 * 50), top + 11, 3, 3, 0xFFFF0000u);
  if (const TTC* thumb = layers.LayerThumbnail(index)) {
    const int32_t x = 81 - thumb->Width() / 2, y = top + 25 - thumb->Height() / 2;
    thumb->CopyTo(s, x, y);
    s.DrawRect(x, y, thumb->Width(), thumb->Height(), 0xFF606060u);
  }
  if (InSession(paper) && !OwnLayer(paper, index))
    s.BlendFillRect(0, top, LayerRowWidth, LayerRowHeight, 0xFF000000u, 96);
}

void TLayerWindow::DrawLayers(TPaper* paper) {
  if (!paper || !paper->Layers) {
    ClearList();
    return;
  }
  const int32_t n = paper->Layers->LastIndex() + 1, last = n - 1;
  const int32_t visible = ListHeight();
  if (ListSurface.Width() != width() || ListSurface.Height() != visible) ListSurface.SetSize(width(), visible);
  if (visible < n * LayerRowHeight) {
    ScrollBar1->SetMax(n * LayerRowHeight);
    ScrollBar1->SetPage(visible);
    // The bar keeps its position inside the new range.
    if (ScrollBar1->Position() > n * LayerRowHeight - visible) ScrollBar1->SetPosition(n * LayerRowHeight - visible);
    ScrollBar1->Bar()->setEnabled(true);
  } else {
    ScrollBar1->SetPosition(0);
    ScrollBar1->Bar()->setEnabled(false);
  }

  int32_t target = -1;
  bool gap = false;
  if (Reordering) {
    target = RowIn(paper, DragX, DragY);
    gap = target >= 0 && target <= last && target != DragFrom;
  }
  ListSurface.Fill(kListGrey);
  const int32_t pos = ScrollBar1->Position();
  for (int32_t i = 0; i <= last; ++i) {
    int32_t shift = 0;
    if (gap && target < DragFrom && i >= target) shift = -20;
    if (gap && target > DragFrom && i <= target) shift = 20;
    DrawRow(*paper, ListSurface, LayerRowHeight * (last - i) - pos + shift, i);
  }
  if (gap) {
    DragSurface.Fill(kListGrey);
    DrawRow(*paper, DragSurface, 0, DragFrom);
    DragSurface.BlendRectTo(ListSurface, 0, 0, LayerRowWidth, LayerRowHeight, DragX - 87, DragY - 25, 200);
    ListSurface.BlendFillRect(DragX - 87, DragY - 25, LayerRowWidth, LayerRowHeight, 0xFFFF0000u, 64);
  }
  Present();
}

void TLayerWindow::ClearList() {
  ScrollBar1->SetPosition(0);
  ScrollBar1->Bar()->setEnabled(false);
  ListSurface.Fill(kListGrey);
  Present();
}

void TLayerWindow::Present() { ListBox->Show(ListSurface); }

void TLayerWindow::ScrollBar1Change() { DrawLayers(toolwin::ActivePaper()); }

void TLayerWindow::Timer1Timer() {
  if (!Reordering) return;
  const int32_t top = std::max(0, ScrollBar1->Max() - ScrollBar1->Page());
  if (DragY < 0) ScrollBar1->SetPosition(std::max(0, ScrollBar1->Position() - 10));
  if (DragY > ListHeight()) ScrollBar1->SetPosition(std::min(top, ScrollBar1->Position() + 10));
  ScrollBar1Change();
}

TDrawWindow* TLayerWindow::Target() const {
  TDrawWindow* dw = toolwin::ActivePaperWindow();
  if (!dw || dw->Playing || toolwin::OwnStrokeOpen()) return nullptr;
  return dw;
}

// ---- The list ------------------------------------------------------------------------------

void TLayerWindow::ListMouseDown(Qt::KeyboardModifiers mods, int32_t x, int32_t y) {
  TDrawWindow* dw = Target();
  if (!dw) return;
  TPaper& paper = *dw->Paper;
  TLayerMng& layers = *paper.Layers;
  const int32_t index = RowAt(x, y);
  if (index < 0) return;
  const uint8_t i = static_cast<uint8_t>(index);
  TEventPacket& own = dw->OwnPacket();

  if (x >= 0 && x <= 24) {
    if (mods & Qt::ControlModifier) {
      if (InSession(paper)) return;
      own.WriteShowOnly(i);
      layers.ShowOnly(index);
    } else {
      const uint8_t v = layers.LayerVisible(index) ? 0 : 1;
      own.WriteLayerVisible(i, v);
      layers.SetVisible(index, v);
    }
    VLMain->PaperChanged(false);
    return;
  }
  if (x >= 25 && x <= 49) {
    const uint8_t kind = layers.LayerKind(index), next = NextKind(kind);
    if (next != kind) {
      own.WriteLayerKind(i, next);
      layers.SetLayerKind(index, next);
    }
    VLMain->PaperChanged(false);
    return;
  }
  if (x < 50) return;
  const bool active = index == layers.ActiveIndex();
  if (active && x >= kOpacityZoneLeft && x <= kOpacityZoneRight) {
    OpacityDrag = true;
    DragFrom = index;
    pressOpacity_ = layers.LayerOpacity(index);
    return;
  }
  if (x >= LayerRowWidth) return;
  if (!active) {
    if (!InSession(paper)) {
      dw->Packets[0]->WriteSelectLayer(i);
      layers.SetActiveLayer(index);
    } else if (OwnLayer(paper, index)) {
      own.WriteSelectLayer(i);
      layers.SetActiveLayer(index);
    }
  } else if (!InSession(paper)) {
    Timer1->start();
    Reordering = true;
    DragX = x;
    DragY = y;
    DragFrom = index;
  }
  DrawLayers(&paper);
}

void TLayerWindow::ListMouseMove(int32_t x, int32_t y) {
  TDrawWindow* dw = toolwin::ActivePaperWindow();
  if (!dw || dw->Playing) return;
  if (OpacityDrag) {
    ext_t t = ext_t(x - 116) / 50;
    if (t < 0) t = 0;
    if (t >= 0.98L) t = 1;
    dw->Paper->Layers->ChangeOpacity(DragFrom, static_cast<uint8_t>(TruncInt(t * 255)));
  }
  if (Reordering) {
    DragX = x;
    DragY = y;
  }
  if (OpacityDrag || Reordering) DrawLayers(dw->Paper.get());
}

void TLayerWindow::ListMouseUp(int32_t x, int32_t y) {
  TDrawWindow* dw = toolwin::ActivePaperWindow();
  const bool wasReordering = Reordering, wasOpacity = OpacityDrag;
  Reordering = false;
  OpacityDrag = false;
  Timer1->stop();
  if (!dw || dw->Playing) {
    DrawLayers(toolwin::ActivePaper());
    return;
  }
  TLayerMng& layers = *dw->Paper->Layers;
  // A stroke opened meanwhile (by the tablet) must not see a change it does not record.
  const bool strokeOpen = toolwin::OwnStrokeOpen();
  if (wasReordering && !strokeOpen) {
    const int32_t target = RowAt(x, y);
    if (target >= 0 && target <= layers.LastIndex() && target != DragFrom) {
      dw->Packets[0]->WriteMoveLayer(static_cast<uint8_t>(DragFrom), static_cast<uint8_t>(target));
      layers.MoveLayer(DragFrom, target);
      VLMain->PaperChanged(false);
    }
  }
  if (wasOpacity) {
    if (strokeOpen) {
      layers.ChangeOpacity(DragFrom, pressOpacity_);
    } else {
      dw->OwnPacket().WriteLayerOpacity(static_cast<uint8_t>(DragFrom), layers.LayerOpacity(DragFrom));
      dw->RecompositeAll();
    }
  }
  DrawLayers(dw->Paper.get());
}

// ---- Menus ---------------------------------------------------------------------------------

bool TLayerWindow::CanUseStackCommands(TDrawWindow* dw) const {
  return dw && !dw->Playing && !InSession(*dw->Paper);
}

bool TLayerWindow::CanUseFilters(TDrawWindow* dw) const { return dw && !dw->Playing; }

void TLayerWindow::LayerItemClick() {
  TDrawWindow* dw = toolwin::ActivePaperWindow();
  const bool open = CanUseStackCommands(dw);
  const bool canAdd = open && dw->Paper->Layers->CanAddLayer();
  MultiItem->setEnabled(canAdd);
  AddItem->setEnabled(canAdd);
  SubItem->setEnabled(canAdd);
  DeleteItem->setEnabled(open && dw->Paper->Layers->CanDeleteLayer());
}

void TLayerWindow::EditItemClick() {
  TDrawWindow* dw = toolwin::ActivePaperWindow();
  const bool open = CanUseStackCommands(dw);
  const TLayerMng* layers = open ? dw->Paper->Layers.get() : nullptr;
  CopyItem->setEnabled(layers && layers->CanAddLayer());
  CombineItem->setEnabled(layers && layers->CanCombineVisible());
  CombLowerItem->setEnabled(layers && layers->CanCombineLower(layers->ActiveIndex()));
}

void TLayerWindow::FilterItemClick() {
  const bool open = CanUseFilters(toolwin::ActivePaperWindow());
  for (QAction* a : {UpsideDownItem, MirrorItem, NegaposiItem, Rot180Item}) a->setEnabled(open);
}

void TLayerWindow::Refresh() { VLMain->PaperChanged(false); }

void TLayerWindow::FocusMain() {
  if (VLMain) VLMain->activateWindow();
}

void TLayerWindow::NewLayer(uint8_t kind) {
  TDrawWindow* dw = Target();
  if (!CanUseStackCommands(dw) || !dw->Paper->Layers->CanAddLayer()) return;
  dw->Packets[0]->WriteNewLayer(kind);
  dw->Paper->Layers->AddLayer(kind);
  DrawLayers(dw->Paper.get());
  FocusMain();
}

void TLayerWindow::MultiItemClick() { NewLayer(lkMultiply); }
void TLayerWindow::AddItemClick() { NewLayer(lkAdd); }
void TLayerWindow::SubItemClick() { NewLayer(lkSubtract); }

void TLayerWindow::DeleteItemClick() {
  TDrawWindow* dw = Target();
  if (!CanUseStackCommands(dw) || !dw->Paper->Layers->CanDeleteLayer()) return;
  int answer;
  {
    plat::TBusyCursor busy;
    answer = plat::MessageBox(msgNoUndo, "", unsigned(plat::MB_YESNO) | plat::MB_ICONQUESTION);
  }
  // The question runs a modal loop: look again at what it was asked about.
  dw = Target();
  if (answer != plat::IDYES || !CanUseStackCommands(dw) || !dw->Paper->Layers->CanDeleteLayer()) return;
  TLayerMng& layers = *dw->Paper->Layers;
  const int32_t a = layers.ActiveIndex();
  dw->Packets[0]->WriteDeleteLayer(static_cast<uint8_t>(a));
  layers.DeleteLayer(a);
  Refresh();
  FocusMain();
}

void TLayerWindow::CombineItemClick() {
  TDrawWindow* dw = Target();
  if (!CanUseStackCommands(dw) || !dw->Paper->Layers->CanCombineVisible()) return;
  if (plat::MessageBox(kCombineQuestion, "", unsigned(plat::MB_YESNO) | plat::MB_ICONQUESTION) != plat::IDYES) return;
  dw = Target();
  if (!CanUseStackCommands(dw) || !dw->Paper->Layers->CanCombineVisible()) return;
  TLayerMng& layers = *dw->Paper->Layers;
  {
    plat::TBusyCursor busy;
    dw->Packets[0]->WriteCombineVisible();
    if (!layers.CombineVisible()) plat::MessageBox(kCombineRefused, kWarningTitle, unsigned(plat::MB_OK) | plat::MB_ICONWARNING);
    dw->Packets[0]->WriteClearUndoAll();
    layers.ClearAllUndo();
    Refresh();
  }
  FocusMain();
}

void TLayerWindow::CopyItemClick() {
  TDrawWindow* dw = Target();
  if (!CanUseStackCommands(dw) || !dw->Paper->Layers->CanAddLayer()) return;
  TLayerMng& layers = *dw->Paper->Layers;
  {
    plat::TBusyCursor busy;
    const int32_t a = layers.ActiveIndex();
    dw->Packets[0]->WriteDuplicateLayer(static_cast<uint8_t>(a));
    layers.DuplicateLayer(a);
    Refresh();
  }
  FocusMain();
}

void TLayerWindow::CombLowerItemClick() {
  TDrawWindow* dw = Target();
  auto allowed = [this](TDrawWindow* w) {
    return CanUseStackCommands(w) && w->Paper->Layers->CanCombineLower(w->Paper->Layers->ActiveIndex());
  };
  if (!allowed(dw)) return;
  if (plat::MessageBox(kCombineQuestion, "", unsigned(plat::MB_YESNO) | plat::MB_ICONQUESTION) != plat::IDYES) return;
  dw = Target();
  if (!allowed(dw)) return;
  TLayerMng& layers = *dw->Paper->Layers;
  {
    plat::TBusyCursor busy;
    const int32_t a = layers.ActiveIndex();
    dw->Packets[0]->WriteCombineLower(static_cast<uint8_t>(a));
    layers.CombineLower(a);
    dw->Packets[0]->WriteClearUndoAll();
    layers.ClearAllUndo();
    Refresh();
  }
  FocusMain();
}

template <typename Apply>
void TLayerWindow::Filter(TDrawWindow* dw, Apply apply) {
  plat::TBusyCursor busy;
  TLayerMng& layers = *dw->Paper->Layers;
  const int32_t a = layers.ActiveIndex();
  layers.PushUndo(a);
  apply(dw->OwnPacket(), layers, a);
  Refresh();
}

void TLayerWindow::UpsideDownItemClick() {
  TDrawWindow* dw = Target();
  if (!CanUseFilters(dw)) return;
  Filter(dw, [](TEventPacket& own, TLayerMng& layers, int32_t a) {
    own.WriteLayerUpsideDown(static_cast<uint8_t>(a));
    layers.UpsideDown(a);
  });
}

void TLayerWindow::MirrorItemClick() {
  TDrawWindow* dw = Target();
  if (!CanUseFilters(dw)) return;
  Filter(dw, [](TEventPacket& own, TLayerMng& layers, int32_t a) {
    own.WriteLayerMirror(static_cast<uint8_t>(a));
    layers.Mirror(a);
  });
  FocusMain();
}

void TLayerWindow::NegaposiItemClick() {
  TDrawWindow* dw = Target();
  if (!CanUseFilters(dw)) return;
  Filter(dw, [](TEventPacket& own, TLayerMng& layers, int32_t a) {
    own.WriteLayerNegaPosi(static_cast<uint8_t>(a));
    layers.NegaPosi(a);
  });
  FocusMain();
}

void TLayerWindow::Rot180ItemClick() {
  TDrawWindow* dw = Target();
  if (!CanUseFilters(dw)) return;
  // Recorded after the turn.
  Filter(dw, [](TEventPacket& own, TLayerMng& layers, int32_t a) {
    layers.Rotate180(a);
    own.WriteLayerRotate180(static_cast<uint8_t>(a));
  });
  FocusMain();
}
