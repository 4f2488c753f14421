#pragma once
// Sessions on 127.0.0.1 with system-chosen ports: a pump that runs the event loop and
// flushes the sockets the way the update loop does, and raw peers that send and read
// bytes as they like.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#include <functional>
#include <initializer_list>
#include <memory>
#include <vector>

#include "session/MySocket.h"
#include "tests/session/SessionTestUtil.h"

// Runs events and Flush of every socket until pred holds or ms have passed (real time).
inline bool PumpUntil(const std::function<bool()>& pred, const std::vector<TMySocket*>& socks,
                      int ms = 5000) {
  QElapsedTimer t;
  t.start();
  while (true) {
    for (TMySocket* s : socks) s->Flush();
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    if (pred()) return true;
    if (t.elapsed() > ms) return false;
    QThread::usleep(200);
  }
}

// Runs events and flushes for a while, for checking that something does not happen.
inline void PumpFor(int ms, const std::vector<TMySocket*>& socks) {
  PumpUntil([] { return false; }, socks, ms);
}

// A peer speaking raw bytes to a host (or a raw host's accepted connection).
class TRawPeer {
 public:
  TRawPeer() : sock_(std::make_unique<QTcpSocket>()) { Bind(); }
  explicit TRawPeer(QTcpSocket* accepted) : sock_(accepted) {
    accepted->setParent(nullptr);  // owned here, whatever happens to its server
    Bind();
  }

  bool Connect(uint16_t port) {
    sock_->connectToHost(QHostAddress::LocalHost, port);
    return sock_->waitForConnected(3000);
  }
  // Connects from another loopback address (127.0.0.2 ...), as a peer on another machine.
  bool ConnectFrom(const char* from, uint16_t port) {
    return sock_->bind(QHostAddress(QString::fromLatin1(from))) && Connect(port);
  }
  void Send(const std::vector<uint8_t>& b) {
    sock_->write(reinterpret_cast<const char*>(b.data()), static_cast<qint64>(b.size()));
    sock_->flush();
  }
  bool Connected() const { return sock_->state() == QAbstractSocket::ConnectedState; }
  std::vector<TFrame> Frames() const { return SplitFrames(In); }
  // Frames of one kind received so far.
  std::vector<TFrame> FramesOf(int32_t kind) const {
    std::vector<TFrame> out;
    for (TFrame& f : Frames()) {
      if (f.H.Kind == kind) out.push_back(std::move(f));
    }
    return out;
  }
  QTcpSocket& Socket() { return *sock_; }

  std::vector<uint8_t> In;

 private:
  void Bind() {
    QObject::connect(sock_.get(), &QTcpSocket::readyRead, sock_.get(), [this] {
      const QByteArray b = sock_->readAll();
      In.insert(In.end(), b.begin(), b.end());
    });
  }
  std::unique_ptr<QTcpSocket> sock_;
};
