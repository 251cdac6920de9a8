#include "BugReporter.h"

#include "Notices.h"
#include "state/Version.h"

#include <juce_cryptography/juce_cryptography.h>
#include <juce_events/juce_events.h>

#include <atomic>

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

    std::atomic<bool> handlingCrash { false };
}

BugReporter::BugReporter (bool isEnabled, bool fileSystemTests)
    : enabled (isEnabled)
{
    const OAFileIO defaultFolders;
    makerFolder = defaultFolders.makerFolder;
    productFolder = defaultFolders.productFolder;

    logHeader (fileSystemTests);
    installCrashHandler();
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
}

void BugReporter::addEntry (const juce::String& text)
{
    if (enabled)
        log << separator << currentTimeText() << lineBreak << text;
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
    juce::SystemStats::setApplicationCrashHandler (handleCrash);
}

void BugReporter::handleCrash (void*)
{
    // A fault inside the handler must not loop back into it.
    if (handlingCrash.exchange (true))
        return;

    // A reporter of its own: the processor's log may be half-written.
    BugReporter crashReporter (true, false);
    crashReporter.addEntry ("Crash Report:" + crashReporter.lineBreak);
    crashReporter.addEntry (juce::SystemStats::getStackBacktrace() + crashReporter.lineBreak);

    // The framework ends the process as soon as this returns, so a message
    // box could never be seen; the file and the file manager are what count.
    crashReporter.writeReportFile ("crash");
}
