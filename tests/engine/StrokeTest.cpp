// The stroke renderer's stepping, pressure handling, rectangles and per-kind dab rules.
#include <gtest/gtest.h>

#include <cmath>

#include "engine/Block.h"
#include "engine/Stroke.h"
#include "StrokeTestHarness.h"

namespace {

// A pen whose thin dabs show the stepping direction: size 1, no disc, a 3-pixel span.
void ThinPen(TStroke& s) {
  s.SetKind(bkPen);
  s.SetWidth(1);
  s.SetGamma(1);
  s.SetPressureSize(false);
  s.SetPressureAlpha(false);
}

// Renders a zero-length segment: one stepping position; true when it drew a dab.
bool StepOnce(TStroke& s, TStrokeCanvas& c, float x, float y, float p = 1) {
  s.RenderSegment(c.Flow, c.Mask, x, y, p, x, y, p, c.Layer);
  return !s.SegmentRect.Empty;
}

}  // namespace

TEST(Stroke, BeginResetsTheStrokeAndPointsAreSmoothedHalfway) {
  TStrokeCanvas c(32, 32, 0);
  TStroke s;
  s.StepCount = 7;
  s.Travel = 3;
  s.StrokeRect.Include(1, 1);
  c.Begin(s, 10, 20, 0.8f);
  EXPECT_EQ(s.StepCount, 0);
  EXPECT_EQ(s.Travel, 0);
  EXPECT_TRUE(s.StrokeRect.Empty);
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(s.HistoryX(i), 10);
    EXPECT_EQ(s.HistoryY(i), 20);
    EXPECT_EQ(s.HistoryPressure(i), 0);  // the first pressure is not used
  }
  s.AddPoint(20, 40, 1);
  EXPECT_EQ(s.HistoryX(0), 20);
  EXPECT_EQ(s.HistoryX(1), 15);  // halfway between the new point and the old smoothed one
  EXPECT_EQ(s.HistoryY(1), 30);
  EXPECT_EQ(s.HistoryPressure(1), 0.5f);
  EXPECT_EQ(s.HistoryX(2), 10);
  s.AddPoint(30, 40, 0.5f);
  EXPECT_EQ(s.HistoryX(1), 22.5f);
  EXPECT_EQ(s.HistoryPressure(1), 0.5f);
  EXPECT_EQ(s.HistoryX(2), 15);
  EXPECT_EQ(s.HistoryX(3), 10);
}

TEST(Stroke, EqualDistancesStepAlongYAndTheThinPenSpansAcross) {
  struct {
    const char* Name;
    float X1, Y1;
    bool Horizontal;  // spans run along rows (stepping along y)
  } cases[] = {
      {"zero length", 10, 10, true}, {"diagonal", 13, 13, true}, {"x wider", 13.5f, 13, false},
      {"y longer", 11, 14, true},
  };
  for (const auto& cs : cases) {
    SCOPED_TRACE(cs.Name);
    TStrokeCanvas c(32, 32, 0);
    TStroke s;
    ThinPen(s);
    c.Begin(s, 10, 10, 1);
    s.RenderSegment(c.Flow, c.Mask, 10, 10, 1, cs.X1, cs.Y1, 1, c.Layer);
    // The first dab sits at (10.5, 10.5): a span from 9.5 to 11.5 gives 123, 255, 127.
    const uint8_t along[3] = {c.Mask.ChannelGetPixel(9, 10), c.Mask.ChannelGetPixel(10, 10),
                              c.Mask.ChannelGetPixel(11, 10)};
    const uint8_t across[3] = {c.Mask.ChannelGetPixel(10, 9), c.Mask.ChannelGetPixel(10, 10),
                               c.Mask.ChannelGetPixel(10, 11)};
    const uint8_t* span = cs.Horizontal ? along : across;
    EXPECT_EQ(span[0], 123);
    EXPECT_EQ(span[1], 255);
    EXPECT_EQ(span[2], 127);
  }
}

