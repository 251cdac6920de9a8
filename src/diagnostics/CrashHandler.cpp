#include "CrashHandler.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <mutex>
#include <new>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <ucontext.h>
#include <unistd.h>

namespace
{
    constexpr int fatalSignals[] = { SIGILL, SIGABRT, SIGBUS, SIGFPE, SIGSEGV, SIGSYS };
    constexpr int numFatalSignals = (int) (sizeof (fatalSignals) / sizeof (fatalSignals[0]));

    const char* signalName (int sig) noexcept
    {
        switch (sig)
        {
            case SIGILL:  return "SIGILL";
            case SIGABRT: return "SIGABRT";
            case SIGBUS:  return "SIGBUS";
            case SIGFPE:  return "SIGFPE";
            case SIGSEGV: return "SIGSEGV";
            case SIGSYS:  return "SIGSYS";
            default:      return "?";
        }
    }

    //==============================================================================
    // The log as the handler will write it. The message thread appends to the
    // current copy beyond the published size (which the handler never reads
    // past), or moves to a bigger copy. A replaced copy is freed only by a
    // later update, and no update runs once a crash has begun, so the copy a
    // handler picked stays valid while it writes.
    struct LogCopy
    {
        char* data = nullptr;
        size_t capacity = 0;
        std::atomic<size_t> size { 0 };
    };

    std::atomic<LogCopy*> currentCopy { nullptr };
    LogCopy* retiredCopy = nullptr;
    std::mutex updateLock; // between updating threads; the handler never takes it
    std::atomic<bool> crashing { false };
    std::atomic<bool> reportDone { false };
    std::atomic<long> utcOffset { 0 };

    void freeCopy (LogCopy* copy)
    {
        if (copy != nullptr)
        {
            delete[] copy->data;
            delete copy;
        }
    }

    long currentUtcOffset()
    {
        const auto now = std::time (nullptr);
        std::tm local {};
        return localtime_r (&now, &local) != nullptr ? local.tm_gmtoff : 0;
    }

    //==============================================================================
    // Prepared at install; read by the handler.
    constexpr size_t maxPath = 4096;
    constexpr size_t reportNameRoom = 64; // "/crash_report_<time>.kvnrep"
    char reportsFolderPath[maxPath];
    char markerPath[maxPath];

    bool installed = false;
    struct sigaction previousActions[numFatalSignals];
    stack_t previousAltStack {};

    // A stack of its own for the handler on the thread that installed it, so
    // that a stack overflow there still gets its report.
    alignas (16) char alternateStack[64 * 1024];

    // The handler's working memory (only one handler runs at a time).
    char reportPath[maxPath];
    char folderPrefix[maxPath];
    char readBuffer[4096];
    char lineBuffer[512];

    //==============================================================================
    // Everything below runs inside the signal handler: system calls and plain
    // arithmetic only.
    size_t copyText (char* out, size_t capacity, const char* text) noexcept
    {
        size_t n = 0;
        while (text[n] != 0 && n + 1 < capacity)
        {
            out[n] = text[n];
            ++n;
        }
        out[n] = 0;
        return n;
    }

    size_t formatNumber (char* out, unsigned long long value, unsigned base, size_t minDigits) noexcept
    {
        char digits[32];
        size_t n = 0;

        do
        {
            const auto d = (unsigned) (value % base);
            digits[n++] = (char) (d < 10 ? '0' + d : 'a' + d - 10);
            value /= base;
        } while (value != 0 && n < sizeof (digits));

        while (n < minDigits && n < sizeof (digits))
            digits[n++] = '0';

        for (size_t i = 0; i < n; ++i)
            out[i] = digits[n - 1 - i];

        return n;
    }

    size_t formatSigned (char* out, long long value) noexcept
    {
        if (value >= 0)
            return formatNumber (out, (unsigned long long) value, 10, 1);

        out[0] = '-';
        return 1 + formatNumber (out + 1, 0ull - (unsigned long long) value, 10, 1);
    }

    void writeAll (int fd, const char* data, size_t size) noexcept
    {
        while (size > 0)
        {
            const auto written = ::write (fd, data, size);

            if (written < 0)
            {
                if (errno == EINTR)
                    continue;
                return;
            }

            data += written;
            size -= (size_t) written;
        }
    }

    void writeText (int fd, const char* text) noexcept
    {
        writeAll (fd, text, std::strlen (text));
    }

    void writeSigned (int fd, long long value) noexcept
    {
        char text[32];
        writeAll (fd, text, formatSigned (text, value));
    }

    void writeHex (int fd, unsigned long long value) noexcept
    {
        char text[32] = { '0', 'x' };
        writeAll (fd, text, 2 + formatNumber (text + 2, value, 16, 1));
    }

    /** Creates the folder and any missing parents. */
    void makeFolders (const char* path) noexcept
    {
        const auto length = copyText (folderPrefix, sizeof (folderPrefix), path);

        for (size_t i = 1; i < length; ++i)
        {
            if (folderPrefix[i] == '/')
            {
                folderPrefix[i] = 0;
                ::mkdir (folderPrefix, 0777);
                folderPrefix[i] = '/';
            }
        }

        ::mkdir (folderPrefix, 0777);
    }

