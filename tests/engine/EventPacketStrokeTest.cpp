// The recorder and reader with the real brush: what a brush records is what a playback brush gets.
#include <gtest/gtest.h>

#include "engine/EventPacket.h"
#include "engine/Stroke.h"

namespace {

TEST(EventPacketBrush, StrokeAndLineCarryTheBrushState) {
  TStroke live;
  live.SetKind(bkWatercolor);
  live.SetLayer(3);
  live.SetColor(0x00123456);
  live.SetPressureSize(true);
  live.SetSmoothEdge(true);
  live.SetMinSize(12.5f);
  live.SetWidth(16);
  live.SetGamma(1.25f);
  live.SetEffect(65);
  live.SetEnv(40);
  live.SetSpeed(30);

  TEventPacket p;
  p.BeginStroke(live, 10, 20, 0.5f);
  p.AddStrokePoint(11, 21, 0);
  p.EndStroke();
  p.WriteLine(live, 1, 2, 3, 4);

  EXPECT_EQ(p.ReadCode(), bkWatercolor);
  TStroke played;
  float x, y, pr;
  ASSERT_TRUE(p.ReadStrokeBegin(played, x, y, pr));
  EXPECT_EQ(played.LayerIndex, 3);
  EXPECT_EQ(played.Color, 0x123456u);
  EXPECT_TRUE(played.ifSIZE);
  EXPECT_FALSE(played.ifTRANSPARENCY);
  EXPECT_TRUE(played.ifEDGE);
  EXPECT_EQ(played.MIN, 12.5f);
  EXPECT_EQ(played.WIDTH, 16);
  EXPECT_EQ(played.GAMMA, 1.25f);
  EXPECT_EQ(played.EFFECT, 65);
  EXPECT_EQ(played.ENV, 40);
  EXPECT_EQ(played.SPEED, 30);
  EXPECT_TRUE(p.ReadStrokePoint(x, y, pr));

  EXPECT_EQ(p.ReadCode(), ecLine);
  TStroke lineBrush;
  int32_t x1, y1, x2, y2;
  ASSERT_TRUE(p.ReadLine(lineBrush, x1, y1, x2, y2));
  EXPECT_EQ(lineBrush.Kind, bkWatercolor);
  EXPECT_EQ(lineBrush.WIDTH, 16);
}

TEST(EventPacketBrush, ScaledWidthKeepsToTheBrushRange) {
  struct Case {
    float width, scale, applied;
  } cases[] = {{1.5f, 0.5f, 0.75f}, {2, 200, 200}, {0.5f, 0.01f, 0.1f}};
  for (const auto& c : cases) {
    TStroke live;
    live.SetWidth(c.width);
    TEventPacket p;
    p.BeginStroke(live, 0, 0, 1);
    p.AddStrokePoint(0, 0, 0);
    p.EndStroke();
    p.SetScale(c.scale);
    p.ReadCode();
    TStroke played;
    float x, y, pr;
    p.ReadStrokeBegin(played, x, y, pr);
    EXPECT_EQ(played.WIDTH, c.applied) << c.width << " x " << c.scale;
  }
}

}  // namespace
