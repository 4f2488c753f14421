#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>

#include "EventPacketTestUtil.h"
#include "common/TempDir.h"
#include "engine/EventPacket.h"
#include "engine/Stroke.h"
#include "platform/core/Settings.h"

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

// Every parameter and switch of a brush, for whole-brush comparisons.
struct TBrushValues {
  float Min, Width, Gamma, Effect, Env, Speed;
  bool Size, Transparency, Edge;
  friend bool operator==(const TBrushValues&, const TBrushValues&) = default;
};

TBrushValues ValuesOf(const TStroke& s) {
  return {s.MIN, s.WIDTH, s.GAMMA, s.EFFECT, s.ENV, s.SPEED, s.ifSIZE, s.ifTRANSPARENCY, s.ifEDGE};
}

std::ostream& operator<<(std::ostream& o, const TBrushValues& v) {
  return o << "MIN " << v.Min << " WIDTH " << v.Width << " GAMMA " << v.Gamma << " EFFECT " << v.Effect << " ENV "
           << v.Env << " SPEED " << v.Speed << " switches " << v.Size << v.Transparency << v.Edge;
}

}  // namespace

TEST(Brush, NewBrushIsBlankUntilSet) {
  TStroke s;
  EXPECT_EQ(s.Kind, bkPen);
  EXPECT_EQ(s.Color, 0u);
  EXPECT_EQ(s.LayerIndex, 0);
  EXPECT_EQ(ValuesOf(s), (TBrushValues{0, 0, 0, 0, 0, 0, false, false, false}));
  EXPECT_FALSE(s.Changed);
  EXPECT_TRUE(s.SegmentRect.Empty);
  EXPECT_TRUE(s.StrokeRect.Empty);
  EXPECT_EQ(s.Paint.Width(), 2);
  EXPECT_EQ(s.Paint.Height(), 1);
}

TEST(Brush, SettersClampAndRaiseChangedOnlyForRealChanges) {
  struct {
    const char* Name;
    void (TStroke::*Set)(float);
    float TStroke::*Field;
    float In, Stored;
  } cases[] = {
      {"width 0", &TStroke::SetWidth, &TStroke::WIDTH, 0, 0.1f},
      {"width 500", &TStroke::SetWidth, &TStroke::WIDTH, 500, 200},
      {"width 7.25", &TStroke::SetWidth, &TStroke::WIDTH, 7.25f, 7.25f},
      {"width NaN", &TStroke::SetWidth, &TStroke::WIDTH, kNaN, 0.1f},
      {"gamma 0", &TStroke::SetGamma, &TStroke::GAMMA, 0, 0.01f},
      {"gamma -2", &TStroke::SetGamma, &TStroke::GAMMA, -2, 0.01f},
      {"gamma 10", &TStroke::SetGamma, &TStroke::GAMMA, 10, 6},
      {"gamma NaN", &TStroke::SetGamma, &TStroke::GAMMA, kNaN, 0.01f},
      {"gamma 2.5", &TStroke::SetGamma, &TStroke::GAMMA, 2.5f, 2.5f},
      {"min 150", &TStroke::SetMinSize, &TStroke::MIN, 150, 100},
      {"min -5", &TStroke::SetMinSize, &TStroke::MIN, -5, 0},
      {"effect 255.5", &TStroke::SetEffect, &TStroke::EFFECT, 255.5f, 100},
      {"env NaN", &TStroke::SetEnv, &TStroke::ENV, kNaN, 0},
      {"speed inf", &TStroke::SetSpeed, &TStroke::SPEED, kInf, 100},
      {"speed 33.5", &TStroke::SetSpeed, &TStroke::SPEED, 33.5f, 33.5f},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TStroke s;
    s.WIDTH = 3;
    s.GAMMA = 1;
    s.MIN = s.EFFECT = s.ENV = s.SPEED = 50;
    (s.*c.Set)(c.In);
    EXPECT_EQ(s.*c.Field, c.Stored);
    EXPECT_TRUE(s.Changed);
    // The same value again changes nothing.
    s.SetChanged(false);
    (s.*c.Set)(c.Stored);
    EXPECT_EQ(s.*c.Field, c.Stored);
    EXPECT_FALSE(s.Changed);
  }

  TStroke s;
  s.SetLayer(5);
  EXPECT_EQ(s.LayerIndex, 5);
  EXPECT_FALSE(s.Changed);
  s.SetKind(bkPen);
  s.SetColor(0);
  s.SetPressureSize(false);
  EXPECT_FALSE(s.Changed);
  s.SetSmoothEdge(true);
  EXPECT_TRUE(s.Changed);
  s.SetChanged(false);
  s.SetColor(0x123456);
  EXPECT_TRUE(s.Changed);
  s.SetChanged(false);
  s.SetKind(9);  // no range check on the kind
  EXPECT_EQ(s.Kind, 9);
  EXPECT_TRUE(s.Changed);
}

