// To be completed: the target list and its categories, choosing a target, layout and drawing (members and interface only so far).
#include "ScreenMap.h"

#include "processor/PluginProcessor.h"

ScreenMap::ScreenMap (kvAP& owner)
    : processor (owner)
{
}

ScreenMap::~ScreenMap() = default;

void ScreenMap::buildList() {}
void ScreenMap::highlightBtn() {}
void ScreenMap::buttonClicked (juce::Button*) {}
void ScreenMap::paint (juce::Graphics&) {}
void ScreenMap::resized() {}
