#include "session/wire/SessionFrame.h"

#include <cstring>

#include "session/wire/WireText.h"

void EncodeHeader(const SessionMessage& m, uint8_t out[kFrameHeaderSize]) {
  PutInt32LE(out + 0, m.Kind);
  PutInt32LE(out + 4, m.Sender);
  PutInt32LE(out + 8, m.Dest);
  PutInt32LE(out + 12, m.Len);
}

SessionMessage DecodeHeader(const uint8_t in[kFrameHeaderSize]) {
  SessionMessage m;
  m.Kind = GetInt32LE(in + 0);
  m.Sender = GetInt32LE(in + 4);
  m.Dest = GetInt32LE(in + 8);
  m.Len = GetInt32LE(in + 12);
  return m;
}

TFrameScan ScanFrame(const uint8_t* p, size_t n, SessionMessage& m) {
  if (n < static_cast<size_t>(kFrameHeaderSize)) return TFrameScan::NeedMore;
  m = DecodeHeader(p);
  if (!ValidPayloadLength(m.Len)) return TFrameScan::Violation;
  if (n < static_cast<size_t>(kFrameHeaderSize + m.Len)) return TFrameScan::NeedMore;
  return TFrameScan::Frame;
}

namespace {

// A text into a zero-filled 16-byte field.
void PutField(uint8_t* field, const std::string& utf8) {
  std::memset(field, 0, kTextFieldSize);
  const std::string wire = EncodeWireText(utf8, kMaxFieldText);
  std::memcpy(field, wire.data(), wire.size());
}

// A field taken as text up to its first zero, never past its 16 bytes.
std::string GetField(const uint8_t* field) { return DecodeWireText(field, kTextFieldSize); }

}  // namespace

void EncodeLoginRecord(const std::string& user, const std::string& password,
                       uint8_t out[kLoginRecordSize]) {
  PutField(out, user);
  PutField(out + kTextFieldSize, password);
}

void DecodeLoginRecord(const uint8_t in[kLoginRecordSize], std::string& user,
                       std::string& password) {
  user = GetField(in);
  password = GetField(in + kTextFieldSize);
}

void EncodeMemberList(const TMemberListText (&slots)[kMemberSlots],
                      uint8_t out[kMemberListSize]) {
  std::memset(out, 0, kMemberListSize);
  for (int32_t s = 0; s < kMemberSlots; ++s) {
    if (!slots[s].Used) continue;
    PutField(out + s * kMemberListEntrySize, slots[s].Name);
    PutField(out + s * kMemberListEntrySize + kTextFieldSize, slots[s].Address);
  }
}

void DecodeMemberListEntry(const uint8_t in[kMemberListEntrySize], std::string& name,
                           std::string& address) {
  name = GetField(in);
  address = GetField(in + kTextFieldSize);
}
