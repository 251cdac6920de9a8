#include "FileTestSupport.h"
#include "ProcessorFixture.h"
#include "diagnostics/CrashHandler.h"
#include "processor/PluginProcessor.h"

#include <juce_cryptography/juce_cryptography.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include <gtest/gtest.h>

#include <array>
#include <csignal>
#include <regex>
#include <thread>

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace juce
{
    // One step of the framework's message loop (its Linux run loop). The
    // library is built without modal loops, so runDispatchLoopUntil is not there.
    bool dispatchNextMessageOnSystemQueue (bool returnIfNoPendingMessages);
}

using namespace FileTests;

namespace
{
    /** No test run ever opens a file manager, whatever a test forgets. */
    struct HeadlessReveal : ::testing::Environment
    {
        void SetUp() override { BugReporter::setRevealHook ([] (const juce::File&) {}); }
    };

    [[maybe_unused]] auto* const headlessReveal = ::testing::AddGlobalTestEnvironment (new HeadlessReveal());

    struct LogEntry
    {
        juce::String time, label, md5, document;
    };

    /** The entries of a log part that starts with a separator. State
        entries carry an MD5 line and a document; others only a label. */
    std::vector<LogEntry> entriesOf (const juce::String& logPart)
    {
        std::vector<LogEntry> entries;
        const juce::String separator ("\r\n///////\r\n");
        auto rest = logPart;

        while (rest.startsWith (separator))
        {
            rest = rest.substring (separator.length());
            const auto next = rest.indexOf (separator);
            const auto body = next >= 0 ? rest.substring (0, next) : rest;
            rest = next >= 0 ? rest.substring (next) : juce::String();

            LogEntry entry;
            entry.time = body.upToFirstOccurrenceOf ("\r\n", false, false);
            auto text = body.fromFirstOccurrenceOf ("\r\n", false, false);
            entry.label = text.upToFirstOccurrenceOf ("\r\n", false, false);
            text = text.fromFirstOccurrenceOf ("\r\n", false, false);

            if (text.startsWith ("MD5: "))
            {
                entry.md5 = text.upToFirstOccurrenceOf ("\r\n", false, false).substring (5);
                entry.document = text.fromFirstOccurrenceOf ("\r\n", false, false).dropLastCharacters (2);
            }

            entries.push_back (entry);
        }

        return entries;
    }

    // The framework's time text: day and hour have one or two digits
    // ("5 Mar 2025 7:03:12"), minutes and seconds always two.
    const char* const timePattern = "[0-9]{1,2} [A-Z][a-z]{2} [0-9]{4} [0-9]{1,2}:[0-9]{2}:[0-9]{2}";

    class BugReport : public CleanHome {};

    //==============================================================================
    constexpr std::array<int, 6> crashSignals { SIGILL, SIGABRT, SIGBUS, SIGFPE, SIGSEGV, SIGSYS };

    /** How the process handles the six signals of a crash. */
    struct Dispositions
    {
        std::array<struct sigaction, crashSignals.size()> actions {};

        static Dispositions now()
        {
            Dispositions d;
            for (size_t i = 0; i < crashSignals.size(); ++i)
                ::sigaction (crashSignals[i], nullptr, &d.actions[i]);
            return d;
        }

        static void* handlerOf (const struct sigaction& a)
        {
            return (a.sa_flags & SA_SIGINFO) != 0 ? (void*) a.sa_sigaction : (void*) a.sa_handler;
        }

        bool operator== (const Dispositions& other) const
        {
            // The C library marks every action it sets with its SA_RESTORER
            // flag (0x04000000), so a restored default differs from one never set.
            constexpr int restorerFlag = 0x04000000;

            for (size_t i = 0; i < actions.size(); ++i)
                if (handlerOf (actions[i]) != handlerOf (other.actions[i])
                    || (actions[i].sa_flags & ~restorerFlag) != (other.actions[i].sa_flags & ~restorerFlag))
                    return false;
            return true;
        }

