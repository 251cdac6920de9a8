#pragma once

#include <juce_core/juce_core.h>

#include <cstddef>

/** The standalone app's crash report. A plug-in never installs this: its
    host's process, and the host's own crash handling, are not ours.

    Inside the handler the process may be in any state (the crashing thread
    may hold the allocator's lock), so the handler only uses system calls
    that are safe there: it writes the log that was handed to it beforehand,
    two entries of its own and a marker naming the report, then lets the
    signal end the process as it would have without us (core dump, exit
    status). Telling the user happens on the next start. */
namespace CrashHandler
{
    /** Catches SIGILL, SIGABRT, SIGBUS, SIGFPE, SIGSEGV and SIGSYS; reports go
        into reportsFolder (created when a crash needs it). Message thread. */
    void install (const juce::File& reportsFolder);

    /** Gives the signals back the handling they had before install(). */
    void uninstall();

    bool isInstalled();

    /** Hands over the log as it stands. The log only grows, so only the new
        bytes are copied; fresh = true replaces what was handed over before
        (a different log). Safe against a crash on another thread meanwhile. */
    void setLog (const juce::String& log, bool fresh = false);

    /** The file a crash leaves next to its report, holding the report's full
        path, until the next start has told the user. */
    juce::File unseenReportMarker (const juce::File& reportsFolder);

    /** The log's time text ("5 Mar 2025 9:03:12", local time, 24-hour clock)
        for secondsSinceEpoch at utcOffsetSeconds, into out (zero-terminated).
        Plain arithmetic, so that the handler can use it. Returns the length. */
    size_t formatTime (char* out, size_t capacity, long long secondsSinceEpoch, long utcOffsetSeconds) noexcept;
}
