#pragma once
// The document behind one paper window: its name and flags, the layer stack, the selection,
// the view, and the composite of all visible layers from which every painting is taken.
// The paper also draws strokes and lines, changes its own geometry, plays recorded events and
// reads and writes its picture file.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/Display.h"
#include "engine/TrueCnvs.h"
#include "engine/Types.h"

class TEventPacket;
class TLayerMng;
class TSelectMng;
class TStroke;
enum class TWpbResult : int;

class TPaper {
 public:
  TPaper();
  ~TPaper();
  TPaper(const TPaper&) = delete;
  TPaper& operator=(const TPaper&) = delete;

  // Paper name or file path, shown in the title.
  std::string Name;
  // The recorded events can no longer rebuild the picture.
  uint8_t EventsIncomplete = 0;
  // 0 offline, 1 network session.
  uint8_t NetMode = 0;
  // 1 once Init has given the paper a size and layers.
  uint8_t Initialised = 0;
  // Set only by the viewer: the preview and the thumbnails of whole-paper changes are not kept.
  uint8_t ViewerMode = 0;
  int32_t MemberIndex = 0;
  int32_t MemberCount = 0;

  // Paper-size image of all visible layers over the paper colour.
  TTCDC CompositeImage;
  // Window-size buffer for reduced and rotated rendering.
  TTCDC ViewBuffer;
  // The preview window's display canvas and the composite reduced to the preview size; the
  // preview window sizes both.
  TTCDC PreviewCanvas;
  TTCDC PreviewImage;
  // None until Init.
  std::unique_ptr<TLayerMng> Layers;
  std::unique_ptr<TSelectMng> Selection;
  TDisplay Display;

  // The paper size is the size of the composite.
  int32_t Width() const { return CompositeImage.Width(); }
  int32_t Height() const { return CompositeImage.Height(); }

  // Starts the paper over: one cleared multiply layer, an empty selection, a white composite.
  // Each side is clamped into 1..kMaxPaperSide; the result is false when a side had to be
  // clamped (the paper then has the clamped size) or when memory ran out (the paper is then
  // left as it was).
  bool Init(const std::string& name, int32_t width, int32_t height);
  // Composite resized and filled 0xFFFFFF, the selection resized.
  void ResizeComposite(int32_t width, int32_t height);
  void SetMemberIndex(int32_t n) { MemberIndex = n; }
  void SetMemberCount(int32_t n) { MemberCount = n; }
  void SetNetMode(uint8_t m) { NetMode = m; }
  void SetViewerMode(uint8_t b) { ViewerMode = b; }
  void SetEventsIncomplete(bool v) { EventsIncomplete = v ? 1 : 0; }
  int64_t MemorySize() const;
  // Window title: mode, quoted name, size and zoom step.
  void Caption(std::string& text) const;
  std::string Caption() const;

  // Compositing: the paper colour, then every visible layer bottom up by its kind at its
  // opacity. Nothing before Init.
  void Composite();
  void CompositeRect(int32_t x, int32_t y, int32_t w, int32_t h);
  // The whole paper with one layer displaced (layer move preview).
  void CompositeMoving(int32_t layer, int32_t dx, int32_t dy);
  // A stroke's dirty rectangle from its working copy; the preview follows and the rectangle
  // is painted into the window.
  void CompositeStrokeRect(TPaintTarget* window, TStroke& stroke, int32_t left, int32_t top, int32_t right,
                           int32_t bottom);

  // The reference path: every stroke point refreshes the working copy and composites its
  // rectangle at once, and layer operations copy and redraw whole layers. The fast path, while
  // nothing shows the paper (no window, no preview kept), leaves a stroke's points for the end
  // of the stroke and does each pixel once; the two give the same bytes, which the tests check.
  void SetPlainPath(bool on);
  bool PlainPath() const { return plain_path_; }
  // Does what strokes left for later. Whoever reads the composite outside the paper after
  // strokes played headless calls it first; the paper's own readers do.
  void CatchUp();

  // Painting into a window's surface (nothing for a null window).
  void Paint(TPaintTarget* window);
  void PaintRect(TPaintTarget* window, int32_t x, int32_t y, int32_t w, int32_t h);

  void UpdatePreview();
  void UpdatePreviewRect(int32_t x, int32_t y, int32_t w, int32_t h);

  // ---- Editing ----------------------------------------------------------------------------
  // The stroke's target layer is stroke.LayerIndex; every stroke operation does nothing for an
  // index outside the stack.
  void StrokeBegin(TStroke& stroke, float x, float y, float pressure);
  void StrokeMove(TStroke& stroke, TPaintTarget* window, float x, float y, float pressure);
  // Commits the stroke with one undo step; gives the committed rectangle (Left, Top, Right,
  // Bottom), empty (all 0) when nothing was committed.
  TRect StrokeEnd(TStroke& stroke, TPaintTarget* window);
  void DrawLine(TStroke& stroke, TPaintTarget* window, int32_t x1, int32_t y1, int32_t x2, int32_t y2);
  // Whole-paper changes. Sides are clamped into 1..kMaxPaperSide. False when a side was
  // clamped (the change is made at the clamped size). The layers move tile by tile, reusing
  // their own tiles, so a change needs little memory beyond what the paper holds.
  bool ChangeCanvasSize(int32_t width, int32_t height, int32_t anchor);
  bool ChangeResolution(int32_t width, int32_t height);
  bool Rotate90(uint8_t right);

