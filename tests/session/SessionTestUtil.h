#pragma once
// Helpers of the session tests: frames from a byte stream, a link that records what the
// session offers, and frames built by hand as a hostile peer would send them.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "session/wire/SessionCore.h"
#include "session/wire/SessionFrame.h"

struct TFrame {
  SessionMessage H;
  std::vector<uint8_t> Payload;
};

// Whole frames of a byte stream (a violating length ends the list).
inline std::vector<TFrame> SplitFrames(const std::vector<uint8_t>& bytes) {
  std::vector<TFrame> out;
  size_t pos = 0;
  SessionMessage m;
  while (ScanFrame(bytes.data() + pos, bytes.size() - pos, m) == TFrameScan::Frame) {
    TFrame f;
    f.H = m;
    f.Payload.assign(bytes.begin() + static_cast<long>(pos) + kFrameHeaderSize,
                     bytes.begin() + static_cast<long>(pos) + kFrameHeaderSize + m.Len);
    out.push_back(std::move(f));
    pos += static_cast<size_t>(kFrameHeaderSize + m.Len);
  }
  return out;
}

inline std::vector<uint8_t> MakeFrame(int32_t kind, int32_t sender, int32_t dest,
                                      const std::vector<uint8_t>& payload,
                                      int32_t len = INT32_MIN) {
  std::vector<uint8_t> f(kFrameHeaderSize);
  EncodeHeader(SessionMessage{kind, sender, dest,
                              len == INT32_MIN ? static_cast<int32_t>(payload.size()) : len},
               f.data());
  f.insert(f.end(), payload.begin(), payload.end());
  return f;
}

inline std::vector<uint8_t> Int32Payload(int32_t v) {
  std::vector<uint8_t> p(4);
  PutInt32LE(p.data(), v);
  return p;
}

inline std::vector<uint8_t> LoginPayload(const std::string& user, const std::string& pass) {
  std::vector<uint8_t> p(kLoginRecordSize);
  EncodeLoginRecord(user, pass, p.data());
  return p;
}

// A new connection that logs in at once with the slot it is told; the slot it then holds
// (0 when it was not taken in: refused, or waiting for its turn). The join lock it takes is
// left to the caller.
inline int32_t JoinAndLogin(TSessionCore& host, int32_t conn, const std::string& name,
                            const std::string& address = "127.0.0.1", const std::string& password = "pw") {
  if (host.AcceptConnection(conn, address) != TJoin::Held) return 0;
  const int32_t slot = host.WaitingSlot(conn);
  const std::vector<uint8_t> login = MakeFrame(mkLogin, slot, mdHost, LoginPayload(name, password));
  host.ConnectionData(conn, login.data(), static_cast<int32_t>(login.size()));
  return host.MemberUsed(slot) && host.LastJoinedSlot == slot && host.WaitingSlot(conn) == 0 ? slot : 0;
}

// Records the bytes each connection takes; can take only part, or refuse.
class TRecordingLink : public TSessionLink {
 public:
  int32_t Offer(int32_t conn, const uint8_t* p, int32_t n) override {
    ++Offers;
    const int32_t take = std::min(n, TakeAtMost);
    Sent[conn].insert(Sent[conn].end(), p, p + take);
    return take;
  }
  int64_t Unsent(int32_t) override { return UnsentBytes; }
  void Drop(int32_t conn) override { Dropped.push_back(conn); }
  void Finish(int32_t conn) override { Finished.push_back(conn); }

  std::map<int32_t, std::vector<uint8_t>> Sent;
  std::vector<int32_t> Dropped;
  std::vector<int32_t> Finished;  // closed once what they took is written
  int32_t TakeAtMost = INT32_MAX;
  int64_t UnsentBytes = 0;
  int Offers = 0;
};

// A drawing event of a given code and size whose body bytes are `fill`.
inline std::vector<uint8_t> Event(uint16_t code, size_t size, uint8_t fill = 0) {
  std::vector<uint8_t> e(size, fill);
  e[0] = static_cast<uint8_t>(code);
  e[1] = static_cast<uint8_t>(code >> 8);
  return e;
}
