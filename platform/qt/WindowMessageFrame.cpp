#include "platform/qt/WindowMessageFrame.h"

#include <algorithm>
#include <cstring>

namespace plat {
namespace {

constexpr char kMessageMagic[4] = {'V', 'W', 'M', 'S'};
constexpr char kAnswerMagic[4] = {'V', 'W', 'M', 'R'};

void PutLE(std::string& out, uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}

uint64_t GetLE(const char* p, int bytes) {
  uint64_t v = 0;
  for (int i = 0; i < bytes; ++i) v |= uint64_t(static_cast<unsigned char>(p[i])) << (8 * i);
  return v;
}

}  // namespace

std::string EncodeWindowMessage(const TWindowMessage& m) {
  std::string out(kMessageMagic, 4);
  PutLE(out, m.Msg, 4);
  PutLE(out, m.WParam, 8);
  PutLE(out, static_cast<uint64_t>(m.LParam), 8);
  const size_t n = std::min(m.Data.size(), kMaxWindowMessageData);
  PutLE(out, n, 4);
  out.append(m.Data.data(), n);
  return out;
}

std::string EncodeWindowAnswer(int64_t result) {
  std::string out(kAnswerMagic, 4);
  PutLE(out, static_cast<uint64_t>(result), 8);
  return out;
}

int64_t DecodeWindowMessage(const char* bytes, size_t n, TWindowMessage& out) {
  if (n == 0) return 0;  // nothing yet (and no bytes to compare: the pointer may be null)
  if (std::memcmp(bytes, kMessageMagic, std::min<size_t>(n, 4)) != 0) return -1;
  if (n < kWindowMessageHeaderSize) return 0;
  const uint64_t len = GetLE(bytes + 24, 4);
  if (len > kMaxWindowMessageData) return -1;
  if (n < kWindowMessageHeaderSize + len) return 0;
  out.Msg = static_cast<uint32_t>(GetLE(bytes + 4, 4));
  out.WParam = GetLE(bytes + 8, 8);
  out.LParam = static_cast<int64_t>(GetLE(bytes + 16, 8));
  out.Data.assign(bytes + kWindowMessageHeaderSize, static_cast<size_t>(len));
  return static_cast<int64_t>(kWindowMessageHeaderSize + len);
}

int64_t DecodeWindowAnswer(const char* bytes, size_t n, int64_t& result) {
  if (n == 0) return 0;
  if (std::memcmp(bytes, kAnswerMagic, std::min<size_t>(n, 4)) != 0) return -1;
  if (n < kWindowAnswerSize) return 0;
  result = static_cast<int64_t>(GetLE(bytes + 4, 8));
  return static_cast<int64_t>(kWindowAnswerSize);
}

}  // namespace plat
