#include "AudioAnalysis.h"
#include "ProcessorFixture.h"
#include "processor/PluginProcessor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

using juce::AudioChannelSet;

// The wrappers build a plug-in's ports from the build's declarations, and the
// standalone offers a MIDI output only when producesMidi() says so: what the
// processor answers must agree with what the build declares.
TEST (ProcessorSpine, FixedAnswers)
{
    kvAP proc;
    EXPECT_EQ (proc.getName(), juce::String (JucePlugin_Name));
    EXPECT_EQ (proc.getName(), "Korvane");
    EXPECT_EQ (proc.acceptsMidi(), JucePlugin_WantsMidiInput != 0);
    EXPECT_EQ (proc.producesMidi(), JucePlugin_ProducesMidiOutput != 0);
    EXPECT_EQ (proc.isMidiEffect(), JucePlugin_IsMidiEffect != 0);
    EXPECT_TRUE (JucePlugin_IsSynth != 0);

    // An instrument played from a keyboard, whose notes (the on-screen
    // keyboard's too) go out again through the MIDI output.
    EXPECT_TRUE (proc.acceptsMidi());
    EXPECT_TRUE (proc.producesMidi());
    EXPECT_FALSE (proc.isMidiEffect());
    EXPECT_TRUE (proc.hasEditor());
    EXPECT_EQ (proc.getTailLengthSeconds(), 0.0);

    // Hosts expect at least one program and a current one among them.
    EXPECT_EQ (proc.getNumPrograms(), 1);
    EXPECT_EQ (proc.getCurrentProgram(), 0);
    EXPECT_EQ (proc.getProgramName (0), "");
    proc.setCurrentProgram (0);
    proc.changeProgramName (0, "ignored");
    EXPECT_EQ (proc.getCurrentProgram(), 0);
    EXPECT_EQ (proc.getProgramName (0), "");

    // Single precision only: hosts then never call the double-precision block.
    EXPECT_FALSE (proc.supportsDoublePrecisionProcessing());

    EXPECT_EQ (proc.getTotalNumInputChannels(), 0);
    EXPECT_EQ (proc.getTotalNumOutputChannels(), 2);
    ASSERT_EQ (proc.getBusCount (false), 1);
    EXPECT_EQ (proc.getBus (false, 0)->getName(), "Output");
    EXPECT_EQ (proc.getBusCount (true), 0);
}

