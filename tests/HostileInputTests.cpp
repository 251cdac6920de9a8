// Documents and values that a corrupted or malicious patch file, DAW project,
// settings file or control surface carries: each entry point refuses them or
// loads them as a patch without a value would load, nothing crashes, and the
// instrument keeps sounding.
#include "../fuzz/FuzzHarness.h"
#include "AudioAnalysis.h"
#include "FileTestSupport.h"
#include "ProcessorFixture.h"
#include "RenderToolRun.h"
#include "state/OAXmlTools.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <limits>
#include <optional>
#include <string>

using namespace FileTests;

namespace
{
    std::string repeated (const std::string& piece, int times)
    {
        std::string text;
        text.reserve (piece.size() * (size_t) times);

        for (int i = 0; i < times; ++i)
            text += piece;

        return text;
    }

    /** A fresh processor's patch document on one line, named "Hostile", with
        the given text as the value of cutoff. */
    std::string documentWithCutoff (const juce::String& cutoffText)
    {
        kvAP writer;
        writer.patchName = "Hostile";
        auto xml = writer.buildPatchData();
        auto* cutoff = xml->getChildByAttribute ("id", "cutoff");
        cutoff->setAttribute ("value", cutoffText);
        return xml->toString (juce::XmlElement::TextFormat().singleLine().withoutHeader()).toStdString();
    }

    const std::string& freshDocument()
    {
        static const auto text = documentWithCutoff ("0.25");
        return text;
    }

    /** The fresh document with extra markup inside the root, after the PARAMs. */
    std::string withInside (const std::string& markup)
    {
        auto text = freshDocument();
        const auto close = text.rfind ("</state>");
        return text.insert (close, markup);
    }

    /** The fresh document with its patch name replaced. */
    std::string withName (const std::string& name)
    {
        auto text = freshDocument();
        const std::string attribute = "patchName=\"Hostile\"";
        return text.replace (text.find (attribute), attribute.size(), "patchName=\"" + name + "\"");
    }

    /** `levels` elements nested inside one another, each closed again. */
    std::string nested (int levels)
    {
        return repeated ("<a>", levels) + repeated ("</a>", levels);
    }

    using FuzzHarness::hostStateWithText;

    /** The level of a held note and whether every sample was finite. */
    struct Sound
    {
        double rmsDb = -999.0;
        bool finite = false;
    };

    Sound soundOf (ProcessorRig& rig)
    {
        const auto out = rig.renderHeld ({ 57 }, 9600);
        Sound s;
        s.finite = AudioAnalysis::allFinite (out.getReadPointer (0), out.getNumSamples())
                && AudioAnalysis::allFinite (out.getReadPointer (1), out.getNumSamples());
        const auto level = AudioAnalysis::rms (out.getReadPointer (0, 2400), 7200);
        s.rmsDb = level > 0.0 ? 20.0 * std::log10 (level) : -999.0;
        return s;
    }

    /** A held note on a fresh processor that loaded the fresh document. */
    double referenceLevelDb()
    {
        static const auto level = []
        {
            ProcessorRig rig;
            EXPECT_TRUE (rig.proc.replaceState (juce::String (freshDocument())).wasOk());
            rig.proc.updateAllParams();
            return soundOf (rig).rmsDb;
        }();

        return level;
    }

    class HostileDocuments : public CleanHome {};

    constexpr float freshCutoff = 0.25f;   // what the fresh document holds
    constexpr float defaultCutoff = 0.9f;  // the parameter's default
}

