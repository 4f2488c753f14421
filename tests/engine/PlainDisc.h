#pragma once
// The sub-pixel disc as written, tested point by point: the plain formula that the fast
// disc loops are compared with.
#include <algorithm>
#include <cstdint>

#include "engine/Types.h"

struct TPlainDisc {
  int64_t K, R2, CX, CY;
  TPlainDisc(int k, float cx, float cy, float r)
      : K(k), R2(int64_t(TruncInt(static_cast<ext_t>(r) * k)) * TruncInt(static_cast<ext_t>(r) * k)),
        CX(TruncInt(static_cast<ext_t>(cx) * k)), CY(TruncInt(static_cast<ext_t>(cy) * k)) {}
  bool In(int64_t dx, int64_t dy) const { return dx * dx + dy * dy < R2; }
  int Corners(int64_t dx, int64_t dy) const { return In(dx, dy) + In(dx + K, dy) + In(dx, dy + K) + In(dx + K, dy + K); }
  int64_t Samples(int64_t dx, int64_t dy) const {
    int64_t n = 0;
    for (int j = 0; j < K; ++j)
      for (int i = 0; i < K; ++i) n += In(dx + i, dy + j);
    return n;
  }
  int64_t S(int64_t dx, int64_t dy) const { return R2 ? std::max<int64_t>(0, 255 - (dx * dx + dy * dy) * 255 / R2) : 0; }
};
