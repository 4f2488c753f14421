#pragma once
// The brush: what a stroke is painted with (kind, colour, target layer, six parameters, three
// switches), the recent input points and the running state of watercolour paint, its presets
// in the settings store, and the renderer that turns a stroke into dabs.
#include <cstdint>
#include <string>

#include "engine/TrueCnvs.h"
#include "engine/Types.h"

class TBlockImage;
class TBlockChannel;

// Brush kinds; also the order of the preset families.
enum : uint8_t { bkPen = 0, bkWatercolor = 1, bkBlur = 2, bkEraser = 3, bkBlur2 = 4 };
constexpr int kBrushKinds = 5;

// Settings key of preset n of a brush kind: the kind's family path followed by n in decimal
// ("Software\\Brenmoor\\Vellora\\wc" and 3 give "Software\\Brenmoor\\Vellora\\wc3"). Empty
// for a kind outside 0..4.
std::string PresetFamilyPath(uint8_t kind);
std::string PresetKeyPath(uint8_t kind, int32_t n);

// Bounding box of points; the coordinates mean nothing while Empty.
class TRectRegion {
 public:
  bool Empty = true;
  int32_t Left = 0, Top = 0, Right = 0, Bottom = 0;

  void Clear() { Empty = true; }
  void Include(int32_t x, int32_t y);
};

// Width-slider position of a brush width (slider 0..80 covers widths 0..200).
float WidthToSlider(float w);

// What a stroke event gives back for a value: a brush parameter in 1/256 steps of its 16-bit
// field, a pressure in 1/1024 steps of its 16-bit field, a coordinate as its 16-bit field
// (each saturated to its field, as the writers do).
// A live stroke is drawn with these, so that its replay gives the same pixels.
float RecordedParameter(float v);
float RecordedPressure(float p);
int32_t RecordedCoordinate(int32_t v);

class TStroke {
 public:
  static constexpr int kHistory = 8;

  TStroke();
  TStroke(const TStroke&) = delete;
  TStroke& operator=(const TStroke&) = delete;

  // Fields are public for reading; change them through the setters, which keep the ranges
  // and raise Changed.
  bool Changed = false;  // a setter really changed a value; the update loop clears it
  TRectRegion SegmentRect;
  TRectRegion StrokeRect;
  // Input points of the current stroke in paper pixels, entry 0 the newest; pressure 0..1.
  float HistX[kHistory] = {};
  float HistY[kHistory] = {};
  float HistPressure[kHistory] = {};
  uint32_t Color = 0;  // 0xAARRGGBB, alpha ignored
  int32_t LayerIndex = 0;
  uint8_t Kind = bkPen;
  bool ifSIZE = false;          // pressure controls the dab size
  bool ifTRANSPARENCY = false;  // pressure controls the dab opacity
  bool ifEDGE = false;          // soft dab edge
  float MIN = 0;     // smallest size at zero pressure, per cent of WIDTH, 0..100
  float WIDTH = 0;   // radius in paper pixels, 0.1..200 once set
  float GAMMA = 0;   // pressure correction exponent, 0.01..6 once set
  float EFFECT = 0;  // 0..100
  float ENV = 0;     // 0..100
  float SPEED = 0;   // 0..100
  uint32_t StartColor = 0;
  int32_t StepCount = 0;
  float Travel = 0;
  TTC Paint{2, 1};  // pixel 0: watercolour start paint; pixel 1: paint of the current dab
  float EnvR = 0, EnvG = 0, EnvB = 0;

  void SetChanged(bool b) { Changed = b; }

  void SetKind(uint8_t k);
  void SetColor(uint32_t c);
  void SetPressureSize(bool b);
  void SetPressureAlpha(bool b);
  void SetSmoothEdge(bool b);
  // MIN, EFFECT, ENV and SPEED are kept in 0..100 (a value below 0 or not a number is 0).
  void SetMinSize(float v);
  void SetEffect(float v);
  void SetEnv(float v);
  void SetSpeed(float v);
  // Stores and raises Changed when different, then keeps WIDTH in 0.1..200 (NaN gives 0.1).
  void SetWidth(float v);
  // Not above 0 (or NaN) becomes 0.01, above 6 becomes 6; stored and Changed when different.
  void SetGamma(float v);
  void SetLayer(int32_t index) { LayerIndex = index; }

