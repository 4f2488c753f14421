#include "session/wire/SessionCore.h"

#include <algorithm>
#include <cstring>

#include "platform/core/Clock.h"
#include "session/wire/WireText.h"

namespace {

// Drops the read part of a buffer.
void Compact(TMyMemory& m) {
  const int32_t rest = m.Remaining();
  if (m.ReadPos() == 0) return;
  if (rest > 0) MoveBytes(m.ReadPointer(), m.Memory(), rest);
  m.SetSize(rest);
  m.Rewind();
}

// Compacts once the read part is worth moving.
void CompactIfWorth(TMyMemory& m) {
  if (m.Remaining() == 0) {
    m.Clear();
  } else if (m.ReadPos() >= kSessionBufferSize && m.ReadPos() >= m.Remaining()) {
    Compact(m);
  }
}

bool ElapsedMoreThan(uint32_t now, uint32_t then, uint32_t ms) {
  return static_cast<uint32_t>(now - then) > ms;
}

// A name as a reader tells it from another: runs of white space and control characters
// (the ideographic space among them) count as one space, none at either end.
std::string NameKey(const std::string& name) {
  std::string out;
  bool space = false;
  for (size_t i = 0; i < name.size();) {
    const auto c = static_cast<uint8_t>(name[i]);
    size_t n = 1;
    bool blank = c <= 0x20 || c == 0x7F;
    if (c == 0xE3 && i + 2 < name.size() && static_cast<uint8_t>(name[i + 1]) == 0x80 &&
        static_cast<uint8_t>(name[i + 2]) == 0x80) {
      blank = true;
      n = 3;
    }
    if (blank) {
      space = !out.empty();
    } else {
      if (space) out += ' ';
      space = false;
      out.append(name, i, n);
    }
    i += n;
  }
  return out;
}

}  // namespace

TSessionCore::TSessionCore(TSessionLink* link) : link_(link) { LastKeepAlive = timeGetTime(); }

TSessionCore::~TSessionCore() = default;

void TSessionCore::AddCount(int64_t& counter, int64_t n) {
  if (n > 0) counter += n;
}

void TSessionCore::Notify(const std::function<void()>& f) {
  if (f) {
    std::function<void()> copy = f;  // the handler may set another one
    copy();
  }
}

void TSessionCore::ResetBuffers() {
  owners_ = TLayerOwners{};
  OutBuf.Clear();
  InBuf.Clear();
  memberSendOff_ = 0;
  for (MemberSlot& s : Slots) {
    s.SendPos = 0;
    s.SendOff = 0;
    s.RecvBuf.Clear();
    s.Cut.Reset();
    s.Used = false;
    s.ChatText.clear();
    s.Conn = 0;
    s.LoginArrived = false;
    s.Occupant = 0;
    s.FormerBytes = 0;
    s.Admitted = false;
    s.CloseAt = -1;
    s.OutCut.Reset();
    s.HeldFrom = 0;
    s.Owner.Reset();
  }
}

void TSessionCore::ForgetConnections() {
  for (auto& c : conns_) c->Gone = true;
  conns_.clear();
  waiting_.clear();
  lockConn_ = 0;
}

void TSessionCore::BeginServer(const std::string& user, const std::string& password) {
  ForgetConnections();
  OnChat = nullptr;
  OnChange = nullptr;
  UserName = WireFieldText(user);
  Password = WireFieldText(password);
  JoinLock = false;
  guesses_.clear();
  Slots[0].Name = UserName;
  Slots[0].Password = Password;
  RejectPending = false;
  OwnId = 0;
  BytesSent = 0;
  BytesReceived = 0;
  Status = ssOnline;
  IsServer = true;
  MemberCount = 1;
  JoinsPending = 0;
  LeavesPending = 0;
  LoggedIn = false;
  ResetBuffers();
  Slots[0].Used = true;
  Slots[0].Occupant = 1;
  Slots[0].Admitted = true;
}

void TSessionCore::BeginClient(const std::string& user, const std::string& password) {
  ForgetConnections();
  OnChat = nullptr;
  OnChange = nullptr;
  UserName = WireFieldText(user);
  Password = WireFieldText(password);
  BytesSent = 0;
  BytesReceived = 0;
  Status = ssConnecting;
  IsServer = false;
  LoggedIn = false;
  ResetBuffers();
}

// ---------------------------------------------------------------- queueing

int32_t TSessionCore::Send(int32_t kind, int32_t dest, const void* data, int32_t length) {
  const int32_t len = data ? std::clamp(length, 0, kMaxPayload) : 0;
  // Drawing data wait in their recorder while the ones they are for are behind.
  if (kind == mkData && dest == mdAll &&
      (IsServer ? MostOwedFrom(OwnId) >= kMaxRelayQueue : OutBuf.Remaining() >= kMaxOwnQueue)) {
    return 0;
  }
  if (IsServer && kind == mkData && dest == mdAll) {
    QueueStream(OwnId, static_cast<const uint8_t*>(data), len);
  } else {
    QueueFrame(SessionMessage{kind, OwnId, dest, len}, static_cast<const uint8_t*>(data));
  }
  return len;
}

