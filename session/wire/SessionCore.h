#pragma once
// The session protocol of one host or member, without sockets: member slots, login,
// member lists, keepalive, relay, chat and send pacing. TMySocket (session/MySocket.h)
// drives it from Qt's sockets; tests and the fuzz target drive it through a fake link.
//
// Connections are named by an id that the socket layer gives each accepted connection and
// never reuses; several members may share one remote address. Each host connection has
// its own input buffer, so frames of different members never interleave.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/MyStream.h"
#include "session/wire/EventCut.h"
#include "session/wire/OwnerFilter.h"
#include "session/wire/SessionFrame.h"

// Status.
enum : uint8_t {
  ssIdle = 0,
  ssOnline = 1,
  ssConnecting = 2,
  ssDisconnected = 3,
  ssConnectFailed = 4,
};

constexpr int32_t kSessionBufferSize = 65536;  // initial capacity and growth step
constexpr uint32_t kJoinLockMs = 30000;
// A new connection is told a slot at once but holds nothing until its login comes: at most
// this many wait for theirs (and this many from one address). Past a bound the oldest of them
// that has sent no login is closed to make room; one that has logged in is never closed for
// room unless its address still waits for a wrong password.
constexpr int32_t kMaxWaitingJoins = 16;
constexpr int32_t kMaxWaitingJoinsPerAddress = 4;
// A connection that has sent no login this long after it was told its slot is closed.
constexpr uint32_t kLoginWaitMs = 10000;
// What a connection that is no member yet may have read and not yet parsed.
constexpr int32_t kMaxWaitingInput = 8192;
// After a wrong password the next join from that address waits this long, twice as long
// after each further wrong password in a row, at most kMaxGuessDelayMs.
constexpr uint32_t kGuessDelayMs = 2000;
constexpr uint32_t kMaxGuessDelayMs = 60000;

// What became of a new connection: it waits for its login and its turn, or it is refused.
enum class TJoin { Held, Refused };
constexpr uint32_t kKeepAliveMs = 30000;
// No frame is offered to a connection that still holds this many unsent bytes.
constexpr int64_t kMaxUnsentBytes = 256 * 1024;
// A member this far behind the host's outgoing frames is dropped (a leave).
constexpr int32_t kMaxMemberLag = 8 * 1024 * 1024;
// What one member can make the session hold. Past a bound its connection is not read (TCP
// then slows the sender) and its own drawing data wait in its recorder.
constexpr int32_t kMaxUnplayedInput = 1024 * 1024;  // a slot's received data not yet taken
constexpr int64_t kMaxRelayQueue = 256 * 1024;      // one sender's frames queued for one member
constexpr int32_t kMaxOwnQueue = 256 * 1024;        // a member's own frames not yet sent
// A member owed frames whose connection has had no room for this long is cut off (a leave).
constexpr uint32_t kStallMs = 10000;

// What the session needs of its connections.
class TSessionLink {
 public:
  // Hands n bytes to a connection (a member's id on the host; 0 for a member's host) and
  // returns how many it took: 0 when it would block, fewer than n when it took a part.
  virtual int32_t Offer(int32_t conn, const uint8_t* p, int32_t n) = 0;
  // Bytes handed to the connection that it has not sent yet.
  virtual int64_t Unsent(int32_t conn) = 0;
  // Closes a connection of the session's own accord. The session has already taken the
  // close up; the link reports nothing more for that connection.
  virtual void Drop(int32_t conn) = 0;
  // Like Drop, but the bytes the connection took are still delivered before it closes.
  virtual void Finish(int32_t conn) { Drop(conn); }
  // Room to read may have come back (see TSessionCore::InputRoom).
  virtual void InputRoomChanged() {}

 protected:
  ~TSessionLink() = default;
};

