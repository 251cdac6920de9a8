#include "SliderGroup.h"

#include "OAActionMsg.h"
#include "processor/PluginProcessor.h"

SliderGroup::SliderGroup (juce::String groupName, kvAP& owner, juce::String* parameterIds, int count)
    : processor (owner)
{
    auto& shared = processor.theme;
    shared.initColours();

    valueHighColour = shared.getMain (2);
    valueLowColour = shared.getBg2 (4);
    panelColour = shared.getBg (2);

    jassert (count >= 1 && count <= maxSliders);
    sliderCount = juce::jlimit (0, maxSliders, count);
    name = std::move (groupName);
    setName (name);

    for (int i = 0; i < sliderCount; ++i)
        altLabels.add ("unset");

    cols = sliderCount;
    rows = 1;

    for (int i = 0; i < sliderCount; ++i)
    {
        addAndMakeVisible (sliders[(size_t) i]);
        sliders[(size_t) i].onValueChange = [this, i]
        {
            applyValueColour (i);
            sendActionMessage (OAActionMsg (name, "sliderChanged", -1).message);
        };

        auto& button = buttons[(size_t) i];
        addAndMakeVisible (button);
        button.setButtonText ({});
        button.addListener (this);
        button.setColour (juce::TextButton::buttonColourId, shared.getLight (2));
    }

    setSliderMode (knobMode);

    for (int i = 0; i < sliderCount; ++i)
    {
        const auto& id = parameterIds[i];

        // The ids come from the editor's tables; one that names no parameter
        // leaves its knob unbound rather than failing.
        if (processor.apvts.getParameter (id) != nullptr)
            attachments[(size_t) i] = std::make_unique<juce::AudioProcessorValueTreeState::SliderAttachment> (
                processor.apvts, id, sliders[(size_t) i]);
        else
            jassertfalse;
    }

    for (int i = 0; i < sliderCount; ++i)
        buttons[(size_t) i].setVisible (false);
}

SliderGroup::~SliderGroup()
{
    for (int i = 0; i < sliderCount; ++i)
        buttons[(size_t) i].removeListener (this);
}

juce::Colour SliderGroup::blendValueColour (juce::Colour low, juce::Colour high, float v)
{
    auto channel = [v] (juce::uint8 lo, juce::uint8 hi) -> juce::uint8
    {
        const float c = (float) hi * v + (float) lo * (1.0f - v);
        return (juce::uint8) juce::jlimit (0.0f, 255.0f, std::isnan (c) ? 0.0f : c);
    };

    return juce::Colour (channel (low.getRed(), high.getRed()),
                         channel (low.getGreen(), high.getGreen()),
                         channel (low.getBlue(), high.getBlue()));
}

void SliderGroup::applyValueColour (int index)
{
    auto& slider = sliders[(size_t) index];
    const auto colour = blendValueColour (valueLowColour, valueHighColour, (float) slider.getValue());
    slider.setColour (juce::Slider::rotarySliderFillColourId, colour);
    slider.setColour (juce::Slider::trackColourId, colour);
}

void SliderGroup::setSliderMode (int mode)
{
    const bool numbers = mode == numberMode;

    for (int i = 0; i < sliderCount; ++i)
    {
        auto& slider = sliders[(size_t) i];

        if (numbers)
        {
            slider.setSliderStyle (juce::Slider::LinearHorizontal);
            slider.setTextBoxStyle (juce::Slider::TextBoxBelow, false, 100, 40);
            slider.setColour (juce::Slider::textBoxTextColourId, processor.theme.getMain (1));
        }
        else
        {
            slider.setSliderStyle (juce::Slider::RotaryVerticalDrag);
            slider.setTextBoxStyle (juce::Slider::NoTextBox, true, 0, 0);
        }
    }

    buttonOffset = numbers ? 15 : 0;
    resized();
}

void SliderGroup::setBaseTheme()
{
    for (int i = 0; i < sliderCount; ++i)
    {
        sliders[(size_t) i].setColour (juce::Slider::textBoxTextColourId, processor.theme.getMain (1));
        applyValueColour (i);
    }
}

void SliderGroup::setAltTheme()
{
    auto& shared = processor.theme;
    valueHighColour = shared.getAccent (2);
    valueLowColour = shared.getBg2 (10);
    panelColour = shared.getBg (2);

    for (int i = 0; i < sliderCount; ++i)
    {
        auto& slider = sliders[(size_t) i];
        slider.setColour (juce::Slider::textBoxTextColourId, shared.getAccent (1));
        slider.setColour (juce::Slider::textBoxOutlineColourId, shared.getBg (1));
        slider.setColour (juce::Slider::textBoxBackgroundColourId, shared.getBg (1));
        slider.setColour (juce::Slider::trackColourId, shared.getAccent (1));
        slider.setColour (juce::Slider::rotarySliderFillColourId, shared.getAccent (1));
        slider.setColour (juce::Slider::rotarySliderOutlineColourId, shared.getBg (4));
        slider.setColour (juce::Slider::backgroundColourId, shared.getBg (3));
        applyValueColour (i);
    }
}

juce::Rectangle<int> SliderGroup::sliderBounds (int index) const
{
    const auto spacing = (float) metrics.spacing;
    const int c = cols > 0 ? index % cols : 0;
    const int r = cols > 0 ? index / cols : 0;
    return { (int) (2.0f * spacing + (float) c * (100.0f + spacing) - 1.0f),
             (int) (spacing + (float) r * (100.0f + spacing) - 1.0f),
             100, 100 };
}

void SliderGroup::resized()
{
    for (int i = 0; i < sliderCount; ++i)
    {
        // Only the cells of the grid hold knobs.
        if (i >= cols * rows)
            break;

        const auto bounds = sliderBounds (i);
        sliders[(size_t) i].setBounds (bounds);
        buttons[(size_t) i].setBounds (bounds.getX() + 44, bounds.getY() + 76 - buttonOffset, 12, 12);
    }
}

void SliderGroup::paint (juce::Graphics& g)
{
    const auto unit = (float) metrics.unit;
    g.setFont (unit);

    for (int i = 0; i < sliderCount && i < cols * rows; ++i)
    {
        const auto b = sliderBounds (i);
        const auto& alt = altLabels[i];

        if (alt != "unset" && sliders[(size_t) i].isMouseOverOrDragging (true))
        {
            g.setColour (theme.getLight (4));
            g.drawFittedText (alt, (int) ((float) b.getX() + 0.2f * (float) b.getWidth()), b.getY(),
                              (int) (0.6f * (float) b.getWidth()), b.getHeight(),
                              juce::Justification::centredTop, 1);
        }
        else
        {
            g.setColour (valueHighColour);
            g.drawFittedText (labels[(size_t) i], b, juce::Justification::centredTop, 1);
        }
    }

    if (title != "unset")
    {
        const int inset = sliderCount == 1 ? metrics.spacing : 4 * metrics.spacing;
        g.setColour (processor.theme.getBg (3).withAlpha (0.5f));
        g.fillRect (inset, 0, getWidth() - 2 * inset, (int) (unit * 1.25f));
        g.setColour (processor.theme.getLight (1).withAlpha (0.5f));
        g.drawFittedText (title, 0, 0, getWidth(), metrics.unit, juce::Justification::centredTop, 1);
    }
}

void SliderGroup::buttonClicked (juce::Button* button)
{
    for (int i = 0; i < sliderCount; ++i)
        if (button == &buttons[(size_t) i])
            sendActionMessage (OAActionMsg (name, "btnClicked", i).message);
}
