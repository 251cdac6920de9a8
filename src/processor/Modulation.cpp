#include "PluginProcessor.h"

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

void kvAP::updateLFOAtTempo (SynthGroup& lfo, float value, double bpm)
{
    auto* section = &lfo;

    if (value == -1.0f)
        value = (section == &lfo1 ? lfo1RateValue : lfo2RateValue)->load();

    const auto index = juce::jlimit (0, 12, (int) std::floor (value * 12.0f));
    const auto frequency = (float) bpm / 60.0f * 0.25f / rateTable[index].wholeNotes;

    auto setFrequency = [frequency] (SynthVoice& voice) { voice.setFrequencyHz (frequency); };

    if (isRenderThread())
        section->tryForEachVoice (setFrequency);
    else
        section->forEachVoice (setFrequency);

    if (section == &lfo1)
        lfo1RateIndex = index;
    else if (section == &lfo2)
        lfo2RateIndex = index;
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

            if (const auto bpm = position->getBpm()) info.bpm = *bpm;
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

    if (fromHost && ! wasPlaying && info.isPlaying)
    {
        for (auto* section : { &lfo1, &lfo2 })
            section->tryForEachVoice ([] (SynthVoice& voice) { voice.resetPhase(); });

        lfo1.startLfo();
        lfo2.startLfo();
    }

    if (info.bpm != previousBpm)
    {
        updateLFOAtTempo (lfo1, -1.0f, info.bpm);
        updateLFOAtTempo (lfo2, -1.0f, info.bpm);
    }
}

void kvAP::applyModulation (const juce::MidiBuffer&, int)
{
    // The modulation envelopes and LFOs step here, once per block, before the
    // oscillators render.
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