void TSessionCore::QueueFrame(const SessionMessage& m, const uint8_t* payload) {
  uint8_t header[kFrameHeaderSize];
  EncodeHeader(m, header);
  OutBuf.WriteBuffer(header, kFrameHeaderSize);
  if (m.Len > 0) OutBuf.WriteBuffer(payload, m.Len);
  if (!IsServer || !ValidSlot(m.Sender)) return;
  for (int32_t t = 1; t < kMemberSlots; ++t) {
    if (Slots[t].Used && (m.Dest == mdAll || m.Dest == t) && m.Sender != t) {
      Slots[t].OwedFrom[m.Sender] += kFrameHeaderSize + m.Len;
    }
  }
}

int64_t TSessionCore::MostOwedFrom(int32_t sender) const {
  int64_t most = 0;
  for (int32_t t = 1; t < kMemberSlots; ++t) {
    if (Slots[t].Used) most = std::max(most, Slots[t].OwedFrom[sender]);
  }
  return most;
}

int32_t TSessionCore::InputRoom(int32_t conn) const {
  int64_t room = 0;
  if (!IsServer) {
    room = kMaxUnplayedInput;
    for (const MemberSlot& s : Slots) room = std::min<int64_t>(room, kMaxUnplayedInput - s.RecvBuf.Remaining());
  } else if (const std::shared_ptr<TConn> c = FindConn(conn)) {
    room = std::min<int64_t>(kMaxUnplayedInput - Slots[c->Slot].RecvBuf.Remaining(),
                             kMaxRelayQueue - MostOwedFrom(c->Slot));
  } else if (const TWaiting* w = FindWaiting(conn)) {
    room = kMaxWaitingInput - static_cast<int64_t>(w->In.size());
  }
  return static_cast<int32_t>(std::clamp<int64_t>(room, 0, INT32_MAX));
}

void TSessionCore::QueueStream(int32_t sender, const uint8_t* p, int32_t len) {
  MemberSlot& s = Slots[sender];
  if (!s.OutCut.Broken() && s.OutCut.Fed() == s.OutCut.WholeEnd()) s.HeldFrom = 0;
  int32_t held = 0;  // bytes that finish an event begun before a newcomer came
  if (s.HeldFrom != 0) {
    while (held < len && !s.OutCut.Broken()) {
      s.OutCut.Feed(p + held, 1);
      ++held;
      if (s.OutCut.Fed() == s.OutCut.WholeEnd()) break;
    }
    if (s.OutCut.Broken()) held = len;
    for (int32_t t = 1; t < kMemberSlots; ++t) {
      if (t != sender && Slots[t].Used && !(s.HeldFrom & (1u << t))) {
        QueueFrame(SessionMessage{mkData, sender, t, held}, p);
      }
    }
    if (held == len) return;
    s.HeldFrom = 0;  // the rest starts on an event: everybody's
  }
  QueueFrame(SessionMessage{mkData, sender, mdAll, len - held}, p + held);
  if (len > held) s.OutCut.Feed(p + held, static_cast<size_t>(len - held));
}

void TSessionCore::SendMemberList() {
  if (!IsServer) return;
  TMemberListText list[kMemberSlots];
  for (int32_t s = 0; s < kMemberSlots; ++s) {
    list[s].Used = Slots[s].Used;
    list[s].Name = Slots[s].Name;
    list[s].Address = s == 0 ? std::string() : Slots[s].Address;
  }
  uint8_t area[kMemberListSize];
  EncodeMemberList(list, area);
  Send(mkMemberList, mdAll, area, kMemberListSize);
}

void TSessionCore::SendChat(const std::string& text) {
  const std::string wire = EncodeWireText(text, kMaxChatBytes);
  Send(mkChat, mdAll, wire.data(), static_cast<int32_t>(wire.size()));
}

// ---------------------------------------------------------------- accessors

bool TSessionCore::ReadMemberData(int32_t slot, void* dst, int32_t length) {
  if (!ValidSlot(slot) || length < 0) return false;
  TMyMemory& buf = Slots[slot].RecvBuf;
  if (!buf.ReadBuffer(dst, length)) return false;
  Slots[slot].FormerBytes = std::max(0, Slots[slot].FormerBytes - length);
  CompactIfWorth(buf);
  if (link_ && length > 0) link_->InputRoomChanged();
  return true;
}

int32_t TSessionCore::MemberDataSize(int32_t slot) const {
  return ValidSlot(slot) ? Slots[slot].RecvBuf.Remaining() : 0;
}

int32_t TSessionCore::MemberFormerDataSize(int32_t slot) const {
  return ValidSlot(slot) ? std::min(Slots[slot].FormerBytes, Slots[slot].RecvBuf.Remaining()) : 0;
}

