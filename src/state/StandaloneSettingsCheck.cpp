#include "StandaloneSettingsCheck.h"

#include "OAFileIO.h"
#include "OAXmlTools.h"

namespace StandaloneSettingsCheck
{
namespace
{
    juce::String whyUnsafe (const juce::File& file)
    {
        const auto read = OAFileIO::readTextFile (file, maxFileBytes);

        switch (read.status)
        {
            case OAFileIO::ReadStatus::ok:         break;
            case OAFileIO::ReadStatus::missing:    return {};
            case OAFileIO::ReadStatus::unreadable: return {}; // the framework can't read it either
            case OAFileIO::ReadStatus::tooLarge:   return "it is larger than 32 MB";
            case OAFileIO::ReadStatus::notText:    return "it is not a text file";
        }

        if (read.text.trim().isEmpty())
            return {};

        const auto utf8 = read.text.toUTF8();
        return OAXmlTools::checkBeforeParsing (utf8.getAddress(), (int) std::strlen (utf8.getAddress()));
    }
}

FileCheck setAsideIfUnsafe (const juce::File& file)
{
    const auto reason = whyUnsafe (file);

    if (reason.isEmpty())
        return { file, {} };

    auto aside = file.getSiblingFile (file.getFileName() + ".unreadable");

    if (aside.exists())
        aside = aside.getNonexistentSibling (false);

    if (file.moveFileTo (aside))
        return { file, "The window's settings file \"" + file.getFullPathName() + "\" couldn't be read (" + reason
                           + "), so Korvane starts with its default audio set-up. The file was kept as \""
                           + aside.getFileName() + "\"." };

    return { file.getNonexistentSibling (false),
             "The window's settings file \"" + file.getFullPathName() + "\" couldn't be read (" + reason
                 + "), so Korvane starts with its default audio set-up (and can't change that file)." };
}

juce::String dropUnsafeValues (juce::PropertiesFile& settings)
{
    // The framework parses every value as XML once more: the audio set-up when
    // the window opens, and all of them each time the file is saved. A value
    // without markup stops the parser at its first character.
    juce::StringArray dropped;
    juce::String firstReason;
    const auto keys = settings.getAllProperties().getAllKeys();

    for (const auto& key : keys)
    {
        const auto text = settings.getValue (key);

        if (! text.containsChar ('<'))
            continue;

        const auto utf8 = text.toUTF8();
        const auto reason = OAXmlTools::checkBeforeParsing (utf8.getAddress(), (int) std::strlen (utf8.getAddress()));

        if (reason.isNotEmpty())
        {
            settings.removeValue (key);
            dropped.add (key);

            if (firstReason.isEmpty())
                firstReason = reason;
        }
    }

    if (dropped.isEmpty())
        return {};

    return "Some of the window's settings couldn't be read (" + firstReason + "), so Korvane starts without them ("
           + dropped.joinIntoString (", ") + ")" + (dropped.contains ("audioSetup") ? ", with its default audio set-up." : ".");
}
}
