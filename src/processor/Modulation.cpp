#include "PluginProcessor.h"

#include "synth/SynthVoice.h"
#include "synth/ValueCurve.h"

#include <cmath>

namespace
{
    struct RateRow
    {
        const char* label;
        float wholeNotes;
    };

    // Tempo-synced LFO rates, index = (int) floorf (rate * 12).
    constexpr RateRow rateTable[] = {
        { "64/1", 64.0f },  { "32/1", 32.0f },  { "16/1", 16.0f },     { "8/1", 8.0f },
        { "4/1", 4.0f },    { "2/1", 2.0f },    { "1/1", 1.0f },       { "1/2", 0.5f },
        { "1/4", 0.25f },   { "1/8", 0.125f },  { "1/16", 0.0625f },   { "1/32", 0.03125f },
        { "1/64", 0.015625f },
    };
}

juce::String kvAP::getLfoRateText (int lfoNumber) const
{
    const auto index = (lfoNumber == 1 ? lfo1RateIndex : lfo2RateIndex).load();
    return index >= 0 ? juce::String (rateTable[index].label) : juce::String ("x/y");
}

void kvAP::updateLFO (const juce::String& prefix, float value)
{
    if (auto* section = findSynthGroup (prefix))
        updateLFOAtTempo (*section, value, currentBpm.load());
}

bool kvAP::updateLFOAtTempo (SynthGroup& lfo, float value, double bpm)
{
    auto* section = &lfo;

    if (value == -1.0f)
        value = (section == &lfo1 ? lfo1RateValue : lfo2RateValue)->load();

    const auto index = juce::jlimit (0, 12, (int) std::floor (value * 12.0f));
    const auto frequency = (float) bpm / 60.0f * 0.25f / rateTable[index].wholeNotes;

    auto setFrequency = [frequency] (SynthVoice& voice) { voice.setFrequencyHz (frequency); };
    auto done = true;

    if (mayWaitForVoices())
        section->forEachVoice (setFrequency);
    else
        done = section->tryForEachVoice (setFrequency);

    if (section == &lfo1)
        lfo1RateIndex = index;
    else if (section == &lfo2)
        lfo2RateIndex = index;

    return done;
}

void kvAP::retryLfoWork()
{
    // A tempo change or restart that found a layer busy is done once it is free.
    const std::array<SynthGroup*, 2> lfos { &lfo1, &lfo2 };

    for (size_t i = 0; i < lfos.size(); ++i)
    {
        if (lfoRetunePending[i])
            lfoRetunePending[i] = ! updateLFOAtTempo (*lfos[i], -1.0f, lfoRetuneBpm);

        if (lfos[i]->isLfoRestartPending())
            lfos[i]->retryLfoRestart();
    }
}