bool TSessionCore::MemberUsed(int32_t slot) const { return ValidSlot(slot) && Slots[slot].Used; }

uint32_t TSessionCore::MemberOccupant(int32_t slot) const {
  return ValidSlot(slot) ? Slots[slot].Occupant : 0;
}

std::string TSessionCore::MemberAddress(int32_t slot) const {
  return ValidSlot(slot) ? Slots[slot].Address : std::string();
}

std::string TSessionCore::MemberName(int32_t slot) const {
  return ValidSlot(slot) ? Slots[slot].Name : std::string();
}

std::string TSessionCore::MemberPassword(int32_t slot) const {
  return ValidSlot(slot) ? Slots[slot].Password : std::string();
}

bool TSessionCore::MemberLoginArrived(int32_t slot) const {
  return ValidSlot(slot) && Slots[slot].LoginArrived;
}

int32_t TSessionCore::WaitingSlot(int32_t conn) const {
  const TWaiting* w = FindWaiting(conn);
  return w ? w->Slot : 0;
}

bool TSessionCore::MemberAdmitted(int32_t slot) const {
  return ValidSlot(slot) && Slots[slot].Used && Slots[slot].Admitted;
}

void TSessionCore::Admit(int32_t slot) {
  if (!IsServer || !ValidSlot(slot) || !Slots[slot].Used) return;
  Slots[slot].Admitted = true;
  // Its address knew the password: its earlier wrong ones are forgiven.
  const std::string& a = Slots[slot].Address;
  guesses_.erase(std::remove_if(guesses_.begin(), guesses_.end(), [&](const TGuess& g) { return g.Address == a; }),
                 guesses_.end());
}

void TSessionCore::CloseMemberAfterFlush(int32_t slot) {
  if (!IsServer || slot < 1 || slot >= kMemberSlots || !Slots[slot].Used) return;
  Slots[slot].CloseAt = OutBuf.Size();
}

void TSessionCore::DropMember(int32_t slot) {
  if (!IsServer || slot < 1 || slot >= kMemberSlots || !Slots[slot].Used) return;
  DropConnection(Slots[slot].Conn);
}

std::string TSessionCore::TakeChatText(int32_t slot) {
  if (!ValidSlot(slot)) return std::string();
  std::string t;
  t.swap(Slots[slot].ChatText);
  return t;
}

// ---------------------------------------------------------------- host connections

std::shared_ptr<TSessionCore::TConn> TSessionCore::FindConn(int32_t conn) const {
  for (const auto& c : conns_) {
    if (c->Id == conn) return c;
  }
  return nullptr;
}

int32_t TSessionCore::FreeSlot() const {
  for (int32_t s = 1; s < kMemberSlots; ++s) {
    if (!Slots[s].Used) return s;
  }
  return 0;
}

bool TSessionCore::GuessWait(const std::string& address, uint32_t now) const {
  for (const TGuess& g : guesses_) {
    if (g.Address == address) return static_cast<int32_t>(g.Until - now) >= 0;
  }
  return false;
}

void TSessionCore::EndJoinLockIfOld(uint32_t now) {
  if (JoinLock && ElapsedMoreThan(now, JoinLockTime, kJoinLockMs)) SetJoinLock(false);
}

void TSessionCore::SetJoinLock(bool on) {
  JoinLock = on;
  if (!on) lockConn_ = 0;
}

void TSessionCore::PasswordRefused(int32_t slot) {
  if (!IsServer || !ValidSlot(slot) || slot == 0) return;
  const uint32_t now = timeGetTime();
  const std::string& address = Slots[slot].Address;
  auto it = std::find_if(guesses_.begin(), guesses_.end(), [&](const TGuess& g) { return g.Address == address; });
  if (it == guesses_.end()) {
    constexpr size_t kMaxAddresses = 64;
    if (guesses_.size() >= kMaxAddresses) {  // forget the one that ended first
      guesses_.erase(std::min_element(guesses_.begin(), guesses_.end(), [now](const TGuess& a, const TGuess& b) {
        return static_cast<int32_t>(a.Until - now) < static_cast<int32_t>(b.Until - now);
      }));
    }
    guesses_.push_back(TGuess{address, 0, now});
    it = guesses_.end() - 1;
  } else if (ElapsedMoreThan(now, it->Until, 10 * kMaxGuessDelayMs)) {
    it->Failures = 0;  // a wrong password long after the last one starts over
  }
  it->Failures = std::min(it->Failures + 1, 16);
  it->Until = now + std::min<uint32_t>(kMaxGuessDelayMs, kGuessDelayMs << (it->Failures - 1));
}

TSessionCore::TWaiting* TSessionCore::FindWaiting(int32_t conn) {
  for (TWaiting& w : waiting_) {
    if (w.Conn == conn) return &w;
  }
  return nullptr;
}

const TSessionCore::TWaiting* TSessionCore::FindWaiting(int32_t conn) const {
  return const_cast<TSessionCore*>(this)->FindWaiting(conn);
}

