#pragma once
// The layer stack of one paper: up to 24 layers ordered bottom to top, the paper colour, the
// active layer and the cache of working copies in which strokes are painted. Every change of
// a layer's pixels, of the stack order or of a layer's attributes goes through here, and keeps
// a layer and its working copy consistent.
//
// Every operation that takes a layer index does nothing (and gives an empty rectangle, false
// or no object) for an index outside 0..LastIndex, so a damaged event stream stays harmless.
#include <array>
#include <cstdint>
#include <memory>

#include "engine/Block.h"
#include "engine/Flow.h"
#include "engine/Layer.h"
#include "engine/SelectMng.h"
#include "engine/TrueCnvs.h"
#include "engine/Types.h"

constexpr int32_t kMaxLayers = 24;

class TLayerMng {
 public:
  // A paper side is 1..kMaxPaperSide.
  static bool IsValidSize(int32_t width, int32_t height);
  // A stack of one cleared lkMultiply layer, active; no stack (nullptr) for a size that is
  // not valid.
  static std::unique_ptr<TLayerMng> Create(int32_t width, int32_t height);
  ~TLayerMng();
  TLayerMng(const TLayerMng&) = delete;
  TLayerMng& operator=(const TLayerMng&) = delete;

  // Stores the paper size only (the paper resizes the layers itself); false, nothing stored,
  // for a size that is not valid.
  bool SetSize(int32_t width, int32_t height);
  // The reference path of the tests: every pixel operation copies the whole layer into its
  // working copy and redraws the whole thumbnail, as the plain algorithms say.
  void SetPlainPath(bool on);
  bool PlainPath() const { return plain_path_; }
  void SetPaperColor(uint32_t colour) { paper_color_ = colour; }

  uint32_t PaperColor() const { return paper_color_; }
  int32_t Width() const { return width_; }
  int32_t Height() const { return height_; }
  int32_t LastIndex() const { return last_index_; }
  int32_t ActiveIndex() const { return active_index_; }
  TFlowImage& Flow() { return *flow_; }
  const TFlowImage& Flow() const { return *flow_; }
  bool IsIndex(int32_t i) const { return i >= 0 && i <= last_index_; }

  // Queries.
  bool CanAddLayer() const { return last_index_ <= kMaxLayers - 2; }
  bool CanDeleteLayer() const { return last_index_ != 0; }
  bool CanCombineLower(int32_t i) const { return IsIndex(i) && i != 0; }
  // Counts the visible layers; kind and first are those of the lowest visible one (first -1
  // when none is visible). True when at least two are visible, all of one kind, and that kind
  // is one that merging can draw (multiply, add or subtract).
  bool CanCombineVisible(TLayerKind& kind, int32_t& first, int32_t& count) const;
  bool CanCombineVisible() const;
  bool CanUndo(int32_t i) const;
  TLayer* Layers(int32_t i) const { return IsIndex(i) ? layers_[i].get() : nullptr; }
  TBlockImage* LayerImage(int32_t i) const { return IsIndex(i) ? &layers_[i]->Image() : nullptr; }
  // The layer's working copy; none when no slot of the cache holds the layer.
  TBlockImage* FlowImage(int32_t i) { return IsIndex(i) ? flow_->FindImage(i) : nullptr; }
  TBlockChannel* FlowMask(int32_t i) { return IsIndex(i) ? flow_->FindMask(i) : nullptr; }
  // The same, for use within a rectangle only (see TFlowImage::FindImageIn).
  TBlockImage* FlowImageIn(int32_t i, int32_t x, int32_t y, int32_t w, int32_t h) {
    return IsIndex(i) ? flow_->FindImageIn(i, x, y, w, h) : nullptr;
  }
  TBlockChannel* FlowMaskIn(int32_t i, int32_t x, int32_t y, int32_t w, int32_t h) {
    return IsIndex(i) ? flow_->FindMaskIn(i, x, y, w, h) : nullptr;
  }
  TLayerKind LayerKind(int32_t i) const { return IsIndex(i) ? layers_[i]->Kind() : lkMultiply; }
  uint8_t LayerOpacity(int32_t i) const { return IsIndex(i) ? layers_[i]->Opacity() : 0; }
  bool LayerVisible(int32_t i) const { return IsIndex(i) && layers_[i]->Visible() != 0; }
  TTC* LayerThumbnail(int32_t i) const { return IsIndex(i) ? &layers_[i]->Thumbnail() : nullptr; }
  int64_t MemorySize() const;
  int64_t UndoMemorySize() const;

