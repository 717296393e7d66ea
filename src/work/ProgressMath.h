// The arithmetic of the work page's two progress bars and their labels.
#pragma once

#include <cstdint>

namespace zarn {

// The right edge of the drawn part of a bar: left + fullWidth × done / total, the product taken
// in 64 bits and truncated toward zero; 0 when total is 0 (nothing of the bar is drawn then).
int32_t BarRight(int32_t left, int32_t fullWidth, int32_t done, int32_t total);
// The label's percentage: 0 for a drawn width of 0 or less, else width × 100 / full width,
// never more than 100.
int32_t BarPercent(int32_t drawnWidth, int32_t fullWidth);

}  // namespace zarn
