#include "FileTestSupport.h"
#include "ProcessorFixture.h"
#include "state/RandomWords.h"

#include <gtest/gtest.h>

#include <set>
#include <csignal>
#include <cstdlib>
#include <sys/fsuid.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace FileTests;

namespace
{
    const char* const mapKeys[] = { "env1_mappedParam", "env2_mappedParam", "lfo1_mappedParam", "lfo1_oscType",
                                    "lfo2_mappedParam", "lfo2_oscType", "synth1_oscType", "synth2_oscType" };

    /** Everything a patch decides, for comparing two processors or a processor with itself. */
    struct Snapshot
    {
        std::vector<float> values;
        std::map<juce::String, juce::String> modMap;
        juce::String patchName;

        bool operator== (const Snapshot& other) const
        {
            return values == other.values && modMap == other.modMap && patchName == other.patchName;
        }
    };

    Snapshot snapshotOf (const kvAP& proc)
    {
        Snapshot s;

        for (const auto& p : proc.paramMan.params)
            s.values.push_back (proc.getParamValue (p.paramId));

        s.modMap = proc.getModMap();
        s.patchName = proc.patchName;
        return s;
    }

    juce::MemoryBlock hostState (kvAP& proc)
    {
        juce::MemoryBlock block;
        proc.getStateInformation (block);
        return block;
    }

    juce::MemoryBlock packed (const juce::String& xmlText)
    {
        juce::MemoryBlock block;
        auto xml = juce::parseXML (xmlText);

        if (xml != nullptr)
            juce::AudioProcessor::copyXmlToBinary (*xml, block);

        return block;
    }

    void setStateFrom (kvAP& proc, const juce::MemoryBlock& block)
    {
        proc.setStateInformation (block.getData(), (int) block.getSize());
    }

    juce::String waveId (kvAP& proc, int index)
    {
        return proc.waveManager.waveforms[index]->getId();
    }

    /** A small patch document: a root with the given attributes and some PARAM children. */
    juce::String patchDocument (const juce::String& rootName, const juce::StringPairArray& attributes,
                                const juce::StringPairArray& params)
    {
        juce::XmlElement root (rootName);

        for (const auto& key : attributes.getAllKeys())
            root.setAttribute (key, attributes[key]);

        for (const auto& id : params.getAllKeys())
        {
            auto* child = root.createNewChildElement ("PARAM");
            child->setAttribute ("id", id);
            child->setAttribute ("value", params[id]);
        }

        return root.toString();
    }

    juce::StringPairArray pairs (std::initializer_list<std::pair<const char*, const char*>> list)
    {
        juce::StringPairArray result;

        for (const auto& [k, v] : list)
            result.set (k, v);

        return result;
    }

    juce::StringArray rootAttributeNames (const juce::XmlElement& xml)
    {
        juce::StringArray names;

        for (int i = 0; i < xml.getNumAttributes(); ++i)
            names.add (xml.getAttributeName (i));

        return names;
    }

    std::set<juce::String> waveIds (kvAP& proc)
    {
        std::set<juce::String> ids;

        for (auto* w : proc.waveManager.waveforms)
            ids.insert (w->getId());

        return ids;
    }

    /** A processor with a sound of its own: non-default values, waveforms and targets. */
    void giveItASound (ProcessorRig& rig)
    {
        auto& p = rig.proc;
        const std::pair<const char*, float> values[] = {
            { "cutoff", 0.6f }, { "res", 0.3f }, { "synth1_attack", 0.05f }, { "synth1_release", 0.2f },
            { "synth1_voices", 0.2f }, { "synth1_unison", 0.1f }, { "synth1_detune", 0.4f },
            { "synth2_tune", 0.75f }, { "synth2_volume", 0.6f }, { "synth1_pan", 0.3f },
            { "fx_overdrive", 0.2f }, { "lfo1_rate", 0.4f }, { "lfo1_factor", 0.5f },
            { "env1_factor", 0.8f }, { "masterVol", 0.5f }, { "synth1_param1", 0.3f },
        };

        for (const auto& [id, v] : values)
            rig.set (id, v);

        p.setModMapEntry ("synth1_oscType", waveId (p, 11));
        p.setModMapEntry ("synth2_oscType", waveId (p, 21));
        p.setModMapEntry ("lfo1_oscType", waveId (p, 7));
        p.setModMapEntry ("lfo2_oscType", waveId (p, 18));
        p.setModMapEntry ("env1_mappedParam", "cutoff");
        p.setModMapEntry ("env2_mappedParam", "synth2_volume");
        p.setModMapEntry ("lfo1_mappedParam", "synth1_pan");
        p.setModMapEntry ("lfo2_mappedParam", "res");
        p.updateOscTypes();
        p.patchName = "Round Trip";

        // Volume and detune are shared out by the unison count at the moment
        // they are applied, so a unison change alone leaves them stale. Bring
        // the engine to what the parameters say, as every patch load does.
        p.updateAllParams();
    }

    juce::AudioBuffer<float> playChord (ProcessorRig& rig)
    {
        return rig.render (24000, [] (juce::MidiBuffer& midi, int start, int length)
        {
            for (const int note : { 48, 55, 64 })
            {
                if (start == 0)
                    midi.addEvent (juce::MidiMessage::noteOn (1, note, (juce::uint8) 100), 0);

                if (start <= 14000 && 14000 < start + length)
                    midi.addEvent (juce::MidiMessage::noteOff (1, note), 14000 - start);
            }
        });
    }

    /** Runs fn with the file permissions of an ordinary user, for tests of
        files one may not read: root reads any file whatever its mode. Only
        this thread's file-system identity changes, and only for fn. */
    template <typename Fn>
    void asOrdinaryUser (Fn&& fn)
    {
        if (::geteuid() != 0)
        {
            fn();
            return;
        }

        const auto previous = ::setfsuid (65534); // nobody
        fn();
        ::setfsuid ((uid_t) previous);
    }

