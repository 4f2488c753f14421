#include "painter/Cursors.h"

#include <map>

namespace {
std::map<int, QCursor>& Table() {
  static std::map<int, QCursor> t;
  return t;
}
}  // namespace

void InstallScreenCursors() {
  auto& t = Table();
  t[5] = QCursor(Qt::CrossCursor);
  t[6] = QCursor(Qt::CrossCursor);
  t[7] = QCursor(Qt::CrossCursor);
  t[8] = QCursor(Qt::CrossCursor);
  t[9] = QCursor(Qt::CrossCursor);
  t[10] = QCursor(Qt::CrossCursor);
  t[11] = QCursor(Qt::CrossCursor);
  t[12] = QCursor(Qt::PointingHandCursor);
  t[13] = QCursor(Qt::SizeAllCursor);
  t[14] = QCursor(Qt::CrossCursor);
}

QCursor ScreenCursor(int n) {
  auto& t = Table();
  auto it = t.find(n);
  return it == t.end() ? QCursor(Qt::ArrowCursor) : it->second;
}
