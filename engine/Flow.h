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
#include <vector>

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
  // every usable slot locked, or no image, nothing happens. The slot loads its tiles from the
  // image as they are used, so the image must stay while the slot holds the layer (a layer's
  // image does, until the stack is renumbered and the cache reset).
  void Acquire(int32_t layer, const TBlockImage* image);
  // The usable slot that holds the layer (the last one if several do), or -1.
  int32_t SlotOf(int32_t layer) const;
  // The working image and mask of the layer, whole.
  TBlockImage* FindImage(int32_t layer);
  TBlockChannel* FindMask(int32_t layer);
  // The same, ready in the tiles that a rectangle touches (and, for a rectangle beyond the
  // edge, the edge tiles that reads clamp to); the caller uses no other tile.
  TBlockImage* FindImageIn(int32_t layer, int32_t x, int32_t y, int32_t w, int32_t h);
  TBlockChannel* FindMaskIn(int32_t layer, int32_t x, int32_t y, int32_t w, int32_t h);

  // Off (the default), a slot is loaded from its layer tile by tile, when a tile is first
  // used, and a changed rectangle marks only its tiles for loading again; the slot reads as a
  // whole clone at every moment. On, every load and every CopyTo clones the whole layer.
  void SetPlainPath(bool on);
  // Like CopyTo, after a change of the block within the rectangle only.
  void CopyRectTo(int32_t layer, const TBlockImage& block, int32_t x, int32_t y, int32_t w, int32_t h);
  // After the layer was compacted: its slot's loaded tiles follow the tiles the layer kept, as
  // the same compaction of a clone would leave them.
  void FollowCompaction(int32_t layer, const TBlockImage& block);
  void SetLocked(int32_t layer, uint8_t flag);
  bool IsLocked(int32_t layer) const;
  // Replaces the layer's working image by a clone of the block (loaded from it as Acquire does).
  void CopyTo(int32_t layer, const TBlockImage& block);
  // Frees every slot and clears every lock.
  void Reset();
  // Bytes of the working images of the usable slots (masks are not counted).
  int64_t MemoryUsed() const;

  // The slot fields, for inspection.
  int32_t SlotLayer(int32_t slot) const { return slot_layer_[slot & 3]; }
  int64_t Stamp(int32_t slot) const { return stamp_[slot & 3]; }
  uint8_t Locked(int32_t slot) const { return locked_[slot & 3]; }
  const TBlockImage& Image(int32_t slot) const;
  const TBlockChannel& Mask(int32_t slot) const;

 private:
  // Marks every tile of the slot's grid, or those of a rectangle, to be loaded from `block`.
  void Defer(int32_t slot, const TBlockImage& block, uint8_t what);
  void DeferRect(int32_t slot, int32_t x, int32_t y, int32_t w, int32_t h, uint8_t what);
  // Loads the marked tiles of tile columns tx0..tx1 and rows ty0..ty1.
  void Load(int32_t slot, int32_t tx0, int32_t ty0, int32_t tx1, int32_t ty1);
  void LoadAll(int32_t slot);
  void LoadRect(int32_t slot, int32_t x, int32_t y, int32_t w, int32_t h);
  void LoadTile(int32_t slot, int32_t tx, int32_t ty, uint8_t what);

  bool plain_path_ = false;
  // The image each slot loads from, and its tiles still to load (grid order); the count of them.
  std::array<const TBlockImage*, kFlowSlots> source_{};
  std::array<std::vector<uint8_t>, kFlowSlots> pending_;
  std::array<int32_t, kFlowSlots> pending_count_{};
  // 64-bit so that the order of loads never wraps.
  int64_t clock_ = 0;
  std::array<int64_t, kFlowSlots> stamp_{};
  int32_t slot_count_ = 1;
  std::array<std::unique_ptr<TBlockImage>, kFlowSlots> image_;
  std::array<std::unique_ptr<TBlockChannel>, kFlowSlots> mask_;
  std::array<int32_t, kFlowSlots> slot_layer_{};
  std::array<uint8_t, kFlowSlots> locked_{};
};
