// The tool model on its own: cells, held keys, cursors, drags and shapes.
#include <gtest/gtest.h>

#include <initializer_list>
#include <memory>

#include "engine/LayerMng.h"
#include "engine/Paper.h"
#include "painter/ToolMode.h"
#include "platform/core/KeyState.h"

namespace {

// A white tool box picture: every cell byte starts at 255.
struct WhitePicture {
  TTC canvas{kToolBoxWidth, kToolBoxHeight};
  WhitePicture() { canvas.Fill(0xFFFFFFFFu); }
  TPixelView View() const { return canvas.View(); }
};

struct Keys {
  explicit Keys(std::initializer_list<int> held) {
    plat::ClearKeys();
    for (int k : held) plat::SetKeyDown(k, true);
  }
  ~Keys() { plat::ClearKeys(); }
};

struct FakeForm : TDisplayForm {
  int32_t w = 400, h = 300;
  int32_t ClientWidth() const override { return w; }
  int32_t ClientHeight() const override { return h; }
  void SetClientSize(int32_t cw, int32_t ch) override { w = cw, h = ch; }
  void FillRect(int32_t, int32_t, int32_t, int32_t, uint32_t) override {}
};

class ToolModeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    plat::ClearKeys();
    plat::SetCursorPos(500, 500);
    mode = std::make_unique<TToolMode>();
    mode->SetPicture(picture.View(), kToolBoxWidth, kToolBoxHeight);
  }
  void TearDown() override { plat::ClearKeys(); }
  TPaper& Paper() {
    if (!paper) {
      paper = std::make_unique<TPaper>();
      paper->Init("test", 480, 320);
    }
    return *paper;
  }
  WhitePicture picture;
  std::unique_ptr<TToolMode> mode;
  std::unique_ptr<TPaper> paper;
};

TEST_F(ToolModeTest, ClickToolboxSelectsTheCellsToolAndIgnoresTheGaps) {
  struct Row {
    int x, y;
    TToolKind kind;  // tkCircle: unchanged
    int fill;        // -1 unchanged
    uint8_t move, hand, rotate;
  };
  const Row rows[] = {
      {15, 0, tkPen, -1, 0, 0, 0},       {15, 25, tkPen, -1, 0, 0, 0},      {31, 12, tkPen, -1, 0, 0, 0},
      {15, 26, tkSpoit, -1, 0, 0, 0},    {15, 49, tkSpoit, -1, 0, 0, 0},    {15, 62, tkRect, 1, 0, 0, 0},
      {15, 87, tkPolygon, 1, 0, 0, 0},   {15, 101, tkHand, -1, 0, 1, 0},    {15, 124, tkHand, -1, 0, 1, 0},
      {15, 130, tkCircle, -1, 0, 0, 0},  {47, 1, tkMove, -1, 1, 0, 0},      {62, 24, tkMove, -1, 1, 0, 0},
      {32, 26, tkLine, -1, 0, 0, 0},     {47, 62, tkRect, 0, 0, 0, 0},      {47, 87, tkPolygon, 0, 0, 0, 0},
      {47, 110, tkRotate, -1, 0, 0, 1},  {47, 140, tkCircle, -1, 0, 0, 0},
      // Gaps between cells.
      {0, 10, tkCircle, -1, 0, 0, 0},    {15, 50, tkCircle, -1, 0, 0, 0},   {15, 75, tkCircle, -1, 0, 0, 0},
      {15, 150, tkCircle, -1, 0, 0, 0},  {47, 0, tkCircle, -1, 0, 0, 0},    {47, 25, tkCircle, -1, 0, 0, 0},
      {47, 100, tkCircle, -1, 0, 0, 0},  {63, 10, tkCircle, -1, 0, 0, 0},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(::testing::Message() << "click " << r.x << "," << r.y);
    mode->SetTool(tkCircle);
    mode->Fill = true;
    mode->BeginRect(1, 1);  // no effect on circle: shape must stay untouched either way
    mode->SizeState = dsDragging;
    mode->ZoomInArmed = mode->ZoomOutArmed = true;
    mode->ClickToolbox(r.x, r.y);
    EXPECT_EQ(mode->Kind, r.kind);
    if (r.fill >= 0) {
      EXPECT_EQ(mode->Fill, r.fill == 1);
    }
    EXPECT_EQ(mode->MoveState, r.move);
    EXPECT_EQ(mode->HandState, r.hand);
    EXPECT_EQ(mode->RotateState, r.rotate);
    EXPECT_EQ(mode->SizeState, dsIdle);
    EXPECT_FALSE(mode->ZoomInArmed || mode->ZoomOutArmed);
  }
  // The click keeps a shape in progress (the tool box drops it itself).
  mode->SetTool(tkPolygon);
  mode->AddPolygonPoint(3, 4);
  mode->ClickToolbox(47, 62);
  EXPECT_EQ(mode->Count, 1);

  EXPECT_TRUE(TToolMode::IsLineCell(32, 26) && TToolMode::IsLineCell(62, 49));
  EXPECT_FALSE(TToolMode::IsLineCell(31, 30) || TToolMode::IsLineCell(40, 50));
  EXPECT_TRUE(TToolMode::IsZoomInCell(1, 126) && TToolMode::IsZoomInCell(31, 149));
  EXPECT_FALSE(TToolMode::IsZoomInCell(32, 130) || TToolMode::IsZoomInCell(10, 150));
  EXPECT_TRUE(TToolMode::IsZoomOutCell(32, 126) && TToolMode::IsZoomOutCell(62, 149));
  EXPECT_FALSE(TToolMode::IsZoomOutCell(31, 130) || TToolMode::IsZoomOutCell(40, 125));
}