TEST(Brush, StepAdjustersClampWithoutRaisingChanged) {
  TStroke s;
  s.WIDTH = 0.5f;
  s.AddWidth(-1);
  EXPECT_EQ(s.WIDTH, 0.1f);
  s.WIDTH = 199;
  s.AddWidth(4);
  EXPECT_EQ(s.WIDTH, 200);
  s.MIN = 95;
  s.AddMinSize(10);
  EXPECT_EQ(s.MIN, 100);
  s.EFFECT = 5;
  s.AddEffect(-10);
  EXPECT_EQ(s.EFFECT, 0);
  s.ENV = 20;
  s.AddEnv(kNaN);
  EXPECT_EQ(s.ENV, 0);
  s.SPEED = 20;
  s.AddSpeed(2.5f);
  EXPECT_EQ(s.SPEED, 22.5f);
  EXPECT_FALSE(s.Changed);
}

TEST(Brush, KindsAndTheirParameters) {
  // MIN WIDTH GAMMA EFFECT ENV SPEED ifSIZE ifTRANSPARENCY ifEDGE
  struct {
    uint8_t Kind;
    int32_t GetKind;
    const char* Uses;
  } cases[] = {
      {bkPen, 0, "111000110"},    {bkWatercolor, 1, "011111111"}, {bkBlur, 2, "011100000"},
      {bkEraser, 3, "011000011"}, {bkBlur2, 4, "011000000"},      {5, -1, "011000000"},
      {255, -1, "011000000"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(int(c.Kind));
    TStroke s;
    s.SetKind(c.Kind);
    EXPECT_EQ(s.GetKind(), c.GetKind);
    const bool has[] = {s.HasMinSize(),      s.HasWidth(),         s.HasGamma(),
                        s.HasEffect(),       s.HasEnv(),           s.HasSpeed(),
                        s.HasPressureSize(), s.HasPressureAlpha(), s.HasSmoothEdge()};
    for (int i = 0; i < 9; ++i) EXPECT_EQ(has[i], c.Uses[i] == '1') << "predicate " << i;
  }
}

TEST(Brush, PressureSizeFollowsMinOnlyForPenAndWatercolour) {
  TStroke s;
  s.SetWidth(1.5f);
  s.SetMinSize(75);
  s.SetPressureSize(true);
  EXPECT_EQ(s.PressureSize(0), 1.125f);
  EXPECT_EQ(s.PressureSize(1), 1.5f);
  EXPECT_EQ(s.PressureSize(0.5f), 1.3125f);
  s.SetKind(bkWatercolor);
  EXPECT_EQ(s.PressureSize(0), 1.125f);
  for (int k : {2, 3, 4, 7}) {
    s.SetKind(static_cast<uint8_t>(k));
    EXPECT_EQ(s.PressureSize(0), 1.5f) << int(k);
    EXPECT_EQ(s.PressureSize(0.3f), 1.5f) << int(k);
  }
  s.SetKind(bkPen);
  s.SetPressureSize(false);
  EXPECT_EQ(s.PressureSize(0), 1.5f);
  // The product is evaluated wide and rounded once where the Part stores it.
  s.SetPressureSize(true);
  s.SetWidth(7.3f);
  s.SetMinSize(33.3f);
  const float m = static_cast<float>(static_cast<long double>(7.3f) * 33.3f / 100);
  const float span = static_cast<float>(static_cast<long double>(7.3f) - m);
  EXPECT_EQ(s.PressureSize(0.7f), static_cast<float>(m + static_cast<long double>(0.7f) * span));
}

TEST(Brush, WidthSliderMapping) {
  const float toWidth[][2] = {{50, 80}, {80, 200}, {-5, 0.1f}, {0, 0}, {10, 10}, {39.5f, 39.5f}, {40, 40}, {41, 44}};
  for (const auto& c : toWidth) EXPECT_EQ(TStroke::SliderToWidth(c[0]), c[1]) << c[0];
  const float toSlider[][2] = {{200, 80}, {40, 40}, {120, 60}, {-1, 0.1f}, {12.5f, 12.5f}};
  for (const auto& c : toSlider) EXPECT_EQ(WidthToSlider(c[0]), c[1]) << c[0];
  for (int pos = 0; pos <= 80; ++pos) EXPECT_EQ(WidthToSlider(TStroke::SliderToWidth(pos)), pos);
}

TEST(Brush, RectRegionAccumulatesFromItsFirstPoint) {
  TRectRegion r;
  EXPECT_TRUE(r.Empty);
  r.Include(-3, 10);
  r.Include(8, -2);
  r.Include(1, 40);
  EXPECT_FALSE(r.Empty);
  EXPECT_EQ(r.Left, -3);
  EXPECT_EQ(r.Top, -2);
  EXPECT_EQ(r.Right, 8);
  EXPECT_EQ(r.Bottom, 40);
  r.Clear();
  EXPECT_TRUE(r.Empty);
  EXPECT_EQ(r.Right, 8);  // coordinates stay until the next point
  r.Include(5, 7);
  EXPECT_EQ(r.Left, 5);
  EXPECT_EQ(r.Top, 7);
  EXPECT_EQ(r.Right, 5);
  EXPECT_EQ(r.Bottom, 7);
}

TEST(Brush, HistoryQueriesStayInsideTheHistory) {
  TStroke s;
  s.HistX[7] = 3;
  s.HistPressure[0] = 0.5f;
  EXPECT_EQ(s.HistoryX(7), 3);
  EXPECT_EQ(s.HistoryPressure(0), 0.5f);
  EXPECT_EQ(s.HistoryX(8), 0);
  EXPECT_EQ(s.HistoryY(-1), 0);
}

TEST(BrushPresets, KeyPathsPerFamily) {
  EXPECT_EQ(PresetKeyPath(bkPen, 1), "Software\\Brenmoor\\Vellora\\pen1");
  EXPECT_EQ(PresetKeyPath(bkWatercolor, 3), "Software\\Brenmoor\\Vellora\\wc3");
  EXPECT_EQ(PresetKeyPath(bkBlur, 5), "Software\\Brenmoor\\Vellora\\blur5");
  EXPECT_EQ(PresetKeyPath(bkEraser, 2), "Software\\Brenmoor\\Vellora\\erase2");
  EXPECT_EQ(PresetKeyPath(bkBlur2, 4), "Software\\Brenmoor\\Vellora\\blur24");
  EXPECT_EQ(PresetKeyPath(5, 1), "");
}

TEST(BrushPresets, DefaultsPerKindAndAnEmptyKeyLeftBehind) {
  TTempSettings settings;
  const TBrushValues defaults[] = {
      {75, 1.5f, 1, 0, 0, 0, true, true, false},  {0, 16, 1, 65, 40, 30, true, true, false},
      {0, 12, 1, 5, 0, 0, false, false, false},   {0, 12, 1, 0, 0, 0, false, true, true},
      {0, 12, 1, 0, 0, 0, false, false, false},
  };
  for (uint8_t kind = 0; kind < kBrushKinds; ++kind) {
    SCOPED_TRACE(int(kind));
    TStroke s;
    s.SetColor(0xFF00FF);
    s.SetLayer(3);
    s.SetKind(bkEraser);
    // Whatever the brush held before, the load starts from the reset values.
    s.SetMinSize(50);
    s.SetSpeed(99);
    s.SetSmoothEdge(true);
    s.LoadPreset(kind, 4);
    EXPECT_EQ(ValuesOf(s), defaults[kind]);
    EXPECT_EQ(s.Kind, bkEraser);
    EXPECT_EQ(s.Color, 0xFF00FFu);
    EXPECT_EQ(s.LayerIndex, 3);
    plat::TRegistry reg;
    EXPECT_TRUE(reg.KeyExists(PresetKeyPath(kind, 4)));
    ASSERT_TRUE(reg.OpenKey(PresetKeyPath(kind, 4), false));
    EXPECT_FALSE(reg.ValueExists("WIDTH"));
  }

  // A kind outside 0..4 keeps the reset values and opens no key.
  TStroke s;
  s.SetMinSize(50);
  s.SetWidth(30);
  s.LoadPreset(7, 1);
  EXPECT_EQ(ValuesOf(s), (TBrushValues{0, 0.1f, 1, 0, 0, 0, false, false, false}));
  EXPECT_FALSE(s.SavePreset(7, 1));
}

TEST(BrushPresets, RoundTripThroughTheStoreKeepsEveryValue) {
  TTempSettings settings;
  TStroke s;
  s.SetKind(bkBlur);
  s.LoadPreset(bkBlur, 2);
  s.SetMinSize(12.34f);
  s.SetWidth(77.7f);
  s.SetGamma(0.3f);
  s.SetEffect(99.9f);
  s.SetEnv(1.5f);
  s.SetSpeed(0.01f);
  s.SetPressureSize(true);  // unused by the old blur, kept all the same
  s.SetPressureAlpha(false);
  s.SetSmoothEdge(true);
  ASSERT_TRUE(s.SavePreset(bkBlur, 2));

  TStroke t;
  t.LoadPreset(bkBlur, 2);
  EXPECT_EQ(ValuesOf(t), ValuesOf(s));
  // Another preset of the same kind and the same number of another kind are separate.
  TStroke u;
  u.LoadPreset(bkBlur, 3);
  EXPECT_EQ(u.WIDTH, 12);
  u.LoadPreset(bkBlur2, 2);
  EXPECT_EQ(u.WIDTH, 12);
  EXPECT_FALSE(u.ifSIZE);

  plat::TRegistry reg;
  ASSERT_TRUE(reg.OpenKey(PresetKeyPath(bkBlur, 2), false));
  EXPECT_EQ(reg.ReadFloat("WIDTH"), static_cast<double>(77.7f));
  EXPECT_EQ(reg.ReadDword("ifSIZE"), 1u);
  EXPECT_EQ(reg.ReadDword("ifTRANSPARENCY"), 0u);
}

TEST(BrushPresets, StoredValuesAreClampedAndBadOnesKeepTheDefault) {
  TTempSettings settings;
  {
    plat::TRegistry reg;
    ASSERT_TRUE(reg.OpenKey(PresetKeyPath(bkWatercolor, 1), true));
    reg.WriteFloat("MIN", -5);
    reg.WriteFloat("WIDTH", 1e300);
    reg.WriteFloat("GAMMA", 0);
    reg.WriteFloat("EFFECT", 1000);
    reg.WriteFloat("ENV", std::numeric_limits<double>::quiet_NaN());
    reg.WriteFloat("SPEED", std::numeric_limits<double>::infinity());
    reg.WriteDword("ifSIZE", 0);
    reg.WriteDword("ifTRANSPARENCY", 7);  // any non-zero value is on
    reg.WriteString("ifEDGE", "1");
    ASSERT_TRUE(reg.OpenKey(PresetKeyPath(bkWatercolor, 2), true));
    reg.WriteDword("WIDTH", 50);                                // wrong type
    reg.WriteBinary("MIN", {0, 0, 0x80, 0x3f});                 // a single, not a double
    reg.WriteBinary("GAMMA", std::vector<uint8_t>(9, 0));       // wrong size
    reg.WriteFloat("ifEDGE", 1);                                // wrong type for a switch
    reg.WriteFloat("EFFECT", 12.5);
    reg.WriteFloat("GAMMA ", 3);  // another name
    ASSERT_TRUE(reg.OpenKey(PresetKeyPath(bkWatercolor, 3), true));
    reg.WriteFloat("WIDTH", -1);
    reg.WriteFloat("GAMMA", 99);
  }
  TStroke s;
  s.LoadPreset(bkWatercolor, 1);
  EXPECT_EQ(ValuesOf(s), (TBrushValues{0, 200, 0.01f, 100, 40, 100, false, true, false}));
  s.LoadPreset(bkWatercolor, 2);
  EXPECT_EQ(ValuesOf(s), (TBrushValues{0, 16, 1, 12.5f, 40, 30, true, true, false}));
  s.LoadPreset(bkWatercolor, 3);
  EXPECT_EQ(s.WIDTH, 0.1f);
  EXPECT_EQ(s.GAMMA, 6);

  // The key was closed after each load: a value written afterwards is seen by the next load.
  {
    plat::TRegistry reg;
    ASSERT_TRUE(reg.OpenKey(PresetKeyPath(bkWatercolor, 3), false));
    reg.WriteFloat("WIDTH", 33);
  }
  s.LoadPreset(bkWatercolor, 3);
  EXPECT_EQ(s.WIDTH, 33);
}

TEST(BrushPresets, FailedSaveIsReported) {
  TTempSettings settings;
  // A settings folder below a plain file cannot be created.
  const std::string blocker = settings.Path("file");
  std::ofstream(blocker) << "x";
  setenv("VELLORA_SETTINGS_DIR", (blocker + "/settings").c_str(), 1);
  TStroke s;
  s.LoadPreset(bkPen, 1);  // the defaults still apply
  EXPECT_EQ(s.WIDTH, 1.5f);
  EXPECT_EQ(s.MIN, 75);
  EXPECT_FALSE(s.SavePreset(bkPen, 1));
}

TEST(BrushRecording, LiveValuesAreTheOnesAStrokeEventGivesBack) {
  const float params[][2] = {{7.3f, 1868 / 256.0f},   {0.1f, 25 / 256.0f}, {200, 200},
                             {33.33f, 8532 / 256.0f}, {0.01f, 2 / 256.0f}, {1.5f, 1.5f}};
  for (const auto& c : params) EXPECT_EQ(RecordedParameter(c[0]), c[1]) << c[0];
  const float pressures[][2] = {{0.7f, 716 / 1024.0f}, {1, 1}, {0, 0}, {0.0009f, 0}, {0.5f, 0.5f}};
  for (const auto& c : pressures) EXPECT_EQ(RecordedPressure(c[0]), c[1]) << c[0];
  EXPECT_EQ(RecordedCoordinate(40000), 32767);
  EXPECT_EQ(RecordedCoordinate(-40000), -32768);
  EXPECT_EQ(RecordedPressure(40), 32767 / 1024.0f);
  EXPECT_EQ(RecordedCoordinate(-3), -3);

  TTempSettings settings;
  TStroke s;
  s.LoadPreset(bkWatercolor, 1);
  s.SetWidth(7.3f);
  s.SetGamma(0.01f);
  s.SetMinSize(33.33f);
  s.SetEnv(40.1f);
  s.SetColor(0xFF123456);
  s.SetLayer(3);
  s.UseRecordedValues();
  EXPECT_EQ(s.WIDTH, 1868 / 256.0f);
  EXPECT_EQ(s.GAMMA, 2 / 256.0f);
  EXPECT_EQ(s.MIN, 8532 / 256.0f);
  EXPECT_EQ(s.ENV, 10265 / 256.0f);
  EXPECT_EQ(s.EFFECT, 65);
  EXPECT_EQ(s.Color, 0x123456u);
  EXPECT_EQ(s.LayerIndex, 3);
  // Once recorded, the values stay what they are: a second pass changes nothing.
  const TBrushValues once = ValuesOf(s);
  s.SetChanged(false);
  s.UseRecordedValues();
  EXPECT_EQ(ValuesOf(s), once);
  EXPECT_FALSE(s.Changed);
  // The smallest width records as 25/256, which the setter brings back to 0.1.
  s.SetWidth(0.1f);
  s.UseRecordedValues();
  EXPECT_EQ(s.WIDTH, 0.1f);
}

// Whatever values a brush holds when a stroke starts, the live brush and the brush a replay
// sets from the stroke's record end up the same, and recording the live brush again gives the
// same bytes. Clamps off the 1/256 grid (the smallest GAMMA and WIDTH) are where they can part.
TEST(BrushRecording, ARecordedBrushReadsBackAsTheLiveOne) {
  struct {
    const char* Name;
    float Min, Width, Gamma;
  } cases[] = {
      {"a brush never given values", 0, 0, 0},
      {"a gamma below the grid", 75, 1.5f, 0.003f},
      {"the smallest gamma", 75, 1.5f, 0.01f},
      {"a gamma just above the grid step", 75, 1.5f, 0.0045f},
      {"a width below the smallest", 33.3f, 0.05f, 1.3f},
      {"a negative minimum", -4, 7.77f, -2},
      {"the largest values", 100, 200, 6},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TStroke live;
    // The fields as they stand, not through the setters: a brush before its first preset.
    live.MIN = c.Min;
    live.WIDTH = c.Width;
    live.GAMMA = c.Gamma;
    live.SetPressureSize(true);
    live.SetPressureAlpha(true);
    live.UseRecordedValues();

    TEventPacket rec;
    rec.BeginStroke(live, 10, 10, 1);
    rec.EndStroke();
    TStroke replay;
    replay.SetKind(static_cast<uint8_t>(rec.ReadCode()));
    float x, y, p;
    ASSERT_TRUE(rec.ReadStrokeBegin(replay, x, y, p));
    EXPECT_EQ(ValuesOf(replay), ValuesOf(live));

    TEventPacket again;
    again.BeginStroke(replay, 10, 10, 1);
    again.EndStroke();
    EXPECT_EQ(StreamBytes(again), StreamBytes(rec));
  }
}
