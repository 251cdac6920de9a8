#pragma once

// Branch-free kernels for the block paths of the shapes. Written so that the
// compiler turns loops over them into vector code, and so that their results
// are bit-identical to the library calls they stand in for, or provably close
// enough that a cheap check can detect the rare sample that needs the library
// call itself (see Waveforms.cpp).
//
// Every kernel expects plain IEEE arithmetic: the file that uses them is
// compiled without floating-point contraction.

#include <cmath>
#include <cstdint>
#include <cstring>

#if defined(__GNUC__)
 #define KORVANE_ALWAYS_INLINE inline __attribute__ ((always_inline))
#else
 #define KORVANE_ALWAYS_INLINE inline
#endif

namespace ShapeMath
{
    /** 1.5 * 2^52: adding it rounds a double of magnitude below 2^51 to an integer. */
    constexpr double roundingMagic = 6755399441055744.0;

    /** Largest argument the fast sine reduces exactly enough; larger ones take std::sin. */
    constexpr double fastSinLimit = 1.0e9;

    /** Bound on |fastSin (x) - std::sin (x)| for |x| <= fastSinLimit, relative
        part and absolute part (the kernels are good to about 1 ulp; the
        library to half an ulp; the bound leaves a wide margin). */
    constexpr double fastSinRelativeError = 8.0e-16;
    constexpr double fastSinAbsoluteError = 1.0e-19;

    KORVANE_ALWAYS_INLINE std::int64_t bitsOf (double x) noexcept
    {
        std::int64_t b;
        std::memcpy (&b, &x, sizeof (b));
        return b;
    }

    /** sin (x) for |x| <= fastSinLimit: Cody-Waite reduction by pi/2 (the
        quadrant count stays below 2^30, so every product with the 23-bit
        pieces is exact), then the classic minimax kernels on [-pi/4, pi/4]. */
    KORVANE_ALWAYS_INLINE double fastSinShifted (double x, std::int64_t quarterTurns) noexcept
    {
        constexpr double twoOverPi = 0.6366197723675814;
        constexpr double c1 = 1.570796251296997;        // pi/2 in four pieces
        constexpr double c2 = 7.549789415861596e-08;
        constexpr double c3 = 5.390302529957765e-15;
        constexpr double c4 = 3.2820035428735005e-22;

        const double t = x * twoOverPi + roundingMagic;
        const std::int64_t quadrant = bitsOf (t) + quarterTurns;
        const double k = t - roundingMagic;

        double r = x - k * c1;
        r = r - k * c2;
        r = r - k * c3;
        r = r - k * c4;

        const double z = r * r;

        // sin kernel
        const double sp = 8.33333333332248946124e-03 + z * (-1.98412698298579493134e-04 + z * (2.75573137070700676789e-06
                        + z * (-2.50507602534068634195e-08 + z * 1.58969099521155010221e-10)));
        const double sinR = r + (z * r) * (-1.66666666666666324348e-01 + z * sp);

        // cos kernel
        const double cp = z * (4.16666666666666019037e-02 + z * (-1.38888888888741095749e-03 + z * (2.48015872894767294178e-05
                        + z * (-2.75573143513906633035e-07 + z * (2.08757232129817482790e-09 + z * -1.13596475577881948265e-11)))));
        const double hz = 0.5 * z;
        const double w = 1.0 - hz;
        const double cosR = w + (((1.0 - w) - hz) + z * cp);

        const double v = (quadrant & 1) != 0 ? cosR : sinR;
        return (quadrant & 2) != 0 ? -v : v;
    }

    KORVANE_ALWAYS_INLINE double fastSin (double x) noexcept   { return fastSinShifted (x, 0); }

    /** cos (x) = sin (x + pi/2), the quarter turn added to the quadrant count
        rather than to x, so no rounding is added. */
    KORVANE_ALWAYS_INLINE double fastCos (double x) noexcept   { return fastSinShifted (x, 1); }

    /** Half-width of the interval around fastSin (x) that holds std::sin (x). */
    KORVANE_ALWAYS_INLINE double fastSinSlack (double s) noexcept
    {
        return std::abs (s) * fastSinRelativeError + fastSinAbsoluteError;
    }

    /** True when every value within the slack of s rounds to the same float,
        so that (float) s equals (float) std::sin (x). */
    KORVANE_ALWAYS_INLINE bool roundsLikeLibrary (double s) noexcept
    {
        const double e = fastSinSlack (s);
        return (float) (s - e) == (float) (s + e);
    }

    /** fmod (y, d) for y >= 0 and y / d below 2^29, where d > 0 is a float
        value widened to double (so n * d is exact for every n that occurs).
        The difference y - n * d is then representable, so it comes out
        exact, as fmod's result does; the nearest n may be one too large,
        which the correction undoes exactly. */
    KORVANE_ALWAYS_INLINE double exactFmod (double y, double d, double inverseD) noexcept
    {
        const double n = (y * inverseD + roundingMagic) - roundingMagic;
        double r = y - n * d;
        r = r < 0.0 ? r + d : r;
        return r >= d ? r - d : r;
    }
}
