#pragma once

#include <juce_core/juce_core.h>

/** The one message format panels and screens send to the editor through
    their juce::ActionBroadcaster: sender, action and a decimal value joined
    by ".", e.g. "filterGroup.sliderChanged.-1". The receiver splits at the
    first two dots, so neither sender nor action may contain one. */
struct OAActionMsg
{
    OAActionMsg (juce::String senderName, juce::String actionName, int actionValue);

    juce::String message; // the text that is sent
    juce::String sender;
    juce::String action;
    int value = -1;       // -1 where there is none
};