    mode_t modeOf (const juce::File& file)
    {
        struct stat info {};
        ::stat (file.getFullPathName().toRawUTF8(), &info);
        return info.st_mode & 07777;
    }

    class PatchFiles : public CleanHome {};
    class PatchFaults : public CleanHome {};
    class PatchState : public CleanHome {};
}

//==============================================================================
TEST_F (PatchState, HostStateRoundTripGivesTheSameSoundInASecondProcessor)
{
    ProcessorRig original;
    giveItASound (original);
    const auto state = hostState (original.proc);
    ASSERT_GT (state.getSize(), 0u);

    ProcessorRig restored;
    setStateFrom (restored.proc, state);

    EXPECT_TRUE (snapshotOf (restored.proc) == snapshotOf (original.proc));
    EXPECT_EQ (restored.proc.getModMap().size(), 8u);
    EXPECT_EQ (restored.proc.patchName, "Round Trip");

    for (auto* section : { "synth1", "synth2", "lfo1", "lfo2" })
    {
        auto* a = original.proc.findSynthGroup (section);
        auto* b = restored.proc.findSynthGroup (section);
        EXPECT_EQ (b->oscType, a->oscType) << section;
        b->forEachVoice ([&] (SynthVoice& v) { EXPECT_EQ (v.oscType, a->oscType) << section; });
    }

    EXPECT_EQ (restored.proc.synth1.synths[0]->getNumVoices(), original.proc.synth1.synths[0]->getNumVoices());
    EXPECT_EQ (restored.proc.synth1.unison, original.proc.synth1.unison);

    // Noise is 0, so rendering is deterministic: the two must agree sample for sample.
    const auto a = playChord (original);
    const auto b = playChord (restored);
    ASSERT_GT (a.getMagnitude (0, a.getNumSamples()), 0.01f);

    for (int c = 0; c < a.getNumChannels(); ++c)
    {
        int differing = 0;

        for (int i = 0; i < a.getNumSamples(); ++i)
            differing += a.getSample (c, i) != b.getSample (c, i) ? 1 : 0;

        EXPECT_EQ (differing, 0) << "channel " << c;
    }

    // And the restored processor saves the same document again.
    EXPECT_EQ (restored.proc.buildPatchDataString(), original.proc.buildPatchDataString());
    EXPECT_TRUE (notices.empty());
}

TEST_F (PatchState, FreshSaveHasTheRootAttributesInOrderAndTheFrameworksText)
{
    kvAP proc;
    const juce::StringArray expected { "patchName", "version", "env1_mappedParam", "env2_mappedParam",
                                       "lfo1_mappedParam", "lfo1_oscType", "lfo2_mappedParam", "lfo2_oscType",
                                       "synth1_oscType", "synth2_oscType" };

    auto xml = proc.buildPatchData();
    ASSERT_NE (xml, nullptr);
    EXPECT_EQ (xml->getTagName(), "state");
    EXPECT_EQ (rootAttributeNames (*xml), expected);
    EXPECT_EQ (xml->getStringAttribute ("patchName"), "Init");
    EXPECT_EQ (xml->getStringAttribute ("version"), "25.9.26");

    const auto state = hostState (proc);
    auto unpacked = juce::AudioProcessor::getXmlFromBinary (state.getData(), (int) state.getSize());
    ASSERT_NE (unpacked, nullptr);
    EXPECT_EQ (rootAttributeNames (*unpacked), expected);

    const auto text = proc.buildPatchDataString();
    EXPECT_TRUE (text.startsWith ("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n\r\n<state "));
    EXPECT_EQ (text, xml->toString());

    // The children: the table's PARAM entries, then the editor size.
    EXPECT_EQ (xml->getNumChildElements(), (int) proc.paramMan.params.size() + 1);
    EXPECT_EQ (xml->getChildElement (xml->getNumChildElements() - 1)->getTagName(), "uiState");
}

TEST_F (PatchState, AttributesAlreadyInTheStateKeepTheirPlace)
{
    kvAP proc;
    proc.randomizePatch(); // its root starts with the four waveform keys

    auto xml = proc.buildPatchData();
    ASSERT_NE (xml, nullptr);
    EXPECT_EQ (xml->getTagName(), "XMLRandomPatch");
    EXPECT_EQ (rootAttributeNames (*xml),
               juce::StringArray ({ "synth1_oscType", "synth2_oscType", "lfo1_oscType", "lfo2_oscType",
                                    "env1_mappedParam", "env2_mappedParam", "lfo1_mappedParam", "lfo2_mappedParam",
                                    "patchName", "version" }));
    EXPECT_EQ (xml->getChildByName ("uiState"), nullptr);
}

TEST_F (PatchState, MapKeysMissingFromADocumentKeepTheirValue)
{
    const auto doc = patchDocument ("state",
                                    pairs ({ { "patchName", "Partial" }, { "version", "25.9.26" },
                                             { "synth1_oscType", "square_og" }, { "env1_mappedParam", "cutoff" } }),
                                    pairs ({ { "cutoff", "0.25" } }));

    struct Path { const char* name; std::function<void (kvAP&)> apply; };
    const Path paths[] = {
        { "replaceState", [&] (kvAP& p) { EXPECT_TRUE (p.replaceState (doc).wasOk()); } },
        { "loadModMaps", [&] (kvAP& p) { p.loadModMaps (juce::ValueTree::fromXml (doc)); } },
        { "setStateInformation", [&] (kvAP& p) { setStateFrom (p, packed (doc)); } },
    };

    for (const auto& path : paths)
    {
        SCOPED_TRACE (path.name);
        kvAP proc;
        proc.setModMapEntry ("lfo2_oscType", "pulse_og");
        proc.setModMapEntry ("lfo1_mappedParam", "res");

        path.apply (proc);

        EXPECT_EQ (proc.getModMap ("lfo2_oscType"), "pulse_og");
        EXPECT_EQ (proc.getModMap ("lfo1_mappedParam"), "res");
        EXPECT_EQ (proc.getModMap ("synth1_oscType"), "square_og");
        EXPECT_EQ (proc.getModMap ("env1_mappedParam"), "cutoff");
        EXPECT_EQ (proc.getModMap().size(), 8u); // nothing added
    }
}