  // Step adjusters: add and clamp; Changed is left alone.
  void AddMinSize(float d);
  void AddWidth(float d);
  void AddEffect(float d);
  void AddEnv(float d);
  void AddSpeed(float d);

  int32_t GetKind() const { return Kind <= bkBlur2 ? Kind : -1; }
  bool HasMinSize() const { return Kind == bkPen; }
  bool HasWidth() const { return true; }
  bool HasGamma() const { return true; }
  bool HasEffect() const { return Kind == bkWatercolor || Kind == bkBlur; }
  bool HasEnv() const { return Kind == bkWatercolor; }
  bool HasSpeed() const { return Kind == bkWatercolor; }
  bool HasPressureSize() const { return Kind == bkPen || Kind == bkWatercolor; }
  bool HasPressureAlpha() const { return Kind == bkPen || Kind == bkWatercolor || Kind == bkEraser; }
  bool HasSmoothEdge() const { return Kind == bkWatercolor || Kind == bkEraser; }

  // Dab size for a pressure 0..1.
  float PressureSize(float p) const;
  // History entry i, 0 the newest; 0 for an index outside 0..7.
  float HistoryX(int32_t i) const;
  float HistoryY(int32_t i) const;
  float HistoryPressure(int32_t i) const;
  // Brush width for a width-slider position.
  static float SliderToWidth(float s);

  // Resets the parameters and switches, applies the kind's defaults and then the values
  // stored for preset n of the kind. A stored value is clamped into its setter's range; one
  // of the wrong type or size, or not a number, leaves the default. Kind, Color and
  // LayerIndex are not touched.
  void LoadPreset(uint8_t kind, int32_t n);
  // Stores the parameters and switches as preset n of the kind. False when the key cannot be
  // opened or a value cannot be written (the values written before stay stored), or for a
  // kind outside 0..4.
  bool SavePreset(uint8_t kind, int32_t n) const;

  // Puts every parameter, the colour and the layer into the form a stroke event carries
  // back, through the same setters as the event reader, so that a live stroke is drawn with
  // the values its replay will have. Recording the brush afterwards gives the same bytes.
  void UseRecordedValues();

  // ---- Rendering -------------------------------------------------------------------------
  // A stroke paints into the working copy of its layer (flow image) and its coverage mask
  // (flow mask), reading the layer image itself. Pen and new blur write coverage; the other
  // kinds paint the working image.

  // Resets the per-stroke state at the first point; the watercolour picks up the colour
  // under it. The pressure is not used: the history starts at pressure 0.
  void BeginStroke(const TBlockImage& layer, uint8_t layerKind, float x, float y, float pressure);
  // Pushes an input point and smooths entry 1 halfway between entries 0 and 2.
  void AddPoint(float x, float y, float pressure);
  // Corrects the pressures of entries 1 and 2 by GAMMA and renders from entry 2 to entry 1.
  void DrawLastSegment(TBlockImage& flowImage, TBlockChannel& flowMask, const TBlockImage& layer);
  // Renders one segment as dabs spaced in whole stepping positions of the stroke.
  void RenderSegment(TBlockImage& flowImage, TBlockChannel& flowMask, float x0, float y0, float p0, float x1, float y1,
                     float p1, const TBlockImage& layer);
  // The step counter wraps at the int32 range instead of overflowing.
  void IncStep() { StepCount = static_cast<int32_t>(static_cast<uint32_t>(StepCount) + 1u); }
  void AddTravel(float d) { Travel = static_cast<float>(static_cast<ext_t>(Travel) + d); }
  void IncludeSegmentRect(float x, float y, float r);
  void IncludeStrokeRect(float x, float y, float r);
  // The rectangles widened to even coordinates, also when empty.
  void GetSegmentRect(int32_t& Left, int32_t& Top, int32_t& Right, int32_t& Bottom) const;
  void GetStrokeRect(int32_t& Left, int32_t& Top, int32_t& Right, int32_t& Bottom) const;

 private:
  // Draws the dab of the brush kind at (x, y) with the clamped pressure p; returns its radius.
  float DrawDab(TBlockImage& flowImage, TBlockChannel& flowMask, const TBlockImage& layer, float x, float y, float p,
                bool alongX);
  void WatercolourDab(TBlockImage& flowImage, float x, float y, float r, float p, bool draw);
};
