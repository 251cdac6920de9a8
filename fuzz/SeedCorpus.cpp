// Writes the seed corpora and dictionaries of the fuzz targets from the
// program's own output: the built-in patch, documents and host states saved by
// a processor (fresh, and with every mapping and shape key in use), and message
// replies. Usage: korvane_fuzz_seeds <folder>; creates <folder>/<target>/ and
// <folder>/<target>.dict.

#include "FuzzHarness.h"
#include "FuzzSetup.h"

#include <cstring>
#include <iostream>

namespace
{
    void write (const juce::File& file, const void* data, size_t size)
    {
        file.getParentDirectory().createDirectory();

        if (! file.replaceWithData (data, size))
        {
            std::cerr << "cannot write " << file.getFullPathName() << std::endl;
            std::exit (1);
        }
    }

    void write (const juce::File& file, const juce::String& text)
    {
        write (file, text.toRawUTF8(), text.getNumBytesAsUTF8());
    }

    void writeHostState (const juce::File& file, kvAP& p)
    {
        juce::MemoryBlock state;
        p.getStateInformation (state);
        write (file, state.getData(), state.getSize());
    }

    /** One libFuzzer dictionary line for the bytes of token. */
    juce::String dictionaryEntry (const char* token)
    {
        juce::String escaped;

        for (auto* c = token; *c != 0; ++c)
        {
            const auto byte = (unsigned char) *c;

            if (byte == '"' || byte == '\\')
                escaped << "\\" << juce::String::charToString ((juce::juce_wchar) byte);
            else if (byte < 0x20 || byte >= 0x7f)
                escaped << "\\x" << juce::String::toHexString ((int) byte).paddedLeft ('0', 2);
            else
                escaped << juce::String::charToString ((juce::juce_wchar) byte);
        }

        return "\"" + escaped + "\"\n";
    }

    /** A processor whose document uses every mapping key, a few shapes and
        odd parameter values. */
    void editSound (kvAP& p)
    {
        const auto& shapes = p.waveManager.waveforms;
        p.setModMapEntry ("synth1_oscType", shapes[5]->getId());
        p.setModMapEntry ("synth2_oscType", shapes[shapes.size() - 1]->getId());
        p.setModMapEntry ("lfo1_oscType", shapes[12]->getId());
        p.setModMapEntry ("lfo2_oscType", shapes[20]->getId());
        p.setModMapEntry ("env1_mappedParam", "cutoff");
        p.setModMapEntry ("env2_mappedParam", "synth2_param1");
        p.setModMapEntry ("lfo1_mappedParam", "synth1_tune");
        p.setModMapEntry ("lfo2_mappedParam", "masterVol");
        p.updateOscTypes();

        for (const auto& [id, value] : { std::pair<const char*, float> { "synth1_unison", 1.0f }, { "synth1_voices", 0.0f },
                                         { "synth2_detune", 0.9f }, { "res", 0.99f }, { "fx_overdrive", 0.3f },
                                         { "limiter", 1.0f }, { "lfo1_rate", 1.0f }, { "env1_retrig", 1.0f } })
            p.apvts.getParameter (id)->setValueNotifyingHost (value);

        p.patchName = juce::String::fromUTF8 ("Edited \xc3\xa9 <&>");
    }

    juce::MemoryBlock midiFileBytes (const juce::MidiFile& file, int type)
    {
        juce::MemoryOutputStream out;

        if (! file.writeTo (out, type))
        {
            std::cerr << "cannot write a MIDI file" << std::endl;
            std::exit (1);
        }

        return out.getMemoryBlock();
    }

    void writeMidi (const juce::File& f, const juce::MidiFile& file, int type)
    {
        const auto bytes = midiFileBytes (file, type);
        write (f, bytes.getData(), bytes.getSize());
    }