TEST_F (PatchState, HostStateWithAnEmptyNameClearsTheName)
{
    kvAP proc;
    proc.patchName = "Something";
    setStateFrom (proc, packed (patchDocument ("state", pairs ({ { "patchName", "" }, { "version", "25.9.26" } }),
                                               pairs ({ { "cutoff", "0.5" } }))));
    EXPECT_EQ (proc.patchName, "");
    EXPECT_FLOAT_EQ (proc.getParamValue ("cutoff"), 0.5f);
}

TEST_F (PatchState, RandomPatchRootsApplyLikeAnyOther)
{
    const auto doc = patchDocument ("XMLRandomPatch", pairs ({ { "patchName", "Dice" }, { "synth2_oscType", "sawtooth_og" } }),
                                    pairs ({ { "cutoff", "0.25" }, { "res", "0.75" } }));

    kvAP viaText;
    EXPECT_TRUE (viaText.replaceState (doc).wasOk());

    kvAP viaHost;
    setStateFrom (viaHost, packed (doc));

    for (auto* proc : { &viaText, &viaHost })
    {
        EXPECT_FLOAT_EQ (proc->getParamValue ("cutoff"), 0.25f);
        EXPECT_FLOAT_EQ (proc->getParamValue ("res"), 0.75f);
        EXPECT_EQ (proc->getModMap ("synth2_oscType"), "sawtooth_og");
        EXPECT_EQ (proc->apvts.state.getType().toString(), "XMLRandomPatch");
    }

    EXPECT_EQ (viaHost.patchName, "Dice");
    EXPECT_TRUE (notices.empty());
}

TEST (PatchVersion, ComparisonIsByTextOfTheFirstTwoPieces)
{
    struct Case { const char* version; bool mismatch; };
    const Case cases[] = {
        { "25.9.26", false }, { "25.9.1", false }, { "25.99.0", false }, { "25.9", false },
        { "25.8.99", true }, { "24.99.99", true }, { "26.0.0", true }, { "25.10.0", true },
        { "22.12.05", true }, { "", true }, { "25", true },
    };

    for (const auto& c : cases)
        EXPECT_EQ (kvAP::isVersionMismatch (c.version), c.mismatch) << c.version;

    EXPECT_EQ (kvAP::versionMismatchText ("22.12.05"),
               "This patch was made with version 22.12.05 of the plugin. You are using version 25.9.26. "
               "So this patch might not work as expected!");
}

//==============================================================================
TEST_F (PatchState, DocumentsThatAreNotPatchesChangeNothing)
{
    const juce::String refused[] = {
        "this is not xml at all",
        "<state patchName=\"Broken\"><PARAM id=\"cutoff\" value=\"0.1\">", // cut off
        "<html><body><p>a web page</p></body></html>",
        "<state patchName=\"Empty\" synth1_oscType=\"square_og\"/>",
        "<state><PARAM id=\"noSuchParameter\" value=\"1\"/></state>",
        "",
    };

    for (const auto& text : refused)
    {
        SCOPED_TRACE (text.toStdString());
        ProcessorRig rig;
        giveItASound (rig);
        const auto before = snapshotOf (rig.proc);
        const auto documentBefore = rig.proc.buildPatchDataString();

        EXPECT_TRUE (rig.proc.replaceState (text).failed());
        EXPECT_TRUE (snapshotOf (rig.proc) == before);

        setStateFrom (rig.proc, packed (text));
        EXPECT_TRUE (snapshotOf (rig.proc) == before);
        EXPECT_EQ (rig.proc.buildPatchDataString(), documentBefore);

        // The sound can still be saved by the host.
        notices.clear();
        EXPECT_GT (hostState (rig.proc).getSize(), 0u);
        EXPECT_TRUE (notices.empty());
    }
}

TEST_F (PatchState, UnreadableHostStateIsReportedAndIgnored)
{
    const std::vector<juce::MemoryBlock> blocks = {
        juce::MemoryBlock ("garbage bytes", 13),
        juce::MemoryBlock(),
        packed ("<settings theme=\"dark\"/>"),
    };

    for (const auto& block : blocks)
    {
        kvAP proc;
        proc.patchName = "Kept";
        const auto before = snapshotOf (proc);
        notices.clear();

        setStateFrom (proc, block);

        EXPECT_TRUE (snapshotOf (proc) == before);
        ASSERT_EQ (notices.size(), 1u);
        EXPECT_EQ (notices[0].title, "Uhh..");
        EXPECT_EQ (notices[0].text, "There was an issue setting state data.");
        EXPECT_EQ (notices[0].button, "Bummer...");
        EXPECT_TRUE (proc.bugReporter.log.contains ("setStateInformation Bug\r\nMD5: "));
    }
}

TEST_F (PatchState, StateThatCannotBeConvertedIsReportedAndTheBlockKept)
{
    kvAP proc;
    proc.apvts.replaceState (juce::ValueTree()); // a state that cannot become XML (the framework applies any tree)

    juce::MemoryBlock block ("old", 3);
    proc.getStateInformation (block);

    EXPECT_EQ (block, juce::MemoryBlock ("old", 3));
    ASSERT_EQ (notices.size(), 1u);
    EXPECT_EQ (notices[0].title, "Uhh..");
    EXPECT_EQ (notices[0].text, "There was an issue getting state data.");
    EXPECT_EQ (notices[0].button, "Bummer...");
    EXPECT_TRUE (proc.bugReporter.log.contains ("getStateInformation Bug\r\nMD5: "));
}

