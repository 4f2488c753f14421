// Reloading a slot that already has the layer's size reuses its tiles; whatever it keeps, the
// slot must end exactly as a fresh clone of the layer with a freshly cleared mask would be:
// the same tiles present, every byte of every tile (also those beyond the image's edge) equal.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "engine/Flow.h"

namespace {

using TRng = std::mt19937;

int32_t Pick(TRng& rng, int32_t n) { return static_cast<int32_t>(rng() % static_cast<uint32_t>(n)); }

// Random tiles: opaque scribbles, whole tiles of the background (present but uniform, with
// and without alpha), tiles differing from the background only in alpha, and empty areas.
void Scribble(TBlockImage& b, TRng& rng) {
  const int32_t cols = b.Width() / 64 + 1, rows = b.Height() / 64 + 1;
  for (int32_t k = Pick(rng, 3 * cols * rows / 2); k > 0; --k) {
    const int32_t tx = Pick(rng, cols), ty = Pick(rng, rows);
    switch (Pick(rng, 4)) {
      case 0:
        b.FillRect(tx * 64, ty * 64, 64, 64, b.BackColour());
        break;
      case 1:
        b.FillRect(tx * 64, ty * 64, 64, 64, b.BackColour() | 0xFF000000u);
        break;
      case 2:
        b.SetPixel(tx * 64 + Pick(rng, 64), ty * 64 + Pick(rng, 64), (b.BackColour() & 0xFFFFFFu) | 0x7F000000u);
        break;
      default:
        for (int32_t n = Pick(rng, 40); n >= 0; --n)
          b.SetPixel(tx * 64 + Pick(rng, 64), ty * 64 + Pick(rng, 64), static_cast<uint32_t>(rng()));
    }
  }
}

// Coverage anywhere in the valid tiles, also past the mask's right and bottom edge.
void Cover(TBlockChannel& m, TRng& rng) {
  const int32_t gw = (m.Width() / 64 + 1) * 64, gh = (m.Height() / 64 + 1) * 64;
  for (int32_t n = Pick(rng, 60); n > 0; --n)
    m.ChannelBlendPixel(Pick(rng, gw), Pick(rng, gh), static_cast<uint8_t>(1 + Pick(rng, 255)), 255);
  if (Pick(rng, 2)) m.ChannelFillRect(Pick(rng, gw), Pick(rng, gh), 1 + Pick(rng, 90), 1 + Pick(rng, 90), 200);
}

template <class Block>
void ExpectSameTiles(const Block& got, const Block& want, int bytesPerPixel, const char* what) {
  ASSERT_EQ(got.Width(), want.Width()) << what;
  ASSERT_EQ(got.Height(), want.Height()) << what;
  for (int32_t ty = 0; ty < TBlock::kGridSide; ++ty)
    for (int32_t tx = 0; tx < TBlock::kGridSide; ++tx) {
      const auto* g = got.GetTile(tx, ty);
      const auto* w = want.GetTile(tx, ty);
      ASSERT_EQ(g != nullptr, w != nullptr) << what << " tile " << tx << "," << ty;
      if (!g) continue;
      for (int32_t y = 0; y < 64; ++y)
        ASSERT_EQ(0, std::memcmp(g->Row(y), w->Row(y), size_t(64 * bytesPerPixel)))
            << what << " tile " << tx << "," << ty << " row " << y;
    }
}

// The plain reload: fresh blocks, a clone and a whole fill of the mask over what it held.
struct TReference {
  TBlockImage Image;
  TBlockChannel Mask;
};

}  // namespace

TEST(FlowReloadTest, ReusedSlotEqualsAFreshCloneOnRandomLayers) {
  // Sizes with and without a spare tile column or row beyond the image.
  const std::vector<std::pair<int32_t, int32_t>> sizes = {{200, 150}, {128, 192}, {64, 65}, {1, 1}, {333, 64}};
  for (uint32_t seed = 1; seed <= 12; ++seed) {
    for (const auto& [w, h] : sizes) {
      SCOPED_TRACE(testing::Message() << "seed " << seed << " size " << w << "x" << h);
      TRng rng(seed * 7919u + static_cast<uint32_t>(w * 31 + h));
      std::vector<std::unique_ptr<TBlockImage>> layers;
      for (int32_t i = 0; i < 3; ++i) {
        layers.push_back(std::make_unique<TBlockImage>());
        layers[i]->SetSize(w, h);
        layers[i]->SetBackColour(i == 1 ? 0u : 0xFFFFFFu);
        if (i < 2 || Pick(rng, 2)) Scribble(*layers[i], rng);
      }
      TFlowImage flow;
      TReference ref;  // the slot's mask as it would be after the same strokes
      ref.Mask.SetSize(w, h);
      for (int step = 0; step < 10; ++step) {
        const int32_t layer = Pick(rng, 3);
        const bool reload = flow.SlotOf(layer) < 0;
        flow.Acquire(layer, layers[layer].get());
        ASSERT_EQ(flow.SlotOf(layer), 0);
        if (reload) {
          ref.Image.SetSize(w, h);
          layers[layer]->CloneTo(ref.Image);
          ref.Mask.ChannelFill(0);
          ExpectSameTiles(*flow.FindImage(layer), ref.Image, 4, "image after a reload");
          ExpectSameTiles(*flow.FindMask(layer), ref.Mask, 1, "mask after a reload");
          EXPECT_EQ(flow.FindImage(layer)->BackColour(), layers[layer]->BackColour());
          EXPECT_EQ(flow.MemoryUsed(), layers[layer]->MemoryUsed());
        }
        // A stroke: the slot and the layer change, the mask keeps some coverage.
        Scribble(*flow.FindImage(layer), rng);
        TRng same = rng;
        Cover(*flow.FindMask(layer), rng);
        Cover(ref.Mask, same);
        if (Pick(rng, 3) == 0) Scribble(*layers[layer], rng);
        // A pixel operation hands the layer back to the slot.
        if (Pick(rng, 4) == 0) {
          flow.CopyTo(layer, *layers[layer]);
          ref.Image.SetSize(w, h);
          layers[layer]->CloneTo(ref.Image);
          ExpectSameTiles(*flow.FindImage(layer), ref.Image, 4, "image after CopyTo");
          ExpectSameTiles(*flow.FindMask(layer), ref.Mask, 1, "mask after CopyTo");
        }
      }
    }
  }
}