TEST_F(ToolModeTest, HeldKeysArmAndClearTheTemporaryTools) {
  using namespace plat;
  struct Row {
    const char* name;
    std::initializer_list<int> keys;
    TToolKind kind;
    uint8_t start;  // every drag state before; the zoom flags are set when it is not 0
    uint8_t size, hand, rotate, move;
    bool zoomIn, zoomOut;
  };
  const Row rows[] = {
      {"released keys end every drag", {}, tkPen, 2, 0, 0, 0, 0, false, false},
      {"the hand kind keeps its drag", {}, tkHand, 2, 0, 2, 0, 0, false, false},
      {"the rotate kind keeps its drag", {}, tkRotate, 2, 0, 0, 2, 0, false, false},
      {"the move kind keeps its drag", {}, tkMove, 2, 0, 0, 0, 2, false, false},
      {"the zoom-in kind keeps its flag", {}, tkZoomIn, 2, 0, 0, 0, 0, true, false},
      {"the zoom-out kind keeps its flag", {}, tkZoomOut, 2, 0, 0, 0, 0, false, true},
      {"space arms the hand", {VK_SPACE}, tkPen, 0, 0, 1, 0, 0, false, false},
      {"alt arms the rotation", {VK_MENU}, tkPen, 0, 0, 0, 1, 0, false, false},
      {"ctrl+alt arms the size, not the rotation", {VK_CONTROL, VK_MENU}, tkPen, 0, 1, 0, 0, 0, false, false},
      {"ctrl alone arms nothing", {VK_CONTROL}, tkPen, 0, 0, 0, 0, 0, false, false},
      {"ctrl+space marks zoom in", {VK_CONTROL, VK_SPACE}, tkPen, 0, 0, 0, 0, 0, true, false},
      {"ctrl+alt+space marks zoom out", {VK_CONTROL, VK_MENU, VK_SPACE}, tkPen, 0, 0, 0, 0, 0, true, true},
      {"shift keeps running drags", {VK_SHIFT}, tkPen, 2, 2, 2, 2, 2, true, true},
      {"alt keeps a running rotation", {VK_MENU}, tkPen, 2, 2, 2, 2, 2, true, true},
      {"space over a running hand drag", {VK_SPACE}, tkHand, 2, 2, 2, 2, 2, true, true},
      {"m keeps the states", {'M'}, tkLine, 1, 1, 1, 1, 1, true, true},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    mode->SetTool(r.kind);
    mode->SizeState = mode->HandState = mode->RotateState = mode->MoveState = r.start;
    mode->ZoomInArmed = mode->ZoomOutArmed = r.start != 0;
    Keys keys(r.keys);
    mode->UpdateModifiers();
    EXPECT_EQ(mode->SizeState, r.size);
    EXPECT_EQ(mode->HandState, r.hand);
    EXPECT_EQ(mode->RotateState, r.rotate);
    EXPECT_EQ(mode->MoveState, r.move);
    EXPECT_EQ(mode->ZoomInArmed, r.zoomIn);
    EXPECT_EQ(mode->ZoomOutArmed, r.zoomOut);
  }
}