//==============================================================================
TEST_F (PatchFiles, SaveWritesTheDocumentIntoThePatchFolder)
{
    struct Case { const char* fileName; const char* patchName; };
    const Case cases[] = {
        { "Bright Pad.kvn", "Bright Pad" },
        { "two.dots.kvn", "two" },
        { "nodot", "" },
        { ".kvn", "" }, // what an empty name field saves
        { "..kvn", "" },
        { "Ünïcødé ✓.kvn", "Ünïcødé ✓" },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.fileName);
        kvAP proc;
        EXPECT_EQ (proc.fileIO.productFolder, patchFolder());

        EXPECT_TRUE (proc.savePatch (juce::String::fromUTF8 (c.fileName)));
        EXPECT_EQ (proc.patchName, juce::String::fromUTF8 (c.patchName));

        const auto file = patchFolder().getChildFile (juce::String::fromUTF8 (c.fileName));
        ASSERT_TRUE (file.existsAsFile());
        const auto bytes = bytesOf (file);
        EXPECT_TRUE (isCrLfUtf8WithoutBom (bytes));

        const auto text = textOf (file);
        EXPECT_EQ (text, proc.buildPatchDataString());
        auto xml = juce::parseXML (text);
        ASSERT_NE (xml, nullptr);
        EXPECT_EQ (xml->getStringAttribute ("patchName"), juce::String::fromUTF8 (c.patchName));
        EXPECT_TRUE (proc.bugReporter.log.contains ("Save Patch Post"));
    }

    EXPECT_TRUE (notices.empty()); // saving says nothing
}

TEST_F (PatchFiles, SaveOverwritesAndLoadBringsTheSoundBack)
{
    ProcessorRig rig;
    giveItASound (rig);
    ASSERT_TRUE (rig.proc.savePatch ("Keeper.kvn"));
    const auto saved = snapshotOf (rig.proc);

    // A second save of the same name replaces the file without asking.
    rig.set ("cutoff", 0.1f);
    ASSERT_TRUE (rig.proc.savePatch ("Keeper.kvn"));
    EXPECT_TRUE (textOf (patchFolder().getChildFile ("Keeper.kvn")).contains ("\"cutoff\" value=\"0.1"));

    ProcessorRig other;
    other.proc.loadPatch ("Keeper.kvn", true);
    EXPECT_FLOAT_EQ (other.proc.getParamValue ("cutoff"), 0.1f);
    EXPECT_FLOAT_EQ (other.proc.getParamValue ("res"), 0.3f);
    EXPECT_EQ (other.proc.getModMap(), saved.modMap);
    EXPECT_EQ (other.proc.patchName, "Keeper");
    EXPECT_EQ (other.proc.renderValues.synth1Voices, 4); // re-applied by updateAllParams
    EXPECT_TRUE (notices.empty()); // same version: no box
}

TEST_F (PatchFiles, LoadingAMissingFileChangesNothing)
{
    ProcessorRig rig;
    giveItASound (rig);
    rig.proc.renderValues.lfo1Value = 0.5f;
    const auto before = snapshotOf (rig.proc);
    const auto documentBefore = rig.proc.buildPatchDataString();

    for (auto* name : { "Nowhere.kvn", "", "../Nowhere.kvn" })
    {
        rig.proc.loadPatch (name, false);

        EXPECT_TRUE (snapshotOf (rig.proc) == before) << name;
        EXPECT_EQ (rig.proc.buildPatchDataString(), documentBefore);
        EXPECT_FLOAT_EQ (rig.proc.renderValues.lfo1Value, 0.5f);
    }

    EXPECT_TRUE (notices.empty());
    EXPECT_TRUE (rig.proc.bugReporter.log.contains ("Load Patch Pre"));
    EXPECT_FALSE (rig.proc.bugReporter.log.contains ("Load Patch Post"));
}

TEST_F (PatchFiles, BuiltInPatchLogsTheMismatchWithoutABox)
{
    ProcessorRig rig;
    giveItASound (rig);

    rig.proc.loadDefaultPatch ("Init[OA]", true);

    EXPECT_TRUE (notices.empty());
    EXPECT_TRUE (rig.proc.bugReporter.log.contains ("\r\nVersion Mismatch\r\n"));
    EXPECT_EQ (rig.proc.patchName, "Init[OA]");
    EXPECT_NEAR (rig.proc.getParamValue ("masterVol"), 0.602f, 1.0e-6);
    EXPECT_NEAR (rig.proc.getParamValue ("cutoff"), 0.9f, 1.0e-6);

    for (auto* key : mapKeys)
        EXPECT_EQ (rig.proc.getModMap (key), juce::String (key).endsWith ("oscType") ? "sine_og" : "dummy") << key;
}

TEST_F (PatchFiles, OldPatchFileShowsTheMismatchBoxAndStillLoads)
{
    writeText (patchFolder().getChildFile ("Old.kvn"), kvAP::getDefaultPatchXml());

    ProcessorRig rig;
    giveItASound (rig);
    rig.proc.loadPatch ("Old.kvn", false);

    ASSERT_EQ (notices.size(), 1u);
    EXPECT_EQ (notices[0].title, "Version Mismatch");
    EXPECT_EQ (notices[0].text, kvAP::versionMismatchText ("22.12.05"));
    EXPECT_EQ (notices[0].button, "If you say so");
    EXPECT_TRUE (rig.proc.bugReporter.log.contains ("\r\nVersion Mismatch\r\n"));

    EXPECT_EQ (rig.proc.patchName, "Init[OA]");
    EXPECT_NEAR (rig.proc.getParamValue ("masterVol"), 0.602f, 1.0e-6);
    EXPECT_EQ (rig.proc.getModMap ("synth1_oscType"), "sine_og");
}

