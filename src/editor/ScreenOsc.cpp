// To be completed: the waveform list and its categories, choosing a waveform, layout and drawing (members and interface only so far).
#include "ScreenOsc.h"

#include "processor/PluginProcessor.h"

ScreenOsc::ScreenOsc (kvAP& owner)
    : processor (owner)
{
}

ScreenOsc::~ScreenOsc() = default;

void ScreenOsc::buildList() {}
void ScreenOsc::highlightBtn() {}
void ScreenOsc::buttonClicked (juce::Button*) {}
void ScreenOsc::paint (juce::Graphics&) {}
void ScreenOsc::resized() {}
