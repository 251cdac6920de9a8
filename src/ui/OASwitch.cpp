#include "OASwitch.h"

OASwitch::OASwitch()
{
    setTriggeredOnMouseDown (false);
}

void OASwitch::clicked()
{
    isOn = ! isOn;
    repaint();
}

void OASwitch::paint (juce::Graphics& g)
{
    const auto w = (float) getWidth(), h = (float) getHeight();
    const auto corner = h * 0.25f;
    const auto knob = h - 16.0f;

    g.setColour (frameColour);
    g.fillRoundedRectangle (0.0f, 0.0f, w, h, corner);

    if (isOn)
    {
        g.setColour (trackColour);
        g.fillRoundedRectangle (4.0f, 4.0f, w - 8.0f, h - 8.0f, corner);
        g.setColour (onKnobColour);
        g.fillRoundedRectangle (w - knob - 8.0f, 8.0f, knob, knob, corner);
    }
    else
    {
        g.setColour (trackColour);
        g.fillRoundedRectangle (4.0f, 4.0f, h - 8.0f, h - 8.0f, corner);
        g.setColour (offKnobColour);
        g.fillRoundedRectangle (8.0f, 8.0f, knob, knob, corner);
    }
}
