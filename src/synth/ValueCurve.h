#pragma once

#include <algorithm>
#include <cmath>

namespace ValueCurve
{
    /** The curve that stage times, the filter cutoff and the resonance share:
        -0.5 log10 (1 - min (v, 0.99)), 0 at v = 0 and exactly 1 from 0.99 up.

        The cap and the logarithm are taken in double and only the result is
        rounded to float, so that 0.99 (stored as a float a little above it)
        and 1.0 both reach exactly 1: a 20000 Hz cutoff, not 20000.005. */
    inline float curved (float v) noexcept
    {
        return -(float) (0.5 * std::log10 (1.0 - std::min (0.99, (double) v)));
    }
}