        bool allCaught() const
        {
            return std::all_of (actions.begin(), actions.end(), [] (const auto& a) {
                return handlerOf (a) != (void*) SIG_DFL && handlerOf (a) != (void*) SIG_IGN;
            });
        }
    };

    /** A processor as the given plug-in wrapper (or the standalone app) builds it. */
    std::unique_ptr<kvAP> makeProcessor (juce::AudioProcessor::WrapperType type)
    {
        juce::AudioProcessor::setTypeOfNextNewPlugin (type);
        auto proc = std::make_unique<kvAP>();
        juce::AudioProcessor::setTypeOfNextNewPlugin (juce::AudioProcessor::wrapperType_Undefined);
        return proc;
    }

    void prepare (kvAP& proc)
    {
        proc.setRateAndBufferSizeDetails (48000.0, 512);
        proc.prepareToPlay (48000.0, 512);
    }

    std::unique_ptr<kvAP> makeStandaloneProcessor()
    {
        return makeProcessor (juce::AudioProcessor::wrapperType_Standalone);
    }

    /** Runs what in a child of this process and tells how the child ended. A
        handler that hangs is ended by SIGALRM, which no case expects. */
    int statusOfChildThat (const std::function<void()>& what)
    {
        const auto child = ::fork();

        if (child == 0)
        {
            const struct rlimit noCore { 0, 0 };
            ::setrlimit (RLIMIT_CORE, &noCore);
            ::alarm (20);
            what();
            ::_exit (0);
        }

        int status = 0;
        ::waitpid (child, &status, 0);
        return status;
    }

    void writeToNowhere()
    {
        volatile int* volatile nowhere = nullptr; // both volatile, or the store is dropped
        *nowhere = 1;
    }

    /** Touches a mapped page of a file that has been cut short: a real SIGBUS. */
    void readPastTheEndOfAMappedFile()
    {
        const auto path = home().getChildFile ("mapped").getFullPathName();
        const auto fd = ::open (path.toRawUTF8(), O_RDWR | O_CREAT | O_TRUNC, 0600);
        if (fd < 0 || ::ftruncate (fd, 4096) != 0)
            return;
        auto* page = static_cast<volatile char*> (::mmap (nullptr, 4096, PROT_READ, MAP_SHARED, fd, 0));
        if (page == MAP_FAILED || ::ftruncate (fd, 0) != 0)
            return;
        [[maybe_unused]] const char c = page[0];
    }

    juce::File reportsFolder() { return patchFolder().getChildFile ("bugReports"); }

    juce::Array<juce::File> crashReports()
    {
        return reportsFolder().findChildFiles (juce::File::findFiles, false, "crash_report_*.kvnrep");
    }

    /** The standalone app ignores X errors (the framework installs a handler
        that does); a test process is no standalone app, and the C library's
        default handler would end it on the first error of a display without
        a window manager, where the framework asks for properties that only a
        window manager defines. */
    void ignoreXErrorsAsTheAppDoes()
    {
        using ErrorHandler = int (*) (void*, void*);
        using SetErrorHandler = ErrorHandler (*) (ErrorHandler);

        if (auto* x11 = ::dlopen ("libX11.so.6", RTLD_LAZY | RTLD_NOLOAD))
            if (auto set = reinterpret_cast<SetErrorHandler> (::dlsym (x11, "XSetErrorHandler")))
                set ([] (void*, void*) { return 0; });
    }

    /** Hands the message loop everything that waits in it. */
    void dispatchPendingMessages()
    {
        while (juce::dispatchNextMessageOnSystemQueue (true)) {}
    }
}

