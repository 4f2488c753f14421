#pragma once
// The layer window: the layer list of the active paper.
#include "platform/qt/ToolWindow.h"

class TPaper;

class TLayerWindow : public plat::TToolWindow {
  Q_OBJECT
 public:
  explicit TLayerWindow(QWidget* owner = nullptr);
  ~TLayerWindow() override;
  // Draws the rows of the paper's layers; no paper clears the list.
  void DrawLayers(TPaper* paper);
  void ClearList();
  void SetDefaultPosition();
};

extern TLayerWindow* LayerWindow;
