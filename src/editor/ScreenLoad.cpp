// To be completed: the patch list, loading and load-by-name, layout and drawing (members and interface only so far).
#include "ScreenLoad.h"

#include "processor/PluginProcessor.h"

ScreenLoad::ScreenLoad (kvAP& owner)
    : processor (&owner)
{
}

ScreenLoad::~ScreenLoad() = default;

void ScreenLoad::buildPatchList (OAFileIO) {}

bool ScreenLoad::loadByName (juce::String, OAFileIO)
{
    return false;
}

void ScreenLoad::buttonClicked (juce::Button*) {}
void ScreenLoad::resized() {}
void ScreenLoad::paint (juce::Graphics&) {}
