#pragma once

#include <juce_graphics/juce_graphics.h>

/** One palette: five base colours as (red, green, blue) triples of 0..255.
    A default palette holds the fallback colours, which is also what a lookup
    of an unknown palette name yields. */
struct OAPallet
{
    OAPallet();
    OAPallet (juce::Array<int> bg, juce::Array<int> bg2, juce::Array<int> main,
              juce::Array<int> light, juce::Array<int> accent);

    /** The shade of a triple at a level: each channel × (0.75 + 0.25 × level),
        truncated and limited to 0..255; a missing channel counts as 0. Level 1
        is the colour as stored. Always opaque. */
    static juce::Colour buildColour (juce::Array<int> triple, float level);

    juce::Array<int> bg;     // backgrounds, outlines of stock widgets
    juce::Array<int> bg2;    // second background, highlight fills, black keys
    juce::Array<int> main;   // text, value arcs, frames
    juce::Array<int> light;  // bright details
    juce::Array<int> accent; // list backgrounds, ticks, the scope trace
};
