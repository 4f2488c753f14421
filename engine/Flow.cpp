#include "engine/Flow.h"

#include <algorithm>
#include <cstring>

namespace {
constexpr int32_t kFreeSlotSide = 4;
constexpr int32_t kSide = TBlock::kTileSide;
// What a pending tile still needs: its image loaded from the layer, its mask cleared.
constexpr uint8_t kLoadImage = 1, kClearMask = 2;

// The last tile column (row) of a block of the given width (height) that can hold a tile.
int32_t LastGridTile(int32_t side) { return std::min(side / kSide, TBlock::kGridSide - 1); }

void CopyTile(const TTC& from, TTC& to) {
  for (int32_t y = 0; y < kSide; ++y) std::memcpy(to.Row32(y), from.Row32(y), size_t(kSide) * 4);
}

// Makes work a tile-for-tile clone of the image, as image.CloneTo(work) does, for blocks of the
// same size, reusing the tiles work already has instead of freeing and remaking all of them.
void ReloadImage(const TBlockImage& image, TBlockImage& work) {
  work.SetBackColour(image.BackColour());
  const int32_t lastX = LastGridTile(image.Width()), lastY = LastGridTile(image.Height());
  bool missing = false;
  // Tiles both have take the image's pixels first, so that freeing below spares them.
  for (int32_t ty = 0; ty <= lastY; ++ty)
    for (int32_t tx = 0; tx <= lastX; ++tx) {
      const TTC* s = image.GetTile(tx, ty);
      TTC* d = work.GetTile(tx, ty);
      if (s && d) CopyTile(*s, *d);
      missing |= s && !d;
    }
  // Tiles the image lacks: filled with the background they are what CompactRect frees. Its
  // narrowest reach is 2 x 2 tiles, so the corner is chosen that spares kept background tiles
  // where one does; those it frees anyway the copy below makes again.
  const uint32_t back = image.BackColour();
  auto spoils = [&](int32_t x, int32_t y) {
    const TTC* d = work.GetTile(x, y);
    return d && image.GetTile(x, y) && d->IsUniform(back);
  };
  for (int32_t ty = 0; ty <= lastY; ++ty)
    for (int32_t tx = 0; tx <= lastX; ++tx) {
      if (image.GetTile(tx, ty) || !work.GetTile(tx, ty)) continue;
      work.FillRect(tx * kSide, ty * kSide, kSide, kSide, back);
      // A rectangle of one pixel at tile column c reaches columns c-1 and c (only 0 at c = 0).
      int32_t bestX = tx, bestY = ty, least = 4;
      for (int32_t cy : {ty, ty + 1})
        for (int32_t cx : {tx, tx + 1}) {
          int32_t n = 0;
          for (int32_t y = std::max(cy - 1, 0); y <= cy; ++y)
            for (int32_t x = std::max(cx - 1, 0); x <= cx; ++x) n += (x != tx || y != ty) && spoils(x, y);
          if (n < least) least = n, bestX = cx, bestY = cy;
        }
      work.CompactRect(bestX * kSide, bestY * kSide, 1, 1);
      missing = true;
    }
  if (!missing) return;
  for (int32_t ty = 0; ty <= lastY; ++ty)
    for (int32_t tx = 0; tx <= lastX; ++tx) {
      const TTC* s = image.GetTile(tx, ty);
      if (!s || work.GetTile(tx, ty)) continue;
      work.EnsureTileAt(tx, ty);
      if (TTC* d = work.GetTile(tx, ty)) CopyTile(*s, *d);
    }
}

bool IsZeroPart(const TChannel& tile, int32_t w, int32_t h) {
  for (int32_t y = 0; y < h; ++y) {
    const uint8_t* row = tile.Row(y);
    if (w == kSide) {
      uint64_t word[kSide / 8];
      std::memcpy(word, row, sizeof word);
      uint64_t any = 0;
      for (uint64_t v : word) any |= v;
      if (any) return false;
    } else {
      for (int32_t x = 0; x < w; ++x)
        if (row[x]) return false;
    }
  }
  return true;
}

// mask.ChannelFill(0), skipping the tiles whose part inside the mask is already all zero.
void ClearMask(TBlockChannel& mask) {
  const int32_t W = mask.Width(), H = mask.Height();
  if (W <= 0 || H <= 0) return;
  // ChannelFill walks the pixels of the mask, not the whole grid: the same tiles here.
  const int32_t lastX = std::min((W - 1) / kSide, TBlock::kGridSide - 1);
  const int32_t lastY = std::min((H - 1) / kSide, TBlock::kGridSide - 1);
  for (int32_t ty = 0; ty <= lastY; ++ty)
    for (int32_t tx = 0; tx <= lastX; ++tx) {
      const int32_t w = std::min(kSide, W - tx * kSide), h = std::min(kSide, H - ty * kSide);
      const TChannel* t = mask.GetTile(tx, ty);
      if (t && IsZeroPart(*t, w, h)) continue;
      mask.ChannelFillRect(tx * kSide, ty * kSide, w, h, 0);
    }
}
}  // namespace

