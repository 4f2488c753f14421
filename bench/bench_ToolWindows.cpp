// The tool windows' repaints on their hot paths: the layer list during a drag, the brush
// window during a cross-fade at the largest preview, and the colour search that playback runs
// on every colour change.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <QApplication>
#include <cstdio>
#include <string>

#include "engine/LayerMng.h"
#include "engine/Paper.h"
#include "engine/Stroke.h"
#include "painter/ColorWin.h"
#include "painter/DrawWin.h"
#include "painter/Forms.h"
#include "painter/LayerWin.h"
#include "painter/Main.h"
#include "painter/PenWin2.h"

namespace {

TDrawWindow* MakePaper(int32_t w, int32_t h) {
  TDrawWindow* d = VLMain->CreateDrawWindow("");
  d->Paper->Init("NONAME", w, h);
  d->RecompositeAll();
  return d;
}

void BM_DrawLayers24(benchmark::State& state) {
  TDrawWindow* w = MakePaper(480, 320);
  while (w->Paper->Layers->CanAddLayer()) w->Paper->Layers->AddLayer(lkMultiply);
  LayerWindow->resize(210, 700);
  // A reorder drag in progress: the gap, the floating row and its tint are drawn too.
  LayerWindow->Reordering = true;
  LayerWindow->DragFrom = w->Paper->Layers->ActiveIndex();
  int32_t y = 0;
  for (auto _ : state) {
    LayerWindow->DragX = 90;
    LayerWindow->DragY = y = (y + 7) % 600;
    LayerWindow->DrawLayers(w->Paper.get());
  }
  LayerWindow->Reordering = false;
  VLMain->CloseAllPapers(false);
}
BENCHMARK(BM_DrawLayers24);

void BM_BrushRedrawLargestSoftPreview(benchmark::State& state) {
  TDrawWindow* w = MakePaper(480, 320);
  w->Paper->Display.ZoomIndex = TDisplay::kMaxZoomIndex;  // 800 %
  TStroke& b = *VLMain->Stroke;
  PenWindow2->SelectBrush(1);
  b.SetWidth(200);
  b.SetSmoothEdge(true);
  for (auto _ : state) {
    PenWindow2->Fading = true;  // the cross-fade blends the old panel in every repaint
    PenWindow2->Redraw(b, false);
  }
  VLMain->CloseAllPapers(false);
}
BENCHMARK(BM_BrushRedrawLargestSoftPreview);

void BM_FindColor(benchmark::State& state) {
  uint32_t colour = 0x123456;
  for (auto _ : state) {
    colour = colour * 1103515245u + 12345u;
    ColorWindow->FindColor(colour & 0xFFFFFF);
    benchmark::DoNotOptimize(ColorWindow->HueRow);
  }
}
BENCHMARK(BM_FindColor);

}  // namespace

int main(int argc, char** argv) {
  // Headless, with settings of its own that are thrown away.
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  char dir[] = "/tmp/vellbenchXXXXXX";
  if (!mkdtemp(dir)) return 1;
  setenv("VELLORA_SETTINGS_DIR", dir, 1);
  setenv("XDG_DATA_HOME", dir, 1);
  QApplication app(argc, argv);
  CreateForms();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  DestroyForms();
  std::system((std::string("rm -rf ") + dir).c_str());
  return 0;
}
