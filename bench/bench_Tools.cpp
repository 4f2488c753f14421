// The tools: one layer-move tick (the move offset tracked, the paper composited with the
// layer displaced and painted into a 1280 x 800 view) on a 2000 x 2000 paper of 8 and 24
// layers, beside the plain whole-paper composite; and a polygon of 10001 vertices closed by
// a double-click in a paper window (recorded, filled, recomposited and painted).
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <QApplication>
#include <cmath>
#include <memory>
#include <string>

#include "engine/EventPacket.h"
#include "engine/LayerMng.h"
#include "engine/Paper.h"
#include "painter/DrawWin.h"
#include "painter/Forms.h"
#include "painter/Main.h"
#include "painter/ToolMode.h"
#include "painter/ToolsWin.h"
#include "platform/core/KeyState.h"
#include "platform/core/MessageBox.h"
#include "platform/qt/KeyTracker.h"

namespace {

constexpr int32_t kSide = 2000;

class TBufferTarget : public TPaintTarget {
 public:
  TBufferTarget(int32_t w, int32_t h) : Canvas(w, h) {}
  TPixelView Surface() override { return Canvas.View(); }
  void SurfaceChanged(const TRect&) override {}
  TTC Canvas;
};

// A paper whose layers each cover most of it.
std::unique_ptr<TPaper> BusyPaper(int32_t layers) {
  auto p = std::make_unique<TPaper>();
  p->Init("bench", kSide, kSide);
  for (int32_t i = 0; i < layers; ++i) {
    if (i > 0) p->Layers->AddLayer(static_cast<TLayerKind>(i % 3));
    p->Layers->SetOpacity(i, static_cast<uint8_t>(96 + i * 6));
    const uint32_t c = 0x102030u * static_cast<uint32_t>(i + 1) & 0xFFFFFF;
    p->Layers->FillRect(i, (i * 37) % 400, (i * 53) % 400, 1500, 1500, c);
  }
  p->Layers->SetActiveLayer(layers / 2);
  p->Composite();
  return p;
}

void BM_CompositeWholePaper(benchmark::State& state) {
  auto p = BusyPaper(static_cast<int32_t>(state.range(0)));
  for (auto _ : state) p->Composite();
  state.SetItemsProcessed(state.iterations() * int64_t(kSide) * kSide);
}
BENCHMARK(BM_CompositeWholePaper)->ArgName("layers")->Arg(8)->Arg(24)->Unit(benchmark::kMillisecond);

// One tick of the update step during a layer move: the cursor has moved on, so the offset is
// new every tick.
void BM_LayerMoveTick(benchmark::State& state) {
  auto p = BusyPaper(static_cast<int32_t>(state.range(0)));
  TBufferTarget view(1280, 800);
  p->Display.SetScroll(400, 400);
  TToolMode mode;
  mode.SetTool(tkMove);
  plat::SetCursorPos(0, 0);
  mode.BeginMoveDrag(0, 0, *p->Layers);
  int32_t step = 0;
  for (auto _ : state) {
    ++step;
    plat::SetCursorPos(step % 64 + 1, step % 48 + 1);
    if (mode.TrackMoveDrag(*p)) {
      p->CompositeMoving(p->Layers->ActiveIndex(), mode.MoveOffset.X, mode.MoveOffset.Y);
      p->Paint(&view);
    }
  }
  state.SetItemsProcessed(state.iterations() * int64_t(kSide) * kSide);
}
BENCHMARK(BM_LayerMoveTick)->ArgName("layers")->Arg(8)->Arg(24)->Unit(benchmark::kMillisecond);

// A star of 10001 vertices over most of the paper, closed in a paper window.
void BM_PolygonThroughPaperWindow(benchmark::State& state) {
  TDrawWindow* w = VLMain->CreateDrawWindow("bench");
  w->Paper->Init("bench", kSide, kSide);
  w->Packets[0]->WriteNewPaper(kSide, kSide);
  w->RecompositeAll();
  TToolMode& mode = ToolsWindow->Mode;
  const int32_t start = w->Packets[0]->Data().Size();
  for (auto _ : state) {
    state.PauseTiming();
    w->Packets[0]->Data().SetSize(start);
    mode.SetTool(tkPolygon);
    mode.SetFill(true);
    for (int32_t i = 0; i < kMaxPolygonPoints; ++i) {
      const long double a = 6.283185307179586L * i / kMaxPolygonPoints;
      const long double r = (i % 2) ? 950.0L : 600.0L;
      mode.Points[i] = {static_cast<int32_t>(1000 + r * std::cos(a)), static_cast<int32_t>(1000 + r * std::sin(a))};
    }
    mode.Count = kMaxPolygonPoints;
    state.ResumeTiming();
    w->FormDblClick();
    w->SuppressNextDown = false;
  }
  state.SetLabel("10001 vertices");
  w->CloseWindow(false);
}
BENCHMARK(BM_PolygonThroughPaperWindow)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  // Offscreen, with settings and data folders of its own: the user's are never touched.
  qputenv("QT_QPA_PLATFORM", "offscreen");
  char dir[] = "/tmp/vell-bench-XXXXXX";
  const bool haveDir = mkdtemp(dir) != nullptr;
  if (haveDir) {
    setenv("VELLORA_SETTINGS_DIR", dir, 1);
    setenv("XDG_DATA_HOME", dir, 1);
    setenv("XDG_RUNTIME_DIR", dir, 1);
  }
  QApplication app(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  plat::InstallKeyTracker();
  plat::SetMessageBoxHandler([](const std::string&, const std::string&, unsigned) { return int(plat::IDNO); });
  CreateForms();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  DestroyForms();
  if (haveDir) std::system((std::string("rm -rf '") + dir + "'").c_str());
  return 0;
}
