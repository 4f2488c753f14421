// Arbitrary bytes from session peers: the first byte picks host or member; then each
// control byte says which connection sends how many of the following bytes (or closes and
// reconnects it, or lets time pass), so frames are split and interleaved in every way.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/core/Clock.h"
#include "session/wire/SessionCore.h"
#include "session/wire/SessionFrame.h"

namespace {

class TSinkLink : public TSessionLink {
 public:
  int32_t Offer(int32_t, const uint8_t* p, int32_t n) override {
    // Touch every byte offered so that a sanitizer sees uninitialised ones.
    for (int32_t i = 0; i < n; ++i) sum_ += p[i];
    return n - (n > 1 ? static_cast<int32_t>(sum_ % 2) : 0);  // sometimes only a part
  }
  int64_t Unsent(int32_t) override { return 0; }
  void Drop(int32_t) override {}
  uint32_t sum_ = 0;
};

void Touch(TSessionCore& s) {
  volatile uint32_t sink = 0;
  for (int32_t slot = 0; slot < kMemberSlots; ++slot) {
    std::vector<uint8_t> buf(static_cast<size_t>(s.MemberDataSize(slot)));
    if (!buf.empty() && s.ReadMemberData(slot, buf.data(), static_cast<int32_t>(buf.size()))) {
      for (uint8_t b : buf) sink = sink + b;
    }
    for (char c : s.TakeChatText(slot)) sink = sink + static_cast<uint8_t>(c);
    for (char c : s.MemberName(slot) + s.MemberAddress(slot) + s.MemberPassword(slot)) {
      sink = sink + static_cast<uint8_t>(c);
    }
  }
  (void)sink;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > (1u << 18)) return 0;
  plat::SetFakeClock(1000);
  TSinkLink link;
  TSessionCore s(&link);
  const bool host = data[0] & 1;
  int32_t nextConn = 1;
  int32_t conns[3] = {0, 0, 0};
  // A new connection; one that logs in at once with the slot it is told is a member, one
  // that does not is parsed as a connection waiting for its login.
  auto connect = [&](int32_t c, bool login) {
    if (s.AcceptConnection(c, "127.0.0.1") != TJoin::Held || !login) return;
    uint8_t frame[kFrameHeaderSize + kLoginRecordSize];
    EncodeHeader(SessionMessage{mkLogin, s.WaitingSlot(c), mdHost, kLoginRecordSize}, frame);
    EncodeLoginRecord("M", "pw", frame + kFrameHeaderSize);
    s.ConnectionData(c, frame, sizeof frame);
  };
  if (host) {
    s.BeginServer("HOTE", "pw");
    for (int32_t& c : conns) {
      c = nextConn++;
      connect(c, true);
      s.SetJoinLock(false);
    }
  } else {
    s.BeginClient("CLIENT", "pw");
    s.HostConnected();
  }
  s.SetOnChat([&s] { Touch(s); });
  size_t pos = 1;
  while (pos < size) {
    const uint8_t ctl = data[pos++];
    const int which = ctl & 3;
    if (which == 3) {
      // Not a send: close and reconnect one connection, or let time pass.
      if (host && (ctl & 4)) {
        int32_t& c = conns[(ctl >> 3) % 3];
        s.ConnectionClosed(c);
        c = nextConn++;
        connect(c, (ctl & 0x40) != 0);
        s.SetJoinLock(false);
      } else {
        plat::AdvanceFakeClock(static_cast<uint32_t>(ctl) * 300);
      }
      s.Flush();
      continue;
    }
    const size_t len = std::min<size_t>(size - pos, static_cast<size_t>(ctl >> 2) * 9 + 1);
    if (host) {
      s.ConnectionData(conns[which], data + pos, static_cast<int32_t>(len));
    } else {
      s.HostData(data + pos, static_cast<int32_t>(len));
    }
    pos += len;
    s.Flush();
    if (ctl & 0x80) Touch(s);
  }
  for (int i = 0; i < 8; ++i) s.Flush();
  Touch(s);
  plat::UseRealClock();
  return 0;
}
