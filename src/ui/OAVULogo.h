#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/** The product logo drawn three times in the colour of each copy (only the
    picture's alpha is used): the first copy pushed right by the left level,
    the second left by the right level, the third still. While overload is
    set, the copies take fixed warning colours. */
class OAVULogo : public juce::Component
{
public:
    OAVULogo() = default;

    /** Rescales logo to half the width, square; each resize starts from the
        current picture. */
    void resized() override;
    void paint (juce::Graphics& g) override;

    juce::Image logo;
    float levelL = 1.0f, levelR = 1.0f;
    bool overload = false;
    juce::Colour colourA { juce::Colours::red };
    juce::Colour colourB { juce::Colours::blue };
    juce::Colour colourC { juce::Colours::green };

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (OAVULogo)
};
