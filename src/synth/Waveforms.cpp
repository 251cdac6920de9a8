#include "Waveforms.h"
#include "ShapeMath.h"

#include <juce_dsp/juce_dsp.h>

#include <algorithm>
#include <cmath>

// Precision matters here: each shape is written in exactly the float or double
// arithmetic it has always used, because the rounding is part of its sound.
// The single-precision functions (sinf, fmodf, roundf ...) are called by those
// names so that no overload silently widens or narrows an argument.
//
// Every shape has two paths. wave() is the formula as written, one sample at a
// time. renderBlock() computes a block of samples with loops the compiler
// turns into vector code: the exact-remainder and rational-sine arithmetic of
// the additive shapes is reproduced operation for operation, so those agree
// bit for bit; where a shape takes a library sine and then rounds or compares
// it, the block path uses a fast sine with a known error bound, checks for
// every sample that the bound cannot change the rounding or the comparison,
// and takes the formula itself for the rare sample where it could. Shapes
// whose result is a smooth function of a sine (and the float-sine sums of
// Fourier Spec) agree to within an ulp or two instead. This file is built
// without floating-point contraction, so that both paths round alike.

// Sanitizer runtimes are not up yet when the loader runs the clones' resolvers,
// so sanitizer builds use the baseline code only.
#if defined(__GNUC__) && ! defined(__clang__) && defined(__x86_64__) && defined(__linux__) \
    && ! defined(__SANITIZE_ADDRESS__) && ! defined(__SANITIZE_THREAD__)
 #define KORVANE_VECTOR_CLONES __attribute__ ((target_clones ("arch=x86-64-v3", "default")))
#else
 #define KORVANE_VECTOR_CLONES
#endif

