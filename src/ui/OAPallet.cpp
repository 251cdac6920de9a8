#include "OAPallet.h"

OAPallet::OAPallet()
    : OAPallet ({ 41, 63, 64 }, { 112, 96, 177 }, { 106, 153, 87 }, { 227, 235, 223 }, { 162, 207, 121 })
{
}

OAPallet::OAPallet (juce::Array<int> bgIn, juce::Array<int> bg2In, juce::Array<int> mainIn,
                    juce::Array<int> lightIn, juce::Array<int> accentIn)
    : bg (std::move (bgIn)), bg2 (std::move (bg2In)), main (std::move (mainIn)),
      light (std::move (lightIn)), accent (std::move (accentIn))
{
}

juce::Colour OAPallet::buildColour (juce::Array<int> triple, float level)
{
    const float factor = level * 0.25f + 0.75f;

    auto channel = [&] (int index) -> juce::uint8
    {
        const float value = (float) triple[index] * factor; // a missing channel reads as 0

        if (! (value > 0.0f)) // negative, or not a number
            return 0;

        return (juce::uint8) juce::jmin (255, (int) juce::jmin (value, 255.0f));
    };

    return juce::Colour (channel (0), channel (1), channel (2));
}
