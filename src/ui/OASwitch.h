#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/** An on/off switch drawn as a pill with a sliding knob. It keeps its own
    state in isOn (not the button's toggle state), flips it on mouse release
    and then calls its listeners, which read isOn. */
class OASwitch : public juce::TextButton
{
public:
    OASwitch();

    using juce::TextButton::clicked;
    void clicked() override;
    void paint (juce::Graphics& g) override;

    bool isOn = false;
    juce::Colour frameColour { juce::Colours::red };
    juce::Colour trackColour { juce::Colours::blue };
    juce::Colour onKnobColour { juce::Colours::green };
    juce::Colour offKnobColour { juce::Colours::green };

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (OASwitch)
};
