#include "session/MySocket.h"

#include <poll.h>

#include <QAbstractSocket>
#include <QTimer>

#include <algorithm>

namespace {

constexpr qint64 kReadChunk = 64 * 1024;
// Qt buffers no more than this of a connection that is not read, so TCP slows its sender.
constexpr qint64 kSocketReadBuffer = 64 * 1024;
// A connection closed gracefully is aborted if its peer has not taken the rest by then.
constexpr int kFinishMs = 2000;
constexpr int kHeldCheckMs = 250;
constexpr int kPausedProbeMs = 250;

// Remote address as dotted text (an IPv4 peer of a dual-stack socket is shown as IPv4).
std::string PeerText(const QTcpSocket* s) {
  QHostAddress a = s->peerAddress();
  bool ok = false;
  const quint32 v4 = a.toIPv4Address(&ok);
  if (ok) a = QHostAddress(v4);
  return a.toString().toStdString();
}

// The peer closed or reset the connection. Qt reads nothing more of a connection whose read
// buffer is full, so the close waits in the kernel behind the unread bytes; poll sees it.
bool PeerGone(const QTcpSocket* s) {
  const qintptr fd = s->socketDescriptor();
  if (fd < 0) return s->state() != QAbstractSocket::ConnectedState;
  pollfd p{static_cast<int>(fd), POLLRDHUP, 0};
  return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0;
}

}  // namespace

TMySocket::TMySocket(QObject* owner) : TSessionCore(this), Owner(owner) {
  // A waiting connection's turn can come with no socket event (a guess delay ending).
  heldTimer_.setInterval(kHeldCheckMs);
  QObject::connect(&heldTimer_, &QTimer::timeout, &wake_, [this] {
    AcceptHeld();
    if (HeldCount() == 0) heldTimer_.stop();
    Wake();
  });
  probeTimer_.setInterval(kPausedProbeMs);
  QObject::connect(&probeTimer_, &QTimer::timeout, &wake_, [this] { ProbePaused(); });
}

TMySocket::~TMySocket() {
  CloseSocket();
  Status = ssIdle;
}

void TMySocket::ForgetSocket(QTcpSocket* s) {
  if (!s) return;
  s->disconnect();  // no more events from it reach this object
  s->abort();
  s->deleteLater();
}

void TMySocket::CloseSocket() {
  for (auto& [id, s] : conns_) ForgetSocket(s);
  conns_.clear();
  paused_.clear();
  heldTimer_.stop();
  probeTimer_.stop();
  if (Server) {
    Server->disconnect();
    Server->close();
    Server->deleteLater();
  }
  Server = nullptr;
  if (Client) ForgetSocket(Client);
  Client = nullptr;
  clientConnected_ = false;
  ForgetConnections();
}

uint16_t TMySocket::ServerPort() const { return Server ? Server->serverPort() : 0; }

bool TMySocket::StartServer(int port, const std::string& user, const std::string& password,
                            const QHostAddress& listenAddress) {
  CloseSocket();
  LastError.clear();
  auto* server = new QTcpServer(Owner);
  if (port < 0 || port > 65535 || !server->listen(listenAddress, static_cast<quint16>(port))) {
    LastError = port < 0 || port > 65535 ? std::string("invalid port")
                                         : server->errorString().toStdString();
    ListenError = server->serverError();
    delete server;
    return false;
  }
  Server = server;
  QObject::connect(server, &QTcpServer::newConnection, server, [this] {
    ServerClientConnect();
    Wake();
  });
  BeginServer(user, password);
  return true;
}

bool TMySocket::StartClient(const std::string& address, int port, const std::string& user,
                            const std::string& password) {
  CloseSocket();
  LastError.clear();
  BeginClient(user, password);
  QHostAddress host;
  if (!host.setAddress(QString::fromStdString(address)) ||
      host.protocol() != QAbstractSocket::IPv4Protocol || port < 0 || port > 65535) {
    LastError = "invalid address or port";
    ConnectFailed();
    return false;
  }
  auto* client = new QTcpSocket(Owner);
  client->setReadBufferSize(kSocketReadBuffer);
  Client = client;
  QObject::connect(client, &QTcpSocket::readyRead, client, [this] {
    ClientRead();
    Wake();
  });
  QObject::connect(client, &QTcpSocket::bytesWritten, client, [this] { Wake(); });
  QObject::connect(client, &QTcpSocket::connected, client, [this] {
    Client->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    ClientConnect();
    Wake();
  });
  QObject::connect(client, &QTcpSocket::disconnected, client, [this] {
    ClientDisconnect();
    Wake();
  });
  QObject::connect(client, &QTcpSocket::errorOccurred, client, [this](QAbstractSocket::SocketError e) {
    SocketError(0, e);
    Wake();
  });
  client->connectToHost(host, static_cast<quint16>(port));
  return true;
}