struct MemberSlot {
  int32_t SendPos = 0;  // host: position in OutBuf of the next frame for this member
  TMyMemory RecvBuf{kSessionBufferSize};
  bool Used = false;
  int32_t ConnIndex = 0;  // host: position of its connection among the open ones
  std::string Address;
  std::string Name;
  std::string Password;
  std::string ChatText;

  int32_t Conn = 0;           // host: id of this member's connection while Used
  int32_t SendOff = 0;        // host: bytes of the frame at SendPos the connection took
  bool LoginArrived = false;  // host: this occupant's login came in
  TEventCut Cut;              // where the whole events end in RecvBuf
  uint32_t Occupant = 0;      // occupants the slot has had since the session began
  int32_t FormerBytes = 0;    // unread bytes at the front of RecvBuf from former occupants

  bool Admitted = false;  // host: its data and chat count (see TSessionCore::Admit)
  int32_t CloseAt = -1;   // host: its connection closes once SendPos reaches this
  TEventCut OutCut;       // host: where the events end in this sender's data to all
  uint32_t HeldFrom = 0;  // host: slots that get this sender's data from its next event start
  TOwnerFilter Owner;     // which of this sender's events reach RecvBuf (and the relay)
  int64_t OwedFrom[kMemberSlots] = {};  // host: bytes of each sender's frames queued for it
  uint32_t LastTaken = 0;  // host: when its connection last had room or was owed nothing
};

class TSessionCore {
 public:
  explicit TSessionCore(TSessionLink* link);
  ~TSessionCore();
  TSessionCore(const TSessionCore&) = delete;
  TSessionCore& operator=(const TSessionCore&) = delete;

  // --- What the session window, the chat window and the update loop call. ---

  // Caps length at 0..4080, queues the frame (Kind, OwnId, Dest, length) and returns the
  // length taken.
  int32_t Send(int32_t kind, int32_t dest, const void* data, int32_t length);
  int32_t SendData(int32_t dest, const void* data, int32_t length) {
    return Send(mkData, dest, data, length);
  }
  // Reads exactly length bytes of the slot's received data if they are there.
  bool ReadMemberData(int32_t slot, void* dst, int32_t length);
  int32_t MemberDataSize(int32_t slot) const;
  // The first bytes of the slot's received data that came from its former occupants (what
  // the slot still held when its present occupant came in).
  int32_t MemberFormerDataSize(int32_t slot) const;
  bool MemberUsed(int32_t slot) const;
  // How many occupants the slot has had since the session began (0: never used). A change
  // between two looks tells a leave and a join apart from a member that stayed.
  uint32_t MemberOccupant(int32_t slot) const;
  std::string MemberAddress(int32_t slot) const;
  std::string MemberName(int32_t slot) const;
  std::string MemberPassword(int32_t slot) const;
  // Host: the slot's present occupant has logged in (false again at the next accept).
  bool MemberLoginArrived(int32_t slot) const;
  // Host: the slot a connection that waits for its login was told (0: no such connection).
  int32_t WaitingSlot(int32_t conn) const;
  std::string TakeChatText(int32_t slot);
  void AckJoin() { --JoinsPending; }
  void AckLeave() { --LeavesPending; }
  // Ends the join lock (the end of a join's handshake) or sets it without an owner.
  void SetJoinLock(bool on);
  // Host: the slot's member gave a wrong password; joins from its address wait a while.
  void PasswordRefused(int32_t slot);
  void SendMemberList();
  void SendChat(const std::string& text);
  void SetOnChat(std::function<void()> f) { OnChat = std::move(f); }
  void SetOnChange(std::function<void()> f) { OnChange = std::move(f); }
  void Flush();