TEST(Stroke, ThinBrushesTakeHalfSteps) {
  struct {
    const char* Name;
    uint8_t Kind;
    float Width, Min;
    bool Size;
    int32_t Steps;  // for a segment 10 pixels long
  } cases[] = {
      {"pen 1.5 at 75%", bkPen, 1.5f, 75, true, 22},   {"pen 2 at 100%", bkPen, 2, 100, true, 11},
      {"pen 4 at 25%, light end", bkPen, 4, 25, true, 22}, {"pen 1.9 fixed", bkPen, 1.9f, 0, false, 22},
      {"eraser 2.5", bkEraser, 2.5f, 0, false, 22},    {"eraser 3", bkEraser, 3, 0, false, 11},
      {"watercolour 1", bkWatercolor, 1, 0, false, 11}, {"old blur 1", bkBlur, 1, 0, false, 11},
  };
  for (const auto& cs : cases) {
    SCOPED_TRACE(cs.Name);
    TStrokeCanvas c(40, 40, 0);
    TStroke s;
    s.SetKind(cs.Kind);
    s.SetWidth(cs.Width);
    s.SetMinSize(cs.Min);
    s.SetPressureSize(cs.Size);
    c.Begin(s, 5, 5, 1);
    s.RenderSegment(c.Flow, c.Mask, 5, 5, 0.1f, 15, 5, 1, c.Layer);
    EXPECT_EQ(s.StepCount, cs.Steps);
  }
}

TEST(Stroke, DabSpacingRunsOnAcrossSegments) {
  struct {
    uint8_t Kind;
    float Width;
    int32_t Spacing;
  } cases[] = {{bkPen, 16, 3}, {bkWatercolor, 24, 3}, {bkBlur, 12, 4}, {bkEraser, 12, 4}, {bkBlur2, 7.9f, 2}};
  for (const auto& cs : cases) {
    SCOPED_TRACE(int(cs.Kind));
    TStrokeCanvas c(40, 40, 0);
    TStroke s;
    s.SetKind(cs.Kind);
    s.LoadPreset(cs.Kind, 99);
    s.SetWidth(cs.Width);
    s.SetPressureSize(false);
    c.Begin(s, 20, 20, 1);
    for (int32_t i = 0; i < 3 * cs.Spacing + 1; ++i) {
      int32_t l0, t0, r0, b0;
      s.GetSegmentRect(l0, t0, r0, b0);
      const bool drew = StepOnce(s, c, 20 + static_cast<float>(i) / 4, 20);
      EXPECT_EQ(drew, i % cs.Spacing == 0) << i;
      EXPECT_EQ(s.StepCount, i + 1);
      int32_t l, t, r, b;
      s.GetSegmentRect(l, t, r, b);
      if (!drew) {
        // A segment without a dab leaves the rectangle of the last one that drew.
        EXPECT_EQ(l, l0);
        EXPECT_EQ(b, b0);
      }
    }
  }
}

TEST(Stroke, PenSpacingNeverReachesZero) {
  // A size of -10 at zero pressure would give a spacing of Trunc(-10 / 8) + 1 = 0.
  TStrokeCanvas c(40, 40, 0);
  TStroke s;
  s.SetKind(bkPen);
  s.SetWidth(10);
  s.SetPressureSize(true);
  s.MIN = -100;  // beyond what the setters allow: a brush built by hand
  EXPECT_EQ(s.PressureSize(0), -10);
  c.Begin(s, 10, 10, 0);
  s.RenderSegment(c.Flow, c.Mask, 10, 10, 0, 30, 10, 0, c.Layer);
  EXPECT_EQ(s.StepCount, 42);
}

TEST(Stroke, PressureGammaShapesTheDabs) {
  struct {
    float Gamma, Pressure;
    uint8_t Coverage;  // centre of a full-size pen disc: Trunc(255 x corrected pressure)
  } cases[] = {{1, 0.5f, 127}, {2, 0.5f, 63}, {0.5f, 0.25f, 127}, {2, 0, 0}, {0, 0.5f, 127}, {6, 1, 255}};
  for (const auto& cs : cases) {
    SCOPED_TRACE(testing::Message() << "gamma " << cs.Gamma << " pressure " << cs.Pressure);
    TStrokeCanvas c(40, 40, 0);
    TStroke s;
    s.SetKind(bkPen);
    s.SetWidth(10);
    s.SetPressureSize(false);
    s.SetPressureAlpha(true);
    s.SetGamma(1);
    s.GAMMA = cs.Gamma;  // a stored 0 leaves the pressures as they are
    c.Begin(s, 20, 20, 0);
    for (int i = 0; i < 8; ++i) s.HistPressure[i] = cs.Pressure;
    s.DrawLastSegment(c.Flow, c.Mask, c.Layer);
    EXPECT_EQ(c.Mask.ChannelGetPixel(20, 20), cs.Coverage);
    EXPECT_EQ(s.HistoryPressure(1), cs.Pressure);  // the history keeps the raw pressures
  }
}

