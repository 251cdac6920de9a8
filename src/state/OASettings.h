#pragma once

#include "OAFileIO.h"

#include <map>

/** The user's preferences: string keys with fixed defaults, kept in a small
    XML file in the maker folder (productName + ".oasettings"). */
class OASettings
{
public:
    OASettings (juce::String productName, std::map<juce::String, juce::String> defaults);

    /** Reads the settings file over the current values. Only keys that
        already exist are taken; a missing or unreadable file leaves the
        defaults. "patchLocation" ends up as a real path: "__default__" (or no
        file at all) becomes the product folder's path. Never writes. */
    void load (OAFileIO io);

    /** Writes every value (in key order) and the version into the settings
        file. Returns false when the file could not be written; the old file
        then stays as it was. */
    bool save (OAFileIO io) const;

    /** The value of an existing key: false when it starts with "f" in any
        letter case, true otherwise. Throws std::out_of_range for unknown keys. */
    bool getBool (juce::String key) const;

    juce::File getSettingsFile (const OAFileIO& io) const;

    juce::String productName;
    std::map<juce::String, juce::String> values;
};