  // Host: whether a new member's data and chat count from its accept on. When false, the
  // session window admits each member once its join is accepted; until then its data and
  // chat are dropped unseen (neither kept nor relayed).
  bool AdmitOnAccept = true;
  void Admit(int32_t slot);
  bool MemberAdmitted(int32_t slot) const;
  // Host: closes the slot's connection once every frame queued for it so far is written
  // (a graceful close, taken up as a leave); nothing queued later reaches it.
  void CloseMemberAfterFlush(int32_t slot);
  // Host: closes the slot's connection now, taken up as a leave.
  void DropMember(int32_t slot);
  // The session's layers per member and members. From then on a member's events that act on
  // a layer it does not own are dropped as they arrive: the host neither keeps nor relays
  // them, a member does not keep them. A member calls it once the join reply is read: the
  // data not yet read are sorted then.
  void SetLayerOwners(int32_t layersPerMember, int32_t members);
  const TLayerOwners& LayerOwners() const { return owners_; }

  // --- What the socket layer calls. ---

  // Host start after the server listens; member start after the connect began. Both reset
  // the counters, the buffers and the slots and clear the notifications. The user name and
  // password are kept as the wire can carry them (15 bytes of CP932).
  void BeginServer(const std::string& user, const std::string& password);
  void BeginClient(const std::string& user, const std::string& password);
  // Host: a new connection. It is told the lowest free slot at once (Held) but takes nothing
  // until its login comes: no slot, no place in the member list, no join lock. Logins are
  // taken in the order they come, one join at a time: the join lock belongs to the member
  // whose login took it, and ends when its join ends (SetJoinLock(false)), when it closes (a
  // refused member's after its reply is written) or when it is 30 s old. A login from an
  // address that gave a wrong password lately waits its delay. A login whose slot went to
  // another meanwhile is told the next free one, and taken once it logs in with that.
  // Refused (no free slot, or no room to wait): the caller closes it.
  TJoin AcceptConnection(int32_t conn, const std::string& address);
  // Host: takes the first waiting login whose turn has come, and closes connections that
  // sent none in time. Flush does it too.
  void AcceptHeld();
  int32_t HeldCount() const { return static_cast<int32_t>(waiting_.size()); }
  // Host: a connection closed (or failed). A connection that is no member (refused, or still
  // waiting) changes nothing.
  void ConnectionClosed(int32_t conn);
  // Host: bytes that arrived on a connection.
  void ConnectionData(int32_t conn, const uint8_t* p, int32_t n);
  // How many bytes may be read now from a connection (0 for the host's, on a member): none
  // while its sender's data not yet taken, or its frames queued for another member, are at
  // their bound. What is not read waits in the socket.
  int32_t InputRoom(int32_t conn) const;
  // Member: the connection to the host.
  void HostConnected() { Status = ssConnecting; }
  void HostClosed() { Status = ssDisconnected; }
  void HostData(const uint8_t* p, int32_t n);
  void ConnectFailed() { Status = ssConnectFailed; }
  // Forgets every connection (the socket layer closes them).
  void ForgetConnections();

  // --- State (fields in the order of the protocol's description). ---
  int32_t OwnId = 0;
  uint8_t Status = ssIdle;
  bool IsServer = false;
  bool LoggedIn = false;
  bool RejectPending = false;
  uint32_t LastKeepAlive = 0;
  bool JoinLock = false;
  uint32_t JoinLockTime = 0;
  std::string Password;
  std::string UserName;
  int32_t MemberCount = 0;
  int32_t JoinsPending = 0;
  int32_t LeavesPending = 0;
  std::string LastLeftAddress;
  int32_t LastJoinedSlot = 0;
  int32_t LastLeftSlot = 0;
  bool LastLeftAdmitted = false;  // host: the last member that left had been admitted
  MemberSlot Slots[kMemberSlots];
  int64_t BytesSent = 0;
  int64_t BytesReceived = 0;
  TMyMemory OutBuf{kSessionBufferSize};
  TMyMemory InBuf{kSessionBufferSize};
  std::function<void()> OnChat;
  std::function<void()> OnChange;