TEST(Stroke, TravelGrowsWithPressureWeightedLength) {
  TStrokeCanvas c(64, 64, 0);
  TStroke s;
  s.LoadPreset(bkWatercolor, 99);
  c.Begin(s, 0, 0, 1);
  // 3-4-5 segment at full pressure: six positions of 5/5 x 4 x 1 each.
  s.RenderSegment(c.Flow, c.Mask, 10, 10, 1, 14, 13, 1, c.Layer);
  EXPECT_EQ(s.StepCount, 5);
  EXPECT_FLOAT_EQ(s.Travel, 5 * (5.0f / 5 * 4));
  s.AddTravel(-20);
  EXPECT_FLOAT_EQ(s.Travel, 0);
}

TEST(Stroke, DirtyRectanglesWidenToEvenCoordinates) {
  TStroke s;
  s.StrokeRect.Include(-3, -3);
  int32_t l, t, r, b;
  s.GetStrokeRect(l, t, r, b);
  EXPECT_EQ(l, -4);
  EXPECT_EQ(t, -4);
  EXPECT_EQ(r, 0);
  EXPECT_EQ(b, 0);
  s.StrokeRect.Include(5, 7);
  s.GetStrokeRect(l, t, r, b);
  EXPECT_EQ(r, 6);
  EXPECT_EQ(b, 8);
  s.IncludeSegmentRect(10.9f, 3.5f, 1.5f);
  s.GetSegmentRect(l, t, r, b);
  EXPECT_EQ(l, 4);   // Trunc(7.4) = 7 -> 6 - 2
  EXPECT_EQ(t, -2);  // Trunc(0) = 0 -> -2
  EXPECT_EQ(r, 16);  // Trunc(14.4) = 14 -> 16
  EXPECT_EQ(b, 8);   // Trunc(7) = 7 -> 8
  // Every segment includes both ends with the brush width into the stroke's rectangle.
  TStrokeCanvas c(64, 64, 0);
  TStroke p;
  p.LoadPreset(bkBlur, 99);
  c.Begin(p, 30, 30, 1);
  p.RenderSegment(c.Flow, c.Mask, 30, 30, 1, 40, 50, 1, c.Layer);
  EXPECT_FALSE(p.StrokeRect.Empty);
  EXPECT_EQ(p.StrokeRect.Left, 30 - 14);
  EXPECT_EQ(p.StrokeRect.Bottom, 50 + 14);
}

TEST(Stroke, WatercolourPicksUpTheColourUnderItsFirstPoint) {
  struct {
    const char* Name;
    uint8_t LayerKind;
    uint32_t Fill;
    float Effect;
    uint32_t Start, Paint0;
  } cases[] = {
      // EFFECT 100 starts with the picked-up colour, 0 with the brush colour (blue).
      {"effect 100", 0, 0xFF806040, 100, 0xFF806040, 0xFF806040},
      {"effect 0", 0, 0xFF806040, 0, 0xFF806040, 0xFF0000FF},
      // A transparent black ARGB layer is picked up as laid over white: 0 + 255 x 255 >> 8.
      {"argb over white", 3, 0x00000000, 100, 0x00FEFEFE, 0xFFFEFEFE},
  };
  for (const auto& cs : cases) {
    SCOPED_TRACE(cs.Name);
    TStrokeCanvas c(40, 40, cs.LayerKind);
    c.Layer.FillRect(0, 0, 40, 40, cs.Fill);
    TStroke s;
    s.LoadPreset(bkWatercolor, 99);
    s.SetKind(bkWatercolor);
    s.SetColor(0x0000FF);
    s.SetEffect(cs.Effect);
    c.Begin(s, 20, 20, 1);
    EXPECT_EQ(s.StartColor, cs.Start);
    EXPECT_EQ(s.Paint.GetPixel(0, 0), cs.Paint0);
    EXPECT_EQ(s.EnvR, static_cast<float>((cs.Start >> 16) & 255));
  }
  // The pick-up is the integer mean of the 11 x 11 pixels around the point, clamped to the layer.
  TStrokeCanvas c(40, 40, 0);
  c.Layer.FillRect(0, 0, 40, 40, 0xFF000000);
  c.Layer.FillRect(0, 0, 3, 40, 0xFFFFFFFF);  // columns 0..2 white
  TStroke s;
  s.LoadPreset(bkWatercolor, 99);
  s.SetKind(bkWatercolor);
  c.Begin(s, 1, 30, 1);  // columns -4..6: five clamped reads of column 0, then 1..6
  EXPECT_EQ(s.StartColor & 0xFF, (7u * 11 * 255) / 121);
}

