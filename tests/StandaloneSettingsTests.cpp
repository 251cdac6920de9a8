#include "FileTestSupport.h"
#include "state/StandaloneSettingsCheck.h"

#include <gtest/gtest.h>

#include <string>

using namespace FileTests;

namespace
{
juce::PropertiesFile::Options windowSettingsOptions()
{
    juce::PropertiesFile::Options options;
    options.applicationName = "Korvane";
    options.filenameSuffix = ".settings";
    options.folderName = "~/.config";
    return options;
}

juce::File windowSettingsFile() { return windowSettingsOptions().getDefaultFile(); }

std::string nested (int levels)
{
    std::string text;
    for (int i = 0; i < levels; ++i)
        text += "<a>";
    for (int i = 0; i < levels; ++i)
        text += "</a>";
    return text;
}

std::string propertiesAround (const std::string& inside)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<PROPERTIES>" + inside + "</PROPERTIES>\n";
}
}

// What the window itself writes must pass untouched, audio set-up included.
TEST (StandaloneSettings, TheWindowsOwnFileIsReadAsItIs)
{
    ASSERT_TRUE (homeIsTemporary());
    const auto file = windowSettingsFile();
    file.deleteFile();

    {
        juce::PropertiesFile written (windowSettingsOptions());
        juce::XmlElement setup ("DEVICESETUP");
        setup.setAttribute ("deviceType", "JACK");
        setup.setAttribute ("audioOutputDeviceName", juce::String::fromUTF8 ("Système – sortie"));
        written.setValue ("audioSetup", &setup);
        written.setValue ("filterState", juce::String::repeatedString ("QUJD", 200000)); // a large last sound
        ASSERT_TRUE (written.save());
    }

    const auto before = bytesOf (file);
    const auto check = StandaloneSettingsCheck::setAsideIfUnsafe (file);
    EXPECT_TRUE (check.notice.isEmpty()) << check.notice;
    EXPECT_EQ (check.fileToUse, file);
    EXPECT_EQ (bytesOf (file), before);

    juce::PropertiesFile read (check.fileToUse, windowSettingsOptions());
    EXPECT_TRUE (StandaloneSettingsCheck::dropUnsafeValues (read).isEmpty());
    ASSERT_NE (read.getXmlValue ("audioSetup"), nullptr);
    EXPECT_EQ (read.getXmlValue ("audioSetup")->getStringAttribute ("audioOutputDeviceName"), juce::String::fromUTF8 ("Système – sortie"));

    file.deleteFile();
    EXPECT_TRUE (StandaloneSettingsCheck::setAsideIfUnsafe (file).notice.isEmpty()); // no file: a first run
}

