#include "OAVULogo.h"

void OAVULogo::resized()
{
    const int side = getWidth() / 2;

    if (logo.isValid() && side > 0)
        logo = logo.rescaled (side, side, juce::Graphics::highResamplingQuality);
}

void OAVULogo::paint (juce::Graphics& g)
{
    const auto w = (float) getWidth();
    const float base = 0.5f * w - 0.25f * w;
    const float unit = 0.03125f * w;

    g.setColour (overload ? juce::Colours::red : colourA);
    g.setOpacity (0.75f);
    g.drawImageAt (logo, (int) (base + levelL * unit), 0, true);

    g.setColour (overload ? juce::Colours::yellow : colourB);
    g.setOpacity (0.5f);
    g.drawImageAt (logo, (int) (base - levelR * unit), 0, true);

    g.setColour (overload ? juce::Colours::yellow : colourC);
    g.setOpacity (0.25f);
    g.drawImageAt (logo, (int) base, 0, true);
}
