#pragma once
// Long synthetic recordings for the replay benchmarks: strokes of 24 points of every brush
// kind, with fills and undos between them, on a stack of layers; and an hour of drawing as a
// user draws it.
#include <algorithm>
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

// An hour of drawing as a user draws it: a stroke every 1.7 seconds or so (2100 strokes of 10
// to 80 points, 45 on average, the points 1 to 6 pixels apart), most of them thin pens, the
// rest watercolours, erasers and both blurs of larger sizes, with the pressure drifting along
// the stroke. Eight layers of every compositing kind; the user changes layer every 20 to 60
// strokes, fills a rectangle now and then and undoes about one stroke in forty.
inline TEventPacket* MakeHour(int strokes = 2100, int32_t width = 1600, int32_t height = 1200) {
  constexpr int kLayers = 8;
  auto* r = new TEventPacket;
  r->WriteNewPaper(width, height);
  for (int i = 1; i < kLayers; ++i) {
    r->WriteNewLayer(static_cast<uint8_t>(i % 3));
    r->WriteLayerOpacity(static_cast<uint8_t>(i), static_cast<uint8_t>(255 - 15 * i));
  }
  uint32_t seed = 20261211;
  auto rnd = [&](uint32_t n) {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 8) % n;
  };
  uint8_t layer = 0;
  int untilSwitch = 40;
  for (int s = 0; s < strokes; ++s) {
    if (--untilSwitch == 0) {
      layer = static_cast<uint8_t>((layer + 1 + rnd(kLayers - 1)) % kLayers);
      r->WriteSelectLayer(layer);
      untilSwitch = 20 + static_cast<int>(rnd(41));
    }
    TStrokeAttributes a;
    a.Layer = layer;
    a.Color = rnd(0xFFFFFF);
    a.GAMMA = 1;
    a.ifSIZE = a.ifTRANSPARENCY = true;
    uint8_t kind = bkPen;
    const uint32_t pick = rnd(100);
    if (pick < 60) {
      a.MIN = static_cast<float>(30 + rnd(60));
      a.WIDTH = static_cast<float>(1 + rnd(12)) + 0.5f * static_cast<float>(rnd(2));
    } else if (pick < 75) {
      kind = bkWatercolor;
      a.WIDTH = static_cast<float>(8 + rnd(23));
      a.EFFECT = static_cast<float>(40 + rnd(40));
      a.ENV = static_cast<float>(20 + rnd(40));
      a.SPEED = static_cast<float>(20 + rnd(40));
    } else if (pick < 87) {
      kind = bkEraser;
      a.ifSIZE = false;
      a.ifEDGE = rnd(2) != 0;
      a.WIDTH = static_cast<float>(4 + rnd(21));
    } else if (pick < 93) {
      kind = bkBlur;
      a.ifSIZE = a.ifTRANSPARENCY = false;
      a.WIDTH = static_cast<float>(4 + rnd(13));
      a.EFFECT = static_cast<float>(5 + rnd(20));
    } else {
      kind = bkBlur2;
      a.ifSIZE = a.ifTRANSPARENCY = false;
      a.WIDTH = static_cast<float>(6 + rnd(15));
    }
    float x = static_cast<float>(rnd(static_cast<uint32_t>(width))), y = static_cast<float>(rnd(static_cast<uint32_t>(height)));
    float dx = static_cast<float>(rnd(11)) - 5, dy = static_cast<float>(rnd(11)) - 5;
    float p = 0.5f;
    r->BeginStroke(a, kind, x, y, p);
    const int points = 10 + static_cast<int>(rnd(71));
    for (int k = 0; k < points; ++k) {
      // The hand's direction turns a little from point to point.
      dx = std::clamp(dx + static_cast<float>(rnd(3)) - 1, -6.0f, 6.0f);
      dy = std::clamp(dy + static_cast<float>(rnd(3)) - 1, -6.0f, 6.0f);
      x += dx;
      y += dy;
      p = std::clamp(p + static_cast<float>(rnd(129)) / 1024 - 0.0625f, 0.05f, 1.0f);
      r->AddStrokePoint(x, y, k == points - 1 ? 0.0f : p);
    }
    r->EndStroke();
    if (s % 150 == 149) {
      const int32_t w = 40 + static_cast<int32_t>(rnd(200)), h = 40 + static_cast<int32_t>(rnd(200));
      r->WriteFillRect(layer, static_cast<int32_t>(rnd(static_cast<uint32_t>(width - w))),
                       static_cast<int32_t>(rnd(static_cast<uint32_t>(height - h))), w, h,
                       static_cast<uint8_t>(rnd(256)), static_cast<uint8_t>(rnd(256)), static_cast<uint8_t>(rnd(256)));
    }
    if (rnd(40) == 0) r->WriteUndo(layer);
  }
  r->WriteEndMarker();
  return r;
}
