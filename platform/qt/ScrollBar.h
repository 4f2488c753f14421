#pragma once
// A QScrollBar with the values of a Windows scroll bar, as the view drives them: a range
// 0..Max whose thumb covers Page units (so the highest position the user can reach is
// Max - Page), a track click moving by LargeChange and an arrow by SmallChange. Qt ties the
// thumb size to the page step; this keeps them apart.
#include <QPointer>
#include <QScrollBar>
#include <functional>

#include "engine/Display.h"

namespace plat {

class TQtScrollBar : public TDisplayScrollBar {
 public:
  // The bar is created as a child of `parent` with the given thickness, and takes no focus.
  TQtScrollBar(Qt::Orientation o, QWidget* parent, int thickness = 16);
  ~TQtScrollBar() override;
  TQtScrollBar(const TQtScrollBar&) = delete;
  TQtScrollBar& operator=(const TQtScrollBar&) = delete;
  QScrollBar* Bar() const { return bar_; }

  void SetVisible(bool visible) override;
  int32_t Thickness() const override { return thickness_; }
  void SetLeft(int32_t left) override;
  void SetTop(int32_t top) override;
  void SetWidth(int32_t width) override;
  void SetHeight(int32_t height) override;
  void SetLargeChange(int32_t step) override;
  void SetMax(int32_t max) override;
  void SetPage(int32_t page) override;
  void SetSmallChange(int32_t step) override;
  // The position as last set or scrolled, 0..Max (a position beyond Max - Page is kept, as a
  // Windows bar's owner sees it, until the owner lowers it).
  int32_t Position() const override { return position_; }
  void SetPosition(int32_t position) override;
  int32_t Max() const { return max_; }
  int32_t Page() const { return page_; }
  int32_t LargeChange() const { return large_; }

  // Called after every change the user makes (dragging, arrows, track clicks, wheel), not
  // after SetPosition.
  std::function<void()> OnScroll;

 private:
  void ApplyRange();
  QPointer<QScrollBar> bar_;
  int thickness_;
  int32_t max_ = 100, page_ = 0, large_ = 1, small_ = 1, position_ = 0;
  bool setting_ = false;
  QMetaObject::Connection onAction_, onValue_;
};

}  // namespace plat
