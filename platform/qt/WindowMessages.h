#pragma once
// Messages to a window found by its class name, between processes of one user. A window
// registers its class with TWindowClass, which listens on a per-user local socket named by
// the class; a message to a class that nobody registered is dropped, as a posted message to
// a missing window would be. Only sockets of this user's own, in a private folder, are used.
#include <QObject>
#include <QPointer>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/qt/WindowMessageFrame.h"

class QLocalServer;
class QLocalSocket;
class QWidget;

namespace plat {

constexpr uint32_t WM_COPYDATA = 0x004A;
constexpr uint32_t WM_SYSCOMMAND = 0x0112;
constexpr uint64_t SC_RESTORE = 0xF120;
// Ours: bring the window to the front (what SetForegroundWindow does from outside).
constexpr uint32_t WM_BRINGTOFRONT = 0x8F01;

// Where the window of a class listens; empty when this user has no private folder for it.
std::string WindowClassAddress(const std::string& className);

class TWindowClass : public QObject {
  Q_OBJECT
 public:
  using THandler = std::function<int64_t(const TWindowMessage&)>;
  // Makes `window` the window of `className`. WM_BRINGTOFRONT raises and activates it and
  // WM_SYSCOMMAND with SC_RESTORE restores it when minimised; every other message goes to
  // `handler`, whose result is the answer.
  TWindowClass(const std::string& className, QWidget* window, THandler handler, QObject* parent = nullptr);
  ~TWindowClass() override;
  bool Listening() const;

 private:
  void Accept();
  void Serve(QLocalSocket* s);
  int64_t Dispatch(const TWindowMessage& m);
  std::string address_;
  QLocalServer* server_ = nullptr;
  QPointer<QWidget> window_;
  THandler handler_;
};

// True when a window of the class is listening.
bool FindWindowClass(const std::string& className, int timeoutMs = 1000);
// Like SendMessage: waits for the answer (nothing when there is no such window or it does not
// answer in time). Blocks the calling thread, so never send to a window of the same thread.
std::optional<int64_t> SendWindowMessage(const std::string& className, const TWindowMessage& m, int timeoutMs = 5000);
// Like PostMessage: never blocks; the message is delivered later or dropped.
void PostWindowMessage(const std::string& className, const TWindowMessage& m);

// What a second start of a single-instance program does: hands the argument (when there is
// one) to the running window as WM_COPYDATA text with its terminating zero, brings that window
// to the front and restores it if minimised. False when no such window was found.
bool HandOverToRunningInstance(const std::string& className, const std::optional<std::string>& argument);

}  // namespace plat