TFlowImage::TFlowImage() {
  for (int32_t i = 0; i < kFlowSlots; ++i) {
    image_[i] = std::make_unique<TBlockImage>();
    pending_[i].assign(size_t(TBlock::kGridSide) * TBlock::kGridSide, 0);
    mask_[i] = std::make_unique<TBlockChannel>();
    stamp_[i] = -1;
    slot_layer_[i] = -1;
    locked_[i] = 0;
  }
}

TFlowImage::~TFlowImage() = default;

void TFlowImage::SetSlotCount(int32_t n) {
  if (n >= 1 && n <= kFlowSlots) slot_count_ = n;
}

int32_t TFlowImage::SlotOf(int32_t layer) const {
  if (layer < 0) return -1;
  int32_t found = -1;
  for (int32_t i = 0; i < slot_count_; ++i)
    if (slot_layer_[i] == layer) found = i;
  return found;
}

void TFlowImage::Acquire(int32_t layer, const TBlockImage* image) {
  if (!image || layer < 0 || SlotOf(layer) >= 0) return;
  // The unlocked slot with the lowest stamp; the lower slot number among equal stamps.
  int32_t pick = -1;
  for (int32_t i = 0; i < slot_count_; ++i) {
    if (locked_[i]) continue;
    if (pick < 0 || stamp_[i] < stamp_[pick]) pick = i;
  }
  if (pick < 0) return;
  TBlockImage& work = *image_[pick];
  TBlockChannel& mask = *mask_[pick];
  if (!plain_path_ && &work != image) {
    if (work.Width() != image->Width() || work.Height() != image->Height()) {
      work.SetSize(image->Width(), image->Height());
      mask.SetSize(image->Width(), image->Height());
    }
    Defer(pick, *image, kLoadImage | kClearMask);
  } else if (work.Width() != image->Width() || work.Height() != image->Height()) {
    work.SetSize(image->Width(), image->Height());
    mask.SetSize(image->Width(), image->Height());
    image->CloneTo(work);
    mask.ChannelFill(0);
  } else if (&work != image) {
    ReloadImage(*image, work);
    ClearMask(mask);
  } else {
    ClearMask(mask);
  }
  source_[pick] = image;
  slot_layer_[pick] = layer;
  locked_[pick] = 0;
  stamp_[pick] = clock_;
  clock_ += 1;
}

TBlockImage* TFlowImage::FindImage(int32_t layer) {
  const int32_t slot = SlotOf(layer);
  if (slot < 0) return nullptr;
  LoadAll(slot);
  return image_[slot].get();
}

TBlockChannel* TFlowImage::FindMask(int32_t layer) {
  const int32_t slot = SlotOf(layer);
  if (slot < 0) return nullptr;
  LoadAll(slot);
  return mask_[slot].get();
}

TBlockImage* TFlowImage::FindImageIn(int32_t layer, int32_t x, int32_t y, int32_t w, int32_t h) {
  const int32_t slot = SlotOf(layer);
  if (slot < 0) return nullptr;
  LoadRect(slot, x, y, w, h);
  return image_[slot].get();
}

TBlockChannel* TFlowImage::FindMaskIn(int32_t layer, int32_t x, int32_t y, int32_t w, int32_t h) {
  const int32_t slot = SlotOf(layer);
  if (slot < 0) return nullptr;
  LoadRect(slot, x, y, w, h);
  return mask_[slot].get();
}

const TBlockImage& TFlowImage::Image(int32_t slot) const {
  const_cast<TFlowImage*>(this)->LoadAll(slot & 3);
  return *image_[slot & 3];
}

const TBlockChannel& TFlowImage::Mask(int32_t slot) const {
  const_cast<TFlowImage*>(this)->LoadAll(slot & 3);
  return *mask_[slot & 3];
}

void TFlowImage::SetPlainPath(bool on) {
  if (on)
    for (int32_t i = 0; i < kFlowSlots; ++i) LoadAll(i);
  plain_path_ = on;
}