//==============================================================================
TEST_F (BugReport, HeaderComesFirstInOrderWithoutNames)
{
    kvAP proc;
    const auto& log = proc.bugReporter.log;
    const auto exe = juce::File::getSpecialLocation (juce::File::currentExecutableFile);

    const juce::StringArray expected {
        "```````",
        "Korvane Crash Report: ",
        "Version Number: 25.9.26",
        "Running At: " + exe.getFullPathName(),
        "App MD5: " + juce::MD5 (exe).toHexString(),
        "Is Standalone:0",
        "Host Description: ",
        "OS Name: " + juce::SystemStats::getOperatingSystemName(),
        "Is 64bit: ",
        "User Lang: " + juce::SystemStats::getUserLanguage(),
        "Device Description: ",
        "Device Manufacturer: ",
        "Num CPUs: " + juce::String (juce::SystemStats::getNumCpus()),
        "Num Physical CPUs: " + juce::String (juce::SystemStats::getNumPhysicalCpus()),
        "CPU Speed (mhz): ",
        "CPU Vendor: ",
        "CPU Model: ",
        "Ram (mb): " + juce::String (juce::SystemStats::getMemorySizeInMegabytes()),
        "Page Size: " + juce::String (juce::SystemStats::getPageSize()),
        "File System Tests: ",
        "```````",
    };

    // Nothing but the header yet.
    ASSERT_TRUE (log.endsWith ("```````\r\n"));
    EXPECT_TRUE (isCrLfUtf8WithoutBom (juce::MemoryBlock (log.toRawUTF8(), log.getNumBytesAsUTF8())));
    const auto lines = juce::StringArray::fromLines (log.trimEnd());
    ASSERT_EQ (lines.size(), expected.size());

    for (int i = 0; i < expected.size(); ++i)
        EXPECT_TRUE (lines[i].startsWith (expected[i])) << lines[i] << " / " << expected[i];

    EXPECT_EQ (lines[1], "Korvane Crash Report: ");
    EXPECT_EQ (lines[19], "File System Tests: ");
    EXPECT_TRUE (lines[8] == "Is 64bit: 1" || lines[8] == "Is 64bit: 0");

    // No user, logon or computer name (the executable's path may name a home folder).
    for (const auto& name : { juce::SystemStats::getLogonName(), juce::SystemStats::getFullUserName(),
                              juce::SystemStats::getComputerName() })
    {
        if (name.length() < 3)
            continue;

        for (int i = 0; i < lines.size(); ++i)
            if (i != 3)
            {
                EXPECT_FALSE (lines[i].contains (name)) << lines[i];
            }
    }
}

TEST_F (BugReport, PatchOperationsLogTheDocumentBeforeAndAfter)
{
    ProcessorRig rig;
    auto& proc = rig.proc;
    EXPECT_TRUE (proc.bugReporter.log.contains ("\r\nInit Synth Post\r\nMD5: "));

    ASSERT_TRUE (proc.savePatch ("Logged.kvn"));
    rig.set ("cutoff", 0.2f);
    proc.setModMapEntry ("lfo1_oscType", "square_og");
    const auto documentBefore = proc.buildPatchDataString();
    const auto start = proc.bugReporter.log.length();

    proc.loadPatch ("Logged.kvn", false);

    const auto entries = entriesOf (proc.bugReporter.log.substring (start));
    ASSERT_EQ (entries.size(), 2u);
    EXPECT_EQ (entries[0].label, "Load Patch Pre");
    EXPECT_EQ (entries[0].document, documentBefore);
    EXPECT_EQ (entries[1].label, "Load Patch Post");
    EXPECT_EQ (entries[1].document, proc.buildPatchDataString());
    EXPECT_NE (entries[0].document, entries[1].document);

    for (const auto& e : entries)
    {
        EXPECT_TRUE (std::regex_match (e.time.toStdString(), std::regex (timePattern))) << e.time;
        EXPECT_EQ (e.md5, juce::MD5::fromUTF32 (e.document).toHexString());
        EXPECT_EQ (e.md5.length(), 32);
    }

    EXPECT_EQ (proc.bugReporter.lastState, proc.buildPatchDataString());
    EXPECT_TRUE (proc.bugReporter.log.startsWith ("```````\r\nKorvane Crash Report: \r\n"));

    // A plain log line, as the version check writes it.
    const auto beforeLine = proc.bugReporter.log.length();
    proc.logReport ("Version Mismatch");
    const auto lineEntries = entriesOf (proc.bugReporter.log.substring (beforeLine));
    ASSERT_EQ (lineEntries.size(), 1u);
    EXPECT_EQ (lineEntries[0].label, "Version Mismatch");
    EXPECT_TRUE (proc.bugReporter.log.endsWith ("\r\nVersion Mismatch\r\n"));
}

