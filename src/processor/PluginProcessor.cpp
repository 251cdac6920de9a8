#include "PluginProcessor.h"

//==============================================================================
kvAP::kvAP()
    : juce::AudioProcessor (BusesProperties().withOutput ("Output", juce::AudioChannelSet::stereo(), true)),
      apvts (*this, nullptr, "state", paramMan.buildParamLayout())
{
    renderValues.reset();

    modMap = {
        { "synth1_oscType", "sine_og" },
        { "synth2_oscType", "sine_og" },
        { "lfo1_oscType", "sine_og" },
        { "lfo2_oscType", "sine_og" },
        { "env1_mappedParam", "dummy" },
        { "env2_mappedParam", "dummy" },
        { "lfo1_mappedParam", "dummy" },
        { "lfo2_mappedParam", "dummy" },
    };

    modMapNames = {
        { "synth1_oscType", "Oscillator A" },
        { "synth2_oscType", "Oscillator B" },
        { "env1_mappedParam", "Envelope 1" },
        { "env2_mappedParam", "Envelope 2" },
        { "lfo1_oscType", "LFO 1" },
        { "lfo1_mappedParam", "LFO 1" },
        { "lfo2_oscType", "LFO 2" },
        { "lfo2_mappedParam", "LFO 2" },
    };

    defaultPatchXml = juce::String::fromUTF8 (getDefaultPatchXml());
    builtInPatches.emplace ("Init[OA]", defaultPatchXml); // keeps an existing entry of that name

    for (auto& ring : peakHistory)
        ring.resize ((size_t) historyCapacity);

    juce::ValueTree uiState ("uiState");
    uiState.setProperty ("width", 400, nullptr);
    uiState.setProperty ("height", 200, nullptr);
    apvts.state.appendChild (uiState, nullptr);

    for (const auto& p : paramMan.params)
        apvts.addParameterListener (p.paramId, this);
}

kvAP::~kvAP()
{
    for (const auto& p : paramMan.params)
        apvts.removeParameterListener (p.paramId, this);
}

//==============================================================================
juce::AudioProcessorEditor* kvAP::createEditor()
{
    return new juce::GenericAudioProcessorEditor (*this);
}

bool kvAP::isBusesLayoutSupported (const BusesLayout& layout) const
{
    const auto output = layout.outputBuses.isEmpty() ? juce::AudioChannelSet::disabled()
                                                     : layout.getMainOutputChannelSet();
    const auto input = layout.inputBuses.isEmpty() ? juce::AudioChannelSet::disabled()
                                                   : layout.getMainInputChannelSet();

    if (input.size() > 0 && input != output)
        return false;

    return output.size() <= 2;
}

void kvAP::prepareToPlay (double sampleRate, int samplesPerBlock)
{
    resetRenderValues();

    limiter.setThreshold (-1.0f);
    limiter.setRelease (1.0f);
    limiter.prepare ({ sampleRate, (juce::uint32) samplesPerBlock, (juce::uint32) getTotalNumOutputChannels() });

    keyboardState.reset();
    reset();

    bulkUpdate = false;

    historyDivisor = 20;
    sampleRateInt = (int) sampleRate;
    historyLength = sampleRateInt / 20;
}

void kvAP::releaseResources()
{
    keyboardState.reset();
}

void kvAP::processBlock (juce::AudioBuffer<float>& buffer, juce::MidiBuffer&)
{
    juce::ScopedNoDenormals noDenormals;
    buffer.clear();
}

//==============================================================================
void kvAP::parameterChanged (const juce::String&, float)
{
}

void kvAP::getStateInformation (juce::MemoryBlock&)
{
}

void kvAP::setStateInformation (const void*, int)
{
}

void kvAP::updateTrackProperties (const TrackProperties& properties)
{
    const juce::ScopedLock sl (trackPropertiesLock);

    // JUCE 7 reports an unknown name as empty text rather than as a missing value.
    if (properties.name.isNotEmpty())
        trackName = properties.name;
    else
        trackName.reset();

    trackColour = properties.colour;
}

juce::AudioProcessor::TrackProperties kvAP::getTrackProperties() const
{
    const juce::ScopedLock sl (trackPropertiesLock);
    TrackProperties copy;
    copy.name = trackName.value_or (juce::String());
    copy.colour = trackColour.value_or (juce::Colours::transparentBlack);
    return copy;
}

//==============================================================================
juce::AudioProcessor* JUCE_CALLTYPE createPluginFilter()
{
    return new kvAP();
}
