#pragma once
// The process-wide record of the network drawing session; the update loop, the paper windows
// and the network window read and write it. All zero at start.
#include <cstdint>

class TMySocket;

enum TNetPhase : uint8_t { npIdle = 0, npJoining = 1, npRunning = 2, npLost = 3 };

constexpr int32_t JoinReplyMagic = 10007;
enum TJoinStatus : int32_t { jrAccepted = 0, jrFull = -1, jrBadPassword = -2 };

struct TNetState {
  uint8_t IsHost = 0;
  uint8_t Phase = npIdle;
  int32_t Step = 0;
  TMySocket* Socket = nullptr;
  int32_t SentTotal = 0;
  int32_t Width = 0;
  int32_t Height = 0;
  int32_t MaxMembers = 0;
  int32_t LayersPerMember = 0;
};

extern TNetState NetState;