TEST_F (BugReport, ReportFileIsNamedWithoutBlanksOrColons)
{
    EXPECT_EQ (BugReporter::reportName ("bug", "5 Mar 2025 14:03:12"), "bugReports/bug_report_5_Mar_2025_14-03-12.kvnrep");
    EXPECT_EQ (BugReporter::reportName ("crash", "25 Dec 2026 7:16:55"), "bugReports/crash_report_25_Dec_2026_7-16-55.kvnrep");
    EXPECT_TRUE (std::regex_match (BugReporter::currentTimeText().toStdString(), std::regex (timePattern)));

    kvAP proc;
    proc.updateTrackProperties ({ "Lead Line", juce::Colours::red });
    proc.loadDefaultPatch ("Init[OA]", false);

    const auto file = proc.writeReport ("bug");

    ASSERT_TRUE (file.existsAsFile());
    EXPECT_EQ (file.getParentDirectory(), patchFolder().getChildFile ("bugReports"));
    const auto name = file.getFileName();
    EXPECT_FALSE (name.containsAnyOf (" :")) << name;
    EXPECT_TRUE (std::regex_match (name.toStdString(), std::regex ("bug_report_[0-9]{1,2}_[A-Z][a-z]{2}_[0-9]{4}_[0-9]{1,2}-[0-9]{2}-[0-9]{2}\\.kvnrep")))
        << name;

    const auto bytes = bytesOf (file);
    EXPECT_TRUE (isCrLfUtf8WithoutBom (bytes));
    EXPECT_EQ (textOf (file), proc.bugReporter.log);
    EXPECT_TRUE (proc.bugReporter.log.contains ("Load Patch Post"));
    EXPECT_TRUE (proc.bugReporter.log.contains ("\r\nTrack Name: Lead Line\r\nTrack Colour: "
                                                + juce::Colours::red.toDisplayString (true) + "\r\n"));

    ASSERT_EQ (revealed.size(), 1u);
    EXPECT_EQ (revealed[0], file);
    ASSERT_EQ (notices.size(), 1u);
    EXPECT_EQ (notices[0].title, "BUG REPORT");
    EXPECT_EQ (notices[0].text, "A bug report has been generated. It should open in your file explorer now.");
    EXPECT_EQ (notices[0].button, "YEE");

    // The log is kept: a later report holds everything again.
    const auto firstReport = textOf (file);
    proc.logReport ("After the first report");
    const auto second = proc.writeReport ("bug");
    EXPECT_TRUE (textOf (second).startsWith (firstReport));
    EXPECT_TRUE (textOf (second).contains ("After the first report"));
}

TEST_F (BugReport, DisabledReporterDoesNothing)
{
    BugReporter quiet (false, true);
    quiet.addEntry ("ignored\r\n");
    quiet.addStateEntry ("ignored", "<state/>");

    EXPECT_TRUE (quiet.log.isEmpty());
    EXPECT_TRUE (quiet.lastState.isEmpty());
    EXPECT_EQ (quiet.writeReport ("bug"), juce::File());
    EXPECT_FALSE (patchFolder().exists());
    EXPECT_TRUE (notices.empty());
    EXPECT_TRUE (revealed.empty());
}

