#include "FileTestSupport.h"
#include "state/OASettings.h"
#include "processor/PluginProcessor.h"

#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace FileTests;

namespace
{
    const std::map<juce::String, juce::String> defaults {
        { "updates", "true" }, { "patchLocation", "__default__" }, { "motdTag", "x" },
        { "initLog", "true" }, { "startupMsg", "true" }, { "showBgVis", "true" },
    };

    OASettings freshSettings()
    {
        return OASettings ("Korvane", defaults);
    }

    std::map<juce::String, juce::String> defaultsResolved()
    {
        auto expected = defaults;
        expected["patchLocation"] = patchFolder().getFullPathName();
        return expected;
    }

    class Settings : public CleanHome {};
    class SettingsFolder : public CleanHome {};
    class TextFiles : public CleanHome {};
}

//==============================================================================
TEST_F (Settings, ProcessorStartsWithTheSixDefaults)
{
    kvAP proc;
    EXPECT_EQ (proc.settings.productName, "Korvane");
    EXPECT_EQ (proc.settings.values, defaultsResolved());
    EXPECT_EQ (proc.fileIO.makerFolder, makerFolder());
    EXPECT_EQ (proc.fileIO.productFolder, patchFolder());
    EXPECT_FALSE (settingsFile().exists()); // loading never writes
}

TEST_F (Settings, SaveWritesEveryValueInKeyOrderThenTheVersion)
{
    auto settings = freshSettings();
    settings.values["motdTag"] = "news-7";
    ASSERT_TRUE (settings.save (OAFileIO()));

    ASSERT_TRUE (settingsFile().existsAsFile());
    EXPECT_TRUE (isCrLfUtf8WithoutBom (bytesOf (settingsFile())));

    const auto text = textOf (settingsFile());
    EXPECT_TRUE (text.startsWith ("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n\r\n<OrbelAudioSettings "));

    auto xml = juce::parseXML (text);
    ASSERT_NE (xml, nullptr);
    EXPECT_EQ (xml->getTagName(), "OrbelAudioSettings");
    EXPECT_EQ (xml->getNumChildElements(), 0);

    const juce::StringArray order { "initLog", "motdTag", "patchLocation", "showBgVis", "startupMsg", "updates", "version" };
    ASSERT_EQ (xml->getNumAttributes(), order.size());

    for (int i = 0; i < order.size(); ++i)
        EXPECT_EQ (xml->getAttributeName (i), order[i]);

    EXPECT_EQ (xml->getStringAttribute ("motdTag"), "news-7");
    EXPECT_EQ (xml->getStringAttribute ("version"), "25.9.26");

    // And back.
    auto loaded = freshSettings();
    loaded.load (OAFileIO());
    EXPECT_EQ (loaded.values.at ("motdTag"), "news-7");
    EXPECT_EQ (loaded.values.at ("patchLocation"), patchFolder().getFullPathName()); // saved as "__default__"
}

TEST (SettingsBool, FalseOnlyForValuesStartingWithF)
{
    struct Case { const char* value; bool result; };
    const Case cases[] = {
        { "true", true }, { "TRUE", true }, { "True", true }, { "yes", true }, { "0", true }, { "", true },
        { "false", false }, { "FALSE", false }, { "False", false }, { "f", false }, { "F", false }, { "fancy", false },
        { " false", true },
    };

    auto settings = freshSettings();

    for (const auto& c : cases)
    {
        settings.values["updates"] = c.value;
        EXPECT_EQ (settings.getBool ("updates"), c.result) << '"' << c.value << '"';
    }

    EXPECT_THROW (settings.getBool ("noSuchKey"), std::out_of_range);
}

TEST_F (Settings, LoadTakesOnlyKnownKeys)
{
    writeText (settingsFile(),
               "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n\r\n"
               "<OrbelAudioSettings theme=\"dark\" updates=\"false\" showBgVis=\"False\" version=\"20.1.1\"/>\r\n");

    auto settings = freshSettings();
    settings.load (OAFileIO());

    auto expected = defaultsResolved();
    expected["updates"] = "false";
    expected["showBgVis"] = "False";
    EXPECT_EQ (settings.values, expected);
    EXPECT_EQ (settings.values.count ("theme"), 0u);
    EXPECT_EQ (settings.values.count ("version"), 0u);
}

