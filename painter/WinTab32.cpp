#include "painter/WinTab32.h"

TWinTab32::TWinTab32() = default;
TWinTab32::~TWinTab32() = default;

bool TWinTab32::OpenContext(QWidget*, int32_t, int32_t, int32_t, int32_t) { return false; }
void TWinTab32::CloseContext() { open_ = false; }
bool TWinTab32::HandleMessage(QEvent*) { return false; }
