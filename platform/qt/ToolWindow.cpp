#include "platform/qt/ToolWindow.h"

#include <QKeyEvent>

#include "platform/core/KeyState.h"
#include "platform/core/Settings.h"
#include "platform/qt/Desktop.h"
#include "platform/qt/KeyTracker.h"

namespace plat {

std::function<void(int vk)> TToolWindow::KeyHook;

TToolWindow::TToolWindow(QWidget* owner)
    : QWidget(owner, Qt::Tool | Qt::WindowStaysOnTopHint) {
  setAttribute(Qt::WA_InputMethodEnabled, false);
  setFont(UiFont(12));
}

bool TToolWindow::LoadPlace(const std::string& key, const std::string& leftName, const std::string& topName,
                            const std::string& widthName, const std::string& heightName) {
  TRegistry reg;
  if (!reg.OpenKey(key, true)) return false;
  QPoint p = pos();
  QSize s = size();
  bool found = false;
  if (!leftName.empty())
    if (auto v = reg.ReadInteger(leftName)) {
      p.setX(*v);
      found = true;
    }
  if (!topName.empty())
    if (auto v = reg.ReadInteger(topName)) {
      p.setY(*v);
      found = true;
    }
  if (!widthName.empty())
    if (auto v = reg.ReadInteger(widthName); v && *v > 0) s.setWidth(*v);
  if (!heightName.empty())
    if (auto v = reg.ReadInteger(heightName); v && *v > 0) s.setHeight(*v);
  move(p);
  if (s != size()) resize(s);
  savedPlace_ = found;
  return found;
}

void TToolWindow::SavePlace(const std::string& key, const std::string& leftName, const std::string& topName,
                            const std::string& widthName, const std::string& heightName) const {
  TRegistry reg;
  if (!reg.OpenKey(key, true)) return;
  if (!leftName.empty()) reg.WriteInteger(leftName, pos().x());
  if (!topName.empty()) reg.WriteInteger(topName, pos().y());
  if (!widthName.empty()) reg.WriteInteger(widthName, width());
  if (!heightName.empty()) reg.WriteInteger(heightName, height());
}

void TToolWindow::keyPressEvent(QKeyEvent* e) {
  const int vk = VirtualKeyOf(e);
  // A held Tab repeats through the update step, not through auto-repeat.
  if (vk == VK_TAB && e->isAutoRepeat()) {
    e->accept();
    return;
  }
  if (vk != 0 && KeyHook) {
    KeyHook(vk);
    e->accept();
    return;
  }
  QWidget::keyPressEvent(e);
}

}  // namespace plat
