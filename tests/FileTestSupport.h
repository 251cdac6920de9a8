#pragma once

#include "diagnostics/BugReporter.h"
#include "diagnostics/Notices.h"

#include <gtest/gtest.h>

#include <csignal>
#include <vector>

#include <sys/resource.h>

/** Helpers for tests that touch the program's files. They all work below the
    temporary HOME that the test main sets up, and refuse to run otherwise. */
namespace FileTests
{
    inline juce::File home()
    {
        return juce::File::getSpecialLocation (juce::File::userHomeDirectory);
    }

    inline bool homeIsTemporary()
    {
        return home().getFullPathName().startsWith ("/tmp/korvane-test-home-");
    }

    inline juce::File makerFolder()  { return home().getChildFile ("OrbelAudio"); }
    inline juce::File patchFolder()  { return makerFolder().getChildFile ("Korvane"); }
    inline juce::File settingsFile() { return makerFolder().getChildFile ("Korvane.oasettings"); }

    /** The file's bytes, exactly as stored. */
    inline juce::MemoryBlock bytesOf (const juce::File& file)
    {
        juce::MemoryBlock block;
        file.loadFileAsData (block);
        return block;
    }

    inline juce::String textOf (const juce::File& file)
    {
        const auto block = bytesOf (file);
        return juce::String::fromUTF8 (static_cast<const char*> (block.getData()), (int) block.getSize());
    }

    inline void writeBytes (const juce::File& file, const void* data, size_t size)
    {
        file.getParentDirectory().createDirectory();
        ASSERT_TRUE (file.replaceWithData (data, size));
    }

    inline void writeText (const juce::File& file, const juce::String& text)
    {
        writeBytes (file, text.toRawUTF8(), text.getNumBytesAsUTF8());
    }

    /** Every line ends "\r\n", no byte-order mark, valid UTF-8. */
    inline ::testing::AssertionResult isCrLfUtf8WithoutBom (const juce::MemoryBlock& bytes)
    {
        const auto* data = static_cast<const unsigned char*> (bytes.getData());
        const auto size = bytes.getSize();

        if (size >= 3 && data[0] == 0xef && data[1] == 0xbb && data[2] == 0xbf)
            return ::testing::AssertionFailure() << "starts with a byte-order mark";

        if (! juce::CharPointer_UTF8::isValidString (static_cast<const char*> (bytes.getData()), (int) size))
            return ::testing::AssertionFailure() << "not UTF-8";

        for (size_t i = 0; i < size; ++i)
        {
            if (data[i] == '\n' && (i == 0 || data[i - 1] != '\r'))
                return ::testing::AssertionFailure() << "lone LF at byte " << i;

            if (data[i] == '\r' && (i + 1 >= size || data[i + 1] != '\n'))
                return ::testing::AssertionFailure() << "lone CR at byte " << i;
        }

        return ::testing::AssertionSuccess();
    }

    /** Runs fn on a disk that is full after limitBytes bytes of any one file:
        writes beyond it fail (EFBIG) instead of raising SIGXFSZ. */
    template <typename Fn>
    void withFileSizeLimit (rlim_t limitBytes, Fn&& fn)
    {
        struct rlimit saved {};
        ASSERT_EQ (getrlimit (RLIMIT_FSIZE, &saved), 0);
        const auto previousHandler = std::signal (SIGXFSZ, SIG_IGN);
        struct rlimit small = saved;
        small.rlim_cur = limitBytes;
        ASSERT_EQ (setrlimit (RLIMIT_FSIZE, &small), 0);

        fn();

        setrlimit (RLIMIT_FSIZE, &saved);
        std::signal (SIGXFSZ, previousHandler);
    }

    /** Names of the files in a folder (not recursive), hidden ones included. */
    inline juce::StringArray fileNamesIn (const juce::File& folder)
    {
        juce::StringArray names;

        for (const auto& f : folder.findChildFiles (juce::File::findFilesAndDirectories, false, "*"))
            names.add (f.getFileName());

        names.sort (false);
        return names;
    }

    /** Starts and ends each test with no ~/OrbelAudio at all, and records
        every notice and every "reveal in the file manager" in between. */
    class CleanHome : public ::testing::Test
    {
    protected:
        void SetUp() override
        {
            ASSERT_TRUE (homeIsTemporary()) << "tests must run with the temporary HOME of the test main";
            makerFolder().deleteRecursively();

            Notices::setHandler ([this] (const Notice& n) { notices.push_back (n); });
            BugReporter::setRevealHook ([this] (const juce::File& f) { revealed.push_back (f); });
        }

        void TearDown() override
        {
            Notices::setHandler (Notices::toStandardError());
            BugReporter::setRevealHook ([] (const juce::File&) {});

            if (homeIsTemporary())
                makerFolder().deleteRecursively();
        }

        std::vector<Notice> notices;
        std::vector<juce::File> revealed;
    };
}
