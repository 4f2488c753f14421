#pragma once
// The layer window: the layer list of the active paper, top layer first, with each layer's
// eye, kind icon, thumbnail and opacity scale, and a menu of layer commands. Every change goes
// through the layer manager and is recorded in a recorder of the active paper window first
// (the half turn right after it is made), so that playback and the session repeat it.
#include <QPointer>
#include <cstdint>
#include <memory>

#include "engine/TrueCnvs.h"
#include "platform/qt/ScrollBar.h"
#include "platform/qt/ToolWindow.h"

class QAction;
class QMenu;
class QMenuBar;
class QStatusBar;
class QTimer;
class TDrawWindow;
class TMousePaintBox;
class TPaper;

constexpr int32_t LayerRowWidth = 175;
constexpr int32_t LayerRowHeight = 50;

class TLayerWindow : public plat::TToolWindow {
  Q_OBJECT
 public:
  explicit TLayerWindow(QWidget* owner = nullptr);
  ~TLayerWindow() override;

  // Components.
  QMenuBar* MainMenu1 = nullptr;
  TMousePaintBox* ListBox = nullptr;  // the list area under the menu bar
  std::unique_ptr<plat::TQtScrollBar> ScrollBar1;
  QStatusBar* StatusBar1 = nullptr;
  QTimer* Timer1 = nullptr;
  QMenu *LayerItem = nullptr, *EditItem = nullptr, *FilterItem = nullptr;
  QAction *MultiItem = nullptr, *AddItem = nullptr, *SubItem = nullptr, *DeleteItem = nullptr;
  QAction *CombineItem = nullptr, *CopyItem = nullptr, *CombLowerItem = nullptr;
  QAction *UpsideDownItem = nullptr, *MirrorItem = nullptr, *NegaposiItem = nullptr, *Rot180Item = nullptr;

  // Fields.
  TTCDC ListSurface{LayerRowWidth, LayerRowHeight};
  TTCDC RowTemplate{125, 50};
  TTCDC DragSurface{LayerRowWidth, LayerRowHeight};
  TTCDC Icons[6];  // eye open, eye closed, kinds 0..3
  bool OpacityDrag = false;
  bool Reordering = false;
  int32_t DragX = 0, DragY = 0;
  int32_t DragFrom = 0;

  // Layer index under a list point (-1 for none), with the y inside its row, for the active
  // paper or a given one.
  int32_t RowAt(int32_t x, int32_t y, int32_t* rowY = nullptr) const;
  int32_t RowIn(const TPaper* paper, int32_t x, int32_t y, int32_t* rowY = nullptr) const;
  void DrawRow(TPaper& paper, TTCDC& surface, int32_t top, int32_t index);
  // Lays out the scroll bar and draws every row; no paper clears the list.
  void DrawLayers(TPaper* paper);
  void ClearList();
  void Present();
  void SetDefaultPosition();
  // Height of the list area (client height less the menu bar and the status line).
  int32_t ListHeight() const;

 public slots:
  void FormPaint();
  void FormResize();
  void Timer1Timer();
  void ScrollBar1Change();
  void LayerItemClick();
  void EditItemClick();
  void FilterItemClick();
  void MultiItemClick();
  void AddItemClick();
  void SubItemClick();
  void DeleteItemClick();
  void CombineItemClick();
  void CopyItemClick();
  void CombLowerItemClick();
  void UpsideDownItemClick();
  void MirrorItemClick();
  void NegaposiItemClick();
  void Rot180ItemClick();

 protected:
  void showEvent(QShowEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;

 private:
  void ListMouseDown(Qt::KeyboardModifiers mods, int32_t x, int32_t y);
  void ListMouseMove(int32_t x, int32_t y);
  void ListMouseUp(int32_t x, int32_t y);
  // The paper window the list acts on now: none without one, in playback or during a stroke.
  TDrawWindow* Target() const;
  // The conditions that enable the menu items, checked again when a command runs.
  bool CanUseStackCommands(TDrawWindow* dw) const;
  bool CanUseFilters(TDrawWindow* dw) const;
  void NewLayer(uint8_t kind);
  void Refresh();
  void FocusMain();
  template <typename Apply>
  void Filter(TDrawWindow* dw, Apply apply);

  uint8_t pressOpacity_ = 255;
};

extern TLayerWindow* LayerWindow;
