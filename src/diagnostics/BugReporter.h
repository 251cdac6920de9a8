#pragma once

#include "state/OAFileIO.h"

#include <juce_audio_processors/juce_audio_processors.h>

#include <functional>

/** The run's in-memory diagnostic log, and the bug and crash reports made
    from it. Nothing reaches the disk until a report is asked for (or the
    standalone app crashes). */
class BugReporter
{
public:
    /** Sets up the fields and writes the header. The folders are always the
        default ones: a moved patch folder does not move the reports. */
    BugReporter (bool enabled, bool fileSystemTests);

    /** Gives the crash handler up if this reporter installed it. */
    ~BugReporter();

    void logHeader (bool fileSystemTests);

    /** Appends separator, time stamp and the text (which brings its own line breaks). */
    void addEntry (const juce::String& text);

    /** An entry with the label, the document's MD5 and the document itself;
        the document becomes lastState. */
    void addStateEntry (const juce::String& label, const juce::String& document);

    /** Writes the whole log to productFolder / "bugReports" / ..., shows it
        in the file manager and tells the user. Returns the file written (a
        default File when disabled or when the write failed). */
    juce::File writeReport (juce::String kind);

    /** "bugReports/<kind>_report_<time>.kvnrep" with ":" as "-" and blanks as "_". */
    static juce::String reportName (const juce::String& kind, const juce::String& timeText);

    /** The time text of log entries and report names. */
    static juce::String currentTimeText();

    /** What "reveal in the file manager" does. Headless programs and tests
        replace it so that nothing gets launched; an empty hook restores
        juce::File::revealToUser. */
    using RevealHook = std::function<void (const juce::File&)>;
    static void setRevealHook (RevealHook hook);

    /** Installs the crash handler (CrashHandler), which from then on writes
        this reporter's log, as it stands at the crash, into a "crash" report.
        Only the standalone app calls this: a plug-in leaves its host's crash
        handling alone, and headless programs have none of their own. */
    void installCrashHandler();

    /** The report a crash of an earlier run left and nobody was told about
        yet, or a default File. The marker goes away, so each is told once. */
    juce::File takeUnseenCrashReport();

    /** "Korvane closed unexpectedly last time ...", with a button that
        reveals the report. */
    static void showCrashNotice (const juce::File& report);

    juce::File reportsFolder() const { return productFolder.getChildFile ("bugReports"); }

    bool enabled;
    juce::PluginHostType hostType;
    juce::String log; // only ever appended to (the crash handler's copy relies on it)
    juce::File makerFolder;
    juce::File productFolder;
    juce::String lineBreak { "\r\n" };
    juce::String separator { "\r\n///////\r\n" };
    juce::String lastState;

private:
    juce::File writeReportFile (const juce::String& kind);
    static void reveal (const juce::File& file);
    void logChanged();

    JUCE_DECLARE_NON_COPYABLE (BugReporter)
};