  // Stack operations.
  void SetActiveLayer(int32_t i);
  // A kind byte above 3 makes an lkArgb layer.
  void AddLayer(TLayerKind kind);
  // A copy of the ACTIVE layer on top (i only names the thumbnail redrawn: recorders pass
  // the active layer).
  void DuplicateLayer(int32_t i);
  void DeleteLayer(int32_t i);
  void MoveLayer(int32_t from, int32_t to);
  bool CombineLower(int32_t i);
  bool CombineVisible();

  // Per-layer attributes.
  void SetVisible(int32_t i, uint8_t v);  // any non-zero byte shows the layer
  void ShowOnly(int32_t i);
  void SetOpacity(int32_t i, uint8_t opacity);
  void ChangeOpacity(int32_t i, uint8_t opacity) { SetOpacity(i, opacity); }
  void SetLayerKind(int32_t i, TLayerKind kind);

  // Pixel operations on one layer; none pushes an undo step (callers do).
  void UpsideDown(int32_t i);
  void Mirror(int32_t i);
  void NegaPosi(int32_t i);
  void Rotate180(int32_t i);
  void OffsetLayer(int32_t i, int32_t dx, int32_t dy);
  void ClearLayer(int32_t i);
  void FillSelection(const TSelectSlot& selection, int32_t i, uint32_t colour);
  void ClearRect(int32_t i, int32_t x, int32_t y, int32_t w, int32_t h);
  void FillRect(int32_t i, int32_t x, int32_t y, int32_t w, int32_t h, uint32_t colour);
  // Rasterise the polygon into the selection's current slot, fill the layer through it (with
  // the layer's background for a clear) and clear that slot again.
  void ClearPolygon(int32_t i, TSelectMng& selection, const TPoint* points, int32_t count);
  void FillPolygon(int32_t i, TSelectMng& selection, uint32_t colour, const TPoint* points, int32_t count);
  // Replaces the whole layer by the bitmap (from the top-left corner; the rest of the layer
  // gets the background colour). It saves a whole-layer undo step itself first, so an undo
  // gives back what lay outside the bitmap as well: callers push no step of their own.
  void SetLayerBitmap(int32_t i, const TTC& bitmap);

  // Filters on every visible layer.
  void UpsideDownVisible();
  void MirrorVisible();
  void NegaPosiVisible();
  void Rotate180Visible();

  // Undo.
  void PushUndo(int32_t i);
  void PushUndoRect(int32_t i, int32_t x, int32_t y, int32_t w, int32_t h);
  // The restored rectangle, empty when there was nothing to undo.
  TRect Undo(int32_t i);
  void ClearUndo(int32_t i);
  void ClearAllUndo();

  // Compacts the working copy of i and the layer image, then redraws the whole thumbnail.
  void LayerChanged(int32_t i);
  // Working copies discarded, layer i compacted and made active (after whole-paper changes).
  void RefreshFlow(int32_t i);

 private:
  TLayerMng(int32_t width, int32_t height);
  void CreateLayer(int32_t i, TLayerKind kind);
  // The compaction of LayerChanged: the working copy of i and the layer image.
  void CompactAfterChange(int32_t i);
  void CopyLayer(int32_t from, int32_t to);
  // Moves layer `from` to index `to`, the layers in between one place toward `from`; each
  // layer that changes place is compacted, as a copy into its new place would leave it.
  void ShiftLayer(int32_t from, int32_t to);
  void BlendByKind(const TLayer& layer, TTC& canvas) const;
  int32_t VisibleCount() const;
  // The frame of a pixel operation; one that changes only the rectangle (x, y, w, h) says so,
  // and the working copy and the thumbnail follow it there.
  template <typename Op>
  void PixelOperation(int32_t i, Op op);
  template <typename Op>
  void RectOperation(int32_t i, int32_t x, int32_t y, int32_t w, int32_t h, Op op);
  template <typename Op>
  void VisibleFilter(Op op);

  bool plain_path_ = false;
  uint32_t paper_color_ = 0xFFFFFF;
  int32_t width_ = 0;
  int32_t height_ = 0;
  int32_t last_index_ = 0;
  int32_t active_index_ = 0;
  std::unique_ptr<TFlowImage> flow_;
  std::array<std::unique_ptr<TLayer>, kMaxLayers> layers_;
};
