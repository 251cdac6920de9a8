#include "Waveform.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

Waveform::Waveform()
    : pi (3.1415927f),
      twoPi (6.2831855f),
      halfPi (1.5707964f),
      threeHalfPi (4.712389f)
{
}

float Waveform::wave (double phase, float*, float)
{
    return (float) std::sin (phase);
}

void Waveform::renderBlock (const double* phases, const float* p1, const float* p2, bool, float noise, float* out, int n)
{
    for (int i = 0; i < n; ++i)
    {
        float params[2] = { p1[i], p2[i] };
        out[i] = wave (phases[i], params, noise);
    }
}

float Waveform::jitterScale (float noise) noexcept
{
    if (noise != cachedNoise)
    {
        const float n = noise > 0.99f ? 0.99f : noise;
        cachedJitterScale = -(float) (0.5 * std::log10 ((double) (1.0f - n)));
        cachedNoise = noise;
    }

    return cachedJitterScale;
}

namespace
{
    // juce::Random's generator, stepped here so that a block's draws can be
    // made in one loop (the numbers are the ones nextFloat() would give).
    constexpr std::uint64_t lcgMultiplier = 0x5deece66dULL;
    constexpr std::uint64_t lcgIncrement = 11;
    constexpr std::uint64_t lcgMask = 0xffffffffffffULL;

    inline float lcgFloat (std::uint64_t seed) noexcept
    {
        const auto r = (float) (std::uint32_t) (seed >> 16) / 4294967296.0f;
        return r == 1.0f ? 1.0f - std::numeric_limits<float>::epsilon() : r;
    }

    /** The generator moved on by n steps at once. */
    std::uint64_t lcgSkip (std::uint64_t seed, int n) noexcept
    {
        std::uint64_t mul = 1, add = 0;                      // accumulated map x -> mul x + add
        std::uint64_t stepMul = lcgMultiplier, stepAdd = lcgIncrement;

        for (auto k = (unsigned) n; k != 0; k >>= 1)
        {
            if ((k & 1) != 0)
            {
                mul = (mul * stepMul) & lcgMask;
                add = (add * stepMul + stepAdd) & lcgMask;
            }

            stepAdd = (stepAdd * stepMul + stepAdd) & lcgMask;
            stepMul = (stepMul * stepMul) & lcgMask;
        }

        return (seed * mul + add) & lcgMask;
    }
}

void Waveform::jitterPhases (const double* phases, float noise, double* out, int n) noexcept
{
    if (n <= 0)
        return;

    const float scale = jitterScale (noise);
    auto seed = (std::uint64_t) rng.getSeed();

    if (scale == 0.0f)
    {
        // No jitter: the draws only move the generator on. (The term is -0
        // then, and x + -0 is x for every phase that occurs.)
        rng.setSeed ((juce::int64) lcgSkip (seed, n));

        if (out != phases)
            std::copy (phases, phases + n, out);

        return;
    }

    for (int i = 0; i < n; ++i)
    {
        seed = (seed * lcgMultiplier + lcgIncrement) & lcgMask;
        out[i] = phases[i] + (double) (1.5f * lcgFloat (seed) * scale);
    }

    rng.setSeed ((juce::int64) seed);
}

juce::String Waveform::getName()    { return name; }
juce::String Waveform::getId()      { return id; }
juce::String Waveform::getSection() { return section; }

bool Waveform::acceptsParam1()      { return isWavetable() || usesParam1; }
bool Waveform::acceptsParam2()      { return isWavetable() || usesParam2; }

bool Waveform::isWavetable()        { return false; }
