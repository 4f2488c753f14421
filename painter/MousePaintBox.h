#pragma once
// A paint box of a tool window: a child area that shows a canvas the window draws, and hands
// its mouse input to the window's handlers in its own coordinates. While a button is held the
// box keeps the mouse, so a drag reports points outside it as well.
#include <QWidget>
#include <cstdint>
#include <functional>

#include "platform/qt/BackBuffer.h"

class TTC;

class TMousePaintBox : public plat::TBufferedWidget {
  Q_OBJECT
 public:
  using TButtonHandler = std::function<void(Qt::MouseButton, Qt::KeyboardModifiers, int32_t x, int32_t y)>;
  using TMoveHandler = std::function<void(Qt::KeyboardModifiers, int32_t x, int32_t y)>;

  TMousePaintBox(QWidget* parent, const char* name, int x, int y, int w, int h);

  TButtonHandler OnMouseDown, OnMouseUp;
  TMoveHandler OnMouseMove;
  // Runs before the press that a double-click stands for (the system sends a down after the
  // double-click notification; Qt sends none).
  std::function<void(int32_t x, int32_t y)> OnDblClick;

  // Copies the canvas from its (0, 0) into the box at (x, y) and brings it to the screen.
  void Show(const TTC& canvas, int32_t x = 0, int32_t y = 0);

 protected:
  // The box keeps the last canvas shown; a resize only asks the owner to show it again.
  void RepaintBuffer() override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  void mouseDoubleClickEvent(QMouseEvent* e) override;

 private:
  const TTC* shown_ = nullptr;
};
