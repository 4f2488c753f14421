// The main window's edit commands and keyboard shortcuts.
#include "painter/DrawWin.h"
#include "painter/Main.h"

void TVLMain::Edit1Click() {}
void TVLMain::HandleKey(int) {}
void TVLMain::CopyItemClick() {}
void TVLMain::PasteItemClick() {}
void TVLMain::PaperColorItemClick() {}
void TVLMain::VFlipItemClick() {}
void TVLMain::HFlipItemClick() {}
void TVLMain::Rotate180ItemClick() {}
void TVLMain::NegaPosiItemClick() {}
void TVLMain::RotateRightItemClick() {}
void TVLMain::RotateLeftItemClick() {}