// Every hostile patch document through every way a patch gets in: a patch
// file loaded by the app, korvane-render --patch, and host state restored by
// a DAW. Each is refused (with the usual notice, nothing of the sound
// changed) or loaded as specified, and a note afterwards sounds as it should.
TEST_F (HostileDocuments, EveryPatchEntryPointRefusesOrLoadsAsSpecified)
{
    using Check = std::function<void (kvAP&)>;

    struct Case
    {
        const char* what;
        std::string text;
        const char* reason;                // refused with this reason, or loaded when empty
        std::optional<float> cutoff = {};  // what a loaded document leaves "cutoff" at
        Check check = {};
    };

    const auto hugeName = std::string (200 * 1024, 'n');
    std::string manyAttributes = "<a";
    for (int i = 0; i < 257; ++i)
        manyAttributes += " x" + std::to_string (i) + "=\"\"";
    manyAttributes += "/>";

    std::string manyParams;
    for (int i = 0; i < 100000; ++i)
        manyParams += "<PARAM id=\"extra" + std::to_string (i) + "\" value=\"0.5\"/>";

    const char* const deep = "nested more than 32 levels deep";

    const Case cases[] {
        { "nesting 32, the deepest allowed",  withInside (nested (31)),                           "", freshCutoff },
        { "nesting 33",                        withInside (nested (32)),                           deep },
        { "nesting 10 000",                    withInside (nested (9999)),                         deep },
        { "40 000 open tags, as reported",     "<PATCH>" + repeated ("<a>", 40000),                deep },
        { "nesting 100 000",                   withInside (nested (99999)),                        deep },
        { "100 000 PARAM children",            withInside (manyParams),                            "", freshCutoff },
        { "257 attributes on one element",     withInside (manyAttributes),                        "more than 256 attributes" },
        { "a name of 300 characters",          withInside ("<" + std::string (300, 'b') + "/>"),  "name longer than 256 characters" },
        { "a document type with entities",     "<!DOCTYPE state [<!ENTITY e \"&e;&e;\">]>" + freshDocument(), "declares a document type" },
        { "an entity the program never writes", withName ("&nbsp;"),                              "not well-formed" },
        { "a patch name of 4096 references",   withName (repeated ("&amp;", 4096)),                "", freshCutoff,
          [] (kvAP& p) { EXPECT_EQ (p.patchName, juce::String::repeatedString ("&", 4096)); } },
        { "a patch name of 400 000 references", withName (repeated ("&lt;", 400000)),              "more than 4096 character references" },
        { "a patch name of 200 KB",            withName (hugeName),                                "", freshCutoff,
          [&] (kvAP& p) { EXPECT_EQ (p.patchName.length(), (int) hugeName.size()); } },
        { "value nan",                         documentWithCutoff ("nan"),                         "", defaultCutoff },
        { "value inf",                         documentWithCutoff ("inf"),                         "", defaultCutoff },
        { "value -inf",                        documentWithCutoff ("-inf"),                        "", defaultCutoff },
        { "value 1e39, infinite as a float",   documentWithCutoff ("1e39"),                        "", defaultCutoff },
        { "value -1e39",                       documentWithCutoff ("-1e39"),                       "", defaultCutoff },
        { "value -0",                          documentWithCutoff ("-0"),                          "", 0.0f },
        { "a denormal value",                  documentWithCutoff ("1e-40"),                       "", 0.0f },
        { "a value above 1 is clamped",        documentWithCutoff ("1.5"),                         "", 1.0f },
        { "two PARAMs for cutoff: the last wins", withInside ("<PARAM id=\"cutoff\" value=\"0.7\"/>"), "", 0.7f },
        // The tree takes the last child that names a parameter, whatever its tag.
        { "a non-finite value on another tag", withInside ("<PARAM id=\"res\" value=\"0.6\"/><extra id=\"res\" value=\"nan\"/>"),
          "", freshCutoff, [] (kvAP& p) { EXPECT_NEAR (p.getParamValue ("res"), 0.1f, 1.0e-6f); } },
    };

    const auto patchFile = patchFolder().getChildFile ("Hostile.kvn");

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        const auto refused = std::strlen (c.reason) > 0;
        const auto text = juce::String::fromUTF8 (c.text.data(), (int) c.text.size());
        const auto tooLargeForAFile = (juce::int64) c.text.size() > OAFileIO::maxTextFileBytes;
        writeBytes (patchFile, c.text.data(), c.text.size());

        auto checkLoaded = [&] (kvAP& p)
        {
            EXPECT_NEAR (p.getParamValue ("cutoff"), *c.cutoff, 1.0e-6f);
            EXPECT_TRUE (std::isfinite (p.apvts.getParameter ("cutoff")->getValue()));

            if (c.check)
                c.check (p);

            // The loaded state saves and restores like any other.
            juce::MemoryBlock state;
            p.getStateInformation (state);
            kvAP again;
            notices.clear();
            again.setStateInformation (state.getData(), (int) state.getSize());
            EXPECT_TRUE (notices.empty());
            EXPECT_NEAR (again.getParamValue ("cutoff"), *c.cutoff, 1.0e-6f);
        };

        auto checkSound = [&] (ProcessorRig& rig, bool unchanged)
        {
            const auto sound = soundOf (rig);
            EXPECT_TRUE (sound.finite);
            EXPECT_GT (sound.rmsDb, -60.0);

            if (unchanged)
            {
                EXPECT_NEAR (sound.rmsDb, referenceLevelDb(), 0.5);
            }
        };

        // The app loading a patch file.
        {
            ProcessorRig rig;
            ASSERT_TRUE (rig.proc.replaceState (juce::String (freshDocument())).wasOk());
            rig.proc.updateAllParams();
            const auto before = rig.proc.buildPatchDataString();
            notices.clear();

            rig.proc.loadPatch ("Hostile.kvn");

            if (refused || tooLargeForAFile)
            {
                ASSERT_EQ (notices.size(), 1u);
                EXPECT_TRUE (notices[0].text.startsWith ("\"Hostile.kvn\" couldn't be loaded: ")) << notices[0].text;
                EXPECT_TRUE (notices[0].text.contains (tooLargeForAFile ? "far too big" : c.reason)) << notices[0].text;
                EXPECT_EQ (rig.proc.buildPatchDataString(), before);
                checkSound (rig, true);
            }
            else
            {
                EXPECT_TRUE (notices.empty()) << notices[0].text;
                checkLoaded (rig.proc);
                checkSound (rig, c.cutoff == freshCutoff);
            }
        }

        // A DAW restoring its project.
        {
            ProcessorRig rig;
            ASSERT_TRUE (rig.proc.replaceState (juce::String (freshDocument())).wasOk());
            rig.proc.updateAllParams();
            const auto before = rig.proc.buildPatchDataString();
            const auto state = hostStateWithText (c.text);
            notices.clear();

            rig.proc.setStateInformation (state.getData(), (int) state.getSize());

            if (refused)
            {
                ASSERT_EQ (notices.size(), 1u);
                EXPECT_EQ (notices[0].text, "There was an issue setting state data.");
                EXPECT_EQ (rig.proc.buildPatchDataString(), before);
                checkSound (rig, true);
            }
            else
            {
                EXPECT_TRUE (notices.empty());
                checkLoaded (rig.proc);
                checkSound (rig, c.cutoff == freshCutoff);
            }
        }

        // korvane-render, which reads patches of up to 1 MiB.
        {
            const auto wav = patchFolder().getChildFile ("hostile.wav");
            const auto run = RenderToolRun::start ({ "--patch", patchFile.getFullPathName(), "--notes", "57", "--seconds", "0.2",
                                                     "--quiet", "--out", wav.getFullPathName() }, wav);
            const auto tooLargeForTheRenderer = c.text.size() > 1024 * 1024;

            if (refused || tooLargeForTheRenderer)
            {
                EXPECT_EQ (run.exitCode, 2) << run.err;
                EXPECT_EQ (juce::StringArray::fromLines (run.err.trimEnd()).size(), 1) << run.err;

                if (tooLargeForTheRenderer)
                    EXPECT_TRUE (run.err.contains ("is too large")) << run.err;
                else
                    EXPECT_TRUE (run.err.contains ("is not a Korvane patch: ") && run.err.contains (c.reason)) << run.err;

                EXPECT_FALSE (wav.exists());
            }
            else
            {
                EXPECT_EQ (run.exitCode, 0) << run.err;
                EXPECT_TRUE (run.out.contains ("peak_dbfs=")) << run.out;
            }

            wav.deleteFile();
        }
    }
}