namespace
{
using namespace ShapeMath;

// The shapes' constants (the same values as Waveform's members).
constexpr float piF = 3.1415927f;
constexpr float twoPiF = 6.2831855f;
constexpr float halfPiF = 1.5707964f;

/** Samples per pass of the block paths (stack space for their scratch arrays). */
constexpr int chunk = 128;

/** Below this the additive shapes' products k x stay well inside the range of the exact remainder. */
constexpr double additivePhaseLimit = 5.0e7;

/** The random phase offset every shape applies before anything else. Draws
    exactly one number per call, whatever the noise amount, so that a voice's
    generator advances by the same step on every path. */
double jitteredPhase (Waveform& shape, double phase, float noise)
{
    const float r = shape.rng.nextFloat();
    return phase + (double) (1.5f * r * shape.jitterScale (noise));
}

/** Harmonic k of the additive shapes: the fast rational sine, kept inside the
    range where it is accurate. Approximates -sin (k * x). */
float harmonic (int k, float x)
{
    return juce::dsp::FastMathApproximations::sin (fmodf ((float) k * x, twoPiF) - piF);
}

/** Sum of harmonic (k, x) / k for k = first, first + 2, ... below end. */
float harmonicSeries (float x, int first, int end)
{
    float sum = 0.0f;

    for (int k = first; k < end; k += 2)
        sum += harmonic (k, x) * (1.0f / (float) k);

    return sum;
}

constexpr float sawWeights[] = { 1.0f, 0.5f, 0.33333334f, 0.25f, 0.2f, 0.16666667f, 0.14285715f };
constexpr float squareWeights[] = { 1.0f, 0.33333334f, 0.2f, 0.14285715f };

/** The seven-harmonic ramp shared by the two plain sawtooth shapes. */
float sawtoothSeries (float x)
{
    float sum = 0.0f;

    for (int k = 1; k <= 7; ++k)
        sum += harmonic (k, x) * sawWeights[k - 1];

    return sum * 0.5f;
}

/** Moon and Sun: levels below p1 fall to zero, levels above 1 - p2 jump to full. */
KORVANE_ALWAYS_INLINE float gatedLevel (float s, float p1, float p2)
{
    const float v = s >= p1 ? s : 0.0f;
    return v > 1.0f - p2 ? 1.0f : 2.0f * v - 1.0f;
}

int squareHarmEnd (float p1, float p2)
{
    // The fundamental always sounds; end is at least 2 over the parameter range anyway.
    return juce::jmax (2, (int) (floorf (((2.0f * p2) * p1) * 8.0f) + 2.0f));
}

int squareDropFirst (float p1)   { return (int) floorf (16.0f * p1) + 1; }
int squareDropEnd (float p2)     { return (int) (floorf ((2.0f * p2) * 8.0f) + 2.0f); }
int fourierEnd (float p2)        { return (int) floorf (10.0f * p2); }
float fourierStep (float p1)     { return 30.0f * p1 + 2.0f; }
KORVANE_ALWAYS_INLINE float sineRLevels (float p1, float p2) { return (20.0f * p2 + 1.0f) * (p1 + 0.0725f); }

KORVANE_ALWAYS_INLINE float gameDudeWidth (float p1) { return juce::jlimit (0.001f, 0.999f, 1.0f - p1); }

//==============================================================================
// The formulas, applied to a phase that already carries the jitter.

float sineOGAt (double ph)
{
    return (float) std::sin (ph);
}

float sineRAt (double ph, float p1, float p2)
{
    // q is never below 0.0725 over the parameter range, so the division is safe.
    const float q = sineRLevels (p1, p2);
    return (float) std::round ((double) q * std::sin (ph)) / q;
}

float sineStringAt (double ph, float p1)
{
    return (float) ((std::sin (ph) + std::sin ((double) (10.0f * p1) * ph)) * 0.5);
}

float sineStringBAt (double ph, float p1)
{
    const float k = 10.0f * p1 + 2.0f;
    return (float) (std::sin (ph) + std::sin ((double) k * ph) / (double) k);
}

float superSineAt (double ph, float p1)
{
    const float root = 10.0f * p1;
    const float k = root * root;
    return (float) ((std::sin (ph) + std::sin ((double) k * ph)) * 0.5);
}

float moonSineAt (double ph, float p1, float p2)
{
    const float s = std::abs ((float) std::sin (0.5 * ph));
    return gatedLevel (s, p1, p2);
}

float sunSineAt (double ph, float p1, float p2)
{
    return gatedLevel ((float) std::sin (ph), p1, p2);
}

float triangleOGAt (double ph)
{
    const double m = std::fmod (ph + (double) halfPiF, (double) twoPiF);
    return (float) (1.0 - std::abs (2.0 * m / (double) piF - 2.0));
}

KORVANE_ALWAYS_INLINE float triangleIfFromRemainder (double m)
{
    // fmod (-ph, 2 piF) is exactly -fmod (ph, 2 piF).
    const float v = m < (double) piF ? (float) m - piF : (float) -m + piF;
    return 2.0f * (v + 0.5f * piF) / piF;
}

float triangleIfAt (double ph)
{
    // The rising half is the first half of the wrapped cycle. Deciding the
    // half by the sine's sign instead disagrees with the wrap right at the
    // start of a cycle (and, as the float 2 piF drifts from the true one, over a
    // growing sliver of each cycle), which throws a sample of +3 into the note.
    const double m = std::fmod (ph, (double) twoPiF);
    const float v = m < (double) piF ? (float) m - piF
                                    : (float) std::fmod (-ph, (double) twoPiF) + piF;
    return 2.0f * (v + 0.5f * piF) / piF;
}

float niceTriangleAt (double ph, float p1)
{
    const float s = (float) std::sin (ph);
    const double m = std::fmod (ph, (double) piF);
    const float t = roundf ((float) (std::sin ((double) (float) m * 0.5) * 15.0)) / 15.0f;
    return (2.0f * t - 1.0f) * (s > p1 ? 1.0f : -1.0f);
}

float triangleTanAt (double ph)
{
    return tanf ((float) std::sin (ph)) / halfPiF;
}

float squareOGAt (double ph)
{
    const float x = (float) ph;

    float sum = 0.0f;
    sum += harmonic (1, x);
    sum += harmonic (3, x) * 0.33333334f;
    sum += harmonic (5, x) * 0.2f;
    sum += harmonic (7, x) * 0.14285715f;
    return sum;
}

float squareHarmAt (double ph, float p1, float p2)
{
    return harmonicSeries ((float) ph, 1, squareHarmEnd (p1, p2));
}

float squareDropAt (double ph, float p1, float p2)
{
    const int first = squareDropFirst (p1);
    const int end = squareDropEnd (p2);

    if (end <= first)
        return 0.0f;

    return harmonicSeries ((float) ph, first, end);
}

KORVANE_ALWAYS_INLINE float pulseFromSine (float s, float threshold)
{
    return s > threshold ? 1.0f : -1.0f;
}

float pulseAt (double ph, float threshold)
{
    return pulseFromSine ((float) std::sin (ph), threshold);
}

float gameDudeAt (double ph, float p1, float p2)
{
    // Keeping the width away from 0 and 1 keeps both divisions below finite.
    const float w = gameDudeWidth (p1);
    const float s = (float) std::sin (ph);
    const double m = std::fmod (ph, (double) twoPiF);
    const double bumpDepth = (double) p2;

    if (s > 2.0f * w - 1.0f)
        return (float) (1.0 - std::round (std::sin ((double) (1.0f / w) * 0.25 * m) * 15.0) * bumpDepth / 15.0);

    const float u = 1.0f - w;
    return (float) (std::round (std::sin ((double) (1.0f / u) * 0.25 * m
                                          - (double) w * 0.25 * (double) twoPiF / (double) u) * 15.0)
                        * bumpDepth / 15.0
                    - 1.0);
}

KORVANE_ALWAYS_INLINE float squareRoundFromSine (float s, float p1)
{
    if (s > p1)
        return 1.0f;

    if (s < -p1)
        return -1.0f;

    return s;
}

float squareRoundAt (double ph, float p1)
{
    return squareRoundFromSine ((float) std::sin (ph), p1);
}

float squareSoftAt (double ph, float p1)
{
    return (float) std::tanh ((double) powf (piF, 4.0f * p1 + 1.0f) * std::sin (ph));
}

float sawtoothModAt (double ph)
{
    const double m = std::fmod (ph, (double) twoPiF);
    return ((float) m - piF) / piF;
}

float oceanFromSine (float s, float p1)
{
    // A zero sine (in practice only at phase exactly 0) would make a / s = 0 / 0;
    // a tiny positive stand-in gives the shape's positive limit instead.
    if (s == 0.0f)
        s = 0.00001f;

    const float a = std::abs (s);
    return tanf (powf (a, 10.0f * p1)) * (a / s) / 1.5707964f;
}

float oceanAt (double ph, float p1)
{
    return oceanFromSine ((float) std::sin (ph), p1);
}

float fourierAt (double ph, float p1, float p2)
{
    const int end = fourierEnd (p2);

    if (end <= 1)
        return 0.0f;

    const float step = fourierStep (p1);
    const float x = (float) ph;

    float sum = 0.0f;
    int k = 1;

    do
    {
        sum += (1.0f / (float) k) * sinf (x * (float) k);
        k = (int) ((float) k + step);
    }
    while (k < end);

    return sinf (sum);
}

float miasmaAt (double ph, float p1)
{
    const float s = (float) std::sin (ph);

    // The remainder lies in [0, p1), so as p1 falls to 0 the shape settles on the
    // inverted sine. Take that limit at p1 = 0 itself rather than fmod (x, 0),
    // which is NaN: turning the knob fully down then sounds like its last notch.
    const double m = p1 > 0.0f ? std::fmod (ph / (double) piF, (double) p1) : 0.0;
    return (float) (2.0 * m - 1.0) * s;
}

float nebulaVenomAt (double ph, float p1, float p2)
{
    return (float) ((std::sin ((double) (10.0f * p1) * ph)
                     - std::cos ((double) (10.0f * p2) * ph)) * 0.5);
}

//==============================================================================
// Vector kernels. Each is a plain loop over one pass of samples.

KORVANE_VECTOR_CLONES
bool allWithin (const double* x, int n, double limit)
{
    int inside = 0;

    for (int i = 0; i < n; ++i)
        inside += ((x[i] >= 0.0) & (x[i] <= limit)) ? 1 : 0;   // NaN is outside

    return inside == n;
}

/** Rounds half away from zero, as std::round does (the sign of a zero
    included), for |t| below 2^50: the nearest integer, ties moved outwards. */
KORVANE_ALWAYS_INLINE double roundAway (double t)
{
    const double nearest = std::copysign ((t + roundingMagic) - roundingMagic, t);
    return std::abs (t - nearest) == 0.5 ? t + std::copysign (0.5, t) : nearest;
}

/** As roundf, for |t| below 2^21. */
KORVANE_ALWAYS_INLINE float roundAwayF (float t)
{
    constexpr float magic = 12582912.0f; // 1.5 * 2^23
    const float nearest = std::copysign ((t + magic) - magic, t);
    return std::abs (t - nearest) == 0.5f ? t + std::copysign (0.5f, t) : nearest;
}

/** d[i] = sin (scale * x[i]), with the fast sine; x within fastSinLimit / scale. */
KORVANE_VECTOR_CLONES
void fastSines (const double* x, double scale, double* d, int n)
{
    for (int i = 0; i < n; ++i)
        d[i] = fastSin (scale * x[i]);
}

/** s[i] = (float) sin (scale * x[i]) exactly as the library gives it; returns
    how many samples the fast sine could not settle (marked in miss). */
KORVANE_VECTOR_CLONES
int floatSinesKernel (const double* x, double scale, float* s, unsigned char* miss, int n)
{
    int misses = 0;

    for (int i = 0; i < n; ++i)
    {
        const double v = fastSin (scale * x[i]);
        const bool settled = roundsLikeLibrary (v);
        s[i] = (float) v;
        miss[i] = settled ? 0 : 1;
        misses += settled ? 0 : 1;
    }

    return misses;
}

/** (float) std::sin (scale * x[i]) for every i, bit for bit. */
void exactFloatSines (const double* x, double scale, float* s, int n)
{
    if (! allWithin (x, n, fastSinLimit / scale))
    {
        for (int i = 0; i < n; ++i)
            s[i] = (float) std::sin (scale * x[i]);

        return;
    }

    unsigned char miss[chunk];

    if (floatSinesKernel (x, scale, s, miss, n) != 0)
        for (int i = 0; i < n; ++i)
            if (miss[i] != 0)
                s[i] = (float) std::sin (scale * x[i]);
}

/** A float result v of a double expression whose distance from the library's
    value is at most slack: settled when the whole interval rounds alike. */
KORVANE_ALWAYS_INLINE bool settles (double v, double slack)
{
    const double e = slack + std::abs (v) * 1.0e-15 + 1.0e-19;
    return (float) (v - e) == (float) (v + e);
}

KORVANE_VECTOR_CLONES
int sineRKernel (const double* d, const float* p1, const float* p2, float* out, unsigned char* miss, int n)
{
    int misses = 0;

    for (int i = 0; i < n; ++i)
    {
        const float q = sineRLevels (p1[i], p2[i]);
        const double qd = (double) q;
        const double e = fastSinSlack (d[i]);
        const double lo = roundAway (qd * (d[i] - e));
        const double hi = roundAway (qd * (d[i] + e));
        const bool settled = (lo == hi) & (std::abs (qd * d[i]) < 1.0e8);
        out[i] = (float) roundAway (qd * d[i]) / q;
        miss[i] = settled ? 0 : 1;
        misses += settled ? 0 : 1;
    }

    return misses;
}

/** Sine String, Sine Strung and Super Sine: (float) (a sin (ph) + b sin (k ph)). */
KORVANE_VECTOR_CLONES
int twoSinesKernel (const double* d1, const double* d2, const float* k, int kind, float* out, unsigned char* miss, int n)
{
    int misses = 0;

    for (int i = 0; i < n; ++i)
    {
        const double e1 = fastSinSlack (d1[i]), e2 = fastSinSlack (d2[i]);
        double v, slack;

        if (kind == 1)          // Sine Strung: sin (ph) + sin (k ph) / k
        {
            v = d1[i] + d2[i] / (double) k[i];
            slack = e1 + e2 / std::abs ((double) k[i]);
        }
        else                    // Sine String, Super Sine: (sin (ph) + sin (k ph)) * 0.5
        {
            v = (d1[i] + d2[i]) * 0.5;
            slack = (e1 + e2) * 0.5;
        }

        const bool settled = settles (v, slack);
        out[i] = (float) v;
        miss[i] = settled ? 0 : 1;
        misses += settled ? 0 : 1;
    }

    return misses;
}

KORVANE_VECTOR_CLONES
int nebulaKernel (const double* d1, const double* c2, float* out, unsigned char* miss, int n)
{
    int misses = 0;

    for (int i = 0; i < n; ++i)
    {
        const double v = (d1[i] - c2[i]) * 0.5;
        const bool settled = settles (v, (fastSinSlack (d1[i]) + fastSinSlack (c2[i])) * 0.5);
        out[i] = (float) v;
        miss[i] = settled ? 0 : 1;
        misses += settled ? 0 : 1;
    }

    return misses;
}

KORVANE_VECTOR_CLONES
void fastCosines (const double* x, double scale, double* c, int n)
{
    for (int i = 0; i < n; ++i)
        c[i] = fastCos (scale * x[i]);
}

/** out[i] = (float) exact remainder of (x[i] + offset) by d, for the remainder shapes. */
KORVANE_VECTOR_CLONES
void triangleOGKernel (const double* ph, float* out, int n)
{
    constexpr double d = (double) twoPiF;
    constexpr double inverse = 1.0 / d;

    for (int i = 0; i < n; ++i)
    {
        const double m = exactFmod (ph[i] + (double) halfPiF, d, inverse);
        out[i] = (float) (1.0 - std::abs (2.0 * m / (double) piF - 2.0));
    }
}

KORVANE_VECTOR_CLONES
void triangleIfKernel (const double* ph, float* out, int n)
{
    constexpr double d = (double) twoPiF;
    constexpr double inverse = 1.0 / d;

    for (int i = 0; i < n; ++i)
        out[i] = triangleIfFromRemainder (exactFmod (ph[i], d, inverse));
}

KORVANE_VECTOR_CLONES
void sawtoothModKernel (const double* ph, float* out, int n)
{
    constexpr double d = (double) twoPiF;
    constexpr double inverse = 1.0 / d;

    for (int i = 0; i < n; ++i)
        out[i] = ((float) exactFmod (ph[i], d, inverse) - piF) / piF;
}

KORVANE_VECTOR_CLONES
int niceTriangleKernel (const double* ph, const float* s, const float* p1, float* out, unsigned char* miss, int n)
{
    constexpr double d = (double) piF;
    constexpr double inverse = 1.0 / d;
    int misses = 0;

    for (int i = 0; i < n; ++i)
    {
        const double m = exactFmod (ph[i], d, inverse);
        const double v = fastSin ((double) (float) m * 0.5);
        const double e = fastSinSlack (v);
        const float lo = roundAwayF ((float) ((v - e) * 15.0));
        const float hi = roundAwayF ((float) ((v + e) * 15.0));
        const float t = roundAwayF ((float) (v * 15.0)) / 15.0f;
        out[i] = (2.0f * t - 1.0f) * (s[i] > p1[i] ? 1.0f : -1.0f);
        const bool settled = lo == hi;
        miss[i] = settled ? 0 : 1;
        misses += settled ? 0 : 1;
    }

    return misses;
}

KORVANE_VECTOR_CLONES
int gameDudeKernel (const double* ph, const float* s, const float* p1, const float* p2, float* out, unsigned char* miss, int n)
{
    constexpr double d = (double) twoPiF;
    constexpr double inverse = 1.0 / d;
    int misses = 0;

    for (int i = 0; i < n; ++i)
    {
        const float w = gameDudeWidth (p1[i]);
        const float u = 1.0f - w;
        const double m = exactFmod (ph[i], d, inverse);
        const bool top = s[i] > 2.0f * w - 1.0f;
        const double a = top ? (double) (1.0f / w) * 0.25 * m
                             : (double) (1.0f / u) * 0.25 * m - (double) w * 0.25 * (double) twoPiF / (double) u;
        const double v = fastSin (a);
        const double e = fastSinSlack (v);
        const double bump = roundAway (v * 15.0) * (double) p2[i] / 15.0;
        out[i] = top ? (float) (1.0 - bump) : (float) (bump - 1.0);
        const bool settled = (roundAway ((v - e) * 15.0) == roundAway ((v + e) * 15.0)) & (std::abs (a) <= 1.0e6);
        miss[i] = settled ? 0 : 1;
        misses += settled ? 0 : 1;
    }

    return misses;
}

KORVANE_VECTOR_CLONES
void miasmaKernel (const double* ph, const float* s, const float* p1, float* out, unsigned char* miss, int n)
{
    for (int i = 0; i < n; ++i)
    {
        const double y = ph[i] / (double) piF;
        const double d = (double) p1[i];
        const bool usable = (d > 0.0) & (y >= 0.0) & (y < d * 1.0e8);
        const double safeD = usable ? d : 1.0;
        const double m = p1[i] > 0.0f ? exactFmod (usable ? y : 0.0, safeD, 1.0 / safeD) : 0.0;
        out[i] = (float) (2.0 * m - 1.0) * s[i];
        miss[i] = (usable | ! (p1[i] > 0.0f)) ? 0 : 1;
    }
}

/** sum[i] += harmonic (k, x[i]) * weight, computed as harmonic() does. */
KORVANE_VECTOR_CLONES
void addHarmonic (const float* x, int k, float weight, float* sum, int n)
{
    constexpr double d = (double) twoPiF;
    constexpr double inverse = 1.0 / d;
    const float kf = (float) k;

    for (int i = 0; i < n; ++i)
    {
        const float y = kf * x[i];
        const float r = (float) exactFmod ((double) y, d, inverse);   // fmodf (y, twoPiF), exactly
        sum[i] += juce::dsp::FastMathApproximations::sin (r - piF) * weight;
    }
}

/** sum[i] += (1 / k) sinf (x[i] k), with the sine taken in double and rounded. */
KORVANE_VECTOR_CLONES
void addFloatSine (const float* x, int k, float* sum, int n)
{
    const float kf = (float) k;
    const float weight = 1.0f / kf;

    for (int i = 0; i < n; ++i)
        sum[i] += weight * (float) fastSin ((double) (x[i] * kf));
}

KORVANE_VECTOR_CLONES
void floatSineOf (const float* x, float* out, int n)
{
    for (int i = 0; i < n; ++i)
        out[i] = (float) fastSin ((double) x[i]);
}

KORVANE_VECTOR_CLONES
void toFloat (const double* x, float* out, int n)
{
    for (int i = 0; i < n; ++i)
        out[i] = (float) x[i];
}

//==============================================================================
/** Runs fn (start, length) over the block in passes of at most `chunk` samples. */
template <typename Fn>
void inPasses (int n, Fn&& fn)
{
    for (int start = 0; start < n; start += chunk)
        fn (start, juce::jmin (chunk, n - start));
}

template <typename Formula>
void retakeMisses (const unsigned char* miss, int misses, float* out, int n, Formula&& formula)
{
    if (misses == 0)
        return;

    for (int i = 0; i < n; ++i)
        if (miss[i] != 0)
            out[i] = formula (i);
}

/** The shapes whose block path is the formula itself, sample by sample
    (with the jitter drawn in one loop). */
template <typename Formula>
void formulaBlock (Waveform& shape, const double* phases, const float* p1, const float* p2,
                   float noise, float* out, int n, Formula&& formula)
{
    inPasses (n, [&] (int at, int len)
    {
        double ph[chunk];
        shape.jitterPhases (phases + at, noise, ph, len);

        for (int i = 0; i < len; ++i)
            out[at + i] = formula (ph[i], p1[at + i], p2[at + i]);
    });
}

/** The shapes that are a function of the exact float sine of the jittered
    phase: s is filled, then fromSine (i, ph, s) gives each sample. */
template <typename FromSine>
void sineShapeBlock (Waveform& shape, const double* phases, float noise, float* out, int n, FromSine&& fromSine)
{
    inPasses (n, [&] (int at, int len)
    {
        double ph[chunk];
        float s[chunk];
        shape.jitterPhases (phases + at, noise, ph, len);
        exactFloatSines (ph, 1.0, s, len);
        fromSine (at, len, ph, s, out + at);
    });
}

/** The additive shapes with fixed terms: x = (float) phase, then each term
    harmonic (k, x) * weight added in order, finally scaled. */
void additiveBlock (Waveform& shape, const double* phases, float noise, float* out, int n,
                    const int* ks, const float* weights, int terms, float finalScale,
                    float (*formula) (double, float, float), const float* p1, const float* p2)
{
    inPasses (n, [&] (int at, int len)
    {
        double ph[chunk];
        shape.jitterPhases (phases + at, noise, ph, len);

        if (! allWithin (ph, len, additivePhaseLimit))
        {
            for (int i = 0; i < len; ++i)
                out[at + i] = formula (ph[i], p1[at + i], p2[at + i]);

            return;
        }

        float x[chunk];
        float* sum = out + at;
        toFloat (ph, x, len);
        std::fill (sum, sum + len, 0.0f);

        for (int t = 0; t < terms; ++t)
            addHarmonic (x, ks[t], weights[t], sum, len);

        if (finalScale != 1.0f)
            for (int i = 0; i < len; ++i)
                sum[i] = sum[i] * finalScale;
    });
}

/** The odd series of Square Harm* and Square Drop*, k = first, first + 2, ... below end. */
int oddTerms (int first, int end, int* ks, float* weights)
{
    int terms = 0;

    for (int k = first; k < end && terms < 16; k += 2)
    {
        ks[terms] = k;
        weights[terms] = 1.0f / (float) k;
        ++terms;
    }

    return terms;
}

/** Sine String, Sine Strung, Super Sine: two double sines, combined, settled. */
void twoSinesBlock (Waveform& shape, const double* phases, const float* p1, const float* p2, float noise,
                    float* out, int n, int kind, float (*formula) (double, float, float))
{
    inPasses (n, [&] (int at, int len)
    {
        double ph[chunk], d1[chunk], d2[chunk], x2[chunk];
        float k[chunk];
        unsigned char miss[chunk];
        shape.jitterPhases (phases + at, noise, ph, len);

        for (int i = 0; i < len; ++i)
        {
            const float a = p1[at + i];
            float multiplier;

            if (kind == 1)      multiplier = 10.0f * a + 2.0f;
            else if (kind == 2) multiplier = (10.0f * a) * (10.0f * a);
            else                multiplier = 10.0f * a;

            k[i] = multiplier;
            x2[i] = (double) multiplier * ph[i];
        }

        if (! allWithin (ph, len, fastSinLimit) || ! allWithin (x2, len, fastSinLimit))
        {
            for (int i = 0; i < len; ++i)
                out[at + i] = formula (ph[i], p1[at + i], p2[at + i]);

            return;
        }

        fastSines (ph, 1.0, d1, len);
        fastSines (x2, 1.0, d2, len);
        const auto misses = twoSinesKernel (d1, d2, k, kind == 1 ? 1 : 0, out + at, miss, len);
        retakeMisses (miss, misses, out + at, len, [&] (int i) { return formula (ph[i], p1[at + i], p2[at + i]); });
    });
}
} // namespace

