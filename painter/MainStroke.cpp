// Stroke input of the main window: mouse and tablet points become recorded brush strokes.
#include "painter/DrawWin.h"
#include "painter/Main.h"

void TVLMain::StrokeTo(int32_t, int32_t, float, float, bool) {}
void TVLMain::EndStroke(int32_t, int32_t, float, bool) {}
bool TVLMain::AppMessage(QEvent*) { return false; }
