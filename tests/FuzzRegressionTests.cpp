#include "../fuzz/FuzzHarness.h"
#include "diagnostics/Notices.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

namespace
{
    juce::File fixtureFolder (const char* target)
    {
        return juce::File (KORVANE_TEST_DATA_DIR).getChildFile ("fuzz").getChildFile (target);
    }

    /** Collects the notices shown while it lives. */
    struct RecordedNotices
    {
        RecordedNotices()  { Notices::setHandler ([this] (const Notice& n) { notices.push_back (n); }); }
        ~RecordedNotices() { Notices::setHandler (Notices::toStandardError()); }

        std::vector<Notice> notices;
    };

    using FuzzHarness::hostStateWithText;

    /** The document a fresh processor saves, on one line and without declaration, with "@NAME@" as its patch name. */
    std::string freshDocument()
    {
        kvAP writer;
        writer.patchName = "@NAME@";
        return writer.buildPatchData()->toString (juce::XmlElement::TextFormat().singleLine().withoutHeader()).toStdString();
    }

    std::string replaced (std::string text, const std::string& what, const std::string& with)
    {
        const auto at = text.find (what);
        EXPECT_NE (at, std::string::npos) << what;
        return at == std::string::npos ? text : text.replace (at, what.size(), with);
    }

    /** Runs check in a forked child and reports whether it returned true
        before the deadline; a child still running then is killed. Only for
        inputs that once made the framework's parser loop forever, so that the
        test fails instead of hanging. The bound is generous, not a timing. */
    bool returnsTrueInChildProcess (const std::function<bool()>& check, int seconds = 30)
    {
        const auto pid = fork();

        if (pid == 0)
            _exit (check() ? 0 : 1);

        if (pid < 0)
            return false;

        const auto giveUpAt = juce::Time::getMillisecondCounter() + (juce::uint32) seconds * 1000;
        int status = 0;

        while (waitpid (pid, &status, WNOHANG) == 0)
        {
            if (juce::Time::getMillisecondCounter() > giveUpAt)
            {
                kill (pid, SIGKILL);
                waitpid (pid, &status, 0);
                ADD_FAILURE() << "still running after " << seconds << " s";
                return false;
            }

            juce::Thread::sleep (5);
        }

        return WIFEXITED (status) && WEXITSTATUS (status) == 0;
    }
}

// Every input that once broke a fuzz target (tests/data/fuzz/<target>/),
// replayed through the target's own harness on a fresh processor. Under
// `make test-asan` this also catches a return of the memory errors they caused.
TEST (FuzzRegression, SavedInputsNoLongerBreakTheirTargets)
{
    using Run = std::function<juce::String (const std::uint8_t*, size_t)>;
    const std::pair<const char*, Run> targets[] {
        { "patch_text", [] (const std::uint8_t* d, size_t n) { return FuzzHarness::runPatchText (*FuzzHarness::makePreparedProcessor(), d, n); } },
        { "host_state", [] (const std::uint8_t* d, size_t n) { return FuzzHarness::runHostState (*FuzzHarness::makePreparedProcessor(), d, n); } },
        { "motd_reply", FuzzHarness::runMotdReply },
        { "settings_text", FuzzHarness::runSettingsText },
        { "midi_file",  [] (const std::uint8_t* d, size_t n) { return FuzzHarness::runMidiFile (*FuzzHarness::makePreparedProcessor(), d, n); } },
    };

    int replayed = 0;

    for (const auto& [target, run] : targets)
    {
        auto files = fixtureFolder (target).findChildFiles (juce::File::findFiles, false);
        files.sort();

        for (const auto& file : files)
        {
            juce::MemoryBlock input;
            ASSERT_TRUE (file.loadFileAsData (input));
            EXPECT_EQ (run (static_cast<const std::uint8_t*> (input.getData()), input.getSize()), juce::String())
                << target << "/" << file.getFileName();
            ++replayed;
        }
    }

    EXPECT_GT (replayed, 0);
}

