#pragma once

#include <juce_core/juce_core.h>

/** The two folders all of the program's files live in, and the one way the
    program reads and writes its small text files. */
struct OAFileIO
{
    /** home / "OrbelAudio" and home / "OrbelAudio" / "Korvane". */
    OAFileIO();

    juce::File makerFolder;
    juce::File productFolder; // the patch folder

    //==============================================================================
    /** Patch and settings files are a few kilobytes; nothing larger is read. */
    static constexpr juce::int64 maxTextFileBytes = 256 * 1024;

    enum class ReadStatus
    {
        ok,
        missing,    // no such regular file
        unreadable, // it is there, but cannot be read (permissions, an I/O error)
        tooLarge,   // more than maxTextFileBytes
        notText     // not UTF-8 text (binary data, NUL bytes)
    };

    struct ReadResult
    {
        ReadStatus status = ReadStatus::missing;
        juce::String text; // empty unless status is ok; a leading byte-order mark is dropped
    };

    /** Reads a small UTF-8 text file, never more than maxBytes (plus one, to
        tell that it is larger). Only regular files are opened, so a FIFO or a
        device can't block or flood the caller. */
    static ReadResult readTextFile (const juce::File& file, juce::int64 maxBytes = maxTextFileBytes);

    /** What readTextFile makes of the bytes it read: ok with the text, or
        notText for anything but well-formed UTF-8 without zero bytes. */
    static ReadResult decodeText (const void* data, size_t numBytes);

    /** Replaces the file's content with the text as UTF-8 without byte-order
        mark, every line end "\r\n". The text goes to a temporary file next to
        the target first, which then replaces the target in one rename, so the
        old file stays whole when the write fails part way (full disk, crash).
        Missing parent folders are created. A symbolic link is kept: the file
        it leads to is replaced instead (its temporary file beside it, its
        folder not created), and a replaced file keeps its permission bits.
        Returns false (and leaves the target untouched) on any failure. After
        a successful write, temporary files of this target left by processes
        that died while saving are removed. */
    static bool writeTextFileAtomically (const juce::File& file, const juce::String& text);

    /** Creates the file, which must not exist yet, with the bytes, flushed to
        disk. On failure the result says why, and a partly written file may be
        left for the caller to remove. */
    static juce::Result writeNewFile (const juce::File& file, const void* data, size_t numBytes);

    /** Makes new names in the folder (a rename, a created file) survive a
        power cut; a failure only costs durability. */
    static void syncFolder (const juce::File& folder);

    /** The text with every line end as "\r\n" (lone "\n" and "\r" included). */
    static juce::String withCrLf (const juce::String& text);
};
