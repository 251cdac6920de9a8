#include "PluginProcessor.h"

#include <utility>

template <typename FloatType>
void kvAP::process (juce::AudioBuffer<FloatType>& buffer, const juce::MidiBuffer& midi)
{
    const auto n = buffer.getNumSamples();

    for (auto channel = getTotalNumInputChannels(); channel < getTotalNumOutputChannels(); ++channel)
        buffer.clear (channel, 0, n);

    applyPendingChanges();
    processMidi (midi);
    applyModulation (midi, n);

    // Every rendering layer gets the whole block's MIDI, so each plays every note.
    for (auto* section : { &synth1, &synth2 })
    {
        const auto layers = section->unison.load();

        for (int j = 0; j < layers; ++j)
        {
            auto& layer = *section->synths[(size_t) j];

            // Back before it could let go of the notes it stopped with.
            if (std::exchange (section->releasePending[(size_t) j], false))
                layer.allNotesOff (0, false);

            layer.renderNextBlock (buffer, midi, 0, n);
        }

        // A layer hears MIDI only while it renders. One that has just stopped
        // lets go of its notes (their note-offs would never reach it), and the
        // silent ones follow the wheel and controllers.
        for (int j = layers; j < section->numSynths; ++j)
        {
            auto& pending = section->releasePending[(size_t) j];
            const auto release = j < section->renderedLayers || pending;
            pending = ! section->synths[(size_t) j]->followWithoutRendering (midi, release) && release;
        }

        section->renderedLayers = layers;
    }

    updateCurrentTimeInfoFromHost();
}

template void kvAP::process<float> (juce::AudioBuffer<float>&, const juce::MidiBuffer&);

void kvAP::processMidi (const juce::MidiBuffer& events)
{
    for (const auto metadata : events)
    {
        const auto message = metadata.getMessage();

        if (message.isNoteOn())
            ++activeNotes;
        else if (message.isNoteOff() && --activeNotes < 0) // includes note-ons of velocity 0
            activeNotes = 0;
    }
}

void kvAP::processBlock (juce::AudioBuffer<float>& buffer, juce::MidiBuffer& midi)
{
    juce::ScopedNoDenormals noDenormals;
    const ScopedRenderThread renderThread;
    const auto n = buffer.getNumSamples();

    // The on-screen keyboard's events join the block's MIDI in the host's own
    // buffer, which the host (and the standalone's MIDI output) reads back.
    // The host's buffer may lack room for them, so the first block swaps in
    // one whose room was reserved in prepareToPlay; as long as the host keeps
    // passing that one, the events go straight in, without a copy.
    if (handedOverMidi == nullptr || midi.data.begin() != handedOverMidi)
    {
        spareMidi.ensureSize (midiReserve); // only grows storage that came from the host
        spareMidi.clear();
        spareMidi.addEvents (midi, 0, -1, 0);
        midi.swapWith (spareMidi);
        handedOverMidi = midi.data.begin();
    }

    keyboardState.processNextMidiBuffer (midi, 0, n, true);

    process (buffer, midi);

    juce::dsp::AudioBlock<float> block (buffer);
    juce::dsp::ProcessContextReplacing<float> context (block);

    applyPendingOverdriveSettings();

    if (! overdriveBypassed)
        overdriveChain.process (context);

    applyPendingFilterCoefficients();
    filter.process (context);

    const auto masterVolume = masterVolValue->load();

    if (! buffer.hasBeenCleared())
        for (int channel = 0; channel < getTotalNumOutputChannels(); ++channel)
            buffer.applyGain (channel, 0, n, masterVolume);

    // Should a non-finite sample get this far, the block goes out as silence
    // and the stages that may hold it in their state start afresh, so the
    // next block sounds again. (Past this point the limiter would hide it:
    // its final clip turns a NaN into a full-scale sample, and its envelope
    // would keep every later block at full scale.)
    if (outputGuard.silenceIfNotFinite (buffer, getTotalNumOutputChannels()))
    {
        overdriveChain.reset();
        filter.reset();
    }

    if (limiterValue->load() > 0.5f)
        limiter.process (context);

    scopeCaptures[0].process (buffer.getReadPointer (0), n);

    if (buffer.getNumChannels() > 1)
        scopeCaptures[1].process (buffer.getReadPointer (1), n);

    feedHistory (buffer);
}

void kvAP::feedHistory (const juce::AudioBuffer<float>& buffer)
{
    if (sampleRateInt <= 0 || historyLength > historyCapacity)
        return;

    const auto n = buffer.getNumSamples();

    for (int c = 0; c < juce::jmin (2, buffer.getNumChannels()); ++c)
    {
        auto& ring = peakHistory[(size_t) c];
        auto w = historyWritePos[(size_t) c];
        const auto* samples = buffer.getReadPointer (c);

        for (int i = 0; i < n; ++i)
        {
            if (w < historyLength)
            {
                ring[(size_t) w++] = (double) samples[i];
            }
            else
            {
                historyFull = true;
                ring[0] = (double) samples[i];
                w = 1;
            }
        }

        historyWritePos[(size_t) c] = w;
    }
}
