// The update loop of the main window: autosave, playback steps, the session's pump, the tool
// windows following the active paper.
#include <QTimer>

#include "painter/DrawWin.h"
#include "painter/Main.h"

void TVLMain::SetUpdateMode(bool on) {}
bool TVLMain::AnyPlaying() const { return false; }
bool TVLMain::AnyNetworkPaper() const { return false; }
void TVLMain::AppIdle() {}
void TVLMain::UpdateStep() {}
bool TVLMain::HeldKeysDown() const { return false; }
void TVLMain::NetworkStep(int32_t) {}
void TVLMain::UpdateTimerTimer() { UpdateStep(); }
