// A stroke drawn live, recorded, exported, imported and replayed gives the same pixels.
#include <gtest/gtest.h>

#include <vector>

#include "StrokeTestHarness.h"
#include "common/TempDir.h"
#include "engine/EventPacket.h"
#include "engine/Stroke.h"

namespace {

constexpr int32_t kW = 72, kH = 56;

struct TInput {
  int32_t X, Y;  // paper points, as the stroke input hands them on
  float P;
};

struct TLiveStroke {
  uint8_t Kind;
  uint32_t Color;
  // Brush values as a user leaves them with sliders and presets: not on the 1/256 grid.
  float Min, Width, Gamma, Effect, Env, Speed;
  bool Size, Transparency, Edge;
  std::vector<TInput> Points;
};

// Stripes and a block of colour, so that blurs, the eraser and the watercolour's pick-up have
// something to work on.
void Background(TStrokeCanvas& c) {
  for (int32_t x = 0; x < kW; x += 6) c.Layer.FillRect(x, 0, 3, kH, 0xFF3050A0);
  c.Layer.FillRect(20, 10, 30, 20, 0xFFE0C040);
  c.Reload();
}

void SetUp(TStroke& b, const TLiveStroke& s) {
  b.SetKind(s.Kind);
  b.SetColor(s.Color);
  b.SetMinSize(s.Min);
  b.SetWidth(s.Width);
  b.SetGamma(s.Gamma);
  b.SetEffect(s.Effect);
  b.SetEnv(s.Env);
  b.SetSpeed(s.Speed);
  b.SetPressureSize(s.Size);
  b.SetPressureAlpha(s.Transparency);
  b.SetSmoothEdge(s.Edge);
  b.SetLayer(0);
}

// The live road: the brush takes its recorded values at the stroke's start and every point
// is drawn with the pressure its record carries; each kept point is recorded; the release
// point follows with pressure 0.
void DrawLive(TStrokeCanvas& c, TStroke& b, TEventPacket& rec, const std::vector<TInput>& pts, bool asRecorded) {
  auto pressure = [&](float p) { return asRecorded ? RecordedPressure(p) : p; };
  if (asRecorded) b.UseRecordedValues();
  const TInput& first = pts.front();
  c.Begin(b, static_cast<float>(first.X), static_cast<float>(first.Y), pressure(first.P));
  rec.BeginStroke(b, static_cast<float>(first.X), static_cast<float>(first.Y), first.P);
  for (size_t i = 1; i < pts.size(); ++i) {
    c.Move(b, static_cast<float>(pts[i].X), static_cast<float>(pts[i].Y), pressure(pts[i].P));
    rec.AddStrokePoint(static_cast<float>(pts[i].X), static_cast<float>(pts[i].Y), pts[i].P);
  }
  const TInput& last = pts.back();
  rec.AddStrokePoint(static_cast<float>(last.X), static_cast<float>(last.Y), 0);
  c.Move(b, static_cast<float>(last.X), static_cast<float>(last.Y), 0);
  rec.EndStroke();
  c.End(b);
}

const std::vector<TLiveStroke>& Strokes() {
  static const std::vector<TLiveStroke> strokes = {
      {bkPen, 0x102030, 41.3f, 5.3f, 1.7f, 0, 0, 0, true, true, false,
       {{4, 6, 0.21f}, {12, 9, 0.47f}, {25, 15, 0.93f}, {37, 19, 0.77f}, {48, 30, 0.35f}, {60, 44, 0.61f}}},
      {bkWatercolor, 0xC01020, 0, 9.7f, 0.83f, 57.7f, 33.3f, 21.1f, true, true, true,
       {{66, 4, 0.3f}, {55, 14, 0.71f}, {43, 27, 0.99f}, {31, 33, 0.52f}, {18, 41, 0.88f}, {8, 50, 0.4f}}},
      {bkBlur, 0, 0, 5.9727f, 1.1f, 83.715f, 0, 0, false, false, false,
       {{5, 28, 0.6f}, {20, 26, 0.9f}, {35, 30, 0.8f}, {50, 25, 1.0f}, {67, 29, 0.7f}}},
      {bkEraser, 0, 0, 3.33f, 2.3f, 0, 0, 0, false, true, true,
       {{10, 48, 0.55f}, {22, 40, 0.85f}, {30, 22, 0.66f}, {34, 8, 0.91f}}},
      {bkBlur2, 0, 0, 6.6f, 0.77f, 0, 0, 0, false, false, false,
       {{64, 50, 0.4f}, {52, 38, 0.8f}, {44, 20, 1.0f}, {40, 6, 0.7f}}},
      {bkPen, 0x00FF80, 75, 1.37f, 1, 0, 0, 0, true, false, false,
       {{2, 2, 1.0f}, {9, 3, 0.9f}, {15, 5, 0.5f}, {16, 12, 0.31f}, {14, 20, 0.2f}}},
  };
  return strokes;
}

// Replays every stroke of a stream on a fresh layer with one playback brush, calling back after
// each stroke with its index.
template <class F>
void Replay(TEventPacket& play, TStrokeCanvas& c, F afterStroke) {
  TStroke brush;
  int32_t w = 0, h = 0;
  ASSERT_EQ(play.ReadCode(), 512);
  ASSERT_TRUE(play.ReadNewPaper(w, h));
  ASSERT_EQ(w, kW);
  int index = 0;
  for (;;) {
    const uint16_t code = play.ReadCode();
    if (code == 0xFFFF) break;
    if (code <= 4) {
      brush.SetKind(static_cast<uint8_t>(code));
      float x, y, p;
      ASSERT_TRUE(play.ReadStrokeBegin(brush, x, y, p));
      c.Begin(brush, x, y, p);
      bool last = false;
      while (!last) {
        last = play.ReadStrokePoint(x, y, p);
        c.Move(brush, x, y, p);
      }
      c.End(brush);
    } else if (code == 305) {
      int32_t x1, y1, x2, y2;
      ASSERT_TRUE(play.ReadLine(brush, x1, y1, x2, y2));
      c.Line(brush, x1, y1, x2, y2);
    } else {
      FAIL() << "unexpected event " << code;
    }
    afterStroke(index++);
  }
}

struct TLiveResult {
  std::vector<uint64_t> Hashes;  // the layer after each stroke
  std::string File;
};

TLiveResult DrawAndExport(const TTempDir& dir, bool asRecorded) {
  TLiveResult out;
  TStrokeCanvas live(kW, kH, 0);
  Background(live);
  TEventPacket rec;
  rec.WriteNewPaper(kW, kH);
  TStroke brush;  // the local user's one brush, carried from stroke to stroke
  brush.LoadPreset(bkPen, 1);
  for (const auto& s : Strokes()) {
    SetUp(brush, s);
    DrawLive(live, brush, rec, s.Points, asRecorded);
    out.Hashes.push_back(live.Hash());
  }
  // A straight line with the brush as it stands, as the line tool records it.
  if (asRecorded) brush.UseRecordedValues();
  live.Line(brush, 3, 52, 69, 33);
  rec.WriteLine(brush, 3, 52, 69, 33);
  out.Hashes.push_back(live.Hash());
  rec.WriteEndMarker();
  out.File = dir.Path(asRecorded ? "live.wpe" : "raw.wpe");
  EXPECT_TRUE(rec.ExportToFile(out.File));
  return out;
}

}  // namespace

