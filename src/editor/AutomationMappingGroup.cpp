// To be completed: the retrigger toggle and its colouring, the target button's message, layout and drawing (members and interface only so far).
#include "AutomationMappingGroup.h"

#include "processor/PluginProcessor.h"

AutomationMappingGroup::AutomationMappingGroup (kvAP& owner, juce::String key, juce::String retrig, juce::String* factor)
    : mapKey (std::move (key)),
      retrigId (std::move (retrig)),
      factorId (*factor),
      factorGroup ("params", owner, factor, 1),
      processor (owner)
{
}

AutomationMappingGroup::~AutomationMappingGroup() = default;

void AutomationMappingGroup::buttonClicked (juce::Button*) {}
void AutomationMappingGroup::parameterChanged (const juce::String&, float) {}
void AutomationMappingGroup::paint (juce::Graphics&) {}
void AutomationMappingGroup::resized() {}