// A DAW restoring a broken project may have none of the program's windows
// open; a message box from the plug-in's own message thread brought the test
// host down. The plug-in formats refuse the state just as quietly as firmly:
// no box, the sound untouched, the details in the log.
TEST_F (HostileDocuments, APluginRefusesHostStateWithoutAMessageBox)
{
    for (const auto format : { juce::AudioProcessor::wrapperType_VST3, juce::AudioProcessor::wrapperType_LV2 })
    {
        juce::AudioProcessor::setTypeOfNextNewPlugin (format);
        kvAP p;
        juce::AudioProcessor::setTypeOfNextNewPlugin (juce::AudioProcessor::wrapperType_Undefined);
        ASSERT_EQ (p.wrapperType, format);

        const auto before = p.buildPatchDataString();
        const auto state = hostStateWithText (withInside (nested (100)));
        notices.clear();
        p.setStateInformation (state.getData(), (int) state.getSize());

        EXPECT_TRUE (notices.empty());
        EXPECT_EQ (p.buildPatchDataString(), before);
        EXPECT_TRUE (p.bugReporter.log.contains ("setStateInformation Bug"));
    }

    // The standalone app still says it.
    juce::AudioProcessor::setTypeOfNextNewPlugin (juce::AudioProcessor::wrapperType_Standalone);
    kvAP app;
    juce::AudioProcessor::setTypeOfNextNewPlugin (juce::AudioProcessor::wrapperType_Undefined);
    const auto state = hostStateWithText (withInside (nested (100)));
    app.setStateInformation (state.getData(), (int) state.getSize());
    ASSERT_EQ (notices.size(), 1u);
    EXPECT_EQ (notices[0].title, "Uhh..");
    EXPECT_EQ (notices[0].text, "There was an issue setting state data.");
}

// Host state has no file size to bound it; past a size far above anything
// the program writes, it is refused before the parser spends time on it.
TEST_F (HostileDocuments, HostStateAboveTheSizeBoundIsRefused)
{
    for (const auto& [extra, accepted] : { std::pair { 0, true }, { 1, false } })
    {
        const auto text = withName (std::string ((size_t) kvAP::maxHostStateTextBytes - freshDocument().size() + 7 + (size_t) extra, 'n'));
        ASSERT_EQ ((int) text.size(), kvAP::maxHostStateTextBytes + extra);

        kvAP p;
        const auto state = hostStateWithText (text);
        notices.clear();
        p.setStateInformation (state.getData(), (int) state.getSize());
        EXPECT_EQ (notices.empty(), accepted) << text.size();
        EXPECT_EQ (p.patchName.length() > 1000, accepted);
    }
}

