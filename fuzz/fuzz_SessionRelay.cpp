// A host with three members whose bytes are arbitrary, and connections that take all, a
// part or nothing of what they are offered: the relay, the pacing, the join lock with its
// waiting logins and the hand-over of slots. Checked on every step: every connection gets
// whole frames of at most 4080 payload bytes, and no slot's data that the host keeps holds
// an event acting on a layer of another slot. Each connection's bytes also reach a member's
// session of their own; at the end, a member that was there for the whole of another slot's
// occupant has kept the events the host kept of it, and playing them gives the same pixels.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/Block.h"
#include "engine/EventPacket.h"
#include "engine/LayerMng.h"
#include "engine/Paper.h"
#include "engine/Stroke.h"
#include "platform/core/Clock.h"
#include "session/wire/OwnerFilter.h"
#include "session/wire/SessionCore.h"

namespace {

constexpr int32_t kPerMember = 2, kMembers = 4;
constexpr int32_t kSide = 24;  // the pictures compared at the end

// A member's side of the session, fed what the host wrote to its connection.
class TNoLink : public TSessionLink {
 public:
  int32_t Offer(int32_t, const uint8_t*, int32_t n) override { return n; }
  int64_t Unsent(int32_t) override { return 0; }
  void Drop(int32_t) override {}
};

struct TMemberView {
  TNoLink Link;
  TSessionCore Core{&Link};
  bool Joined = false;                         // the host took its login in
  uint32_t OccupantAtJoin[kMemberSlots] = {};  // the host's occupants of each slot then
  bool UsedAtJoin[kMemberSlots] = {};
  std::vector<uint8_t> Kept[kMemberSlots];     // what it kept of each slot's present occupant
  uint32_t KeptOccupant[kMemberSlots] = {};
  void TakeKept() {
    for (int32_t slot = 0; slot < kMemberSlots; ++slot) {
      if (Core.MemberOccupant(slot) != KeptOccupant[slot]) {
        Kept[slot].clear();
        KeptOccupant[slot] = Core.MemberOccupant(slot);
      }
      std::vector<uint8_t> b(static_cast<size_t>(Core.MemberDataSize(slot)));
      if (!b.empty() && Core.ReadMemberData(slot, b.data(), static_cast<int32_t>(b.size()))) {
        Kept[slot].insert(Kept[slot].end(), b.begin(), b.end());
      }
    }
  }
};

class TPacedLink : public TSessionLink {
 public:
  int32_t Offer(int32_t conn, const uint8_t* p, int32_t n) override {
    const int32_t take = Mode == 0 ? n : Mode == 1 ? (n + 1) / 2 : 0;
    std::vector<uint8_t>& got = Got[conn];
    got.insert(got.end(), p, p + take);
    CheckFrames(got);
    auto it = Members.find(conn);
    if (it != Members.end() && take > 0) it->second->Core.HostData(p, take);
    return take;
  }
  int64_t Unsent(int32_t) override { return Mode == 2 ? kMaxUnsentBytes : 0; }
  void Drop(int32_t conn) override {
    Got.erase(conn);
    Members.erase(conn);
  }
  void Finish(int32_t conn) override { Drop(conn); }

  // Consumes the whole frames at the front; what is left is less than one frame.
  static void CheckFrames(std::vector<uint8_t>& got) {
    size_t pos = 0;
    SessionMessage m;
    while (true) {
      const TFrameScan r = ScanFrame(got.data() + pos, got.size() - pos, m);
      if (r == TFrameScan::Violation) std::abort();
      if (r == TFrameScan::NeedMore) break;
      pos += static_cast<size_t>(kFrameHeaderSize + m.Len);
    }
    got.erase(got.begin(), got.begin() + static_cast<long>(pos));
  }

