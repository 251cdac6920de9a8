#pragma once

#include <juce_core/juce_core.h>

/** One row of the parameter table: every parameter is a normalised float whose
    meaning is given by the code that receives it (see ParamMan). */
struct Param
{
    juce::String displayName;
    juce::String paramId;
    juce::String group;    // dispatch group used by kvAP::updateSynth
    float minValue = 0.0f;
    float maxValue = 1.0f;
    float defaultValue = 0.0f;
};