TEST_F(ToolModeTest, CursorFollowsTheKindThenTheTemporaryToolsInOrder) {
  struct KindRow {
    TToolKind kind;
    int32_t cursor;
  };
  const KindRow kinds[] = {{tkZoomIn, 5}, {tkZoomOut, 6}, {tkPen, 8},    {tkRotate, 12},   {tkHand, 12},
                           {tkRect, 14}, {tkLine, 14},   {tkPolygon, 14}, {tkMagicWand, 14}, {tkFreehand, 14},
                           {tkMove, 13}, {tkSpoit, 7},   {tkCircle, -1}};
  for (const KindRow& k : kinds) {
    mode->SetTool(k.kind);
    EXPECT_EQ(mode->CursorNumber(), k.cursor) << int(k.kind);
  }
  // Each later temporary tool overrides the earlier ones.
  mode->SetTool(tkPen);
  mode->MoveState = dsArmed;
  EXPECT_EQ(mode->CursorNumber(), 13);
  mode->HandState = dsDragging;
  EXPECT_EQ(mode->CursorNumber(), 12);
  mode->HandState = dsIdle;
  mode->RotateState = dsArmed;
  EXPECT_EQ(mode->CursorNumber(), 12);
  mode->SizeState = dsArmed;
  EXPECT_EQ(mode->CursorNumber(), 14);
  mode->ZoomInArmed = true;
  EXPECT_EQ(mode->CursorNumber(), 5);
  mode->ZoomOutArmed = true;
  EXPECT_EQ(mode->CursorNumber(), 6);
}

TEST_F(ToolModeTest, RotationStepTurnsByTheDistanceOver150) {
  FakeForm form;
  struct Row {
    int dx, dy;
    float angle;
  };
  for (const Row& r : {Row{150, 0, -1.0f}, Row{-150, 0, 1.0f}, Row{0, 150, 1.0f}}) {
    Paper().Display.SetAngle(0);
    mode->SetTool(tkRotate);
    plat::SetCursorPos(500, 500);
    ASSERT_TRUE(mode->BeginRotateDrag(500, 500));
    EXPECT_FALSE(mode->TrackRotateDrag(Paper(), form));  // the cursor has not moved
    plat::SetCursorPos(500 + r.dx, 500 + r.dy);
    ASSERT_TRUE(mode->TrackRotateDrag(Paper(), form));
    EXPECT_FLOAT_EQ(Paper().Display.Angle, r.angle);
    EXPECT_TRUE(mode->EndRotateDrag());
    EXPECT_EQ(mode->RotateState, dsArmed);
  }
  // Ctrl or Space held: no rotation starts.
  Keys keys({plat::VK_CONTROL});
  EXPECT_FALSE(mode->BeginRotateDrag(0, 0));
}

