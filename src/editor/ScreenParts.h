#pragma once

#include "ui/LayoutMetrics.h"
#include "ui/OATheme.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <array>

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

/** A screen's scrolling list: one button a row, 2 x unit high, inset from
    both sides, in a content component as tall as the rows. */
inline void layOutListButtons (juce::OwnedArray<juce::TextButton>& buttons, juce::Component& content,
                               int width, const LayoutMetrics& metrics)
{
    const auto x = metrics.spacing - 1 + 100;
    const auto buttonWidth = width - (2 * metrics.spacing - 1 + 200);
    const auto height = 2 * metrics.unit;

    for (int i = 0; i < buttons.size(); ++i)
        buttons[i]->setBounds (x, height * i, buttonWidth, height);

    content.setBounds (0, 0, width, height * buttons.size());
}

/** The category row's colours: the selected category lit, the others dim. */
template <size_t numCategories>
void highlightCategory (std::array<juce::TextButton, numCategories>& categories, juce::TextButton* selected, OATheme& theme)
{
    for (auto& button : categories)
        button.setColour (juce::TextButton::buttonColourId, theme.getBg (3));

    if (selected != nullptr)
        selected->setColour (juce::TextButton::buttonColourId, theme.getBg2 (5));
}