// Host state whose text is not UTF-8 is refused before the framework's XML
// parser sees it (the parser read past the end of a text cut inside a
// multi-byte sequence); valid non-ASCII text still loads.
TEST (FuzzRegression, HostStateTextMustBeUtf8)
{
    const auto document = freshDocument();
    const auto withName = [&] (const std::string& name) { return replaced (document, "@NAME@", name); };

    struct Case { const char* what; std::string text; bool accepted; };
    const Case cases[] {
        { "a byte 0xff in the patch name",                withName ("Bad\xff" "name"),                   false },
        { "a lone continuation byte",                     withName ("Bad\x80" "name"),                   false },
        { "a three-byte sequence cut after two bytes",    withName ("Bad\xe2\x82" "name"),               false },
        { "text ending inside a sequence",                withName ("Init") + "\xf0\x9f",                false },
        { "valid two- and three-byte characters",         withName ("Caf\xc3\xa9 \xe2\x82\xac"),         true },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        auto p = FuzzHarness::makePreparedProcessor();
        p->patchName = "Before";
        const auto before = p->buildPatchDataString();
        const auto state = hostStateWithText (c.text);

        RecordedNotices recorded;
        p->setStateInformation (state.getData(), (int) state.getSize());

        if (c.accepted)
        {
            EXPECT_TRUE (recorded.notices.empty());
            EXPECT_EQ (p->patchName, juce::String::fromUTF8 ("Caf\xc3\xa9 \xe2\x82\xac"));
        }
        else
        {
            EXPECT_EQ (recorded.notices.size(), 1u);
            for (const auto& notice : recorded.notices)
                EXPECT_EQ (notice.text, "There was an issue setting state data.");
            EXPECT_EQ (p->patchName, "Before");
            EXPECT_EQ (p->buildPatchDataString(), before);
        }
    }
}

// The framework's XML parser loops forever on a processing instruction that is
// followed by text inside an element ("<t>s<?x?>s"). Patch files and host state
// are refused when "<?" appears anywhere but in the leading declaration.
TEST (FuzzRegression, AProcessingInstructionBeforeTextIsRefusedWithoutHanging)
{
    const auto document = replaced (freshDocument(), "@NAME@", "Init");
    const auto withInstruction = replaced (document, "<PARAM ", "<?x?>text<PARAM ");
    juce::MemoryBlock minimal;
    ASSERT_TRUE (fixtureFolder ("patch_text").getChildFile ("processing-instruction-before-text-minimal.kvn").loadFileAsData (minimal));

    struct Case { const char* what; std::string text; };
    const Case cases[] {
        { "the smallest input found", minimal.toString().toStdString() },
        { "an instruction and text inside a patch", withInstruction },
        { "the same after a declaration", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n\r\n" + withInstruction },
    };

    auto p = FuzzHarness::makePreparedProcessor();
    const auto before = p->buildPatchDataString();

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        const auto text = juce::String::fromUTF8 (c.text.data(), (int) c.text.size());

        EXPECT_TRUE (returnsTrueInChildProcess ([&] { return p->replaceState (text).failed(); }));

        const auto state = hostStateWithText (c.text);
        EXPECT_TRUE (returnsTrueInChildProcess ([&]
        {
            RecordedNotices recorded;
            p->setStateInformation (state.getData(), (int) state.getSize());
            return recorded.notices.size() == 1 && p->buildPatchDataString() == before;
        }));
    }
}