//==============================================================================
TEST_F (BugReport, OnlyTheStandaloneAppCatchesTheSignalsOfACrash)
{
    using W = juce::AudioProcessor;
    const struct { W::WrapperType type; const char* name; bool catches; } cases[] = {
        { W::wrapperType_Undefined, "no wrapper (renderer, tests)", false },
        { W::wrapperType_VST3, "VST3", false },
        { W::wrapperType_LV2, "LV2", false },
        { W::wrapperType_Standalone, "standalone", true },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        const auto before = Dispositions::now();
        ASSERT_FALSE (before.allCaught());

        {
            auto proc = makeProcessor (c.type);
            prepare (*proc);
            const auto whileRunning = Dispositions::now();

            if (c.catches)
                EXPECT_TRUE (whileRunning.allCaught());
            else
                EXPECT_TRUE (whileRunning == before);

            EXPECT_EQ (CrashHandler::isInstalled(), c.catches);
        }

        // Gone with the processor: whatever handled the signals before does again.
        EXPECT_TRUE (Dispositions::now() == before);
        EXPECT_FALSE (CrashHandler::isInstalled());
    }

    // No report is written while nothing crashed.
    EXPECT_FALSE (reportsFolder().exists());
    EXPECT_TRUE (notices.empty());
}

TEST_F (BugReport, CrashOfTheStandaloneWritesItsLogAndEndsWithTheSignal)
{
#if defined (__SANITIZE_ADDRESS__) || defined (__SANITIZE_THREAD__)
    GTEST_SKIP() << "sanitizers catch the deliberate faults before the program's own crash handler";
#endif

    const struct { const char* what; int signal; std::function<void()> fault; } cases[] = {
        { "write through a null pointer", SIGSEGV, writeToNowhere },
        { "abort()", SIGABRT, [] { std::abort(); } },
        { "read past the end of a mapped file", SIGBUS, readPastTheEndOfAMappedFile },
        { "trap instruction", SIGILL, [] { __builtin_trap(); } },
        { "raised SIGFPE", SIGFPE, [] { ::raise (SIGFPE); } },
        { "raised SIGSYS", SIGSYS, [] { ::raise (SIGSYS); } },
    };

    const auto exe = juce::File::getSpecialLocation (juce::File::currentExecutableFile).getFullPathName();

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        makerFolder().deleteRecursively();

        auto proc = makeStandaloneProcessor();
        prepare (*proc);
        proc->logReport ("Only in this run's log");
        // Past the first copy's room, so the handler gets a grown copy.
        proc->logReport (juce::String::repeatedString ("0123456789", 20000) + "\r\n");
        const auto logAtCrash = proc->bugReporter.log;

        const auto status = statusOfChildThat (c.fault);

        // The signal's own end, as without a handler (not SIGKILL, not a hang).
        ASSERT_TRUE (WIFSIGNALED (status)) << "exit status " << WEXITSTATUS (status);
        EXPECT_EQ (WTERMSIG (status), c.signal) << strsignal (WTERMSIG (status));

        const auto reports = crashReports();
        ASSERT_EQ (reports.size(), 1);
        const auto name = reports[0].getFileName();
        EXPECT_TRUE (std::regex_match (name.toStdString(), std::regex ("crash_report_[0-9]{1,2}_[A-Z][a-z]{2}_[0-9]{4}_[0-9]{1,2}-[0-9]{2}-[0-9]{2}\\.kvnrep")))
            << name;

        const auto bytes = bytesOf (reports[0]);
        EXPECT_TRUE (isCrLfUtf8WithoutBom (bytes));
        const auto text = textOf (reports[0]);

        // The whole log of the run, then the crash's two entries.
        ASSERT_TRUE (text.startsWith (logAtCrash));
        const auto entries = entriesOf (text.substring (logAtCrash.length()));
        ASSERT_EQ (entries.size(), 2u);
        EXPECT_EQ (entries[0].label, "Crash Report:");
        EXPECT_EQ (entries[1].label, juce::String ("Signal: ") + juce::String (c.signal) + " (SIG" + sigabbrev_np (c.signal) + "), code "
                                         + entries[1].label.fromLastOccurrenceOf ("code ", false, false));

        // Both entries carry the time that names the file.
        for (const auto& e : entries)
        {
            EXPECT_TRUE (std::regex_match (e.time.toStdString(), std::regex (timePattern))) << e.time;
            EXPECT_EQ (BugReporter::reportName ("crash", e.time), "bugReports/" + name);
        }

        // Where the code lies, this test program among it, to place the instruction.
        const auto details = text.fromLastOccurrenceOf ("\r\n///////\r\n", false, false);
        EXPECT_TRUE (details.contains ("\r\nInstruction: 0x")) << details;
        EXPECT_TRUE (details.contains ("\r\nCode mappings:\r\n")) << details;
        EXPECT_TRUE (details.contains (" r-xp ") && details.contains (exe)) << details;

        // The marker for the next start names the report.
        const auto marker = CrashHandler::unseenReportMarker (reportsFolder());
        ASSERT_TRUE (marker.existsAsFile());
        EXPECT_EQ (textOf (marker), reports[0].getFullPathName());
    }
}

