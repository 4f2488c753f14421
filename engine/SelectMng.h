#pragma once
// The selection masks of a paper: up to 25 slots, each an 8-bit mask over the whole paper
// (0 not selected, 255 fully selected) with a thumbnail for the selection window, and the
// index of the current slot. The layer manager's polygon fill and clear rasterise their
// polygon into the current slot and fill the layer through it.
#include <array>
#include <cstdint>
#include <memory>

#include "engine/Ants.h"
#include "engine/Block.h"
#include "engine/TrueCnvs.h"
#include "engine/Types.h"

// A slot as it is handed out: the objects stay owned by the manager.
struct TSelectSlot {
  TBlockChannel* Mask = nullptr;
  TTC* Thumb = nullptr;
  TAnts* Ants = nullptr;
  bool Empty = true;
};

// Selection modes of CombineShape.
constexpr uint8_t smReplace = 0;
constexpr uint8_t smAdd = 1;
constexpr uint8_t smSubtract = 2;
constexpr uint8_t smIntersect = 4;

constexpr int32_t kSelectSlots = 25;
constexpr int32_t kSelectThumbSide = 48;

class TSelectMng {
 public:
  // Sides are kept within 0..kMaxPaperSide.
  TSelectMng(int32_t W, int32_t H);
  ~TSelectMng();
  TSelectMng(const TSelectMng&) = delete;
  TSelectMng& operator=(const TSelectMng&) = delete;

  int32_t Width() const { return width_; }
  int32_t Height() const { return height_; }
  int32_t LastSlot() const { return last_slot_; }
  int32_t Current() const { return current_; }

  // Every operation that takes a slot does nothing (no object, empty) for a slot outside
  // 0..LastSlot.
  void CreateSlot(int32_t slot);
  // The masks of slots 0..Current take the new size and slot Current is made anew. Sides
  // outside 0..kMaxPaperSide are refused (false, nothing changed).
  bool Resize(int32_t W, int32_t H);
  void SetCurrent(int32_t slot);
  TSelectSlot GetCurrentSlot() const { return GetSlot(current_); }
  TSelectSlot GetSlot(int32_t slot) const;
  TTC* GetThumb(int32_t slot) const;
  bool IsEmpty(int32_t slot) const;

  // Rasterises the polygon (copied, the caller's points are not touched) and combines it into
  // the slot by mode: 0 replace, 1 add, 2 subtract, 4 intersect; other modes leave the mask.
  // The slot is non-empty afterwards whatever the mode.
  void CombineShape(int32_t slot, const TPoint* points, int32_t count, uint8_t mode);
  void SelectAll(int32_t slot);
  void Clear(int32_t slot);
  void RefreshThumb(int32_t slot);
  void CopySlot(int32_t from, int32_t to);
  // Copies the slot into a new slot, clears the slot and makes it current. With all 25 slots
  // in use nothing happens.
  void StoreCopy(int32_t slot);
  void Grow(int32_t slot);
  void Shrink(int32_t slot);
  void Invert(int32_t slot);
  int64_t MemoryUsed() const { return 0; }
  void SizeChanged() {}

 private:
  struct Slot {
    std::unique_ptr<TBlockChannel> Mask;
    std::unique_ptr<TTC> Thumb;
    std::unique_ptr<TAnts> Ants;
    bool Empty = true;
  };
  bool Valid(int32_t slot) const { return slot >= 0 && slot <= last_slot_ && slots_[slot].Mask; }
  void SizeThumb(TTC& thumb) const;
  void Morph(int32_t slot, bool grow);

  int32_t width_ = 0;
  int32_t height_ = 0;
  int32_t last_slot_ = 0;
  int32_t current_ = 0;
  std::array<Slot, kSelectSlots> slots_;
};
