// Stroke input in a paper window: mouse moves through the window's handler, as the user
// draws, each kept point drawn onto a working copy, composited and painted into the window's
// back buffer; and the same kept points through TPaper::StrokeMove alone. A 1600 x 1000
// window on a 5000 x 5000 paper of 8 layers with content.
// Counters: points per second, and the median and 99th percentile of the time per kept point
// (the first point of each stroke, which loads its layer's working copy, left out).
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <QApplication>
#include <QTest>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <string>
#include <vector>

#include "engine/EventPacket.h"
#include "engine/LayerMng.h"
#include "engine/Paper.h"
#include "engine/Stroke.h"
#include "painter/DrawWin.h"
#include "painter/Forms.h"
#include "painter/Main.h"
#include "painter/ToolsWin.h"
#include "platform/core/KeyState.h"

namespace {

constexpr int32_t kSide = 5000;
constexpr int32_t kLayers = 8;
constexpr int kMovesPerStroke = 300;

TDrawWindow* Window = nullptr;

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

void SetUpPainter() {
  CreateForms();
  VLMain->resize(1900, 1300);
  VLMain->show();
  VLMain->activateWindow();
  QTest::qWaitForWindowActive(VLMain);
  ToolsWindow->Mode.Kind = tkPen;
  Window = VLMain->CreateDrawWindow("");
  TPaper& p = *Window->Paper;
  p.Init("NONAME", kSide, kSide);
  Window->Packets[0]->WriteNewPaper(kSide, kSide);
  for (int32_t i = 1; i < kLayers; ++i) p.Layers->AddLayer(lkMultiply);
  // Content on every layer: bands and blocks, so that no tile is plain background.
  for (int32_t i = 0; i < kLayers; ++i) {
    for (int32_t k = 0; k < 12; ++k) {
      const uint32_t c = 0xFF000000u | ((0x1F3A57u * static_cast<uint32_t>(i * 12 + k + 1)) & 0xFFFFFFu);
      p.Layers->FillRect(i, (k * 433 + i * 97) % kSide, 0, 180, kSide, c);
      p.Layers->FillRect(i, 0, (k * 389 + i * 131) % kSide, kSide, 150, c ^ 0x404040u);
    }
  }
  p.Composite();
  Window->SetClientSize(1600, 1000);
  Window->Redraw();
  // The first update step makes the preview follow the paper, which sizes its reduced image.
  VLMain->UpdateStep();
}

// One stroke's window points: a wave across the window, `step` pixels apart, within the
// part of the window that shows the paper (at 25 % the paper is narrower than the window).
std::vector<QPoint> Path(int stroke, int step, int32_t zoom) {
  std::vector<QPoint> out;
  const int x0 = zoom < 0 ? 250 : 100, span = zoom < 0 ? 1100 : 1400;
  const int y0 = 200 + (stroke * 37) % 600;
  for (int i = 0; i < kMovesPerStroke; ++i) {
    const int x = x0 + (i * step) % span;
    out.emplace_back(x, y0 + static_cast<int>(60 * std::sin(i * 0.05)));
  }
  return out;
}

void Report(benchmark::State& state, std::vector<double>& lat, double totalMs, int64_t points) {
  if (lat.empty()) return;
  std::sort(lat.begin(), lat.end());
  state.counters["points_per_s"] = totalMs > 0 ? static_cast<double>(points) / (totalMs / 1000.0) : 0;
  state.counters["median_ms"] = lat[lat.size() / 2];
  state.counters["p99_ms"] = lat[std::min(lat.size() - 1, lat.size() * 99 / 100)];
}

// Args: brush kind, width (0: the kind's preset), zoom index, 1 for StrokeMove alone.
void BM_StrokeInput(benchmark::State& state) {
  const auto kind = static_cast<uint8_t>(state.range(0));
  const auto width = static_cast<float>(state.range(1));
  const auto zoom = static_cast<int32_t>(state.range(2));
  const bool engineOnly = state.range(3) != 0;
  TDrawWindow* w = Window;
  TPaper& p = *w->Paper;
  TStroke& brush = *VLMain->Stroke;
  brush.SetKind(kind);
  brush.LoadPreset(kind, 1);
  if (width > 0) brush.SetWidth(width);
  brush.SetColor(0x3366AA);
  p.Display.ZoomIndex = zoom;
  w->CentreOn(kSide / 2, kSide / 2);
  w->Redraw();
  {
    TPoint a{zoom < 0 ? 250 : 100, 140}, b{zoom < 0 ? 1350 : 1500, 860};
    p.Display.WindowToPaper(w->ClientWidth(), w->ClientHeight(), a);
    p.Display.WindowToPaper(w->ClientWidth(), w->ClientHeight(), b);
    if (a.X < 0 || a.Y < 0 || b.X >= kSide || b.Y >= kSide) {
      state.SkipWithError("the strokes would leave the paper");
      return;
    }
  }
  const int step = zoom == -2 ? 2 : 3;  // every move is a candidate point at both zooms

  std::vector<double> lat;
  double totalMs = 0;
  int64_t points = 0;
  int stroke = 0;
  for (auto _ : state) {
    const std::vector<QPoint> path = Path(stroke, step, zoom);
    p.Layers->SetActiveLayer(stroke % kLayers);
    ++stroke;
    if (!engineOnly) {
      w->FormMouseDown(Qt::LeftButton, Qt::NoModifier, path[0].x(), path[0].y());
      TEventPacket& r = *w->Packets[0];
      for (size_t i = 1; i < path.size(); ++i) {
        const int32_t before = r.InStroke() ? r.PointCount() : -1;
        const auto t0 = Clock::now();
        w->FormMouseMove(Qt::NoModifier, path[i].x(), path[i].y());
        const double ms = Ms(Clock::now() - t0);
        totalMs += ms;
        if (before >= 0 && r.PointCount() > before) {
          lat.push_back(ms);
          ++points;
        }
      }
      state.PauseTiming();
      w->FormMouseUp(Qt::LeftButton, Qt::NoModifier, path.back().x(), path.back().y());
      state.ResumeTiming();
    } else {
      // The paper points that the window would keep, drawn without the window.
      std::vector<TPoint> pts;
      for (const QPoint& q : path) {
        TPoint t{q.x(), q.y()};
        p.Display.WindowToPaper(w->ClientWidth(), w->ClientHeight(), t);
        if (pts.empty() || std::hypot(t.X - pts.back().X, t.Y - pts.back().Y) > 4.0 + (width > 5 ? width / 4 : 0))
          pts.push_back(t);
      }
      brush.SetLayer(p.Layers->ActiveIndex());
      brush.UseRecordedValues();
      p.StrokeBegin(brush, static_cast<float>(pts[0].X), static_cast<float>(pts[0].Y), 1.0f);
      for (size_t i = 1; i < pts.size(); ++i) {
        const auto t0 = Clock::now();
        p.StrokeMove(brush, nullptr, static_cast<float>(pts[i].X), static_cast<float>(pts[i].Y), 1.0f);
        const double ms = Ms(Clock::now() - t0);
        totalMs += ms;
        lat.push_back(ms);
        ++points;
      }
      state.PauseTiming();
      p.StrokeEnd(brush, nullptr);
      state.ResumeTiming();
    }
  }
  Report(state, lat, totalMs, points);
}

void Arguments(benchmark::internal::Benchmark* b) {
  for (int engineOnly : {0, 1}) {
    for (int zoom : {0, -2}) {
      for (int kind = 0; kind <= 4; ++kind) {
        b->Args({kind, 0, zoom, engineOnly});
        b->Args({kind, 20, zoom, engineOnly});
      }
      b->Args({0, 2, zoom, engineOnly});
      b->Args({0, 100, zoom, engineOnly});
    }
  }
  b->ArgNames({"kind", "width", "zoom", "engine"});
  b->Unit(benchmark::kMillisecond);
}
BENCHMARK(BM_StrokeInput)->Apply(Arguments);

std::string TempFolder(const char* name) {
  std::string t = std::string("/tmp/vell-bench-") + name + "-XXXXXX";
  char* d = mkdtemp(t.data());
  return d ? std::string(d) : std::string("/tmp");
}

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  // The painter's settings and files stay out of the user's own.
  setenv("VELLORA_SETTINGS_DIR", TempFolder("settings").c_str(), 1);
  setenv("XDG_DATA_HOME", TempFolder("data").c_str(), 1);
  QApplication app(argc, argv);
  SetUpPainter();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (VLMain) VLMain->CloseAllPapers(false);
  DestroyForms();
  return 0;
}
