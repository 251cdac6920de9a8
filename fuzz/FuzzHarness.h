#pragma once

// What each fuzz target does with one input, and what must still hold
// afterwards. The regression tests replay saved inputs through the same
// functions, so a fixture fails there exactly as it failed under the fuzzer.
// Each function returns an empty text when everything held, otherwise what broke.

#include "processor/PluginProcessor.h"
#include "ui/OAMotdMessage.h"

#include <cmath>
#include <cstdint>
#include <memory>

namespace FuzzHarness
{
    constexpr double sampleRate = 48000.0;
    constexpr int blockSize = 256;

    /** A fresh processor, prepared as the standalone wrapper prepares it. */
    inline std::unique_ptr<kvAP> makePreparedProcessor()
    {
        auto p = std::make_unique<kvAP>();
        p->setRateAndBufferSizeDetails (sampleRate, blockSize);
        p->prepareToPlay (sampleRate, blockSize);
        return p;
    }

    /** One processor for a whole fuzz run (building one takes longer than the
        rest of an input's work), put back to its fresh state before every
        input: notes cut, its own first host state restored, and prepared
        again, which clears the filter, overdrive and limiter. */
    inline kvAP& reusableProcessor()
    {
        static std::unique_ptr<kvAP> p;
        static juce::MemoryBlock freshState;

        if (p == nullptr)
        {
            p = makePreparedProcessor();
            p->getStateInformation (freshState);
            return *p;
        }

        for (auto* section : { &p->synth1, &p->synth2 })
            for (auto& synth : section->synths)
                synth->allNotesOff (0, false);

        p->setStateInformation (freshState.getData(), (int) freshState.getSize());
        p->updateOscTypes();
        p->prepareToPlay (sampleRate, blockSize);
        return *p;
    }

    /** Renders numBlocks blocks: a chord from the first block on, a pitch bend,
        and the notes released near the end. Empty when every sample was finite. */
    inline juce::String renderChord (kvAP& p, int numBlocks)
    {
        juce::AudioBuffer<float> buffer (p.getTotalNumOutputChannels(), blockSize);
        juce::MidiBuffer midi;

        for (int b = 0; b < numBlocks; ++b)
        {
            buffer.clear();
            midi.clear();

            if (b == 0)
                for (auto note : { 48, 60, 64, 67 })
                    midi.addEvent (juce::MidiMessage::noteOn (1, note, (juce::uint8) 100), 0);

            if (b == 2)
                midi.addEvent (juce::MidiMessage::pitchWheel (1, 12000), 17);

            if (b == numBlocks - 2)
                for (auto note : { 48, 60, 64, 67 })
                    midi.addEvent (juce::MidiMessage::noteOff (1, note), 3);

            p.processBlock (buffer, midi);

            for (int c = 0; c < buffer.getNumChannels(); ++c)
                for (int i = 0; i < buffer.getNumSamples(); ++i)
                    if (! std::isfinite (buffer.getSample (c, i)))
                        return "sample " + juce::String (i) + " of channel " + juce::String (c)
                               + " in block " + juce::String (b) + " is not finite";
        }

        return {};
    }

    /** The first line in which two documents differ, both versions. */
    inline juce::String firstDifference (const juce::String& a, const juce::String& b)
    {
        juce::StringArray linesA, linesB;
        linesA.addLines (a);
        linesB.addLines (b);

        for (int i = 0; i < juce::jmax (linesA.size(), linesB.size()); ++i)
            if (linesA[i] != linesB[i])
                return "line " + juce::String (i + 1) + " was " + linesA[i].quoted() + ", is " + linesB[i].quoted();

        return "no line differs";
    }

    /** After an input has been applied: the state still converts to a patch
        document, that document survives a host-state round trip unchanged, and
        the processor still renders finite samples. */
    inline juce::String checkStillUsable (kvAP& p)
    {
        const auto document = p.buildPatchDataString();

        if (document.isEmpty())
            return "the state no longer converts to a patch document";

        juce::MemoryBlock state;
        p.getStateInformation (state);

        if (state.isEmpty())
            return "getStateInformation wrote nothing";

        // A refused restore would leave this name in place.
        const auto name = p.patchName;
        p.patchName = "<not restored>";
        p.setStateInformation (state.getData(), (int) state.getSize());
        p.updateOscTypes();

        if (p.patchName != name)
            return "the processor refused its own host state";

        if (const auto restored = p.buildPatchDataString(); restored != document)
            return "the patch document changed in a host-state round trip: "
                   + firstDifference (document, restored);

        return renderChord (p, 6);
    }

    /** Patch document text through the load path: replaceState, then the
        waveform ids pushed into the voices, as the editor does after a load. */
    inline juce::String runPatchText (kvAP& p, const std::uint8_t* data, size_t size)
    {
        // Notes are sounding when the patch arrives.
        if (auto failure = renderChord (p, 1); failure.isNotEmpty())
            return "before the input: " + failure;

        const auto text = juce::String::createStringFromData (data, (int) juce::jmin (size, (size_t) 1 << 24));

        if (p.replaceState (text).wasOk())
            p.updateOscTypes();

        return checkStillUsable (p);
    }

    /** Host-state bytes as the wrapper hands them back. */
    inline juce::String runHostState (kvAP& p, const std::uint8_t* data, size_t size)
    {
        if (auto failure = renderChord (p, 1); failure.isNotEmpty())
            return "before the input: " + failure;

        p.setStateInformation (data, (int) juce::jmin (size, (size_t) 1 << 24));
        return checkStillUsable (p);
    }

    /** A message-of-the-day reply. The first byte picks the status (mostly
        200, so that the body is what gets explored); the rest is the body,
        decoded as the fetch decodes it. */
    inline juce::String runMotdReply (const std::uint8_t* data, size_t size)
    {
        static constexpr int otherStatuses[] = { 0, 204, 301, 404, 500, 503, 199, 201 };
        const auto status = (size == 0 || data[0] < 0xf0) ? 200 : otherStatuses[data[0] & 7];
        const auto* bodyBytes = size > 0 ? data + 1 : data;
        const auto bodySize = size > 0 ? size - 1 : 0;

        juce::MemoryInputStream stream (bodyBytes, bodySize, false);
        const auto body = stream.readEntireStreamAsString();

        OAMotdMessage message;
        const OAMotdMessage builtIn;
        const auto applied = message.applyResponse (status, body);

        int separators = 0;
        for (auto c : body)
            separators += c == '|' ? 1 : 0;

        if (applied != (status == 200 && separators == 3))
            return "applyResponse answered " + juce::String (applied ? "true" : "false")
                   + " for status " + juce::String (status) + " and " + juce::String (separators) + " separators";

        if (applied)
        {
            if (message.headline + "|" + message.bodyText + "|" + message.moreInfoUrl + "|" + message.tag != body)
                return "the four fields do not add up to the body";
        }
        else if (message.headline != builtIn.headline || message.bodyText != builtIn.bodyText
                 || message.moreInfoUrl != builtIn.moreInfoUrl || message.tag != builtIn.tag)
        {
            return "a refused reply changed the texts";
        }

        return {};
    }
}
