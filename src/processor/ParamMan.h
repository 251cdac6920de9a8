#pragma once

#include "Param.h"

#include <juce_audio_processors/juce_audio_processors.h>

#include <map>
#include <vector>

/** Owns the table of all automatable parameters.

    Insertion order is the host's parameter index order, the order in which the
    processor registers its listeners and the order of updateAllParams(). */
class ParamMan
{
public:
    ParamMan();

    void addParam (Param p);

    juce::AudioProcessorValueTreeState::ParameterLayout buildParamLayout();

    /** The range of param with one change: a NaN snaps to the parameter's
        current value, so that it changes nothing. The range refers to param,
        which must outlive it. */
    static juce::NormalisableRange<float> finiteOnlyRange (const juce::AudioParameterFloat& param);

    std::vector<Param> params;
    std::map<juce::String, Param> paramsById;
    int numParams = 0;
    juce::Random random;

private:
    void addParam (const char* paramId, const char* displayName, const char* group, float defaultValue);
};