// Whatever the program accepts it can save and load again: writing a
// document back adds a PARAM for every parameter, the uiState child and ten
// root attributes, so a document must leave room for them within the limits.
TEST_F (HostileDocuments, AnAcceptedDocumentSavesAndLoadsAgain)
{
    using Limits = OAXmlTools::Limits;
    const auto roomForTheProgram = 80 + 1;

    // The root is an element too; the cutoff PARAM is one of the program's own.
    const auto elementsAtTheLimit = Limits::maxElements - 1 - roomForTheProgram;
    const auto rootAttributesAtTheLimit = Limits::maxAttributesPerElement - 10;

    auto documentWith = [] (int extraElements, int rootAttributes)
    {
        std::string text = "<state";
        for (int i = 0; i < rootAttributes; ++i)
            text += " x" + std::to_string (i) + "=\"\"";
        return text + "><PARAM id=\"cutoff\" value=\"0.4\"/>" + repeated ("<e/>", extraElements) + "</state>";
    };

    struct Case { const char* what; std::string text; bool accepted; };
    const Case cases[] {
        { "elements up to the room left",   documentWith (elementsAtTheLimit, 0),            true },
        { "one element more",               documentWith (elementsAtTheLimit + 1, 0),        false },
        { "root attributes up to the room", documentWith (0, rootAttributesAtTheLimit),      true },
        { "one root attribute more",        documentWith (0, rootAttributesAtTheLimit + 1),  false },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        ASSERT_TRUE (OAXmlTools::isSafeToParse (c.text.data(), (int) c.text.size()));

        kvAP p;
        const auto state = hostStateWithText (c.text);
        notices.clear();
        p.setStateInformation (state.getData(), (int) state.getSize());
        EXPECT_EQ (notices.empty(), c.accepted);
        EXPECT_EQ (p.replaceState (juce::String (c.text)).wasOk(), c.accepted);

        if (! c.accepted)
            continue;

        EXPECT_NEAR (p.getParamValue ("cutoff"), 0.4f, 1.0e-6f);

        // The editor adds its uiState child when it opens.
        if (! p.apvts.state.getChildWithName ("uiState").isValid())
            p.apvts.state.appendChild (juce::ValueTree ("uiState"), nullptr);

        juce::MemoryBlock saved;
        p.getStateInformation (saved);
        kvAP again;
        notices.clear();
        again.setStateInformation (saved.getData(), (int) saved.getSize());
        EXPECT_TRUE (notices.empty()) << again.replaceState (p.buildPatchDataString()).getErrorMessage();
        EXPECT_NEAR (again.getParamValue ("cutoff"), 0.4f, 1.0e-6f);
    }
}

// The settings file is read at every start: a hostile one must neither crash
// the program nor stop it from starting. A refused file gives the defaults,
// as an unreadable one does.
TEST_F (HostileDocuments, ASettingsFileThatIsRefusedGivesTheDefaults)
{
    const std::string declaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n\r\n";
    const std::string open = "<OrbelAudioSettings updates=\"false\" motdTag=\"t9\">";
    const std::string close = "</OrbelAudioSettings>";
    std::string manyAttributes = "<OrbelAudioSettings updates=\"false\" motdTag=\"t9\"";
    for (int i = 0; i < 300; ++i)
        manyAttributes += " x" + std::to_string (i) + "=\"\"";

    struct Case { const char* what; std::string text; bool read; };
    const Case cases[] {
        { "nesting 32",                  declaration + open + nested (31) + close,                       true },
        { "nesting 33",                  declaration + open + nested (32) + close,                       false },
        { "nesting 10 000",              declaration + open + nested (9999) + close,                     false },
        { "40 000 open tags",            declaration + open + repeated ("<a>", 40000),                   false },
        { "nesting 100 000 (too large)", declaration + open + nested (99999) + close,                    false },
        { "100 000 children (too large)", declaration + open + repeated ("<a/>", 100000) + close,        false },
        { "300 attributes",              declaration + manyAttributes + "/>",                            false },
        { "a document type",             declaration + "<!DOCTYPE x>" + open + close,                    false },
        { "a value of 200 KB",           declaration + "<OrbelAudioSettings updates=\"false\" motdTag=\"t9\" initLog=\""
                                             + std::string (200 * 1024, 'v') + "\"/>",                   true },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        writeBytes (settingsFile(), c.text.data(), c.text.size());

        kvAP p;
        EXPECT_EQ (p.settings.values.at ("updates"), c.read ? "false" : "true");
        EXPECT_EQ (p.settings.values.at ("motdTag"), c.read ? "t9" : "x");
        EXPECT_EQ (p.settings.values.at ("patchLocation"), patchFolder().getFullPathName());
        EXPECT_EQ (p.fileIO.productFolder, patchFolder());

        // And it still plays.
        p.setRateAndBufferSizeDetails (48000.0, 512);
        p.prepareToPlay (48000.0, 512);
        juce::AudioBuffer<float> block (2, 512);
        juce::MidiBuffer midi;
        midi.addEvent (juce::MidiMessage::noteOn (1, 57, (juce::uint8) 100), 0);
        block.clear();
        p.processBlock (block, midi);
        EXPECT_TRUE (AudioAnalysis::allFinite (block.getReadPointer (0), 512));
        EXPECT_GT (block.getMagnitude (0, 0, 512), 0.0f);
    }
}