void TSessionCore::CloseWaiting(int32_t conn) {
  const auto it = std::find_if(waiting_.begin(), waiting_.end(), [conn](const TWaiting& w) { return w.Conn == conn; });
  if (it == waiting_.end()) return;
  waiting_.erase(it);
  if (link_) link_->Drop(conn);
}

bool TSessionCore::MakeWaitingRoom(const std::string& address) {
  // The oldest that has sent no login (or whose address still waits for a wrong password)
  // goes: from the same address first, so that one address cannot push the others' joiners
  // out.
  const uint32_t now = timeGetTime();
  auto oldestSilent = [&](bool sameAddress) {
    return std::find_if(waiting_.begin(), waiting_.end(), [&](const TWaiting& w) {
      return (!w.LoggedIn || GuessWait(w.Address, now)) && (!sameAddress || w.Address == address);
    });
  };
  const auto fromThere =
      std::count_if(waiting_.begin(), waiting_.end(), [&](const TWaiting& w) { return w.Address == address; });
  if (fromThere >= kMaxWaitingJoinsPerAddress) {
    const auto it = oldestSilent(true);
    if (it == waiting_.end()) return false;
    CloseWaiting(it->Conn);
  }
  if (static_cast<int32_t>(waiting_.size()) >= kMaxWaitingJoins) {
    const auto it = oldestSilent(false);
    if (it == waiting_.end()) return false;
    CloseWaiting(it->Conn);
  }
  return true;
}

void TSessionCore::TellSlot(TWaiting& w, uint32_t now) {
  w.Slot = FreeSlot();
  w.Since = now;
  w.LoggedIn = false;
  uint8_t frame[kFrameHeaderSize + 4];
  EncodeHeader(SessionMessage{mkAssignId, 0, w.Slot, 4}, frame);
  PutInt32LE(frame + kFrameHeaderSize, w.Slot);
  w.Out.insert(w.Out.end(), frame, frame + sizeof frame);
  OfferWaiting(w);
}

void TSessionCore::OfferWaiting(TWaiting& w) {
  if (w.Out.empty() || !link_ || link_->Unsent(w.Conn) >= kMaxUnsentBytes) return;
  const int32_t n = link_->Offer(w.Conn, w.Out.data(), static_cast<int32_t>(w.Out.size()));
  if (n <= 0) return;
  AddCount(BytesSent, n);
  w.Out.erase(w.Out.begin(), w.Out.begin() + std::min<int32_t>(n, static_cast<int32_t>(w.Out.size())));
}

TJoin TSessionCore::AcceptConnection(int32_t conn, const std::string& address) {
  const uint32_t now = timeGetTime();
  if (!IsServer || FindConn(conn) || FindWaiting(conn) || MemberCount >= kMemberSlots || FreeSlot() == 0 ||
      !MakeWaitingRoom(address)) {
    RejectPending = true;
    return TJoin::Refused;
  }
  waiting_.push_back(TWaiting{});
  TWaiting& w = waiting_.back();
  w.Conn = conn;
  w.Address = address;
  TellSlot(w, now);
  return TJoin::Held;
}

bool TSessionCore::ParseWaiting(TWaiting& w) {
  size_t pos = 0;
  bool ok = true;
  while (!w.LoggedIn) {
    SessionMessage m;
    const TFrameScan r = ScanFrame(w.In.data() + pos, w.In.size() - pos, m);
    if (r == TFrameScan::Violation) {
      ok = false;
      break;
    }
    if (r == TFrameScan::NeedMore) break;
    const uint8_t* payload = w.In.data() + pos + kFrameHeaderSize;
    // Only a login for the slot it was told counts; anything else it says is not heard.
    if (m.Kind == mkLogin && m.Len == kLoginRecordSize && m.Dest == mdHost && m.Sender == w.Slot) {
      DecodeLoginRecord(payload, w.Name, w.Password);
      w.LoggedIn = true;
      w.LoginOrder = ++loginOrder_;
    }
    pos += static_cast<size_t>(kFrameHeaderSize + m.Len);
  }
  w.In.erase(w.In.begin(), w.In.begin() + static_cast<long>(pos));
  return ok;
}

