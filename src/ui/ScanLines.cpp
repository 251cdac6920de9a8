#include "ScanLines.h"

void ScanLines::paint (juce::Graphics& g, const juce::Component& component, int offset)
{
    // The lines span the parent, whatever the component's own bounds.
    const auto* parent = component.getParentComponent();
    const int pw = parent != nullptr ? parent->getWidth() : component.getWidth();
    const int ph = parent != nullptr ? parent->getHeight() : component.getHeight();

    for (int j = 0; j < ph / 16; ++j)
    {
        g.setColour (juce::Colours::green);
        g.setOpacity (0.5f);
        g.drawLine (0.0f, (float) (16 * j + offset), (float) pw, (float) (16 * j + offset));

        g.setColour (juce::Colours::orange);
        g.setOpacity (0.25f);
        g.drawLine (0.0f, (float) (17 * j), (float) pw, (float) (17 * j));
    }
}

void Shade::paint (juce::Graphics& g)
{
    g.fillAll (juce::Colour::fromRGBA (0, 0, 0, 100));
    ScanLines::paint (g, *this, offset);
}

ScopeScan::ScopeScan()
{
    setInterceptsMouseClicks (false, false);
}

void ScopeScan::paint (juce::Graphics& g)
{
    ScanLines::paint (g, *this, offset);
}
