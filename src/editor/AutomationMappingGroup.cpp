#include "AutomationMappingGroup.h"

#include "processor/PluginProcessor.h"
#include "ui/OAActionMsg.h"

AutomationMappingGroup::AutomationMappingGroup (kvAP& owner, juce::String key, juce::String retrig, juce::String* factor)
    : mapKey (std::move (key)),
      retrigId (std::move (retrig)),
      factorId (*factor),
      factorGroup ("params", owner, factor, 1),
      processor (owner)
{
    auto& shared = processor.theme;
    shared.initColours();
    labelColour = shared.getLight (2);

    // Taken once, so a recolour needs nothing but a parameter read.
    retrigOnColour = shared.getMain (1);
    retrigOffColour = shared.getAccent (1);

    addAndMakeVisible (retrigButton);
    retrigButton.setButtonText ({});
    retrigButton.addListener (this);
    retrigButton.setColour (juce::TextButton::buttonColourId, shared.getLight (2));

    processor.apvts.addParameterListener (retrigId, this);

    addAndMakeVisible (factorGroup);
    factorGroup.labels[0] = "-/+";
    factorGroup.title = "factor";

    for (auto* meter : { &valueMeter, &levelMeter })
    {
        addAndMakeVisible (*meter);
        meter->mode = OAMeter::verticalBar;
        meter->background = shared.getBg (2);
        meter->cornerSize = 2;
    }

    valueMeter.foreground = shared.getAccent (2);
    levelMeter.foreground = shared.getMain (2);

    addAndMakeVisible (targetButton);
    targetButton.setButtonText ("None");
    targetButton.addListener (this);

    applyRetrigColour();

    getLookAndFeel().setColour (juce::Slider::thumbColourId, shared.getMain (4));

    recolourTimer.startTimerHz (recolourPollHz);
}

AutomationMappingGroup::~AutomationMappingGroup()
{
    recolourTimer.stopTimer();
    processor.apvts.removeParameterListener (retrigId, this);
    targetButton.removeListener (this);
    retrigButton.removeListener (this);
}

void AutomationMappingGroup::applyRetrigColour()
{
    const auto* value = processor.apvts.getRawParameterValue (retrigId);
    const bool on = value != nullptr && value->load() > 0.5f;
    retrigButton.setColour (juce::TextButton::buttonColourId, on ? retrigOnColour : retrigOffColour);
}

void AutomationMappingGroup::RecolourTimer::timerCallback()
{
    if (group.recolourPending.exchange (false))
        group.applyRetrigColour();
}

void AutomationMappingGroup::parameterChanged (const juce::String& parameterID, float)
{
    if (parameterID != retrigId)
        return;

    if (juce::MessageManager::existsAndIsCurrentThread())
        applyRetrigColour();
    else
        recolourPending = true; // lock-free: the timer recolours on the message thread
}

void AutomationMappingGroup::buttonClicked (juce::Button* button)
{
    if (button == &targetButton)
    {
        sendActionMessage (OAActionMsg ("showScreenMap", mapKey, -1).message);
    }
    else if (button == &retrigButton)
    {
        // As one gesture, so a host that records automation sees the toggle.
        if (auto* param = processor.apvts.getParameter (retrigId))
        {
            const auto next = param->getValue() > 0.5f ? 0.0f : 1.0f;
            param->beginChangeGesture();
            param->setValueNotifyingHost (next);
            param->endChangeGesture();
        }
    }

    applyRetrigColour();
}

void AutomationMappingGroup::resized()
{
    const auto spacing = metrics.spacing;
    const auto unit = metrics.unit;
    const auto small = metrics.smallSize;

    targetButton.setBounds (2 * spacing - 1, metrics.barSize - spacing, 200, 2 * unit);
    retrigButton.setBounds (2 * spacing, 3 * spacing + metrics.barSize, unit, unit);
    levelMeter.setBounds (small + 2 * spacing + 2 * spacing - 1 + 200, 20, small, 80);
    valueMeter.setBounds (levelMeter.getRight(), 20, small, 80);
    factorGroup.setBounds (3 * spacing - 1 + 300, 0, 2 * spacing + spacing - 1 + 100, 100);
}

void AutomationMappingGroup::paint (juce::Graphics& g)
{
    const auto unit = (float) metrics.unit;

    g.setColour (labelColour.withAlpha (0.5f));
    g.setFont (1.5f * unit);
    g.drawFittedText ("mapped parameter", 29, 15, 200, 16, juce::Justification::left, 1);

    g.setFont (unit);
    g.drawFittedText ("retrig", 45, 80, 200, 16, juce::Justification::left, 1);

    const auto grow = metrics.spacing / 4;
    auto r = levelMeter.getBounds().getUnion (valueMeter.getBounds()).expanded (grow);
    r.setSize (juce::jmax (0, r.getWidth()), juce::jmax (0, r.getHeight()));

    g.setColour (labelColour.withAlpha (0.25f));
    g.drawRect (r, grow);

    g.setColour (labelColour.withAlpha (0.4f));
    g.drawFittedText ("I > 0", r.getX(), r.getY() - metrics.unit, r.getWidth(), metrics.unit, juce::Justification::centred, 1);
}
