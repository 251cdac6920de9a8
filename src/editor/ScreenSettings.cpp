// To be completed: editing and saving the preferences, layout and drawing (members and interface only so far).
#include "ScreenSettings.h"

#include "processor/PluginProcessor.h"

ScreenSettings::ScreenSettings (kvAP& owner)
    : processor (owner)
{
}

ScreenSettings::~ScreenSettings() = default;

void ScreenSettings::save() {}
void ScreenSettings::buttonClicked (juce::Button*) {}
void ScreenSettings::paint (juce::Graphics&) {}
void ScreenSettings::resized() {}