TEST_F (BugReport, CrashWhileAnotherThreadLogsLeavesWholeEntries)
{
#if defined (__SANITIZE_ADDRESS__) || defined (__SANITIZE_THREAD__)
    GTEST_SKIP() << "sanitizers catch the deliberate fault before the program's own crash handler";
#endif

    auto proc = makeStandaloneProcessor();
    const auto header = proc->bugReporter.log;
    const auto filler = juce::String::repeatedString ("x", 3000);

    const auto status = statusOfChildThat ([&] {
        // Entries grow the log (and move its copy) until the crash stops them.
        std::thread logger ([&] {
            for (int i = 0;; ++i)
                proc->logReport ("entry " + juce::String (i) + " " + filler + "\r\n");
        });
        logger.detach();
        ::usleep (200 * 1000);
        writeToNowhere();
    });

    ASSERT_TRUE (WIFSIGNALED (status));
    EXPECT_EQ (WTERMSIG (status), SIGSEGV);
    const auto reports = crashReports();
    ASSERT_EQ (reports.size(), 1);

    const auto text = textOf (reports[0]);
    ASSERT_TRUE (text.startsWith (header));
    const auto entries = entriesOf (text.substring (header.length()));
    ASSERT_GE (entries.size(), 3u);

    // Every entry the copy holds is complete and in order; the crash's own two close it.
    for (size_t i = 0; i + 2 < entries.size(); ++i)
        EXPECT_EQ (entries[i].label, "entry " + juce::String ((int) i) + " " + filler);

    EXPECT_EQ (entries[entries.size() - 2].label, "Crash Report:");
    EXPECT_TRUE (entries.back().label.startsWith ("Signal: " + juce::String (SIGSEGV) + " (SIGSEGV)"));
    std::cout << entries.size() - 2 << " entries of " << filler.length() << " bytes in the report" << std::endl;
}

