// The thumbnail reduction of the layers must give exactly the bytes of the block's own box
// filter, for every shape of image, canvas and refreshed rectangle.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "engine/Layer.h"

namespace {

using TRng = std::mt19937;

int32_t Pick(TRng& rng, int32_t n) { return static_cast<int32_t>(rng() % static_cast<uint32_t>(n)); }

// Tiles of noise, of one colour, of the background and absent, with the alpha byte in use.
void Paint(TBlockImage& b, TRng& rng) {
  const int32_t cols = b.Width() / 64 + 1, rows = b.Height() / 64 + 1;
  for (int32_t ty = 0; ty < rows; ++ty)
    for (int32_t tx = 0; tx < cols; ++tx) switch (Pick(rng, 4)) {
        case 0: break;
        case 1: b.FillRect(tx * 64, ty * 64, 64, 64, static_cast<uint32_t>(rng())); break;
        case 2: b.FillRect(tx * 64, ty * 64, 64, 64, b.BackColour()); break;
        default:
          for (int32_t y = 0; y < 64; ++y)
            for (int32_t x = 0; x < 64; ++x) b.SetPixel(tx * 64 + x, ty * 64 + y, static_cast<uint32_t>(rng()));
      }
}

void ExpectSame(const TTC& got, const TTC& want) {
  ASSERT_EQ(got.Width(), want.Width());
  ASSERT_EQ(got.Height(), want.Height());
  for (int32_t y = 0; y < got.Height(); ++y)
    for (int32_t x = 0; x < got.Width(); ++x)
      ASSERT_EQ(got.GetPixel(x, y), want.GetPixel(x, y)) << "at " << x << "," << y;
}

}  // namespace

TEST(LayerThumbnailTest, ReductionMatchesTheBlockBoxFilter) {
  struct TCase {
    int32_t W, H, CW, CH;
  };
  // Reductions by large and small factors, a canvas larger than the image (boxes of one
  // pixel, repeated), one-pixel images and canvases, sides of a whole number of tiles, boxes
  // of more rows than 16-bit column sums can hold.
  const std::vector<TCase> cases = {{700, 300, 46, 20},  {300, 700, 20, 46}, {128, 128, 46, 46}, {64, 1, 46, 2},
                                    {1, 1, 46, 46},      {30, 20, 46, 31},   {200, 200, 1, 1},   {1000, 999, 7, 300},
                                    {129, 65, 129, 65},  {40, 600, 3, 2}};
  for (uint32_t seed = 1; seed <= 4; ++seed)
    for (const TCase& c : cases) {
      SCOPED_TRACE(testing::Message() << c.W << "x" << c.H << " into " << c.CW << "x" << c.CH << " seed " << seed);
      TRng rng(seed * 104729u + static_cast<uint32_t>(c.W * 7 + c.CW));
      TBlockImage image;
      image.SetSize(c.W, c.H);
      image.SetBackColour(seed % 2 ? 0xFFFFFFu : 0u);
      Paint(image, rng);
      TTC want(c.CW, c.CH), got(c.CW, c.CH);
      const uint32_t start = static_cast<uint32_t>(rng());
      want.Fill(start);
      got.Fill(start);
      image.StretchTo(want);
      ReduceImageTo(image, got);
      ExpectSame(got, want);
      // Parts, also reaching past the canvas on every side.
      for (int k = 0; k < 6; ++k) {
        const int32_t x = Pick(rng, c.CW + 4) - 2, y = Pick(rng, c.CH + 4) - 2;
        const int32_t w = Pick(rng, c.CW + 3) - 1, h = Pick(rng, c.CH + 3) - 1;
        want.Fill(start);
        got.Fill(start);
        image.StretchRectTo(want, x, y, w, h);
        ReduceImageTo(image, got, x, y, w, h);
        ExpectSame(got, want);
      }
    }
}

// A layer's whole refresh (as after loading a picture) against the plain filter.
TEST(LayerThumbnailTest, LayerRefreshesGiveTheFilterBytes) {
  TRng rng(77);
  for (TLayerKind kind : {lkMultiply, lkAdd, lkArgb}) {
    TLayer layer(kind);
    ASSERT_TRUE(layer.SetSize(333, 210));
    Paint(layer.Image(), rng);
    layer.UpdateThumbnail();
    TTC want(layer.Thumbnail().Width(), layer.Thumbnail().Height());
    want.Fill(0xFFFFFFFFu);
    layer.Image().StretchTo(want);
    ExpectSame(layer.Thumbnail(), want);
  }
}
