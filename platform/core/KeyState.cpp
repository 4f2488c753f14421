#include "platform/core/KeyState.h"

#include <bitset>

namespace plat {
namespace {
std::bitset<256>& Held() {
  static std::bitset<256> held;
  return held;
}
std::bitset<256>& WithControl() {
  static std::bitset<256> with;
  return with;
}
}  // namespace

bool IsKeyDown(int vk) { return vk >= 0 && vk < 256 && Held().test(static_cast<size_t>(vk)); }

bool KeyWentDownWithControl(int vk) { return IsKeyDown(vk) && WithControl().test(static_cast<size_t>(vk)); }

void SetKeyDown(int vk, bool down) {
  if (vk < 0 || vk >= 256) return;
  const auto k = static_cast<size_t>(vk);
  // Auto-repeated presses of a held key keep what its first press found.
  if (!down) WithControl().reset(k);
  else if (!Held().test(k)) WithControl().set(k, vk != VK_CONTROL && IsKeyDown(VK_CONTROL));
  Held().set(k, down);
}

void ClearKeys() {
  Held().reset();
  WithControl().reset();
}

void SyncKeys(bool shift, bool control, bool alt, bool keepOthers) {
  if (!keepOthers) ClearKeys();
  SetKeyDown(VK_SHIFT, shift);
  SetKeyDown(VK_CONTROL, control);
  SetKeyDown(VK_MENU, alt);
}

namespace {
int32_t cursorX = 0, cursorY = 0;
}  // namespace

void GetCursorPos(int32_t& x, int32_t& y) {
  x = cursorX;
  y = cursorY;
}

void SetCursorPos(int32_t x, int32_t y) {
  cursorX = x;
  cursorY = y;
}

}  // namespace plat
