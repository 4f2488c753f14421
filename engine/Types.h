#pragma once
// Types and helpers that the whole engine shares.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

// Every floating-point expression of more than one operation is evaluated in ext_t and only
// rounded to float where it is stored, so that live drawing and replay give the same integers.
// Constants in such expressions are ext_t literals (0.35L).
using ext_t = long double;

// The tile grid holds 6400 x 6400 pixels; a paper side is at most one less.
constexpr int32_t kMaxPaperSide = 6399;

// Truncation toward zero of a computed value, defined for every input: out-of-range values
// clamp to the int32 range and NaN gives 0 (a plain cast of those is undefined behaviour).
// Read from the bits of the 80-bit value: the x87 conversion switches the rounding mode twice,
// which costs more than the rest of a small dab.
inline int32_t TruncInt(ext_t v) {
  static_assert(std::numeric_limits<ext_t>::digits == 64 && std::numeric_limits<ext_t>::max_exponent == 16384);
  uint64_t m;
  uint16_t se;
  std::memcpy(&m, &v, 8);
  std::memcpy(&se, reinterpret_cast<const unsigned char*>(&v) + 8, 2);
  const int32_t e = se & 0x7FFF;  // |v| = m 2^(e - 16383 - 63)
  const bool negative = (se >> 15) != 0;
  if (e < 16383) return 0;  // |v| < 1
  if (e >= 16383 + 31) {    // |v| >= 2^31, infinities and NaN
    if (e == 0x7FFF && (m << 1) != 0) return 0;
    return negative ? std::numeric_limits<int32_t>::min() : std::numeric_limits<int32_t>::max();
  }
  const int32_t t = static_cast<int32_t>(m >> (16383 + 63 - e));
  return negative ? -t : t;
}

// Pixel positions are the truncation of the value plus 0.5.
inline int32_t RoundPos(ext_t v) { return TruncInt(v + 0.5L); }

struct TPoint {
  int32_t X = 0, Y = 0;
  friend bool operator==(const TPoint&, const TPoint&) = default;
};

// Right and Bottom are exclusive, as the system's rectangles are.
struct TRect {
  int32_t Left = 0, Top = 0, Right = 0, Bottom = 0;
  int32_t Width() const { return Right - Left; }
  int32_t Height() const { return Bottom - Top; }
  bool IsEmpty() const { return Right <= Left || Bottom <= Top; }
  friend bool operator==(const TRect&, const TRect&) = default;
};

inline TRect Rect(int32_t l, int32_t t, int32_t r, int32_t b) { return TRect{l, t, r, b}; }
