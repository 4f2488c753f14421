#pragma once
// Held-key state for IsKeyDown-style queries. The Qt layer's application-wide event filter
// feeds it (auto-repeat releases ignored), clears it when the application is deactivated and
// brings it back in line with the keyboard when the focus moves or a modal dialog closes.
// Keys are virtual-key codes: letters and digits are their upper-case ASCII codes.
#include <cstdint>

namespace plat {

enum TVirtualKey : int {
  VK_BACK = 0x08, VK_TAB = 0x09, VK_RETURN = 0x0D, VK_SHIFT = 0x10, VK_CONTROL = 0x11,
  VK_MENU = 0x12, VK_ESCAPE = 0x1B, VK_SPACE = 0x20, VK_PRIOR = 0x21, VK_NEXT = 0x22,
  VK_END = 0x23, VK_HOME = 0x24, VK_LEFT = 0x25, VK_UP = 0x26, VK_RIGHT = 0x27, VK_DOWN = 0x28,
  VK_INSERT = 0x2D, VK_DELETE = 0x2E, VK_ADD = 0x6B, VK_SUBTRACT = 0x6D, VK_F1 = 0x70,
};

bool IsKeyDown(int vk);
// Held, and Ctrl was held as it went down: the key is part of a Ctrl chord, whichever of the
// two is let go first.
bool KeyWentDownWithControl(int vk);
void SetKeyDown(int vk, bool down);
void ClearKeys();
// Brings the held keys in line with the keyboard as the window system reports it: Shift, Ctrl
// and Alt as given; every other key dropped unless keepOthers (their releases may have gone
// to a window that took no input, and nothing can confirm them).
void SyncKeys(bool shift, bool control, bool alt, bool keepOthers);

// Screen position of the mouse at its last event, as GetCursorPos gives it. Kept by the same
// event filter: QCursor::pos() does not follow synthetic events and is unreliable on Wayland.
void GetCursorPos(int32_t& x, int32_t& y);
void SetCursorPos(int32_t x, int32_t y);

}  // namespace plat