TEST(Stroke, WatercolourPaintFadesToTheBrushColourWithTravel) {
  auto paintAfter = [](float speed, float env, float travel) {
    TStrokeCanvas c(64, 64, 0);
    TStroke s;
    s.LoadPreset(bkWatercolor, 99);
    s.SetKind(bkWatercolor);
    s.SetColor(0xFF0000);
    s.SetEffect(100);
    s.SetSpeed(speed);
    s.SetEnv(env);
    s.SetWidth(8);
    s.SetPressureSize(false);
    c.Begin(s, 32, 32, 1);  // white start paint
    s.Travel = travel;
    StepOnce(s, c, 32, 32);
    return s.Paint.GetPixel(1, 0) & 0xFFFFFF;
  };
  EXPECT_EQ(paintAfter(0, 0, 0), 0xFF0000u);              // SPEED 0: the brush colour at once
  EXPECT_EQ(paintAfter(100, 0, 0), 0xFFFFFFu);            // nothing travelled yet: start paint
  EXPECT_EQ(paintAfter(100, 0, 100 * 8 * 2), 0xFF0000u);  // the whole way: the brush colour
  // Half way: green and blue blended from 255 toward 0 at alpha 127.
  const uint32_t half = paintAfter(100, 0, 800);
  EXPECT_EQ(half, 0xFF0000u | (129u << 8) | 129u);

  // ENV pulls the paint toward the surroundings: a white start amid black moves the running
  // colour by ENV/10 = 5 to 250, which is blended into the red paint at alpha 127.
  TStrokeCanvas c(64, 64, 0);
  c.Layer.FillRect(0, 0, 64, 64, 0xFF000000);
  c.Layer.FillRect(27, 27, 11, 11, 0xFFFFFFFF);
  c.Reload();
  TStroke s;
  s.LoadPreset(bkWatercolor, 99);
  s.SetKind(bkWatercolor);
  s.SetColor(0xFF0000);
  s.SetSpeed(0);
  s.SetEnv(50);
  s.SetWidth(8);
  s.SetPressureSize(false);
  c.Begin(s, 32, 32, 1);
  EXPECT_EQ(s.EnvG, 255);
  StepOnce(s, c, 32, 32);
  EXPECT_EQ(s.EnvG, 250);
  EXPECT_EQ(s.Paint.GetPixel(1, 0) & 0xFFFFFF, (254u << 16) | (124u << 8) | 124u);
  // Close to the surroundings the running colour takes them exactly.
  s.SetEnv(100);
  for (int i = 0; i < 30; ++i) StepOnce(s, c, 32, 32);
  EXPECT_EQ(s.EnvG, 0);
}

