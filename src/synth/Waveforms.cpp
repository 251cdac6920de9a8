#include "Waveforms.h"

#include <juce_dsp/juce_dsp.h>

#include <cmath>

// Precision matters here: each shape is written in exactly the float or double
// arithmetic it has always used, because the rounding is part of its sound.
// The single-precision functions (sinf, fmodf, roundf ...) are called by those
// names so that no overload silently widens or narrows an argument.

namespace
{
/** The random phase offset every shape applies before anything else. Draws
    exactly one number per call, whatever the noise amount, so that a voice's
    generator advances by the same step on every path. */
double jitteredPhase (Waveform& shape, double phase, float noise)
{
    const float r = shape.rng.nextFloat();
    const float n = noise > 0.99f ? 0.99f : noise;
    const float jitter = 1.5f * r * -(float) (0.5 * std::log10 ((double) (1.0f - n)));
    return phase + (double) jitter;
}

/** Harmonic k of the additive shapes: the fast rational sine, kept inside the
    range where it is accurate. Approximates -sin (k * x). */
float harmonic (const Waveform& shape, int k, float x)
{
    return juce::dsp::FastMathApproximations::sin (fmodf ((float) k * x, shape.twoPi) - shape.pi);
}

/** Sum of harmonic (k, x) / k for k = first, first + 2, ... below end. */
float harmonicSeries (const Waveform& shape, float x, int first, int end)
{
    float sum = 0.0f;

    for (int k = first; k < end; k += 2)
        sum += harmonic (shape, k, x) * (1.0f / (float) k);

    return sum;
}

/** The seven-harmonic ramp shared by the two plain sawtooth shapes. */
float sawtoothSeries (const Waveform& shape, float x)
{
    static constexpr float weights[] = { 1.0f, 0.5f, 0.33333334f, 0.25f, 0.2f, 0.16666667f, 0.14285715f };

    float sum = 0.0f;

    for (int k = 1; k <= 7; ++k)
        sum += harmonic (shape, k, x) * weights[k - 1];

    return sum * 0.5f;
}

/** Moon and Sun: levels below p1 fall to zero, levels above 1 - p2 jump to full. */
float gatedLevel (float s, float p1, float p2)
{
    const float v = s >= p1 ? s : 0.0f;
    return v > 1.0f - p2 ? 1.0f : 2.0f * v - 1.0f;
}

float pulse (double phase, float threshold)
{
    return (float) std::sin (phase) > threshold ? 1.0f : -1.0f;
}
} // namespace

