#pragma once
// One layer of a paper: a tiled image of the paper's size, visibility, opacity, blending kind,
// a small thumbnail and an undo history of 8 steps held in a ring of image blocks.
// No operation here records events or pushes undo steps by itself: the layer manager pushes
// first, then applies.
#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "engine/Block.h"
#include "engine/TrueCnvs.h"
#include "engine/Types.h"

struct TSelectSlot;

// The kind byte, also stored in events and in the picture file.
using TLayerKind = uint8_t;
constexpr TLayerKind lkMultiply = 0;  // cleared white, composited by multiplication
constexpr TLayerKind lkAdd = 1;       // cleared black, saturating add
constexpr TLayerKind lkSubtract = 2;  // cleared black, saturating subtract
constexpr TLayerKind lkArgb = 3;      // cleared black, never composited, kept with its alpha

// A kind byte that no writer makes (above 3) comes only from a crafted stream; it is taken as
// lkArgb, which every part of the program can hold and store.
inline TLayerKind SanitizeLayerKind(uint32_t kind) { return kind <= lkArgb ? static_cast<TLayerKind>(kind) : lkArgb; }

// The neutral colour of a kind (alpha 0): white for multiply, black for every other kind.
inline uint32_t LayerClearColor(TLayerKind kind) { return kind == lkMultiply ? 0xFFFFFFu : 0u; }

// Thumbnail size for an image of W x H whose longer side becomes `side`: the short side is
// Trunc(short * (side / long)) + 1 with the ratio in single precision.
void ThumbnailSize(int32_t side, int32_t W, int32_t H, int32_t& tw, int32_t& th);

// Frees the tiles that equal the background. lkArgb layers keep their alpha, so for them a tile
// goes only when all 32 bits of every pixel equal the background; other kinds compare R, G, B.
void CompactLayerImage(TBlockImage& image, TLayerKind kind);
void CompactLayerImageRect(TBlockImage& image, TLayerKind kind, int32_t X, int32_t Y, int32_t W, int32_t H);

// image.StretchRectTo(canvas, X, Y, W, H), byte for byte, summing each source row once per
// destination row instead of once per destination pixel.
void ReduceImageTo(const TBlockImage& image, TTC& canvas, int32_t X, int32_t Y, int32_t W, int32_t H);
inline void ReduceImageTo(const TBlockImage& image, TTC& canvas) {
  ReduceImageTo(image, canvas, 0, 0, canvas.Width(), canvas.Height());
}

constexpr int32_t kUndoSlots = 8;
constexpr int32_t kLayerThumbSide = 46;

class TLayer {
 public:
  explicit TLayer(TLayerKind kind);
  ~TLayer();
  TLayer(const TLayer&) = delete;
  TLayer& operator=(const TLayer&) = delete;

  TBlockImage& Image() { return *image_; }
  const TBlockImage& Image() const { return *image_; }
  // The thumbnail as the redraws asked for so far leave it: a redraw marks the pixels it owes
  // and the read draws them, from pixels that have not changed since (every change of the
  // image is preceded by an undo push, a pop or a compaction, which draw first what it feeds).
  TTC& Thumbnail() {
    SettleThumbnail();
    return *thumbnail_;
  }
  const TTC& Thumbnail() const {
    SettleThumbnail();
    return *thumbnail_;
  }
  // Draws every thumbnail pixel a redraw still owes.
  void SettleThumbnail() const;
  // Thumbnail pixels a redraw still owes, for tests and tools.
  int64_t ThumbnailPixelsOwed() const { return thumb_pending_count_; }
  uint8_t Visible() const { return visible_; }
  uint8_t Opacity() const { return opacity_; }
  TLayerKind Kind() const { return kind_; }
  int32_t UndoTop() const { return undo_top_; }
  int32_t UndoSteps() const { return undo_steps_; }
  const TBlockImage& Undo(int32_t slot) const { return *undo_[slot & 7]; }
  TPoint UndoOrigin(int32_t slot) const { return undo_origin_[slot & 7]; }

