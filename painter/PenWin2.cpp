#include "painter/PenWin2.h"

TPenWindow2* PenWindow2 = nullptr;

TPenWindow2::TPenWindow2(QWidget* owner) : plat::TToolWindow(owner) { setObjectName("PenWindow2"); }
TPenWindow2::~TPenWindow2() {
  if (PenWindow2 == this) PenWindow2 = nullptr;
}
void TPenWindow2::Redraw(TStroke&, bool) {}
void TPenWindow2::SelectBrush(int32_t) {}
void TPenWindow2::UpdateCaption(TStroke&) {}
int32_t TPenWindow2::PresetIndex() const { return 0; }
int32_t TPenWindow2::NextPreset() { return 0; }
int32_t TPenWindow2::PrevPreset() { return 0; }
void TPenWindow2::SetDefaultPosition() {}