//==============================================================================
TEST_F (PatchFaults, FilesThatAreNotPatchesLeaveTheSoundAndTheHostState)
{
    struct Case { const char* name; juce::MemoryBlock content; };
    std::vector<Case> cases;

    const juce::String texts[] = { "not xml, just words", "<html><body>a page</body></html>",
                                   "<state patchName=\"Truncated\"><PARAM id=\"cutoff\" value=" };

    for (const auto& t : texts)
        cases.push_back ({ "text", juce::MemoryBlock (t.toRawUTF8(), t.getNumBytesAsUTF8()) });

    juce::MemoryBlock binary (4096);
    for (size_t i = 0; i < binary.getSize(); ++i)
        binary[i] = (char) (i * 37 + 11);
    cases.push_back ({ "binary", binary });

    // A whole patch whose name holds an overlong form ("\xc1\xbd" for "}"): the
    // framework's strings overran their buffers on such text.
    const auto overlong = juce::String (kvAP::getDefaultPatchXml()).replace ("Init[OA]", "Init\x01OA").toStdString();
    auto withOverlong = overlong;
    withOverlong.replace (withOverlong.find ('\x01'), 1, "\xc1\xbd");
    cases.push_back ({ "overlong UTF-8", juce::MemoryBlock (withOverlong.data(), withOverlong.size()) });

    // Huge: a valid-looking start followed by megabytes of text.
    juce::MemoryOutputStream huge;
    huge << kvAP::getDefaultPatchXml();
    for (int i = 0; i < 200000; ++i)
        huge << "<!-- padding padding padding -->\r\n";
    cases.push_back ({ "huge", huge.getMemoryBlock() });

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        const auto file = patchFolder().getChildFile ("Stray.kvn");
        writeBytes (file, c.content.getData(), c.content.getSize());

        ProcessorRig rig;
        giveItASound (rig);
        const auto before = snapshotOf (rig.proc);
        const auto documentBefore = rig.proc.buildPatchDataString();
        notices.clear();

        rig.proc.loadPatch ("Stray.kvn", false);

        ASSERT_EQ (notices.size(), 1u);
        EXPECT_EQ (notices[0].title, "Uhh..");
        EXPECT_TRUE (notices[0].text.contains ("Stray.kvn"));
        EXPECT_TRUE (snapshotOf (rig.proc) == before);
        EXPECT_EQ (rig.proc.buildPatchDataString(), documentBefore);
        EXPECT_EQ (bytesOf (file), c.content); // the stray file is left alone too

        // The host can still save the session, and so can the user.
        notices.clear();
        const auto state = hostState (rig.proc);
        EXPECT_GT (state.getSize(), 0u);
        EXPECT_TRUE (rig.proc.savePatch ("Rescued.kvn"));
        EXPECT_TRUE (notices.empty());
    }
}

TEST_F (PatchFaults, SaveWithoutADocumentKeepsTheOldFile)
{
    kvAP proc;
    ASSERT_TRUE (proc.savePatch ("Good.kvn"));
    const auto file = patchFolder().getChildFile ("Good.kvn");
    const auto good = bytesOf (file);

    proc.patchName = "Before";
    proc.apvts.replaceState (juce::ValueTree()); // a state that can't become XML

    EXPECT_FALSE (proc.savePatch ("Good.kvn"));

    EXPECT_EQ (bytesOf (file), good);
    EXPECT_EQ (proc.patchName, "Before");
    ASSERT_EQ (notices.size(), 1u);
    EXPECT_EQ (notices[0].title, "Uhh..");
    EXPECT_EQ (fileNamesIn (patchFolder()), juce::StringArray ({ "Good.kvn" }));
}

TEST_F (PatchFaults, NamesCannotWriteOutsideThePatchFolder)
{
    kvAP proc;
    ASSERT_TRUE (proc.savePatch ("Existing.kvn"));
    const auto outsider = home().getChildFile ("outside");
    outsider.createDirectory();

    // The refusal says what is wrong with the name it was given.
    const juce::String slashOrTilde = "Patch names can't contain \"/\" or start with \"~\", so nothing was saved. Try another name?";
    const std::pair<juce::String, juce::String> names[] = {
        { "../escape.kvn", slashOrTilde }, { "../../escape.kvn", slashOrTilde }, { "sub/inner.kvn", slashOrTilde },
        { "../Korvane/../escape.kvn", slashOrTilde },
        { outsider.getChildFile ("escape.kvn").getFullPathName(), slashOrTilde }, { "~/escape.kvn", slashOrTilde },
        { "~escape.kvn", slashOrTilde },
        { "..", "\"..\" names a folder, not a patch, so nothing was saved. Try another name?" },
        { ".", "\".\" names a folder, not a patch, so nothing was saved. Try another name?" },
        { "", "A patch needs a name, so nothing was saved. Try another name?" },
    };

    for (const auto& [name, text] : names)
    {
        SCOPED_TRACE (name.toStdString());
        notices.clear();
        proc.patchName = "Unchanged";

        EXPECT_FALSE (proc.savePatch (name));

        EXPECT_EQ (proc.patchName, "Unchanged");
        ASSERT_EQ (notices.size(), 1u);
        EXPECT_EQ (notices[0].title, "Uhh..");
        EXPECT_EQ (notices[0].text, text);
        EXPECT_EQ (notices[0].button, "Okay...");
    }

    EXPECT_EQ (fileNamesIn (patchFolder()), juce::StringArray ({ "Existing.kvn" }));
    EXPECT_EQ (fileNamesIn (makerFolder()), juce::StringArray ({ "Korvane" }));
    EXPECT_TRUE (fileNamesIn (outsider).isEmpty());
    EXPECT_FALSE (home().getChildFile ("escape.kvn").exists());

    // Nor can a load reach out of the folder.
    const auto before = snapshotOf (proc);
    writeText (makerFolder().getChildFile ("Outside.kvn"), kvAP::getDefaultPatchXml());
    proc.loadPatch ("../Outside.kvn", false);
    EXPECT_TRUE (snapshotOf (proc) == before);
}

