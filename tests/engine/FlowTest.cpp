#include "engine/Flow.h"

#include <gtest/gtest.h>

#include <array>
#include <memory>

namespace {

// Layers as plain image blocks, each marked by the colour of its pixel (0, 0).
struct Layers {
  std::array<std::unique_ptr<TBlockImage>, 6> image;
  Layers(int32_t w = 100, int32_t h = 80) {
    for (int32_t i = 0; i < 6; ++i) {
      image[i] = std::make_unique<TBlockImage>();
      image[i]->SetSize(w, h);
      image[i]->SetPixel(0, 0, 0xFF000000u | uint32_t(i + 1));
    }
  }
  const TBlockImage* operator[](int32_t i) const { return image[i].get(); }
};

uint32_t Mark(TFlowImage& flow, int32_t layer) {
  TBlockImage* img = flow.FindImage(layer);
  return img ? img->GetPixel(0, 0) & 0xFFFFFFu : 0;
}

}  // namespace

TEST(FlowTest, NewCacheHoldsNothing) {
  TFlowImage flow;
  EXPECT_EQ(flow.SlotCount(), 1);
  for (int32_t s = 0; s < kFlowSlots; ++s) {
    EXPECT_EQ(flow.SlotLayer(s), -1);
    EXPECT_EQ(flow.Stamp(s), -1);
    EXPECT_EQ(flow.Locked(s), 0);
  }
  EXPECT_EQ(flow.FindImage(0), nullptr);
  EXPECT_EQ(flow.FindMask(0), nullptr);
  EXPECT_EQ(flow.MemoryUsed(), 0);
}

TEST(FlowTest, OneSlotIsReloadedForAnotherLayer) {
  Layers layers;
  TFlowImage flow;
  flow.Acquire(0, layers[0]);
  EXPECT_EQ(Mark(flow, 0), 1u);
  flow.Acquire(2, layers[2]);
  EXPECT_EQ(flow.SlotOf(2), 0);
  EXPECT_EQ(Mark(flow, 2), 3u);
  EXPECT_EQ(flow.FindImage(0), nullptr);
  // The mask of a loaded slot exists everywhere, all 0.
  ASSERT_NE(flow.FindMask(2), nullptr);
  EXPECT_TRUE(flow.FindMask(2)->HasTile(99, 79));
  EXPECT_EQ(flow.FindMask(2)->ChannelGetPixel(50, 50), 0);
}

// With four slots the slot loaded longest ago goes first, skipping a locked one.
TEST(FlowTest, FourSlotsReuseTheOldestUnlockedSlot) {
  for (bool lockFirst : {false, true}) {
    SCOPED_TRACE(lockFirst);
    Layers layers;
    TFlowImage flow;
    flow.SetSlotCount(4);
    for (int32_t i = 0; i < 4; ++i) flow.Acquire(i, layers[i]);
    for (int32_t i = 0; i < 4; ++i) EXPECT_EQ(flow.SlotOf(i), i);
    if (lockFirst) flow.SetLocked(0, 1);
    // Acquiring a held layer changes nothing, its stamp included.
    flow.Acquire(1, layers[1]);
    flow.Acquire(4, layers[4]);
    const int32_t reused = lockFirst ? 1 : 0;
    EXPECT_EQ(flow.SlotOf(4), reused);
    EXPECT_EQ(Mark(flow, 4), 5u);
    EXPECT_EQ(flow.SlotOf(reused), -1);  // the evicted layer
    EXPECT_EQ(flow.SlotOf(lockFirst ? 0 : 1), lockFirst ? 0 : 1);
    EXPECT_EQ(flow.Stamp(reused), 4);
  }
}

