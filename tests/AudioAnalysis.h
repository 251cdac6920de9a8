#pragma once

#include <juce_audio_basics/juce_audio_basics.h>

#include <cmath>
#include <vector>

/** Small measurements on rendered audio, for tests that check what a note
    sounds like rather than how it was produced. */
namespace AudioAnalysis
{
    inline double rms (const float* x, int n)
    {
        double sum = 0.0;
        for (int i = 0; i < n; ++i)
            sum += (double) x[i] * x[i];
        return n > 0 ? std::sqrt (sum / n) : 0.0;
    }

    inline double peak (const float* x, int n)
    {
        double p = 0.0;
        for (int i = 0; i < n; ++i)
            p = std::max (p, (double) std::abs (x[i]));
        return p;
    }

    /** Fundamental of a periodic signal from its rising zero crossings,
        interpolated between samples. */
    inline double frequencyFromCrossings (const float* x, int n, double sampleRate)
    {
        double first = -1.0, last = -1.0;
        int crossings = 0;

        for (int i = 1; i < n; ++i)
        {
            if (x[i - 1] < 0.0f && x[i] >= 0.0f)
            {
                const auto t = (i - 1) + (double) -x[i - 1] / ((double) x[i] - x[i - 1]);

                if (first < 0.0)
                    first = t;

                last = t;
                ++crossings;
            }
        }

        return crossings > 1 ? (crossings - 1) * sampleRate / (last - first) : 0.0;
    }

    /** Power of the signal at one frequency (Goertzel), over a Hann window. */
    inline double powerAt (const float* x, int n, double frequency, double sampleRate)
    {
        const auto w = 2.0 * juce::MathConstants<double>::pi * frequency / sampleRate;
        const auto coeff = 2.0 * std::cos (w);
        double s1 = 0.0, s2 = 0.0;

        for (int i = 0; i < n; ++i)
        {
            const auto hann = 0.5 - 0.5 * std::cos (2.0 * juce::MathConstants<double>::pi * i / (n - 1));
            const auto s = hann * x[i] + coeff * s1 - s2;
            s2 = s1;
            s1 = s;
        }

        return s1 * s1 + s2 * s2 - coeff * s1 * s2;
    }

    inline bool allFinite (const float* x, int n)
    {
        for (int i = 0; i < n; ++i)
            if (! std::isfinite (x[i]))
                return false;
        return true;
    }
}
