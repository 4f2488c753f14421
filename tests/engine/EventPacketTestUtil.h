#pragma once
// Helpers for the event stream tests: a byte builder and a brush with the setters a packet uses.
#include <cstdint>
#include <string>
#include <vector>

#include "engine/EventPacket.h"

// Little-endian byte builder: B().w(ecNewPaper).w(640).w(480).
struct B {
  std::vector<uint8_t> v;
  B& b(int x) {
    v.push_back(static_cast<uint8_t>(x));
    return *this;
  }
  B& w(int x) {
    v.push_back(static_cast<uint8_t>(x));
    v.push_back(static_cast<uint8_t>(x >> 8));
    return *this;
  }
  B& add(const std::vector<uint8_t>& more) {
    v.insert(v.end(), more.begin(), more.end());
    return *this;
  }
  operator std::vector<uint8_t>() const { return v; }
};

inline std::vector<uint8_t> StreamBytes(const TEventPacket& p) {
  const TMyMemory& m = p.Data();
  return {m.Memory(), m.Memory() + m.Size()};
}

// A packet holding exactly these bytes, unvalidated, cursor at 0.
inline void SetRaw(TEventPacket& p, const std::vector<uint8_t>& bytes) {
  p.Clear();
  p.Data().WriteBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
}

// Stands in for the brush: the fields a recorder reads and the setters a reader calls.
struct TFakeBrush {
  uint8_t Kind = 0;
  int32_t LayerIndex = 0;
  uint32_t Color = 0;
  bool ifSIZE = false, ifTRANSPARENCY = false, ifEDGE = false;
  float MIN = 0, WIDTH = 0, GAMMA = 0, EFFECT = 0, ENV = 0, SPEED = 0;
  std::string calls;

  void SetKind(uint8_t v) { Kind = v, calls += "kind "; }
  void SetLayer(int32_t v) { LayerIndex = v, calls += "layer "; }
  void SetColor(uint32_t v) { Color = v, calls += "color "; }
  void SetPressureSize(bool v) { ifSIZE = v, calls += "size "; }
  void SetPressureAlpha(bool v) { ifTRANSPARENCY = v, calls += "alpha "; }
  void SetSmoothEdge(bool v) { ifEDGE = v, calls += "edge "; }
  void SetMinSize(float v) { MIN = v, calls += "min "; }
  void SetWidth(float v) { WIDTH = v, calls += "width "; }
  void SetGamma(float v) { GAMMA = v, calls += "gamma "; }
  void SetEffect(float v) { EFFECT = v, calls += "effect "; }
  void SetEnv(float v) { ENV = v, calls += "env "; }
  void SetSpeed(float v) { SPEED = v, calls += "speed"; }
};

// The brush block used across the tests, and its 17 bytes.
inline TStrokeAttributes SampleAttributes() {
  TStrokeAttributes a;
  a.Layer = 2;
  a.Color = 0xFF8000;  // red 255, green 128, blue 0
  a.ifSIZE = true;
  a.ifEDGE = true;
  a.MIN = 75;
  a.WIDTH = 1.5f;
  a.GAMMA = 1;
  a.EFFECT = 65;
  a.ENV = 40;
  a.SPEED = 30;
  return a;
}

inline std::vector<uint8_t> SampleAttributeBytes() {
  return B().b(2).b(255).b(128).b(0).b(5).w(75 * 256).w(384).w(256).w(65 * 256).w(40 * 256).w(30 * 256);
}
