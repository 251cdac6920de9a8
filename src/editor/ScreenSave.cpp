// To be completed: saving under the typed name, layout and drawing (members and interface only so far).
#include "ScreenSave.h"

#include "processor/PluginProcessor.h"

ScreenSave::ScreenSave (kvAP& owner)
    : processor (&owner)
{
}

ScreenSave::~ScreenSave() = default;

void ScreenSave::buttonClicked (juce::Button*) {}
void ScreenSave::resized() {}
void ScreenSave::paint (juce::Graphics&) {}
