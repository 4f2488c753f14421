// The pixel coding of picture-file layers, against hand-made vectors.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "engine/io/WpbRle.h"

namespace {

// A picture held as rows in the file's order (bottom row first).
struct TPic {
  TPic(int32_t w, int32_t h, std::vector<uint32_t> px) : W(w), H(h), Px(std::move(px)) {
    for (int32_t r = 0; r < h; ++r) RowPtr.push_back(Px.data() + static_cast<size_t>(r) * w);
  }
  wpb::TRows Rows() { return wpb::TRows{RowPtr.data(), W, H}; }
  int32_t W, H;
  std::vector<uint32_t> Px;
  std::vector<uint32_t*> RowPtr;
};

std::vector<uint8_t> Code(int32_t w, int32_t h, std::vector<uint32_t> px, bool argb = false) {
  TPic p(w, h, std::move(px));
  std::vector<uint8_t> out;
  wpb::Encode(p.Rows(), argb, out);
  return out;
}

constexpr uint32_t A = 0x112233, B = 0x445566, C = 0x778899;

TEST(WpbRle, HandMadeVectors) {
  struct Case {
    const char* name;
    std::vector<uint32_t> px;
    std::vector<uint8_t> want;
  };
  std::vector<uint32_t> two(200, A);
  const std::vector<Case> cases = {
      {"single pixel", {A}, {1, 0x11, 0x22, 0x33}},
      {"A B B B", {A, B, B, B}, {253, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 2, 0x44, 0x55, 0x66}},
      {"200 equal", two, {120, 0x11, 0x22, 0x33, 80, 0x11, 0x22, 0x33}},
      {"two different", {A, B}, {253, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66}},
      {"literal takes the first of an equal pair", {A, B, C, C, A},
       {252, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 253, 0x77, 0x88, 0x99, 0x11, 0x22, 0x33}},
      {"last single after a run", {B, B, A}, {2, 0x44, 0x55, 0x66, 1, 0x11, 0x22, 0x33}},
      {"alpha ignored", {0xFF000000u | A, A, 0x7F000000u | A}, {3, 0x11, 0x22, 0x33}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Code(static_cast<int32_t>(c.px.size()), 1, c.px), c.want) << c.name;
  }
}

TEST(WpbRle, AlternatingPixelsGiveLiteralsOf120And10) {
  std::vector<uint32_t> px(250);
  for (size_t i = 0; i < px.size(); ++i) px[i] = (i % 2) ? B : A;
  const auto out = Code(250, 1, px);
  ASSERT_EQ(out.size(), 3u + 250u * 3u);
  EXPECT_EQ(out[0], 135);
  EXPECT_EQ(out[1 + 120 * 3], 135);
  EXPECT_EQ(out[2 + 240 * 3], 245);
}

TEST(WpbRle, ArgbKeepsAlphaAndComparesAllBits) {
  const auto out = Code(2, 1, {0x80112233u, 0x00112233u}, true);
  EXPECT_EQ(out, (std::vector<uint8_t>{253, 0x80, 0x11, 0x22, 0x33, 0x00, 0x11, 0x22, 0x33}));
  const auto run = Code(2, 1, {0x80112233u, 0x80112233u}, true);
  EXPECT_EQ(run, (std::vector<uint8_t>{2, 0x80, 0x11, 0x22, 0x33}));
}

TEST(WpbRle, RunsCrossRowEnds) {
  // 3 x 2, all equal: one run over both rows.
  EXPECT_EQ(Code(3, 2, std::vector<uint32_t>(6, A)), (std::vector<uint8_t>{6, 0x11, 0x22, 0x33}));
}

TEST(WpbRle, RoundTripRandomPictures) {
  std::mt19937 rng(7);
  for (int round = 0; round < 40; ++round) {
    const int32_t w = 1 + static_cast<int32_t>(rng() % 70), h = 1 + static_cast<int32_t>(rng() % 9);
    const bool argb = round % 2;
    std::vector<uint32_t> px(static_cast<size_t>(w) * h);
    // Few colours so that runs, literals and their limits all occur.
    for (auto& p : px) p = (rng() % 4 == 0) ? static_cast<uint32_t>(rng()) : 0xFF000000u * (rng() % 2) + (rng() % 3);
    std::vector<uint8_t> out;
    TPic src(w, h, px);
    wpb::Encode(src.Rows(), argb, out);
    EXPECT_LE(out.size(), wpb::MaxCodedSize(px.size(), argb));
    TPic dst(w, h, std::vector<uint32_t>(px.size(), 0xDEADBEEF));
    ASSERT_TRUE(wpb::Decode(out.data(), out.size(), argb, dst.Rows()));
    for (size_t i = 0; i < px.size(); ++i) {
      const uint32_t want = argb ? px[i] : (px[i] & 0xFFFFFF);
      ASSERT_EQ(dst.Px[i], want) << "round " << round << " pixel " << i;
    }
    // Every control byte is one the writer may produce.
    size_t pos = 0;
    const size_t vb = argb ? 4 : 3;
    while (pos < out.size()) {
      const uint8_t c = out[pos++];
      if (c < 125) {
        ASSERT_GE(c, 1);
        ASSERT_LE(c, 120);
        pos += vb;
      } else {
        ASSERT_GE(c, 135);
        ASSERT_LE(c, 253);
        pos += (255u - c) * vb;
      }
    }
  }
}

TEST(WpbRle, DecodeRefusesShortData) {
  std::vector<uint32_t> px(4, 0);
  TPic dst(2, 2, px);
  const std::vector<std::vector<uint8_t>> bad = {
      {},                                // nothing
      {3, 1, 2, 3},                      // three of four pixels
      {4, 1, 2},                         // run value cut
      {251, 1, 2, 3, 4, 5, 6, 7, 8, 9},  // literal of four with three values
      {0, 1, 2, 3, 255, 255},            // runs and literals of zero fill nothing
  };
  for (size_t k = 0; k < bad.size(); ++k)
    EXPECT_FALSE(wpb::Decode(bad[k].data(), bad[k].size(), false, dst.Rows())) << "case " << k;
}

TEST(WpbRle, DecodeDropsValuesBeyondThePicture) {
  TPic dst(2, 1, {0, 0});
  // A run of 5 and a literal whose values the picture has no room for.
  const std::vector<uint8_t> run = {5, 1, 2, 3, 250};
  ASSERT_TRUE(wpb::Decode(run.data(), run.size(), false, dst.Rows()));
  EXPECT_EQ(dst.Px, (std::vector<uint32_t>{0x010203, 0x010203}));
  // A literal of 4 whose last two values are missing: only the two needed are read.
  const std::vector<uint8_t> lit = {251, 1, 2, 3, 4, 5, 6};
  ASSERT_TRUE(wpb::Decode(lit.data(), lit.size(), false, dst.Rows()));
  EXPECT_EQ(dst.Px, (std::vector<uint32_t>{0x010203, 0x040506}));
}

}  // namespace
