#pragma once
// The tool box: a small stay-on-top window showing the tool cells; it owns the tool mode that
// the paper windows, the key handler and the update step apply.
#include <QImage>

#include "engine/TrueCnvs.h"
#include "painter/ToolMode.h"
#include "platform/qt/BackBuffer.h"
#include "platform/qt/ToolWindow.h"

class TToolsWindow : public plat::TToolWindow, public TPaintTarget {
  Q_OBJECT
 public:
  explicit TToolsWindow(QWidget* owner = nullptr);
  ~TToolsWindow() override;
  TToolMode Mode;
  // Directly below the preview window.
  void SetDefaultPosition();
  // Paints the tool box picture with the current choice.
  void FormPaint();
  // Client point of a press (any button) or the double-click.
  void FormMouseDown(int32_t x, int32_t y);
  void FormDblClick(int32_t x, int32_t y);

  // The picture of the cells, drawn by the program: two columns by six rows of 25 pixels.
  static QImage ToolBoxPicture();

  // TPaintTarget: the window's back buffer.
  TPixelView Surface() override;
  void SurfaceChanged(const TRect& r) override;

 protected:
  void paintEvent(QPaintEvent* e) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseDoubleClickEvent(QMouseEvent* e) override;
  bool focusNextPrevChild(bool next) override;

 private:
  plat::TBackBuffer buffer_;
};

extern TToolsWindow* ToolsWindow;
