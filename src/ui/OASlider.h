#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/** The rotary knob of every slider group: a track arc, a value indicator with
    a thin companion arc, and a dot on the track at the value. Colours come
    from the slider's colour ids: rotarySliderOutlineColourId (track),
    rotarySliderFillColourId (indicator) and thumbColourId (dot). The value is
    drawn as it is (the parameters behind these knobs run from 0 to 1). Mouse
    and keyboard handling are the framework slider's. */
class OASlider : public juce::Slider
{
public:
    OASlider() = default;

    void paint (juce::Graphics& g) override;
    void valueChanged() override {}

    struct Geometry
    {
        float centreX, centreY, radius, angle;
        juce::Point<float> dot; // centre of the value dot
    };

    /** Where the knob of that size draws for value v. Angles are radians
        clockwise from twelve o'clock; the track runs over ±0.9π. */
    static Geometry geometryFor (float width, float height, float v);

    static constexpr float trackStart = -2.8274336f, trackEnd = 2.8274333f;
    static constexpr float dotDiameter = 12.0f;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (OASlider)
};
