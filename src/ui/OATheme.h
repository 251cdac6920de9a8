#pragma once

#include "OAPallet.h"

#include <juce_audio_processors/juce_audio_processors.h>

#include <map>

/** The table of palettes, the name of the one in use and the editor's font.
    Every colour the editor draws is a shade of one of the current palette's
    five roles at a level (see OAPallet::buildColour). setTheme pushes the
    palette and the font into the framework's look-and-feel, so that stock
    widgets match the custom-drawn ones. Message thread only, except the two
    font getters, which are safe from any thread. */
class OATheme
{
public:
    OATheme();

    /** Enters the five palettes; entries already present are kept, so a
        second call changes nothing. */
    void initColours();

    // The shade of a role of the current palette. An unknown currentTheme
    // enters (and answers with) the fallback palette.
    juce::Colour getBg (float level);
    juce::Colour getBg2 (float level);
    juce::Colour getMain (float level);
    juce::Colour getLight (float level);
    juce::Colour getAccent (float level);

    /** Installs the custom typeface as the default sans-serif face and the
        palette's colours on the look-and-feel the editor uses (the shared
        default one, as the editor sets none of its own). */
    void setTheme (juce::AudioProcessorEditor* editorToTheme);

    /** The embedded typeface (fixed pitch), created once per process. */
    static juce::Typeface::Ptr getCustomTypeface();
    /** A font of the embedded typeface; callers size it with withHeight. */
    static juce::Font getCustomFont();

    std::map<juce::String, OAPallet> pallets;
    juce::String currentTheme { "standard" };
    juce::AudioProcessorEditor* editor = nullptr; // not owned; set by setTheme

private:
    OAPallet& currentPallet() { return pallets[currentTheme]; }
};
