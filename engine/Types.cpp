#include "engine/Types.h"

// Replay identity rests on the 64-bit mantissa of the x86-64 extended type.
static_assert(std::numeric_limits<ext_t>::digits == 64, "ext_t must be the 80-bit extended type");