TEST(StrokeReplay, EveryKindReplaysToTheLivePixels) {
  TTempSettings settings;
  const TLiveResult live = DrawAndExport(settings, true);

  TEventPacket play;
  ASSERT_TRUE(play.LoadFromFile(live.File));
  TStrokeCanvas again(kW, kH, 0);
  Background(again);
  const uint64_t blank = again.Hash();
  Replay(play, again, [&](int i) {
    SCOPED_TRACE(i < static_cast<int>(Strokes().size()) ? "stroke of kind " + std::to_string(Strokes()[i].Kind)
                                                         : std::string("line"));
    ASSERT_LT(i, static_cast<int>(live.Hashes.size()));
    EXPECT_EQ(again.Hash(), live.Hashes[i]) << again.Picture();
  });
  // Every stroke changed the picture.
  EXPECT_NE(live.Hashes.front(), blank);
  for (size_t i = 1; i < live.Hashes.size(); ++i) EXPECT_NE(live.Hashes[i], live.Hashes[i - 1]) << i;
}

TEST(StrokeReplay, UnrecordedValuesWouldNotReplayTheSame) {
  // The same drawing made with the brush values and pressures as the user left them: its record
  // replays to other pixels, which is what drawing with the recorded values prevents.
  TTempSettings settings;
  const TLiveResult raw = DrawAndExport(settings, false);
  TEventPacket play;
  ASSERT_TRUE(play.LoadFromFile(raw.File));
  TStrokeCanvas again(kW, kH, 0);
  Background(again);
  int differing = 0;
  Replay(play, again, [&](int i) { differing += again.Hash() != raw.Hashes[i]; });
  EXPECT_GT(differing, 0);
}