    /** MIDI files with every kind of event the renderer passes on: notes,
        pitch bend, controllers (sustain, all notes off), program change,
        aftertouch, SysEx, and tempo changes, in musical and SMPTE timing. */
    void writeMidiSeeds (const juce::File& dir)
    {
        using M = juce::MidiMessage;
        juce::MidiMessageSequence tempo, notes, other;
        tempo.addEvent (M::timeSignatureMetaEvent (3, 4), 0);
        tempo.addEvent (M::tempoMetaEvent (500000), 0);
        tempo.addEvent (M::tempoMetaEvent (250000), 384);
        tempo.addEvent (M::tempoMetaEvent (1), 768);        // the fastest a file can ask for
        tempo.addEvent (M::tempoMetaEvent (0xffffff), 800); // and the slowest

        for (int i = 0; i < 8; ++i)
        {
            notes.addEvent (M::noteOn (1 + (i % 3), 48 + i * 5, (juce::uint8) (20 + i * 13)), i * 48.0);
            notes.addEvent (M::noteOff (1 + (i % 3), 48 + i * 5), i * 48.0 + 90.0);
        }

        notes.addEvent (M::noteOn (1, 60, (juce::uint8) 0), 500); // a note-on meaning note-off
        other.addEvent (M::pitchWheel (1, 0), 10);
        other.addEvent (M::pitchWheel (1, 16383), 60);
        other.addEvent (M::controllerEvent (1, 64, 127), 100);
        other.addEvent (M::controllerEvent (1, 64, 0), 200);
        other.addEvent (M::controllerEvent (1, 1, 99), 210);
        other.addEvent (M::programChange (1, 5), 220);
        other.addEvent (M::aftertouchChange (1, 60, 80), 230);
        other.addEvent (M::channelPressureChange (1, 90), 240);
        const juce::uint8 sysex[] = { 0x7e, 0x7f, 0x09, 0x01 };
        other.addEvent (M::createSysExMessage (sysex, (int) sizeof (sysex)), 250);
        other.addEvent (M::allNotesOff (1), 700);

        juce::MidiFile musical;
        musical.setTicksPerQuarterNote (96);
        musical.addTrack (tempo);
        musical.addTrack (notes);
        musical.addTrack (other);
        writeMidi (dir.getChildFile ("three-tracks.mid"), musical, 1);

        juce::MidiMessageSequence all;
        all.addSequence (tempo, 0.0);
        all.addSequence (notes, 0.0);
        all.addSequence (other, 0.0);
        all.sort();
        all.updateMatchedPairs();

        juce::MidiFile single;
        single.setTicksPerQuarterNote (480);
        single.addTrack (all);
        writeMidi (dir.getChildFile ("one-track.mid"), single, 0);

        // SMPTE timing, 25 frames of 40 ticks: the division field is patched
        // in, as the framework's setter shifts a negative number (undefined).
        juce::MidiFile smpte;
        smpte.setTicksPerQuarterNote (96);
        smpte.addTrack (notes);
        auto smpteBytes = midiFileBytes (smpte, 0);
        static_cast<juce::uint8*> (smpteBytes.getData())[12] = 0xe7;
        static_cast<juce::uint8*> (smpteBytes.getData())[13] = 0x28;
        write (dir.getChildFile ("smpte.mid"), smpteBytes.getData(), smpteBytes.getSize());

        juce::MidiMessageSequence one;
        one.addEvent (M::noteOn (1, 69, (juce::uint8) 100), 0);
        juce::MidiFile minimal;
        minimal.setTicksPerQuarterNote (1);
        minimal.addTrack (one);
        writeMidi (dir.getChildFile ("one-note.mid"), minimal, 0);
    }
}