TEST_F (Settings, DefaultMarkerBecomesTheProductFolder)
{
    writeText (settingsFile(), "<OrbelAudioSettings patchLocation=\"__default__\" motdTag=\"seen\"/>");

    auto settings = freshSettings();
    settings.load (OAFileIO());
    EXPECT_EQ (settings.values.at ("patchLocation"), patchFolder().getFullPathName());
    EXPECT_EQ (settings.values.at ("motdTag"), "seen");
}

TEST_F (Settings, MissingOrUnreadableFilesGiveTheDefaults)
{
    struct Case { const char* name; std::function<void()> prepare; };

    const Case cases[] = {
        { "missing", [] {} },
        { "not XML", [] { writeText (settingsFile(), "updates=false\nmotdTag=zzz\n"); } },
        { "empty", [] { writeText (settingsFile(), ""); } },
        { "binary", []
          {
              juce::MemoryBlock junk (2000);
              for (size_t i = 0; i < junk.getSize(); ++i)
                  junk[i] = (char) (255 - i % 7);
              writeBytes (settingsFile(), junk.getData(), junk.getSize());
          } },
        { "huge", []
          {
              // Valid XML at the start, but far larger than any settings file.
              juce::String text ("<OrbelAudioSettings updates=\"false\" motdTag=\"");
              text << juce::String::repeatedString ("x", 3 * 1024 * 1024) << "\"/>";
              writeText (settingsFile(), text);
          } },
        { "a folder", [] { settingsFile().createDirectory(); } },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        makerFolder().deleteRecursively();
        c.prepare();
        const auto existedBefore = settingsFile().exists();

        auto settings = freshSettings();
        settings.load (OAFileIO());

        EXPECT_EQ (settings.values, defaultsResolved());
        EXPECT_EQ (settingsFile().exists(), existedBefore);
    }
}

//==============================================================================
TEST_F (SettingsFolder, PatchLocationMovesThePatchFolderOnlyWhenItIsAFullPath)
{
    const auto elsewhere = home().getChildFile ("Elsewhere Patches");
    elsewhere.createDirectory();

    struct Case { juce::String location; juce::File expectedFolder; };
    const Case cases[] = {
        { elsewhere.getFullPathName(), elsewhere },
        { "~/Elsewhere Patches", elsewhere },
        { "__default__", patchFolder() },
        { "relative/folder", patchFolder() },
        { "Korvane", patchFolder() },
        { "", patchFolder() },
        { "~nosuchuser/patches", patchFolder() },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.location.toStdString());
        makerFolder().deleteRecursively();
        auto stored = freshSettings();
        stored.values["patchLocation"] = c.location;
        ASSERT_TRUE (stored.save (OAFileIO()));

        kvAP proc;

        ASSERT_EQ (proc.fileIO.productFolder, c.expectedFolder); // before anything is written there
        EXPECT_TRUE (juce::File::isAbsolutePath (proc.settings.values.at ("patchLocation")));
        EXPECT_EQ (juce::File (proc.settings.values.at ("patchLocation")), c.expectedFolder);
        EXPECT_EQ (proc.fileIO.makerFolder, makerFolder());

        // Patches follow the folder; reports stay in the default one.
        ASSERT_TRUE (proc.savePatch ("Here.kvn"));
        EXPECT_TRUE (c.expectedFolder.getChildFile ("Here.kvn").existsAsFile());
        EXPECT_EQ (proc.bugReporter.productFolder, patchFolder());
        c.expectedFolder.getChildFile ("Here.kvn").deleteFile();
    }

    EXPECT_TRUE (notices.empty());
}