// What a host does with those answers: it picks the one program, renames it,
// and asks for a layout through setBusesLayout. None of that may touch the
// user's sound, and a layout the processor takes must then be played.
TEST (ProcessorSpine, HostProgramAndLayoutRequests)
{
    {
        ProcessorRig rig;
        auto& p = rig.proc;
        rig.set ("cutoff", 0.3f);
        rig.set ("synth1_tune", 0.6f);
        p.patchName = "Mine";
        p.setModMapEntry ("synth2_oscType", "square_if");

        juce::MemoryBlock before;
        p.getStateInformation (before);
        const auto soundBefore = rig.renderHeld ({ 60 }, 4096);

        for (const int program : { 0, 1, -1 })
        {
            p.setCurrentProgram (program);
            p.changeProgramName (program, "Other");
            EXPECT_EQ (p.getCurrentProgram(), 0) << program;
        }

        EXPECT_EQ (p.getProgramName (0), "");
        EXPECT_EQ (p.patchName, "Mine");

        juce::MemoryBlock after;
        p.getStateInformation (after);
        EXPECT_EQ (before, after);

        // The same note again, once the first has died away, sounds the same.
        rig.render (48000, [] (juce::MidiBuffer& midi, int start, int)
        {
            if (start == 0)
                midi.addEvent (juce::MidiMessage::allNotesOff (1), 0);
        });
        const auto soundAfter = rig.renderHeld ({ 60 }, 4096);
        const auto* x = soundBefore.getReadPointer (0) + 2048;
        const auto* y = soundAfter.getReadPointer (0) + 2048;
        EXPECT_NEAR (AudioAnalysis::rms (y, 2048), AudioAnalysis::rms (x, 2048), 0.01 * AudioAnalysis::rms (x, 2048));
    }

    kvAP proc;
    const auto layoutOf = [] (AudioChannelSet out)
    {
        juce::AudioProcessor::BusesLayout layout;
        layout.outputBuses.add (out);
        return layout;
    };

    EXPECT_TRUE (proc.setBusesLayout (layoutOf (AudioChannelSet::mono())));
    EXPECT_EQ (proc.getTotalNumOutputChannels(), 1);
    EXPECT_FALSE (proc.setBusesLayout (layoutOf (AudioChannelSet::create5point1())));
    EXPECT_EQ (proc.getTotalNumOutputChannels(), 1); // a refused layout changes nothing

    auto withInput = layoutOf (AudioChannelSet::stereo());
    withInput.inputBuses.add (AudioChannelSet::stereo());
    EXPECT_FALSE (proc.setBusesLayout (withInput)); // there is no input bus to give channels
    EXPECT_EQ (proc.getTotalNumInputChannels(), 0);
    EXPECT_EQ (proc.getTotalNumOutputChannels(), 1);

    // Mono: the one channel carries the note (and nothing reads a second).
    proc.setRateAndBufferSizeDetails (48000.0, 512);
    proc.prepareToPlay (48000.0, 512);
    juce::AudioBuffer<float> mono (1, 512);
    juce::MidiBuffer midi;
    double monoLevel = 0.0;

    for (int block = 0; block < 20; ++block)
    {
        midi.clear();
        if (block == 0)
            midi.addEvent (juce::MidiMessage::noteOn (1, 69, (juce::uint8) 100), 0);

        proc.processBlock (mono, midi);
        ASSERT_TRUE (AudioAnalysis::allFinite (mono.getReadPointer (0), 512)) << block;
        monoLevel = AudioAnalysis::rms (mono.getReadPointer (0), 512);
    }

    EXPECT_GT (monoLevel, 0.02);

    // Back to stereo: both channels sound.
    proc.releaseResources();
    EXPECT_TRUE (proc.setBusesLayout (layoutOf (AudioChannelSet::stereo())));
    EXPECT_EQ (proc.getTotalNumOutputChannels(), 2);
    proc.prepareToPlay (48000.0, 512);
    juce::AudioBuffer<float> stereo (2, 512);

    for (int block = 0; block < 20; ++block)
    {
        midi.clear();
        if (block == 0)
            midi.addEvent (juce::MidiMessage::noteOn (1, 69, (juce::uint8) 100), 0);

        proc.processBlock (stereo, midi);
    }

    EXPECT_GT (AudioAnalysis::rms (stereo.getReadPointer (0), 512), 0.02);
    EXPECT_GT (AudioAnalysis::rms (stereo.getReadPointer (1), 512), 0.02);
}

TEST (ProcessorSpine, BusLayouts)
{
    kvAP proc;

    struct Case { AudioChannelSet in, out; bool hasInputBus, supported; };
    const Case cases[] = {
        { AudioChannelSet::disabled(), AudioChannelSet::stereo(), false, true },
        { AudioChannelSet::disabled(), AudioChannelSet::mono(), false, true },
        { AudioChannelSet::disabled(), AudioChannelSet::disabled(), false, true },
        { AudioChannelSet::stereo(), AudioChannelSet::stereo(), true, true },
        { AudioChannelSet::mono(), AudioChannelSet::stereo(), true, false },
        { AudioChannelSet::disabled(), AudioChannelSet::create5point1(), false, false },
        { AudioChannelSet::disabled(), AudioChannelSet::stereo(), true, true },
        { AudioChannelSet::create5point1(), AudioChannelSet::create5point1(), true, false },
    };

    for (const auto& c : cases)
    {
        juce::AudioProcessor::BusesLayout layout;
        layout.outputBuses.add (c.out);

        if (c.hasInputBus)
            layout.inputBuses.add (c.in);

        EXPECT_EQ (proc.isBusesLayoutSupported (layout), c.supported)
            << c.in.getDescription() << " -> " << c.out.getDescription();
    }

    juce::AudioProcessor::BusesLayout noBuses;
    EXPECT_TRUE (proc.isBusesLayoutSupported (noBuses));
}