namespace Waveforms
{

//==============================================================================
float SineOG::wave (double phase, float*, float noise)
{
    return sineOGAt (jitteredPhase (*this, phase, noise));
}

void SineOG::renderBlock (const double* phases, const float*, const float*, bool, float noise, float* out, int n)
{
    inPasses (n, [&] (int at, int len)
    {
        double ph[chunk];
        jitterPhases (phases + at, noise, ph, len);
        exactFloatSines (ph, 1.0, out + at, len);
    });
}

//==============================================================================
float SineR::wave (double phase, float* params, float noise)
{
    return sineRAt (jitteredPhase (*this, phase, noise), params[0], params[1]);
}

void SineR::renderBlock (const double* phases, const float* p1, const float* p2, bool, float noise, float* out, int n)
{
    inPasses (n, [&] (int at, int len)
    {
        double ph[chunk], d[chunk];
        unsigned char miss[chunk];
        jitterPhases (phases + at, noise, ph, len);

        if (! allWithin (ph, len, fastSinLimit))
        {
            for (int i = 0; i < len; ++i)
                out[at + i] = sineRAt (ph[i], p1[at + i], p2[at + i]);

            return;
        }

        fastSines (ph, 1.0, d, len);
        const auto misses = sineRKernel (d, p1 + at, p2 + at, out + at, miss, len);
        retakeMisses (miss, misses, out + at, len, [&] (int i) { return sineRAt (ph[i], p1[at + i], p2[at + i]); });
    });
}

//==============================================================================
float SineString::wave (double phase, float* params, float noise)
{
    return sineStringAt (jitteredPhase (*this, phase, noise), params[0]);
}

void SineString::renderBlock (const double* phases, const float* p1, const float* p2, bool, float noise, float* out, int n)
{
    twoSinesBlock (*this, phases, p1, p2, noise, out, n, 0, [] (double ph, float a, float) { return sineStringAt (ph, a); });
}

float SineStringB::wave (double phase, float* params, float noise)
{
    return sineStringBAt (jitteredPhase (*this, phase, noise), params[0]);
}

void SineStringB::renderBlock (const double* phases, const float* p1, const float* p2, bool, float noise, float* out, int n)
{
    twoSinesBlock (*this, phases, p1, p2, noise, out, n, 1, [] (double ph, float a, float) { return sineStringBAt (ph, a); });
}

float SuperSine::wave (double phase, float* params, float noise)
{
    return superSineAt (jitteredPhase (*this, phase, noise), params[0]);
}

void SuperSine::renderBlock (const double* phases, const float* p1, const float* p2, bool, float noise, float* out, int n)
{
    twoSinesBlock (*this, phases, p1, p2, noise, out, n, 2, [] (double ph, float a, float) { return superSineAt (ph, a); });
}

//==============================================================================
float MoonSine::wave (double phase, float* params, float noise)
{
    return moonSineAt (jitteredPhase (*this, phase, noise), params[0], params[1]);
}

void MoonSine::renderBlock (const double* phases, const float* p1, const float* p2, bool, float noise, float* out, int n)
{
    inPasses (n, [&] (int at, int len)
    {
        double ph[chunk];
        float s[chunk];
        jitterPhases (phases + at, noise, ph, len);
        exactFloatSines (ph, 0.5, s, len);

        for (int i = 0; i < len; ++i)
            out[at + i] = gatedLevel (std::abs (s[i]), p1[at + i], p2[at + i]);
    });
}

float SunSine::wave (double phase, float* params, float noise)
{
    return sunSineAt (jitteredPhase (*this, phase, noise), params[0], params[1]);
}

void SunSine::renderBlock (const double* phases, const float* p1, const float* p2, bool, float noise, float* out, int n)
{
    sineShapeBlock (*this, phases, noise, out, n, [&] (int at, int len, const double*, const float* s, float* o)
    {
        for (int i = 0; i < len; ++i)
            o[i] = gatedLevel (s[i], p1[at + i], p2[at + i]);
    });
}

//==============================================================================
float TriangleOG::wave (double phase, float*, float noise)
{
    return triangleOGAt (jitteredPhase (*this, phase, noise));
}

void TriangleOG::renderBlock (const double* phases, const float*, const float*, bool, float noise, float* out, int n)
{
    inPasses (n, [&] (int at, int len)
    {
        double ph[chunk];
        jitterPhases (phases + at, noise, ph, len);

        if (allWithin (ph, len, 1.0e9))
            triangleOGKernel (ph, out + at, len);
        else
            for (int i = 0; i < len; ++i)
                out[at + i] = triangleOGAt (ph[i]);
    });
}

float TriangleIf::wave (double phase, float*, float noise)
{
    return triangleIfAt (jitteredPhase (*this, phase, noise));
}

void TriangleIf::renderBlock (const double* phases, const float*, const float*, bool, float noise, float* out, int n)
{
    inPasses (n, [&] (int at, int len)
    {
        double ph[chunk];
        jitterPhases (phases + at, noise, ph, len);

        if (allWithin (ph, len, 1.0e9))
            triangleIfKernel (ph, out + at, len);
        else
            for (int i = 0; i < len; ++i)
                out[at + i] = triangleIfAt (ph[i]);
    });
}

float NiceTriangle::wave (double phase, float* params, float noise)
{
    return niceTriangleAt (jitteredPhase (*this, phase, noise), params[0]);
}

void NiceTriangle::renderBlock (const double* phases, const float* p1, const float*, bool, float noise, float* out, int n)
{
    sineShapeBlock (*this, phases, noise, out, n, [&] (int at, int len, const double* ph, const float* s, float* o)
    {
        if (! allWithin (ph, len, 1.0e9))
        {
            for (int i = 0; i < len; ++i)
                o[i] = niceTriangleAt (ph[i], p1[at + i]);

            return;
        }

        unsigned char miss[chunk];
        const auto misses = niceTriangleKernel (ph, s, p1 + at, o, miss, len);
        retakeMisses (miss, misses, o, len, [&] (int i) { return niceTriangleAt (ph[i], p1[at + i]); });
    });
}

float TriangleTan::wave (double phase, float*, float noise)
{
    return triangleTanAt (jitteredPhase (*this, phase, noise));
}

void TriangleTan::renderBlock (const double* phases, const float*, const float*, bool, float noise, float* out, int n)
{
    sineShapeBlock (*this, phases, noise, out, n, [] (int, int len, const double*, const float* s, float* o)
    {
        for (int i = 0; i < len; ++i)
            o[i] = tanf (s[i]) / halfPiF;
    });
}

//==============================================================================
float SquareOG::wave (double phase, float*, float noise)
{
    return squareOGAt (jitteredPhase (*this, phase, noise));
}

void SquareOG::renderBlock (const double* phases, const float* p1, const float* p2, bool, float noise, float* out, int n)
{
    static constexpr int ks[] = { 1, 3, 5, 7 };
    additiveBlock (*this, phases, noise, out, n, ks, squareWeights, 4, 1.0f,
                   [] (double ph, float, float) { return squareOGAt (ph); }, p1, p2);
}

float SquareHarm::wave (double phase, float* params, float noise)
{
    return squareHarmAt (jitteredPhase (*this, phase, noise), params[0], params[1]);
}

void SquareHarm::renderBlock (const double* phases, const float* p1, const float* p2, bool paramsConstant, float noise, float* out, int n)
{
    if (! paramsConstant || n <= 0)
    {
        formulaBlock (*this, phases, p1, p2, noise, out, n, squareHarmAt);
        return;
    }

    int ks[16];
    float weights[16];
    const auto terms = oddTerms (1, squareHarmEnd (p1[0], p2[0]), ks, weights);
    additiveBlock (*this, phases, noise, out, n, ks, weights, terms, 1.0f, squareHarmAt, p1, p2);
}

float SquareDrop::wave (double phase, float* params, float noise)
{
    return squareDropAt (jitteredPhase (*this, phase, noise), params[0], params[1]);
}

void SquareDrop::renderBlock (const double* phases, const float* p1, const float* p2, bool paramsConstant, float noise, float* out, int n)
{
    if (! paramsConstant || n <= 0)
    {
        formulaBlock (*this, phases, p1, p2, noise, out, n, squareDropAt);
        return;
    }

    int ks[16];
    float weights[16];
    const auto terms = oddTerms (squareDropFirst (p1[0]), squareDropEnd (p2[0]), ks, weights);

    if (terms == 0)
    {
        // Nothing sounds; the draws still happen.
        formulaBlock (*this, phases, p1, p2, noise, out, n, [] (double, float, float) { return 0.0f; });
        return;
    }

    additiveBlock (*this, phases, noise, out, n, ks, weights, terms, 1.0f, squareDropAt, p1, p2);
}

float SquareIf::wave (double phase, float*, float noise)
{
    return pulseAt (jitteredPhase (*this, phase, noise), 0.0f);
}

void SquareIf::renderBlock (const double* phases, const float*, const float*, bool, float noise, float* out, int n)
{
    sineShapeBlock (*this, phases, noise, out, n, [] (int, int len, const double*, const float* s, float* o)
    {
        for (int i = 0; i < len; ++i)
            o[i] = pulseFromSine (s[i], 0.0f);
    });
}

float GameDudeSquare::wave (double phase, float* params, float noise)
{
    return gameDudeAt (jitteredPhase (*this, phase, noise), params[0], params[1]);
}

void GameDudeSquare::renderBlock (const double* phases, const float* p1, const float* p2, bool, float noise, float* out, int n)
{
    sineShapeBlock (*this, phases, noise, out, n, [&] (int at, int len, const double* ph, const float* s, float* o)
    {
        if (! allWithin (ph, len, 1.0e9))
        {
            for (int i = 0; i < len; ++i)
                o[i] = gameDudeAt (ph[i], p1[at + i], p2[at + i]);

            return;
        }

        unsigned char miss[chunk];
        const auto misses = gameDudeKernel (ph, s, p1 + at, p2 + at, o, miss, len);
        retakeMisses (miss, misses, o, len, [&] (int i) { return gameDudeAt (ph[i], p1[at + i], p2[at + i]); });
    });
}

float SquareRound::wave (double phase, float* params, float noise)
{
    return squareRoundAt (jitteredPhase (*this, phase, noise), params[0]);
}

void SquareRound::renderBlock (const double* phases, const float* p1, const float*, bool, float noise, float* out, int n)
{
    sineShapeBlock (*this, phases, noise, out, n, [&] (int at, int len, const double*, const float* s, float* o)
    {
        for (int i = 0; i < len; ++i)
            o[i] = squareRoundFromSine (s[i], p1[at + i]);
    });
}

float SquareSoft::wave (double phase, float* params, float noise)
{
    return squareSoftAt (jitteredPhase (*this, phase, noise), params[0]);
}

void SquareSoft::renderBlock (const double* phases, const float* p1, const float*, bool paramsConstant, float noise, float* out, int n)
{
    inPasses (n, [&] (int at, int len)
    {
        double ph[chunk], d[chunk];
        jitterPhases (phases + at, noise, ph, len);

        if (! allWithin (ph, len, fastSinLimit))
        {
            for (int i = 0; i < len; ++i)
                out[at + i] = squareSoftAt (ph[i], p1[at + i]);

            return;
        }

        // The gain only changes with the parameter; the library's tanh stays.
        fastSines (ph, 1.0, d, len);
        const auto constantGain = (double) powf (piF, 4.0f * p1[at] + 1.0f);

        for (int i = 0; i < len; ++i)
        {
            const auto gain = paramsConstant ? constantGain : (double) powf (piF, 4.0f * p1[at + i] + 1.0f);
            out[at + i] = (float) std::tanh (gain * d[i]);
        }
    });
}

//==============================================================================
float PulseOG::wave (double phase, float* params, float noise)
{
    return pulseAt (jitteredPhase (*this, phase, noise), params[0]);
}

void PulseOG::renderBlock (const double* phases, const float* p1, const float*, bool, float noise, float* out, int n)
{
    sineShapeBlock (*this, phases, noise, out, n, [&] (int at, int len, const double*, const float* s, float* o)
    {
        for (int i = 0; i < len; ++i)
            o[i] = pulseFromSine (s[i], p1[at + i]);
    });
}

float PulseIf::wave (double phase, float* params, float noise)
{
    return pulseAt (jitteredPhase (*this, phase, noise), params[0]);
}

void PulseIf::renderBlock (const double* phases, const float* p1, const float*, bool, float noise, float* out, int n)
{
    sineShapeBlock (*this, phases, noise, out, n, [&] (int at, int len, const double*, const float* s, float* o)
    {
        for (int i = 0; i < len; ++i)
            o[i] = pulseFromSine (s[i], p1[at + i]);
    });
}

float PulseIfFull::wave (double phase, float* params, float noise)
{
    return pulseAt (jitteredPhase (*this, phase, noise), 2.0f * params[0] - 1.0f);
}

void PulseIfFull::renderBlock (const double* phases, const float* p1, const float*, bool, float noise, float* out, int n)
{
    sineShapeBlock (*this, phases, noise, out, n, [&] (int at, int len, const double*, const float* s, float* o)
    {
        for (int i = 0; i < len; ++i)
            o[i] = pulseFromSine (s[i], 2.0f * p1[at + i] - 1.0f);
    });
}

//==============================================================================
float SawtoothOG::wave (double phase, float*, float noise)
{
    return sawtoothSeries ((float) jitteredPhase (*this, phase, noise));
}

void SawtoothOG::renderBlock (const double* phases, const float* p1, const float* p2, bool, float noise, float* out, int n)
{
    static constexpr int ks[] = { 1, 2, 3, 4, 5, 6, 7 };
    additiveBlock (*this, phases, noise, out, n, ks, sawWeights, 7, 0.5f,
                   [] (double ph, float, float) { return sawtoothSeries ((float) ph); }, p1, p2);
}

float SawtoothDull::wave (double phase, float*, float noise)
{
    return sawtoothSeries ((float) jitteredPhase (*this, phase, noise));
}

void SawtoothDull::renderBlock (const double* phases, const float* p1, const float* p2, bool, float noise, float* out, int n)
{
    static constexpr int ks[] = { 1, 2, 3, 4, 5, 6, 7 };
    additiveBlock (*this, phases, noise, out, n, ks, sawWeights, 7, 0.5f,
                   [] (double ph, float, float) { return sawtoothSeries ((float) ph); }, p1, p2);
}

float SawtoothMod::wave (double phase, float*, float noise)
{
    return sawtoothModAt (jitteredPhase (*this, phase, noise));
}

void SawtoothMod::renderBlock (const double* phases, const float*, const float*, bool, float noise, float* out, int n)
{
    inPasses (n, [&] (int at, int len)
    {
        double ph[chunk];
        jitterPhases (phases + at, noise, ph, len);

        if (allWithin (ph, len, 1.0e9))
            sawtoothModKernel (ph, out + at, len);
        else
            for (int i = 0; i < len; ++i)
                out[at + i] = sawtoothModAt (ph[i]);
    });
}

//==============================================================================
float Ocean::wave (double phase, float* params, float noise)
{
    return oceanAt (jitteredPhase (*this, phase, noise), params[0]);
}

void Ocean::renderBlock (const double* phases, const float* p1, const float*, bool, float noise, float* out, int n)
{
    sineShapeBlock (*this, phases, noise, out, n, [&] (int at, int len, const double*, const float* s, float* o)
    {
        for (int i = 0; i < len; ++i)
            o[i] = oceanFromSine (s[i], p1[at + i]);
    });
}

float FourierSpec::wave (double phase, float* params, float noise)
{
    return fourierAt (jitteredPhase (*this, phase, noise), params[0], params[1]);
}

void FourierSpec::renderBlock (const double* phases, const float* p1, const float* p2, bool paramsConstant, float noise, float* out, int n)
{
    if (! paramsConstant || n <= 0)
    {
        formulaBlock (*this, phases, p1, p2, noise, out, n, fourierAt);
        return;
    }

    const int end = fourierEnd (p2[0]);

    if (end <= 1)
    {
        formulaBlock (*this, phases, p1, p2, noise, out, n, [] (double, float, float) { return 0.0f; });
        return;
    }

    // The harmonics the loop of the formula visits.
    int ks[16];
    int terms = 0;
    const float step = fourierStep (p1[0]);
    int k = 1;

    do
    {
        ks[terms++] = k;
        k = (int) ((float) k + step);
    }
    while (k < end && terms < 16);

    inPasses (n, [&] (int at, int len)
    {
        double ph[chunk];
        jitterPhases (phases + at, noise, ph, len);

        if (! allWithin (ph, len, additivePhaseLimit))
        {
            for (int i = 0; i < len; ++i)
                out[at + i] = fourierAt (ph[i], p1[at + i], p2[at + i]);

            return;
        }

        float x[chunk], sum[chunk];
        toFloat (ph, x, len);
        std::fill (sum, sum + len, 0.0f);

        for (int t = 0; t < terms; ++t)
            addFloatSine (x, ks[t], sum, len);

        floatSineOf (sum, out + at, len);
    });
}

float Miasma::wave (double phase, float* params, float noise)
{
    return miasmaAt (jitteredPhase (*this, phase, noise), params[0]);
}

void Miasma::renderBlock (const double* phases, const float* p1, const float*, bool, float noise, float* out, int n)
{
    sineShapeBlock (*this, phases, noise, out, n, [&] (int at, int len, const double* ph, const float* s, float* o)
    {
        unsigned char miss[chunk];
        miasmaKernel (ph, s, p1 + at, o, miss, len);

        for (int i = 0; i < len; ++i)
            if (miss[i] != 0)
                o[i] = miasmaAt (ph[i], p1[at + i]);
    });
}

float NebulaVenom::wave (double phase, float* params, float noise)
{
    return nebulaVenomAt (jitteredPhase (*this, phase, noise), params[0], params[1]);
}

void NebulaVenom::renderBlock (const double* phases, const float* p1, const float* p2, bool, float noise, float* out, int n)
{
    inPasses (n, [&] (int at, int len)
    {
        double ph[chunk], x1[chunk], x2[chunk], d1[chunk], c2[chunk];
        unsigned char miss[chunk];
        jitterPhases (phases + at, noise, ph, len);

        for (int i = 0; i < len; ++i)
        {
            x1[i] = (double) (10.0f * p1[at + i]) * ph[i];
            x2[i] = (double) (10.0f * p2[at + i]) * ph[i];
        }

        if (! allWithin (x1, len, fastSinLimit) || ! allWithin (x2, len, fastSinLimit))
        {
            for (int i = 0; i < len; ++i)
                out[at + i] = nebulaVenomAt (ph[i], p1[at + i], p2[at + i]);

            return;
        }

        fastSines (x1, 1.0, d1, len);
        fastCosines (x2, 1.0, c2, len);
        const auto misses = nebulaKernel (d1, c2, out + at, miss, len);
        retakeMisses (miss, misses, out + at, len, [&] (int i) { return nebulaVenomAt (ph[i], p1[at + i], p2[at + i]); });
    });
}

} // namespace Waveforms
