#include "platform/core/Screen.h"

namespace plat {
namespace {
int32_t gFullScreenWidth = kDefaultFullScreenWidth;
}

int32_t FullScreenWidth() { return gFullScreenWidth; }

void SetFullScreenWidth(int32_t width) { gFullScreenWidth = width >= 1 ? width : kDefaultFullScreenWidth; }

}  // namespace plat