    /** One line of /proc/self/maps, if it maps code; anything but printable
        ASCII becomes '?' so that the report stays valid UTF-8. */
    void writeIfCode (int fd, char* line, size_t length) noexcept
    {
        const auto* space = static_cast<const char*> (std::memchr (line, ' ', length));

        if (space == nullptr || (size_t) (space - line) + 3 >= length || space[3] != 'x')
            return;

        for (size_t i = 0; i < length; ++i)
            if (line[i] < 0x20 || line[i] > 0x7e)
                line[i] = '?';

        writeAll (fd, line, length);
        writeText (fd, "\r\n");
    }

    /** Where the program's code lies in memory, so that the instruction
        address can be turned into a place in a module afterwards. */
    void writeCodeMappings (int fd) noexcept
    {
        const auto maps = ::open ("/proc/self/maps", O_RDONLY | O_CLOEXEC);

        if (maps < 0)
            return;

        size_t lineLength = 0;

        for (;;)
        {
            const auto n = ::read (maps, readBuffer, sizeof (readBuffer));

            if (n < 0 && errno == EINTR)
                continue;

            if (n <= 0)
                break;

            for (ssize_t i = 0; i < n; ++i)
            {
                if (readBuffer[i] == '\n')
                {
                    writeIfCode (fd, lineBuffer, lineLength);
                    lineLength = 0;
                }
                else if (lineLength < sizeof (lineBuffer))
                {
                    lineBuffer[lineLength++] = readBuffer[i];
                }
            }
        }

        ::close (maps);
    }

    unsigned long long instructionAddress (void* context) noexcept
    {
        if (context == nullptr)
            return 0;

       #if defined (__x86_64__)
        return (unsigned long long) static_cast<ucontext_t*> (context)->uc_mcontext.gregs[REG_RIP];
       #elif defined (__aarch64__)
        return (unsigned long long) static_cast<ucontext_t*> (context)->uc_mcontext.pc;
       #else
        return 0;
       #endif
    }

    void writeEntryStart (int fd, const char* timeText) noexcept
    {
        writeText (fd, "\r\n///////\r\n");
        writeText (fd, timeText);
        writeText (fd, "\r\n");
    }

    void writeCrashReport (int sig, siginfo_t* info, void* context) noexcept
    {
        struct timespec now {};
        ::clock_gettime (CLOCK_REALTIME, &now);

        char timeText[64];
        CrashHandler::formatTime (timeText, sizeof (timeText), (long long) now.tv_sec, utcOffset.load());

        // The file name carries the time with "-" for ":" and "_" for blanks.
        auto n = copyText (reportPath, sizeof (reportPath), reportsFolderPath);
        n += copyText (reportPath + n, sizeof (reportPath) - n, "/crash_report_");

        for (const char* c = timeText; *c != 0 && n + 16 < sizeof (reportPath); ++c)
            reportPath[n++] = *c == ':' ? '-' : (*c == ' ' ? '_' : *c);

        copyText (reportPath + n, sizeof (reportPath) - n, ".kvnrep");

        makeFolders (reportsFolderPath);
        const auto fd = ::open (reportPath, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);

        if (fd < 0)
            return;

        if (const auto* copy = currentCopy.load())
            writeAll (fd, copy->data, copy->size.load());

        writeEntryStart (fd, timeText);
        writeText (fd, "Crash Report:\r\n");

        // In place of a symbolised stack, which cannot be had safely here:
        // the signal, the fault and where the code lies.
        writeEntryStart (fd, timeText);
        writeText (fd, "Signal: ");
        writeSigned (fd, sig);
        writeText (fd, " (");
        writeText (fd, signalName (sig));
        writeText (fd, "), code ");
        writeSigned (fd, info != nullptr ? info->si_code : 0);
        writeText (fd, "\r\nFault address: ");
        writeHex (fd, info != nullptr ? (unsigned long long) info->si_addr : 0);
        writeText (fd, "\r\nInstruction: ");
        writeHex (fd, instructionAddress (context));
        const auto thread = (long long) ::syscall (SYS_gettid);
        writeText (fd, "\r\nThread: ");
        writeSigned (fd, thread);
        writeText (fd, thread == (long long) ::getpid() ? " (main)\r\n" : "\r\n");
        writeText (fd, "Code mappings:\r\n");
        writeCodeMappings (fd);
        writeText (fd, "\r\n");
        ::close (fd);

        // Tells the next start that there is a report to show.
        const auto marker = ::open (markerPath, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);

        if (marker >= 0)
        {
            writeText (marker, reportPath);
            ::close (marker);
        }
    }

