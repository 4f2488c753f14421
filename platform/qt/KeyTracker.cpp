#include "platform/qt/KeyTracker.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QWindow>
#include <QWidget>
#include <iterator>

#include "platform/core/KeyState.h"

namespace plat {

int VirtualKeyOf(const QKeyEvent* e) {
  const int k = e->key();
  const bool keypad = e->modifiers().testFlag(Qt::KeypadModifier);
  if (keypad) {
    if (k >= Qt::Key_0 && k <= Qt::Key_9) return 0x60 + (k - Qt::Key_0);  // VK_NUMPAD0..9
    switch (k) {
      case Qt::Key_Plus: return VK_ADD;
      case Qt::Key_Minus: return VK_SUBTRACT;
      case Qt::Key_Asterisk: return 0x6A;  // VK_MULTIPLY
      case Qt::Key_Slash: return 0x6F;     // VK_DIVIDE
      case Qt::Key_Period: case Qt::Key_Comma: return 0x6E;  // VK_DECIMAL
      default: break;
    }
  }
  if (k >= Qt::Key_A && k <= Qt::Key_Z) return 'A' + (k - Qt::Key_A);
  if (k >= Qt::Key_0 && k <= Qt::Key_9) return '0' + (k - Qt::Key_0);
  if (k >= Qt::Key_F1 && k <= Qt::Key_F24) return VK_F1 + (k - Qt::Key_F1);
  switch (k) {
    case Qt::Key_Space: return VK_SPACE;
    case Qt::Key_Shift: return VK_SHIFT;
    case Qt::Key_Control: return VK_CONTROL;
    case Qt::Key_Alt: case Qt::Key_AltGr: return VK_MENU;
    case Qt::Key_Escape: return VK_ESCAPE;
    case Qt::Key_Tab: case Qt::Key_Backtab: return VK_TAB;
    case Qt::Key_Backspace: return VK_BACK;
    case Qt::Key_Return: case Qt::Key_Enter: return VK_RETURN;
    case Qt::Key_Left: return VK_LEFT;
    case Qt::Key_Up: return VK_UP;
    case Qt::Key_Right: return VK_RIGHT;
    case Qt::Key_Down: return VK_DOWN;
    case Qt::Key_PageUp: return VK_PRIOR;
    case Qt::Key_PageDown: return VK_NEXT;
    case Qt::Key_Home: return VK_HOME;
    case Qt::Key_End: return VK_END;
    case Qt::Key_Insert: return VK_INSERT;
    case Qt::Key_Delete: return VK_DELETE;
    case Qt::Key_Plus: case Qt::Key_Equal: return 0xBB;  // VK_OEM_PLUS
    case Qt::Key_Minus: case Qt::Key_Underscore: return 0xBD;  // VK_OEM_MINUS
    case Qt::Key_Comma: case Qt::Key_Less: return 0xBC;  // VK_OEM_COMMA
    case Qt::Key_Period: case Qt::Key_Greater: return 0xBE;  // VK_OEM_PERIOD
    // Shifted digits of a US layout go down as their digit key.
    case Qt::Key_Exclam: return '1';
    case Qt::Key_At: return '2';
    case Qt::Key_NumberSign: return '3';
    case Qt::Key_Dollar: return '4';
    case Qt::Key_Percent: return '5';
    case Qt::Key_AsciiCircum: return '6';
    case Qt::Key_Ampersand: return '7';
    case Qt::Key_Asterisk: return '8';
    case Qt::Key_ParenLeft: return '9';
    case Qt::Key_ParenRight: return '0';
    default: return 0;
  }
}

namespace {
TKeyTracker*& Instance() {
  static TKeyTracker* tracker = nullptr;
  return tracker;
}
}  // namespace

TKeyTracker::TKeyTracker(QObject* parent) : QObject(parent) {
  if (auto* app = QCoreApplication::instance()) {
    app->installEventFilter(this);
    if (auto* gui = qobject_cast<QGuiApplication*>(app)) {
      connect(gui, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState s) {
        if (s != Qt::ApplicationActive) {
          ClearKeys();
          downByScanCode_.clear();
        }
      });
      // Keys go where the focus is: a release can be lost as it moves.
      connect(gui, &QGuiApplication::focusWindowChanged, this, [this] { Resync(true); });
    }
  }
}

TKeyTracker::~TKeyTracker() {
  if (Instance() == this) Instance() = nullptr;
}

bool TKeyTracker::eventFilter(QObject* watched, QEvent* event) {
  const auto type = event->type();
  if (type == QEvent::KeyPress || type == QEvent::KeyRelease) {
    auto* e = static_cast<QKeyEvent*>(event);
    const quint32 scan = e->nativeScanCode();
    if (type == QEvent::KeyPress) {
      const int vk = VirtualKeyOf(e);
      if (vk) {
        SetKeyDown(vk, true);
        if (scan) downByScanCode_[scan] = vk;
      }
    } else if (!e->isAutoRepeat()) {
      int vk = VirtualKeyOf(e);
      if (scan) {
        auto it = downByScanCode_.find(scan);
        if (it != downByScanCode_.end()) {
          vk = it->second;
          downByScanCode_.erase(it);
        }
      }
      if (vk) SetKeyDown(vk, false);
    }
  } else if (type == QEvent::MouseMove || type == QEvent::MouseButtonPress || type == QEvent::MouseButtonRelease ||
             type == QEvent::MouseButtonDblClick) {
    const QPointF g = static_cast<QMouseEvent*>(event)->globalPosition();
    SetCursorPos(static_cast<int32_t>(g.x()), static_cast<int32_t>(g.y()));
  } else if (type == QEvent::ApplicationDeactivate) {
    ClearKeys();
    downByScanCode_.clear();
  } else if (type == QEvent::Hide && watched->isWidgetType()) {
    // While a modal dialog was open the windows under it took no keys, and the toolkit drops
    // their releases without a trace (Ctrl let go as Ctrl+N opens its dialog).
    const auto* w = static_cast<QWidget*>(watched);
    if (w->isWindow() && w->isModal()) Resync(false);
  }
  return QObject::eventFilter(watched, event);
}

void TKeyTracker::Resync(bool keepOthers) {
  if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance())) return;
  // The window system's word on the modifiers; other keys it cannot tell, but while held they
  // repeat and come back with their next press.
  const Qt::KeyboardModifiers m = QGuiApplication::queryKeyboardModifiers();
  SyncKeys(m.testFlag(Qt::ShiftModifier), m.testFlag(Qt::ControlModifier), m.testFlag(Qt::AltModifier), keepOthers);
  for (auto it = downByScanCode_.begin(); it != downByScanCode_.end();)
    it = IsKeyDown(it->second) ? std::next(it) : downByScanCode_.erase(it);
}

void InstallKeyTracker() {
  if (!Instance() && QCoreApplication::instance()) Instance() = new TKeyTracker(QCoreApplication::instance());
}

}  // namespace plat
