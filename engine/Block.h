#pragma once
// Sparse tiled images: a grid of 100 x 100 tiles of 64 x 64 pixels, a tile existing only
// after something was written into it. TBlockImage holds 32-bit canvas tiles (layer pixels,
// undo copies, working images), TBlockChannel 8-bit tiles (selection and coverage masks).
// An absent tile reads as the background colour (image) or 0 (mask).
#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "engine/Channel.h"
#include "engine/TrueCnvs.h"
#include "engine/Types.h"

class TBlock {
 public:
  static constexpr int32_t kTileSide = 64;
  static constexpr int32_t kGridSide = 100;
  static constexpr int32_t kTileMemory = kTileSide * kTileSide * 4;

  // One tile's share of a rectangle walk (RectTilePart).
  struct TTilePart {
    int32_t TX = 0, TY = 0;                      // tile coordinates
    int32_t SubX = 0, SubY = 0, SubW = 0, SubH = 0;  // the part, tile-local
    int32_t OffX = 0, OffY = 0;                  // the part's offset from the rectangle's origin
  };

  TBlock(const TBlock&) = delete;
  TBlock& operator=(const TBlock&) = delete;

  // Sizes are kept within 0..kMaxPaperSide so that the image always fits the grid.
  void SetSize(int32_t W, int32_t H);
  void FreeAll();
  // Frees tile (tx, ty) when it is present.
  void FreeTile(int32_t tx, int32_t ty);
  // Hands the memory of freed tiles back to the system once much has gathered: the heap keeps
  // it otherwise, in holes between the tiles still in use. Costs nothing until then.
  static void ReleaseFreedTiles();
  void SetBackColour(uint32_t Colour) { FBackColour = Colour; }
  uint32_t BackColour() const { return FBackColour; }
  int32_t Width() const { return FWidth; }
  int32_t Height() const { return FHeight; }

  static int32_t TileIndex(int32_t v) { return v >> 6; }  // floor division, also below 0
  static int32_t TileOffset(int32_t v) { return v & 63; }
  bool IsTileInGrid(int32_t tx, int32_t ty) const;
  bool HasTile(int32_t x, int32_t y) const;
  void TilesBounds(int32_t& X, int32_t& Y, int32_t& W, int32_t& H) const;
  int64_t MemoryUsed() const;
  int32_t TileCount() const;

  static int32_t TileSpanCount(int32_t v, int32_t len);
  static int64_t RectTileCount(int32_t X, int32_t Y, int32_t W, int32_t H);
  static TTilePart RectTilePart(int32_t X, int32_t Y, int32_t W, int32_t H, int64_t k);


 protected:
  TBlock() = default;
  ~TBlock();
  // Frees one tile slot, counting it for ReleaseFreedTiles.
  static void Drop(std::unique_ptr<TChannel>& tile);

  // The pixel rectangle covered by valid tiles: 0 .. GridRight()-1, 0 .. GridBottom()-1.
  int32_t GridRight() const;
  int32_t GridBottom() const;
  // Intersects (X, Y, W, H) with the valid tiles; false when nothing is left.
  bool ClipToGrid(int32_t& X, int32_t& Y, int32_t& W, int32_t& H) const;
  // Calls f(part) for every tile part of a rectangle already clipped to the grid.
  template <class F> static void WalkRect(int32_t X, int32_t Y, int32_t W, int32_t H, F f);

