#pragma once
// Run-length coding of one layer's pixels in a *.wpb picture file.
//
// Pixels are taken in the file's order: the bottom row of the picture first, each row left to
// right. A chunk starts with a control byte c: below 125 a run (one value for c pixels), from
// 125 up a literal of 255 - c values. A value is R, G, B (3 bytes) or, for layers that keep
// their alpha, A, R, G, B (4 bytes).
#include <cstddef>
#include <cstdint>
#include <vector>

namespace wpb {

// Longest run or literal the writer produces.
constexpr int kMaxChunk = 120;

// Bytes the coding of n pixels can take at most: a literal of two costs one control byte per
// two values, the last single pixel one control byte.
inline size_t MaxCodedSize(size_t n, bool argb) { return n * (argb ? 4 : 3) + n / 2 + 2; }

// Pixel rows of the file order: row r is the picture's row H - 1 - r.
struct TRows {
  uint32_t* const* Rows = nullptr;
  int32_t Width = 0, Height = 0;
  size_t Count() const { return static_cast<size_t>(Width) * static_cast<size_t>(Height); }
};

// Appends the coding of the pixels to out.
void Encode(const TRows& px, bool argb, std::vector<uint8_t>& out);

// Decodes into every pixel of px. False, with the pixels partly written, when the data ends
// before all pixels are filled or inside a chunk; values of a chunk beyond the last pixel and
// bytes after it are ignored. 3-byte values give alpha 0.
bool Decode(const uint8_t* data, size_t size, bool argb, const TRows& px);

}  // namespace wpb
