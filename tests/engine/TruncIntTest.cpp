// The truncation every float-to-integer conversion goes through, against the same function by
// comparisons and a cast, on edge values and on random values of every magnitude.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "engine/Types.h"

namespace {

int32_t PlainTruncInt(ext_t v) {
  if (std::isnan(v)) return 0;
  if (v >= static_cast<ext_t>(std::numeric_limits<int32_t>::max())) return std::numeric_limits<int32_t>::max();
  if (v <= static_cast<ext_t>(std::numeric_limits<int32_t>::min())) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(v);
}

TEST(TruncInt, EdgeValuesGiveThePlainTruncation) {
  using L = std::numeric_limits<ext_t>;
  const ext_t two31 = 2147483648.0L;
  std::vector<ext_t> values = {0.0L, -0.0L, L::denorm_min(), -L::denorm_min(), L::min(), -L::min(), L::max(), -L::max(),
                               L::infinity(), -L::infinity(), L::quiet_NaN(), -L::quiet_NaN(), L::signaling_NaN(),
                               1.0L, -1.0L, 0.5L, -0.5L, two31, -two31, two31 - 1, -two31 + 1};
  for (ext_t base : {1.0L, 2.0L, 3.0L, 63.0L, 64.0L, 6399.0L, 1e7L, two31 - 1, two31, 4294967296.0L})
    for (ext_t s : {1.0L, -1.0L})
      for (ext_t d : {0.0L, 0.5L, L::epsilon(), 1e-9L, 0.999999L})
        values.push_back(s * (base + d)), values.push_back(s * (base - d)),
            values.push_back(s * std::nextafter(base, 0.0L)), values.push_back(s * std::nextafter(base, 1e30L));
  for (ext_t v : values) EXPECT_EQ(TruncInt(v), PlainTruncInt(v)) << static_cast<double>(v);
  EXPECT_EQ(TruncInt(L::quiet_NaN()), 0);
  EXPECT_EQ(TruncInt(-2.9L), -2);
  EXPECT_EQ(TruncInt(-two31 - 5), std::numeric_limits<int32_t>::min());
}

TEST(TruncInt, RandomValuesGiveThePlainTruncation) {
  std::mt19937_64 rng(5);
  for (int i = 0; i < 400000; ++i) {
    // Any magnitude from 2^-70 to 2^63, and integers with a small fraction either side.
    const ext_t wide = static_cast<ext_t>(static_cast<int64_t>(rng())) / std::ldexp(1.0L, int(rng() % 134));
    const ext_t near = static_cast<ext_t>(static_cast<int32_t>(rng())) +
                       static_cast<ext_t>(static_cast<int64_t>(rng())) / std::ldexp(1.0L, 63 + int(rng() % 40));
    const ext_t fromFloat = static_cast<ext_t>(std::bit_cast<float>(static_cast<uint32_t>(rng()))) * 0.35L;
    for (ext_t v : {wide, near, fromFloat}) ASSERT_EQ(TruncInt(v), PlainTruncInt(v)) << static_cast<double>(v);
  }
}

}  // namespace