TEST (ProcessorSpine, StartingState)
{
    kvAP proc;
    EXPECT_EQ (proc.patchName, "Init");
    EXPECT_EQ (proc.getLfoRateText (1), "x/y");
    EXPECT_EQ (proc.getLfoRateText (2), "x/y");
    EXPECT_TRUE (proc.bulkUpdate);
    EXPECT_TRUE (proc.overdriveBypassed);
    EXPECT_EQ (proc.activeNotes, 0);
    EXPECT_EQ (proc.lfoStepCountdown, 100);
    EXPECT_EQ (proc.historyLength, 0);
    EXPECT_EQ (proc.sampleRateInt, 0);
    EXPECT_FALSE (proc.historyFull);
    EXPECT_EQ (proc.renderValues.synth1Voices, 1);
    EXPECT_EQ (proc.renderValues.synth2Voices, 1);
    EXPECT_EQ (proc.renderValues.cutoffHz, 0);

    const std::map<juce::String, juce::String> expectedMap {
        { "synth1_oscType", "sine_og" }, { "synth2_oscType", "sine_og" },
        { "lfo1_oscType", "sine_og" },   { "lfo2_oscType", "sine_og" },
        { "env1_mappedParam", "dummy" }, { "env2_mappedParam", "dummy" },
        { "lfo1_mappedParam", "dummy" }, { "lfo2_mappedParam", "dummy" },
    };
    EXPECT_EQ (proc.getModMap(), expectedMap);

    const std::map<juce::String, juce::String> expectedNames {
        { "synth1_oscType", "Oscillator A" }, { "synth2_oscType", "Oscillator B" },
        { "env1_mappedParam", "Envelope 1" }, { "env2_mappedParam", "Envelope 2" },
        { "lfo1_oscType", "LFO 1" },          { "lfo1_mappedParam", "LFO 1" },
        { "lfo2_oscType", "LFO 2" },          { "lfo2_mappedParam", "LFO 2" },
    };
    EXPECT_EQ (proc.modMapNames, expectedNames);

    ASSERT_EQ (proc.builtInPatches.size(), 1u);
    EXPECT_EQ (proc.builtInPatches.at ("Init[OA]"), proc.defaultPatchXml);

    // The state a host reads from a fresh processor is the built-in patch
    // "Init[OA]": the same mapping and, parameter by parameter, the same
    // values, but for the few that patch sets apart from the table.
    {
        const auto initPatch = juce::parseXML (proc.defaultPatchXml);
        ASSERT_NE (initPatch, nullptr);

        juce::MemoryBlock state;
        proc.getStateInformation (state);
        const auto hostState = juce::AudioProcessor::getXmlFromBinary (state.getData(), (int) state.getSize());
        ASSERT_NE (hostState, nullptr);
        EXPECT_EQ (hostState->getStringAttribute ("patchName"), "Init");

        for (const auto& [key, value] : expectedMap)
            EXPECT_EQ (hostState->getStringAttribute (key), initPatch->getStringAttribute (key)) << key;

        std::set<juce::String> differing, missing;

        for (const auto& p : proc.paramMan.params)
        {
            const auto* inState = hostState->getChildByAttribute ("id", p.paramId);
            const auto* inPatch = initPatch->getChildByAttribute ("id", p.paramId);
            ASSERT_NE (inState, nullptr) << p.paramId;

            if (inPatch == nullptr || ! inPatch->hasAttribute ("value"))
                missing.insert (p.paramId);
            else if (std::abs (inState->getDoubleAttribute ("value") - inPatch->getDoubleAttribute ("value")) > 1.0e-6)
                differing.insert (p.paramId);
        }

        EXPECT_EQ (differing, (std::set<juce::String> { "masterVol", "lfo1_retrigLfo" }));
        EXPECT_EQ (missing, (std::set<juce::String> { "synth1_glide", "synth2_glide", "limiter" }));
    }

    // What a fresh processor would save is that starting state: its name,
    // the mapping, every parameter at the table's default and the editor size.
    const auto document = proc.buildPatchData();
    ASSERT_NE (document, nullptr);
    EXPECT_EQ (document->getStringAttribute ("patchName"), "Init");

    for (const auto& [key, value] : expectedMap)
        EXPECT_EQ (document->getStringAttribute (key), value) << key;

    for (const auto& p : proc.paramMan.params)
    {
        const auto* child = document->getChildByAttribute ("id", p.paramId);
        ASSERT_NE (child, nullptr) << p.paramId;
        EXPECT_NEAR (child->getDoubleAttribute ("value"), p.defaultValue, 0.0005) << p.paramId;
    }

    const auto* ui = document->getChildByName ("uiState");
    ASSERT_NE (ui, nullptr);
    EXPECT_EQ (ui->getIntAttribute ("width"), 400);
    EXPECT_EQ (ui->getIntAttribute ("height"), 200);

    // Once prepared it plays that sound: labels and read-outs from the
    // defaults, and with every source on "dummy" a held chord moves nothing.
    proc.setRateAndBufferSizeDetails (48000.0, 512);
    proc.prepareToPlay (48000.0, 512);
    EXPECT_FALSE (proc.bulkUpdate);
    EXPECT_EQ (proc.getLfoRateText (1), "1/1");
    EXPECT_EQ (proc.renderValues.cutoffHz, 10040);
    EXPECT_EQ (proc.renderValues.synth1Voices, 16);
    EXPECT_EQ (proc.historyLength, 2400);

    juce::AudioBuffer<float> buffer (2, 512);
    juce::MidiBuffer midi;
    double sum = 0.0;

    for (int block = 0; block < 94; ++block) // a second
    {
        midi.clear();
        if (block == 0)
            for (auto note : { 60, 64, 67 })
                midi.addEvent (juce::MidiMessage::noteOn (1, note, (juce::uint8) 100), 0);

        proc.processBlock (buffer, midi);

        for (int i = 0; i < buffer.getNumSamples(); ++i)
            sum += std::abs (buffer.getSample (0, i));
    }

    EXPECT_GT (sum, 1000.0);
    EXPECT_EQ (proc.activeNotes, 3);
    EXPECT_EQ (proc.renderValues.cutoffHz, 10040);
    EXPECT_EQ (proc.renderValues.env1Value, 0.0f);
    EXPECT_EQ (proc.renderValues.lfo1Value, 0.0f);

    for (const auto& p : proc.paramMan.params)
        EXPECT_NEAR (proc.getParamValue (p.paramId), p.defaultValue, 0.0005) << p.paramId;
}