TEST(FlowTest, AcquiringAHeldLayerKeepsItsCopy) {
  Layers layers;
  TFlowImage flow;
  flow.Acquire(3, layers[3]);
  flow.FindImage(3)->SetPixel(5, 5, 0xFF123456u);
  flow.FindMask(3)->ChannelBlendPixel(5, 5, 200, 255);
  flow.Acquire(3, layers[3]);
  EXPECT_EQ(flow.FindImage(3)->GetPixel(5, 5), 0xFF123456u);
  EXPECT_EQ(flow.FindMask(3)->ChannelGetPixel(5, 5), 200);
  // CopyTo puts the layer back into its copy.
  flow.CopyTo(3, *layers[3]);
  EXPECT_EQ(flow.FindImage(3)->GetPixel(5, 5), layers[3]->GetPixel(5, 5));
}

TEST(FlowTest, SlotCountOutsideOneToFourIsIgnored) {
  TFlowImage flow;
  for (int32_t n : {0, 5, -1, 1000}) {
    flow.SetSlotCount(n);
    EXPECT_EQ(flow.SlotCount(), 1);
  }
  flow.SetSlotCount(4);
  EXPECT_EQ(flow.SlotCount(), 4);
}

TEST(FlowTest, ResetFreesEverySlotAndEveryLock) {
  Layers layers;
  TFlowImage flow;
  flow.SetSlotCount(4);
  for (int32_t i = 0; i < 4; ++i) {
    flow.Acquire(i, layers[i]);
    flow.SetLocked(i, 1);
  }
  flow.Reset();
  for (int32_t s = 0; s < kFlowSlots; ++s) {
    EXPECT_EQ(flow.SlotLayer(s), -1);
    EXPECT_EQ(flow.Locked(s), 0);
    EXPECT_EQ(flow.Image(s).Width(), 4);
    EXPECT_EQ(flow.Mask(s).Height(), 4);
  }
  EXPECT_EQ(flow.FindImage(0), nullptr);
  EXPECT_EQ(flow.MemoryUsed(), 0);
  // No slot stays locked out: four new layers find four slots.
  for (int32_t i = 0; i < 4; ++i) flow.Acquire(i + 1, layers[i + 1]);
  for (int32_t i = 0; i < 4; ++i) EXPECT_GE(flow.SlotOf(i + 1), 0);
}

// With every usable slot locked, a layer without a slot gets none and no other layer's slot
// is touched on its behalf.
TEST(FlowTest, NoSlotMeansNoCopyAndNoFallback) {
  Layers layers;
  TFlowImage flow;
  flow.Acquire(0, layers[0]);
  flow.SetLocked(0, 1);
  flow.Acquire(1, layers[1]);
  EXPECT_EQ(flow.SlotOf(1), -1);
  EXPECT_EQ(flow.FindImage(1), nullptr);
  EXPECT_EQ(flow.FindMask(1), nullptr);
  flow.CopyTo(1, *layers[1]);
  flow.SetLocked(1, 0);
  EXPECT_EQ(Mark(flow, 0), 1u);
  EXPECT_TRUE(flow.IsLocked(0));
  EXPECT_FALSE(flow.IsLocked(1));
  flow.Acquire(2, nullptr);
  EXPECT_EQ(flow.SlotOf(2), -1);
  flow.SetLocked(0, 0);
  flow.Acquire(-3, layers[2]);
  EXPECT_EQ(flow.SlotOf(-3), -1);
  EXPECT_EQ(flow.SlotOf(0), 0);
}

TEST(FlowTest, ASlotIsResizedOnItsNextLoad) {
  Layers small(100, 80), large(300, 200);
  TFlowImage flow;
  flow.Acquire(0, small[0]);
  EXPECT_EQ(flow.FindImage(0)->Width(), 100);
  flow.Acquire(1, large[1]);
  EXPECT_EQ(flow.FindImage(1)->Width(), 300);
  EXPECT_EQ(flow.FindMask(1)->Height(), 200);
  EXPECT_TRUE(flow.FindMask(1)->HasTile(299, 199));
  EXPECT_EQ(flow.MemoryUsed(), large[1]->MemoryUsed());
}