  static int32_t Slot(int32_t tx, int32_t ty) { return ty * kGridSide + tx; }
  uint32_t FBackColour = 0xFFFFFF;
  int32_t FWidth = 0;
  int32_t FHeight = 0;
  // The tile slots, made on the first write: a block without tiles (most undo slots) costs no
  // slot memory, and a fresh one no page faults. Reading an unmade grid gives empty slots.
  class TTileGrid {
   public:
    using TSlot = std::unique_ptr<TChannel>;
    static constexpr size_t kCount = size_t(kGridSide) * kGridSide;
    const TSlot& operator[](size_t i) const { return slots_ ? slots_[i] : Empty(); }
    TSlot& operator[](size_t i) {
      if (!slots_) slots_ = std::make_unique<TSlot[]>(kCount);
      used_ = std::max(used_, i + 1);
      return slots_[i];
    }
    // Walks stop after the last slot ever handed out for writing: a small block (an undo slot
    // of a stroke's rectangle) has its tiles in the first rows of the grid.
    TSlot* begin() { return slots_.get(); }
    TSlot* end() { return slots_ ? slots_.get() + used_ : nullptr; }
    const TSlot* begin() const { return slots_.get(); }
    const TSlot* end() const { return slots_ ? slots_.get() + used_ : nullptr; }
    bool Made() const { return slots_ != nullptr; }
    void Unmake() {  // the slots must be empty
      slots_.reset();
      used_ = 0;
    }
    void swap(TTileGrid& other) noexcept {
      slots_.swap(other.slots_);
      std::swap(used_, other.used_);
    }

   private:
    static const TSlot& Empty() {
      static const TSlot none;
      return none;
    }
    std::unique_ptr<TSlot[]> slots_;
    size_t used_ = 0;
  };
  TTileGrid Tiles;
};

class TBlockChannel;

class TBlockImage : public TBlock {
 public:
  TBlockImage() = default;
  ~TBlockImage() = default;

  TTC* GetTile(int32_t tx, int32_t ty) const;
  bool EnsureTile(int32_t x, int32_t y) { return EnsureTileAt(TileIndex(x), TileIndex(y)); }
  bool EnsureTileAt(int32_t tx, int32_t ty) { return MakeTile(tx, ty, true) != nullptr; }
  // Tile (tx, ty), a new one with its pixels undefined: the caller writes every one of them.
  TTC* MakeTileUnfilled(int32_t tx, int32_t ty) { return MakeTile(tx, ty, false); }
  void AllocateAll();
  void Compact();
  void CompactRect(int32_t X, int32_t Y, int32_t W, int32_t H);

  uint32_t GetPixel(int32_t x, int32_t y) const;
  void SetPixel(int32_t x, int32_t y, uint32_t Colour);
  void BlendPixel(int32_t x, int32_t y, uint32_t Colour, uint8_t Alpha);
  void GetPixelChannels(int32_t x, int32_t y, bool Accumulate, uint32_t& A, uint32_t& R, uint32_t& G,
                        uint32_t& B) const;
  void Fill(uint32_t Colour) { FillRect(0, 0, FWidth, FHeight, Colour); }
  void FillRect(int32_t X, int32_t Y, int32_t W, int32_t H, uint32_t Colour);

  // Rendering into a canvas; the whole-block forms take (0, 0, Width, Height).
  void DrawTo(TTC& Canvas, int32_t DstX, int32_t DstY) const { DrawRectTo(Canvas, 0, 0, FWidth, FHeight, DstX, DstY); }
  void DrawRectTo(TTC& Canvas, int32_t SrcX, int32_t SrcY, int32_t W, int32_t H, int32_t DstX, int32_t DstY) const;
  void MultiplyTo(TTC& Canvas, int32_t DstX, int32_t DstY, uint8_t Opacity) const {
    MultiplyRectTo(Canvas, 0, 0, FWidth, FHeight, DstX, DstY, Opacity);
  }
  void MultiplyRectTo(TTC& Canvas, int32_t SrcX, int32_t SrcY, int32_t W, int32_t H, int32_t DstX, int32_t DstY,
                      uint8_t Opacity) const;
  void AddTo(TTC& Canvas, int32_t DstX, int32_t DstY, uint8_t Opacity) const {
    AddRectTo(Canvas, 0, 0, FWidth, FHeight, DstX, DstY, Opacity);
  }
  void AddRectTo(TTC& Canvas, int32_t SrcX, int32_t SrcY, int32_t W, int32_t H, int32_t DstX, int32_t DstY,
                 uint8_t Opacity) const;
  void SubtractTo(TTC& Canvas, int32_t DstX, int32_t DstY, uint8_t Opacity) const {
    SubtractRectTo(Canvas, 0, 0, FWidth, FHeight, DstX, DstY, Opacity);
  }
  void SubtractRectTo(TTC& Canvas, int32_t SrcX, int32_t SrcY, int32_t W, int32_t H, int32_t DstX, int32_t DstY,
                      uint8_t Opacity) const;
  void StretchTo(TTC& Canvas) const { StretchRectTo(Canvas, 0, 0, Canvas.Width(), Canvas.Height()); }
  void StretchRectTo(TTC& Canvas, int32_t X, int32_t Y, int32_t W, int32_t H) const;
  void LoadFromTTC(const TTC& Canvas);
  void PasteFromTTC(const TTC& Canvas, int32_t SrcX, int32_t SrcY, int32_t W, int32_t H, int32_t DstX, int32_t DstY);