void TFlowImage::Defer(int32_t slot, const TBlockImage& block, uint8_t what) {
  source_[slot] = &block;
  image_[slot]->SetBackColour(block.BackColour());
  DeferRect(slot, 0, 0, (LastGridTile(block.Width()) + 1) * kSide, (LastGridTile(block.Height()) + 1) * kSide, what);
}

void TFlowImage::DeferRect(int32_t slot, int32_t x, int32_t y, int32_t w, int32_t h, uint8_t what) {
  const TBlockImage& work = *image_[slot];
  if (w <= 0 || h <= 0) return;
  const int32_t lastX = LastGridTile(work.Width()), lastY = LastGridTile(work.Height());
  const int64_t tx0 = std::max<int64_t>(int64_t{x} >> 6, 0), ty0 = std::max<int64_t>(int64_t{y} >> 6, 0);
  const int64_t tx1 = std::min<int64_t>((int64_t{x} + w - 1) >> 6, lastX);
  const int64_t ty1 = std::min<int64_t>((int64_t{y} + h - 1) >> 6, lastY);
  std::vector<uint8_t>& p = pending_[slot];
  for (int64_t ty = ty0; ty <= ty1; ++ty)
    for (int64_t tx = tx0; tx <= tx1; ++tx) {
      uint8_t& f = p[size_t(ty * TBlock::kGridSide + tx)];
      pending_count_[slot] += f ? 0 : 1;
      f |= what;
    }
}

void TFlowImage::LoadTile(int32_t slot, int32_t tx, int32_t ty, uint8_t what) {
  TBlockImage& work = *image_[slot];
  TBlockChannel& mask = *mask_[slot];
  if (what & kLoadImage) {
    const TTC* s = source_[slot] ? source_[slot]->GetTile(tx, ty) : nullptr;
    if (s) {
      if (!work.GetTile(tx, ty)) work.EnsureTileAt(tx, ty);
      if (TTC* d = work.GetTile(tx, ty)) CopyTile(*s, *d);
    } else {
      work.FreeTile(tx, ty);
    }
  }
  if (!(what & kClearMask)) return;
  // The mask is cleared over its own pixels, as a fill of the whole mask clears it.
  const int32_t W = mask.Width(), H = mask.Height();
  if (tx * kSide >= W || ty * kSide >= H) return;
  const int32_t w = std::min(kSide, W - tx * kSide), h = std::min(kSide, H - ty * kSide);
  TChannel* m = mask.GetTile(tx, ty);
  if (!m) {
    mask.EnsureChannelTileAt(tx, ty);
    return;
  }
  for (int32_t y = 0; y < h; ++y) std::memset(m->Row(y), 0, size_t(w));
}

void TFlowImage::Load(int32_t slot, int32_t tx0, int32_t ty0, int32_t tx1, int32_t ty1) {
  std::vector<uint8_t>& p = pending_[slot];
  for (int32_t ty = ty0; ty <= ty1; ++ty)
    for (int32_t tx = tx0; tx <= tx1; ++tx) {
      uint8_t& f = p[size_t(ty) * TBlock::kGridSide + size_t(tx)];
      if (!f) continue;
      LoadTile(slot, tx, ty, f);
      f = 0;
      pending_count_[slot] -= 1;
    }
}

void TFlowImage::LoadAll(int32_t slot) {
  if (pending_count_[slot] == 0) return;
  Load(slot, 0, 0, TBlock::kGridSide - 1, TBlock::kGridSide - 1);
}

void TFlowImage::LoadRect(int32_t slot, int32_t x, int32_t y, int32_t w, int32_t h) {
  if (pending_count_[slot] == 0) return;
  const TBlockImage& work = *image_[slot];
  const int32_t lastX = LastGridTile(work.Width()), lastY = LastGridTile(work.Height());
  if (w <= 0 || h <= 0) return;
  // Tile indices clamped into the grid: beyond the edge, reads clamp to the edge tiles.
  const int32_t tx0 = static_cast<int32_t>(std::clamp<int64_t>(int64_t{x} >> 6, 0, lastX));
  const int32_t ty0 = static_cast<int32_t>(std::clamp<int64_t>(int64_t{y} >> 6, 0, lastY));
  const int32_t tx1 = static_cast<int32_t>(std::clamp<int64_t>((int64_t{x} + w - 1) >> 6, 0, lastX));
  const int32_t ty1 = static_cast<int32_t>(std::clamp<int64_t>((int64_t{y} + h - 1) >> 6, 0, lastY));
  Load(slot, tx0, ty0, tx1, ty1);
}

