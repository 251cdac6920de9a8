#include "PluginProcessor.h"

#include "editor/PluginEditor.h"
#include "state/FactoryBank.h"

namespace
{
    /** The standalone app's hidden switch that makes it crash a second after
        it starts, so that the crash report can be tried on the real program.
        Only the standalone reads its command line; a plug-in never sees one. */
    const char* const crashOnPurposeSwitch = "--crash-on-purpose";

    void crashOnPurpose()
    {
        volatile int* volatile nowhere = nullptr; // both volatile, or the store is dropped
        *nowhere = 1;
    }
}

//==============================================================================
kvAP::kvAP()
    : juce::AudioProcessor (BusesProperties().withOutput ("Output", juce::AudioChannelSet::stereo(), true)),
      settings ("Korvane", { { "updates", "true" },
                             { "patchLocation", "__default__" },
                             { "motdTag", "x" },
                             { "initLog", "true" },
                             { "startupMsg", "true" },
                             { "showBgVis", "true" } }),
      apvts (*this, nullptr, "state", paramMan.buildParamLayout())
{
    // Only the standalone app owns its process. A plug-in is a guest in its
    // host's, whose crash handling is the host's own; the renderer and the
    // tests build processors of no wrapper and have none either.
    if (wrapperType == wrapperType_Standalone)
        startStandaloneCrashReports();

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

    // The filter starts as a 20 kHz low-pass until the patch is applied.
    const auto initialRate = getSampleRate() > 0.0 ? getSampleRate() : 96000.0;
    filter.state = IIRCoefficients::makeLowPass (initialRate, 20000.0f, 0.1f);
    overdriveChain.get<dcBlockerIndex>().state = new IIRCoefficients();
    overdriveChain.get<shaperIndex>().functionToUse = std::tanh;

    for (auto& p : paramMan.params)
        paramValues.push_back (apvts.getRawParameterValue (p.paramId));

    masterVolValue = apvts.getRawParameterValue ("masterVol");
    limiterValue = apvts.getRawParameterValue ("limiter");
    lfo1RateValue = apvts.getRawParameterValue ("lfo1_rate");
    lfo2RateValue = apvts.getRawParameterValue ("lfo2_rate");
    buildDispatchTable();
    resolveModulationSources();
    modMapChanged();

    juce::ValueTree uiState ("uiState");
    uiState.setProperty ("width", 400, nullptr);
    uiState.setProperty ("height", 200, nullptr);
    apvts.state.appendChild (uiState, nullptr);

    for (const auto& p : paramMan.params)
        apvts.addParameterListener (p.paramId, this);

    // Last, because the settings may move the patch folder.
    settings.load (fileIO);
    applyPatchLocation();

    // The app and the plug-ins bring the factory sounds along on their first
    // start; the renderer and other tools that build a processor do not
    // write into the patch folder.
    if (wrapperType != wrapperType_Undefined)
        FactoryBank::installWhenMissing (fileIO.productFolder);
}

void kvAP::startStandaloneCrashReports()
{
    bugReporter.installCrashHandler();

    // A crash of the last run is told once, when the app's window is up.
    if (const auto report = bugReporter.takeUnseenCrashReport(); report != juce::File())
        juce::MessageManager::callAsync ([report] { BugReporter::showCrashNotice (report); });

    if (juce::JUCEApplicationBase::getCommandLineParameterArray().contains (crashOnPurposeSwitch))
    {
        logReport ("Crash on purpose");
        juce::Timer::callAfterDelay (1000, crashOnPurpose);
    }
}

void kvAP::applyPatchLocation()
{
    auto& location = settings.values.at ("patchLocation");

    if (location == "__default__")
        return;

    // Only a full path names a folder; anything else (a hand-edited file,
    // an empty value) would resolve against the working directory.
    const auto isFullPath = location.startsWithChar ('/') || location == "~" || location.startsWith ("~/");

    if (isFullPath)
        fileIO.productFolder = juce::File (location);
    else
        location = fileIO.productFolder.getFullPathName();
}

kvAP::~kvAP()
{
    for (const auto& p : paramMan.params)
        apvts.removeParameterListener (p.paramId, this);

    for (auto* group : { &synth1, &synth2 })
        for (auto& synth : group->synths)
            synth->clearSounds();
}

//==============================================================================
juce::AudioProcessorEditor* kvAP::createEditor()
{
    return new kvAPE (*this);
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

    // One sound per section, shared by its layers; sounds are only removed at
    // destruction. The wrapper prepares again on every device restart, and a
    // second sound would make every note start a voice per sound.
    for (auto* group : { &synth1, &synth2 })
    {
        juce::SynthesiserSound::Ptr sound (new SynthSound());

        for (auto& synth : group->synths)
            if (synth->getNumSounds() == 0)
                synth->addSound (sound);
    }

    logStateReport ("Init Synth Post");

    const auto audioRate = (float) sampleRate;

    for (auto* group : { &synth1, &synth2 })
    {
        group->sampleRate = audioRate;

        for (auto& synth : group->synths)
        {
            synth->setCurrentPlaybackSampleRate (audioRate);

            for (int v = 0; v < synth->getNumVoices(); ++v)
                if (auto* voice = dynamic_cast<SynthVoice*> (synth->getVoice (v)))
                    voice->prepareToPlay ((int) audioRate);

            // Voices for every count the host may automate, made now, so that
            // count changes on the audio thread never allocate.
            synth->prepareSpareVoices (SynthLayer::maxVoices, audioRate);
        }
    }

    for (auto* group : { &lfo1, &lfo2 })
    {
        juce::SynthesiserSound::Ptr sound (new SynthSound());

        for (auto& synth : group->synths)
            if (synth->getNumSounds() == 0)
                synth->addSound (sound);
    }

    // LFO sections run at a hundredth of the audio rate, one voice per layer.
    const auto controlRate = (float) (sampleRate / 100);

    for (auto* group : { &lfo1, &lfo2 })
    {
        group->sampleRate = controlRate;

        for (auto& synth : group->synths)
        {
            if (synth->getNumVoices() == 0)
                synth->addVoice (new SynthVoice());

            while (synth->getNumVoices() > 1)
                synth->removeVoice (synth->getNumVoices() - 1);

            synth->setCurrentPlaybackSampleRate (controlRate);

            for (int v = 0; v < synth->getNumVoices(); ++v)
            {
                if (auto* voice = dynamic_cast<SynthVoice*> (synth->getVoice (v)))
                {
                    voice->setIsLfo (true);
                    voice->prepareToPlay ((int) controlRate);
                }
            }
        }

        group->startLfo();
    }

    limiter.setThreshold (-1.0f);
    limiter.setRelease (1.0f);
    limiter.prepare ({ sampleRate, (juce::uint32) samplesPerBlock, (juce::uint32) getTotalNumOutputChannels() });

    keyboardState.reset();
    reset();

    prepareFilter (sampleRate, samplesPerBlock);
    prepareOverdrive (sampleRate, samplesPerBlock);

    // Room for a dense block of host MIDI plus the on-screen keyboard's events,
    // so that merging them never allocates on the audio thread.
    spareMidi.ensureSize (midiReserve);
    handedOverMidi = nullptr;

    bulkUpdate = false;
    updateAllParams();
    updateOscTypes();

    // The audio thread is not running yet: hand the new settings over now.
    applyPendingFilterCoefficients();
    applyPendingOverdriveSettings();

    historyDivisor = 20;
    sampleRateInt = (int) sampleRate;
    historyLength = sampleRateInt / 20;
}

void kvAP::releaseResources()
{
    keyboardState.reset();
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