  // Block to block.
  void CopyToBlock(TBlockImage& Dst, int32_t DstX, int32_t DstY) const {
    CopyRectToBlock(Dst, 0, 0, FWidth, FHeight, DstX, DstY);
  }
  void CopyRectToBlock(TBlockImage& Dst, int32_t SrcX, int32_t SrcY, int32_t W, int32_t H, int32_t DstX,
                       int32_t DstY) const;
  void CloneTo(TBlockImage& Dst) const;
  void BlendColourThroughMask(const TBlockChannel& Mask, int32_t X, int32_t Y, int32_t W, int32_t H, uint32_t Colour);
  void Rotate180To(TBlockImage& Dst) const;

  // Whole-paper moves into Dst, an empty image of the new size with this background. Each
  // gives the tiles that drawing this image onto a canvas of its size, transforming the canvas
  // by the TTC operation of the same name (ShiftTo: pasting it at dx, dy, dropping what falls
  // outside) and loading the result would give after Compact, but tile by tile: Dst tiles whose
  // sources are all absent stay absent, and this image is emptied on the way, its tiles reused
  // for Dst as soon as they have been read.
  void ShiftTo(TBlockImage& Dst, int32_t dx, int32_t dy);
  void RotateRightTo(TBlockImage& Dst);
  void RotateLeftTo(TBlockImage& Dst);
  void ShrinkTo4x4(TBlockImage& Dst);
  // Exchanges size, background and tiles with Other.
  void Swap(TBlockImage& Other);

  // Whole-image transforms in place; each writes every pixel of the image.
  void FlipVertical();
  void FlipHorizontal();
  void Invert();

  // Dabs.
  void DrawDisc(uint32_t Colour, bool Soft, float cx, float cy, float r, float Opacity);
  void BlurDisc(const TBlockImage& Src, int32_t a, float cx, float cy, float r);
  void MaskedSmooth(TBlockImage& Dst, const TBlockChannel& Mask, int32_t X, int32_t Y, int32_t W, int32_t H) const;

 private:
  // A new tile is filled with the background when FillBack; otherwise the caller writes all
  // of its pixels at once.
  TTC* MakeTile(int32_t tx, int32_t ty, bool FillBack);
  using TSpareTiles = std::vector<std::unique_ptr<TChannel>>;
  // ShiftTo by a whole number of tiles.
  void ShiftTilesTo(TBlockImage& Dst, int32_t dx, int32_t dy);
  // Moves the tiles of rows ty0..ty1, columns tx0..tx1 into Spare (a whole-paper move).
  void RetireTiles(int32_t tx0, int32_t tx1, int32_t ty0, int32_t ty1, TSpareTiles& Spare);
  // The tile at (tx, ty), made from a spare one when there is one; filled with the background
  // unless Whole (the caller writes every pixel).
  TTC* ReuseTile(int32_t tx, int32_t ty, TSpareTiles& Spare, bool Whole);
  // n pixels of row y from column x0 on, as GetPixel reads them.
  void ReadRow(int32_t y, int32_t x0, int32_t n, uint32_t* out) const;
  // Stores n pixels into row y from column x0 on, as SetPixel would.
  void WriteRow(int32_t y, int32_t x0, int32_t n, const uint32_t* in);
  // n pixels from column p0 on of row q, both clamped into the image as GetPixelChannels reads.
  void ReadClampedRow(int32_t q, int64_t p0, int32_t n, uint32_t* out) const;
  void BlurDiscPlain(const TBlockImage& Src, int32_t a, float cx, float cy, float r);
  template <class Op>
  void CompositeRect(TTC& Canvas, int32_t SrcX, int32_t SrcY, int32_t W, int32_t H, int32_t DstX, int32_t DstY,
                     Op op) const;
};

