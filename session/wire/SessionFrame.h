#pragma once
// Frames of the session protocol and the fixed records they carry. Qt-free, so that the
// parser can be fuzzed and tested headless. All integers on the wire are little-endian.
#include <cstddef>
#include <cstdint>
#include <string>

// Frame kinds.
enum : int32_t {
  mkData = 0,
  mkAssignId = 1,
  mkLogin = 2,
  mkKeepAlive = 3,
  mkMemberList = 4,
  mkChat = 5,
};

// Destinations besides a member slot 1..7.
enum : int32_t {
  mdAll = -1,
  mdHost = 0,
};

constexpr int32_t kFrameHeaderSize = 16;
constexpr int32_t kMaxPayload = 4080;
constexpr int32_t kMaxFrameSize = kFrameHeaderSize + kMaxPayload;
constexpr int32_t kMemberSlots = 8;
constexpr int32_t kLoginRecordSize = 32;
constexpr int32_t kMemberListEntrySize = 32;
constexpr int32_t kMemberListSize = kMemberSlots * kMemberListEntrySize;  // 256
constexpr int32_t kTextFieldSize = 16;
// A written text leaves room for at least one zero in its field.
constexpr int32_t kMaxFieldText = kTextFieldSize - 1;
// A received chat text is taken from a 1024-byte zero-filled area.
constexpr int32_t kMaxChatBytes = 1023;

// The 16-byte frame header.
struct SessionMessage {
  int32_t Kind = 0;
  int32_t Sender = 0;
  int32_t Dest = 0;
  int32_t Len = 0;
};

inline void PutInt32LE(uint8_t* p, int32_t v) {
  const uint32_t u = static_cast<uint32_t>(v);
  p[0] = static_cast<uint8_t>(u);
  p[1] = static_cast<uint8_t>(u >> 8);
  p[2] = static_cast<uint8_t>(u >> 16);
  p[3] = static_cast<uint8_t>(u >> 24);
}

inline int32_t GetInt32LE(const uint8_t* p) {
  return static_cast<int32_t>(static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
                              (static_cast<uint32_t>(p[2]) << 16) |
                              (static_cast<uint32_t>(p[3]) << 24));
}

void EncodeHeader(const SessionMessage& m, uint8_t out[kFrameHeaderSize]);
SessionMessage DecodeHeader(const uint8_t in[kFrameHeaderSize]);

inline bool ValidPayloadLength(int32_t len) { return len >= 0 && len <= kMaxPayload; }
inline bool ValidSlot(int32_t slot) { return slot >= 0 && slot < kMemberSlots; }

// Result of looking for one frame at the start of a byte range.
enum class TFrameScan {
  NeedMore,   // fewer than 16 + Len bytes are there yet
  Frame,      // a whole frame: header in `m`, payload right after the 16 header bytes
  Violation,  // Len outside 0..4080: the byte stream cannot be trusted any further
};

// Looks at the bytes [p, p + n) without consuming anything. A violating length is found as
// soon as the header is there, so no length can make a reader wait for bytes that never
// fit a frame.
TFrameScan ScanFrame(const uint8_t* p, size_t n, SessionMessage& m);

// LoginRecord: user name in bytes 0..15, password in bytes 16..31, each zero padded.
// Texts are UTF-8 here and CP932 on the wire; each is cut to at most 15 bytes at a
// character boundary, so a zero always ends it.
void EncodeLoginRecord(const std::string& user, const std::string& password,
                       uint8_t out[kLoginRecordSize]);
void DecodeLoginRecord(const uint8_t in[kLoginRecordSize], std::string& user,
                       std::string& password);

// MemberListEntry: user name in bytes 0..15, remote address in bytes 16..31; a free slot's
// entry is all zero. The list is eight entries, slot 0 first.
struct TMemberListText {
  bool Used = false;
  std::string Name;     // UTF-8
  std::string Address;  // dotted text
};
void EncodeMemberList(const TMemberListText (&slots)[kMemberSlots], uint8_t out[kMemberListSize]);
void DecodeMemberListEntry(const uint8_t in[kMemberListEntrySize], std::string& name,
                           std::string& address);
