#pragma once
// The canvas pixel blend over a run of pixels, as the image dabs use it.
#include <cstdint>

// Blends n pixels toward the colour c as a canvas blends one pixel (alpha 255 stores the whole
// colour; otherwise blue, green and red move toward it and the alpha byte stays): pixel i at
// alpha[i], or every pixel at `one` when alpha is null.
void BlendPixelRun(uint32_t* p, const uint8_t* alpha, int32_t n, uint32_t c, uint8_t one = 0);
