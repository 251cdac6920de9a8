#pragma once

#include "LayoutMetrics.h"
#include "OASlider.h"
#include "OATheme.h"

#include <juce_audio_processors/juce_audio_processors.h>

#include <array>
#include <memory>

class kvAP;

/** A titled row of up to 16 knobs, each bound to one parameter of the
    processor, with a label under each, an optional hover label (altLabels)
    and an optional small push button. Sends "<name>.sliderChanged.-1" when a
    knob moves and "<name>.btnClicked.<index>" when a button is clicked. */
class SliderGroup : public juce::Component,
                    public juce::ActionBroadcaster,
                    public juce::Button::Listener
{
public:
    static constexpr int maxSliders = 16;

    // The two slider modes.
    static constexpr int knobMode = 0;
    static constexpr int numberMode = 1;

    /** parameterIds points to count parameter ids (1..16), one per knob; the
        ids are read only while the group is built. */
    SliderGroup (juce::String name, kvAP& processor, juce::String* parameterIds, int count);
    ~SliderGroup() override;

    /** Knob mode (rotary, no text box) or number mode (horizontal, editable
        text box below); lays the group out again. */
    void setSliderMode (int mode);

    /** The two colourings; the editor calls one of them after construction. */
    void setBaseTheme();
    void setAltTheme();

    void resized() override;
    void paint (juce::Graphics& g) override;
    void buttonClicked (juce::Button* button) override;

    /** Colours slider i's indicator by its value, from valueLowColour at 0
        to valueHighColour at 1 (what a knob does when it moves). */
    void applyValueColour (int index);

    /** The value colour between low (at 0) and high (at 1). */
    static juce::Colour blendValueColour (juce::Colour low, juce::Colour high, float v);

    OATheme theme;
    juce::Colour valueHighColour, valueLowColour, panelColour;
    int sliderCount = 0;
    juce::String title { "unset" };
    juce::String name;
    std::array<juce::String, maxSliders> labels;
    int cols = 0, rows = 1;
    std::array<OASlider, maxSliders> sliders;
    std::array<juce::TextButton, maxSliders> buttons;
    // Declared after the sliders, so they are destroyed before them.
    std::array<std::unique_ptr<juce::AudioProcessorValueTreeState::SliderAttachment>, maxSliders> attachments;
    kvAP& processor;
    int buttonOffset = 0;
    juce::StringArray altLabels;
    LayoutMetrics metrics;

private:
    juce::Rectangle<int> sliderBounds (int index) const;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (SliderGroup)
};
