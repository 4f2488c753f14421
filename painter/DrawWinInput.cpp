// The tool steps of the paper window's input: drags, shapes and their recorded events.
#include "painter/DrawWin.h"

void TDrawWindow::ToolMouseDown(Qt::MouseButton, int32_t, int32_t) {}
void TDrawWindow::ToolMouseMove(int32_t, int32_t) {}
void TDrawWindow::ToolMouseUp(Qt::MouseButton, int32_t, int32_t) {}
void TDrawWindow::ToolKeyUp(int) {}
void TDrawWindow::FormDblClick() {}
