#pragma once
// The cache of working copies into which strokes paint before they are merged into their
// layer: up to four slots, each the working image and the coverage mask of one layer. A local
// paper uses one slot; a network paper four, so that the strokes of up to four members can be
// under way at once without evicting each other's copies.
//
// A layer that no slot holds has no working copy: FindImage and FindMask give no block then,
// and CopyTo and SetLocked do nothing. No layer is ever handed another layer's slot.
#include <array>
#include <cstdint>
#include <memory>

#include "engine/Block.h"

constexpr int32_t kFlowSlots = 4;

class TFlowImage {
 public:
  TFlowImage();
  ~TFlowImage();
  TFlowImage(const TFlowImage&) = delete;
  TFlowImage& operator=(const TFlowImage&) = delete;

  int32_t SlotCount() const { return slot_count_; }
  // 1..4; any other value changes nothing. Slot contents are kept.
  void SetSlotCount(int32_t n);

  // Makes sure a usable slot holds a working copy of the layer: a layer that has one keeps it
  // as it is; otherwise the unlocked slot loaded longest ago is loaded from the image. With
  // every usable slot locked, or no image, nothing happens.
  void Acquire(int32_t layer, const TBlockImage* image);
  // The usable slot that holds the layer (the last one if several do), or -1.
  int32_t SlotOf(int32_t layer) const;
  TBlockImage* FindImage(int32_t layer);
  TBlockChannel* FindMask(int32_t layer);
  void SetLocked(int32_t layer, uint8_t flag);
  bool IsLocked(int32_t layer) const;
  // Replaces the layer's working image by a clone of the block.
  void CopyTo(int32_t layer, const TBlockImage& block);
  // Frees every slot and clears every lock.
  void Reset();
  // Bytes of the working images of the usable slots (masks are not counted).
  int64_t MemoryUsed() const;

  // The slot fields, for inspection.
  int32_t SlotLayer(int32_t slot) const { return slot_layer_[slot & 3]; }
  int64_t Stamp(int32_t slot) const { return stamp_[slot & 3]; }
  uint8_t Locked(int32_t slot) const { return locked_[slot & 3]; }
  const TBlockImage& Image(int32_t slot) const { return *image_[slot & 3]; }
  const TBlockChannel& Mask(int32_t slot) const { return *mask_[slot & 3]; }

 private:
  // 64-bit so that the order of loads never wraps.
  int64_t clock_ = 0;
  std::array<int64_t, kFlowSlots> stamp_{};
  int32_t slot_count_ = 1;
  std::array<std::unique_ptr<TBlockImage>, kFlowSlots> image_;
  std::array<std::unique_ptr<TBlockChannel>, kFlowSlots> mask_;
  std::array<int32_t, kFlowSlots> slot_layer_{};
  std::array<uint8_t, kFlowSlots> locked_{};
};
