#pragma once
// The brush window: the current brush's kind, presets and parameters.
#include <cstdint>
#include <string>

#include "platform/qt/ToolWindow.h"

class TStroke;

class TPenWindow2 : public plat::TToolWindow {
  Q_OBJECT
 public:
  explicit TPenWindow2(QWidget* owner = nullptr);
  ~TPenWindow2() override;
  std::string CaptionPrefix;
  // Repaints the window for `brush`; with `caption` the caption follows its kind.
  void Redraw(TStroke& brush, bool caption);
  // Selects the brush icon 0..3 (pen, watercolour, blur, eraser).
  void SelectBrush(int32_t icon);
  void UpdateCaption(TStroke& brush);
  int32_t PresetIndex() const;
  int32_t NextPreset();
  int32_t PrevPreset();
  void SetDefaultPosition();
};

extern TPenWindow2* PenWindow2;