TEST_F (BugReport, NextStartTellsOfTheCrashOnceAndRevealsTheReport)
{
#if defined (__SANITIZE_ADDRESS__) || defined (__SANITIZE_THREAD__)
    GTEST_SKIP() << "sanitizers catch the deliberate fault before the program's own crash handler";
#endif

    {
        auto crashed = makeStandaloneProcessor();
        ASSERT_TRUE (WIFSIGNALED (statusOfChildThat (writeToNowhere)));
    }

    const auto reports = crashReports();
    ASSERT_EQ (reports.size(), 1);
    const auto report = reports[0];

    // The notice waits for the message loop, so that it shows over the app's window.
    auto next = makeStandaloneProcessor();
    EXPECT_TRUE (notices.empty());
    dispatchPendingMessages();

    ASSERT_EQ (notices.size(), 1u);
    EXPECT_EQ (notices[0].title, "CRASH REPORT");
    EXPECT_EQ (notices[0].text, "Korvane closed unexpectedly last time; a report was written to\n" + report.getFullPathName());
    EXPECT_EQ (notices[0].actionButton, "Show me");
    EXPECT_EQ (notices[0].button, "OK");
    EXPECT_TRUE (revealed.empty());

    ASSERT_TRUE (notices[0].action != nullptr);
    notices[0].action();
    ASSERT_EQ (revealed.size(), 1u);
    EXPECT_EQ (revealed[0], report);

    // Once: neither this run nor a later one tells again, and the report stays.
    next.reset();
    auto later = makeStandaloneProcessor();
    dispatchPendingMessages();
    EXPECT_EQ (notices.size(), 1u);
    EXPECT_TRUE (report.existsAsFile());
    EXPECT_FALSE (CrashHandler::unseenReportMarker (reportsFolder()).exists());

    // Plug-ins and headless programs leave the marker alone: not theirs to tell.
    later.reset();
    ASSERT_TRUE (CrashHandler::unseenReportMarker (reportsFolder()).replaceWithText (report.getFullPathName()));
    for (const auto type : { juce::AudioProcessor::wrapperType_VST3, juce::AudioProcessor::wrapperType_LV2,
                             juce::AudioProcessor::wrapperType_Undefined })
        makeProcessor (type);
    dispatchPendingMessages();
    EXPECT_EQ (notices.size(), 1u);
    EXPECT_TRUE (CrashHandler::unseenReportMarker (reportsFolder()).existsAsFile());
}

TEST_F (BugReport, CrashNoticeButtonsInTheMessageBox)
{
    if (juce::Desktop::getInstance().getDisplays().getPrimaryDisplay() == nullptr)
        GTEST_SKIP() << "needs a display";

    ignoreXErrorsAsTheAppDoes();
    const auto report = reportsFolder().getChildFile ("crash_report_1_Jan_2030_0-00-00.kvnrep");
    writeText (report, "report");
    Notices::setHandler ({}); // the app's own message boxes

    const auto press = [] (const juce::String& buttonText) {
        dispatchPendingMessages();
        auto* box = dynamic_cast<juce::AlertWindow*> (juce::Component::getCurrentlyModalComponent());
        if (box == nullptr)
            return juce::String ("no message box");

        const auto title = box->getName();
        for (auto* child : box->getChildren())
            if (auto* button = dynamic_cast<juce::Button*> (child); button != nullptr && button->getButtonText() == buttonText)
                button->triggerClick();

        dispatchPendingMessages();
        return title;
    };

    BugReporter::showCrashNotice (report);
    EXPECT_EQ (press ("OK"), "CRASH REPORT");
    EXPECT_TRUE (revealed.empty());
    EXPECT_EQ (juce::Component::getCurrentlyModalComponent(), nullptr);

    BugReporter::showCrashNotice (report);
    EXPECT_EQ (press ("Show me"), "CRASH REPORT");
    ASSERT_EQ (revealed.size(), 1u);
    EXPECT_EQ (revealed[0], report);
    EXPECT_EQ (juce::Component::getCurrentlyModalComponent(), nullptr);
}

