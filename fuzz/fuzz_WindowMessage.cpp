// Window messages arrive on a local socket from any process of the user: the decoder must
// take any bytes, in any pieces, without reading outside them.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/qt/WindowMessageFrame.cpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Exactly the input's bytes, so that a read past them is seen.
  std::vector<char> bytes(data, data + size);
  const char* p = bytes.data();
  size_t left = bytes.size();
  unsigned sum = 0;
  while (left > 0) {
    plat::TWindowMessage m;
    const int64_t used = plat::DecodeWindowMessage(p, left, m);
    if (used <= 0) break;
    if (static_cast<size_t>(used) > left || m.Data.size() > plat::kMaxWindowMessageData) __builtin_trap();
    for (char c : m.Data) sum += static_cast<unsigned char>(c);
    // What was decoded encodes back to the same bytes.
    const std::string again = plat::EncodeWindowMessage(m);
    if (again.size() != static_cast<size_t>(used) || std::memcmp(again.data(), p, again.size()) != 0) __builtin_trap();
    p += used;
    left -= static_cast<size_t>(used);
  }
  int64_t result = 0;
  plat::DecodeWindowAnswer(bytes.data(), bytes.size(), result);
  return static_cast<int>(sum & 0);
}