  uint32_t ClearColor() const { return LayerClearColor(kind_); }
  void SetVisible(uint8_t v) { visible_ = v; }
  void SetOpacity(uint8_t v) { opacity_ = v; }
  // Keeps the visible pixels: the old background becomes real tiles, the new one is freed.
  void SetKind(TLayerKind kind);
  // Image resized (tiles freed), thumbnail resized, undo history cleared. Sides outside
  // 0..kMaxPaperSide are refused (false, nothing changed).
  bool SetSize(int32_t W, int32_t H);
  void ResizeThumbnail();
  void UpdateThumbnail();
  // Like ReduceImageTo(Image(), Thumbnail()): every thumbnail pixel redrawn, the debt kept.
  void RedrawThumbnail();
  void UpdateThumbnailRect(int32_t X, int32_t Y, int32_t W, int32_t H);
  // The thumbnail as UpdateThumbnail would leave it, after a change of pixels within the
  // rectangle only: drawn where the rectangle feeds it and where partial redraws since the
  // last whole one fell short.
  void UpdateThumbnailAfter(int32_t X, int32_t Y, int32_t W, int32_t H);
  int64_t MemorySize() const;
  int64_t UndoMemorySize() const;

  void ClearUndo();
  void PushUndo();
  // The rectangle is first intersected with the layer; an empty intersection still takes a
  // step (holding nothing), so the order of the ring's steps is the order of the pushes.
  void PushUndoRect(int32_t X, int32_t Y, int32_t W, int32_t H);
  // Restores the newest step into the layer and into the working image (when there is one)
  // and gives its rectangle. With no step held nothing happens and the result is false.
  bool PopUndo(TBlockImage* work, int32_t& X, int32_t& Y, int32_t& W, int32_t& H);

  // Copies this layer completely into dest (same size).
  void Assign(TLayer& dest) const;
  void SetUndoOrigin(int32_t slot, int32_t X, int32_t Y) { undo_origin_[slot & 7] = TPoint{X, Y}; }
  void SetUndoTop(int32_t v) { undo_top_ = v & 7; }
  void SetUndoSteps(int32_t v) { undo_steps_ = v < 0 ? 0 : (v > kUndoSlots ? kUndoSlots : v); }

  // The four below neither compact nor touch the thumbnail (except Clear); the manager does.
  void Clear();
  void FillSelection(const TSelectSlot& slot, uint32_t colour);
  void FillRect(int32_t X, int32_t Y, int32_t W, int32_t H, uint32_t colour);
  void ClearRect(int32_t X, int32_t Y, int32_t W, int32_t H);

  void Offset(int32_t dx, int32_t dy);
  void Mirror();
  void UpsideDown();
  void Rotate180();
  void NegaPosi();

  // Compaction by the rule of this layer's kind. A freed tile may have held alpha that its
  // background lacks, which the thumbnail averages: its area is owed to the next redraw that
  // stands for a whole one.
  void Compact();

 private:
  // Thumbnail pixels x0..x1 x y0..y1 (inside it) to be drawn at the next read.
  void MarkRedraw(int64_t x0, int64_t x1, int64_t y0, int64_t y1);
  // The thumbnail rectangle ReduceImageTo(X, Y, W, H) draws, marked for the next read.
  void MarkReduce(int32_t X, int32_t Y, int32_t W, int32_t H);
  // Draws the pixels marked for redraw within x0..x1 x y0..y1, or those the image rectangle
  // feeds, before those image pixels change.
  void SettleThumbnailBox(int32_t x0, int32_t x1, int32_t y0, int32_t y1) const;
  void SettleThumbnailFed(int32_t X, int32_t Y, int32_t W, int32_t H) const;
  // Owes the thumbnail the pixels that the image rectangle feeds.
  void OweThumbnail(int32_t X, int32_t Y, int32_t W, int32_t H);
  // Owes the thumbnail the areas of the tiles of tx0..tx1 x ty0..ty1 present before (had, in
  // grid order) and gone now.
  void OweFreedTiles(const std::vector<uint8_t>& had, int32_t tx0, int32_t ty0, int32_t tx1, int32_t ty1);
  // The next ring slot, emptied and set up for a step of W x H at (X, Y).
  TBlockImage& NextUndoSlot(int32_t X, int32_t Y, int32_t W, int32_t H);

  std::unique_ptr<TBlockImage> image_;
  uint8_t visible_ = 1;
  uint8_t opacity_ = 255;
  TLayerKind kind_ = lkMultiply;
  std::unique_ptr<TTC> thumbnail_;
  int32_t undo_top_ = 0;
  int32_t undo_steps_ = 0;
  std::array<std::unique_ptr<TBlockImage>, kUndoSlots> undo_;
  std::array<TPoint, kUndoSlots> undo_origin_{};
  // The thumbnail pixels that may differ from a whole redraw (1), or all of them.
  std::vector<uint8_t> thumb_debt_;
  bool thumb_debt_all_ = true;
  // Thumbnail pixels a redraw asked for and no read has drawn yet (1), and their count.
  mutable std::vector<uint8_t> thumb_pending_;
  mutable int64_t thumb_pending_count_ = 0;
};
