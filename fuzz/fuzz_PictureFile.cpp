// Arbitrary bytes as a picture file: the reader must refuse or load them without reading past
// the file, and whatever it loads must save and load again.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "engine/EventPacket.h"
#include "engine/Paper.h"
#include "engine/io/PictureFile.h"
#include "platform/core/Files.h"
#include "platform/core/MessageBox.h"

namespace {

volatile uint32_t gSink;

std::string TempPath(const char* name) {
  return "/tmp/fuzz_PictureFile-" + std::to_string(::getpid()) + "-" + name;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static plat::TMessageRecorder quiet(plat::IDOK);
  quiet.Messages.clear();
  if (size > (1u << 20)) return 0;
  // Keep a run from stalling on the allocation of a huge canvas: about a million pixels.
  if (size >= 16) {
    uint8_t hb[kWpbHeaderSize] = {};
    std::memcpy(hb, data, std::min<size_t>(size, sizeof hb));
    TWpbHeader h;
    if (h.Parse(hb) && int64_t(h.Width) * h.Height > (1 << 20) && h.Width > 0 && h.Height > 0 && h.Width <= kMaxPaperSide &&
        h.Height <= kMaxPaperSide)
      return 0;
  }
  static const std::string in = TempPath("in.wpb"), out = TempPath("out.wpb");
  if (!plat::WriteFileAtomic(in, data, size)) return 0;
  TPaper paper;
  TEventPacket packet;
  if (!paper.LoadFromFile(in, packet)) {
    if (paper.Initialised) __builtin_trap();  // a refused file leaves no paper behind
    return 0;
  }
  paper.Composite();
  for (int32_t y = 0; y < paper.Height(); ++y)
    for (int32_t x = 0; x < paper.Width(); ++x) gSink += paper.CompositeImage.GetPixel(x, y);
  if (!paper.SaveToFile(out, false, packet)) __builtin_trap();
  TPaper again;
  TEventPacket packet2;
  if (!again.LoadFromFile(out, packet2)) __builtin_trap();
  if (again.Width() != paper.Width() || again.Height() != paper.Height()) __builtin_trap();
  return 0;
}
