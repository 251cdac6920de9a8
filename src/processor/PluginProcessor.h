#pragma once

#include "ParamMan.h"
#include "RenderValues.h"

#include <juce_audio_processors/juce_audio_processors.h>
#include <juce_audio_utils/juce_audio_utils.h>
#include <juce_dsp/juce_dsp.h>

#include <array>
#include <atomic>
#include <map>
#include <optional>
#include <unordered_map>
#include <vector>

/** The Korvane processor: owns everything the sound needs for the whole run. */
class kvAP : public juce::AudioProcessor,
             public juce::AudioProcessorValueTreeState::Listener
{
public:
    kvAP();
    ~kvAP() override;

    //==============================================================================
    const juce::String getName() const override { return "Korvane"; }
    bool acceptsMidi() const override { return true; }
    bool producesMidi() const override { return true; }
    bool isMidiEffect() const override { return false; }
    double getTailLengthSeconds() const override { return 0.0; }
    int getNumPrograms() override { return 1; }
    int getCurrentProgram() override { return 0; }
    void setCurrentProgram (int) override {}
    const juce::String getProgramName (int) override { return {}; }
    void changeProgramName (int, const juce::String&) override {}
    void reset() override {}
    bool hasEditor() const override { return true; }
    juce::AudioProcessorEditor* createEditor() override;

    bool isBusesLayoutSupported (const BusesLayout& layout) const override;
    void prepareToPlay (double sampleRate, int samplesPerBlock) override;
    void releaseResources() override;
    void processBlock (juce::AudioBuffer<float>& buffer, juce::MidiBuffer& midi) override;
    void processBlock (juce::AudioBuffer<double>&, juce::MidiBuffer&) override {}

    void getStateInformation (juce::MemoryBlock& destData) override;
    void setStateInformation (const void* data, int sizeInBytes) override;

    void updateTrackProperties (const TrackProperties& properties) override;
    TrackProperties getTrackProperties() const;

    void parameterChanged (const juce::String& parameterID, float newValue) override;

    void resetRenderValues() noexcept { renderValues.reset(); }

    /** The embedded "Init[OA]" patch. */
    static const char* getDefaultPatchXml() noexcept;

    static constexpr int historyCapacity = 96000;

    //==============================================================================
    juce::MidiKeyboardState keyboardState;
    juce::SpinLock positionLock;
    juce::AudioPlayHead::CurrentPositionInfo lastPosInfo;

    ParamMan paramMan;
    juce::AudioProcessorValueTreeState apvts;

    juce::String patchName { "Init" };
    juce::String lfo1RateText { "x/y" }, lfo2RateText { "x/y" };
    juce::ADSR env1Adsr, env2Adsr;
    std::atomic<bool> bulkUpdate { true };
    std::atomic<bool> overdriveBypassed { true };
    RenderValues renderValues;

    std::map<juce::String, juce::String> modMap;
    std::map<juce::String, juce::String> modMapNames;

    std::unordered_map<juce::String, juce::String> builtInPatches;
    juce::String defaultPatchXml;

    std::array<std::vector<double>, 2> peakHistory;
    int historyLength = 0;
    int historyDivisor = 0;
    std::array<int, 2> historyWritePos { 0, 0 };
    bool historyFull = false;
    int sampleRateInt = 0;

    std::atomic<int> activeNotes { 0 };
    float filterCutoff = 0.0f, filterResonance = 0.1f, filterQMaxValue = 0.5f, overdriveAmount = 0.0f;
    juce::int64 lfoStepCountdown = 100;

    juce::dsp::Limiter<float> limiter;
    juce::Random random;

private:
    mutable juce::CriticalSection trackPropertiesLock;
    std::optional<juce::String> trackName;
    std::optional<juce::Colour> trackColour;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (kvAP)
};