    void handleFatalSignal (int sig, siginfo_t* info, void* context)
    {
        if (! crashing.exchange (true))
        {
            writeCrashReport (sig, info, context);
            reportDone = true;
        }
        else
        {
            // Another thread is writing the report and will end the process;
            // wait for it a little, but never for ever.
            for (int i = 0; i < 200 && ! reportDone.load(); ++i)
            {
                struct timespec pause { 0, 10 * 1000 * 1000 };
                ::nanosleep (&pause, nullptr);
            }
        }

        // Let the signal do what it would have done without us. It is blocked
        // while this runs and arrives as soon as the handler returns.
        ::signal (sig, SIG_DFL);
        ::raise (sig);
    }
}

//==============================================================================
size_t CrashHandler::formatTime (char* out, size_t capacity, long long secondsSinceEpoch, long utcOffsetSeconds) noexcept
{
    static const char* const months[] = { "Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec" };

    if (capacity == 0)
        return 0;

    const auto local = secondsSinceEpoch + utcOffsetSeconds;
    auto days = local / 86400;
    auto secondOfDay = local % 86400;

    if (secondOfDay < 0)
    {
        secondOfDay += 86400;
        --days;
    }

    // Days since 1970-01-01 to a civil date (proleptic Gregorian calendar).
    const auto z = days + 719468;
    const auto era = (z >= 0 ? z : z - 146096) / 146097;
    const auto dayOfEra = z - era * 146097;
    const auto yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const auto dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const auto shiftedMonth = (5 * dayOfYear + 2) / 153;
    const auto day = dayOfYear - (153 * shiftedMonth + 2) / 5 + 1;
    const auto month = shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9;
    const auto year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);

    char text[64];
    size_t n = formatSigned (text, day);
    text[n++] = ' ';
    n += copyText (text + n, sizeof (text) - n, months[month - 1]);
    text[n++] = ' ';
    n += formatSigned (text + n, year);
    text[n++] = ' ';
    n += formatSigned (text + n, secondOfDay / 3600);
    text[n++] = ':';
    n += formatNumber (text + n, (unsigned long long) (secondOfDay / 60 % 60), 10, 2);
    text[n++] = ':';
    n += formatNumber (text + n, (unsigned long long) (secondOfDay % 60), 10, 2);
    text[n] = 0;

    return copyText (out, capacity, text);
}

juce::File CrashHandler::unseenReportMarker (const juce::File& reportsFolder)
{
    return reportsFolder.getChildFile (".unseen_crash_report");
}

void CrashHandler::setLog (const juce::String& log, bool fresh)
{
    const std::lock_guard<std::mutex> lock (updateLock);

    if (crashing.load())
        return;

    utcOffset = currentUtcOffset();

    // Nothing can still be writing from the copy replaced last time: a
    // handler that picked it has set the crash flag before this update.
    freeCopy (retiredCopy);
    retiredCopy = nullptr;

    // The framework keeps strings as UTF-8, so this is the text itself; its
    // getNumBytesAsUTF8 would walk every character of a long log each time.
    const auto* bytes = log.toRawUTF8();
    const auto size = std::strlen (bytes);
    auto* copy = currentCopy.load();

    if (copy != nullptr && ! fresh && size >= copy->size.load() && size <= copy->capacity)
    {
        const auto had = copy->size.load();
        std::memcpy (copy->data + had, bytes + had, size - had);
        copy->size = size;
        return;
    }

    // Room to grow, so that most entries are a plain append.
    auto* grown = new (std::nothrow) LogCopy();
    const auto capacity = size + size / 2 + 64 * 1024;
    auto* data = grown != nullptr ? new (std::nothrow) char[capacity] : nullptr;

    if (data == nullptr)
    {
        delete grown; // out of memory: the report gets the log as it was
        return;
    }

    std::memcpy (data, bytes, size);
    grown->data = data;
    grown->capacity = capacity;
    grown->size = size;
    currentCopy = grown;
    retiredCopy = copy;
}

void CrashHandler::install (const juce::File& reportsFolder)
{
    if (installed)
        uninstall();

    const auto folder = reportsFolder.getFullPathName();
    const auto marker = unseenReportMarker (reportsFolder).getFullPathName();

    // A path too long to hold a report name gets no report rather than a cut one.
    if ((size_t) marker.getNumBytesAsUTF8() + reportNameRoom >= maxPath)
        return;

    copyText (reportsFolderPath, maxPath, folder.toRawUTF8());
    copyText (markerPath, maxPath, marker.toRawUTF8());
    utcOffset = currentUtcOffset();

    stack_t stack {};
    stack.ss_sp = alternateStack;
    stack.ss_size = sizeof (alternateStack);
    ::sigaltstack (&stack, &previousAltStack);

    struct sigaction action {};
    action.sa_sigaction = handleFatalSignal;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigfillset (&action.sa_mask);

    for (int i = 0; i < numFatalSignals; ++i)
        ::sigaction (fatalSignals[i], &action, &previousActions[i]);

    installed = true;
}

void CrashHandler::uninstall()
{
    if (! installed)
        return;

    for (int i = 0; i < numFatalSignals; ++i)
        ::sigaction (fatalSignals[i], &previousActions[i], nullptr);

    ::sigaltstack (&previousAltStack, nullptr);
    installed = false;
}

bool CrashHandler::isInstalled()
{
    return installed;
}