void kvAP::updateCurrentTimeInfoFromHost()
{
    // Only this thread writes the position, so its own copy of the last stored
    // one is what a locked read would give.
    const auto previousBpm = storedPosition.bpm;
    const auto wasPlaying = storedPosition.isPlaying;

    juce::AudioPlayHead::CurrentPositionInfo info;
    bool fromHost = false;

    if (auto* head = getPlayHead())
    {
        if (const auto position = head->getPosition())
        {
            fromHost = true;

            // A tempo that is not a positive number (some hosts report 0 or
            // NaN before they know one) would stop or poison the LFOs.
            if (const auto bpm = position->getBpm(); bpm && std::isfinite (*bpm) && *bpm > 0.0) info.bpm = *bpm;
            if (const auto sig = position->getTimeSignature())
            {
                info.timeSigNumerator = sig->numerator;
                info.timeSigDenominator = sig->denominator;
            }
            if (const auto t = position->getTimeInSamples()) info.timeInSamples = *t;
            if (const auto t = position->getTimeInSeconds()) info.timeInSeconds = *t;
            if (const auto t = position->getEditOriginTime()) info.editOriginTime = *t;
            if (const auto t = position->getPpqPosition()) info.ppqPosition = *t;
            if (const auto t = position->getPpqPositionOfLastBarStart()) info.ppqPositionOfLastBarStart = *t;
            if (const auto f = position->getFrameRate()) info.frameRate = *f;
            if (const auto loop = position->getLoopPoints())
            {
                info.ppqLoopStart = loop->ppqStart;
                info.ppqLoopEnd = loop->ppqEnd;
            }
            info.isPlaying = position->getIsPlaying();
            info.isRecording = position->getIsRecording();
            info.isLooping = position->getIsLooping();
        }
    }

    const juce::SpinLock::ScopedTryLockType lock (positionLock);

    if (lock.isLocked())
    {
        lastPosInfo = info;
        storedPosition = info;
        currentBpm = info.bpm;
    }

    // Both never wait: a busy layer is restarted or re-tuned on a later block
    // (retryLfoWork), as the stored tempo no longer differs then.
    if (fromHost && ! wasPlaying && info.isPlaying)
    {
        lfo1.requestLfoRestart (true, false);
        lfo2.requestLfoRestart (true, false);
    }

    if (info.bpm != previousBpm)
    {
        lfoRetuneBpm = info.bpm;
        lfoRetunePending[0] = ! updateLFOAtTempo (lfo1, -1.0f, info.bpm);
        lfoRetunePending[1] = ! updateLFOAtTempo (lfo2, -1.0f, info.bpm);
    }
}

void kvAP::applyModulation (const juce::MidiBuffer& midi, int numSamples)
{
    applyEnv (0, env1, env1Adsr, midi, numSamples);
    applyEnv (1, env2, env2Adsr, midi, numSamples);
    applyLfo (2, lfo1Source, lfo1, midi, numSamples);
    applyLfo (3, lfo2Source, lfo2, midi, numSamples);
}

void kvAP::applyEnv (int sourceIndex, const EnvelopeSource& source, juce::ADSR& adsr, const juce::MidiBuffer& events, int numSamples)
{
    // A block without samples has no duration to scale the stage times by.
    if (numSamples <= 0)
        return;

    adsr.setSampleRate (getSampleRate());

    const auto target = source.target->load();

    if (target == targetMissing)
        return;

    // The envelope runs at the audio rate but is stepped once per block.
    const auto adsrTime = adsrTimeValue->load();
    const auto perBlock = (1.0f / (float) numSamples) * 40.0f;
    auto stageTime = [adsrTime, perBlock] (float x)
    {
        return ValueCurve::curved (x) * adsrTime * perBlock;
    };

    juce::ADSR::Parameters parameters;
    parameters.attack = stageTime (source.attack->load());
    parameters.decay = stageTime (source.decay->load());
    parameters.sustain = source.sustain->load();
    parameters.release = stageTime (source.release->load());
    adsr.setParameters (parameters);

    const auto level = adsr.getNextSample();

    if (target == targetNone)
        return;

    const auto retrigger = source.retrig->load() >= 0.5f;

    for (const auto metadata : events)
    {
        const auto message = metadata.getMessage();

        if (message.isNoteOn())
        {
            if (retrigger)
                adsr.reset(); // restart from level 0

            adsr.noteOn();
        }
    }

    if (activeNotes < 1 && adsr.isActive())
        adsr.noteOff();

    const auto base = paramValues[(size_t) target]->load();
    const auto factor = source.factor->load();
    const auto out = juce::jlimit (-1.0f, 1.0f, base + (2.0f * factor - 1.0f) * level);

    dispatchModulated (sourceIndex, target, out);

    source.value->store (out);
    source.level->store (level);
}

