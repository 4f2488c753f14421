#pragma once
// The painter shown and active, with helpers that drive a paper window by paper points.
#include <QApplication>
#include <QTest>
#include <cstring>
#include <vector>

#include "engine/Display.h"
#include "engine/EventPacket.h"
#include "engine/Paper.h"
#include "engine/Stroke.h"
#include "painter/ToolsWin.h"
#include "tests/painter/PainterFixture.h"

class StrokeFixture : public PainterFixture {
 protected:
  void SetUp() override {
    PainterFixture::SetUp();
    ShowActive();
  }

  // The main window shown, active and through its first activation, with the pen chosen.
  static void ShowActive() {
    VLMain->resize(1200, 900);
    VLMain->show();
    VLMain->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(VLMain));
    // Where an earlier test of the same process left the application active, the new main
    // window hears of no activation: it gets the one a fresh start gives it.
    if (VLMain->FirstActivation) VLMain->AppActivate();
    ToolsWindow->Mode.Kind = tkPen;
  }

  // The window point that shows paper point (x, y).
  static QPoint At(TDrawWindow* w, int32_t x, int32_t y) {
    TPoint p{x, y};
    w->Paper->Display.PaperToWindow(w->ClientWidth(), w->ClientHeight(), p);
    return QPoint(p.X, p.Y);
  }

  // Left-button drag through window points.
  static void Drag(TDrawWindow* w, const std::vector<QPoint>& points) {
    QTest::mousePress(w, Qt::LeftButton, Qt::NoModifier, points.front());
    for (size_t i = 1; i < points.size(); ++i) QTest::mouseMove(w, points[i]);
    QTest::mouseRelease(w, Qt::LeftButton, Qt::NoModifier, points.back());
  }

  // The bytes of a recorder from offset `from`.
  static std::vector<uint8_t> BytesFrom(TEventPacket& p, size_t from) {
    std::vector<uint8_t> all = Bytes(p);
    return std::vector<uint8_t>(all.begin() + static_cast<long>(std::min(from, all.size())), all.end());
  }

  // Plays a record on a paper to its end (or to the first event it cannot take).
  static void ReplayAll(TPaper& paper, TEventPacket& record) {
    TStroke brush;
    for (;;) {
      const int32_t before = record.Data().ReadPos();
      const bool inStroke = record.InStroke();
      if (!inStroke && record.Data().Remaining() < 2) return;
      if (!paper.PlayEvent(record, brush, nullptr)) return;
      if (!inStroke && record.Data().ReadPos() == before) return;  // a cut-off event
    }
  }

  // The composites of two papers are equal, byte for byte.
  static bool SameComposite(TPaper& a, TPaper& b) {
    a.Composite();
    b.Composite();
    if (a.Width() != b.Width() || a.Height() != b.Height()) return false;
    for (int32_t y = 0; y < a.Height(); ++y) {
      for (int32_t x = 0; x < a.Width(); ++x) {
        if (a.CompositeImage.GetPixel(x, y) != b.CompositeImage.GetPixel(x, y)) return false;
      }
    }
    return true;
  }

  // The strokes of a record: code, first point, and every further point.
  struct TRecordedStroke {
    uint16_t Code = 0;
    std::vector<std::array<int32_t, 3>> Points;  // x, y, pressure x 1024
  };
  static std::vector<TRecordedStroke> Strokes(TEventPacket& p) {
    std::vector<TRecordedStroke> out;
    const std::vector<uint8_t> b = Bytes(p);
    size_t pos = 0;
    auto i16 = [&](size_t at) { return static_cast<int32_t>(static_cast<int16_t>(b[at] | (b[at + 1] << 8))); };
    while (pos + 2 <= b.size()) {
      int32_t size = 0;
      if (MeasureEvent(b.data() + pos, static_cast<int32_t>(b.size() - pos), size) != TEventMeasure::Complete) break;
      const uint16_t code = static_cast<uint16_t>(b[pos] | (b[pos + 1] << 8));
      if (code <= ecStrokeLast) {
        TRecordedStroke s;
        s.Code = code;
        const size_t first = pos + 2 + kStrokeAttributesSize;
        s.Points.push_back({i16(first), i16(first + 2), i16(first + 4)});
        const int32_t n = b[pos + kStrokeCountOffset] | (b[pos + kStrokeCountOffset + 1] << 8);
        for (int32_t k = 0; k < n; ++k) {
          const size_t at = pos + kStrokeHeaderSize + static_cast<size_t>(k) * kStrokePointSize;
          s.Points.push_back({i16(at), i16(at + 2), i16(at + 4)});
        }
        out.push_back(std::move(s));
      }
      pos += static_cast<size_t>(size);
    }
    return out;
  }
};