TEST_F (PatchFaults, SaveReplacesThePatchInOneStep)
{
    kvAP proc;
    ASSERT_TRUE (proc.savePatch ("Linked.kvn"));
    const auto file = patchFolder().getChildFile ("Linked.kvn");
    const auto witness = home().getChildFile ("witness.kvn");
    ASSERT_TRUE (file.copyFileTo (witness));
    file.deleteFile();
    ASSERT_EQ (::link (witness.getFullPathName().toRawUTF8(), file.getFullPathName().toRawUTF8()), 0);
    const auto old = bytesOf (witness);

    // Writing in place would change the shared content; a replace leaves the
    // witness holding the old patch.
    proc.setModMapEntry ("synth1_oscType", "square_og");
    ASSERT_TRUE (proc.savePatch ("Linked.kvn"));

    EXPECT_EQ (bytesOf (witness), old);
    EXPECT_TRUE (textOf (file).contains ("synth1_oscType=\"square_og\""));
    EXPECT_EQ (fileNamesIn (patchFolder()), juce::StringArray ({ "Linked.kvn" })); // no temporary left
}

TEST_F (PatchFaults, SaveThroughASymbolicLinkKeepsTheLinkAndThePermissions)
{
    // Patches kept elsewhere (another disk, a synced folder) and linked into
    // the patch folder: by full path, by a relative path, through a second
    // link, and one whose file does not exist yet.
    const auto elsewhere = home().getChildFile ("other disk");
    ASSERT_TRUE (elsewhere.createDirectory().wasOk());
    ASSERT_TRUE (patchFolder().createDirectory().wasOk());

    struct Case { const char* name; juce::String link; juce::File target; mode_t mode; bool existing; };
    const Case cases[] {
        { "Lead.kvn", elsewhere.getChildFile ("Lead.kvn").getFullPathName(), elsewhere.getChildFile ("Lead.kvn"), 0640, true },
        { "Pad.kvn", "../../other disk/Pad.kvn", elsewhere.getChildFile ("Pad.kvn"), 0604, true },
        { "Bass.kvn", "Bass.link", elsewhere.getChildFile ("Bass.kvn"), 0600, true },
        { "New.kvn", elsewhere.getChildFile ("New.kvn").getFullPathName(), elsewhere.getChildFile ("New.kvn"), 0, false },
    };

    ASSERT_EQ (::symlink (elsewhere.getChildFile ("Bass.kvn").getFullPathName().toRawUTF8(),
                          patchFolder().getChildFile ("Bass.link").getFullPathName().toRawUTF8()), 0);

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        const auto link = patchFolder().getChildFile (c.name);

        if (c.existing)
        {
            writeText (c.target, "old patch\r\n");
            ASSERT_EQ (::chmod (c.target.getFullPathName().toRawUTF8(), c.mode), 0);
        }

        ASSERT_EQ (::symlink (c.link.toRawUTF8(), link.getFullPathName().toRawUTF8()), 0);

        kvAP proc;
        ASSERT_TRUE (proc.setModMapEntry ("synth1_oscType", "square_og"));
        ASSERT_TRUE (proc.savePatch (c.name));

        // The link is still the link it was, and leads to the new patch.
        EXPECT_TRUE (link.isSymbolicLink());
        EXPECT_EQ (link.getNativeLinkedTarget(), c.link);
        EXPECT_EQ (textOf (c.target), proc.buildPatchDataString());
        EXPECT_TRUE (textOf (link).contains ("synth1_oscType=\"square_og\""));

        if (c.existing)
        {
            EXPECT_EQ (modeOf (c.target), c.mode);
        }

        ProcessorRig other;
        other.proc.loadPatch (c.name, false);
        EXPECT_EQ (other.proc.getModMap ("synth1_oscType"), "square_og");
    }

    // No temporary file is left beside the targets, and none in the patch folder.
    EXPECT_EQ (fileNamesIn (elsewhere), juce::StringArray ({ "Bass.kvn", "Lead.kvn", "New.kvn", "Pad.kvn" }));
    EXPECT_EQ (fileNamesIn (patchFolder()), juce::StringArray ({ "Bass.kvn", "Bass.link", "Lead.kvn", "New.kvn", "Pad.kvn" }));

    // A link into a folder that is not there (a disk not mounted): nothing
    // is written, no folder is made in its place, and the user hears of it.
    const auto unmounted = home().getChildFile ("unmounted");
    ASSERT_EQ (::symlink (unmounted.getChildFile ("Gone.kvn").getFullPathName().toRawUTF8(),
                          patchFolder().getChildFile ("Gone.kvn").getFullPathName().toRawUTF8()), 0);
    kvAP proc;
    notices.clear();
    EXPECT_FALSE (proc.savePatch ("Gone.kvn"));
    EXPECT_FALSE (unmounted.exists());
    EXPECT_TRUE (patchFolder().getChildFile ("Gone.kvn").isSymbolicLink());
    ASSERT_EQ (notices.size(), 1u);
    EXPECT_EQ (notices[0].title, "Uhh..");

    // The settings file goes the same way.
    const auto settingsTarget = elsewhere.getChildFile ("Korvane.oasettings");
    writeText (settingsTarget, "old settings\r\n");
    ASSERT_EQ (::chmod (settingsTarget.getFullPathName().toRawUTF8(), 0600), 0);
    ASSERT_EQ (::symlink (settingsTarget.getFullPathName().toRawUTF8(), settingsFile().getFullPathName().toRawUTF8()), 0);
    proc.settings.values["motdTag"] = "through a link";
    ASSERT_TRUE (proc.settings.save (proc.fileIO));
    EXPECT_TRUE (settingsFile().isSymbolicLink());
    EXPECT_TRUE (textOf (settingsTarget).contains ("motdTag=\"through a link\""));
    EXPECT_EQ (modeOf (settingsTarget), 0600u);
}

