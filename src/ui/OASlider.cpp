#include "OASlider.h"

OASlider::Geometry OASlider::geometryFor (float width, float height, float v)
{
    const float wi = juce::jmax (0.0f, width - 20.0f);
    const float hi = juce::jmax (0.0f, height - 20.0f);

    Geometry geo;
    geo.centreX = wi * 0.5f + 10.0f;
    geo.centreY = hi * 0.5f + 10.0f;
    geo.radius = 0.5f * juce::jmin (wi, hi) - 3.0f;
    // 1.8π of travel, starting 0.25 rad past the track's start.
    geo.angle = v * 5.654867f - 2.5774336f;
    geo.dot = { geo.centreX + geo.radius * std::cos (geo.angle - juce::MathConstants<float>::halfPi),
                geo.centreY + geo.radius * std::sin (geo.angle - juce::MathConstants<float>::halfPi) };
    return geo;
}

void OASlider::paint (juce::Graphics& g)
{
    auto v = (float) getValue();

    if (! std::isfinite (v))
        v = 0.0f;

    const auto geo = geometryFor ((float) getWidth(), (float) getHeight(), v);
    const auto cx = geo.centreX, cy = geo.centreY, r = geo.radius, a = geo.angle;

    auto strokeArc = [&] (float radius, float from, float to, float thickness, juce::PathStrokeType::EndCapStyle cap)
    {
        juce::Path arc;
        arc.addCentredArc (cx, cy, juce::jmax (0.0f, radius), juce::jmax (0.0f, radius), 0.0f, from, to, true);
        g.strokePath (arc, juce::PathStrokeType (thickness, juce::PathStrokeType::curved, cap));
    };

    g.setColour (findColour (juce::Slider::rotarySliderOutlineColourId));
    strokeArc (r, trackStart, trackEnd, 6.0f, juce::PathStrokeType::rounded);

    if (isEnabled())
    {
        g.setColour (findColour (juce::Slider::rotarySliderFillColourId));
        strokeArc (r - 4.0f, a - 0.6f, a, 6.0f, juce::PathStrokeType::butt);
        strokeArc (r + 4.0f, a - 0.45f, a - 0.15f, 2.0f, juce::PathStrokeType::butt);
    }

    g.setColour (findColour (juce::Slider::thumbColourId));
    g.fillEllipse (geo.dot.x - dotDiameter * 0.5f, geo.dot.y - dotDiameter * 0.5f, dotDiameter, dotDiameter);
}
