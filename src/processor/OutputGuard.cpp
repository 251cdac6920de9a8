#include "OutputGuard.h"

#include <cstring>

OutputGuard::OutputGuard (Reporter reporterToUse) : reporter (std::move (reporterToUse))
{
    startTimer (500);
}

OutputGuard::~OutputGuard()
{
    stopTimer();
}

bool OutputGuard::silenceIfNotFinite (juce::AudioBuffer<float>& buffer, int numChannels) noexcept
{
    const auto channels = juce::jmin (numChannels, buffer.getNumChannels());
    const auto n = buffer.getNumSamples();
    juce::uint32 notFinite = 0;

    // A float is NaN or infinite exactly when its exponent bits are all set;
    // the test on the bit pattern vectorises, and reads without changing.
    for (int c = 0; c < channels; ++c)
    {
        const auto* x = buffer.getReadPointer (c);

        for (int i = 0; i < n; ++i)
        {
            juce::uint32 bits;
            std::memcpy (&bits, x + i, sizeof (bits));
            notFinite |= (bits & 0x7f800000u) == 0x7f800000u ? 1u : 0u;
        }
    }

    if (notFinite == 0)
        return false;

    for (int c = 0; c < channels; ++c)
        buffer.clear (c, 0, n);

    silenced.fetch_add (1, std::memory_order_relaxed);
    return true;
}

void OutputGuard::reportNewOccurrences()
{
    const auto total = getSilencedBlocks();

    if (total == reported)
        return;

    const auto added = total - reported;
    reported = total;

    if (reporter != nullptr)
        reporter ("Output Guard: " + juce::String (added) + (added == 1 ? " block" : " blocks")
                  + " with a non-finite sample went out as silence (" + juce::String (total) + " since start)");
}