namespace Waveforms
{

float SineOG::wave (double phase, float*, float noise)
{
    const double ph = jitteredPhase (*this, phase, noise);
    return (float) std::sin (ph);
}

float SineR::wave (double phase, float* params, float noise)
{
    const double ph = jitteredPhase (*this, phase, noise);

    // q is never below 0.0725 over the parameter range, so the division is safe.
    const float q = (20.0f * params[1] + 1.0f) * (params[0] + 0.0725f);
    return (float) std::round ((double) q * std::sin (ph)) / q;
}

float SineString::wave (double phase, float* params, float noise)
{
    const double ph = jitteredPhase (*this, phase, noise);
    return (float) ((std::sin (ph) + std::sin ((double) (10.0f * params[0]) * ph)) * 0.5);
}

float SineStringB::wave (double phase, float* params, float noise)
{
    const double ph = jitteredPhase (*this, phase, noise);
    const float k = 10.0f * params[0] + 2.0f;
    return (float) (std::sin (ph) + std::sin ((double) k * ph) / (double) k);
}

float SuperSine::wave (double phase, float* params, float noise)
{
    const double ph = jitteredPhase (*this, phase, noise);
    const float root = 10.0f * params[0];
    const float k = root * root;
    return (float) ((std::sin (ph) + std::sin ((double) k * ph)) * 0.5);
}

float MoonSine::wave (double phase, float* params, float noise)
{
    const double ph = jitteredPhase (*this, phase, noise);
    const float s = std::abs ((float) std::sin (0.5 * ph));
    return gatedLevel (s, params[0], params[1]);
}

float SunSine::wave (double phase, float* params, float noise)
{
    const double ph = jitteredPhase (*this, phase, noise);
    return gatedLevel ((float) std::sin (ph), params[0], params[1]);
}

float TriangleOG::wave (double phase, float*, float noise)
{
    const double ph = jitteredPhase (*this, phase, noise);
    const double m = std::fmod (ph + (double) halfPi, (double) twoPi);
    return (float) (1.0 - std::abs (2.0 * m / (double) pi - 2.0));
}

float TriangleIf::wave (double phase, float*, float noise)
{
    const double ph = jitteredPhase (*this, phase, noise);

    // The rising half is the first half of the wrapped cycle. Deciding the
    // half by the sine's sign instead disagrees with the wrap right at the
    // start of a cycle (and, as the float 2 pi drifts from the true one, over a
    // growing sliver of each cycle), which throws a sample of +3 into the note.
    const double m = std::fmod (ph, (double) twoPi);
    const float v = m < (double) pi ? (float) m - pi
                                    : (float) std::fmod (-ph, (double) twoPi) + pi;
    return 2.0f * (v + 0.5f * pi) / pi;
}

float NiceTriangle::wave (double phase, float* params, float noise)
{
    const double ph = jitteredPhase (*this, phase, noise);
    const float s = (float) std::sin (ph);
    const double m = std::fmod (ph, (double) pi);
    const float t = roundf ((float) (std::sin ((double) (float) m * 0.5) * 15.0)) / 15.0f;
    return (2.0f * t - 1.0f) * (s > params[0] ? 1.0f : -1.0f);
}

float TriangleTan::wave (double phase, float*, float noise)
{
    const double ph = jitteredPhase (*this, phase, noise);
    return tanf ((float) std::sin (ph)) / halfPi;
}

float SquareOG::wave (double phase, float*, float noise)
{
    const double ph = jitteredPhase (*this, phase, noise);
    const float x = (float) ph;

    float sum = 0.0f;
    sum += harmonic (*this, 1, x);
    sum += harmonic (*this, 3, x) * 0.33333334f;
    sum += harmonic (*this, 5, x) * 0.2f;
    sum += harmonic (*this, 7, x) * 0.14285715f;
    return sum;
}

float SquareHarm::wave (double phase, float* params, float noise)
{
    const double ph = jitteredPhase (*this, phase, noise);
    const int end = (int) (floorf (((2.0f * params[1]) * params[0]) * 8.0f) + 2.0f);

    // The fundamental always sounds; end is at least 2 over the parameter range anyway.
    return harmonicSeries (*this, (float) ph, 1, juce::jmax (2, end));
}

float SquareDrop::wave (double phase, float* params, float noise)
{
    const double ph = jitteredPhase (*this, phase, noise);
    const int first = (int) floorf (16.0f * params[0]) + 1;
    const int end = (int) (floorf ((2.0f * params[1]) * 8.0f) + 2.0f);

    if (end <= first)
        return 0.0f;

    return harmonicSeries (*this, (float) ph, first, end);
}

float SquareIf::wave (double phase, float*, float noise)
{
    const double ph = jitteredPhase (*this, phase, noise);
    return pulse (ph, 0.0f);
}

float GameDudeSquare::wave (double phase, float* params, float noise)
{
    const double ph = jitteredPhase (*this, phase, noise);

    // Keeping the width away from 0 and 1 keeps both divisions below finite.
    const float w = juce::jlimit (0.001f, 0.999f, 1.0f - params[0]);
    const float s = (float) std::sin (ph);
    const double m = std::fmod (ph, (double) twoPi);
    const double bumpDepth = (double) params[1];

    if (s > 2.0f * w - 1.0f)
        return (float) (1.0 - std::round (std::sin ((double) (1.0f / w) * 0.25 * m) * 15.0) * bumpDepth / 15.0);

    const float u = 1.0f - w;
    return (float) (std::round (std::sin ((double) (1.0f / u) * 0.25 * m
                                          - (double) w * 0.25 * (double) twoPi / (double) u) * 15.0)
                        * bumpDepth / 15.0
                    - 1.0);
}

float SquareRound::wave (double phase, float* params, float noise)
{
    const double ph = jitteredPhase (*this, phase, noise);
    const float s = (float) std::sin (ph);
    const float p1 = params[0];

    if (s > p1)
        return 1.0f;

    if (s < -p1)
        return -1.0f;

    return s;
}

float SquareSoft::wave (double phase, float* params, float noise)
{
    const double ph = jitteredPhase (*this, phase, noise);
    return (float) std::tanh ((double) powf (pi, 4.0f * params[0] + 1.0f) * std::sin (ph));
}

float PulseOG::wave (double phase, float* params, float noise)
{
    const double ph = jitteredPhase (*this, phase, noise);
    return pulse (ph, params[0]);
}

float PulseIf::wave (double phase, float* params, float noise)
{
    const double ph = jitteredPhase (*this, phase, noise);
    return pulse (ph, params[0]);
}

float PulseIfFull::wave (double phase, float* params, float noise)
{
    const double ph = jitteredPhase (*this, phase, noise);
    return pulse (ph, 2.0f * params[0] - 1.0f);
}

float SawtoothOG::wave (double phase, float*, float noise)
{
    const double ph = jitteredPhase (*this, phase, noise);
    return sawtoothSeries (*this, (float) ph);
}

float SawtoothDull::wave (double phase, float*, float noise)
{
    const double ph = jitteredPhase (*this, phase, noise);
    return sawtoothSeries (*this, (float) ph);
}

float SawtoothMod::wave (double phase, float*, float noise)
{
    const double ph = jitteredPhase (*this, phase, noise);
    const double m = std::fmod (ph, (double) twoPi);
    return ((float) m - pi) / pi;
}

float Ocean::wave (double phase, float* params, float noise)
{
    const double ph = jitteredPhase (*this, phase, noise);

    // A zero sine (in practice only at phase exactly 0) would make a / s = 0 / 0;
    // a tiny positive stand-in gives the shape's positive limit instead.
    float s = (float) std::sin (ph);

    if (s == 0.0f)
        s = 0.00001f;

    const float a = std::abs (s);
    return tanf (powf (a, 10.0f * params[0])) * (a / s) / 1.5707964f;
}

float FourierSpec::wave (double phase, float* params, float noise)
{
    const double ph = jitteredPhase (*this, phase, noise);
    const int end = (int) floorf (10.0f * params[1]);

    if (end <= 1)
        return 0.0f;

    const float step = 30.0f * params[0] + 2.0f;
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

float Miasma::wave (double phase, float* params, float noise)
{
    const double ph = jitteredPhase (*this, phase, noise);
    const float s = (float) std::sin (ph);
    const float p1 = params[0];

    // The remainder lies in [0, p1), so as p1 falls to 0 the shape settles on the
    // inverted sine. Take that limit at p1 = 0 itself rather than fmod (x, 0),
    // which is NaN: turning the knob fully down then sounds like its last notch.
    const double m = p1 > 0.0f ? std::fmod (ph / (double) pi, (double) p1) : 0.0;
    return (float) (2.0 * m - 1.0) * s;
}

float NebulaVenom::wave (double phase, float* params, float noise)
{
    const double ph = jitteredPhase (*this, phase, noise);
    return (float) ((std::sin ((double) (10.0f * params[0]) * ph)
                     - std::cos ((double) (10.0f * params[1]) * ph)) * 0.5);
}

} // namespace Waveforms
