#include "BugReporter.h"

#include "CrashHandler.h"
#include "Notices.h"
#include "state/Version.h"

#include <juce_cryptography/juce_cryptography.h>
#include <juce_events/juce_events.h>

namespace
{
    const char* const productName = "Korvane";

    /** The build's fingerprint for the "App MD5" line: the MD5 of the
        executable's bytes as they are on disk (the program, or the plug-in's
        own library when Korvane runs in a host), not of the file read as
        text, which would depend on how its bytes decode. The executable does not change
        while it runs, so it is read once per process rather than per
        processor. */
    const juce::String& executableMd5()
    {
        static const juce::String md5 = juce::MD5 (juce::File::getSpecialLocation (juce::File::currentExecutableFile)).toHexString();
        return md5;
    }

    BugReporter::RevealHook& revealHook()
    {
        static BugReporter::RevealHook hook;
        return hook;
    }

    /** The reporter whose log a crash report holds (message thread). */
    BugReporter* crashReporter = nullptr;

    constexpr int maxMarkerBytes = 4096;
}

BugReporter::BugReporter (bool isEnabled, bool fileSystemTests)
    : enabled (isEnabled)
{
    const OAFileIO defaultFolders;
    makerFolder = defaultFolders.makerFolder;
    productFolder = defaultFolders.productFolder;

    logHeader (fileSystemTests);
}

BugReporter::~BugReporter()
{
    if (crashReporter == this)
    {
        CrashHandler::uninstall();
        crashReporter = nullptr;
    }
}

void BugReporter::logChanged()
{
    if (crashReporter == this)
        CrashHandler::setLog (log);
}

void BugReporter::logHeader (bool fileSystemTests)
{
    if (! enabled)
        return;

    using Stats = juce::SystemStats;
    const auto exe = juce::File::getSpecialLocation (juce::File::currentExecutableFile);

    // Machine facts only: no user, logon or computer name, no region.
    juce::StringArray lines {
        "```````",
        juce::String (productName) + " Crash Report: ",
        juce::String ("Version Number: ") + Korvane::versionText,
        "Running At: " + exe.getFullPathName(),
        "App MD5: " + executableMd5(),
        juce::String ("Is Standalone:") + (juce::JUCEApplicationBase::isStandaloneApp() ? "1" : "0"),
        "Host Description: " + juce::String (hostType.getHostDescription()),
        "OS Name: " + Stats::getOperatingSystemName(),
        juce::String ("Is 64bit: ") + (Stats::isOperatingSystem64Bit() ? "1" : "0"),
        "User Lang: " + Stats::getUserLanguage(),
        "Device Description: " + Stats::getDeviceDescription(),
        "Device Manufacturer: " + Stats::getDeviceManufacturer(),
        "Num CPUs: " + juce::String (Stats::getNumCpus()),
        "Num Physical CPUs: " + juce::String (Stats::getNumPhysicalCpus()),
        "CPU Speed (mhz): " + juce::String (Stats::getCpuSpeedInMegahertz()),
        "CPU Vendor: " + Stats::getCpuVendor(),
        "CPU Model: " + Stats::getCpuModel(),
        "Ram (mb): " + juce::String (Stats::getMemorySizeInMegabytes()),
        "Page Size: " + juce::String (Stats::getPageSize()),
    };

    if (fileSystemTests)
        lines.add ("File System Tests: ");

    lines.add ("```````");

    for (const auto& line : lines)
        log << line << lineBreak;

    logChanged();
}

void BugReporter::addEntry (const juce::String& text)
{
    if (! enabled)
        return;

    log << separator << currentTimeText() << lineBreak << text;
    logChanged();
}

void BugReporter::addStateEntry (const juce::String& label, const juce::String& document)
{
    if (! enabled)
        return;

    lastState = document;
    addEntry (label + lineBreak
              + "MD5: " + juce::MD5::fromUTF32 (document).toHexString() + lineBreak
              + document + lineBreak);
}

juce::String BugReporter::currentTimeText()
{
    return juce::Time::getCurrentTime().toString (true, true, true, true);
}

juce::String BugReporter::reportName (const juce::String& kind, const juce::String& timeText)
{
    return ("bugReports/" + kind + "_report_" + timeText + ".kvnrep").replace (":", "-").replace (" ", "_");
}

juce::File BugReporter::writeReportFile (const juce::String& kind)
{
    if (! enabled)
        return {};

    const auto file = productFolder.getChildFile (reportName (kind, currentTimeText()));

    if (! OAFileIO::writeTextFileAtomically (file, log))
        return {};

    reveal (file);
    return file;
}

juce::File BugReporter::writeReport (juce::String kind)
{
    if (! enabled)
        return {};

    const auto file = writeReportFile (kind);

    // Write errors are not reported: the box shows either way.
    Notices::show ("BUG REPORT", "A bug report has been generated. It should open in your file explorer now.", "YEE");
    return file;
}

void BugReporter::setRevealHook (RevealHook hook)
{
    revealHook() = std::move (hook);
}

void BugReporter::reveal (const juce::File& file)
{
    if (auto& hook = revealHook())
        hook (file);
    else
        file.revealToUser();
}

void BugReporter::installCrashHandler()
{
    crashReporter = this;
    CrashHandler::setLog (log, true);
    CrashHandler::install (reportsFolder());
}

juce::File BugReporter::takeUnseenCrashReport()
{
    const auto marker = CrashHandler::unseenReportMarker (reportsFolder());

    if (! marker.existsAsFile())
        return {};

    // The marker is ours, but it is a file on disk: only a report of ours
    // in the reports folder gets revealed.
    const auto read = OAFileIO::readTextFile (marker, maxMarkerBytes);
    marker.deleteFile();
    const auto& path = read.text;

    if (read.status != OAFileIO::ReadStatus::ok || ! juce::File::isAbsolutePath (path))
        return {};

    const juce::File report (path);
    const auto name = report.getFileName();

    if (report.getParentDirectory() != reportsFolder() || ! name.startsWith ("crash_report_")
        || ! name.endsWith (".kvnrep") || ! report.existsAsFile())
        return {};

    return report;
}

void BugReporter::showCrashNotice (const juce::File& report)
{
    // The path on a line of its own: the box would break it anywhere.
    Notices::offer ("CRASH REPORT",
                    juce::String (productName) + " closed unexpectedly last time; a report was written to\n" + report.getFullPathName(),
                    "Show me", [report] { reveal (report); }, "OK");
}
