#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/** A level meter: a bar or a growing shape whose length is value × size. */
class OAMeter : public juce::Component
{
public:
    OAMeter() = default;

    enum Mode
    {
        horizontalBar = 0, // from the left (also any unknown mode)
        verticalBar = 1,   // from the top, growing downward
        centredSquare = 2,
        centredCircle = 3
    };

    /** Stores v limited to 0..1 (anything not a number as 0) and repaints
        only when the drawn length in whole pixels changes. */
    void setValue (float v);

    void paint (juce::Graphics& g) override;
    void resized() override {}

    float value = 1.0f;
    int mode = horizontalBar;
    float scale = 1.0f;
    int cornerSize = 5;
    juce::Colour foreground { juce::Colours::red };
    juce::Colour background { juce::Colours::black };

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (OAMeter)
};
