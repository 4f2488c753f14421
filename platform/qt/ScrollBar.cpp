#include "platform/qt/ScrollBar.h"

#include <algorithm>

namespace plat {

TQtScrollBar::TQtScrollBar(Qt::Orientation o, QWidget* parent, int thickness)
    : bar_(new QScrollBar(o, parent)), thickness_(thickness) {
  bar_->setFocusPolicy(Qt::NoFocus);
  if (o == Qt::Horizontal) bar_->setGeometry(0, 0, 100, thickness);
  else bar_->setGeometry(0, 0, thickness, 100);
  ApplyRange();
  onAction_ = QObject::connect(bar_, &QAbstractSlider::actionTriggered, bar_, [this](int action) {
    // A track click moves by LargeChange, whatever the thumb's size.
    if (action == QAbstractSlider::SliderPageStepAdd)
      bar_->setSliderPosition(std::min(bar_->maximum(), bar_->value() + large_));
    else if (action == QAbstractSlider::SliderPageStepSub)
      bar_->setSliderPosition(std::max(bar_->minimum(), bar_->value() - large_));
  });
  onValue_ = QObject::connect(bar_, &QAbstractSlider::valueChanged, bar_, [this](int v) {
    if (setting_) return;
    position_ = v;
    if (OnScroll) OnScroll();
  });
}

TQtScrollBar::~TQtScrollBar() {
  // The bar belongs to its parent widget and may outlive this object.
  QObject::disconnect(onAction_);
  QObject::disconnect(onValue_);
}

void TQtScrollBar::ApplyRange() {
  if (!bar_) return;
  setting_ = true;
  bar_->setRange(0, std::max(0, max_ - page_));
  bar_->setPageStep(std::max(1, page_));
  bar_->setSingleStep(std::max(1, small_));
  bar_->setValue(std::clamp(position_, 0, bar_->maximum()));
  setting_ = false;
}

void TQtScrollBar::SetVisible(bool visible) {
  if (bar_) bar_->setVisible(visible);
}

void TQtScrollBar::SetLeft(int32_t left) {
  if (bar_) bar_->move(left, bar_->y());
}

void TQtScrollBar::SetTop(int32_t top) {
  if (bar_) bar_->move(bar_->x(), top);
}

void TQtScrollBar::SetWidth(int32_t width) {
  if (bar_) bar_->resize(std::max(0, width), bar_->height());
}

void TQtScrollBar::SetHeight(int32_t height) {
  if (bar_) bar_->resize(bar_->width(), std::max(0, height));
}

void TQtScrollBar::SetLargeChange(int32_t step) { large_ = std::max(1, step); }

void TQtScrollBar::SetMax(int32_t max) {
  max_ = std::max(0, max);
  position_ = std::min(position_, max_);
  ApplyRange();
}

void TQtScrollBar::SetPage(int32_t page) {
  page_ = std::max(0, page);
  ApplyRange();
}

void TQtScrollBar::SetSmallChange(int32_t step) {
  small_ = std::max(1, step);
  ApplyRange();
}

void TQtScrollBar::SetPosition(int32_t position) {
  position_ = std::clamp(position, 0, max_);
  ApplyRange();
}

}  // namespace plat
