#pragma once

#include "processor/PluginProcessor.h"

#include <functional>

#include <gtest/gtest.h>

/** What the VST3 and LV2 wrappers do with a host's parameter change: on
    the audio thread, before the block, an equal value is skipped; otherwise
    the parameter takes it and tells its listeners there and then. */
inline void setParameterLikeAWrapper (juce::AudioProcessorParameter& param, float normalised)
{
    if (param.getValue() == normalised)
        return;

    param.setValue (normalised);
    param.sendValueChangedMessageToListeners (normalised);
}

/** Drives a processor the way the standalone wrapper does: prepare, then
    blocks of a fixed size with MIDI placed at sample positions. */
struct ProcessorRig
{
    explicit ProcessorRig (double rate = 48000.0, int block = 512, int channels = 2)
        : sampleRate (rate), blockSize (block)
    {
        if (channels == 1)
        {
            juce::AudioProcessor::BusesLayout mono;
            mono.outputBuses.add (juce::AudioChannelSet::mono());
            proc.setBusesLayout (mono);
        }

        proc.setRateAndBufferSizeDetails (sampleRate, blockSize);
        proc.prepareToPlay (sampleRate, blockSize);
    }

    void set (const juce::String& id, float value)
    {
        proc.apvts.getParameter (id)->setValueNotifyingHost (value);
    }

    /** Renders numSamples; the MIDI callback adds events for each block. */
    juce::AudioBuffer<float> render (int numSamples,
                                     std::function<void (juce::MidiBuffer&, int blockStart, int blockLength)> midiForBlock = {})
    {
        juce::AudioBuffer<float> out (proc.getTotalNumOutputChannels(), numSamples);
        juce::AudioBuffer<float> block (proc.getTotalNumOutputChannels(), blockSize);
        juce::MidiBuffer midi;

        for (int pos = 0; pos < numSamples; pos += blockSize)
        {
            const auto len = juce::jmin (blockSize, numSamples - pos);
            block.setSize (block.getNumChannels(), len, false, false, true);
            midi.clear();

            if (midiForBlock)
                midiForBlock (midi, pos, len);

            proc.processBlock (block, midi);

            for (int c = 0; c < out.getNumChannels(); ++c)
                out.copyFrom (c, pos, block, c, 0, len);
        }

        return out;
    }

    /** Holds the given notes from the first sample on. */
    juce::AudioBuffer<float> renderHeld (std::initializer_list<int> notes, int numSamples, juce::uint8 velocity = 100)
    {
        std::vector<int> held (notes);
        return render (numSamples, [held, velocity] (juce::MidiBuffer& midi, int start, int)
        {
            if (start == 0)
                for (auto n : held)
                    midi.addEvent (juce::MidiMessage::noteOn (1, n, velocity), 0);
        });
    }

    /** Renders numSamples with one message at the first sample. */
    juce::AudioBuffer<float> renderAfter (const juce::MidiMessage& message, int numSamples)
    {
        return render (numSamples, [&message] (juce::MidiBuffer& midi, int start, int)
        {
            if (start == 0)
                midi.addEvent (message, 0);
        });
    }

    ~ProcessorRig()
    {
        // Nothing a test plays should need the output guard: a block it
        // silenced held a NaN or an infinity.
        EXPECT_EQ (proc.outputGuard.getSilencedBlocks(), allowedSilencedBlocks)
            << "blocks with a non-finite sample went out as silence";
    }

    double sampleRate;
    int blockSize;
    kvAP proc;
    juce::uint32 allowedSilencedBlocks = 0;
};