TEST(StrokeReplay, StreamValuesGoThroughTheBrushClamps) {
  // Attribute fields at both ends of their 16-bit range, as a crafted file can hold them.
  struct {
    uint16_t Field;
    float Min, Width, Gamma, Effect;
  } cases[] = {{0xFFFF, 100, 200, 6, 100}, {0, 0, 0.1f, 0.01f, 0}, {1, 1 / 256.0f, 0.1f, 1 / 256.0f, 1 / 256.0f}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Field);
    TEventPacket rec;
    TStrokeAttributes a;
    a.MIN = a.WIDTH = a.GAMMA = a.EFFECT = a.ENV = a.SPEED = c.Field / 256.0f;
    rec.BeginStroke(a, bkWatercolor, 5, 5, 1);
    rec.AddStrokePoint(6, 6, 0);
    rec.EndStroke();
    TStroke b;
    b.SetKind(static_cast<uint8_t>(rec.ReadCode()));
    float x, y, p;
    ASSERT_TRUE(rec.ReadStrokeBegin(b, x, y, p));
    EXPECT_EQ(b.MIN, c.Min);
    EXPECT_EQ(b.WIDTH, c.Width);
    EXPECT_EQ(b.GAMMA, c.Gamma);
    EXPECT_EQ(b.EFFECT, c.Effect);
    EXPECT_EQ(b.ENV, c.Effect);
    EXPECT_EQ(b.SPEED, c.Effect);
    // The largest values still draw: the old blur's box and the watercolour's alphas stay in range.
    TStrokeCanvas canvas(24, 24, 0);
    canvas.Begin(b, x, y, p);
    canvas.Move(b, 12, 12, 1);
    canvas.Move(b, 12, 12, 0);
    canvas.End(b);
  }
}

// A brush that comes to a stroke with values off the record's grid, even ones its setters
// never give (a brush before its first preset, a stored gamma below 1/256), is drawn live as
// its replay draws it.
TEST(StrokeReplay, ABrushOffTheRecordGridReplaysToTheLivePixels) {
  struct {
    const char* Name;
    uint8_t Kind;
    float Min, Width, Gamma;
  } cases[] = {
      {"pen never given values", bkPen, 0, 0, 0},
      {"wide pen never given a gamma", bkPen, 40, 6.3f, 0},
      {"pen with a gamma below the grid", bkPen, 75, 4.5f, 0.003f},
      {"eraser never given a gamma", bkEraser, 0, 4.2f, 0},
  };
  const std::vector<TInput> points = {{5, 5, 0.3f},   {20, 12, 0.45f}, {33, 30, 0.2f}, {47, 21, 0.6f},
                                      {60, 40, 0.35f}, {66, 50, 0.5f},  {40, 48, 0.15f}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TStrokeCanvas live(kW, kH, 0);
    Background(live);
    TEventPacket rec;
    rec.WriteNewPaper(kW, kH);
    TStroke brush;
    brush.SetKind(c.Kind);
    brush.SetColor(0x204080);
    brush.MIN = c.Min;
    brush.WIDTH = c.Width;
    brush.GAMMA = c.Gamma;
    brush.SetPressureSize(true);
    brush.SetPressureAlpha(true);
    DrawLive(live, brush, rec, points, true);
    rec.WriteEndMarker();

    TStrokeCanvas again(kW, kH, 0);
    Background(again);
    const uint64_t blank = again.Hash();
    Replay(rec, again, [](int) {});
    EXPECT_NE(live.Hash(), blank);
    EXPECT_EQ(again.Hash(), live.Hash()) << again.Picture();
  }
}