QTcpSocket* TMySocket::ConnSocket(int32_t conn) const {
  auto it = conns_.find(conn);
  return it == conns_.end() ? nullptr : it->second.data();
}

// ---------------------------------------------------------------- host

void TMySocket::ServerClientConnect() {
  while (Server && Server->hasPendingConnections()) {
    QTcpSocket* s = Server->nextPendingConnection();
    if (!s) break;
    const int32_t id = nextConn_++;
    conns_[id] = s;
    const TJoin join = AcceptConnection(id, PeerText(s));
    if (join == TJoin::Refused) {
      conns_.erase(id);
      ForgetSocket(s);
      ConnectionClosed(id);  // the refused connection's close
      continue;
    }
    if (join == TJoin::Held && !heldTimer_.isActive()) heldTimer_.start();
    if (!ConnSocket(id)) continue;  // dropped or closed while it was taken up
    s->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    s->setReadBufferSize(kSocketReadBuffer);
    QObject::connect(s, &QTcpSocket::readyRead, s, [this, id] {
      ServerClientRead(id);
      Wake();
    });
    QObject::connect(s, &QTcpSocket::bytesWritten, s, [this] { Wake(); });
    QObject::connect(s, &QTcpSocket::disconnected, s, [this, id] {
      ServerClientDisconnect(id);
      Wake();
    });
    QObject::connect(s, &QTcpSocket::errorOccurred, s, [this, id](QAbstractSocket::SocketError e) {
      SocketError(id, e);
      Wake();
    });
    // Bytes may have come with the connection.
    if (s->bytesAvailable() > 0) ServerClientRead(id);
  }
}

void TMySocket::ServerClientRead(int32_t conn, bool all) {
  char buf[kReadChunk];
  while (QTcpSocket* s = ConnSocket(conn)) {
    const qint64 room = all ? qint64{kReadChunk} : std::min<qint64>(InputRoom(conn), kReadChunk);
    if (room <= 0) {
      if (s->bytesAvailable() > 0) paused_.insert(conn);
      if (!paused_.empty() && !probeTimer_.isActive()) probeTimer_.start();
      break;
    }
    const qint64 n = s->read(buf, room);
    if (n <= 0) break;
    ConnectionData(conn, reinterpret_cast<const uint8_t*>(buf), static_cast<int32_t>(n));
  }
}

void TMySocket::ServerClientDisconnect(int32_t conn) {
  QTcpSocket* s = ConnSocket(conn);
  if (!s) return;
  ServerClientRead(conn, true);  // what it sent before it went still counts
  s = ConnSocket(conn);
  if (!s) return;
  conns_.erase(conn);
  ForgetSocket(s);
  ConnectionClosed(conn);
}

// ---------------------------------------------------------------- member

void TMySocket::ClientConnect() {
  clientConnected_ = true;
  HostConnected();
}

void TMySocket::ClientDisconnect() {
  ClientRead(true);
  HostClosed();
}

void TMySocket::ClientRead(bool all) {
  char buf[kReadChunk];
  while (Client) {
    const qint64 room = all ? qint64{kReadChunk} : std::min<qint64>(InputRoom(0), kReadChunk);
    if (room <= 0) {
      if (Client->bytesAvailable() > 0) paused_.insert(0);
      if (!paused_.empty() && !probeTimer_.isActive()) probeTimer_.start();
      break;
    }
    const qint64 n = Client->read(buf, room);
    if (n <= 0) break;
    HostData(reinterpret_cast<const uint8_t*>(buf), static_cast<int32_t>(n));
  }
}

// ---------------------------------------------------------------- read pausing

