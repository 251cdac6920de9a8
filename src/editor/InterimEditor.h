#pragma once

#include <juce_audio_processors/juce_audio_processors.h>
#include <juce_audio_utils/juce_audio_utils.h>

/** A plain editor until the themed front panel exists: every parameter as a
    slider, and an on-screen keyboard (also played from the computer keyboard)
    that feeds the processor's keyboard state. */
class InterimEditor : public juce::AudioProcessorEditor
{
public:
    InterimEditor (juce::AudioProcessor& owner, juce::MidiKeyboardState& keyboardState);

    void resized() override;

private:
    juce::GenericAudioProcessorEditor parameters;
    juce::MidiKeyboardComponent keyboard;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (InterimEditor)
};
