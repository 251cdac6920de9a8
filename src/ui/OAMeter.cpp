#include "OAMeter.h"

// Half away from zero, as the drawn lengths are compared.
static int roundToPixel (float x)
{
    return (int) std::round (x);
}

void OAMeter::setValue (float v)
{
    const float newValue = std::isnan (v) ? 0.0f : juce::jlimit (0.0f, 1.0f, v);
    const auto length = (float) (mode == verticalBar ? getHeight() : getWidth());
    const bool lengthChanged = roundToPixel (value * length) != roundToPixel (newValue * length);

    value = newValue;

    if (lengthChanged)
        repaint();
}

void OAMeter::paint (juce::Graphics& g)
{
    const int w = getWidth(), h = getHeight();

    g.fillAll (background);
    g.setColour (foreground);

    const auto corner = (float) cornerSize;

    switch (mode)
    {
        case verticalBar:
        {
            const int length = roundToPixel (value * (float) h * scale);
            g.fillRoundedRectangle (0.0f, 0.0f, (float) w, (float) length, corner);
            break;
        }

        case centredSquare:
        case centredCircle:
        {
            const int length = roundToPixel (value * (float) w * scale);
            const int origin = w / 2 - length / 2;
            g.fillRoundedRectangle ((float) origin, (float) origin, (float) length, (float) length,
                                    mode == centredCircle ? (float) length : corner);
            break;
        }

        default:
        {
            const int length = roundToPixel (value * (float) w * scale);
            g.fillRoundedRectangle (0.0f, 0.0f, (float) length, (float) h, corner);
            break;
        }
    }
}
