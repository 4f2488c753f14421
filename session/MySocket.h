#pragma once
// The connection object of one network drawing session, over Qt's non-blocking sockets on
// the GUI thread. The protocol itself (slots, login, member lists, relay, chat, pacing) is
// TSessionCore; this class binds it to a QTcpServer (host) or a QTcpSocket (member).
//
// Notifications (OnChat, OnChange) run inside socket events; a handler must not destroy
// the object (free it from a timer or the update loop instead).
#include <QHostAddress>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <cstdint>
#include <set>
#include <functional>
#include <string>
#include <unordered_map>

#include "session/wire/SessionCore.h"

class TMySocket final : private TSessionLink, public TSessionCore {
 public:
  // owner: the network window; it parents the socket objects that a start creates.
  explicit TMySocket(QObject* owner);
  ~TMySocket();
  TMySocket(const TMySocket&) = delete;
  TMySocket& operator=(const TMySocket&) = delete;

  // Host role: listens on the port (0: one the system chooses, see ServerPort). False
  // when it cannot listen; LastError then says why and nothing was started.
  bool StartServer(int port, const std::string& user, const std::string& password,
                   const QHostAddress& listenAddress = QHostAddress::AnyIPv4);
  // Member role: connects to a dotted IPv4 address (no name look-up). False when the
  // address is not one; the status is then ssConnectFailed, as for a failed connect.
  bool StartClient(const std::string& address, int port, const std::string& user,
                   const std::string& password);
  // Closes the server with every member connection, or the member's connection.
  void CloseSocket();

  uint16_t ServerPort() const;

  // Called after bytes came in, a connection came or went, or a connection wrote bytes out
  // (so that it can take more): whoever drives the session sleeps until then. Runs inside
  // socket events, as OnChat and OnChange do; a start keeps it.
  void SetOnWake(std::function<void()> f) { onWake_ = std::move(f); }
  bool HasOnWake() const { return static_cast<bool>(onWake_); }
  // Queued frames that a Flush could hand to a connection now, without waiting for one to
  // write out what it holds.
  bool FlushReady() const;

  QObject* Owner = nullptr;
  QPointer<QTcpServer> Server;
  QPointer<QTcpSocket> Client;
  // The last listen or connect failure, for the session window to show.
  std::string LastError;
  // Why the last StartServer could not listen (AddressInUseError: the port is taken).
  QAbstractSocket::SocketError ListenError = QAbstractSocket::UnknownSocketError;

 private:
  // Host.
  void ServerClientConnect();
  void ServerClientDisconnect(int32_t conn);
  // Reads what the session has room for (everything when `all`: the connection is closing).
  void ServerClientRead(int32_t conn, bool all = false);
  // Member.
  void ClientConnect();
  void ClientDisconnect();
  void ClientRead(bool all = false);
  // Both.
  void SocketError(int32_t conn, QAbstractSocket::SocketError error);

  QTcpSocket* ConnSocket(int32_t conn) const;
  void Wake() const {
    if (onWake_) onWake_();
  }
  void ForgetSocket(QTcpSocket* s);

  int32_t Offer(int32_t conn, const uint8_t* p, int32_t n) override;
  int64_t Unsent(int32_t conn) override;
  void Drop(int32_t conn) override;
  void Finish(int32_t conn) override;
  void InputRoomChanged() override;
  void ResumeReads();
  // A connection left unread does not see its peer's close: looked for now and then.
  void ProbePaused();

  std::unordered_map<int32_t, QPointer<QTcpSocket>> conns_;
  int32_t nextConn_ = 1;
  bool clientConnected_ = false;
  std::set<int32_t> paused_;  // connections left unread for want of room (0: the host's)
  bool resumeQueued_ = false;
  QObject wake_;  // context of the queued resume; goes with this object
  QTimer heldTimer_;  // runs while connections wait for their join
  QTimer probeTimer_;  // runs while connections are left unread
  std::function<void()> onWake_;
};
