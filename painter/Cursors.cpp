#include "painter/Cursors.h"

#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <map>
#include <vector>

#include "painter/CursorFile.h"
#include "platform/core/Files.h"

namespace {

struct TTable {
  std::map<int, QCursor> Cursors;
  bool PenFromFile = false;
};

TTable& Table() {
  static TTable t;
  return t;
}

// The program's own cursor pictures: black strokes with a white outline on 32 x 32.
QCursor Drawn(int hotX, int hotY, void (*draw)(QPainter&)) {
  QImage image(32, 32, QImage::Format_ARGB32);
  image.fill(Qt::transparent);
  {
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(QPen(Qt::white, 3));
    draw(p);
    p.setPen(QPen(Qt::black, 1));
    draw(p);
  }
  return QCursor(QPixmap::fromImage(image), hotX, hotY);
}

void Lens(QPainter& p) {
  p.drawEllipse(2, 2, 16, 16);
  p.drawLine(16, 16, 26, 26);
}

void Plus(QPainter& p) {
  Lens(p);
  p.drawLine(6, 10, 14, 10);
  p.drawLine(10, 6, 10, 14);
}

void Minus(QPainter& p) {
  Lens(p);
  p.drawLine(6, 10, 14, 10);
}

void Spoit(QPainter& p) {
  p.drawLine(1, 30, 12, 19);
  p.drawLine(12, 19, 20, 11);
  p.drawRect(19, 4, 8, 8);
}

void Pen(QPainter& p) {
  p.drawLine(0, 0, 4, 10);
  p.drawLine(0, 0, 10, 4);
  p.drawLine(4, 10, 22, 28);
  p.drawLine(10, 4, 28, 22);
  p.drawLine(22, 28, 28, 22);
}

void Dust(QPainter& p) {
  QPainterPath path;
  path.moveTo(2, 22);
  path.lineTo(14, 10);
  path.lineTo(24, 20);
  path.lineTo(12, 30);
  path.closeSubpath();
  p.drawPath(path);
  p.drawLine(8, 16, 18, 26);
}

void Filling(QPainter& p) {
  QPainterPath path;
  path.moveTo(6, 14);
  path.lineTo(16, 4);
  path.lineTo(28, 16);
  path.lineTo(18, 26);
  path.closeSubpath();
  p.drawPath(path);
  p.drawLine(2, 18, 2, 28);
}

void Cutter(QPainter& p) {
  p.drawLine(2, 2, 24, 24);
  p.drawLine(2, 2, 10, 2);
  p.drawRect(22, 22, 8, 8);
}

}  // namespace

bool LoadPenCursor(const std::string& path) {
  std::vector<uint8_t> bytes;
  // Larger files are no cursor this program draws with.
  if (plat::FileSizeOf(path) > (1 << 20) || !plat::ReadWholeFile(path, bytes)) return false;
  TCursorImage c;
  if (!ReadCursorFile(bytes.data(), bytes.size(), c)) return false;
  QImage image;
  if (!c.Png.empty()) {
    image = QImage::fromData(c.Png.data(), static_cast<int>(c.Png.size()), "PNG");
    if (image.isNull() || image.width() > kMaxCursorSide || image.height() > kMaxCursorSide) return false;
  } else {
    image = QImage(c.Width, c.Height, QImage::Format_ARGB32);
    for (int32_t y = 0; y < c.Height; ++y)
      for (int32_t x = 0; x < c.Width; ++x)
        image.setPixel(x, y, c.Pixels[static_cast<size_t>(y) * static_cast<size_t>(c.Width) + static_cast<size_t>(x)]);
  }
  Table().Cursors[8] = QCursor(QPixmap::fromImage(image), c.HotX, c.HotY);
  Table().PenFromFile = true;
  return true;
}

bool PenCursorFromFile() { return Table().PenFromFile; }

void InstallScreenCursors() {
  TTable& t = Table();
  t.PenFromFile = false;
  t.Cursors[5] = Drawn(10, 10, Plus);
  t.Cursors[6] = Drawn(10, 10, Minus);
  t.Cursors[7] = Drawn(1, 30, Spoit);
  t.Cursors[8] = Drawn(0, 0, Pen);
  t.Cursors[9] = Drawn(2, 22, Dust);
  t.Cursors[10] = Drawn(2, 28, Filling);
  t.Cursors[11] = Drawn(2, 2, Cutter);
  t.Cursors[12] = QCursor(Qt::PointingHandCursor);
  t.Cursors[13] = QCursor(Qt::SizeAllCursor);
  t.Cursors[14] = QCursor(Qt::CrossCursor);
  for (const std::string& folder : {plat::ProgramDir(), plat::DataDir() + "/"}) {
    const std::string file = folder + "MYPOINT.CUR";
    if (plat::FileExists(file) && LoadPenCursor(file)) break;
  }
}

QCursor ScreenCursor(int n) {
  auto& t = Table().Cursors;
  auto it = t.find(n);
  return it == t.end() ? QCursor(Qt::ArrowCursor) : it->second;
}
