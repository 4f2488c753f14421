// A host with three members whose bytes are arbitrary, and connections that take all, a
// part or nothing of what they are offered: the relay, the pacing, the join lock with its
// waiting connections and the hand-over of slots. Checked on every step: every connection
// gets whole frames of at most 4080 payload bytes, and no slot's data that the host keeps
// holds an event acting on a layer of another slot.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <vector>

#include "engine/EventPacket.h"
#include "platform/core/Clock.h"
#include "session/wire/OwnerFilter.h"
#include "session/wire/SessionCore.h"

namespace {

constexpr int32_t kPerMember = 2, kMembers = 4;

class TPacedLink : public TSessionLink {
 public:
  int32_t Offer(int32_t conn, const uint8_t* p, int32_t n) override {
    const int32_t take = Mode == 0 ? n : Mode == 1 ? (n + 1) / 2 : 0;
    std::vector<uint8_t>& got = Got[conn];
    got.insert(got.end(), p, p + take);
    CheckFrames(got);
    return take;
  }
  int64_t Unsent(int32_t) override { return Mode == 2 ? kMaxUnsentBytes : 0; }
  void Drop(int32_t conn) override { Got.erase(conn); }
  void Finish(int32_t conn) override { Got.erase(conn); }

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
};

// Walks one slot's kept data event by event, as a player would.
struct TKeptWalk {
  std::vector<uint8_t> Pending;
  uint32_t Occupant = 0;
  void Take(const uint8_t* p, size_t n, int32_t slot) {
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
  for (int32_t& c : conns) {
    c = nextConn++;
    s.AcceptConnection(c, "127.0.0.1");
    s.SetJoinLock(false);
  }
  TKeptWalk walks[kMemberSlots];
  auto takeKept = [&] {
    for (int32_t slot = 1; slot < kMemberSlots; ++slot) {
      TKeptWalk& w = walks[slot];
      if (s.MemberOccupant(slot) != w.Occupant) w = TKeptWalk{{}, s.MemberOccupant(slot)};
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
          s.ConnectionClosed(c);
          c = nextConn++;
          s.AcceptConnection(c, (ctl & 0x80) ? "127.0.0.2" : "127.0.0.1");
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
        case 5: {  // the host draws
          const uint8_t own[3] = {0x24, 0x01, static_cast<uint8_t>(ctl >> 7)};
          s.SendData(mdAll, own, 3);
          break;
        }
        default:
          plat::AdvanceFakeClock(static_cast<uint32_t>(ctl) * 100);
          break;
      }
      s.Flush();
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
  }
  link.Mode = 0;
  for (int i = 0; i < 16; ++i) s.Flush();
  takeKept();
  plat::UseRealClock();
  return 0;
}
