// Who may keep others from joining: peers that connect and never log in, again and again,
// do not delay a good join; a wrong password delays only its own address, and a member
// with the right password joins at once.
#include <gtest/gtest.h>

#include <QElapsedTimer>

#include "platform/core/Clock.h"
#include "tests/session/LoopbackUtil.h"

namespace {

// The host's side of the join handshake, as the session window runs it from its timer: a
// login with the right password is admitted and ends the lock, a wrong one gets its reply
// and is closed after it, and a connection that has not logged in by `loginMs` is closed.
struct THostWindow {
  explicit THostWindow(TMySocket& s, uint32_t loginMs) : Host(s), LoginMs(loginMs) {}
  void Step() {
    if (Host.JoinsPending > 0) {
      Host.AckJoin();
      Slot = Host.LastJoinedSlot;
      Since = timeGetTime();
      Joining = true;
    }
    while (Host.LeavesPending > 0) Host.AckLeave();
    if (!Joining) return;
    if (!Host.MemberUsed(Slot)) {
      Host.SetJoinLock(false);
      Joining = false;
    } else if (Host.MemberLoginArrived(Slot)) {
      const bool right = Host.MemberPassword(Slot) == Host.Password;
      for (int32_t w : {10007, right ? 0 : -2, 100, 100, 3, 2}) {
        const std::vector<uint8_t> b = Int32Payload(w);
        Host.SendData(Slot, b.data(), 4);
      }
      if (right) {
        Host.Admit(Slot);
        Host.SetJoinLock(false);
        ++Admitted;
      } else {
        Host.PasswordRefused(Slot);
        Host.CloseMemberAfterFlush(Slot);
      }
      Joining = false;
    } else if (static_cast<uint32_t>(timeGetTime() - Since) > LoginMs) {
      Host.DropMember(Slot);
      Host.SetJoinLock(false);
      Joining = false;
    }
  }
  TMySocket& Host;
  uint32_t LoginMs;
  int32_t Slot = 0;
  uint32_t Since = 0;
  bool Joining = false;
  int Admitted = 0;
};

bool Pump(THostWindow& w, const std::function<bool()>& pred, std::vector<TMySocket*> socks, int ms = 10000) {
  return PumpUntil([&] {
    w.Step();
    return pred();
  }, socks, ms);
}

}  // namespace

TEST(JoinLock, SilentPeersThatAlwaysComeBackNeverDelayAGoodJoin) {
  plat::UseRealClock();
  TMySocket host(nullptr);
  ASSERT_TRUE(host.StartServer(0, "HOTE", "pw", QHostAddress::LocalHost));
  host.AdmitOnAccept = false;
  THostWindow window(host, 300);
  std::vector<std::unique_ptr<TRawPeer>> squatters(3);
  // Each reconnects the moment it is closed, and never logs in.
  auto squat = [&] {
    for (auto& q : squatters) {
      if (!q || !q->Connected()) {
        q = std::make_unique<TRawPeer>();
        q->Connect(host.ServerPort());
      }
    }
  };
  squat();
  ASSERT_TRUE(Pump(window, [&] {
    squat();
    return host.HeldCount() == 3;
  }, {&host}));

  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    TMySocket good(nullptr);
    ASSERT_TRUE(good.StartClient("127.0.0.1", host.ServerPort(), "GOOD", "pw"));
    QElapsedTimer t;
    t.start();
    const int before = window.Admitted;
    ASSERT_TRUE(Pump(window, [&] {
      squat();
      return window.Admitted == before + 1 && good.LoggedIn;
    }, {&host, &good}));
    // Taken in while the squatters still wait: they held nothing.
    EXPECT_LT(t.elapsed(), 2000);
    EXPECT_EQ(host.HeldCount(), 3);
    EXPECT_TRUE(host.MemberAdmitted(good.OwnId));
    EXPECT_EQ(host.MemberCount, 2);
    good.CloseSocket();
    ASSERT_TRUE(Pump(window, [&] {
      squat();
      return !host.MemberUsed(good.OwnId);
    }, {&host}));
  }
}

TEST(JoinLock, AWrongPasswordDelaysItsOwnAddressAndNobodyElse) {
  plat::SetFakeClock(1000000);
  TMySocket host(nullptr);
  ASSERT_TRUE(host.StartServer(0, "HOTE", "pw", QHostAddress::LocalHost));
  host.AdmitOnAccept = false;
  THostWindow window(host, 10000);
  const uint16_t port = host.ServerPort();

  TRawPeer wrong;
  ASSERT_TRUE(wrong.ConnectFrom("127.0.0.2", port));
  ASSERT_TRUE(Pump(window, [&] { return !wrong.FramesOf(mkAssignId).empty(); }, {&host}));
  wrong.Send(MakeFrame(mkLogin, 1, mdHost, LoginPayload("GUESS", "pass")));
  ASSERT_TRUE(Pump(window, [&] { return !wrong.Connected(); }, {&host}));
  ASSERT_GE(wrong.FramesOf(mkData).size(), 2u);
  EXPECT_EQ(wrong.FramesOf(mkData)[1].Payload, Int32Payload(-2));

  // Someone else with the right password, at once (no time passes).
  TMySocket right(nullptr);
  ASSERT_TRUE(right.StartClient("127.0.0.1", port, "RIGHT", "pw"));
  ASSERT_TRUE(Pump(window, [&] { return window.Admitted == 1 && right.LoggedIn; }, {&host, &right}));
  EXPECT_FALSE(host.JoinLock);

  // The guesser's address waits 2 s, then 4 s after a second wrong password.
  for (uint32_t wait : {kGuessDelayMs, 2 * kGuessDelayMs}) {
    SCOPED_TRACE(wait);
    TRawPeer again;
    ASSERT_TRUE(again.ConnectFrom("127.0.0.2", port));
    ASSERT_TRUE(Pump(window, [&] { return !again.FramesOf(mkAssignId).empty(); }, {&host, &right}));
    const int32_t slot = GetInt32LE(again.FramesOf(mkAssignId)[0].Payload.data());
    again.Send(MakeFrame(mkLogin, slot, mdHost, LoginPayload("GUESS", "word")));
    const int32_t received = host.BytesReceived;
    ASSERT_TRUE(Pump(window, [&] { return host.BytesReceived == received + 48; }, {&host, &right}));
    plat::AdvanceFakeClock(wait - 1);
    PumpFor(100, {&host, &right});
    EXPECT_TRUE(again.FramesOf(mkData).empty());
    plat::AdvanceFakeClock(1);
    PumpFor(50, {&host, &right});
    // Not more than the wait: its login still waits, no slot, no reply.
    EXPECT_TRUE(again.FramesOf(mkData).empty());
    EXPECT_EQ(host.HeldCount(), 1);
    EXPECT_FALSE(host.MemberUsed(slot));
    plat::AdvanceFakeClock(1);
    ASSERT_TRUE(Pump(window, [&] { return !again.Connected(); }, {&host, &right}));
    ASSERT_GE(again.FramesOf(mkData).size(), 2u);
    EXPECT_EQ(again.FramesOf(mkData)[1].Payload, Int32Payload(-2));
  }
  EXPECT_EQ(right.Status, ssOnline);
  plat::UseRealClock();
}