TEST_F(ToolModeTest, SizeDragRefusesWidthsOutside0To200) {
  Paper().Display.ZoomIndex = 0;
  mode->SizeState = dsArmed;
  ASSERT_TRUE(mode->BeginSizeDrag(500, 500, 10.0f));
  float w = -1;
  plat::SetCursorPos(540, 500);
  ASSERT_TRUE(mode->TrackSizeDrag(Paper(), w));
  EXPECT_FLOAT_EQ(w, 30.0f);
  w = -1;
  plat::SetCursorPos(479, 500);  // 10 - 10.5 < 0
  EXPECT_FALSE(mode->TrackSizeDrag(Paper(), w));
  plat::SetCursorPos(500 + 381, 500);  // 10 + 190.5 > 200
  EXPECT_FALSE(mode->TrackSizeDrag(Paper(), w));
  EXPECT_EQ(w, -1);
  plat::SetCursorPos(500 + 380, 600);
  EXPECT_TRUE(mode->TrackSizeDrag(Paper(), w));
  EXPECT_FLOAT_EQ(w, 200.0f);
  {
    Keys keys({plat::VK_SPACE});
    EXPECT_FALSE(mode->TrackSizeDrag(Paper(), w));
  }
  EXPECT_TRUE(mode->EndSizeDrag());
  EXPECT_EQ(mode->SizeState, dsIdle);
  EXPECT_FALSE(mode->EndSizeDrag());
}

TEST_F(ToolModeTest, HandDragScrollsAndPausesUnderAltOrCtrl) {
  mode->SetTool(tkHand);
  ASSERT_TRUE(mode->BeginHandDrag(500, 500));
  int32_t h = 100, v = 100;
  plat::SetCursorPos(510, 490);
  for (int key : {int(plat::VK_MENU), int(plat::VK_CONTROL)}) {
    Keys keys({key});
    EXPECT_FALSE(mode->TrackHandDrag(Paper(), h, v));
    EXPECT_EQ(mode->HandState, dsDragging);
  }
  EXPECT_TRUE(mode->TrackHandDrag(Paper(), h, v));
  EXPECT_EQ(h, 90);
  EXPECT_EQ(v, 110);
  EXPECT_TRUE(mode->TrackHandDrag(Paper(), h, v));  // unmoved: still a change report
  EXPECT_EQ(h, 90);
  EXPECT_TRUE(mode->EndHandDrag());
  EXPECT_EQ(mode->HandState, dsArmed);
  // Alt held: no hand drag starts.
  Keys keys({plat::VK_MENU});
  EXPECT_FALSE(mode->BeginHandDrag(0, 0));
}

TEST_F(ToolModeTest, PolygonTakesItsLastVertexAndRefusesOneMore) {
  mode->SetTool(tkPolygon);
  for (int i = 0; i < kMaxPolygonPoints; ++i) ASSERT_TRUE(mode->AddPolygonPoint(i % 400, i / 400)) << i;
  EXPECT_EQ(mode->Count, 10001);
  EXPECT_FALSE(mode->AddPolygonPoint(1, 1));
  EXPECT_EQ(mode->Count, 10001);
  EXPECT_TRUE(mode->ClosePolygon());
  EXPECT_TRUE(mode->ShapeReady);
}

TEST_F(ToolModeTest, ShapesAcceptWithShiftAndRefuseOtherToolKeys) {
  using namespace plat;
  struct Row {
    int key;
    bool accepts;
  };
  for (const Row& r : {Row{0, true}, Row{VK_SHIFT, true}, Row{VK_CONTROL, false}, Row{VK_MENU, false},
                       Row{VK_SPACE, false}, Row{'X', false}, Row{'M', false}}) {
    SCOPED_TRACE(r.key);
    Keys keys({r.key});
    mode->SetTool(tkRect);
    EXPECT_EQ(mode->BeginRect(5, 6), r.accepts);
    mode->SetTool(tkLine);
    EXPECT_EQ(mode->BeginLine(5, 6), r.accepts);
    EXPECT_FALSE(mode->BeginRect(5, 6));  // wrong kind
    mode->SetTool(tkPolygon);
    EXPECT_EQ(mode->AddPolygonPoint(5, 6), r.accepts);
    EXPECT_EQ(mode->ClosePolygon(), r.accepts);
    EXPECT_FALSE(mode->ShapeReady);  // fewer than three points: reset
    EXPECT_EQ(mode->Count, 0);
  }
}

