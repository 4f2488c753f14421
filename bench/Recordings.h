#pragma once
// Long synthetic recordings for the replay benchmarks: strokes of 24 points of every brush
// kind, with fills and undos between them, on a stack of layers.
#include <cstdint>

#include "engine/EventPacket.h"
#include "engine/Stroke.h"

// `strokes` strokes on `layers` layers (at least 2), the layer changing every `period` strokes
// (50 as a user works, 1 as members of a session take turns). Beyond two layers the stack holds
// every compositing kind at several opacities.
inline TEventPacket* MakeRecording(int period, int layers = 2, int strokes = 3000, int32_t width = 1200,
                                   int32_t height = 900) {
  auto* r = new TEventPacket;
  r->WriteNewPaper(width, height);
  r->WriteNewLayer(0);
  for (int i = 2; i < layers; ++i) {
    r->WriteNewLayer(static_cast<uint8_t>(i % 3));
    r->WriteLayerOpacity(static_cast<uint8_t>(i), static_cast<uint8_t>(255 - 20 * i));
  }
  uint32_t seed = 12345;
  auto rnd = [&](uint32_t n) {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 8) % n;
  };
  for (int s = 0; s < strokes; ++s) {
    TStrokeAttributes a;
    a.Layer = static_cast<uint8_t>((s / period) % layers);
    a.Color = rnd(0xFFFFFF);
    a.ifSIZE = a.ifTRANSPARENCY = true;
    a.MIN = 50;
    a.WIDTH = static_cast<float>(2 + rnd(14));
    a.GAMMA = 1;
    a.EFFECT = 50;
    a.ENV = 30;
    a.SPEED = 30;
    float x = static_cast<float>(rnd(static_cast<uint32_t>(width))), y = static_cast<float>(rnd(static_cast<uint32_t>(height)));
    r->BeginStroke(a, static_cast<uint8_t>(s % 5), x, y, 0.5f);
    for (int k = 0; k < 24; ++k) {
      x += static_cast<float>(rnd(9)) - 4;
      y += static_cast<float>(rnd(9)) - 4;
      r->AddStrokePoint(x, y, k == 23 ? 0.0f : static_cast<float>(rnd(1024)) / 1024);
    }
    r->EndStroke();
    if (s % 100 == 99)
      r->WriteFillRect(1, static_cast<int32_t>(rnd(static_cast<uint32_t>(width - 200))),
                       static_cast<int32_t>(rnd(static_cast<uint32_t>(height - 100))), 64, 64, 9, 9, 9);
    if (s % 250 == 249) r->WriteUndo(0);
  }
  r->WriteEndMarker();
  return r;
}
