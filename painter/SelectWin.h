#pragma once
// The selection window: the selection slots of the active paper as 50 x 50 cells, one under
// the other, the empty ones darkened and the current one framed in red; a click picks the
// current slot. It redraws on a 250 ms timer while it is shown.
#include <memory>

#include "platform/qt/ToolWindow.h"

class QSlider;
class QTimer;
class TDrawWindow;
class TTCDC;
namespace plat {
class TBufferedWidget;
}

constexpr int32_t kSelectCell = 50;
constexpr uint32_t kSelectBackground = 0xFFC0C0FF;
constexpr uint32_t kSelectFrame = 0xFFFF0000;

class TSelectWindow : public plat::TToolWindow {
  Q_OBJECT
 public:
  explicit TSelectWindow(QWidget* owner = nullptr);
  ~TSelectWindow() override;

  QSlider* TrackBar1 = nullptr;  // nothing reads it
  plat::TBufferedWidget* PaintBox1 = nullptr;
  QTimer* Timer1 = nullptr;
  // Room for six cells.
  std::unique_ptr<TTCDC> Surface;

  // Directly left of the tool box.
  void SetDefaultPosition();

 public slots:
  void Timer1Timer();
  void PaintBox1MouseUp(int y);
  // Bound to no control.
  void Button3Click();

 protected:
  void showEvent(QShowEvent* e) override;
  void hideEvent(QHideEvent* e) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  // Tab is a shortcut (the tool windows' toggle), not a focus move.
  bool focusNextPrevChild(bool) override { return false; }

 private:
  static TDrawWindow* ActivePaper();
};

extern TSelectWindow* SelectWindow;