int main (int argc, char** argv)
{
    if (argc != 2)
    {
        std::cerr << "usage: korvane_fuzz_seeds <folder>" << std::endl;
        return 2;
    }

    FuzzSetup::initialise();
    const juce::File out (juce::File::getCurrentWorkingDirectory().getChildFile (argv[1]));

    const auto patchDir = out.getChildFile ("patch_text");
    const auto hostDir = out.getChildFile ("host_state");
    const auto motdDir = out.getChildFile ("motd_reply");
    const auto settingsDir = out.getChildFile ("settings_text");
    const auto midiDir = out.getChildFile ("midi_file");

    // Patch documents and host states.
    {
        write (patchDir.getChildFile ("builtin.kvn"), juce::String::fromUTF8 (kvAP::getDefaultPatchXml()));

        auto fresh = FuzzHarness::makePreparedProcessor();
        const auto freshText = fresh->buildPatchDataString();
        write (patchDir.getChildFile ("fresh.kvn"), freshText);
        writeHostState (hostDir.getChildFile ("fresh.state"), *fresh);

        auto loaded = FuzzHarness::makePreparedProcessor();
        if (loaded->replaceState (loaded->defaultPatchXml).failed())
            return 1;
        loaded->updateOscTypes();
        writeHostState (hostDir.getChildFile ("builtin.state"), *loaded);

        auto edited = FuzzHarness::makePreparedProcessor();
        editSound (*edited);
        const auto editedText = edited->buildPatchDataString();
        write (patchDir.getChildFile ("edited.kvn"), editedText);
        write (patchDir.getChildFile ("random-root.kvn"), editedText.replace ("<state ", "<XMLRandomPatch ").replace ("</state>", "</XMLRandomPatch>"));
        writeHostState (hostDir.getChildFile ("edited.state"), *edited);

        // The deepest nesting and the most attributes a document may hold, so
        // that mutations start at the edge of what the XML check lets through.
        juce::String deep, wide ("<a");
        for (int i = 0; i < OAXmlTools::Limits::maxDepth - 1; ++i)
            deep << "<a>";
        for (int i = 0; i < OAXmlTools::Limits::maxDepth - 1; ++i)
            deep << "</a>";
        for (int i = 0; i < OAXmlTools::Limits::maxAttributesPerElement; ++i)
            wide << " x" << i << "=\"\"";
        wide << "/>";

        const auto edge = editedText.replace ("</state>", deep + wide + "</state>");

        // And far beyond them, near the read cap: the nesting that once ran
        // the parser out of stack, a crowd of children, a very long value.
        juce::String tooDeep ("<PATCH>"), crowd, longName;
        for (int i = 0; i < 40000; ++i)
            tooDeep << "<a>";
        for (int i = 0; i < 7000; ++i)
            crowd << "<PARAM id=\"extra" << i << "\" value=\"0.5\"/>";
        longName = juce::String::repeatedString ("n", 200 * 1024);

        const std::pair<const char*, juce::String> large[] {
            { "too-deep", tooDeep },
            { "crowd", freshText.replace ("</state>", crowd + "</state>") },
            { "long-name", freshText.replace ("patchName=\"", "patchName=\"" + longName) },
        };

        for (const auto& [name, text] : large)
        {
            write (patchDir.getChildFile (juce::String (name) + ".kvn"), text);
            const auto wrappedLarge = FuzzHarness::hostStateWithText (text.toRawUTF8(), text.getNumBytesAsUTF8());
            write (hostDir.getChildFile (juce::String (name) + ".state"), wrappedLarge.getData(), wrappedLarge.getSize());
        }
        write (patchDir.getChildFile ("at-the-limits.kvn"), edge);

        const auto edgeState = FuzzHarness::hostStateWithText (edge.toRawUTF8(), edge.getNumBytesAsUTF8());
        write (hostDir.getChildFile ("at-the-limits.state"), edgeState.getData(), edgeState.getSize());
    }

    // Settings files: the processor's own, and hand-edited ones.
    {
        auto p = FuzzHarness::makePreparedProcessor();
        const auto file = p->settings.getSettingsFile (p->fileIO);

        if (! p->settings.save (p->fileIO))
            return 1;

        const auto saved = file.loadFileAsString();
        write (settingsDir.getChildFile ("saved.oasettings"), saved);
        write (settingsDir.getChildFile ("default-marker.oasettings"),
               saved.replace (p->fileIO.productFolder.getFullPathName(), "__default__"));
        write (settingsDir.getChildFile ("home-relative.oasettings"),
               saved.replace (p->fileIO.productFolder.getFullPathName(), "~/Music/Korvane patches"));
        write (settingsDir.getChildFile ("relative.oasettings"),
               saved.replace (p->fileIO.productFolder.getFullPathName(), "patches"));
        write (settingsDir.getChildFile ("old-and-unknown-keys.oasettings"),
               "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n\r\n<OrbelAudioSettings updates=\"False\" "
               "startupMsg=\"0\" theme=\"dark\" version=\"22.12.05\"/>\r\n");
        write (settingsDir.getChildFile ("bom.oasettings"), "\xef\xbb\xbf" + saved);
        write (settingsDir.getChildFile ("empty.oasettings"), "");
        write (settingsDir.getChildFile ("too-deep.oasettings"),
               saved.replace ("/>", ">" + juce::String::repeatedString ("<a>", 40000) + "</OrbelAudioSettings>"));
        file.deleteFile();
    }

    writeMidiSeeds (midiDir);

    // Message replies; the first byte below 0xf0 means status 200 (see FuzzHarness::runMotdReply).
    {
        const std::pair<const char*, const char*> replies[] {
            { "four-fields", "AWelcome|New patches are out.|https://example.invalid/news|t42" },
            { "four-fields-crlf", "AHeadline|Line one\r\nline two|https://example.invalid/|t43\r\n" },
            { "empty-fields", "A|||" },
            { "three-fields", "Aa|b|c" },
            { "five-fields", "Aa|b|c|d|e" },
            { "not-found", "\xf3" "a|b|c|d" },
            { "utf8", "A\xc3\x9c" "ber|Gr\xc3\xbc\xc3\x9f" "e \xe2\x99\xaa|https://example.invalid/\xc3\xa4|t\xc3\xa9" },
        };

        for (const auto& [name, bytes] : replies)
            write (motdDir.getChildFile (juce::String (name) + ".txt"), bytes, strlen (bytes));
    }

    // Dictionaries: the words the documents are made of.
    {
        auto p = FuzzHarness::makePreparedProcessor();
        juce::String patchWords;

        for (auto* word : { "<?xml version=\"1.0\" encoding=\"UTF-8\"?>", "<state", "</state>", "<XMLRandomPatch",
                            "<PARAM", "/>", "id=", "value=", "<uiState", "width=", "height=", "patchName=",
                            "version=", "\"25.9.26\"", "\"22.12.05\"", "\"dummy\"", "\"nan\"", "\"inf\"", "\"-inf\"",
                            "\"1e39\"", "\"-0\"", "\"1e-40\"", "nan", "inf", "-inf", "1e308", "1e39", "-1", "0.5" })
            patchWords << dictionaryEntry (word);

        // The markup itself: what nests, quotes, escapes and declares.
        juce::String xmlWords;
        for (auto* word : { "<a>", "</a>", "<a/>", "<", ">", "</", "=\"", "='", "\"", "'", " ", "\t", "\r\n",
                            "&amp;", "&lt;", "&gt;", "&quot;", "&apos;", "&AMP;", "&#", "&#x", "&#233;", "&#xD800;", ";",
                            "<![CDATA[", "]]>", "<!--", "-->", "<!DOCTYPE", "<!ENTITY", "[", "]>", "<?", "?>",
                            "\xc2\xa0", "\xc3\xa9", "\xef\xbb\xbf" })
            xmlWords << dictionaryEntry (word);

        patchWords << xmlWords;

        for (const auto& param : p->paramMan.params)
            patchWords << dictionaryEntry (param.paramId.toRawUTF8());

        for (const auto& entry : p->getModMap())
            patchWords << dictionaryEntry (entry.first.toRawUTF8());

        for (auto* shape : p->waveManager.waveforms)
            patchWords << dictionaryEntry (shape->getId().toRawUTF8());

        write (out.getChildFile ("patch_text.dict"), patchWords);

        // The binary wrapper's magic number and a length field, ahead of the same words.
        write (out.getChildFile ("host_state.dict"), dictionaryEntry ("VC2!") + "\"\\x00\\x00\\x00\\x00\"\n" + patchWords);

        juce::String settingsWords;
        for (auto* word : { "<?xml version=\"1.0\" encoding=\"UTF-8\"?>", "<OrbelAudioSettings", "/>", "=\"",
                            "\"", "patchLocation", "updates", "motdTag", "initLog", "startupMsg", "showBgVis",
                            "version", "__default__", "~/", "/", "true", "false" })
            settingsWords << dictionaryEntry (word);

        settingsWords << xmlWords;

        write (out.getChildFile ("settings_text.dict"), settingsWords);

        // Chunk names, the header's fields and the meta events the reader
        // looks at, written as dictionary lines (they hold zero bytes).
        juce::String midiWords;
        for (auto* line : { R"("MThd")", R"("MTrk")", R"("\x00\x00\x00\x06")", R"("\x00\x01")", R"("\xe7\x28")",
                            R"("\xff\x51\x03")", R"("\xff\x58\x04")", R"("\xff\x2f\x00")", R"("\xf0")", R"("\xf7")",
                            R"("\xff\x7f\xff\x7f")" })
            midiWords << line << "\n";

        write (out.getChildFile ("midi_file.dict"), midiWords);

        juce::String motdWords;
        for (auto* word : { "|", "\r\n", "\n", "\xef\xbb\xbf", "\xff\xfe", "\xfe\xff", "https://" })
            motdWords << dictionaryEntry (word);

        write (out.getChildFile ("motd_reply.dict"), motdWords);
    }

    std::cout << "seed corpora written to " << out.getFullPathName() << std::endl;
    return 0;
}
