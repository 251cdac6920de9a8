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

    // Patch documents and host states.
    {
        write (patchDir.getChildFile ("builtin.kvn"), juce::String::fromUTF8 (kvAP::getDefaultPatchXml()));

        auto fresh = FuzzHarness::makePreparedProcessor();
        write (patchDir.getChildFile ("fresh.kvn"), fresh->buildPatchDataString());
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
    }

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
                            "version=", "\"25.9.26\"", "\"22.12.05\"", "\"dummy\"", "&amp;", "&#", "<![CDATA[", "]]>",
                            "<!--", "-->", "<!DOCTYPE", "nan", "inf", "-inf", "1e308", "-1", "0.5" })
            patchWords << dictionaryEntry (word);

        for (const auto& param : p->paramMan.params)
            patchWords << dictionaryEntry (param.paramId.toRawUTF8());

        for (const auto& entry : p->modMap)
            patchWords << dictionaryEntry (entry.first.toRawUTF8());

        for (auto* shape : p->waveManager.waveforms)
            patchWords << dictionaryEntry (shape->getId().toRawUTF8());

        write (out.getChildFile ("patch_text.dict"), patchWords);

        // The binary wrapper's magic number and a length field, ahead of the same words.
        write (out.getChildFile ("host_state.dict"), dictionaryEntry ("VC2!") + "\"\\x00\\x00\\x00\\x00\"\n" + patchWords);

        juce::String motdWords;
        for (auto* word : { "|", "\r\n", "\n", "\xef\xbb\xbf", "\xff\xfe", "\xfe\xff", "https://" })
            motdWords << dictionaryEntry (word);

        write (out.getChildFile ("motd_reply.dict"), motdWords);
    }

    std::cout << "seed corpora written to " << out.getFullPathName() << std::endl;
    return 0;
}