// The settings file is read with the same parser at every start: the same
// text there hung the program before its window opened. Such a file now
// counts as unreadable (the defaults, as for any broken settings file).
TEST (FuzzRegression, ASettingsFileWithAProcessingInstructionGivesTheDefaults)
{
    const auto file = OAFileIO().makerFolder.getChildFile ("Korvane.oasettings");
    ASSERT_TRUE (file.getFullPathName().startsWith ("/tmp/korvane-test-home-"));
    file.getParentDirectory().createDirectory();
    ASSERT_TRUE (file.replaceWithText ("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n\r\n"
                                       "<OrbelAudioSettings updates=\"false\" motdTag=\"t9\">s<?x?>s</OrbelAudioSettings>\r\n"));

    EXPECT_TRUE (returnsTrueInChildProcess ([]
    {
        kvAP p;
        return p.settings.values.at ("updates") == "true" && p.settings.values.at ("motdTag") == "x";
    }));

    // The same settings without the instruction are read.
    ASSERT_TRUE (file.replaceWithText ("<OrbelAudioSettings updates=\"false\" motdTag=\"t9\"/>\r\n"));
    {
        kvAP p;
        EXPECT_EQ (p.settings.values.at ("updates"), "false");
        EXPECT_EQ (p.settings.values.at ("motdTag"), "t9");
    }

    file.deleteFile();
}

// What the check above must still let through: the declaration the program
// writes, with or without a byte-order mark and leading blank lines, or none.
TEST (FuzzRegression, PatchDocumentsWithOrWithoutADeclarationStillLoad)
{
    const auto body = replaced (freshDocument(), "@NAME@", "Loaded");
    const std::string declaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>";

    // Host state never starts with a byte-order mark, and the framework's
    // unpacking would not skip one.
    struct Case { const char* what; std::string text; bool asHostState; };
    const Case cases[] {
        { "no declaration",                      body,                                                 true },
        { "the program's declaration",           declaration + "\r\n\r\n" + body,                    true },
        { "a byte-order mark and blank lines",   "\xef\xbb\xbf\r\n  " + declaration + "\r\n" + body,  false },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        auto p = FuzzHarness::makePreparedProcessor();
        const auto text = juce::String::createStringFromData (c.text.data(), (int) c.text.size());
        EXPECT_TRUE (p->replaceState (text).wasOk());

        if (c.asHostState)
        {
            auto q = FuzzHarness::makePreparedProcessor();
            const auto state = hostStateWithText (c.text);
            q->setStateInformation (state.getData(), (int) state.getSize());
            EXPECT_EQ (q->patchName, "Loaded");
        }
    }
}

// An attribute named twice is not XML. The framework's value tree kept both,
// read the first and wrote the last, so such a document came back changed
// after a save and a reload (another parameter's value, or a default). It is
// refused as a patch file and as host state.
TEST (FuzzRegression, DocumentsThatNameAnAttributeTwiceAreRefused)
{
    const auto document = replaced (freshDocument(), "@NAME@", "Twice");

    struct Case { const char* what; std::string text; };
    const Case cases[] {
        { "a parameter id",  replaced (document, "<PARAM id=\"synth2_detune\" value=\"0.0\"/>",
                                                 "<PARAM id=\"synth2_detune\" value=\"0.9\" id=\"synth1_voices\" value=\"1.0\"/>") },
        { "a value",         replaced (document, "<PARAM id=\"cutoff\" value=", "<PARAM id=\"cutoff\" value=\"0.1\" value=") },
        { "a root attribute", replaced (document, "patchName=\"Twice\"", "patchName=\"Twice\" patchName=\"Again\"") },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        auto p = FuzzHarness::makePreparedProcessor();
        p->patchName = "Before";
        const auto before = p->buildPatchDataString();

        EXPECT_TRUE (p->replaceState (juce::String::fromUTF8 (c.text.data(), (int) c.text.size())).failed());
        EXPECT_EQ (p->buildPatchDataString(), before);

        const auto state = hostStateWithText (c.text);
        RecordedNotices recorded;
        p->setStateInformation (state.getData(), (int) state.getSize());
        EXPECT_EQ (recorded.notices.size(), 1u);
        EXPECT_EQ (p->buildPatchDataString(), before);
    }
}