  int Mode = 0;  // 0 takes all, 1 half, 2 nothing
  std::map<int32_t, std::vector<uint8_t>> Got;
  std::map<int32_t, std::unique_ptr<TMemberView>> Members;
};

// The whole events at the front of a stream.
std::vector<uint8_t> WholeEvents(const std::vector<uint8_t>& b) {
  size_t pos = 0;
  while (b.size() - pos >= 2) {
    int32_t size = 0;
    if (MeasureEvent(b.data() + pos, static_cast<int32_t>(b.size() - pos), size) != TEventMeasure::Complete) break;
    pos += static_cast<size_t>(size);
  }
  return std::vector<uint8_t>(b.begin(), b.begin() + static_cast<long>(pos));
}

// A slot's events played on a session paper as a painter plays them; the slot's layers.
std::vector<uint32_t> SlotPixels(const std::vector<uint8_t>& events, int32_t slot) {
  TPaper paper;
  if (!paper.Init("NONAME", kSide, kSide)) std::abort();
  paper.Layers->Flow().SetSlotCount(4);
  for (int32_t i = 1; i < kPerMember * kMembers; ++i) paper.Layers->AddLayer(lkMultiply);
  paper.SetNetMode(1);
  TEventPacket packet;
  if (!events.empty()) packet.Data().WriteBuffer(events.data(), static_cast<int32_t>(events.size()));
  TStroke brush;
  while (packet.InStroke() || packet.Data().Remaining() > 0) {
    const int32_t before = packet.Data().ReadPos();
    const bool inStroke = packet.InStroke();
    uint16_t code = 0;
    uint8_t refit = 0;
    if (!paper.PlayEvent(packet, brush, code, refit, nullptr)) break;
    if (!inStroke && packet.Data().ReadPos() == before) break;
  }
  std::vector<uint32_t> px;
  for (int32_t l = slot * kPerMember; l < (slot + 1) * kPerMember; ++l) {
    const TBlockImage* img = paper.Layers->LayerImage(l);
    for (int32_t y = 0; y < kSide; ++y) {
      for (int32_t x = 0; x < kSide; ++x) px.push_back(img ? img->GetPixel(x, y) & 0xFFFFFF : 0);
    }
  }
  return px;
}

// Walks one slot's kept data event by event, as a player would.
struct TKeptWalk {
  std::vector<uint8_t> Pending;
  uint32_t Occupant = 0;
  std::vector<uint8_t> All;  // everything kept of the present occupant
  void Take(const uint8_t* p, size_t n, int32_t slot) {
    All.insert(All.end(), p, p + n);
    Pending.insert(Pending.end(), p, p + n);
    size_t pos = 0;
    while (Pending.size() - pos >= 2) {
      int32_t size = 0;
      const TEventMeasure m =
          MeasureEvent(Pending.data() + pos, static_cast<int32_t>(Pending.size() - pos), size);
      if (m == TEventMeasure::NotEvent) std::abort();  // the host keeps only events
      if (m == TEventMeasure::Short) break;
      if (!EventAllowedFrom(Pending.data() + pos, static_cast<size_t>(size), slot,
                            TLayerOwners{kPerMember, kMembers})) {
        std::abort();
      }
      pos += static_cast<size_t>(size);
    }
    Pending.erase(Pending.begin(), Pending.begin() + static_cast<long>(pos));
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > (1u << 18)) return 0;
  plat::SetFakeClock(1000);
  TPacedLink link;
  TSessionCore s(&link);
  s.BeginServer("HOTE", "pw");
  s.AdmitOnAccept = (data[0] & 1) != 0;
  s.SetLayerOwners(kPerMember, kMembers);
  int32_t nextConn = 1;
  int32_t conns[3] = {0, 0, 0};
  // A connection with a member's side of its own, which logs in with the slot it is told.
  auto connect = [&](int32_t c, const char* address) {
    auto view = std::make_unique<TMemberView>();
    view->Core.BeginClient("M" + std::to_string(c), "pw");
    view->Core.HostConnected();
    view->Core.SetLayerOwners(kPerMember, kMembers);
    link.Members[c] = std::move(view);
    if (s.AcceptConnection(c, address) != TJoin::Held) {
      link.Members.erase(c);
      return;
    }
    uint8_t login[kFrameHeaderSize + kLoginRecordSize];
    EncodeHeader(SessionMessage{mkLogin, s.WaitingSlot(c), mdHost, kLoginRecordSize}, login);
    EncodeLoginRecord("M", "pw", login + kFrameHeaderSize);
    s.ConnectionData(c, login, sizeof login);
  };
  // Notes when each connection was taken in (seen after the step that took it: a slot's
  // occupant that came in the same step counts as there before).
  auto noteJoins = [&] {
    for (auto& [c, v] : link.Members) {
      if (v->Joined || s.WaitingSlot(c) != 0) continue;
      v->Joined = true;
      for (int32_t slot = 0; slot < kMemberSlots; ++slot) {
        v->OccupantAtJoin[slot] = s.MemberOccupant(slot);
        v->UsedAtJoin[slot] = s.MemberUsed(slot);
      }
    }
  };
  for (int32_t& c : conns) {
    c = nextConn++;
    connect(c, "127.0.0.1");
    noteJoins();
    s.SetJoinLock(false);
  }
  TKeptWalk walks[kMemberSlots];
  auto takeKept = [&] {
    for (int32_t slot = 1; slot < kMemberSlots; ++slot) {
      TKeptWalk& w = walks[slot];
      if (s.MemberOccupant(slot) != w.Occupant) w = TKeptWalk{{}, s.MemberOccupant(slot), {}};
      std::vector<uint8_t> buf(static_cast<size_t>(s.MemberDataSize(slot)));
      if (!buf.empty() && s.ReadMemberData(slot, buf.data(), static_cast<int32_t>(buf.size()))) {
        w.Take(buf.data(), buf.size(), slot);
      }
    }
  };

