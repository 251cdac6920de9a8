#pragma once

#include <juce_data_structures/juce_data_structures.h>

/** The standalone window keeps its own settings file (audio set-up, window
    place, the last sound as host state), which the framework reads with its
    XML parser before any of the program's code runs. These checks hold that
    file to the rules every other XML text from outside is held to. */
namespace StandaloneSettingsCheck
{
    /** The window's settings file holds the last sound, so it is allowed to be
        larger than a patch; anything beyond this is not one of ours. */
    constexpr juce::int64 maxFileBytes = 32 * 1024 * 1024;

    struct FileCheck
    {
        juce::File fileToUse; // the file the window's settings should be read from
        juce::String notice;  // empty when the file was fine (or absent)
    };

    /** When the file cannot be parsed safely (nested too deep, not UTF-8, too
        large, a binary file, ...), it is renamed to a free name beside it
        ("Korvane.settings.unreadable"), so that nothing of the user's is lost
        and the app starts as on a first run; the notice says so. When it
        cannot be moved either, fileToUse is a fresh name beside it, so the
        unsafe file is never read. */
    FileCheck setAsideIfUnsafe (const juce::File& file);

    /** The framework parses the values once more as XML (the audio set-up when
        the window opens, every value when the file is saved): a value holding
        markup that cannot be parsed safely is removed (for the audio set-up,
        the default one applies). The notice is empty when nothing was removed. */
    juce::String dropUnsafeValues (juce::PropertiesFile& settings);
}
