#pragma once

// What the factory bank is balanced by: level, brightness and envelope of a
// patch's phrase, measured on the rendered audio.

#include "Phrases.h"

#include <juce_audio_basics/juce_audio_basics.h>

#include <vector>

namespace Factory
{
    struct SoundMeasures
    {
        bool finite = true;
        double peakDb = -200.0;      // highest sample of either channel, dBFS
        double rmsDb = -200.0;       // both channels, from the first note-on to the last note-off, dBFS
        double centroidHz = 0.0;     // spectral centroid of the average magnitude spectrum
        double attackSeconds = 0.0;  // first note-on until within 3 dB of the highest level before the next note
        double heldEndDb = -200.0;   // level at the end of the held span, dB below the highest level
        double heldFloorDb = -200.0; // the quietest 100 ms while a key is held (after the attack), dB below the highest level
        double tailSeconds = 0.0;    // last note-off until the level stays 40 dB below its highest
        double wobbleDb = 0.0;       // how much the level moves while held: the spread of the 10 ms levels, dB

        /** Level over time: RMS of both channels in windows of windowSeconds. */
        std::vector<float> envelope;
        static constexpr double windowSeconds = 0.01;

        /** Average magnitude spectrum (Hann, fftSize points, half overlap),
            bins 0 .. fftSize / 2, and the frequency of a bin. */
        std::vector<float> spectrum;
        static constexpr int fftOrder = 12;
        static constexpr int fftSize = 1 << fftOrder;
        double binHz = 0.0;
    };

    /** Measures a phrase's render. */
    SoundMeasures measure (const juce::AudioBuffer<float>& audio, const Phrase& phrase, double sampleRate);

    /** How two sounds differ clearly, in words ("2.1 x brighter", "attack
        0.9 s longer" ...), or empty text when they do not: brightness
        (centroids 1.25 times apart), attack (at least 0.1 s and twice as
        long), the level at the end of the held span (6 dB), the tail (0.3 s
        and 1.5 times as long) or the movement while held (4 dB). */
    juce::String clearDifference (const SoundMeasures& a, const SoundMeasures& b);

    /** The level window every factory patch peaks in on its phrase (limiter off). */
    constexpr double lowestPeakDb = -12.0;
    constexpr double highestPeakDb = -1.0;

    /** A sustained sound's quietest 100 ms while held stays within this many dB of its highest level. */
    constexpr double sustainedFloorDb = -30.0;
}
