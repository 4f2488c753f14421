// Arbitrary bytes as the pen cursor file: the reader must stay inside the input, refuse what it
// cannot read, and hand back a fully written picture when it accepts.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "painter/CursorFile.cpp"

namespace {
volatile uint32_t gSink;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Exactly the input's bytes, so that a read past them is seen.
  std::vector<uint8_t> bytes(data, data + size);
  TCursorImage c;
  if (!ReadCursorFile(bytes.data(), bytes.size(), c)) return 0;
  if (c.Width < 1 || c.Height < 1 || c.Width > kMaxCursorSide || c.Height > kMaxCursorSide) __builtin_trap();
  if (c.Png.empty() && c.Pixels.size() != size_t(c.Width) * size_t(c.Height)) __builtin_trap();
  uint32_t sum = 0;
  for (uint32_t p : c.Pixels) sum += p;  // every output byte is read
  for (uint8_t b : c.Png) sum += b;
  gSink = sum;
  return 0;
}
