#pragma once
// Types and helpers that the whole engine shares.
#include <cmath>
#include <cstdint>
#include <limits>

// Every floating-point expression of more than one operation is evaluated in ext_t and only
// rounded to float where it is stored, so that live drawing and replay give the same integers.
// Constants in such expressions are ext_t literals (0.35L).
using ext_t = long double;

// The tile grid holds 6400 x 6400 pixels; a paper side is at most one less.
constexpr int32_t kMaxPaperSide = 6399;

// Truncation toward zero of a computed value, defined for every input: out-of-range values
// clamp to the int32 range and NaN gives 0 (a plain cast of those is undefined behaviour).
inline int32_t TruncInt(ext_t v) {
  if (std::isnan(v)) return 0;
  if (v >= static_cast<ext_t>(std::numeric_limits<int32_t>::max())) return std::numeric_limits<int32_t>::max();
  if (v <= static_cast<ext_t>(std::numeric_limits<int32_t>::min())) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(v);
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
