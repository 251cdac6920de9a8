#pragma once

#include <juce_audio_basics/juce_audio_basics.h>

#include <algorithm>
#include <cmath>
#include <vector>

/** Small measurements on rendered audio, for tests that check what a note
    sounds like rather than how it was produced. Header only and built on the
    framework's audio basics alone, so that the plug-in test host (which holds
    none of Korvane's code) measures with the same tools. */
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

    /** Calls fn (t) for every rising zero crossing, t its time in samples,
        interpolated between the samples on either side. */
    template <typename Fn>
    void forEachRisingCrossing (const float* x, int n, Fn&& fn)
    {
        for (int i = 1; i < n; ++i)
            if (x[i - 1] < 0.0f && x[i] >= 0.0f)
                fn ((i - 1) + (double) -x[i - 1] / ((double) x[i] - x[i - 1]));
    }

    /** Fundamental of a periodic signal from its rising zero crossings: their
        count over the time from the first to the last. */
    inline double frequencyFromCrossings (const float* x, int n, double sampleRate)
    {
        double first = -1.0, last = -1.0;
        int crossings = 0;

        forEachRisingCrossing (x, n, [&] (double t)
        {
            if (first < 0.0)
                first = t;

            last = t;
            ++crossings;
        });

        return crossings > 1 ? (crossings - 1) * sampleRate / (last - first) : 0.0;
    }

    /** Fundamental from the median distance of rising zero crossings, which
        ignores gaps between notes and the odd restart of a note. */
    inline double medianFrequencyFromCrossings (const float* x, int n, double sampleRate)
    {
        std::vector<double> periods;
        double last = -1.0;

        forEachRisingCrossing (x, n, [&] (double t)
        {
            if (last >= 0.0)
                periods.push_back (t - last);

            last = t;
        });

        if (periods.empty())
            return 0.0;

        std::nth_element (periods.begin(), periods.begin() + (long) periods.size() / 2, periods.end());
        return sampleRate / periods[periods.size() / 2];
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