  size_t pos = 1;
  while (pos < size) {
    const uint8_t ctl = data[pos++];
    const int which = ctl & 3;
    if (which == 3) {
      switch ((ctl >> 2) & 7) {
        case 0:  // a connection closes and another comes
        case 1: {
          int32_t& c = conns[(ctl >> 5) % 3];
          takeKept();  // what a leaver left is its own, not the next occupant's
          s.ConnectionClosed(c);
          link.Members.erase(c);
          c = nextConn++;
          connect(c, (ctl & 0x80) ? "127.0.0.2" : "127.0.0.1");
          break;
        }
        case 2:  // the handshake of the lock's holder ends
          s.SetJoinLock(false);
          if (s.LastJoinedSlot > 0) s.Admit(s.LastJoinedSlot);
          break;
        case 3:  // its password was wrong
          if (s.LastJoinedSlot > 0) {
            s.PasswordRefused(s.LastJoinedSlot);
            s.CloseMemberAfterFlush(s.LastJoinedSlot);
          }
          break;
        case 4:
          link.Mode = (ctl >> 5) % 3;
          break;
        case 5: {  // the host clears one of its layers
          const uint8_t own[3] = {0x24, 0x01, static_cast<uint8_t>(ctl >> 7)};
          s.SendData(mdAll, own, 3);
          break;
        }
        case 6: {  // a member fills a rectangle of one of its layers, in one frame or two
          const int32_t c = conns[(ctl >> 5) % 3];
          auto it = link.Members.find(c);
          if (it == link.Members.end() || size - pos < 8) break;
          const uint8_t* b = data + pos;
          pos += 8;
          const int32_t slot = it->second->Core.OwnId;
          const uint8_t fill[14] = {0x28, 0x01, static_cast<uint8_t>(slot * kPerMember + (b[0] & 1)),
                                    static_cast<uint8_t>(b[1] % kSide), 0, static_cast<uint8_t>(b[2] % kSide), 0,
                                    static_cast<uint8_t>(b[3] % kSide), 0, static_cast<uint8_t>(b[4] % kSide), 0,
                                    b[5], b[6], b[7]};
          const int32_t cut = (b[0] >> 1) % 15;
          for (const auto& [from, to] : {std::pair<int32_t, int32_t>{0, cut}, {cut, 14}}) {
            if (to == from) continue;
            uint8_t frame[kFrameHeaderSize + 14];
            EncodeHeader(SessionMessage{mkData, slot, mdAll, to - from}, frame);
            std::copy(fill + from, fill + to, frame + kFrameHeaderSize);
            const int32_t n = kFrameHeaderSize + to - from;
            if (s.InputRoom(c) >= n) s.ConnectionData(c, frame, n);
          }
          break;
        }
        default:
          plat::AdvanceFakeClock(static_cast<uint32_t>(ctl) * 100);
          break;
      }
      s.Flush();
      noteJoins();
      for (auto& [c, v] : link.Members) v->TakeKept();
      continue;
    }
    const size_t len = std::min<size_t>(size - pos, static_cast<size_t>(ctl >> 2) * 9 + 1);
    // Only what the socket layer may read now is handed over; the rest waits for a later turn.
    const int32_t room = s.InputRoom(conns[which]);
    const size_t n = std::min<size_t>(len, static_cast<size_t>(room));
    if (n > 0) s.ConnectionData(conns[which], data + pos, static_cast<int32_t>(n));
    pos += len;
    s.Flush();
    if (ctl & 0x80) takeKept();
    noteJoins();
    for (auto& [c, v] : link.Members) v->TakeKept();
  }
  // Flush sends each member one frame a call: flush until every member has been sent all.
  link.Mode = 0;
  auto behind = [&] {
    for (int32_t slot = 1; slot < kMemberSlots; ++slot) {
      if (s.MemberUsed(slot) && s.Slots[slot].SendPos < s.OutBuf.Size()) return true;
    }
    return false;
  };
  for (int i = 0; i < 16 || (behind() && i < 1000000); ++i) s.Flush();
  if (behind()) std::abort();  // a member that takes all is never sent what is queued for it
  takeKept();
  // Every member that was there before another slot's present occupant came has played what
  // the host played of it: the same pixels on that slot's layers.
  noteJoins();
  for (auto& [c, v] : link.Members) {
    v->TakeKept();
    const int32_t own = v->Core.OwnId;
    if (!v->Joined || own < 1) continue;
    for (int32_t slot = 1; slot < kMemberSlots; ++slot) {
      if (slot == own || !s.MemberUsed(slot) || !v->Core.MemberUsed(slot)) continue;
      // Only an occupant that came after it, the first since: it got all of that one's data.
      if (v->UsedAtJoin[slot] || s.MemberOccupant(slot) != v->OccupantAtJoin[slot] + 1) continue;
      const std::vector<uint8_t> atHost = WholeEvents(walks[slot].All), atMember = WholeEvents(v->Kept[slot]);
      if (atHost.empty() && atMember.empty()) continue;
      if (SlotPixels(atHost, slot) != SlotPixels(atMember, slot)) std::abort();
    }
  }
  plat::UseRealClock();
  return 0;
}