// A file the framework's parser cannot take is kept byte for byte under
// another name, and the window starts from an empty one.
TEST (StandaloneSettings, AnUnsafeFileIsSetAsideAndKept)
{
    ASSERT_TRUE (homeIsTemporary());
    const auto file = windowSettingsFile();

    struct Case { const char* what; std::string bytes; const char* reason; };
    const Case cases[] = {
        { "40 000 levels", propertiesAround (nested (40000)), "nested more than 32 levels deep" },
        { "33 levels", propertiesAround (nested (32)), "nested more than 32 levels deep" },
        { "a document type", "<!DOCTYPE x [<!ENTITY a \"b\">]>" + propertiesAround (""), "" },
        { "binary", std::string ("PROP\0\0\0\x7f", 8), "not a text file" },
        { "an escaped value of 40 000 levels", propertiesAround ("<VALUE name=\"audioSetup\" val=\"" + [] {
              std::string e;
              for (auto c : nested (40000))
                  e += c == '<' ? std::string ("&lt;") : c == '>' ? std::string ("&gt;") : std::string (1, c);
              return e; }() + "\"/>"), "more than 4096 character references" },
        { "overlong UTF-8", propertiesAround ("<VALUE name=\"x\" val=\"\xc1\xbd\"/>"), "" },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        file.getParentDirectory().deleteRecursively();
        writeBytes (file, c.bytes.data(), c.bytes.size());

        const auto check = StandaloneSettingsCheck::setAsideIfUnsafe (file);
        EXPECT_TRUE (check.notice.contains ("couldn't be read")) << check.notice;
        EXPECT_TRUE (check.notice.contains (c.reason)) << check.notice;
        EXPECT_TRUE (check.notice.contains ("Korvane.settings.unreadable")) << check.notice;
        EXPECT_FALSE (check.fileToUse.exists());

        const auto kept = file.getSiblingFile ("Korvane.settings.unreadable");
        const auto keptBytes = bytesOf (kept);
        EXPECT_EQ (keptBytes, juce::MemoryBlock (c.bytes.data(), c.bytes.size()));

        juce::PropertiesFile fresh (check.fileToUse, windowSettingsOptions());
        EXPECT_EQ (fresh.getAllProperties().size(), 0);
    }

    // A second bad file never replaces the first one set aside.
    file.getParentDirectory().deleteRecursively();
    const auto first = propertiesAround (nested (100));
    writeBytes (file, first.data(), first.size());
    StandaloneSettingsCheck::setAsideIfUnsafe (file);
    const auto second = propertiesAround (nested (200));
    writeBytes (file, second.data(), second.size());
    const auto check = StandaloneSettingsCheck::setAsideIfUnsafe (file);
    EXPECT_EQ (bytesOf (file.getSiblingFile ("Korvane.settings.unreadable")), juce::MemoryBlock (first.data(), first.size()));
    EXPECT_EQ (file.getParentDirectory().findChildFiles (juce::File::findFiles, false).size(), 2);
    EXPECT_FALSE (file.exists());
    file.getParentDirectory().deleteRecursively();
}

// The audio set-up is XML text inside the file, parsed again when the window
// opens; a nested one goes, the rest of the settings stay.
TEST (StandaloneSettings, AnUnsafeAudioSetupIsDropped)
{
    ASSERT_TRUE (homeIsTemporary());
    const auto file = windowSettingsFile();
    file.getParentDirectory().deleteRecursively();

    // As a file: the framework's own save would parse the nested value again.
    // (A value of 40 000 levels cannot pass the file's own check: its
    // character references are bounded, which keeps it below a thousand.)
    std::string escaped;
    for (auto c : nested (1000))
        escaped += c == '<' ? std::string ("&lt;") : c == '>' ? std::string ("&gt;") : std::string (1, c);
    const auto text = propertiesAround ("<VALUE name=\"audioSetup\" val=\"" + escaped + "\"/>"
                                       "<VALUE name=\"other\" val=\"" + escaped + "\"/>"
                                       "<VALUE name=\"lastStateFile\" val=\"/tmp/a &lt; b.kvn\"/>"
                                       "<VALUE name=\"shouldMuteInput\" val=\"1\"/>");
    writeBytes (file, text.data(), text.size());

    const auto check = StandaloneSettingsCheck::setAsideIfUnsafe (file);
    ASSERT_TRUE (check.notice.isEmpty()) << check.notice; // the text is escaped: the file itself is flat

    juce::PropertiesFile read (check.fileToUse, windowSettingsOptions());
    const auto notice = StandaloneSettingsCheck::dropUnsafeValues (read);
    EXPECT_TRUE (notice.contains ("nested more than 32 levels deep")) << notice;
    EXPECT_TRUE (notice.contains ("audioSetup, other")) << notice;
    EXPECT_FALSE (read.containsKey ("audioSetup"));
    EXPECT_FALSE (read.containsKey ("other"));
    EXPECT_EQ (read.getValue ("lastStateFile"), "/tmp/a < b.kvn"); // markup-free text stays, whatever it holds
    EXPECT_TRUE (read.getBoolValue ("shouldMuteInput"));

    read.setValue ("shouldMuteInput", false);
    EXPECT_TRUE (read.save()); // what is left saves safely
    file.getParentDirectory().deleteRecursively();
}