void TSessionCore::AcceptHeld() {
  if (!IsServer || waiting_.empty()) return;
  const uint32_t now = timeGetTime();
  std::vector<int32_t> late;
  for (TWaiting& w : waiting_) {
    OfferWaiting(w);
    if (!w.LoggedIn && ElapsedMoreThan(now, w.Since, kLoginWaitMs)) late.push_back(w.Conn);
  }
  for (int32_t c : late) CloseWaiting(c);  // it said nothing in time
  EndJoinLockIfOld(now);
  while (!JoinLock && MemberCount < kMemberSlots && FreeSlot() != 0) {
    // The first login whose turn has come; one whose slot assignment is still on its way
    // waits for it.
    TWaiting* next = nullptr;
    for (TWaiting& w : waiting_) {
      if (w.LoggedIn && w.Out.empty() && !GuessWait(w.Address, now) && (!next || w.LoginOrder < next->LoginOrder)) {
        next = &w;
      }
    }
    if (!next) return;
    if (next->Slot < 1 || next->Slot >= kMemberSlots || Slots[next->Slot].Used) {
      TellSlot(*next, now);  // its slot went to another meanwhile
      continue;
    }
    TWaiting w = std::move(*next);
    waiting_.erase(waiting_.begin() + (next - waiting_.data()));
    AcceptNow(std::move(w), now);
    if (link_) link_->InputRoomChanged();  // what it sent meanwhile can be read now
    return;  // it holds the lock now
  }
}

std::string TSessionCore::DistinctName(const std::string& name, int32_t slot) const {
  auto taken = [&](const std::string& n) {
    const std::string key = NameKey(n);
    if (key.empty()) return true;
    for (int32_t s = 0; s < kMemberSlots; ++s) {
      if (s != slot && Slots[s].Used && NameKey(Slots[s].Name) == key) return true;
    }
    return false;
  };
  if (!taken(name)) return name;
  for (int32_t k = 2;; ++k) {
    const std::string mark = "(" + std::to_string(k) + ")";
    const std::string base = EncodeWireText(name, kLoginRecordSize / 2 - 1 - mark.size());
    const std::string candidate = DecodeWireText(reinterpret_cast<const uint8_t*>(base.data()), base.size()) + mark;
    if (!taken(candidate)) return candidate;
  }
}

void TSessionCore::AcceptNow(TWaiting w, uint32_t now) {
  const int32_t conn = w.Conn;
  const int32_t slot = w.Slot;
  JoinLockTime = now;
  JoinLock = true;
  lockConn_ = conn;

  auto c = std::make_shared<TConn>();
  c->Id = conn;
  c->Slot = slot;
  conns_.push_back(c);

  MemberSlot& m = Slots[slot];
  CutToWholeEvents(slot);  // nothing of a former member's half event stays
  m.Used = true;
  ++m.Occupant;
  m.FormerBytes = m.RecvBuf.Remaining();
  m.Address = w.Address;
  // Once taken, a member's name is fixed, and no other member's.
  m.Name = DistinctName(w.Name, slot);
  m.Password = w.Password;
  m.ConnIndex = static_cast<int32_t>(conns_.size()) - 1;
  m.Conn = conn;
  m.SendPos = OutBuf.Size();
  m.SendOff = 0;
  m.LoginArrived = true;
  m.ChatText.clear();
  m.Admitted = AdmitOnAccept;
  m.CloseAt = -1;
  m.OutCut.Reset();
  m.HeldFrom = 0;
  std::fill(std::begin(m.OwedFrom), std::end(m.OwedFrom), 0);
  m.LastTaken = now;
  // Whoever is in the middle of an event reaches the newcomer only from its next one.
  for (int32_t s = 0; s < kMemberSlots; ++s) {
    MemberSlot& o = Slots[s];
    o.HeldFrom &= ~(1u << slot);
    if (s != slot && o.Used && (o.OutCut.Broken() || o.OutCut.Fed() != o.OutCut.WholeEnd())) {
      o.HeldFrom |= 1u << slot;
    }
  }

  LoggedIn = true;
  Status = ssOnline;
  ++MemberCount;
  ++JoinsPending;
  LastJoinedSlot = slot;
  SendMemberList();
  Notify(OnChange);
  // What it sent after its login is a member's, heard as such.
  if (!w.In.empty() && !c->Gone) {
    c->In.WriteBuffer(w.In.data(), static_cast<int32_t>(w.In.size()));
    if (!ParseHost(*c)) DropConnection(conn);
  }
}

void TSessionCore::Leave(int32_t conn) {
  auto it = std::find_if(conns_.begin(), conns_.end(),
                         [conn](const std::shared_ptr<TConn>& c) { return c->Id == conn; });
  if (it == conns_.end()) {
    RejectPending = false;  // the refused connection, or one already taken up
    return;
  }
  const std::shared_ptr<TConn> c = *it;
  c->Gone = true;
  conns_.erase(it);
  if (conn == lockConn_) SetJoinLock(false);  // its join is over

  const int32_t slot = c->Slot;
  MemberSlot& m = Slots[slot];
  const int32_t freedIndex = m.ConnIndex;
  LastLeftAdmitted = m.Admitted;
  m.Used = false;
  m.Conn = 0;
  m.Admitted = false;
  m.CloseAt = -1;
  std::fill(std::begin(m.OwedFrom), std::end(m.OwedFrom), 0);
  for (MemberSlot& o : Slots) o.HeldFrom &= ~(1u << slot);
  CutToWholeEvents(slot);  // its whole events stay for the session layer
  for (int32_t s = 1; s < kMemberSlots; ++s) {
    if (Slots[s].Used && Slots[s].ConnIndex > freedIndex) --Slots[s].ConnIndex;
  }
  --MemberCount;
  ++LeavesPending;
  LastLeftAddress = m.Address;
  LastLeftSlot = slot;
  SendMemberList();
  Notify(OnChange);
}