 private:
  // A connection told its slot, waiting for its login and then for its turn.
  struct TWaiting {
    int32_t Conn = 0;
    std::string Address;
    int32_t Slot = 0;     // the slot it was told
    uint32_t Since = 0;   // when it was told
    std::vector<uint8_t> In;   // read, not yet parsed
    std::vector<uint8_t> Out;  // its slot assignment not yet taken by the connection
    bool LoggedIn = false;     // its login for Slot came
    uint64_t LoginOrder = 0;
    std::string Name;
    std::string Password;
  };
  struct TGuess {
    std::string Address;
    int32_t Failures = 0;
    uint32_t Until = 0;
  };

  struct TConn {
    int32_t Id = 0;
    int32_t Slot = 0;
    TMyMemory In{kSessionBufferSize};
    bool Gone = false;
  };

  void ResetBuffers();
  void QueueFrame(const SessionMessage& m, const uint8_t* payload);
  // Host: data to all members from one sender. A member accepted while that sender was in
  // the middle of an event gets the sender's data only from its next event start; until
  // then the bytes go to the other members one by one, and a frame in which that event ends
  // is split there.
  void QueueStream(int32_t sender, const uint8_t* p, int32_t len);
  std::shared_ptr<TConn> FindConn(int32_t conn) const;
  TWaiting* FindWaiting(int32_t conn);
  const TWaiting* FindWaiting(int32_t conn) const;
  // Room for one more waiting connection from the address: false when none can be made.
  bool MakeWaitingRoom(const std::string& address);
  void CloseWaiting(int32_t conn);
  // Tells a waiting connection the lowest free slot; its login is awaited anew.
  void TellSlot(TWaiting& w, uint32_t now);
  void OfferWaiting(TWaiting& w);
  // Frames of a waiting connection: only its login counts. False on a violation.
  bool ParseWaiting(TWaiting& w);
  // The name a newcomer is shown by: its own, told apart from every other member's.
  std::string DistinctName(const std::string& name, int32_t slot) const;
  int32_t FreeSlot() const;
  bool GuessWait(const std::string& address, uint32_t now) const;
  void EndJoinLockIfOld(uint32_t now);
  // The accept proper of a login: the slot, the lock and the member list.
  void AcceptNow(TWaiting w, uint32_t now);
  // Host: a member's leave (its close, an error, a violation or a stall).
  void Leave(int32_t conn);
  void DropConnection(int32_t conn);
  // Frames of one input buffer; false on a violation.
  bool ParseHost(TConn& c);
  bool ParseMember();
  void HandleHostFrame(int32_t slot, const SessionMessage& m, const uint8_t* payload);
  void HandleMemberFrame(const SessionMessage& m, const uint8_t* payload);
  void AppendMemberData(int32_t slot, const uint8_t* p, int32_t n);
  // The bytes of a sender's data that its layers allow (all of them while the layers are
  // not known); they stay valid until the next call.
  const uint8_t* Owned(int32_t slot, const uint8_t* p, int32_t n, int32_t& kept);
  void TakeChat(int32_t slot, const uint8_t* p, int32_t n);
  // Keeps only the whole events of a slot's received data and starts its event cut anew.
  void CutToWholeEvents(int32_t slot);
  // Host: the most bytes of one sender's frames that a member is owed.
  int64_t MostOwedFrom(int32_t sender) const;
  void FlushHost();
  void FlushMember();
  void CompactOut();
  void Notify(const std::function<void()>& f);
  static void AddCount(int64_t& counter, int64_t n);

  TSessionLink* link_;
  TLayerOwners owners_;
  int32_t lockConn_ = 0;  // the connection whose join holds the lock
  std::vector<TWaiting> waiting_;  // in the order they came
  uint64_t loginOrder_ = 0;
  std::vector<TGuess> guesses_;
  std::vector<uint8_t> owned_;
  std::vector<std::shared_ptr<TConn>> conns_;  // open member connections, in accept order
  int32_t memberSendOff_ = 0;  // member: bytes of the frame at OutBuf's read position sent
};
