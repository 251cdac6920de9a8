#include "FileTestSupport.h"
#include "ProcessorFixture.h"
#include "processor/PluginProcessor.h"

#include <juce_cryptography/juce_cryptography.h>

#include <gtest/gtest.h>

#include <csignal>
#include <regex>
#include <sys/wait.h>
#include <unistd.h>

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

    juce::StringArray linesOf (const juce::String& text)
    {
        return juce::StringArray::fromTokens (text, "\n", "");
    }

    // The framework's time text: day and hour have one or two digits
    // ("5 Mar 2025 7:03:12"), minutes and seconds always two.
    const char* const timePattern = "[0-9]{1,2} [A-Z][a-z]{2} [0-9]{4} [0-9]{1,2}:[0-9]{2}:[0-9]{2}";

    class BugReport : public CleanHome {};
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

TEST_F (BugReport, CrashInAChildProcessWritesACrashReport)
{
#if defined (__SANITIZE_ADDRESS__) || defined (__SANITIZE_THREAD__)
    GTEST_SKIP() << "sanitizers catch the deliberate fault before the program's own crash handler";
#endif

    // The processor must install the handler itself.
    for (const int sig : { SIGFPE, SIGILL, SIGSEGV, SIGBUS, SIGABRT, SIGSYS })
        std::signal (sig, SIG_DFL);

    auto proc = std::make_unique<kvAP>();
    proc->logReport ("Only in the parent's log");

    const auto child = ::fork();
    ASSERT_GE (child, 0);

    if (child == 0)
    {
        ::alarm (30); // never outlive a stuck handler
        volatile int* nowhere = nullptr;
        *nowhere = 1;
        ::_exit (0);
    }

    int status = 0;
    ASSERT_EQ (::waitpid (child, &status, 0), child);
    ASSERT_TRUE (WIFSIGNALED (status)) << "exit status " << status;
    EXPECT_EQ (WTERMSIG (status), SIGKILL); // the framework ends the process after the report

    const auto reports = patchFolder().getChildFile ("bugReports").findChildFiles (juce::File::findFiles, false, "*");
    ASSERT_EQ (reports.size(), 1);
    const auto name = reports[0].getFileName();
    EXPECT_TRUE (name.startsWith ("crash_report_")) << name;
    EXPECT_FALSE (name.containsAnyOf (" :")) << name;

    const auto text = textOf (reports[0]);
    EXPECT_TRUE (isCrLfUtf8WithoutBom (bytesOf (reports[0])));
    EXPECT_TRUE (text.startsWith ("```````\r\nKorvane Crash Report: \r\nVersion Number: 25.9.26\r\n"));
    EXPECT_FALSE (text.contains ("File System Tests")); // its own header, without that line
    EXPECT_FALSE (text.contains ("Only in the parent's log"));

    const auto header = text.upToFirstOccurrenceOf ("\r\n///////\r\n", false, false);
    const auto entries = entriesOf (text.substring (header.length()));
    ASSERT_EQ (entries.size(), 2u);
    EXPECT_EQ (entries[0].label, "Crash Report:");

    // The backtrace: several frames, naming this program.
    const auto backtrace = text.fromLastOccurrenceOf ("\r\n///////\r\n", false, false)
                               .fromFirstOccurrenceOf ("\r\n", false, false);
    EXPECT_GE (linesOf (backtrace.trim()).size(), 3) << backtrace;
    EXPECT_TRUE (backtrace.contains (juce::File::getSpecialLocation (juce::File::currentExecutableFile).getFileName()))
        << backtrace;
}