TEST (ProcessorSpine, ParameterChangesBeforeTheFirstPrepareStayInTheTree)
{
    kvAP proc;
    proc.apvts.getParameter ("cutoff")->setValueNotifyingHost (0.25f);
    EXPECT_EQ (proc.renderValues.cutoffHz, 0); // the engine has not seen it
    EXPECT_FLOAT_EQ (proc.apvts.getRawParameterValue ("cutoff")->load(), 0.25f);

    proc.prepareToPlay (48000.0, 512);
    EXPECT_FALSE (proc.bulkUpdate);
    EXPECT_EQ (proc.renderValues.cutoffHz, 1324);
}

TEST (ProcessorSpine, HistoryLengthFollowsTheSampleRate)
{
    struct Case { double rate; int length; };
    for (const auto& c : { Case { 44100.0, 2205 }, Case { 48000.0, 2400 }, Case { 96000.0, 4800 } })
    {
        kvAP proc;
        proc.prepareToPlay (c.rate, 256);
        EXPECT_EQ (proc.historyLength, c.length) << c.rate;
        EXPECT_EQ (proc.historyDivisor, 20);
        EXPECT_EQ (proc.sampleRateInt, (int) c.rate);
    }
}

//==============================================================================
namespace
{
    std::unique_ptr<juce::XmlElement> parseDefaultPatch()
    {
        return juce::XmlDocument::parse (juce::String::fromUTF8 (kvAP::getDefaultPatchXml()));
    }

    juce::String asFrameworkDouble (float v)
    {
        juce::XmlElement e ("x");
        e.setAttribute ("v", (double) v);
        return e.getStringAttribute ("v");
    }
}

TEST (DefaultPatch, IsTheFrameworksOwnRenderingOfThePatchDocument)
{
    const juce::String text = juce::String::fromUTF8 (kvAP::getDefaultPatchXml());
    EXPECT_TRUE (text.startsWith ("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n\r\n<state "));
    EXPECT_TRUE (text.endsWith ("</state>\r\n"));
    EXPECT_FALSE (text.replace ("\r\n", "").containsChar ('\n')); // "\r\n" line ends only
    EXPECT_NE ((juce::uint8) text.toRawUTF8()[0], 0xef);         // no byte-order mark

    auto xml = parseDefaultPatch();
    ASSERT_NE (xml, nullptr);
    EXPECT_EQ (xml->toString(), text); // byte for byte what the framework writes
}

TEST (DefaultPatch, RootAttributesInOrder)
{
    auto xml = parseDefaultPatch();
    ASSERT_NE (xml, nullptr);
    EXPECT_EQ (xml->getTagName(), "state");

    const std::pair<const char*, const char*> expected[] = {
        { "patchName", "Init[OA]" },       { "version", "22.12.05" },
        { "env1_mappedParam", "dummy" },   { "env2_mappedParam", "dummy" },
        { "lfo1_mappedParam", "dummy" },   { "lfo1_oscType", "sine_og" },
        { "lfo2_mappedParam", "dummy" },   { "lfo2_oscType", "sine_og" },
        { "synth1_oscType", "sine_og" },   { "synth2_oscType", "sine_og" },
    };

    ASSERT_EQ (xml->getNumAttributes(), (int) std::size (expected));
    for (int i = 0; i < xml->getNumAttributes(); ++i)
    {
        EXPECT_EQ (xml->getAttributeName (i), expected[i].first);
        EXPECT_EQ (xml->getAttributeValue (i), expected[i].second);
    }
}

