#pragma once
#include <cstdint>

namespace plat {

// Milliseconds from a steady clock, wrapping at 2^32 like the multimedia timer.
// Compare times wrap-safely: uint32_t(now - then) > limit.
uint32_t timeGetTime();

// Tests freeze the clock at a value and move it by hand.
void SetFakeClock(uint32_t now);
void AdvanceFakeClock(uint32_t ms);
void UseRealClock();

}  // namespace plat

using plat::timeGetTime;