//==============================================================================
// The scan in front of the parser has to read the markup exactly as the
// parser does: where the two could disagree about where a tag or a quoted
// value ends, the parser could recurse through levels the scan never counted.
TEST (XmlScan, TakesWhatTheProgramWritesAndMeasuresItAsTheParserReadsIt)
{
    kvAP writer;
    writer.patchName = juce::String::fromUTF8 ("Odd <&> \"n\" 'q' \xc3\xa9 \xf0\x9f\x8e\xb9 \t\r\n");
    const auto ownDocument = writer.buildPatchDataString();

    struct Case { const char* what; std::string text; const char* reason; };
    const Case cases[] {
        // Accepted.
        { "the program's own document, odd characters escaped", ownDocument.toStdString(),               "" },
        { "the built-in patch",                                 kvAP::getDefaultPatchXml(),               "" },
        { "32 levels",                                          "<r>" + nested (31) + "</r>",            "" },
        { "32 levels of self-closing elements",                 "<r>" + repeated ("<a>", 30) + "<b/>" + repeated ("</a>", 30) + "</r>", "" },
        { "many siblings do not add depth",                     "<r>" + repeated ("<a></a><b/>", 500) + "</r>", "" },
        { "256 attributes",                                     [] { std::string s = "<r"; for (int i = 0; i < 256; ++i) s += " a" + std::to_string (i) + "='1'"; return s + "/>"; }(), "" },
        { "a name of 256 characters",                           "<" + std::string (256, 'n') + "/>",     "" },
        { "single quotes, spaces around =, no space between",   "<r a = 'x' b=\"y\"c='z'/>",             "" },
        { "markup characters inside quoted values",             "<r a=\"<b><c>\" b='\"/>' c=\"'>\"/>", "" },
        { "comments and CDATA holding markup",                  "<r><!-- <a><a> --><![CDATA[<a><a>]]></r>", "" },
        { "entities in any letter case and character numbers",  "<r a=\"&AMP;&Lt;&gt;&quot;&apos;&#233;&#x1F3B9;\">&amp;&#10;</r>", "" },
        { "4096 references in each of two values",              "<r a=\"" + repeated ("&amp;", 4096) + "\" b='" + repeated ("&lt;x", 4096) + "'/>", "" },
        { "whatever follows the root is never read",            "<r/>" + repeated ("<a>", 100) + "&bad",  "" },
        { "a text cut off inside the root",                     "<r><a>" + repeated ("<b/>", 10),       "" },
        { "no element at all",                                  "just text " + repeated ("<a>", 100),   "" },

        // Refused.
        { "33 levels",                                          "<r>" + nested (32) + "</r>",            "nested more than 32 levels deep" },
        { "33 levels with the last one self-closing",           "<r>" + repeated ("<a>", 31) + "<b/>" + repeated ("</a>", 31) + "</r>", "nested more than 32 levels deep" },
        { "257 attributes",                                     [] { std::string s = "<r"; for (int i = 0; i < 257; ++i) s += " a" + std::to_string (i) + "='1'"; return s + "/>"; }(), "more than 256 attributes" },
        { "a name of 257 characters",                           "<" + std::string (257, 'n') + "/>",     "name longer than 256 characters" },
        { "an attribute name of 257 characters",                "<r " + std::string (257, 'n') + "='1'/>", "name longer than 256 characters" },
        { "4097 references in one value",                       "<r a=\"" + repeated ("&#65;", 4097) + "\"/>", "more than 4096 character references" },
        { "131073 elements",                                    "<r>" + repeated ("<a/>", 131072) + "</r>", "more than 131072 elements" },
        { "a document type",                                    "<!DOCTYPE r><r/>",                     "declares a document type" },
        { "a document type after the declaration and a comment", "<?xml version=\"1.0\"?><!-- c --><!DOCTYPE r><r/>", "declares a document type" },
        { "a processing instruction inside",                    "<r><?x?></r>",                          "processing instruction" },

        // Refused because the parser would read them differently from the
        // scan; each one hides nesting from a scan that took it.
        { "a space after '<'",                                  "< r>" + repeated ("<a>", 40),           "not well-formed" },
        { "a name with a non-ASCII letter",                     "<r\xc3\xa9 x=\"" + repeated ("<a>", 40) + "\"/>", "not well-formed" },
        { "a non-ASCII space in a tag",                         "<r><a\xc2\xa0 x=\"" + repeated ("<b>", 40) + "\"/></r>", "not well-formed" },
        { "an unquoted value",                                  "<r a=1>" + repeated ("<b>", 40),        "not well-formed" },
        { "a comment inside a tag",                             "<r <!-- x --> a='1'/>",                 "not well-formed" },
        { "a named entity without definition",                  "<r a=\"&x;\"/>",                        "not well-formed" },
        { "an ampersand on its own",                            "<r a=\"Rock & Roll\"/>",                "not well-formed" },
        { "a character number eating the quote",                "<r><a x=\"&#12\">" + repeated ("<b>", 40) + "\"/></r>", "not well-formed" },
        { "a hex number eating the quote",                      "<r><a x=\"&#x41\">" + repeated ("<b>", 40) + "\"/></r>", "not well-formed" },
        { "a character number of 13 digits",                    "<r a=\"&#1234567890123;\"/>",          "not well-formed" },
        { "character zero",                                     "<r a=\"&#0;\"/>",                       "not well-formed" },
        { "a surrogate",                                        "<r a=\"&#xD800;\"/>",                   "not well-formed" },
        { "beyond Unicode",                                     "<r a=\"&#x110000;\"/>",                 "not well-formed" },
        { "an unterminated comment",                            "<r><!-- " + repeated ("<a>", 40),       "not well-formed" },
        { "an unterminated quote",                              "<r a=\"" + repeated ("<a>", 40),        "not well-formed" },
        { "some other declaration inside",                      "<r><!ELEMENT r ANY></r>",              "not well-formed" },
        { "text that is not UTF-8",                             "<r a=\"\xff\"/>",                       "not UTF-8" },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        const auto problem = OAXmlTools::checkBeforeParsing (c.text.data(), (int) c.text.size());
        EXPECT_EQ (problem.isEmpty(), std::strlen (c.reason) == 0) << problem;
        EXPECT_TRUE (problem.contains (c.reason)) << problem;

        if (problem.isEmpty())
        {
            // What the scan let through parses no deeper than it measured.
            std::function<int (const juce::XmlElement&)> depthOf = [&] (const juce::XmlElement& e)
            {
                int deepest = 0;
                for (auto* child : e.getChildIterator())
                    deepest = juce::jmax (deepest, depthOf (*child));
                return deepest + (e.isTextElement() ? 0 : 1);
            };

            if (auto xml = OAXmlTools::parse (juce::String::fromUTF8 (c.text.data(), (int) c.text.size())))
            {
                EXPECT_LE (depthOf (*xml), OAXmlTools::Limits::maxDepth);
            }
        }
    }

    // The scan stops at the first zero byte, as the parser does.
    const std::string withZero = std::string ("<r/>") + '\0' + repeated ("<a>", 100);
    EXPECT_TRUE (OAXmlTools::isSafeToParse (withZero.data(), (int) withZero.size()));
    const std::string zeroInside = std::string ("<r>") + '\0' + "</r>";
    EXPECT_TRUE (OAXmlTools::isSafeToParse (zeroInside.data(), (int) zeroInside.size()));
}

