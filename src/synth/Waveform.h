#pragma once

#include <juce_core/juce_core.h>

/** One oscillator shape: turns a running phase (radians, never wrapped), two
    shape parameters (0..1) and a noise amount (0..1) into one sample.

    Every instance belongs to one WaveManager, and so to one voice: wave()
    advances the shape's own random generator, so it must only be called from
    the thread that renders that voice. */
class Waveform
{
public:
    Waveform();

    virtual float wave (double phase, float* params, float noise);

    /** n samples at once: out[i] is what wave (phases[i], { p1[i], p2[i] },
        noise) would return, and rng advances exactly as n calls would move it.
        paramsConstant promises that p1 and p2 hold one value throughout. The
        base version calls wave(); shapes override it with vector code that
        gives the same results. Audio thread; allocates nothing. */
    virtual void renderBlock (const double* phases, const float* p1, const float* p2,
                              bool paramsConstant, float noise, float* out, int n);
    virtual juce::String getName();
    virtual juce::String getId();
    virtual juce::String getSection();
    virtual bool acceptsParam1();
    virtual bool acceptsParam2();
    virtual bool isWavetable();

    juce::String name;
    juce::String id;
    juce::String section;
    bool usesParam1 = false;
    bool usesParam2 = false;
    juce::Random rng;

    float pi, twoPi, halfPi, threeHalfPi;

    /** The jitter's noise term -(float) (0.5 log10 (1 - min (noise, 0.99))),
        kept for the last noise amount so that it is computed once per change. */
    float jitterScale (float noise) noexcept;

    /** The jitter of n consecutive calls: out[i] = phases[i] + 1.5 r_i scale,
        with r_i the next number of rng (drawn even when the noise is 0). */
    void jitterPhases (const double* phases, float noise, double* out, int n) noexcept;

protected:
    float cachedNoise = 0.0f;
    float cachedJitterScale = -0.0f;

    // Instances are members of a WaveManager and never deleted through a base pointer.
    ~Waveform() = default;
};
