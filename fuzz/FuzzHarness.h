#pragma once

// What each fuzz target does with one input, and what must still hold
// afterwards. The regression tests replay saved inputs through the same
// functions, so a fixture fails there exactly as it failed under the fuzzer.
// Each function returns an empty text when everything held, otherwise what broke.

#include "MidiScore.h"
#include "processor/PluginProcessor.h"
#include "net/OAMotdMessage.h"
#include "state/OAXmlTools.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace FuzzHarness
{
    constexpr double sampleRate = 48000.0;
    constexpr int blockSize = 256;

    /** Host state as the framework's binary wrapper holds a document text:
        "VC2!", the length, the bytes and a zero byte. */
    inline juce::MemoryBlock hostStateWithText (const void* text, size_t numBytes)
    {
        juce::MemoryBlock block;
        juce::MemoryOutputStream out (block, false);
        out.writeInt (0x21324356);
        out.writeInt ((int) numBytes);
        out.write (text, numBytes);
        out.writeByte (0);
        out.flush();
        return block;
    }

    inline juce::MemoryBlock hostStateWithText (const std::string& text)
    {
        return hostStateWithText (text.data(), text.size());
    }

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

    /** Empty unless the output guard silenced a block since `before`: the
        block held a non-finite sample, which the guard hides from the checks
        on the rendered samples. */
    inline juce::String guardStayedQuiet (const kvAP& p, juce::uint32 before, int block)
    {
        if (p.outputGuard.getSilencedBlocks() == before)
            return {};

        return "block " + juce::String (block) + " held a non-finite sample (the output guard silenced it)";
    }

    /** Text that passes the check in front of the XML parser must parse into
        no more levels and elements than the check allows: otherwise the check
        and the parser read the markup differently, and nesting could slip
        past it. Empty when that holds. */
    inline juce::String checkParsedWithinLimits (const char* utf8, int numBytes)
    {
        if (! OAXmlTools::isSafeToParse (utf8, numBytes))
            return {};

        const auto end = std::find (utf8, utf8 + numBytes, '\0');
        const auto xml = juce::parseXML (juce::String::fromUTF8 (utf8, (int) (end - utf8)));

        if (xml == nullptr)
            return {};

        int elements = 0, deepest = 0;
        std::vector<std::pair<const juce::XmlElement*, int>> open { { xml.get(), 1 } };

        while (! open.empty())
        {
            const auto [element, level] = open.back();
            open.pop_back();
            ++elements;
            deepest = juce::jmax (deepest, level);

            for (auto* child : element->getChildIterator())
                if (! child->isTextElement())
                    open.push_back ({ child, level + 1 });
        }

        if (deepest > OAXmlTools::Limits::maxDepth || elements > OAXmlTools::Limits::maxElements)
            return "the XML check let through " + juce::String (deepest) + " levels and " + juce::String (elements) + " elements";

        return {};
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

            const auto silenced = p.outputGuard.getSilencedBlocks();
            p.processBlock (buffer, midi);

            if (auto failure = guardStayedQuiet (p, silenced, b); failure.isNotEmpty())
                return failure;

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

    /** Patch file bytes through the load path: decoded as a patch file is
        read, replaceState, then the waveform ids pushed into the voices, as
        the editor does after a load. */
    inline juce::String runPatchText (kvAP& p, const std::uint8_t* data, size_t size)
    {
        // Notes are sounding when the patch arrives.
        if (auto failure = renderChord (p, 1); failure.isNotEmpty())
            return "before the input: " + failure;

        // As a patch file is read: only text passes, then the document is applied.
        const auto read = OAFileIO::decodeText (data, juce::jmin (size, (size_t) OAFileIO::maxTextFileBytes));

        if (read.status == OAFileIO::ReadStatus::ok)
            if (auto failure = checkParsedWithinLimits (read.text.toRawUTF8(), (int) read.text.getNumBytesAsUTF8()); failure.isNotEmpty())
                return failure;

        if (read.status == OAFileIO::ReadStatus::ok && p.replaceState (read.text).wasOk())
            p.updateOscTypes();

        return checkStillUsable (p);
    }

    /** Host-state bytes as the wrapper hands them back. */
    inline juce::String runHostState (kvAP& p, const std::uint8_t* data, size_t size)
    {
        if (auto failure = renderChord (p, 1); failure.isNotEmpty())
            return "before the input: " + failure;

        const auto clipped = (int) juce::jmin (size, (size_t) 1 << 24);

        // The text inside the framework's binary wrapper, as it unpacks it.
        if (clipped > 8)
        {
            const auto stored = (int) juce::ByteOrder::littleEndianInt (data + 4);
            const auto length = juce::jmin (clipped - 8, stored);

            if (length > 0)
                if (auto failure = checkParsedWithinLimits (reinterpret_cast<const char*> (data) + 8, length); failure.isNotEmpty())
                    return failure;
        }

        p.setStateInformation (data, clipped);
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

        OAMotdMessage message;
        const OAMotdMessage builtIn;
        const auto decoded = OAMotdMessage::decodeBody (bodyBytes, bodySize);
        const auto body = decoded.value_or (juce::String());
        const auto applied = decoded.has_value() && message.applyResponse (status, body);

        int separators = 0;
        for (auto c : body)
            separators += c == '|' ? 1 : 0;

        if (applied != (decoded.has_value() && status == 200 && separators == 3))
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

    /** Settings file text through the real load path: a processor is made
        with the file in place (its constructor reads the settings and moves
        the patch folder). Then every key is still there with a usable value,
        and what it saves reads back the same. */
    inline juce::String runSettingsText (const std::uint8_t* data, size_t size)
    {
        if (auto failure = checkParsedWithinLimits (reinterpret_cast<const char*> (data), (int) juce::jmin (size, (size_t) OAFileIO::maxTextFileBytes));
            failure.isNotEmpty())
            return failure;

        const auto file = OAFileIO().makerFolder.getChildFile ("Korvane.oasettings");
        file.getParentDirectory().createDirectory();

        if (! file.replaceWithData (data, size))
            return "cannot write the settings file for the input";

        // Later processors in the same process must not read it.
        struct RemoveWhenDone
        {
            juce::File file;
            ~RemoveWhenDone() { file.deleteFile(); }
        } removeWhenDone { file };

        kvAP p;
        const auto& values = p.settings.values;
        const juce::StringArray expectedKeys { "initLog", "motdTag", "patchLocation", "showBgVis", "startupMsg", "updates" };
        juce::StringArray keys;

        for (const auto& entry : values)
            keys.add (entry.first);

        if (keys != expectedKeys)
            return "the settings keys became " + keys.joinIntoString (",");

        for (const auto& key : expectedKeys)
            juce::ignoreUnused (p.settings.getBool (key));

        const auto location = values.at ("patchLocation");

        if (! (location.startsWithChar ('/') || location == "~" || location.startsWith ("~/")))
            return "patchLocation " + location.quoted() + " is not a full path";

        if (p.fileIO.productFolder != juce::File (location))
            return "the patch folder " + p.fileIO.productFolder.getFullPathName().quoted()
                   + " is not patchLocation " + location.quoted();

        if (! p.settings.save (p.fileIO))
            return "the settings could not be saved";

        // Every key starts from a value no file holds, so each must be read back.
        auto sentinels = values;
        for (auto& entry : sentinels)
            entry.second = "?";

        OASettings reread ("Korvane", sentinels);
        reread.load (p.fileIO);

        for (const auto& [key, value] : values)
            if (reread.values.at (key) != value)
                return key + " was saved as " + value.quoted() + " and read back as " + reread.values.at (key).quoted();

        return {};
    }

    /** A standard MIDI file through the renderer's reading. A file it takes
        must give events in time order within the length limit and a sane
        tempo map; its events are then played through a processor with the
        file's play head: the first blocks at their real times, everything
        later squeezed into one block at the last event's time, so every
        message and every tempo is heard without rendering the whole file. */
    inline juce::String runMidiFile (kvAP& p, const std::uint8_t* data, size_t size)
    {
        juce::MemoryInputStream in (data, size, false);
        MidiScore score;
        const auto read = readMidiScore (in, sampleRate, score);

        if (read.failed())
        {
            if (read.getErrorMessage().isEmpty())
                return "a refused file gave no reason";

            if (! score.events.empty())
                return "a refused file left events behind";

            return {};
        }

        if (score.events.empty())
            return "an accepted file has no events";

        const auto maxSample = (juce::int64) std::llround (MidiScoreLimits::maxSeconds * sampleRate);

        for (size_t i = 0; i < score.events.size(); ++i)
        {
            const auto& e = score.events[i];

            if (e.sample < 0 || e.sample > maxSample || (i > 0 && e.sample < score.events[i - 1].sample))
                return "event " + juce::String ((int) i) + " is at sample " + juce::String (e.sample);

            if (e.message.isMetaEvent() || e.message.isSysEx())
                return "event " + juce::String ((int) i) + " is not a channel event";
        }

        for (size_t i = 0; i < score.tempo.segments.size(); ++i)
        {
            const auto& s = score.tempo.segments[i];

            if (! (std::isfinite (s.bpm) && s.bpm > 0.0 && std::isfinite (s.startPpq) && s.startSeconds >= 0.0)
                || (i > 0 && s.startSeconds <= score.tempo.segments[i - 1].startSeconds))
                return "tempo segment " + juce::String ((int) i) + " is " + juce::String (s.startSeconds) + " s, "
                       + juce::String (s.bpm) + " bpm";
        }

        RenderPlayHead playHead (score.tempo, sampleRate);
        p.setPlayHead (&playHead);

        juce::AudioBuffer<float> buffer (p.getTotalNumOutputChannels(), blockSize);
        juce::MidiBuffer midi;
        constexpr int realTimeBlocks = 6, tailBlocks = 3;
        size_t next = 0;
        juce::int64 position = 0;
        juce::String failure;

        for (int b = 0; b < realTimeBlocks + 1 + tailBlocks && failure.isEmpty(); ++b, position += blockSize)
        {
            buffer.clear();
            midi.clear();

            if (b < realTimeBlocks)
            {
                for (; next < score.events.size() && score.events[next].sample < position + blockSize; ++next)
                    midi.addEvent (score.events[next].message, (int) (score.events[next].sample - position));
            }
            else if (b == realTimeBlocks && next < score.events.size())
            {
                const auto remaining = score.events.size() - next;
                position = juce::jmax (position, score.events.back().sample);

                for (size_t i = 0; next < score.events.size(); ++i, ++next)
                    midi.addEvent (score.events[next].message, (int) (i * (size_t) blockSize / remaining));
            }

            playHead.setPosition (position);
            const auto silenced = p.outputGuard.getSilencedBlocks();
            p.processBlock (buffer, midi);
            failure = guardStayedQuiet (p, silenced, b);

            for (int c = 0; c < buffer.getNumChannels() && failure.isEmpty(); ++c)
                for (int i = 0; i < buffer.getNumSamples(); ++i)
                    if (! std::isfinite (buffer.getSample (c, i)))
                    {
                        failure = "sample " + juce::String (i) + " of channel " + juce::String (c)
                                  + " in block " + juce::String (b) + " is not finite";
                        break;
                    }
        }

        p.setPlayHead (nullptr);
        return failure;
    }
}