TEST_F (BugReport, AMarkerThatNamesNoReportOfOursIsDroppedUntold)
{
    const auto folder = reportsFolder();
    writeText (folder.getChildFile ("crash_report_1_Jan_2030_0-00-00.kvnrep"), "report");
    writeText (folder.getChildFile ("notes.txt"), "not a report");
    writeText (makerFolder().getChildFile ("crash_report_1_Jan_2030_0-00-00.kvnrep"), "outside the reports folder");

    const struct { const char* what; juce::String content; } cases[] = {
        { "empty", {} },
        { "relative path", "crash_report_1_Jan_2030_0-00-00.kvnrep" },
        { "a file outside the reports folder", makerFolder().getChildFile ("crash_report_1_Jan_2030_0-00-00.kvnrep").getFullPathName() },
        { "a way out of the reports folder", folder.getFullPathName() + "/../crash_report_1_Jan_2030_0-00-00.kvnrep" },
        { "a system file", "/etc/passwd" },
        { "a file that is not a report", folder.getChildFile ("notes.txt").getFullPathName() },
        { "a report that was deleted", folder.getChildFile ("crash_report_2_Jan_2030_0-00-00.kvnrep").getFullPathName() },
        { "the reports folder itself", folder.getFullPathName() },
        { "more than a path", juce::String::repeatedString ("/a", 4000) },
    };

    BugReporter reporter (true, false);
    const auto marker = CrashHandler::unseenReportMarker (folder);

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        writeText (marker, c.content);
        EXPECT_EQ (reporter.takeUnseenCrashReport(), juce::File());
        EXPECT_FALSE (marker.exists());
    }

    // Bytes that are not UTF-8.
    const char bytes[] = { '/', (char) 0xc0, (char) 0xaf, 'x' };
    writeBytes (marker, bytes, sizeof (bytes));
    EXPECT_EQ (reporter.takeUnseenCrashReport(), juce::File());
    EXPECT_FALSE (marker.exists());

    // Only a marker naming a report of ours counts.
    writeText (marker, folder.getChildFile ("crash_report_1_Jan_2030_0-00-00.kvnrep").getFullPathName());
    EXPECT_EQ (reporter.takeUnseenCrashReport(), folder.getChildFile ("crash_report_1_Jan_2030_0-00-00.kvnrep"));
    EXPECT_EQ (reporter.takeUnseenCrashReport(), juce::File());
    EXPECT_TRUE (notices.empty());
}

TEST (CrashHandlerTime, FormatsLikeTheLogsTimeText)
{
    char text[64];
    const auto format = [&] (long long seconds, long offset) {
        CrashHandler::formatTime (text, sizeof (text), seconds, offset);
        return std::string (text);
    };

    // Calendar corners, in UTC and with offsets either side.
    EXPECT_EQ (format (0, 0), "1 Jan 1970 0:00:00");
    EXPECT_EQ (format (-1, 0), "31 Dec 1969 23:59:59");
    EXPECT_EQ (format (0, 3600), "1 Jan 1970 1:00:00");
    EXPECT_EQ (format (0, -3600), "31 Dec 1969 23:00:00");
    EXPECT_EQ (format (951782400, 0), "29 Feb 2000 0:00:00");   // 2000 is a leap year
    EXPECT_EQ (format (4107542400, 0), "1 Mar 2100 0:00:00");   // 2100 is not
    EXPECT_EQ (format (4107542400 - 1, 0), "28 Feb 2100 23:59:59");
    EXPECT_EQ (format (1709164800 + 9 * 3600 + 3 * 60 + 7, 0), "29 Feb 2024 9:03:07");
    EXPECT_EQ (format (1709164800, 19800), "29 Feb 2024 5:30:00"); // half-hour offsets

    // A short buffer gets a cut, terminated text.
    char shortText[5];
    EXPECT_EQ (CrashHandler::formatTime (shortText, sizeof (shortText), 0, 0), 4u);
    EXPECT_STREQ (shortText, "1 Ja");

    // The same text as the framework's for this machine's zone, whichever it is,
    // over instants spread from 1970 to 2100.
    for (long long seconds = 0; seconds < 4102444800; seconds += 86400 * 37 + 3607 * 5 + 13)
    {
        const juce::Time instant (seconds * 1000);
        ASSERT_EQ (format (seconds, instant.getUTCOffsetSeconds()), instant.toString (true, true, true, true).toStdString()) << seconds;
    }
}