TEST_F(ToolModeTest, ShapeEditingKeepsCountAndReadiness) {
  mode->SetTool(tkRect);
  ASSERT_TRUE(mode->BeginRect(3, 4));
  EXPECT_EQ(mode->LastBandPoint, (TPoint{3, 4}));
  ASSERT_TRUE(mode->BeginRect(7, 8));  // a new press restarts
  EXPECT_EQ(mode->Count, 1);
  EXPECT_EQ(mode->Points[0], (TPoint{7, 8}));
  EXPECT_EQ(mode->LastBandPoint, (TPoint{3, 4}));
  EXPECT_TRUE(mode->ShapeReady);
  mode->RemoveLastPoint();
  mode->RemoveLastPoint();
  EXPECT_EQ(mode->Count, 0);
  EXPECT_FALSE(mode->ShapeReady);
  // Freehand points only extend a shape that exists (no input starts one).
  mode->SetTool(tkFreehand);
  EXPECT_TRUE(mode->AddFreehandPoint(1, 1));
  EXPECT_EQ(mode->Count, 1);
}

TEST_F(ToolModeTest, MoveOffsetTurnsWithTheViewAndIsClampedWhenApplied) {
  TPaper& p = Paper();
  p.Display.SetAngle(static_cast<float>(3.14159265358979L / 2));
  const TPoint o = TToolMode::MoveOffsetFor(p.Display, 40, 0);
  EXPECT_EQ(o.X, 0);
  EXPECT_GT(o.Y, 0);
  p.Display.SetAngle(0);
  p.Display.ZoomIndex = -2;  // 25 %: four paper pixels per screen pixel
  mode->SetTool(tkMove);
  plat::SetCursorPos(0, 0);
  ASSERT_TRUE(mode->BeginMoveDrag(0, 0, *p.Layers));
  plat::SetCursorPos(9000, -9000);
  EXPECT_TRUE(mode->TrackMoveDrag(p));
  EXPECT_EQ(mode->MoveOffset, (TPoint{36000, -36000}));
  int32_t dx = 0, dy = 0;
  ASSERT_TRUE(mode->EndMoveDrag(p, dx, dy));
  EXPECT_EQ(dx, 32767);
  EXPECT_EQ(dy, -32768);
  EXPECT_EQ(mode->MoveState, dsArmed);
  EXPECT_TRUE(p.Layers->CanUndo(0));
  EXPECT_FALSE(mode->EndMoveDrag(p, dx, dy));
}

TEST_F(ToolModeTest, PaintMarksTheChosenCellAndDarkensTheOthers) {
  TTC target(kToolBoxWidth, kToolBoxHeight);
  struct Target : TPaintTarget {
    TTC* c;
    TPixelView Surface() override { return c->View(); }
    void SurfaceChanged(const TRect&) override {}
  } t;
  t.c = &target;
  mode->SetTool(tkPen);
  mode->Paint(&t);
  EXPECT_EQ(target.GetPixel(1, 1) & 0xFFFFFFu, 0xFF0000u);
  EXPECT_EQ(target.GetPixel(30, 24) & 0xFFFFFFu, 0xFF0000u);
  EXPECT_EQ(target.GetPixel(15, 12) & 0xFFFFFFu, 0xFFFFFFu);  // chosen cell inside the frame
  EXPECT_EQ(target.GetPixel(2, 2) & 0xFFFFFFu, 0xFFFFFFu);    // inside the frame
  EXPECT_EQ(target.GetPixel(47, 12) & 0xFF, 160u);           // move cell darkened
  EXPECT_EQ(target.GetPixel(47, 140) & 0xFF, 160u);
  EXPECT_EQ(target.GetPixel(0, 0) & 0xFFFFFFu, 0xFFFFFFu);    // outside every cell
  mode->SetTool(tkRect);
  mode->SetFill(false);
  mode->Paint(&t);
  EXPECT_EQ(target.GetPixel(32, 51) & 0xFFFFFFu, 0xFF0000u);
  EXPECT_EQ(target.GetPixel(61, 74) & 0xFFFFFFu, 0xFF0000u);
  EXPECT_EQ(target.GetPixel(15, 12) & 0xFF, 160u);
  EXPECT_EQ(target.GetPixel(1, 1) & 0xFF, 160u);
  EXPECT_EQ(target.GetPixel(47, 62) & 0xFFFFFFu, 0xFFFFFFu);
}

}  // namespace
