#pragma once
// The colour window: hue row, saturation/value square and the stock colours.
#include <cstdint>

#include "platform/qt/ToolWindow.h"

class TColorWindow : public plat::TToolWindow {
  Q_OBJECT
 public:
  explicit TColorWindow(QWidget* owner = nullptr);
  ~TColorWindow() override;
  // Repaints everything; returns the picked colour.
  uint32_t Redraw(bool fromSquare, uint32_t colour);
  void FindColor(uint32_t colour);
  void SetDefaultPosition();
};

extern TColorWindow* ColorWindow;