void TSessionCore::ConnectionClosed(int32_t conn) {
  const auto w = std::find_if(waiting_.begin(), waiting_.end(), [conn](const TWaiting& x) { return x.Conn == conn; });
  if (w != waiting_.end()) {
    waiting_.erase(w);  // it never was a member
    return;
  }
  Leave(conn);
}

void TSessionCore::DropConnection(int32_t conn) {
  if (!FindConn(conn)) return;
  Leave(conn);
  if (link_) link_->Drop(conn);
}

void TSessionCore::ConnectionData(int32_t conn, const uint8_t* p, int32_t n) {
  if (n <= 0) return;
  if (TWaiting* w = FindWaiting(conn)) {
    AddCount(BytesReceived, n);
    w->In.insert(w->In.end(), p, p + n);
    if (!ParseWaiting(*w)) {
      CloseWaiting(conn);
      return;
    }
    if (w->LoggedIn) AcceptHeld();
    return;
  }
  std::shared_ptr<TConn> c = FindConn(conn);
  if (!c) return;
  Status = ssOnline;
  OwnId = 0;
  AddCount(BytesReceived, n);
  c->In.WriteBuffer(p, n);
  if (!ParseHost(*c)) {
    DropConnection(conn);
    return;
  }
  if (!c->Gone) CompactIfWorth(c->In);
}

bool TSessionCore::ParseHost(TConn& c) {
  while (!c.Gone) {
    SessionMessage m;
    const TFrameScan r =
        ScanFrame(c.In.ReadPointer(), static_cast<size_t>(c.In.Remaining()), m);
    if (r == TFrameScan::Violation) return false;
    if (r == TFrameScan::NeedMore) return true;
    // Copy the frame out: a handler may queue, drop or accept while it runs.
    uint8_t frame[kMaxFrameSize];
    const int32_t size = kFrameHeaderSize + m.Len;
    std::memcpy(frame, c.In.ReadPointer(), static_cast<size_t>(size));
    c.In.Skip(size);
    HandleHostFrame(c.Slot, m, frame + kFrameHeaderSize);
  }
  return true;
}

void TSessionCore::HandleHostFrame(int32_t slot, const SessionMessage& m,
                                   const uint8_t* payload) {
  if (m.Sender != slot) return;  // only a member's own frames, never another's
  if (!Slots[slot].Admitted && (m.Kind == mkData || m.Kind == mkChat)) return;
  const bool relay = (m.Dest == mdAll || (m.Dest >= 1 && m.Dest < kMemberSlots)) &&
                     m.Dest != slot;
  switch (m.Kind) {
    case mkData: {
      int32_t len = 0;
      const uint8_t* kept = Owned(slot, payload, m.Len, len);
      if (len == 0) break;
      // Bytes held back from an earlier frame can make this one longer than a frame takes.
      for (int32_t at = 0; relay && at < len; at += kMaxPayload) {
        const int32_t n = std::min(kMaxPayload, len - at);
        if (m.Dest == mdAll) {
          QueueStream(slot, kept + at, n);
        } else {
          QueueFrame(SessionMessage{mkData, slot, m.Dest, n}, kept + at);
        }
      }
      AppendMemberData(slot, kept, len);
      break;
    }
    case mkLogin:
      break;  // a member logs in once, before it joins: its name stays the one it joined with
    case mkChat: {
      if (relay) {
        // Relayed as a peer can take it: up to the first zero, at most 1023 bytes.
        const void* zero = std::memchr(payload, 0, static_cast<size_t>(m.Len));
        const size_t textLen =
            zero ? static_cast<size_t>(static_cast<const uint8_t*>(zero) - payload)
                 : static_cast<size_t>(m.Len);
        const size_t cut = WireTextCut(payload, textLen, kMaxChatBytes);
        SessionMessage r = m;
        r.Len = static_cast<int32_t>(cut);
        QueueFrame(r, payload);
      }
      TakeChat(slot, payload, m.Len);
      break;
    }
    default:
      break;  // host-only kinds and unknown kinds are neither handled nor relayed
  }
}

// ---------------------------------------------------------------- member connection

void TSessionCore::HostData(const uint8_t* p, int32_t n) {
  if (n <= 0) return;
  AddCount(BytesReceived, n);
  InBuf.WriteBuffer(p, n);
  if (!ParseMember()) {
    // The host's byte stream cannot be followed any more: the session is lost.
    InBuf.Clear();
    Status = ssDisconnected;
    if (link_) link_->Drop(0);
    return;
  }
  CompactIfWorth(InBuf);
}

