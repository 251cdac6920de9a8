#pragma once

#include <juce_audio_basics/juce_audio_basics.h>

/** The one sound every SynthVoice plays: it applies to every note and channel. */
class SynthSound : public juce::SynthesiserSound
{
public:
    bool appliesToNote (int) override      { return true; }
    bool appliesToChannel (int) override   { return true; }
};