//==============================================================================
TEST_F (TextFiles, WritesGoThroughATemporaryFileAndOneRename)
{
    const auto file = makerFolder().getChildFile ("Some.oasettings");
    ASSERT_TRUE (OAFileIO::writeTextFileAtomically (file, "old content\n"));

    const auto witness = home().getChildFile ("witness");
    witness.deleteFile();
    ASSERT_EQ (::link (file.getFullPathName().toRawUTF8(), witness.getFullPathName().toRawUTF8()), 0);

    ASSERT_TRUE (OAFileIO::writeTextFileAtomically (file, "new\ncontent\r\nhere\r"));

    EXPECT_EQ (textOf (witness), "old content\r\n"); // an in-place write would have changed it
    EXPECT_EQ (textOf (file), "new\r\ncontent\r\nhere\r\n");
    EXPECT_EQ (fileNamesIn (makerFolder()), juce::StringArray ({ "Some.oasettings" }));
    witness.deleteFile();
}

TEST_F (TextFiles, FailedWriteLeavesTheOldFileWhole)
{
    const auto file = makerFolder().getChildFile ("Korvane.oasettings");
    const juce::String old = juce::String::repeatedString ("old line\r\n", 50);
    ASSERT_TRUE (OAFileIO::writeTextFileAtomically (file, old));

    struct rlimit saved {};
    ASSERT_EQ (getrlimit (RLIMIT_FSIZE, &saved), 0);
    const auto previousHandler = std::signal (SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 100; // a disk that is full after 100 bytes

    ASSERT_EQ (setrlimit (RLIMIT_FSIZE, &small), 0);
    const auto written = OAFileIO::writeTextFileAtomically (file, juce::String::repeatedString ("new line\r\n", 500));
    setrlimit (RLIMIT_FSIZE, &saved);
    std::signal (SIGXFSZ, previousHandler);

    EXPECT_FALSE (written);
    EXPECT_EQ (textOf (file), old);
    EXPECT_EQ (fileNamesIn (makerFolder()), juce::StringArray ({ "Korvane.oasettings" }));

    // Nor can a folder in the way be replaced.
    const auto folderInTheWay = makerFolder().getChildFile ("Blocked.kvn");
    folderInTheWay.getChildFile ("inner").createDirectory();
    EXPECT_FALSE (OAFileIO::writeTextFileAtomically (folderInTheWay, "text"));
    EXPECT_TRUE (folderInTheWay.getChildFile ("inner").isDirectory());
}

TEST_F (TextFiles, ReadsAreCappedAndOnlyOfRegularTextFiles)
{
    const auto file = makerFolder().getChildFile ("probe.kvn");
    using Status = OAFileIO::ReadStatus;

    EXPECT_EQ (OAFileIO::readTextFile (file).status, Status::missing);

    writeText (file, juce::String::fromUTF8 ("\xef\xbb\xbf<a b=\"\xc3\xa9\"/>"));
    auto read = OAFileIO::readTextFile (file);
    EXPECT_EQ (read.status, Status::ok);
    EXPECT_EQ (read.text, juce::String::fromUTF8 ("<a b=\"\xc3\xa9\"/>")); // mark dropped

    writeText (file, juce::String::repeatedString ("a", (int) OAFileIO::maxTextFileBytes));
    EXPECT_EQ (OAFileIO::readTextFile (file).status, Status::ok);
    writeText (file, juce::String::repeatedString ("a", (int) OAFileIO::maxTextFileBytes + 1));
    EXPECT_EQ (OAFileIO::readTextFile (file).status, Status::tooLarge);

    const char withNul[] = { '<', 'a', 0, '/', '>' };
    writeBytes (file, withNul, sizeof (withNul));
    EXPECT_EQ (OAFileIO::readTextFile (file).status, Status::notText);

    const char badUtf8[] = { '<', 'a', (char) 0xc3, '/', '>' };
    writeBytes (file, badUtf8, sizeof (badUtf8));
    EXPECT_EQ (OAFileIO::readTextFile (file).status, Status::notText);

    // A named pipe is not a file: it is not opened for reading (which would block).
    file.deleteFile();
    ASSERT_EQ (::mkfifo (file.getFullPathName().toRawUTF8(), 0600), 0);
    EXPECT_EQ (OAFileIO::readTextFile (file).status, Status::missing);
    file.deleteFile();

    // Kernel files report no size but have content; the cap still holds.
    EXPECT_EQ (OAFileIO::readTextFile (juce::File ("/proc/self/status"), 16).status, Status::tooLarge);
}