  // ---- Playback ---------------------------------------------------------------------------
  // Applies the next event of the packet (inside a stroke: the next point). True to go on
  // (also while the packet holds no whole event yet: then nothing is consumed); false at
  // ecEnd, ecPaperSize, any code that is not an event, and any event but ecNewPaper on a paper
  // that has none yet. code is written only when a new event was read; refit is 1 when the
  // caller must recomposite and repaint the whole paper.
  bool PlayEvent(TEventPacket& packet, TStroke& brush, uint16_t& code, uint8_t& refit, TPaintTarget* window);
  bool PlayEvent(TEventPacket& packet, TStroke& brush, TPaintTarget* window);
  // After PlayEvent returned false: cuts the record at the code that stopped it, so that the
  // record matches the paper and further drawing continues it.
  static void EndPlayback(TEventPacket& packet);
  // True when the packet's first event, from its start, is ecNewPaper: only such a stream
  // gives a fresh paper its size and layers.
  static bool StartsWithNewPaper(const TEventPacket& packet);

  // ---- Picture file (*.wpb; defined in the engine's io library) ----------------------------
  // Writes the paper and the packet's record (an end marker is appended while writing and
  // removed again). The file is replaced atomically; false, with any old file intact, when it
  // could not be written.
  bool SaveToFile(const std::string& path, bool noPixelData, TEventPacket& packet);
  // Reads a picture file into the paper and its record into the packet. A refused file
  // (unknown magic, damaged, sizes or counts beyond the limits) shows a message and leaves the
  // paper and the packet as they were; result, when given, tells why.
  bool LoadFromFile(const std::string& path, TEventPacket& packet, TWpbResult* result = nullptr);

 private:
  // The steps of Init after the size is known; takes over a ready stack and selection. False,
  // with the paper as it was, when either is missing or the composite cannot be had.
  bool Adopt(const std::string& name, int32_t width, int32_t height, std::unique_ptr<TLayerMng> layers,
             std::unique_ptr<TSelectMng> selection);
  // Blends the visible layers into the rectangle of the composite; layer `moving` at an
  // offset, layer `flowLayer` from its working copy (-1: none).
  void BlendLayers(int32_t x, int32_t y, int32_t w, int32_t h, int32_t moving, int32_t dx, int32_t dy,
                   int32_t flowLayer);
  // The whole composite from the paper colour up, one band of rows at a time.
  static constexpr int32_t kCompositeBand = 64;
  void CompositeBands();
  // The shared frame of the whole-paper changes; rule 0 canvas size, 1 resolution, 2 quarter
  // turn right, 3 quarter turn left.
  bool ChangeWholePaper(int32_t newWidth, int32_t newHeight, int rule, int32_t dx, int32_t dy);
  bool ValidLayer(int32_t layer) const;
  // Marks a stroke's dirty rectangle (clipped to the paper) as owed instead of refreshing and
  // compositing it now.
  void Owe(const TStroke& stroke, int32_t x, int32_t y, int32_t w, int32_t h);
  // At a stroke's end, before its working copy is committed within `commit`: refreshes the
  // working copy where the stroke owes it, composites what lies outside the commit, and leaves
  // the rest to be composited with the following strokes' pixels.
  void SettleStroke(const TStroke& stroke, const TRect& commit);
  // Composites a rectangle after a played edit changed layer pixels within it only.
  void CompositeEditedRect(int32_t x, int32_t y, int32_t w, int32_t h);
  bool OwedValid() const;
  void RefreshOwed();
  // Composites the pixels of box marked `mark` or above.
  void CompositeOwed(const TRect& box, uint8_t mark, int32_t flowLayer);
  template <class F>
  void WalkOwed(const TRect& box, uint8_t mark, F f) const;
  // True when a stroke rectangle is left for later: nothing shows the paper.
  bool Defers(const TPaintTarget* window) const { return !window && ViewerMode && !plain_path_; }
  void ForgetOwed();

  bool plain_path_ = false;
  // Per pixel, paper-sized: owed nothing (0), a composite only (the pixels of finished
  // strokes), or the working copy's refresh and a composite (the stroke in progress); the
  // bounds of all and of the stroke's, and what the stroke was when it left them.
  static constexpr uint8_t kOwedComposite = 1, kOwedStroke = 2, kOwedOutside = 3;
  std::vector<uint8_t> owed_;
  int32_t owed_stride_ = 0;
  TRect owed_box_{};
  TRect stroke_box_{};
  bool owed_any_ = false;
  const TStroke* owed_stroke_ = nullptr;
  const TLayerMng* owed_stack_ = nullptr;
  int32_t owed_layer_ = -1;
  uint8_t owed_kind_ = 0;
  uint32_t owed_colour_ = 0;
};