void TFlowImage::CopyRectTo(int32_t layer, const TBlockImage& block, int32_t x, int32_t y, int32_t w, int32_t h) {
  const int32_t slot = SlotOf(layer);
  if (slot < 0) return;
  TBlockImage& work = *image_[slot];
  if (plain_path_ || source_[slot] != &block || work.Width() != block.Width() || work.Height() != block.Height()) {
    CopyTo(layer, block);
    return;
  }
  work.SetBackColour(block.BackColour());
  DeferRect(slot, x, y, w, h, kLoadImage);
}

void TFlowImage::FollowCompaction(int32_t layer, const TBlockImage& block) {
  const int32_t slot = SlotOf(layer);
  if (slot < 0 || plain_path_ || source_[slot] != &block) return;
  const TBlockImage& work = *image_[slot];
  const int32_t lastX = LastGridTile(work.Width()), lastY = LastGridTile(work.Height());
  std::vector<uint8_t>& p = pending_[slot];
  for (int32_t ty = 0; ty <= lastY; ++ty)
    for (int32_t tx = 0; tx <= lastX; ++tx) {
      uint8_t& f = p[size_t(ty) * TBlock::kGridSide + size_t(tx)];
      if ((f & kLoadImage) || (work.GetTile(tx, ty) != nullptr) == (block.GetTile(tx, ty) != nullptr)) continue;
      pending_count_[slot] += f ? 0 : 1;
      f |= kLoadImage;
    }
}

void TFlowImage::SetLocked(int32_t layer, uint8_t flag) {
  const int32_t slot = SlotOf(layer);
  if (slot >= 0) locked_[slot] = flag;
}

bool TFlowImage::IsLocked(int32_t layer) const {
  const int32_t slot = SlotOf(layer);
  return slot >= 0 && locked_[slot] != 0;
}

void TFlowImage::CopyTo(int32_t layer, const TBlockImage& block) {
  const int32_t slot = SlotOf(layer);
  if (slot < 0) return;
  TBlockImage& work = *image_[slot];
  if (!plain_path_) {
    // The mask is left as it is, as a clone of the image leaves it.
    if (work.Width() != block.Width() || work.Height() != block.Height()) {
      LoadAll(slot);
      work.SetSize(block.Width(), block.Height());
      mask_[slot]->SetSize(block.Width(), block.Height());
      mask_[slot]->ChannelFill(0);
    }
    source_[slot] = &block;
    work.SetBackColour(block.BackColour());
    Defer(slot, block, kLoadImage);
    return;
  }
  if (work.Width() != block.Width() || work.Height() != block.Height()) {
    work.SetSize(block.Width(), block.Height());
    mask_[slot]->SetSize(block.Width(), block.Height());
    mask_[slot]->ChannelFill(0);
    block.CloneTo(work);
  } else if (&work != &block) {
    ReloadImage(block, work);
  }
}

void TFlowImage::Reset() {
  for (int32_t i = 0; i < kFlowSlots; ++i) {
    source_[i] = nullptr;
    std::fill(pending_[i].begin(), pending_[i].end(), uint8_t{0});
    pending_count_[i] = 0;
    slot_layer_[i] = -1;
    locked_[i] = 0;
    image_[i]->SetSize(kFreeSlotSide, kFreeSlotSide);
    mask_[i]->SetSize(kFreeSlotSide, kFreeSlotSide);
  }
}

int64_t TFlowImage::MemoryUsed() const {
  int64_t sum = 0;
  for (int32_t i = 0; i < slot_count_; ++i) {
    if (pending_count_[i] == 0) {
      sum += image_[i]->MemoryUsed();
      continue;
    }
    // What the slot holds once loaded: a tile still to load counts as the layer has it.
    const TBlockImage& work = *image_[i];
    int64_t tiles = 0;
    for (int32_t ty = 0; ty < TBlock::kGridSide; ++ty)
      for (int32_t tx = 0; tx < TBlock::kGridSide; ++tx) {
        const bool load = pending_[i][size_t(ty) * TBlock::kGridSide + size_t(tx)] & kLoadImage;
        tiles += (load ? source_[i] && source_[i]->GetTile(tx, ty) : work.GetTile(tx, ty) != nullptr) ? 1 : 0;
      }
    sum += tiles * TBlock::kTileMemory;
  }
  return sum;
}
