#pragma once

#include "ui/LayoutMetrics.h"

#include <juce_gui_basics/juce_gui_basics.h>

/** What every overlay screen draws first: its background, a one-pixel frame,
    the header bar across the top and the screen's title in it. */
inline void paintScreenHeader (juce::Graphics& g, const juce::Component& screen, const LayoutMetrics& metrics,
                               juce::Colour background, juce::Colour frame, juce::Colour titleColour,
                               const juce::String& title)
{
    const auto w = screen.getWidth();
    const auto spacing = (float) metrics.spacing;

    g.setColour (background);
    g.fillRect (screen.getLocalBounds());
    g.setColour (frame);
    g.drawRect (screen.getLocalBounds(), 1);
    g.fillRect (0, 0, w, (int) (2.0f * spacing + (0.25f * spacing - 1.0f + 25.0f)));

    g.setColour (titleColour);
    g.setFont ((float) (2 * metrics.unit));
    g.drawFittedText (title, metrics.spacing, metrics.spacing, w, (int) (1.5f * (float) metrics.unit),
                      juce::Justification::left, 1);
}
