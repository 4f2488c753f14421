#pragma once
// The application's hint: the hint (tool tip) of the control under the mouse, or of its
// nearest parent in the same window that has one, or the hint of the menu item pointed at.
// One handler hears every change, whichever window the control is in.
#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>

class QWidget;

namespace plat {

class TApplicationHint : public QObject {
  Q_OBJECT
 public:
  // Installs itself on the running application.
  explicit TApplicationHint(std::function<void(const QString&)> onHint, QObject* parent = nullptr);
  const QString& Hint() const { return hint_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Set(const QString& hint);
  QPointer<QWidget> hovered_;
  QString hint_;
  std::function<void(const QString&)> onHint_;
};

}  // namespace plat
