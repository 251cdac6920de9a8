#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/** Drifting scan lines over the parent's whole area: green lines every 16
    pixels, moved down by the offset (0..15), over still orange lines every
    17 pixels, which gives a slow moiré. */
namespace ScanLines
{
    void paint (juce::Graphics& g, const juce::Component& component, int offset);
}

/** Dims the front panel under an overlay screen and takes its clicks, with
    the scan lines over it. The editor's timer advances tick and offset. */
class Shade : public juce::Component
{
public:
    Shade() = default;

    void paint (juce::Graphics& g) override;

    int tick = 0;
    int offset = 0;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (Shade)
};

/** The scan lines alone, over the oscilloscope. Clicks pass through to the
    scope under it (a click there locks the picture). */
class ScopeScan : public juce::Component
{
public:
    ScopeScan();

    void paint (juce::Graphics& g) override;

    int tick = 0;
    int offset = 0;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (ScopeScan)
};
