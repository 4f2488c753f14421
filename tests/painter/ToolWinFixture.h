#pragma once
// Helpers for the tests of the layer, brush and colour windows: the bytes a recorder gained
// since a mark, and a replay of a paper window's record on a fresh paper.
#include <cstring>
#include <vector>

#include "PainterFixture.h"
#include "engine/Stroke.h"
#include "painter/PenWin2.h"

class ToolWinFixture : public PainterFixture {
 protected:
  static inline Qt::MouseButtons heldButtons_ = Qt::NoButton;
  // Closing a session paper asks where its log goes: no file is chosen.
  plat::TFileDialogRecorder Dialogs;

  using PainterFixture::PainterFixture;

  void SetUp() override {
    PainterFixture::SetUp();
    // The first activation selects the pen with its preset.
    PenWindow2->SelectBrush(0);
  }

  static int32_t Mark(TDrawWindow* w, int slot = 0) { return w->Packets[slot]->Data().Size(); }

  // The bytes added to a recorder since the mark.
  static std::vector<uint8_t> Since(TDrawWindow* w, int32_t mark, int slot = 0) {
    const std::vector<uint8_t> all = Bytes(*w->Packets[slot]);
    return std::vector<uint8_t>(all.begin() + mark, all.end());
  }

  // Plays the slot's record plus an end marker on a fresh paper and returns the composite.
  static std::vector<uint8_t> Replay(TDrawWindow* w, int slot = 0) {
    TEventPacket packet;
    const std::vector<uint8_t> bytes = Bytes(*w->Packets[slot]);
    packet.Data().WriteBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
    packet.WriteEndMarker();
    packet.Data().Rewind();
    TPaper paper;
    TStroke brush;
    int guard = 0;
    while (paper.PlayEvent(packet, brush, nullptr) && ++guard < 1000000) {
    }
    paper.Composite();
    return Pixels(paper);
  }

  // The replay of the slot's record gives the live picture, byte for byte.
  static ::testing::AssertionResult ReplayMatches(TDrawWindow* w, int slot = 0) {
    const std::vector<uint8_t> replay = Replay(w, slot), live = Live(w);
    if (replay.size() != live.size()) return ::testing::AssertionFailure() << "the replay has another size";
    size_t diff = 0, first = 0;
    for (size_t i = 0; i < live.size(); ++i)
      if (replay[i] != live[i] && diff++ == 0) first = i;
    if (diff == 0) return ::testing::AssertionSuccess();
    const int32_t width = w->Paper->Width();
    return ::testing::AssertionFailure() << diff << " bytes differ, the first at pixel (" << (first / 4) % width
                                         << ", " << (first / 4) / width << ")";
  }

  static std::vector<uint8_t> Pixels(TPaper& paper) {
    const TTCDC& c = paper.CompositeImage;
    std::vector<uint8_t> out(size_t(c.Width()) * c.Height() * 4);
    for (int32_t y = 0; y < c.Height(); ++y) std::memcpy(out.data() + size_t(y) * c.Width() * 4, c.Row(y), size_t(c.Width()) * 4);
    // The composite's alpha byte is not shown; compare colours only.
    for (size_t i = 3; i < out.size(); i += 4) out[i] = 0;
    return out;
  }

  // The live composite, recomposited from the layers.
  static std::vector<uint8_t> Live(TDrawWindow* w) {
    w->Paper->Composite();
    return Pixels(*w->Paper);
  }

  // A stroke drawn with the current brush and recorded in the own slot, as stroke input does;
  // `end` false leaves it open.
  static void DrawStroke(TDrawWindow* w, TStroke& brush, std::vector<TPoint> points, bool end = true) {
    TEventPacket& own = w->OwnPacket();
    brush.SetLayer(w->Paper->Layers->ActiveIndex());
    brush.UseRecordedValues();
    own.BeginStroke(brush, float(points[0].X), float(points[0].Y), 0);
    w->Paper->StrokeBegin(brush, float(points[0].X), float(points[0].Y), 0);
    for (size_t i = 1; i < points.size(); ++i) {
      own.AddStrokePoint(float(points[i].X), float(points[i].Y), 1);
      w->Paper->StrokeMove(brush, nullptr, float(points[i].X), float(points[i].Y), 1);
    }
    if (end) EndStroke(w, brush, points.back());
  }

  static void EndStroke(TDrawWindow* w, TStroke& brush, TPoint last) {
    w->OwnPacket().AddStrokePoint(float(last.X), float(last.Y), 0);
    w->Paper->StrokeMove(brush, nullptr, float(last.X), float(last.Y), 0);
    w->Paper->StrokeEnd(brush, nullptr);
    w->OwnPacket().EndStroke();
  }

  // Mouse input at exact points (QTest takes the point 0, 0 for "the centre").
  static void Send(QWidget* w, QEvent::Type type, Qt::MouseButton button, int x, int y,
                   Qt::KeyboardModifiers mods = Qt::NoModifier) {
    const QPointF local(x, y);
    const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::MouseButtons(Qt::NoButton)
                                  : type == QEvent::MouseMove       ? heldButtons_
                                                                    : Qt::MouseButtons(button);
    QMouseEvent e(type, local, w->mapToGlobal(local), type == QEvent::MouseMove ? Qt::NoButton : button, held, mods);
    if (type == QEvent::MouseButtonPress || type == QEvent::MouseButtonDblClick) heldButtons_ = button;
    if (type == QEvent::MouseButtonRelease) heldButtons_ = Qt::NoButton;
    QApplication::sendEvent(w, &e);
  }
  static void Press(QWidget* w, int x, int y, Qt::MouseButton b = Qt::LeftButton, Qt::KeyboardModifiers m = {}) {
    Send(w, QEvent::MouseButtonPress, b, x, y, m);
  }
  static void Move(QWidget* w, int x, int y) { Send(w, QEvent::MouseMove, Qt::NoButton, x, y); }
  static void Release(QWidget* w, int x, int y, Qt::MouseButton b = Qt::LeftButton) {
    Send(w, QEvent::MouseButtonRelease, b, x, y);
  }
  static void Click(QWidget* w, int x, int y, Qt::MouseButton b = Qt::LeftButton, Qt::KeyboardModifiers m = {}) {
    Press(w, x, y, b, m);
    Release(w, x, y, b);
  }
  // A double-click as the window system delivers it: press, release, double-click, release.
  static void DoubleClick(QWidget* w, int x, int y) {
    Click(w, x, y);
    Send(w, QEvent::MouseButtonDblClick, Qt::LeftButton, x, y);
    Release(w, x, y);
  }

  static std::vector<uint8_t> Hex(std::initializer_list<int> v) { return std::vector<uint8_t>(v.begin(), v.end()); }
};