TEST(Stroke, WatercolourDabsBlendThePaintAtAThirdOfTheirOpacity) {
  TStrokeCanvas c(64, 64, 0);
  TStroke s;
  s.LoadPreset(bkWatercolor, 99);
  s.SetKind(bkWatercolor);
  s.SetColor(0x000000);
  s.SetSpeed(0);
  s.SetEnv(0);
  s.SetWidth(10);
  s.SetPressureSize(true);
  s.SetPressureAlpha(true);
  c.Begin(s, 32, 32, 1);
  StepOnce(s, c, 32, 32, 1);
  // Radius W/3 + 2W/3 x p = 10 at full pressure; opacity 0.35 -> alpha Trunc(0.35 x 255) = 89.
  const uint32_t centre = c.Flow.GetPixel(32, 32) & 0xFF;
  EXPECT_EQ(centre, 255 + static_cast<int8_t>(T_AlphaDiff[89][static_cast<uint8_t>(0 - 127)]));
  EXPECT_NE(c.Flow.GetPixel(32 + 9, 32) & 0xFF, 255u);
  EXPECT_EQ(c.Flow.GetPixel(32 + 11, 32) & 0xFF, 255u);
  // At half pressure the radius is 10/3 + 10/3 (6.67) and the alpha Trunc(0.175 x 255) = 44.
  TStrokeCanvas d(64, 64, 0);
  d.Begin(s, 32, 32, 1);
  StepOnce(s, d, 32, 32, 0.5f);
  EXPECT_EQ(d.Flow.GetPixel(32, 32) & 0xFF, 255 + static_cast<int8_t>(T_AlphaDiff[44][static_cast<uint8_t>(0 - 127)]));
  EXPECT_EQ(d.Flow.GetPixel(32 + 8, 32) & 0xFF, 255u);
}

TEST(Stroke, OldBlurBoxSizeIsEvaluatedWide) {
  // 5.97265625 x 83.71484375 / 100 is just below 5: single arithmetic would round it up to 5.
  const float w = 1529 / 256.0f, e = 21431 / 256.0f;
  auto stripes = [](TStrokeCanvas& c) {
    for (int32_t x = 0; x < 40; ++x) c.Layer.FillRect(x, 0, 1, 40, (x / 3) % 2 ? 0xFF000000 : 0xFFFFFFFF);
    c.Reload();
  };
  TStrokeCanvas brushed(40, 40, 0), box4(40, 40, 0), box5(40, 40, 0);
  stripes(brushed);
  stripes(box4);
  stripes(box5);
  TStroke s;
  s.LoadPreset(bkBlur, 99);
  s.SetKind(bkBlur);
  s.SetWidth(w);
  s.SetEffect(e);
  brushed.Begin(s, 20, 20, 1);
  StepOnce(s, brushed, 19.5f, 19.5f);
  box4.Flow.BlurDisc(box4.Layer, 4, 20, 20, w);
  box5.Flow.BlurDisc(box5.Layer, 5, 20, 20, w);
  for (int32_t x = 12; x < 28; ++x) EXPECT_EQ(brushed.Flow.GetPixel(x, 20), box4.Flow.GetPixel(x, 20)) << x;
  bool differs = false;
  for (int32_t x = 12; x < 28; ++x) differs |= box4.Flow.GetPixel(x, 20) != box5.Flow.GetPixel(x, 20);
  EXPECT_TRUE(differs);

  // EFFECT 0 still blurs, over a 3 x 3 box.
  TStrokeCanvas zero(40, 40, 0);
  stripes(zero);
  s.SetWidth(6);
  s.SetEffect(0);
  zero.Begin(s, 20, 20, 1);
  StepOnce(s, zero, 19.5f, 19.5f);
  EXPECT_NE(zero.Flow.GetPixel(20, 20), zero.Layer.GetPixel(20, 20));
  EXPECT_EQ(zero.Layer.GetPixel(20, 20), 0xFFFFFFFFu);
}