void TMySocket::InputRoomChanged() {
  if (resumeQueued_) return;
  const bool any = std::any_of(paused_.begin(), paused_.end(), [this](int32_t c) { return InputRoom(c) > 0; });
  if (!any) return;
  // Read from the event loop, not inside the caller (an update step or a flush).
  resumeQueued_ = true;
  QTimer::singleShot(0, &wake_, [this] {
    resumeQueued_ = false;
    ResumeReads();
  });
}

void TMySocket::ResumeReads() {
  const std::set<int32_t> paused = std::move(paused_);
  paused_.clear();
  for (int32_t conn : paused) {
    if (conn == 0) {
      ClientRead();
    } else {
      ServerClientRead(conn);
    }
  }
  Wake();
}

void TMySocket::ProbePaused() {
  const std::set<int32_t> paused = paused_;
  for (int32_t conn : paused) {
    QTcpSocket* s = conn == 0 ? Client.data() : ConnSocket(conn);
    if (!s || !PeerGone(s)) continue;
    // Gone: what it sent up to its close is taken as it stands, and it leaves.
    paused_.erase(conn);
    if (conn == 0) {
      ClientDisconnect();
    } else {
      ServerClientDisconnect(conn);
    }
  }
  if (paused_.empty()) probeTimer_.stop();
  Wake();
}

// ---------------------------------------------------------------- errors

void TMySocket::SocketError(int32_t conn, QAbstractSocket::SocketError error) {
  if (conn != 0) {
    // A member's connection failed: that member leaves; the server goes on.
    ServerClientDisconnect(conn);
    return;
  }
  if (!Client) return;
  if (!clientConnected_) {
    LastError = Client->errorString().toStdString();
    if (Server) {
      Server->disconnect();
      Server->close();
      Server->deleteLater();
      Server = nullptr;
    }
    ForgetSocket(Client);
    Client = nullptr;
    ConnectFailed();
    return;
  }
  if (Client->state() == QAbstractSocket::UnconnectedState) ClientDisconnect();
}

// ---------------------------------------------------------------- wake-ups

bool TMySocket::FlushReady() const {
  auto room = [](const QTcpSocket* s) {
    return s && s->state() == QAbstractSocket::ConnectedState && s->bytesToWrite() < kMaxUnsentBytes;
  };
  if (!IsServer) return OutBuf.Remaining() >= kFrameHeaderSize && room(Client.data());
  for (int32_t s = 1; s < kMemberSlots; ++s) {
    const MemberSlot& m = Slots[s];
    if (!m.Used) continue;
    if (m.CloseAt >= 0 && m.SendPos >= m.CloseAt && m.SendOff == 0) return true;  // its close is due
    if (m.SendPos < OutBuf.Size() && room(ConnSocket(m.Conn))) return true;
  }
  return false;
}

// ---------------------------------------------------------------- link

int32_t TMySocket::Offer(int32_t conn, const uint8_t* p, int32_t n) {
  QTcpSocket* s = conn == 0 ? Client.data() : ConnSocket(conn);
  if (!s || s->state() != QAbstractSocket::ConnectedState || n <= 0) return 0;
  const qint64 w = s->write(reinterpret_cast<const char*>(p), n);
  return w < 0 ? 0 : static_cast<int32_t>(w);
}

int64_t TMySocket::Unsent(int32_t conn) {
  QTcpSocket* s = conn == 0 ? Client.data() : ConnSocket(conn);
  return s ? s->bytesToWrite() : 0;
}

void TMySocket::Drop(int32_t conn) {
  if (conn == 0) {
    if (Client) ForgetSocket(Client);
    Client = nullptr;
    return;
  }
  QTcpSocket* s = ConnSocket(conn);
  conns_.erase(conn);
  ForgetSocket(s);
}

void TMySocket::Finish(int32_t conn) {
  QTcpSocket* s = ConnSocket(conn);
  conns_.erase(conn);
  if (!s) return;
  s->disconnect();  // what it still says is not heard
  QObject::connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
  QTimer::singleShot(kFinishMs, s, [s] {
    s->abort();
    s->deleteLater();
  });
  s->disconnectFromHost();  // closes once the bytes it took are written
  if (s->state() == QAbstractSocket::UnconnectedState) s->deleteLater();
}
