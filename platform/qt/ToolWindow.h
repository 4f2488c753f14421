#pragma once
// The base of every stay-on-top tool window: a tool window above its owner, input method off,
// every key-down handed to one hook (the painter's shortcut handler), and its place kept in
// the settings store as position and size.
#include <QWidget>
#include <functional>
#include <string>

namespace plat {

class TToolWindow : public QWidget {
  Q_OBJECT
 public:
  // The painter sets this to its shortcut handler; key-downs of every tool window reach it
  // with their virtual-key code.
  static std::function<void(int vk)> KeyHook;

  explicit TToolWindow(QWidget* owner = nullptr);

  // Left, top, width and height under the given value names of `key` (each where present;
  // empty names are skipped). True when a left or top value was found.
  bool LoadPlace(const std::string& key, const std::string& leftName, const std::string& topName,
                 const std::string& widthName = "", const std::string& heightName = "");
  void SavePlace(const std::string& key, const std::string& leftName, const std::string& topName,
                 const std::string& widthName = "", const std::string& heightName = "") const;
  // Whether the window stands where the settings put it, rather than at its default place.
  bool HasSavedPlace() const { return savedPlace_; }

 protected:
  void keyPressEvent(QKeyEvent* e) override;

 private:
  bool savedPlace_ = false;
};

}  // namespace plat
