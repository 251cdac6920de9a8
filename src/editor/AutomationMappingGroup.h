#pragma once

#include "ui/LayoutMetrics.h"
#include "ui/OAMeter.h"
#include "ui/OATheme.h"
#include "ui/SliderGroup.h"

#include <juce_audio_processors/juce_audio_processors.h>

#include <atomic>

class kvAP;

/** The panel of one modulation source (envelope 1 or 2, LFO 1 or 2): the
    target button (sends "showScreenMap.<mapKey>.-1"), the retrigger toggle,
    the depth knob and two meters for the source's value and level, which
    the editor's timer feeds. */
class AutomationMappingGroup : public juce::Component,
                               public juce::Button::Listener,
                               public juce::ActionBroadcaster,
                               public juce::AudioProcessorValueTreeState::Listener
{
public:
    /** factorId points to the id of the depth parameter (e.g. "env1_factor"). */
    AutomationMappingGroup (kvAP& processor, juce::String mapKey, juce::String retrigId, juce::String* factorId);
    ~AutomationMappingGroup() override;

    void buttonClicked (juce::Button* button) override;

    /** Any thread. On the message thread the retrigger button is recoloured
        at once; from any other (the audio thread, under host automation) the
        recolour is only marked, and the panel's own timer makes it on the
        message thread: the caller never waits or locks. */
    void parameterChanged (const juce::String& parameterID, float newValue) override;
    void paint (juce::Graphics& g) override;
    void resized() override;

    LayoutMetrics metrics;
    OATheme theme;
    juce::String mapKey;   // the source's key in the mapping, e.g. "env1_mappedParam"
    juce::String retrigId; // e.g. "env1_retrig", "lfo1_retrigAuto"
    juce::String factorId; // e.g. "env1_factor"
    SliderGroup factorGroup;              // named "params", one knob on factorId
    juce::TextButton targetButton { "None" };
    juce::TextButton retrigButton;
    kvAP& processor;
    juce::Colour labelColour;
    OAMeter valueMeter, levelMeter;

    /** Colours the retrigger button after the parameter's current value
        (message thread). */
    void applyRetrigColour();

    /** How often a recolour marked from another thread is made. */
    static constexpr int recolourPollHz = 20;

private:
    /** Polls the mark left by parameterChanged; a member, so it stops with the panel. */
    struct RecolourTimer : juce::Timer
    {
        explicit RecolourTimer (AutomationMappingGroup& g) : group (g) {}
        void timerCallback() override;
        AutomationMappingGroup& group;
    };

    juce::Colour retrigOnColour, retrigOffColour;
    std::atomic<bool> recolourPending { false };
    RecolourTimer recolourTimer { *this };

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (AutomationMappingGroup)
};
