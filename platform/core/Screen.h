#pragma once
// The one place the engine learns the screen's size. The Qt side sets it at start-up from the
// primary screen; without a GUI (tests, tools) it keeps a plain full-HD default.
#include <cstdint>

namespace plat {

constexpr int32_t kDefaultFullScreenWidth = 1920;

// Width of the client area of a maximised window on the primary screen, in pixels.
int32_t FullScreenWidth();
// Values below 1 restore the default, so the view's slack is never negative.
void SetFullScreenWidth(int32_t width);

}  // namespace plat
