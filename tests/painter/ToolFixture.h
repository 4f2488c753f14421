#pragma once
// The painter with its tool box and a white 480 x 320 paper at 100 %, driven by mouse and key
// events; what a paper window recorded can be replayed onto a fresh paper and compared.
#include <QClipboard>
#include <QMouseEvent>
#include <QTest>
#include <initializer_list>
#include <vector>

#include "PainterFixture.h"
#include "engine/Block.h"
#include "engine/Stroke.h"
#include "painter/ToolsWin.h"
#include "platform/core/KeyState.h"

class ToolFixture : public PainterFixture {
 protected:
  void SetUp() override {
    PainterFixture::SetUp();
    VLMain->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(VLMain));
    W = MakePaper(480, 320);
    ASSERT_NE(W, nullptr);
    Mark = W->Packets[0]->Data().Size();
  }

  // Window point of a paper point.
  QPoint Win(int32_t px, int32_t py) const {
    TPoint p{px, py};
    W->Paper->Display.PaperToWindow(W->ClientWidth(), W->ClientHeight(), p);
    return QPoint(p.X, p.Y);
  }

  // Mouse events as the window system gives them (the global point follows the widget's).
  static void Send(QWidget* w, QEvent::Type type, QPoint at, Qt::MouseButton button, Qt::MouseButtons buttons) {
    QMouseEvent e(type, QPointF(at), QPointF(w->mapToGlobal(at)), button, buttons, QApplication::keyboardModifiers());
    QApplication::sendEvent(w, &e);
  }
  void Press(QPoint at, Qt::MouseButton b = Qt::LeftButton) { Send(W, QEvent::MouseButtonPress, at, b, b); }
  void Move(QPoint at, Qt::MouseButtons held = Qt::LeftButton) {
    Send(W, QEvent::MouseMove, at, Qt::NoButton, held);
  }
  void Release(QPoint at, Qt::MouseButton b = Qt::LeftButton) { Send(W, QEvent::MouseButtonRelease, at, b, {}); }
  void Click(QPoint at, Qt::MouseButton b = Qt::LeftButton) {
    Press(at, b);
    Release(at, b);
  }
  // Qt's order: press, release, double-click, release.
  void DoubleClick(QPoint at) {
    Click(at);
    Send(W, QEvent::MouseButtonDblClick, at, Qt::LeftButton, Qt::LeftButton);
    Release(at);
  }
  // A drag in window points, through a point half-way.
  void Drag(QPoint from, QPoint to) {
    Press(from);
    Move((from + to) / 2);
    Move(to);
    Release(to);
  }
  void PaperDrag(int32_t x0, int32_t y0, int32_t x1, int32_t y1) { Drag(Win(x0, y0), Win(x1, y1)); }

  void ToolBoxClick(int x, int y) {
    Send(ToolsWindow, QEvent::MouseButtonPress, QPoint(x, y), Qt::LeftButton, Qt::LeftButton);
    Send(ToolsWindow, QEvent::MouseButtonRelease, QPoint(x, y), Qt::LeftButton, {});
  }

  // A black 30 x 20 block at (10, 20) on the active layer, then the pen again.
  void DrawMark() {
    ToolBoxClick(15, 62);
    VLMain->Stroke->SetColor(0x000000);
    PaperDrag(10, 20, 40, 40);
    Mode().SetTool(tkPen);
  }

  // A key pressed (and released) in the paper window.
  void KeyDown(int vk, Qt::Key key, Qt::KeyboardModifiers mods = {}) {
    QKeyEvent e(QEvent::KeyPress, key, mods);
    QApplication::sendEvent(W, &e);
    (void)vk;
  }
  void KeyUp(Qt::Key key, Qt::KeyboardModifiers mods = {}, bool autoRepeat = false) {
    QKeyEvent e(QEvent::KeyRelease, key, mods, QString(), autoRepeat);
    QApplication::sendEvent(W, &e);
  }
  void Tap(Qt::Key key, Qt::KeyboardModifiers mods = {}) {
    KeyDown(0, key, mods);
    KeyUp(key, mods);
  }

  // The bytes recorded in a slot since the paper was made.
  std::vector<uint8_t> Recorded(int slot = 0) const {
    const std::vector<uint8_t> all = Bytes(*W->Packets[slot]);
    return std::vector<uint8_t>(all.begin() + (slot == 0 ? Mark : 0), all.end());
  }

  // Replays slot 0 onto a fresh paper and compares its composite and every layer with the
  // live paper.
  void ExpectReplayMatches() {
    TEventPacket packet;
    const std::vector<uint8_t> bytes = Bytes(*W->Packets[0]);
    packet.Data().WriteBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
    packet.WriteEndMarker();
    packet.Data().Rewind();
    TPaper fresh;
    TStroke brush;
    int guard = 0;
    while (fresh.PlayEvent(packet, brush, nullptr) && ++guard < 1000000) {
    }
    fresh.Composite();
    TPaper& live = *W->Paper;
    ASSERT_EQ(fresh.Width(), live.Width());
    ASSERT_EQ(fresh.Height(), live.Height());
    ASSERT_EQ(fresh.Layers->LastIndex(), live.Layers->LastIndex());
    int diffs = 0;
    for (int32_t y = 0; y < live.Height(); ++y)
      for (int32_t x = 0; x < live.Width(); ++x) {
        bool same = (fresh.CompositeImage.GetPixel(x, y) & 0xFFFFFF) == (live.CompositeImage.GetPixel(x, y) & 0xFFFFFF);
        for (int32_t i = 0; i <= live.Layers->LastIndex(); ++i)
          same = same && fresh.Layers->LayerImage(i)->GetPixel(x, y) == live.Layers->LayerImage(i)->GetPixel(x, y);
        if (!same && ++diffs <= 3) ADD_FAILURE() << "replay differs at " << x << "," << y;
      }
    EXPECT_EQ(diffs, 0);
  }

  uint32_t Pixel(int32_t x, int32_t y) const { return W->Paper->CompositeImage.GetPixel(x, y) & 0xFFFFFF; }
  uint32_t LayerPixel(int32_t x, int32_t y, int32_t layer = 0) const {
    return W->Paper->Layers->LayerImage(layer)->GetPixel(x, y) & 0xFFFFFF;
  }
  TToolMode& Mode() { return ToolsWindow->Mode; }

  TDrawWindow* W = nullptr;
  int32_t Mark = 0;
};

inline std::vector<uint8_t> Hex(std::initializer_list<int> b) { return std::vector<uint8_t>(b.begin(), b.end()); }
inline std::vector<uint8_t> Cat(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}