void kvAP::applyLfo (int sourceIndex, const LfoSource& source, SynthGroup& group, const juce::MidiBuffer& events, int numSamples)
{
    const auto target = source.target->load();

    if (target < 0 || numSamples <= 0)
        return;

    // Never waits: getVoice would take the layer's lock.
    auto* lfoVoice = dynamic_cast<SynthVoice*> (group.synths[0]->getFirstVoiceWithoutLock());

    if (lfoVoice == nullptr) // not prepared yet
        return;

    // Restarting again for a second note-on of the block ends in the same
    // state, so one restart per block does; a busy layer is restarted on a
    // later block.
    if (source.retrigAuto->load() >= 0.5f)
    {
        for (const auto metadata : events)
        {
            if (metadata.getMessage().isNoteOn())
            {
                group.requestLfoRestart (false, true);
                break;
            }
        }
    }

    // One step per 100 samples, counted across blocks and shared by both LFOs.
    auto lfo = 0.0f;

    for (juce::int64 pos = 0; pos < numSamples;)
    {
        const auto m = juce::jmin (lfoStepCountdown, (juce::int64) numSamples - pos);

        if (m == lfoStepCountdown)
        {
            lfoStepCountdown = 100;
            lfo = lfoVoice->getNextLfoVal();
        }
        else
        {
            lfoStepCountdown -= m;
        }

        pos += m;
    }

    if (lfo == 0.0f)
        return;

    const auto scaling = (1.0f / (float) numSamples) * 40.0f;
    group.tryForEachVoice ([scaling] (SynthVoice& voice) { voice.setADSR ("scaling", scaling); });

    const auto base = paramValues[(size_t) target]->load();
    const auto factor = source.factor->load();
    const auto level = (lfo + 1.0f) * 0.5f;
    const auto out = juce::jlimit (0.0f, 1.0f, base + (2.0f * factor - 1.0f) * level);

    dispatchModulated (sourceIndex, target, out);

    source.value->store (out);
    source.level->store (level);
}

void kvAP::dispatchModulated (int source, int targetIndex, float value)
{
    // The same path as updateSynth, by table index: no lookup by text.
    if (bulkUpdate)
        return;

    const auto v = juce::jlimit (0.0f, 1.0f, value);
    auto& retry = modulationRetry[(size_t) source];

    // What a busy layer missed reaches it on a later block, unless this
    // source sends a newer value first.
    if (dispatch (dispatchTable[(size_t) targetIndex], v))
        retry.target = -1;
    else
        retry = { targetIndex, v };
}

void kvAP::modMapChanged()
{
    // The audio thread reads each source's target as one integer: the
    // parameter's table index, or a code for "not mapped".
    auto resolve = [this] (const char* key)
    {
        const auto found = modMap.find (key);

        if (found == modMap.end() || found->second.isEmpty())
            return targetMissing;

        const auto index = dispatchIndexById.find (found->second);

        // "dummy", and ids that name no parameter (old or hand-edited files), map to nothing.
        if (found->second == "dummy" || index == dispatchIndexById.end())
            return targetNone;

        return index->second;
    };

    env1Target = resolve ("env1_mappedParam");
    env2Target = resolve ("env2_mappedParam");
    lfo1Target = resolve ("lfo1_mappedParam");
    lfo2Target = resolve ("lfo2_mappedParam");
}

void kvAP::resolveModulationSources()
{
    auto value = [this] (const juce::String& id) { return apvts.getRawParameterValue (id); };

    auto envelope = [&] (const juce::String& name, std::atomic<int>& target, std::atomic<float>& shown, std::atomic<float>& level)
    {
        return EnvelopeSource { &target, value (name + "_attack"), value (name + "_decay"), value (name + "_sustain"),
                                value (name + "_release"), value (name + "_factor"), value (name + "_retrig"), &shown, &level };
    };

    auto lfo = [&] (const juce::String& name, std::atomic<int>& target, std::atomic<float>& shown, std::atomic<float>& level)
    {
        return LfoSource { &target, value (name + "_factor"), value (name + "_retrigAuto"), &shown, &level };
    };

    env1 = envelope ("env1", env1Target, renderValues.env1Value, renderValues.env1Level);
    env2 = envelope ("env2", env2Target, renderValues.env2Value, renderValues.env2Level);
    lfo1Source = lfo ("lfo1", lfo1Target, renderValues.lfo1Value, renderValues.lfo1Level);
    lfo2Source = lfo ("lfo2", lfo2Target, renderValues.lfo2Value, renderValues.lfo2Level);
    adsrTimeValue = value ("adsrTime");
}