//==============================================================================
// Automation, a control surface or a host can hand the parameters a NaN. It
// changes nothing: not the parameter, not the engine, not the sound. The
// framework clamps an infinity to the end of the range before any of the
// program's code sees it, as it clamps every value outside 0..1; the
// listener itself ignores anything that is not finite.
TEST (NonFiniteValues, AutomationWithANonFiniteValueChangesNothing)
{
    constexpr auto nan = std::numeric_limits<float>::quiet_NaN();
    constexpr auto inf = std::numeric_limits<float>::infinity();

    ProcessorRig rig;
    auto& p = rig.proc;
    const auto reference = soundOf (rig);
    ASSERT_TRUE (reference.finite);

    const char* const ids[] = { "cutoff", "res", "masterVol", "limiter", "fx_overdrive", "synth1_voices",
                                "synth1_unison", "synth1_detune", "synth1_volume", "lfo1_rate", "env1_attack", "adsrTime" };

    for (auto* id : ids)
    {
        SCOPED_TRACE (id);
        auto* param = p.apvts.getParameter (id);
        param->setValueNotifyingHost (0.3f);
        const auto before = param->getValue();
        const auto document = p.buildPatchDataString();
        const auto coefficients = p.computeFilterCoefficients (48000.0);

        for (const auto bad : { nan, -nan })
        {
            param->setValueNotifyingHost (bad); // as the plug-in wrappers pass host automation on
            EXPECT_EQ (param->getValue(), before);
            EXPECT_EQ (p.getParamValue (id), before);

            param->setValue (bad);
            EXPECT_EQ (param->getValue(), before);
        }

        for (const auto bad : { nan, inf, -inf })
            p.parameterChanged (id, bad); // the listener itself

        EXPECT_EQ (p.computeFilterCoefficients (48000.0), coefficients);
        EXPECT_EQ (p.buildPatchDataString(), document);

        // Out of range, infinities included: clamped.
        for (const auto& [value, clamped] : { std::pair { inf, 1.0f }, { 1.5f, 1.0f }, { -inf, 0.0f }, { -0.5f, 0.0f } })
        {
            param->setValueNotifyingHost (value);
            EXPECT_EQ (param->getValue(), clamped);
            EXPECT_EQ (p.getParamValue (id), clamped);
        }

        param->setValueNotifyingHost (param->getDefaultValue());
    }

    p.updateAllParams();
    const auto after = soundOf (rig);
    EXPECT_TRUE (after.finite);
    EXPECT_NEAR (after.rmsDb, reference.rmsDb, 0.5);
}