class TBlockChannel : public TBlock {
 public:
  enum TCombineMode : uint8_t { cmCopy = 0, cmAdd = 1, cmAnd = 2, cmSubtract = 3 };

  TBlockChannel() = default;
  ~TBlockChannel() = default;

  TChannel* GetTile(int32_t tx, int32_t ty) const;
  bool EnsureChannelTile(int32_t x, int32_t y) { return EnsureChannelTileAt(TileIndex(x), TileIndex(y)); }
  bool EnsureChannelTileAt(int32_t tx, int32_t ty) { return MakeTile(tx, ty) != nullptr; }

  uint8_t ChannelGetPixel(int32_t x, int32_t y) const;
  void ChannelBlendPixel(int32_t x, int32_t y, uint8_t Value, uint8_t Alpha);
  void ChannelFill(uint8_t Value) { ChannelFillRect(0, 0, FWidth, FHeight, Value); }
  void ChannelFillRect(int32_t X, int32_t Y, int32_t W, int32_t H, uint8_t Value);
  void CombineChannel(TBlockChannel& Dst, int32_t DstX, int32_t DstY, uint8_t Mode) const {
    CombineChannelRect(Dst, 0, 0, FWidth, FHeight, DstX, DstY, Mode);
  }
  void CombineChannelRect(TBlockChannel& Dst, int32_t SrcX, int32_t SrcY, int32_t W, int32_t H, int32_t DstX,
                          int32_t DstY, uint8_t Mode) const;

  // Dabs, spans and polygons.
  void ChannelDisc(uint8_t Value, bool Max, float cx, float cy, float r, float Opacity, bool Soft);
  void ChannelHSpan(int32_t y, uint8_t Value, float x1, float x2, float Opacity, bool Max);
  void ChannelVSpan(int32_t x, uint8_t Value, float y1, float y2, float Opacity, bool Max);
  // The points are copied; the caller's array is never written. A polygon with more than
  // 1000 crossings on any row or column it fills is refused and draws nothing.
  void FillPolygon(const TPoint* Points, int32_t N);
  void FillPolygon(const std::vector<TPoint>& Points) {
    FillPolygon(Points.data(), static_cast<int32_t>(Points.size()));
  }

  // Mask morphology; Dst has the size of this mask.
  void Dilate(TBlockChannel& Dst) const;
  void Erode(TBlockChannel& Dst) const;
  void SmoothSteps(TBlockChannel& Dst) const;
  void ChannelToGrey(TTC& Canvas, int32_t X, int32_t Y, int32_t W, int32_t H) const;
  void InvertChannel() {}  // deliberately changes nothing: the selection invert keeps the mask

 private:
  friend class TBlockImage;
  TChannel* MakeTile(int32_t tx, int32_t ty);
  // n values of row y from column x0 on, as ChannelGetPixel reads them.
  void ReadMaskRow(int32_t y, int32_t x0, int32_t n, uint8_t* out) const;
  // Stores c at (x, y) when Max is off, or when it is larger than the current value.
  void StoreMax(int32_t x, int32_t y, uint8_t c, bool Max);
  void Morph(TBlockChannel& Dst, bool AnySet) const;
};
