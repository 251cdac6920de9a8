#include "OAFileIO.h"

#include "OAStringTools.h"

#include <atomic>
#include <cerrno>
#include <cstring>

#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
    bool writeAll (int fd, const char* data, size_t numBytes)
    {
        while (numBytes > 0)
        {
            const auto written = ::write (fd, data, numBytes);

            if (written < 0)
            {
                if (errno == EINTR)
                    continue;

                return false;
            }

            if (written == 0)
                return false;

            data += written;
            numBytes -= (size_t) written;
        }

        return true;
    }

    /** The file a write to `file` replaces: the file itself or, when it is a
        symbolic link (a patch kept on another disk or in a synced folder),
        the file the link leads to, through at most 40 links. A link that
        leads nowhere names the file it would lead to. A default File when
        the links go round in a circle. */
    juce::File resolvedTarget (const juce::File& file)
    {
        auto target = file;

        for (int hops = 0; hops < 40; ++hops)
        {
            if (! target.isSymbolicLink())
                return target;

            target = target.getLinkedTarget();
        }

        return {};
    }

    /** A hidden sibling that no "*.kvn" or "*.oasettings" search picks up. */
    juce::File temporarySiblingOf (const juce::File& file, int attempt)
    {
        static std::atomic<unsigned int> counter { 0 };
        const auto tag = juce::String::toHexString ((juce::int64) ::getpid()) + "-"
                       + juce::String::toHexString ((int) counter.fetch_add (1)) + "-"
                       + juce::String (attempt);
        return file.getSiblingFile ("." + file.getFileName() + "." + tag + ".part");
    }

    /** Removes the temporary siblings of file that a writer which no longer
        runs left behind (a crash or a kill between creating one and renaming
        it). Parts of live processes, this one included, are left alone:
        they may be in the middle of a save. */
    void removeAbandonedParts (const juce::File& file)
    {
        const auto prefix = "." + file.getFileName() + ".";

        for (const auto& part : file.getParentDirectory().findChildFiles (juce::File::findFiles, false, prefix + "*.part"))
        {
            const auto tag = part.getFileName().substring (prefix.length());
            const auto pidText = tag.upToFirstOccurrenceOf ("-", false, false);

            if (pidText.isEmpty() || ! pidText.containsOnly ("0123456789abcdef"))
                continue;

            const auto pid = (pid_t) pidText.getHexValue64();

            if (pid > 0 && pid != ::getpid() && ::kill (pid, 0) != 0 && errno == ESRCH)
                part.deleteFile();
        }
    }
}

