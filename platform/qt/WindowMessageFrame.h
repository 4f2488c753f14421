#pragma once
// The bytes of window messages between processes (see WindowMessages.h), apart from any
// socket: a message is "VWMS", the message number, wParam, lParam and the data length
// (little-endian 32, 64, 64 and 32 bits) and the data; an answer is "VWMR" and a 64-bit result.
// Plain C++, so that the decoder can be fuzzed without Qt.
#include <cstddef>
#include <cstdint>
#include <string>

namespace plat {

struct TWindowMessage {
  uint32_t Msg = 0;
  uint64_t WParam = 0;
  int64_t LParam = 0;
  std::string Data;  // WM_COPYDATA's bytes (cbData of them, the terminating zero included)
};

constexpr size_t kMaxWindowMessageData = 1 << 20;
constexpr size_t kWindowMessageHeaderSize = 4 + 4 + 8 + 8 + 4;
constexpr size_t kWindowAnswerSize = 4 + 8;

std::string EncodeWindowMessage(const TWindowMessage& m);
std::string EncodeWindowAnswer(int64_t result);
// Reads one message from the front of `bytes`. Returns the bytes it took (0 while the message
// is still incomplete) or -1 when the bytes are not a message (the channel is then dropped).
int64_t DecodeWindowMessage(const char* bytes, size_t n, TWindowMessage& out);
int64_t DecodeWindowAnswer(const char* bytes, size_t n, int64_t& result);

}  // namespace plat