TEST(Stroke, EraserPaintsTheLayersClearColour) {
  for (uint8_t kind : {uint8_t{0}, uint8_t{1}, uint8_t{2}}) {
    SCOPED_TRACE(int(kind));
    TStrokeCanvas c(40, 40, kind);
    c.Layer.FillRect(0, 0, 40, 40, 0xFF808080);
    c.Reload();
    TStroke s;
    s.LoadPreset(bkEraser, 99);
    s.SetKind(bkEraser);
    s.SetWidth(6);
    s.SetSmoothEdge(false);
    c.Begin(s, 20, 20, 1);
    StepOnce(s, c, 20, 20, 1);
    EXPECT_EQ(c.Flow.GetPixel(20, 20) & 0xFFFFFF, kind == 0 ? 0xFFFFFFu : 0u);
    EXPECT_EQ(c.Flow.GetPixel(5, 5), 0xFF808080u);
    // The soft edge (on by default) falls off from the centre.
    s.SetSmoothEdge(true);
    StepOnce(s, c, 10, 10, 1);  // the next dab position: the spacing is 2
    StepOnce(s, c, 10, 10, 1);
    const uint32_t centre = c.Flow.GetPixel(10, 10) & 0xFF, rim = c.Flow.GetPixel(14, 10) & 0xFF;
    if (kind == 0) {
      EXPECT_GT(centre, rim);
    } else {
      EXPECT_LT(centre, rim);
    }
    EXPECT_NE(rim, 0x80u);
  }
}

TEST(Stroke, NewBlurWritesSoftCoverageByPressure) {
  TStrokeCanvas c(40, 40, 0);
  TStroke s;
  s.LoadPreset(bkBlur2, 99);
  s.SetKind(bkBlur2);
  s.SetWidth(8);
  c.Begin(s, 20, 20, 1);
  StepOnce(s, c, 20, 20, 1);
  EXPECT_EQ(c.Mask.ChannelGetPixel(20, 20), 31);  // (32 x S) >> 8 with S = 255 at the centre
  EXPECT_LT(c.Mask.ChannelGetPixel(26, 20), 31);
  EXPECT_EQ(c.Mask.ChannelGetPixel(30, 20), 0);
  TStrokeCanvas d(40, 40, 0);
  d.Begin(s, 20, 20, 1);
  StepOnce(s, d, 20, 20, 0.5f);
  EXPECT_EQ(d.Mask.ChannelGetPixel(20, 20), 15);
}

TEST(Stroke, DabsOutsideTheLayerKeepEveryStateUpdate) {
  // The same watercolour stroke far above the layer and just inside its top edge: the step
  // count, travel and paint state run alike, and the outside one writes nothing at all.
  auto run = [](float y, TStrokeCanvas& c) {
    TStroke s;
    s.LoadPreset(bkWatercolor, 99);
    s.SetKind(bkWatercolor);
    s.SetColor(0x00FF00);
    s.SetWidth(6);
    s.SetEnv(0);  // no pull of the surroundings, which differ once the inside stroke paints
    c.Begin(s, 10, y, 1);  // both pick up the white of the layer
    const float xs[] = {10, 30, 50, 70, 90};
    for (float x : xs) c.Move(s, x, y, 1);
    struct {
      int32_t Steps;
      float Travel, R, G, B;
      uint32_t Paint1;
    } st = {s.StepCount, s.Travel, s.EnvR, s.EnvG, s.EnvB, s.Paint.GetPixel(1, 0)};
    return st;
  };
  TStrokeCanvas outside(100, 100, 0), inside(100, 100, 0);
  const auto far = run(-5000, outside);
  const auto near = run(0.5f, inside);
  EXPECT_EQ(far.Steps, near.Steps);
  EXPECT_EQ(far.Travel, near.Travel);
  EXPECT_EQ(far.Paint1, near.Paint1);
  EXPECT_NE(far.Paint1 & 0xFFFFFF, 0xFFFFFFu);  // the paint faded on from white
  EXPECT_EQ(outside.Flow.TileCount(), 0);
  EXPECT_GT(inside.Flow.TileCount(), 0);

  // A dab beyond the right edge but inside the last tile column still writes there, as the
  // tile store keeps those pixels: skipping is only for dabs that could write nothing.
  TStrokeCanvas edge(100, 40, 0);
  TStroke e;
  e.LoadPreset(bkEraser, 99);
  e.SetKind(bkEraser);
  edge.Layer.FillRect(0, 0, 100, 40, 0xFF000000);
  edge.Reload();
  StepOnce(e, edge, 110, 20);
  EXPECT_EQ(edge.Flow.GetPixel(110, 20) & 0xFFFFFF, 0xFFFFFFu);
  StepOnce(e, edge, 4000, 20);
  StepOnce(e, edge, -4000, -4000);
  EXPECT_EQ(e.StepCount, 3);
}
