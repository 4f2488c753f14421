#include "platform/qt/WindowMessages.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>
#include <QWidget>
#include <cstring>

#include "platform/core/Files.h"
#include "platform/qt/Placement.h"
#include "platform/qt/SingleInstance.h"

namespace plat {
namespace {

constexpr int kIdleConnectionMs = 10000;
constexpr size_t kHeaderSize = kWindowMessageHeaderSize;
constexpr size_t kAnswerSize = kWindowAnswerSize;

uint64_t Fnv1a(const std::string& s) {
  uint64_t h = 1469598103934665603ull;
  for (unsigned char c : s) h = (h ^ c) * 1099511628211ull;
  return h;
}

}  // namespace

std::string WindowClassAddress(const std::string& className) {
  const std::string dir = RuntimeDir();
  if (dir.empty()) return {};
  std::string path = dir + "/wnd-" + SafeFileName(className) + ".sock";
  // A socket address holds little more than 100 bytes; a deep runtime folder gets a short
  // stand-in that is still private, per user and per folder.
  if (path.size() > 100) {
    const std::string shortDir = ShortRuntimeDir();
    if (shortDir.empty()) return {};
    path = shortDir + "/" + std::to_string(Fnv1a(path) % 1000000007ull) + ".sock";
  }
  return path;
}

namespace {
// Messages go only to a socket of this user's own: whatever else stands at the address was
// put there by someone who should not get them. Empty when there is no such socket.
QString TrustedAddress(const std::string& className) {
  const std::string addr = WindowClassAddress(className);
  if (addr.empty() || EntryTrust(addr, S_IFSOCK) != TEntryTrust::Own) return {};
  return QString::fromStdString(addr);
}

bool ConnectToClass(QLocalSocket& s, const std::string& className, int timeoutMs) {
  const QString addr = TrustedAddress(className);
  if (addr.isEmpty()) return false;
  s.connectToServer(addr);
  return s.waitForConnected(timeoutMs);
}
}  // namespace

TWindowClass::TWindowClass(const std::string& className, QWidget* window, THandler handler, QObject* parent)
    : QObject(parent), address_(WindowClassAddress(className)), window_(window), handler_(std::move(handler)) {
  RememberRestoreState(window);
  server_ = new QLocalServer(this);
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  if (address_.empty()) return;
  const QString addr = QString::fromStdString(address_);
  // Only one window per class: a socket left by an instance that crashed, or by an older
  // window of the class, is taken over, and so is anything that is not ours.
  if (EntryTrust(address_, S_IFSOCK) == TEntryTrust::Foreign) ::unlink(address_.c_str());
  if (!server_->listen(addr)) {
    QLocalServer::removeServer(addr);
    server_->listen(addr);
  }
  connect(server_, &QLocalServer::newConnection, this, &TWindowClass::Accept);
}

TWindowClass::~TWindowClass() {
  if (server_->isListening()) {
    server_->close();  // removes the socket file
  }
}

bool TWindowClass::Listening() const { return server_->isListening(); }

void TWindowClass::Accept() {
  while (QLocalSocket* s = server_->nextPendingConnection()) {
    auto* idle = new QTimer(s);
    idle->setSingleShot(true);
    idle->start(kIdleConnectionMs);
    connect(idle, &QTimer::timeout, s, &QLocalSocket::abort);
    connect(s, &QLocalSocket::disconnected, s, &QObject::deleteLater);
    connect(s, &QLocalSocket::readyRead, this, [this, s, idle] {
      idle->start(kIdleConnectionMs);
      Serve(s);
    });
    if (s->bytesAvailable() > 0) Serve(s);
  }
}

void TWindowClass::Serve(QLocalSocket* s) {
  QPointer<QLocalSocket> guard(s);
  // The connection's unread bytes live in the socket's own buffer until a message is whole.
  while (guard && guard->bytesAvailable() > 0) {
    const QByteArray pending = guard->peek(static_cast<qint64>(kHeaderSize + kMaxWindowMessageData));
    TWindowMessage m;
    const int64_t used = DecodeWindowMessage(pending.constData(), static_cast<size_t>(pending.size()), m);
    if (used < 0) {
      guard->abort();
      return;
    }
    if (used == 0) return;
    guard->read(used);
    // The handler may run a modal dialog; the socket may be gone when it returns.
    const int64_t result = Dispatch(m);
    if (!guard) return;
    const std::string answer = EncodeWindowAnswer(result);
    guard->write(answer.data(), static_cast<qint64>(answer.size()));
    guard->flush();
  }
}

int64_t TWindowClass::Dispatch(const TWindowMessage& m) {
  if (m.Msg == WM_BRINGTOFRONT) {
    if (window_) {
      window_->raise();
      window_->activateWindow();
    }
    return 1;
  }
  if (m.Msg == WM_SYSCOMMAND && m.WParam == SC_RESTORE) {
    RestoreMinimised(window_);
    return 0;
  }
  return handler_ ? handler_(m) : 0;
}

bool FindWindowClass(const std::string& className, int timeoutMs) {
  QLocalSocket s;
  const bool found = ConnectToClass(s, className, timeoutMs);
  s.abort();
  return found;
}

namespace {
std::optional<int64_t> SendOn(QLocalSocket& s, const TWindowMessage& m, int timeoutMs) {
  const std::string frame = EncodeWindowMessage(m);
  s.write(frame.data(), static_cast<qint64>(frame.size()));
  while (s.bytesToWrite() > 0)
    if (!s.waitForBytesWritten(timeoutMs)) return std::nullopt;
  QByteArray got;
  for (;;) {
    int64_t result = 0;
    const int64_t used = DecodeWindowAnswer(got.constData(), static_cast<size_t>(got.size()), result);
    if (used > 0) return result;
    if (used < 0) return std::nullopt;
    if (s.bytesAvailable() == 0 && !s.waitForReadyRead(timeoutMs)) return std::nullopt;
    got += s.read(static_cast<qint64>(kAnswerSize) - got.size());
  }
}
}  // namespace

std::optional<int64_t> SendWindowMessage(const std::string& className, const TWindowMessage& m, int timeoutMs) {
  QLocalSocket s;
  if (!ConnectToClass(s, className, timeoutMs)) return std::nullopt;
  auto r = SendOn(s, m, timeoutMs);
  s.disconnectFromServer();
  return r;
}

void PostWindowMessage(const std::string& className, const TWindowMessage& m) {
  const QString addr = TrustedAddress(className);
  if (addr.isEmpty()) return;
  auto* s = new QLocalSocket;
  const QByteArray frame = QByteArray::fromStdString(EncodeWindowMessage(m));
  QObject::connect(s, &QLocalSocket::connected, s, [s, frame] { s->write(frame); });
  QObject::connect(s, &QLocalSocket::bytesWritten, s, [s] {
    if (s->bytesToWrite() == 0) s->disconnectFromServer();
  });
  QObject::connect(s, &QLocalSocket::disconnected, s, &QObject::deleteLater);
  QObject::connect(s, &QLocalSocket::errorOccurred, s, [s] { s->deleteLater(); });
  QTimer::singleShot(kIdleConnectionMs, s, [s] { s->deleteLater(); });
  s->connectToServer(addr);
}

bool HandOverToRunningInstance(const std::string& className, const std::optional<std::string>& argument) {
  QLocalSocket s;
  if (!ConnectToClass(s, className, 2000)) return false;
  if (argument) {
    TWindowMessage copy{WM_COPYDATA, 0, 0, *argument};
    copy.Data.push_back('\0');
    SendOn(s, copy, 5000);
  }
  SendOn(s, TWindowMessage{WM_BRINGTOFRONT, 0, 0, {}}, 2000);
  SendOn(s, TWindowMessage{WM_SYSCOMMAND, SC_RESTORE, 0, {}}, 2000);
  s.disconnectFromServer();
  return true;
}

}  // namespace plat
