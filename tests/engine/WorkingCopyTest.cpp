// A layer's working copy stays the layer's own pixels whatever happens to the layer while it
// holds one, active or not: what a stroke shows and reads equals a paper whose copy was made
// afresh just before the stroke.
#include <gtest/gtest.h>

#include "PaperTestUtil.h"
#include "engine/Flow.h"
#include "engine/LayerMng.h"
#include "engine/Paper.h"
#include "engine/Stroke.h"

namespace {

// A multiply layer of one colour under an empty layer 1, whose working copy is loaded while
// layer 0 stays active; then layer 1 changes kind.
void KindChangeWhileInactive(TPaper& p, uint8_t kind, bool plain) {
  p.SetPlainPath(plain);
  p.Init("x", 90, 70);
  p.Layers->FillRect(0, 0, 0, 90, 70, 0x204080);
  p.Layers->AddLayer(lkMultiply);
  p.Layers->SetActiveLayer(0);
  p.Layers->FillRect(1, 70, 50, 4, 4, 0x808080);  // layer 1 takes the only slot
  ASSERT_EQ(p.Layers->ActiveIndex(), 0);
  ASSERT_GE(p.Layers->Flow().SlotOf(1), 0);
  p.Layers->SetLayerKind(1, static_cast<TLayerKind>(kind));
  p.Composite();
}

// Along the first tile row's lower edge: the dabs stay in it, while the rectangles repainted
// reach into the second row, where only a copy of the layer has tiles.
void Draw(TPaper& p, TCanvasTarget& win, uint8_t brushKind) {
  TStroke b;
  b.SetKind(brushKind);
  b.LoadPreset(brushKind, 1);
  b.SetColor(0xC03010);
  b.SetLayer(1);
  b.SetWidth(9);
  p.StrokeBegin(b, 10, 54, 1);
  for (float x : {20.0f, 32.0f, 45.0f, 60.0f}) p.StrokeMove(b, &win, x, 54, 1);
  p.StrokeMove(b, &win, 62, 54, 0);
  p.StrokeEnd(b, &win);
}

TEST(WorkingCopy, AStrokeAfterAKindChangeOnAnInactiveLayerEqualsOneOnAFreshCopy) {
  // The plain path holds a whole copy from the start; the fast one loads it as strokes reach it.
  for (bool plain : {true, false})
  for (uint8_t kind : {lkAdd, lkSubtract}) {
    for (uint8_t brush : {bkPen, bkWatercolor, bkEraser}) {
      SCOPED_TRACE(testing::Message() << "plain " << plain << " kind " << int(kind) << " brush " << int(brush));
      TPaper stale, fresh;
      KindChangeWhileInactive(stale, kind, plain);
      KindChangeWhileInactive(fresh, kind, plain);
      // The reference: every working copy dropped, so the stroke loads layer 1 anew.
      fresh.Layers->RefreshFlow(fresh.Layers->ActiveIndex());
      TCanvasTarget a(90, 70), b(90, 70);
      Draw(stale, a, brush);
      Draw(fresh, b, brush);
      EXPECT_EQ(CanvasPixels(stale.CompositeImage), CanvasPixels(fresh.CompositeImage)) << "what the stroke showed";
      EXPECT_EQ(CanvasPixels(a.Canvas), CanvasPixels(b.Canvas)) << "the window";
      EXPECT_EQ(LayerPixels(stale, 1), LayerPixels(fresh, 1));
      // And what is shown is the layers' own pixels: a full redraw changes nothing.
      const auto shown = CanvasPixels(stale.CompositeImage);
      stale.Composite();
      EXPECT_EQ(CanvasPixels(stale.CompositeImage), shown);
    }
  }
}

}  // namespace
