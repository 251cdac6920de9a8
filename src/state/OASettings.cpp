#include "OASettings.h"

#include "OAXmlTools.h"
#include "Version.h"

#include <juce_data_structures/juce_data_structures.h>

OASettings::OASettings (juce::String name, std::map<juce::String, juce::String> defaults)
    : productName (std::move (name)), values (std::move (defaults))
{
}

juce::File OASettings::getSettingsFile (const OAFileIO& io) const
{
    return io.makerFolder.getChildFile (productName + ".oasettings");
}

void OASettings::load (OAFileIO io)
{
    const auto read = OAFileIO::readTextFile (getSettingsFile (io));

    if (read.status == OAFileIO::ReadStatus::missing)
        values["patchLocation"] = io.productFolder.getFullPathName();

    // Anything that isn't readable XML counts as an empty file: no keys read.
    // (Checked first: some broken texts make the framework's parser loop.)
    const auto xml = read.status == OAFileIO::ReadStatus::ok ? OAXmlTools::parse (read.text) : nullptr;
    const auto root = xml != nullptr ? juce::ValueTree::fromXml (*xml) : juce::ValueTree();

    for (auto& [key, value] : values)
        if (root.hasProperty (key))
            value = root[key].toString();

    if (values.at ("patchLocation") == "__default__")
        values.at ("patchLocation") = io.productFolder.getFullPathName();
}

bool OASettings::save (OAFileIO io) const
{
    juce::XmlElement root ("OrbelAudioSettings");

    for (const auto& [key, value] : values)
        root.setAttribute (key, value);

    root.setAttribute ("version", Korvane::versionText);

    return OAFileIO::writeTextFileAtomically (getSettingsFile (io), root.toString());
}

bool OASettings::getBool (juce::String key) const
{
    return ! values.at (key).toLowerCase().startsWith ("f");
}
