#pragma once
// The reader of the optional pen cursor file "MYPOINT.CUR": a Windows cursor file whose image is
// a device-independent bitmap (1, 4, 8, 24 or 32 bits with its AND mask) or a PNG stream. The
// bytes come from outside: every read is checked and anything unusual refuses the file.
#include <cstddef>
#include <cstdint>
#include <vector>

struct TCursorImage {
  int32_t Width = 0;
  int32_t Height = 0;
  int32_t HotX = 0;
  int32_t HotY = 0;
  // Width x Height pixels 0xAARRGGBB, top row first (empty when the image is a PNG stream).
  std::vector<uint32_t> Pixels;
  // The image's PNG bytes, for a decoder elsewhere (empty for a bitmap).
  std::vector<uint8_t> Png;
};

constexpr int32_t kMaxCursorSide = 256;

// Reads the entry nearest to 32 x 32 pixels. False, with `out` unspecified, for anything that
// is not a cursor file this reader understands.
bool ReadCursorFile(const uint8_t* data, size_t size, TCursorImage& out);