void OAFileIO::syncFolder (const juce::File& folder)
{
    const auto fd = ::open (folder.getFullPathName().toRawUTF8(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);

    if (fd >= 0)
    {
        ::fsync (fd);
        ::close (fd);
    }
}

juce::Result OAFileIO::writeNewFile (const juce::File& file, const void* data, size_t numBytes)
{
    const auto fail = [] { return juce::Result::fail (juce::String::fromUTF8 (std::strerror (errno))); };
    const auto fd = ::open (file.getFullPathName().toRawUTF8(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);

    if (fd < 0)
        return fail();

    errno = 0;

    if (! writeAll (fd, static_cast<const char*> (data), numBytes) || ::fsync (fd) != 0)
    {
        const auto result = errno != 0 ? fail() : juce::Result::fail ("nothing could be written");
        ::close (fd);
        return result;
    }

    return ::close (fd) == 0 ? juce::Result::ok() : fail();
}

OAFileIO::OAFileIO()
    : makerFolder (juce::File::getSpecialLocation (juce::File::userHomeDirectory).getChildFile ("OrbelAudio")),
      productFolder (makerFolder.getChildFile ("Korvane"))
{
}

juce::String OAFileIO::withCrLf (const juce::String& text)
{
    return text.replace ("\r\n", "\n").replace ("\r", "\n").replace ("\n", "\r\n");
}

OAFileIO::ReadResult OAFileIO::readTextFile (const juce::File& file, juce::int64 maxBytes)
{
    ReadResult result;

    if (file == juce::File())
        return result;

    // Non-blocking open: a FIFO must not stall the message thread. Only
    // regular files are read at all.
    const auto fd = ::open (file.getFullPathName().toRawUTF8(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);

    if (fd < 0)
    {
        // Only "not there" is missing; a file the user may not read is worth saying so.
        if (errno != ENOENT && errno != ENOTDIR)
            result.status = ReadStatus::unreadable;

        return result;
    }

    struct stat info {};

    if (::fstat (fd, &info) != 0 || ! S_ISREG (info.st_mode))
    {
        ::close (fd);
        return result;
    }

    if ((juce::int64) info.st_size > maxBytes)
    {
        ::close (fd);
        result.status = ReadStatus::tooLarge;
        return result;
    }

    // The size may change under us (or lie, for special files), so the read
    // itself is bounded too.
    juce::MemoryBlock data ((size_t) maxBytes + 1);
    size_t numRead = 0;
    bool failed = false;

    while (numRead < data.getSize())
    {
        const auto got = ::read (fd, static_cast<char*> (data.getData()) + numRead, data.getSize() - numRead);

        if (got < 0 && errno == EINTR)
            continue;

        if (got < 0)
            failed = true; // part of a file is no file: never decode what came before the error

        if (got <= 0)
            break;

        numRead += (size_t) got;
    }

    ::close (fd);

    if (failed)
    {
        result.status = ReadStatus::unreadable;
        return result;
    }

    if ((juce::int64) numRead > maxBytes)
    {
        result.status = ReadStatus::tooLarge;
        return result;
    }

    return decodeText (data.getData(), numRead);
}

OAFileIO::ReadResult OAFileIO::decodeText (const void* data, size_t numBytes)
{
    ReadResult result;
    auto* bytes = static_cast<const char*> (data);

    if (numBytes > 0 && (std::memchr (bytes, 0, numBytes) != nullptr || ! OAStringTools::isWellFormedUtf8 (bytes, numBytes)))
    {
        result.status = ReadStatus::notText;
        return result;
    }

    if (numBytes >= 3 && juce::CharPointer_UTF8::isByteOrderMark (bytes))
    {
        bytes += 3;
        numBytes -= 3;
    }

    result.status = ReadStatus::ok;
    result.text = juce::String::fromUTF8 (bytes, (int) numBytes);
    return result;
}

bool OAFileIO::writeTextFileAtomically (const juce::File& file, const juce::String& text)
{
    if (file == juce::File())
        return false;

    // A link stays a link: the new content replaces the file it leads to.
    const auto isLink = file.isSymbolicLink();
    const auto target = resolvedTarget (file);

    if (target == juce::File() || target.isDirectory())
        return false;

    const auto folder = target.getParentDirectory();

    // Missing folders are made for our own paths, never at the end of a link
    // (a disk that is not mounted must not get a folder in its place).
    if (isLink ? ! folder.isDirectory() : ! folder.createDirectory().wasOk())
        return false;

    // The replacement keeps the permissions of the file it replaces.
    struct stat existing {};
    const auto keepMode = ::stat (target.getFullPathName().toRawUTF8(), &existing) == 0 && S_ISREG (existing.st_mode);

    const auto content = withCrLf (text);
    const auto* data = content.toRawUTF8();
    const auto numBytes = content.getNumBytesAsUTF8();

    for (int attempt = 0; attempt < 5; ++attempt)
    {
        const auto temp = temporarySiblingOf (target, attempt);
        const auto tempPath = temp.getFullPathName();
        const auto fd = ::open (tempPath.toRawUTF8(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, keepMode ? 0600 : 0666);

        if (fd < 0)
        {
            if (errno == EEXIST)
                continue;

            return false;
        }

        auto ok = ! keepMode || ::fchmod (fd, existing.st_mode & 07777) == 0;
        ok = ok && writeAll (fd, data, numBytes);
        ok = ok && ::fsync (fd) == 0;
        ok = (::close (fd) == 0) && ok;
        ok = ok && ::rename (tempPath.toRawUTF8(), target.getFullPathName().toRawUTF8()) == 0;

        if (! ok)
        {
            ::unlink (tempPath.toRawUTF8());
            return false;
        }

        syncFolder (folder);
        removeAbandonedParts (target);
        return true;
    }

    return false;
}
