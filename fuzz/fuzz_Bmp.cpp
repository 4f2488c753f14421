// Arbitrary bytes as a bitmap file: the reader must stay inside the input, refuse what it
// cannot read, and hand back a fully written picture when it accepts.
#include <cstddef>
#include <cstdint>

#include "engine/io/CanvasFiles.h"

namespace {
volatile uint32_t gSink;
constexpr int64_t kMaxPixels = int64_t(1) << 20;  // about a million: no run stalls on allocation
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TDecodedPicture pic;
  if (!DecodeBMP(data, size, pic, kMaxPixels)) return 0;
  if (pic.Pixels.size() != size_t(pic.Width) * size_t(pic.Height)) __builtin_trap();
  uint32_t sum = 0;
  for (uint32_t p : pic.Pixels) sum += p;  // every output byte is read
  gSink = sum;
  TTC canvas;
  if (PutPicture(pic, canvas)) gSink = canvas.GetPixel(pic.Width - 1, pic.Height - 1);
  return 0;
}
