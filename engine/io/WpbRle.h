#pragma once
// Run-length coding of one layer's pixels in a *.wpb picture file.
//
// Pixels are taken in the file's order: the bottom row of the picture first, each row left to
// right. A chunk starts with a control byte c: below 125 a run (one value for c pixels), from
// 125 up a literal of 255 - c values. A value is R, G, B (3 bytes) or, for layers that keep
// their alpha, A, R, G, B (4 bytes).
#include <cstddef>
#include <cstdint>
#include <new>
#include <utility>
#include <vector>

class TBlockImage;

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

// Encode and Decode above work on whole canvases. The picture file codes layers straight from
// and into their tiles with the two below, which give the same bytes and the same tiles.

// A byte store that grows without clearing what it adds: every byte is written before use.
template <class T>
struct TNoInit : std::allocator<T> {
  template <class U>
  struct rebind {
    using other = TNoInit<U>;
  };
  TNoInit() = default;
  template <class U>
  TNoInit(const TNoInit<U>&) noexcept {}
  template <class U>
  void construct(U* p) noexcept {
    ::new (static_cast<void*>(p)) U;
  }
  template <class U, class... A>
  void construct(U* p, A&&... a) {
    ::new (static_cast<void*>(p)) U(std::forward<A>(a)...);
  }
};
using TBytes = std::vector<uint8_t, TNoInit<uint8_t>>;

// The coding of pixels handed over in the file's order, either as stored pixels or as a
// stretch of one repeated value; the bytes are those Encode writes for the same pixels. A
// chunk is written once the pixels that decide it are known, so a stretch of a repeated value
// costs by its chunks, not by its pixels.
class TEncoder {
 public:
  TEncoder(bool argb, TBytes& out) : argb_(argb), mask_(argb ? 0xFFFFFFFFu : 0x00FFFFFFu), out_(out) {}
  void Pixels(const uint32_t* px, size_t n);
  void Repeat(uint32_t value, size_t n);
  // Codes what is left; nothing may follow.
  void Finish();

 private:
  // Codes the chunks whose pixels are all known (every chunk when last).
  void Settle(bool last);
  void FlushRepeat();
  const bool argb_;
  const uint32_t mask_;
  TBytes& out_;
  std::vector<uint32_t> pending_;
  uint32_t repeat_value_ = 0;
  size_t repeat_count_ = 0;
};

// Appends the coding of the image's Width x Height pixels, read from its tiles (an absent tile
// as the background colour).
void EncodeImage(const TBlockImage& image, bool argb, TBytes& out);

// Decodes into an image that has its size and background colour and no tiles. A tile is made
// only where a pixel differs from the background, and one that ends up equal to it is freed
// again, by red, green and blue, or by all 32 bits when exact: the image is the one that
// loading the decoded canvas and compacting it gives. False as Decode, the image then partly
// written.
bool DecodeImage(const uint8_t* data, size_t size, bool argb, bool exact, TBlockImage& image);

}  // namespace wpb