TEST_F (PatchFaults, UnreadablePatchFilesSaySo)
{
    ASSERT_TRUE (kvAP().savePatch ("Locked.kvn"));
    const auto file = patchFolder().getChildFile ("Locked.kvn");
    ASSERT_EQ (::chmod (file.getFullPathName().toRawUTF8(), 0), 0);

    // The folders stay open to everyone, so only the file's own mode is in the way.
    const auto homeMode = modeOf (home());
    ASSERT_EQ (::chmod (home().getFullPathName().toRawUTF8(), 0711), 0);

    ProcessorRig rig;
    giveItASound (rig);
    const auto before = snapshotOf (rig.proc);
    notices.clear();

    asOrdinaryUser ([&] { rig.proc.loadPatch ("Locked.kvn", false); });

    ::chmod (home().getFullPathName().toRawUTF8(), homeMode);
    ASSERT_EQ (notices.size(), 1u);
    EXPECT_EQ (notices[0].title, "Uhh..");
    EXPECT_EQ (notices[0].text, "\"Locked.kvn\" couldn't be loaded: the file can't be read (maybe you don't have permission "
                                "to open it). Your current sound is untouched.");
    EXPECT_EQ (notices[0].button, "Bummer...");
    EXPECT_TRUE (snapshotOf (rig.proc) == before);

    // Readable again, it loads without a word.
    ASSERT_EQ (::chmod (file.getFullPathName().toRawUTF8(), 0644), 0);
    notices.clear();
    rig.proc.loadPatch ("Locked.kvn", false);
    EXPECT_TRUE (notices.empty());
    EXPECT_EQ (rig.proc.patchName, "Locked");
}

TEST_F (PatchFaults, FailedWriteKeepsTheOldPatchAndSaysSo)
{
    kvAP proc;
    ASSERT_TRUE (proc.savePatch ("Full.kvn"));
    const auto file = patchFolder().getChildFile ("Full.kvn");
    const auto good = bytesOf (file);
    proc.patchName = "Before";

    // A disk that fills up after 1000 bytes: the write fails part way.
    bool written = true;
    withFileSizeLimit (1000, [&] { written = proc.savePatch ("Full.kvn"); });

    EXPECT_FALSE (written);
    EXPECT_EQ (bytesOf (file), good);
    EXPECT_EQ (proc.patchName, "Before");
    ASSERT_EQ (notices.size(), 1u);
    EXPECT_EQ (notices[0].title, "Uhh..");
    EXPECT_EQ (fileNamesIn (patchFolder()), juce::StringArray ({ "Full.kvn" }));
}

//==============================================================================
TEST (PatchRandom, InvariantsHoldOverManyDraws)
{
    kvAP proc;
    proc.random.setSeed (20250926);
    const auto ids = waveIds (proc);
    const auto& words = RandomWords::getWords();
    const std::set<juce::String> capitalisedWords = [&words]
    {
        std::set<juce::String> set;
        for (auto* w : words)
            set.insert (juce::String (w).substring (0, 1).toUpperCase() + juce::String (w).substring (1));
        return set;
    }();

    const int draws = 300;
    int unisonDrawnA = 0, unisonDrawnB = 0;
    std::set<juce::String> seenWaves, seenTargets;
    std::set<float> seenPans;

    for (int draw = 0; draw < draws; ++draw)
    {
        proc.randomizePatch();
        const auto value = [&proc] (const char* id) { return proc.getParamValue (id); };

        ASSERT_NEAR (value ("masterVol"), 0.75f, 1.0e-6f);
        ASSERT_NEAR (value ("velMin"), 1.0f, 1.0e-6f);
        ASSERT_NEAR (value ("velMax"), 1.0f, 1.0e-6f);
        ASSERT_NEAR (value ("velGain"), 1.0f, 1.0e-6f);
        ASSERT_NEAR (value ("synth2_tune"), 0.5f, 1.0e-6f);
        const auto tune = value ("synth1_tune");
        ASSERT_TRUE (std::abs (tune - 0.25f) < 1.0e-6f || std::abs (tune - 0.5f) < 1.0e-6f) << tune;

        // Pans mirror each other around the middle, at most 0.3 away (within the 0.001 step).
        const auto pan1 = value ("synth1_pan"), pan2 = value ("synth2_pan");
        ASSERT_NEAR (pan1 - 0.5f, 0.5f - pan2, 0.0011f);
        ASSERT_GE (pan1, 0.5f);
        ASSERT_LE (pan1, 0.8f + 0.0006f);
        seenPans.insert (pan1);

        for (auto* id : { "synth1_noise", "synth2_noise", "fx_overdrive", "synth1_glide", "synth2_glide", "filterQMax" })
            ASSERT_LE (value (id), 0.25f + 0.0006f) << id;

        for (auto* id : { "synth1_microtune", "synth2_microtune" })
        {
            ASSERT_GE (value (id), 0.33f - 0.0006f) << id;
            ASSERT_LE (value (id), 0.66f + 0.0006f) << id;
        }

        for (const auto& p : proc.paramMan.params)
        {
            ASSERT_GE (value (p.paramId.toRawUTF8()), 0.0f) << p.paramId;
            ASSERT_LE (value (p.paramId.toRawUTF8()), 1.0f) << p.paramId;
        }

        // Each section draws either its unison count or its voice count; the other is 0.
        for (auto* section : { "synth1", "synth2" })
        {
            const auto unison = value ((juce::String (section) + "_unison").toRawUTF8());
            const auto voices = value ((juce::String (section) + "_voices").toRawUTF8());
            ASSERT_TRUE (unison == 0.0f || voices == 0.0f) << section << " " << unison << " " << voices;
        }

        unisonDrawnA += value ("synth1_unison") > 0.0f ? 1 : 0;
        unisonDrawnB += value ("synth2_unison") > 0.0f ? 1 : 0;

        for (auto* key : { "synth1_oscType", "synth2_oscType", "lfo1_oscType", "lfo2_oscType" })
        {
            ASSERT_EQ (ids.count (proc.getModMap (key)), 1u) << proc.getModMap (key);
            seenWaves.insert (proc.getModMap (key));
        }

        for (auto* key : { "env1_mappedParam", "env2_mappedParam", "lfo1_mappedParam", "lfo2_mappedParam" })
        {
            ASSERT_EQ (proc.paramMan.paramsById.count (proc.getModMap (key)), 1u) << proc.getModMap (key);
            seenTargets.insert (proc.getModMap (key));
        }

        // Name: two capitalised list words and a number 0..98, nothing between.
        const auto name = proc.patchName;
        const auto wordsPart = name.trimCharactersAtEnd ("0123456789");
        const auto digits = name.substring (wordsPart.length());
        ASSERT_TRUE (digits.isNotEmpty() && digits.getIntValue() <= 98 && (digits == "0" || ! digits.startsWith ("0"))) << name;
        bool split = false;
        for (int i = 1; i < wordsPart.length() && ! split; ++i)
            split = capitalisedWords.count (wordsPart.substring (0, i)) > 0 && capitalisedWords.count (wordsPart.substring (i)) > 0;
        ASSERT_TRUE (split) << name;

        ASSERT_EQ (proc.apvts.state.getType().toString(), "XMLRandomPatch");
        ASSERT_EQ (proc.apvts.state.getProperty ("version").toString(), "25.9.26");
        ASSERT_EQ (proc.apvts.state.getProperty ("patchName").toString(), name);
        ASSERT_FALSE (proc.bulkUpdate.load());
    }

    // About 30 % of the sections draw a unison count.
    EXPECT_GT (unisonDrawnA, draws * 15 / 100);
    EXPECT_LT (unisonDrawnA, draws * 45 / 100);
    EXPECT_GT (unisonDrawnB, draws * 15 / 100);
    EXPECT_LT (unisonDrawnB, draws * 45 / 100);
    EXPECT_GT (seenWaves.size(), 20u);
    EXPECT_GT (seenTargets.size(), 60u);
    EXPECT_GT (seenPans.size(), 100u);
    EXPECT_TRUE (proc.bugReporter.log.contains ("randomize patch post"));
}

