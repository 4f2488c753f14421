#pragma once
// The screen cursors the tool modes pick by number: 5 plus, 6 minus, 7 eyedropper, 8 pen,
// 9 dust, 10 filling, 11 cutter, 12 hand, 13 size-all, 14 cross.
#include <QCursor>

// Makes the cursors; the pen cursor is taken from "MYPOINT.CUR" when one is found and read.
void InstallScreenCursors();
// Cursor n of the table; the arrow for any other number.
QCursor ScreenCursor(int n);