bool TSessionCore::ParseMember() {
  while (true) {
    SessionMessage m;
    const TFrameScan r = ScanFrame(InBuf.ReadPointer(), static_cast<size_t>(InBuf.Remaining()), m);
    if (r == TFrameScan::Violation) return false;
    if (r == TFrameScan::NeedMore) return true;
    uint8_t frame[kMaxFrameSize];
    const int32_t size = kFrameHeaderSize + m.Len;
    std::memcpy(frame, InBuf.ReadPointer(), static_cast<size_t>(size));
    InBuf.Skip(size);
    HandleMemberFrame(m, frame + kFrameHeaderSize);
  }
}

void TSessionCore::HandleMemberFrame(const SessionMessage& m, const uint8_t* payload) {
  if (!ValidSlot(m.Sender)) return;
  const bool fromHost = m.Sender == 0;
  switch (m.Kind) {
    case mkData: {
      int32_t len = 0;
      const uint8_t* kept = Owned(m.Sender, payload, m.Len, len);
      AppendMemberData(m.Sender, kept, len);
      break;
    }
    case mkAssignId: {
      if (!fromHost || m.Len != 4) return;
      const int32_t slot = GetInt32LE(payload);
      if (slot < 1 || slot >= kMemberSlots) return;
      OwnId = slot;
      uint8_t login[kLoginRecordSize];
      EncodeLoginRecord(UserName, Password, login);
      Send(mkLogin, mdHost, login, kLoginRecordSize);
      LoggedIn = true;
      Status = ssOnline;
      break;
    }
    case mkKeepAlive:
      break;  // consumed, whoever sent it
    case mkMemberList: {
      if (!fromHost || m.Len != kMemberListSize) return;
      MemberCount = 0;
      for (int32_t s = 0; s < kMemberSlots; ++s) {
        MemberSlot& slot = Slots[s];
        const bool wasUsed = slot.Used;
        DecodeMemberListEntry(payload + s * kMemberListEntrySize, slot.Name, slot.Address);
        slot.Used = !slot.Name.empty();
        if (slot.Used) ++MemberCount;
        // A leave, or a new occupant. The host's own stream starts with the join reply
        // words and the host never leaves a running session, so slot 0 is left alone.
        if (wasUsed != slot.Used && s != 0) CutToWholeEvents(s);
        if (!wasUsed && slot.Used) {
          slot.ChatText.clear();
          ++slot.Occupant;
          slot.FormerBytes = slot.RecvBuf.Remaining();
        }
      }
      Notify(OnChange);
      break;
    }
    case mkChat:
      TakeChat(m.Sender, payload, m.Len);
      break;
    default:
      break;  // logins go to the host only; unknown kinds are skipped
  }
}

// ---------------------------------------------------------------- received data

void TSessionCore::AppendMemberData(int32_t slot, const uint8_t* p, int32_t n) {
  if (n <= 0) return;
  MemberSlot& s = Slots[slot];
  CompactIfWorth(s.RecvBuf);
  s.RecvBuf.WriteBuffer(p, n);
  s.Cut.Feed(p, static_cast<size_t>(n));
}

const uint8_t* TSessionCore::Owned(int32_t slot, const uint8_t* p, int32_t n, int32_t& kept) {
  if (!owners_.Known()) {
    kept = n;
    return p;
  }
  owned_.clear();
  Slots[slot].Owner.Feed(p, static_cast<size_t>(n), slot, owners_, owned_);
  kept = static_cast<int32_t>(owned_.size());
  return owned_.data();
}

void TSessionCore::SetLayerOwners(int32_t layersPerMember, int32_t members) {
  owners_ = TLayerOwners{layersPerMember, members};
  if (!owners_.Known()) return;
  // What came before is sorted now; each slot's unread data start on an event.
  for (int32_t slot = 0; slot < kMemberSlots; ++slot) {
    MemberSlot& s = Slots[slot];
    const std::vector<uint8_t> unread(s.RecvBuf.ReadPointer(),
                                      s.RecvBuf.ReadPointer() + s.RecvBuf.Remaining());
    s.RecvBuf.Clear();
    s.Cut.Reset();
    s.Owner.Reset();
    int32_t len = 0;
    const uint8_t* kept = Owned(slot, unread.data(), static_cast<int32_t>(unread.size()), len);
    AppendMemberData(slot, kept, len);
  }
}

void TSessionCore::CutToWholeEvents(int32_t slot) {
  MemberSlot& s = Slots[slot];
  s.Owner.Reset();
  TMyMemory& buf = s.RecvBuf;
  const uint64_t half = s.Cut.Fed() - s.Cut.WholeEnd();  // bytes of an unfinished event
  const uint64_t unread = static_cast<uint64_t>(buf.Remaining());
  if (half <= unread) {
    buf.SetSize(buf.Size() - static_cast<int32_t>(half));
  } else {
    buf.SetSize(buf.ReadPos());  // the session layer already took its start
  }
  s.Cut.Reset();
  if (buf.Remaining() == 0) buf.Clear();
}