TEST (PatchRandom, SeededDrawsGiveTheGoldenDocument)
{
    // Every draw in its place: with the three generators seeded, the random
    // patch is this document, value for value, so a dropped, added or
    // swapped draw shows. (The name comes from a generator of its own that
    // the framework seeds, and the version changes with releases.)
    kvAP proc;
    proc.random.setSeed (1234567);
    proc.waveManager.rng.setSeed (7654321);
    proc.paramMan.random.setSeed (2468);
    proc.randomizePatch();

    auto xml = proc.buildPatchData();
    ASSERT_NE (xml, nullptr);
    xml->setAttribute ("patchName", "(drawn)");
    xml->setAttribute ("version", "(this release)");
    const auto actual = xml->toString().replace ("\r\n", "\n");

    const auto golden = juce::File (KORVANE_TEST_DATA_DIR).getChildFile ("random_patch_golden.xml");

    if (std::getenv ("KORVANE_UPDATE_GOLDEN") != nullptr)
        golden.replaceWithText (actual);

    EXPECT_EQ (actual, golden.loadFileAsString().replace ("\r\n", "\n")) << "the seeded patch is now:\n" << actual;

    // A few draws checked from the generators themselves: R's first two pick
    // the sections' layout, its third the pan spread, its fourth the first
    // parameter; W's first is oscillator A's shape, P's first envelope 1's target.
    juce::Random r (1234567), w (7654321), t (2468);
    const auto switchA = r.nextFloat(), switchB = r.nextFloat(), spread = 0.3f * r.nextFloat();
    EXPECT_NEAR (proc.getParamValue ("dummy"), r.nextFloat(), 0.0006f);
    EXPECT_NEAR (proc.getParamValue ("synth1_pan"), 0.5f + spread, 0.0006f);
    EXPECT_EQ (proc.getParamValue ("synth1_unison") == 0.0f, switchA <= 0.7f);
    EXPECT_EQ (proc.getParamValue ("synth2_voices") == 0.0f, switchB > 0.7f);
    EXPECT_EQ (proc.getModMap ("synth1_oscType"), proc.waveManager.waveforms[(int) std::floor (28.0f * w.nextFloat())]->getId());
    EXPECT_EQ (proc.getModMap ("env1_mappedParam"), proc.paramMan.params[(size_t) std::floor (80.0f * t.nextFloat())].paramId);
}

TEST (PatchRandom, WordListHasItsProperties)
{
    const auto& words = RandomWords::getWords();
    ASSERT_EQ (words.size(), 1000u);

    const char* const firstFive[] = { "a", "ability", "able", "about", "above" };
    const char* const lastSix[] = { "yes", "yet", "you", "young", "your", "yourself" };

    for (size_t i = 0; i < 5; ++i)
        EXPECT_STREQ (words[i], firstFive[i]);

    for (size_t i = 0; i < 6; ++i)
        EXPECT_STREQ (words[994 + i], lastSix[i]);

    int properWords = 0;

    for (size_t i = 0; i < words.size(); ++i)
    {
        const juce::String word (words[i]);
        EXPECT_TRUE (word.isNotEmpty() && word.containsOnly ("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ")) << word;
        EXPECT_EQ (word.substring (1), word.substring (1).toLowerCase()) << word;

        if (word[0] != word.toLowerCase()[0])
            ++properWords;

        if (i > 0)
        {
            EXPECT_LT (juce::String (words[i - 1]).compareIgnoreCase (word), 0) << words[i - 1] << " / " << word;
        }
    }

    EXPECT_EQ (properWords, 9);
}
