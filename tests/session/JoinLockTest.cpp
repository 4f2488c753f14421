// Who may keep others from joining: a peer that connects and never logs in, again and again,
// delays a good join by one login wait at most; a wrong password delays only its own
// address, and a member with the right password joins at once.
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

TEST(JoinLock, ASilentPeerThatAlwaysComesBackDelaysAGoodJoinByOneLoginWaitAtMost) {
  plat::UseRealClock();
  TMySocket host(nullptr);
  ASSERT_TRUE(host.StartServer(0, "HOTE", "pw", QHostAddress::LocalHost));
  host.AdmitOnAccept = false;
  THostWindow window(host, 300);
  auto squatter = std::make_unique<TRawPeer>();
  ASSERT_TRUE(squatter->Connect(host.ServerPort()));
  int comebacks = 0;
  // It reconnects the moment it is closed.
  auto squat = [&] {
    if (!squatter->Connected()) {
      squatter = std::make_unique<TRawPeer>();
      if (squatter->Connect(host.ServerPort())) ++comebacks;
    }
  };
  ASSERT_TRUE(Pump(window, [&] { return host.MemberCount == 2; }, {&host}));

  for (int round = 0; round < 5; ++round) {
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
    // The squatter holds the lock once before it (300 ms), never for ever.
    EXPECT_LT(t.elapsed(), 3000);
    EXPECT_TRUE(host.MemberAdmitted(good.OwnId));
    good.CloseSocket();
    ASSERT_TRUE(Pump(window, [&] {
      squat();
      return !host.MemberUsed(good.OwnId);
    }, {&host}));
  }
  EXPECT_GT(comebacks, 0);
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
    ASSERT_TRUE(Pump(window, [&] { return host.HeldCount() == 1; }, {&host, &right}));
    plat::AdvanceFakeClock(wait - 1);
    PumpFor(100, {&host, &right});
    EXPECT_TRUE(again.FramesOf(mkAssignId).empty());
    plat::AdvanceFakeClock(1);
    PumpFor(50, {&host, &right});
    EXPECT_TRUE(again.FramesOf(mkAssignId).empty());  // not more than the wait: still waiting
    plat::AdvanceFakeClock(1);
    ASSERT_TRUE(Pump(window, [&] { return !again.FramesOf(mkAssignId).empty(); }, {&host, &right}));
    const int32_t slot = GetInt32LE(again.FramesOf(mkAssignId)[0].Payload.data());
    again.Send(MakeFrame(mkLogin, slot, mdHost, LoginPayload("GUESS", "word")));
    ASSERT_TRUE(Pump(window, [&] { return !again.Connected(); }, {&host, &right}));
  }
  EXPECT_EQ(right.Status, ssOnline);
  plat::UseRealClock();
}
