#include "SoundMeasures.h"

#include <juce_dsp/juce_dsp.h>

#include <algorithm>
#include <cmath>

namespace Factory
{
namespace
{
    double toDb (double gain) { return gain > 1.0e-10 ? 20.0 * std::log10 (gain) : -200.0; }

    /** Mean power of both channels over [start, end). */
    double meanPower (const juce::AudioBuffer<float>& audio, juce::int64 start, juce::int64 end)
    {
        start = std::max ((juce::int64) 0, start);
        end = std::min ((juce::int64) audio.getNumSamples(), end);

        if (end <= start)
            return 0.0;

        double sum = 0.0;

        for (int c = 0; c < audio.getNumChannels(); ++c)
        {
            const auto* x = audio.getReadPointer (c);

            for (auto i = start; i < end; ++i)
                sum += (double) x[i] * x[i];
        }

        return sum / ((double) (end - start) * audio.getNumChannels());
    }

    double percentile (std::vector<double> values, double fraction)
    {
        if (values.empty())
            return 0.0;

        const auto k = (size_t) std::clamp ((double) (values.size() - 1) * fraction, 0.0, (double) (values.size() - 1));
        std::nth_element (values.begin(), values.begin() + (std::ptrdiff_t) k, values.end());
        return values[k];
    }
}

SoundMeasures measure (const juce::AudioBuffer<float>& audio, const Phrase& phrase, double sampleRate)
{
    SoundMeasures m;
    const auto numSamples = audio.getNumSamples();
    const auto channels = audio.getNumChannels();

    double peak = 0.0;

    for (int c = 0; c < channels; ++c)
    {
        const auto* x = audio.getReadPointer (c);

        for (int i = 0; i < numSamples; ++i)
        {
            if (! std::isfinite (x[i]))
            {
                m.finite = false;
                return m;
            }

            peak = std::max (peak, (double) std::abs (x[i]));
        }
    }

    m.peakDb = toDb (peak);

    const auto firstOn = Phrase::samplesFor (phrase.firstNoteOnBeat(), sampleRate);
    const auto lastOff = Phrase::samplesFor (phrase.lastNoteOffBeat(), sampleRate);
    m.rmsDb = 10.0 * std::log10 (std::max (1.0e-20, meanPower (audio, firstOn, lastOff)));

    // Level over time.
    const auto window = (juce::int64) std::llround (SoundMeasures::windowSeconds * sampleRate);
    const auto numWindows = (int) ((numSamples + window - 1) / window);
    double envelopePeak = 0.0;

    for (int w = 0; w < numWindows; ++w)
    {
        const auto level = std::sqrt (meanPower (audio, w * window, (w + 1) * window));
        m.envelope.push_back ((float) level);
        envelopePeak = std::max (envelopePeak, level);
    }

    const auto relativeDb = [&] (double level) { return toDb (level) - toDb (envelopePeak); };
    const auto windowOf = [&] (juce::int64 sample) { return (int) std::clamp (sample / window, (juce::int64) 0, (juce::int64) numWindows); };

    // Attack: from the first note-on until within 3 dB of the highest level
    // reached before the next note starts.
    auto firstSpanEnd = lastOff;

    for (const auto& n : phrase.notes)
        if (n.startBeat > phrase.firstNoteOnBeat())
            firstSpanEnd = std::min (firstSpanEnd, Phrase::samplesFor (n.startBeat, sampleRate));

    double firstPeak = 0.0;

    for (int w = windowOf (firstOn); w < windowOf (firstSpanEnd); ++w)
        firstPeak = std::max (firstPeak, (double) m.envelope[(size_t) w]);

    for (int w = windowOf (firstOn); w < windowOf (firstSpanEnd); ++w)
    {
        if (toDb (m.envelope[(size_t) w]) >= toDb (firstPeak) - 3.0)
        {
            m.attackSeconds = std::max (0.0, (double) ((w + 1) * window - firstOn) / sampleRate);
            break;
        }
    }

    // The held span: its end, its quietest moment and its movement after the attack.
    const auto heldFrom = Phrase::samplesFor (phrase.heldFromBeat, sampleRate);
    const auto heldTo = Phrase::samplesFor (phrase.heldToBeat, sampleRate);
    const auto tenth = (juce::int64) std::llround (0.1 * sampleRate);
    m.heldEndDb = relativeDb (std::sqrt (meanPower (audio, heldTo - tenth, heldTo)));

    const auto settled = std::min (std::max (heldFrom, firstOn + (juce::int64) std::llround (m.attackSeconds * sampleRate)), heldTo - tenth);
    double floorLevel = envelopePeak;

    for (auto start = settled; start + tenth <= heldTo; start += window)
        floorLevel = std::min (floorLevel, std::sqrt (meanPower (audio, start, start + tenth)));

    m.heldFloorDb = relativeDb (floorLevel);

    std::vector<double> heldLevels;

    for (int w = windowOf (settled); w < windowOf (heldTo); ++w)
        heldLevels.push_back (toDb (m.envelope[(size_t) w]));

    m.wobbleDb = percentile (heldLevels, 0.9) - percentile (heldLevels, 0.1);

    // Tail: from the last note-off until the level stays 40 dB down.
    for (int w = numWindows - 1; w >= windowOf (lastOff); --w)
    {
        if (relativeDb (m.envelope[(size_t) w]) >= -40.0)
        {
            m.tailSeconds = std::max (0.0, (double) ((w + 1) * window - lastOff) / sampleRate);
            break;
        }
    }

    // Average magnitude spectrum of the mono mix, and its centroid.
    constexpr auto size = SoundMeasures::fftSize;
    juce::dsp::FFT fft (SoundMeasures::fftOrder);
    juce::dsp::WindowingFunction<float> hann ((size_t) size, juce::dsp::WindowingFunction<float>::hann, false);
    std::vector<float> frame ((size_t) size * 2);
    std::vector<double> sum ((size_t) size / 2 + 1, 0.0);
    int frames = 0;

    for (int start = 0; start + size <= numSamples; start += size / 2)
    {
        std::fill (frame.begin(), frame.end(), 0.0f);

        for (int i = 0; i < size; ++i)
        {
            float v = 0.0f;

            for (int c = 0; c < channels; ++c)
                v += audio.getSample (c, start + i);

            frame[(size_t) i] = v / (float) channels;
        }

        hann.multiplyWithWindowingTable (frame.data(), (size_t) size);
        fft.performFrequencyOnlyForwardTransform (frame.data());

        for (size_t k = 0; k < sum.size(); ++k)
            sum[k] += frame[k];

        ++frames;
    }

    m.binHz = sampleRate / size;
    double weighted = 0.0, total = 0.0;

    for (size_t k = 0; k < sum.size(); ++k)
    {
        const auto magnitude = frames > 0 ? sum[k] / frames : 0.0;
        m.spectrum.push_back ((float) magnitude);

        if (k > 0)
        {
            weighted += magnitude * (double) k * m.binHz;
            total += magnitude;
        }
    }

    m.centroidHz = total > 0.0 ? weighted / total : 0.0;
    return m;
}

juce::String clearDifference (const SoundMeasures& a, const SoundMeasures& b)
{
    const auto ratio = [] (double x, double y) { return std::max (x, y) / std::max (1.0e-9, std::min (x, y)); };

    if (ratio (a.centroidHz, b.centroidHz) >= 1.25)
        return "centroid " + juce::String (ratio (a.centroidHz, b.centroidHz), 2) + " x apart";

    if (std::abs (a.attackSeconds - b.attackSeconds) >= 0.1 && ratio (a.attackSeconds, b.attackSeconds) >= 2.0)
        return "attack " + juce::String (std::abs (a.attackSeconds - b.attackSeconds), 2) + " s apart";

    if (std::abs (a.heldEndDb - b.heldEndDb) >= 6.0)
        return "held level " + juce::String (std::abs (a.heldEndDb - b.heldEndDb), 1) + " dB apart";

    if (std::abs (a.tailSeconds - b.tailSeconds) >= 0.3 && ratio (a.tailSeconds, b.tailSeconds) >= 1.5)
        return "tail " + juce::String (std::abs (a.tailSeconds - b.tailSeconds), 2) + " s apart";

    if (std::abs (a.wobbleDb - b.wobbleDb) >= 4.0)
        return "movement " + juce::String (std::abs (a.wobbleDb - b.wobbleDb), 1) + " dB apart";

    return {};
}
}