TEST (DefaultPatch, ParamChildrenSortedWithTableDefaultsAndTwoExceptions)
{
    auto xml = parseDefaultPatch();
    ASSERT_NE (xml, nullptr);
    ParamMan table;

    std::vector<juce::XmlElement*> children;
    for (auto* child : xml->getChildIterator())
        children.push_back (child);

    ASSERT_EQ (children.size(), 87u);

    // 84 PARAM elements sorted by id in byte order ...
    std::vector<std::string> ids;
    for (size_t i = 0; i < 84; ++i)
    {
        ASSERT_EQ (children[i]->getTagName(), "PARAM");
        ASSERT_EQ (children[i]->getNumAttributes(), 2);
        EXPECT_EQ (children[i]->getAttributeName (0), "id");
        EXPECT_EQ (children[i]->getAttributeName (1), "value");
        ids.push_back (children[i]->getStringAttribute ("id").toStdString());
    }
    EXPECT_TRUE (std::is_sorted (ids.begin(), ids.end()));

    // ... holding every table id except three, plus seven that name no parameter.
    std::set<std::string> expectedIds;
    for (const auto& p : table.params)
        expectedIds.insert (p.paramId.toStdString());
    for (auto* missing : { "limiter", "synth1_glide", "synth2_glide" })
        expectedIds.erase (missing);
    const std::map<std::string, juce::String> extras {
        { "env1_mappedParam", "0.0" }, { "env2_mappedParam", "0.0" }, { "lfo1_mappedParam", "0.0" },
        { "lfo2_mappedParam", "0.0" }, { "fx_delay", "0.0" },
        { "synth1_oscType", "0.04200000315904617" }, { "synth2_oscType", "0.5420000553131104" },
    };
    for (const auto& e : extras)
        expectedIds.insert (e.first);
    EXPECT_EQ (std::set<std::string> (ids.begin(), ids.end()), expectedIds);

    const std::map<std::string, juce::String> exceptions {
        { "masterVol", "0.6020000576972961" }, { "lfo1_retrigLfo", "0.5230000019073486" },
    };
    const juce::NormalisableRange<float> grid (0.0f, 1.0f, 0.001f, 1.0f);

    for (size_t i = 0; i < 84; ++i)
    {
        const auto id = ids[i];
        const auto value = children[i]->getStringAttribute ("value");
        SCOPED_TRACE (id);

        if (auto e = extras.find (id); e != extras.end())
            EXPECT_EQ (value, e->second);
        else if (auto x = exceptions.find (id); x != exceptions.end())
            EXPECT_EQ (value, x->second);
        else
            EXPECT_EQ (value, asFrameworkDouble (grid.snapToLegalValue (table.paramsById.at (id).defaultValue)));
    }

    // A few values written out, as a check on the framework's number format itself.
    auto valueOf = [&] (const char* id) { return xml->getChildByAttribute ("id", id)->getStringAttribute ("value"); };
    EXPECT_EQ (valueOf ("dummy"), "0.1000000014901161");
    EXPECT_EQ (valueOf ("synth1_sustain"), "1.0");
    EXPECT_EQ (valueOf ("synth1_unison"), "0.0");
    EXPECT_EQ (valueOf ("synth1_attack"), "0.01000000070780516");
    EXPECT_EQ (valueOf ("env1_factor"), "0.7000000476837158");
    EXPECT_EQ (valueOf ("cutoff"), "0.9000000357627869");

    // Then the editor size, then two glide entries without a value.
    EXPECT_EQ (children[84]->getTagName(), "uiState");
    EXPECT_EQ (children[84]->getIntAttribute ("width"), 400);
    EXPECT_EQ (children[84]->getIntAttribute ("height"), 200);
    EXPECT_EQ (children[84]->getNumAttributes(), 2);

    for (size_t i = 85; i < 87; ++i)
    {
        EXPECT_EQ (children[i]->getTagName(), "PARAM");
        EXPECT_EQ (children[i]->getNumAttributes(), 1);
    }
    EXPECT_EQ (children[85]->getStringAttribute ("id"), "synth1_glide");
    EXPECT_EQ (children[86]->getStringAttribute ("id"), "synth2_glide");
}
