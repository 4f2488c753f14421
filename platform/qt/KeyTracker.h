#pragma once
// The application-wide record of held keys behind plat::IsKeyDown: an event filter on the
// application sees every key press and release before any widget does.
#include <QObject>
#include <unordered_map>

class QKeyEvent;

namespace plat {

// Virtual-key code of a key event (letters and digits are their upper-case ASCII codes,
// the keypad's plus and minus are VK_ADD and VK_SUBTRACT); 0 for keys without one.
int VirtualKeyOf(const QKeyEvent* e);

class TKeyTracker : public QObject {
  Q_OBJECT
 public:
  // Installs itself on the running application; the held keys are cleared whenever the
  // application stops being the active one, since the releases would go elsewhere, and
  // brought back in line with the keyboard when the focus moves to another window or a modal
  // dialog closes.
  explicit TKeyTracker(QObject* parent = nullptr);
  ~TKeyTracker() override;
  // Shift, Ctrl and Alt as the window system has them now; other keys kept or dropped.
  void Resync(bool keepOthers);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // The key a physical key went down as, so that its release clears the same code even
  // when a modifier changed in between (Shift+1 goes down as '!' on some layouts).
  std::unordered_map<quint32, int> downByScanCode_;
};

// Creates the one tracker of the application (idempotent).
void InstallKeyTracker();

}  // namespace plat
