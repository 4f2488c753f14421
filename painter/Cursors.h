#pragma once
// The screen cursors the tool modes pick by number: 5 plus, 6 minus, 7 eyedropper, 8 pen,
// 9 dust, 10 filling, 11 cutter, 12 hand, 13 size-all, 14 cross.
#include <QCursor>
#include <string>

// Makes the cursors. The pen cursor is taken from "MYPOINT.CUR" in the program folder, else in
// the data folder, when such a file is found and read; a refused file keeps the built-in one.
void InstallScreenCursors();
// Cursor n of the table; the arrow for any other number.
QCursor ScreenCursor(int n);
// The pen cursor from a cursor file; false (and nothing changed) when the file is refused.
bool LoadPenCursor(const std::string& path);
// True when the pen cursor came from a file.
bool PenCursorFromFile();