// The guard sits in the parameters' snapping; for every finite value it must
// snap exactly as the framework does, or saved patches would change.
TEST (NonFiniteValues, FiniteValuesSnapBitForBitAsBefore)
{
    const juce::NormalisableRange<float> plain (0.0f, 1.0f, 0.001f, 1.0f);
    juce::AudioParameterFloat reference (juce::ParameterID ("r", 0), "r", plain, 0.5f);

    kvAP p;
    auto* guarded = dynamic_cast<juce::AudioParameterFloat*> (p.apvts.getParameter ("cutoff"));
    ASSERT_NE (guarded, nullptr);
    EXPECT_EQ (guarded->range.interval, plain.interval);

    // The framework's parameter interface, as hosts see it.
    juce::AudioProcessorParameter& a = *guarded;
    juce::AudioProcessorParameter& b = reference;
    EXPECT_EQ (a.getText (0.25f, 0), b.getText (0.25f, 0));
    EXPECT_EQ (a.getNumSteps(), b.getNumSteps());

    juce::Random random (7);

    for (int i = 0; i < 200000; ++i)
    {
        const auto v = i < 100000 ? (float) i / 99999.0f : random.nextFloat() * 1.2f - 0.1f;
        const auto snapped = guarded->range.snapToLegalValue (v);
        const auto plainSnapped = plain.snapToLegalValue (v);
        ASSERT_EQ (std::memcmp (&snapped, &plainSnapped, sizeof (float)), 0) << v;

        a.setValue (v);
        b.setValue (v);
        ASSERT_EQ (guarded->get(), reference.get()) << v;
        ASSERT_EQ (a.getValue(), b.getValue()) << v;
    }
}

//==============================================================================
namespace
{
    juce::AudioBuffer<float> blockOf (std::initializer_list<float> left, std::initializer_list<float> right)
    {
        juce::AudioBuffer<float> b (2, (int) left.size());
        int i = 0;
        for (auto x : left)
            b.setSample (0, i++, x);
        i = 0;
        for (auto x : right)
            b.setSample (1, i++, x);
        return b;
    }

    bool sameBits (const juce::AudioBuffer<float>& a, const juce::AudioBuffer<float>& b)
    {
        for (int c = 0; c < a.getNumChannels(); ++c)
            if (std::memcmp (a.getReadPointer (c), b.getReadPointer (c), sizeof (float) * (size_t) a.getNumSamples()) != 0)
                return false;

        return true;
    }
}

// The guard never changes a block of finite samples, whatever they hold, and
// silences the whole block (all output channels) for one bad sample anywhere.
TEST (OutputStageGuard, LeavesFiniteBlocksBitForBitAndSilencesTheOthers)
{
    constexpr auto nan = std::numeric_limits<float>::quiet_NaN();
    constexpr auto inf = std::numeric_limits<float>::infinity();
    constexpr auto big = std::numeric_limits<float>::max();
    constexpr auto denormal = std::numeric_limits<float>::denorm_min();

    std::vector<juce::String> lines;
    OutputGuard guard ([&] (const juce::String& line) { lines.push_back (line); });

    // A real block of the instrument, and extremes.
    ProcessorRig rig;
    rig.set ("fx_overdrive", 0.3f);
    rig.set ("res", 0.9f);
    const auto played = rig.renderHeld ({ 40, 52, 67 }, 512);

    const juce::AudioBuffer<float> finite[] {
        played,
        blockOf ({ 0.0f, -0.0f, denormal, -denormal, big, -big, 1.0e-30f }, { 1.0f, -1.0f, 0.5f, 3.0e38f, -1.0e-38f, 2.0f, -7.0f }),
    };

    for (const auto& original : finite)
    {
        auto copy = original;
        EXPECT_FALSE (guard.silenceIfNotFinite (copy, 2));
        EXPECT_TRUE (sameBits (copy, original));
    }

    struct Bad { const char* what; int channel, index; float value; };
    const Bad bad[] {
        { "NaN first",         0, 0, nan },
        { "+inf in the middle", 0, 3, inf },
        { "-inf last, right",  1, 6, -inf },
        { "negative NaN",      1, 2, -nan },
    };

    for (const auto& b : bad)
    {
        SCOPED_TRACE (b.what);
        auto block = blockOf ({ 0.1f, 0.2f, 0.3f, 0.4f, 0.5f, 0.6f, 0.7f }, { -0.1f, -0.2f, -0.3f, -0.4f, -0.5f, -0.6f, -0.7f });
        block.setSample (b.channel, b.index, b.value);
        EXPECT_TRUE (guard.silenceIfNotFinite (block, 2));
        EXPECT_EQ (block.getMagnitude (0, block.getNumSamples()), 0.0f);
    }

    EXPECT_EQ (guard.getSilencedBlocks(), 4u);

    // Channels beyond the output are not the guard's business.
    auto wide = juce::AudioBuffer<float> (3, 4);
    wide.clear();
    wide.setSample (2, 1, nan);
    EXPECT_FALSE (guard.silenceIfNotFinite (wide, 2));

    // One log line per report that has something new.
    guard.reportNewOccurrences();
    guard.reportNewOccurrences();
    ASSERT_EQ (lines.size(), 1u);
    EXPECT_EQ (lines[0], "Output Guard: 4 blocks with a non-finite sample went out as silence (4 since start)");

    auto one = blockOf ({ nan }, { 0.0f });
    guard.silenceIfNotFinite (one, 2);
    guard.reportNewOccurrences();
    ASSERT_EQ (lines.size(), 2u);
    EXPECT_EQ (lines[1], "Output Guard: 1 block with a non-finite sample went out as silence (5 since start)");
}