void TSessionCore::TakeChat(int32_t slot, const uint8_t* p, int32_t n) {
  const void* zero = std::memchr(p, 0, static_cast<size_t>(n));
  const size_t textLen =
      zero ? static_cast<size_t>(static_cast<const uint8_t*>(zero) - p) : static_cast<size_t>(n);
  const size_t cut = WireTextCut(p, textLen, kMaxChatBytes);
  Slots[slot].ChatText = DecodeWireText(p, cut);
  Notify(OnChat);
}

// ---------------------------------------------------------------- sending

void TSessionCore::Flush() {
  const uint32_t now = timeGetTime();
  if (IsServer && LoggedIn && ElapsedMoreThan(now, LastKeepAlive, kKeepAliveMs)) {
    uint8_t zero[4] = {0, 0, 0, 0};
    Send(mkKeepAlive, mdAll, zero, 4);
    LastKeepAlive = now;
  }
  if (IsServer) {
    AcceptHeld();
    FlushHost();
  } else {
    FlushMember();
  }
  if (link_) link_->InputRoomChanged();
}

void TSessionCore::FlushMember() {
  if (OutBuf.Remaining() < kFrameHeaderSize) return;
  const SessionMessage m = DecodeHeader(OutBuf.ReadPointer());
  const int32_t size = kFrameHeaderSize + m.Len;
  if (link_ && link_->Unsent(0) < kMaxUnsentBytes) {
    const int32_t n =
        link_->Offer(0, OutBuf.ReadPointer() + memberSendOff_, size - memberSendOff_);
    if (n > 0) {
      AddCount(BytesSent, n);
      memberSendOff_ += std::min(n, size - memberSendOff_);
    }
  }
  if (memberSendOff_ == size) {
    OutBuf.Skip(size);
    memberSendOff_ = 0;
    CompactIfWorth(OutBuf);
  }
}

void TSessionCore::FlushHost() {
  const uint32_t now = timeGetTime();
  for (int32_t s = 1; s < kMemberSlots; ++s) {
    MemberSlot& m = Slots[s];
    if (!m.Used) continue;
    const bool owed =
        std::any_of(std::begin(m.OwedFrom), std::end(m.OwedFrom), [](int64_t n) { return n != 0; });
    if (!owed || !link_ || link_->Unsent(m.Conn) < kMaxUnsentBytes) {
      m.LastTaken = now;
    } else if (ElapsedMoreThan(now, m.LastTaken, kStallMs)) {
      DropConnection(m.Conn);  // it holds the senders up and has taken nothing for long
      continue;
    }
    if (m.CloseAt >= 0 && m.SendPos >= m.CloseAt && m.SendOff == 0) {
      // Everything it was owed is written: a graceful close, taken up as a leave.
      const int32_t conn = m.Conn;
      Leave(conn);
      if (link_) link_->Finish(conn);
      continue;
    }
    if (m.SendPos >= OutBuf.Size()) continue;
    if (OutBuf.Size() - m.SendPos > kMaxMemberLag) {
      DropConnection(m.Conn);  // it takes nothing: holding its frames would grow forever
      continue;
    }
    const SessionMessage f = DecodeHeader(OutBuf.Memory() + m.SendPos);
    const int32_t size = kFrameHeaderSize + f.Len;
    if ((f.Dest == mdAll || f.Dest == s) && f.Sender != s) {
      if (!link_ || link_->Unsent(m.Conn) >= kMaxUnsentBytes) continue;
      const int32_t n =
          link_->Offer(m.Conn, OutBuf.Memory() + m.SendPos + m.SendOff, size - m.SendOff);
      if (n > 0) {
        AddCount(BytesSent, n);
        m.SendOff += std::min(n, size - m.SendOff);
      }
      if (m.SendOff == size) {
        m.SendPos += size;
        m.SendOff = 0;
        if (ValidSlot(f.Sender)) m.OwedFrom[f.Sender] -= size;
      }
    } else {
      m.SendPos += size;
    }
  }
  CompactOut();
}

void TSessionCore::CompactOut() {
  int32_t low = OutBuf.Size();
  for (int32_t s = 1; s < kMemberSlots; ++s) {
    if (Slots[s].Used) low = std::min(low, Slots[s].SendPos);
  }
  if (low <= 0) return;
  if (low < OutBuf.Size() && low < kSessionBufferSize) return;  // not worth moving yet
  const int32_t rest = OutBuf.Size() - low;
  if (rest > 0) MoveBytes(OutBuf.Memory() + low, OutBuf.Memory(), rest);
  OutBuf.SetSize(rest);
  for (int32_t s = 1; s < kMemberSlots; ++s) {
    Slots[s].SendPos = Slots[s].Used ? Slots[s].SendPos - low : 0;
    if (Slots[s].CloseAt >= 0) Slots[s].CloseAt = std::max(0, Slots[s].CloseAt - low);
  }
}