// A non-finite sample injected into the chain: that block is silence, the
// next one sounds as it would have. Each case poisons a stage whose state
// would otherwise carry the NaN into every later block.
TEST (OutputStageGuard, TheSoundComesBackOnTheBlockAfter)
{
    constexpr auto nan = std::numeric_limits<float>::quiet_NaN();
    constexpr int blockSize = 512, blocksBefore = 6, blocksAfter = 4;

    struct Case { const char* what; bool overdrive, limiter, inDcBlocker; };
    const Case cases[] {
        { "the filter",                         false, false, false },
        { "the filter, limiter on",             false, true,  false },
        { "the overdrive's DC blocker",         true,  false, true },
        { "the DC blocker, limiter on",         true,  true,  true },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        ProcessorRig poisoned (48000.0, blockSize), reference (48000.0, blockSize);
        poisoned.allowedSilencedBlocks = 1;

        for (auto* rig : { &poisoned, &reference })
        {
            rig->set ("fx_overdrive", c.overdrive ? 0.2f : 0.0f);
            rig->set ("limiter", c.limiter ? 1.0f : 0.0f);
        }

        juce::AudioBuffer<float> a (2, blockSize), b (2, blockSize);
        juce::MidiBuffer midi;

        for (int block = 0; block < blocksBefore + 1 + blocksAfter; ++block)
        {
            midi.clear();

            if (block == 0)
                midi.addEvent (juce::MidiMessage::noteOn (1, 57, (juce::uint8) 100), 0);

            auto& p = poisoned.proc;

            if (block == blocksBefore)
            {
                // b0 = NaN: the stage's output and state turn NaN at once.
                const std::array<float, 6> broken { nan, 0.0f, 0.0f, 1.0f, 0.0f, 0.0f };

                if (c.inDcBlocker)
                    *p.overdriveChain.get<kvAP::dcBlockerIndex>().state = broken;
                else
                    *p.filter.state = broken;
            }

            a.clear();
            b.clear();
            p.processBlock (a, midi);
            reference.proc.processBlock (b, midi);

            if (block == blocksBefore)
            {
                EXPECT_EQ (a.getMagnitude (0, blockSize), 0.0f);
                EXPECT_EQ (p.outputGuard.getSilencedBlocks(), 1u);

                // Whatever broke is mended by the time the next block starts.
                if (c.inDcBlocker)
                    *p.overdriveChain.get<kvAP::dcBlockerIndex>().state
                        = juce::dsp::IIR::ArrayCoefficients<float>::makeHighPass (48000.0, 20.0f);
                else
                    p.updateFilter();
            }
            else if (block > blocksBefore)
            {
                SCOPED_TRACE ("block " + juce::String (block));
                EXPECT_TRUE (AudioAnalysis::allFinite (a.getReadPointer (0), blockSize));
                EXPECT_TRUE (AudioAnalysis::allFinite (a.getReadPointer (1), blockSize));
                const auto got = AudioAnalysis::rms (a.getReadPointer (0), blockSize);
                const auto want = AudioAnalysis::rms (b.getReadPointer (0), blockSize);
                ASSERT_GT (want, 0.0);
                EXPECT_NEAR (20.0 * std::log10 (got / want), 0.0, 1.0);
            }
        }

        EXPECT_EQ (poisoned.proc.outputGuard.getSilencedBlocks(), 1u);

        // The message thread writes it into the log, once.
        poisoned.proc.outputGuard.reportNewOccurrences();
        poisoned.proc.outputGuard.reportNewOccurrences();
        const auto& log = poisoned.proc.bugReporter.log;
        EXPECT_EQ (log.indexOf ("Output Guard: "), log.lastIndexOf ("Output Guard: "));
        EXPECT_TRUE (log.contains ("Output Guard: 1 block with a non-finite sample went out as silence (1 since start)"));
    }
}
