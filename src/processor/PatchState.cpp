#include "diagnostics/Notices.h"
#include "state/OAStringTools.h"
#include "state/OAXmlTools.h"
#include "PluginProcessor.h"
#include "state/Version.h"

#include <cmath>
#include <set>
#include <iostream>

namespace
{
    /** A document is a patch when its root carries at least one PARAM child
        naming a parameter of the table; anything else (another program's XML,
        an empty element) is refused rather than applied, and so is a document
        that names an attribute twice (not XML; it would not reload as it was). */
    bool isPatchDocument (const juce::XmlElement& root, const ParamMan& table)
    {
        if (OAXmlTools::hasDuplicateAttributes (root))
            return false;

        for (auto* child : root.getChildWithTagNameIterator ("PARAM"))
            if (table.paramsById.count (child->getStringAttribute ("id")) > 0)
                return true;

        return false;
    }

    int countElements (const juce::XmlElement& element)
    {
        int count = 1;

        for (auto* child : element.getChildIterator())
            if (! child->isTextElement())
                count += countElements (*child);

        return count;
    }

    /** Writing a document back adds what the program keeps of its own: a
        PARAM for every parameter, the uiState child and the root attributes
        of name, version and the mapping keys. Whatever else a document holds must
        leave room for them within the limits of the XML check, or the state
        saved from it would be refused when it is loaded again. What the
        program's own parts take is counted once, whether the document has
        them yet or not. */
    bool leavesRoomToBeSavedAgain (const juce::XmlElement& root, const ParamMan& table,
                                   const std::map<juce::String, juce::String>& modMap)
    {
        using Limits = OAXmlTools::Limits;
        juce::StringArray ownRootAttributes { "patchName", "version" };

        for (const auto& entry : modMap)
            ownRootAttributes.add (entry.first);

        const auto ownElements = (int) table.paramsById.size() + 1;

        int otherElements = countElements (root) - 1;
        std::set<juce::String> ownSeen;

        for (auto* child : root.getChildIterator())
        {
            const auto own = child->hasTagName ("uiState") ? juce::String ("uiState")
                           : (child->hasTagName ("PARAM") && table.paramsById.count (child->getStringAttribute ("id")) > 0)
                                 ? child->getStringAttribute ("id") : juce::String();

            if (own.isNotEmpty() && ownSeen.insert (own).second)
                otherElements -= countElements (*child);
        }

        int otherAttributes = 0;

        for (int i = 0; i < root.getNumAttributes(); ++i)
            otherAttributes += ownRootAttributes.contains (root.getAttributeName (i)) ? 0 : 1;

        return 1 + ownElements + otherElements <= Limits::maxElements
            && ownRootAttributes.size() + otherAttributes <= Limits::maxAttributesPerElement;
    }

    /** A value that is not a finite number ("nan", "inf", or "1e39", which a
        float cannot hold) counts as no value: the parameter takes its
        default, as for a PARAM without one. The parameter tree binds every
        child of the root that names a parameter, whatever its tag. */
    void dropNonFiniteValues (juce::XmlElement& root)
    {
        for (auto* child : root.getChildIterator())
            if (child->hasAttribute ("value")
                && ! std::isfinite ((float) child->getStringAttribute ("value").getDoubleValue()))
                child->removeAttribute ("value");
    }

    /** A problem with host state, told to the user. In a plug-in host the
        project may be loading with none of the program's windows open, and
        a message box raised from the plug-in's own message thread there
        brings the whole host down (the test host crashed with and without a
        display), so the plug-in formats say it on stderr only; the log's
        state report holds the details either way. */
    void tellAboutHostState (const kvAP& p, const juce::String& text)
    {
        const auto inAPluginHost = p.wrapperType != juce::AudioProcessor::wrapperType_Standalone
                                && p.wrapperType != juce::AudioProcessor::wrapperType_Undefined;

        if (inAPluginHost)
            std::cerr << "Korvane: " << text << std::endl;
        else
            Notices::show ("Uhh..", text, "Bummer...");
    }

    /** The framework unpacks host state with String::fromUTF8, which checks
        nothing, and parses it at once: the text is checked here first, and
        its size bounded (parsing and applying cost time in proportion). */
    bool hostStateTextIsSafeToParse (const void* data, int sizeInBytes)
    {
        if (data == nullptr || sizeInBytes <= 8)
            return true; // too short to hold text; the framework refuses it

        const auto storedLength = (int) juce::ByteOrder::littleEndianInt (juce::addBytesToPointer (data, 4));
        const auto length = juce::jmin (sizeInBytes - 8, storedLength);

        if (length > kvAP::maxHostStateTextBytes)
            return false;

        return length <= 0 || OAXmlTools::isSafeToParse (static_cast<const char*> (data) + 8, length);
    }
}

std::unique_ptr<juce::XmlElement> kvAP::buildPatchData()
{
    auto xml = apvts.copyState().createXml();

    if (xml == nullptr)
        return nullptr;

    xml->setAttribute ("patchName", patchName);
    xml->setAttribute ("version", Korvane::versionText);

    for (const auto& [key, value] : modMap)
        xml->setAttribute (key, value);

    return xml;
}

juce::String kvAP::buildPatchDataString()
{
    if (auto xml = buildPatchData())
        return xml->toString();

    return {};
}

void kvAP::getStateInformation (juce::MemoryBlock& destData)
{
    if (auto xml = buildPatchData())
    {
        copyXmlToBinary (*xml, destData);
        return;
    }

    tellAboutHostState (*this, "There was an issue getting state data.");
    logStateReport ("getStateInformation Bug");
}

void kvAP::setStateInformation (const void* data, int sizeInBytes)
{
    auto xml = hostStateTextIsSafeToParse (data, sizeInBytes) ? getXmlFromBinary (data, sizeInBytes) : nullptr;

    if (xml == nullptr || ! isPatchDocument (*xml, paramMan) || ! leavesRoomToBeSavedAgain (*xml, paramMan, modMap))
    {
        tellAboutHostState (*this, "There was an issue setting state data.");
        logStateReport ("setStateInformation Bug");
        return;
    }

    patchName = xml->getStringAttribute ("patchName");

    for (const auto& [key, value] : getModMap())
    {
        const auto stored = xml->getStringAttribute (key);

        if (stored.isNotEmpty())
            setModMapEntry (key, stored);
    }

    dropNonFiniteValues (*xml);
    apvts.replaceState (juce::ValueTree::fromXml (*xml));
    updateOscTypes();

    // The tree hands out the new values in id order, so settings that depend
    // on others (detune and volume are shared out by the unison count) may
    // have been applied too early.
    // Re-apply everything in table order, as a patch load does; before the
    // first prepareToPlay the engine takes nothing yet.
    if (! bulkUpdate)
        updateAllParams();
}

juce::ValueTree kvAP::loadModMaps (juce::ValueTree tree)
{
    for (const auto& [key, value] : getModMap())
        if (tree.hasProperty (key))
            setModMapEntry (key, tree[key].toString());

    return tree.createCopy();
}

juce::Result kvAP::replaceState (const juce::String& xmlText)
{
    juce::String refused;
    const auto xml = OAXmlTools::parse (xmlText, &refused);

    if (xml == nullptr)
        return juce::Result::fail (refused.isNotEmpty() ? refused : juce::String ("the file is not an XML document"));

    if (! isPatchDocument (*xml, paramMan))
        return juce::Result::fail ("the document holds no patch");

    if (! leavesRoomToBeSavedAgain (*xml, paramMan, modMap))
        return juce::Result::fail ("the document is too large to be saved again");

    dropNonFiniteValues (*xml);

    for (auto* section : { &synth1, &synth2 })
        for (auto& synth : section->synths)
            synth->allNotesOff (1, false);

    const auto tree = juce::ValueTree::fromXml (*xml);
    loadModMaps (tree);
    apvts.replaceState (tree);
    return juce::Result::ok();
}

juce::String kvAP::getModMap (const juce::String& key) const
{
    const auto found = modMap.find (key);
    return found != modMap.end() ? found->second : juce::String ("unknown");
}

std::map<juce::String, juce::String> kvAP::getModMap() const
{
    return modMap;
}

bool kvAP::setModMapEntry (const juce::String& key, const juce::String& value)
{
    const auto found = modMap.find (key);

    if (found == modMap.end())
        return false;

    found->second = value;
    modMapChanged();
    return true;
}

//==============================================================================
bool kvAP::isVersionMismatch (const juce::String& documentVersion)
{
    // Compared as text, piece by piece, as the version check always has:
    // "25.10" counts as older than "25.9". The third piece never matters.
    const auto ours = OAStringTools::split (Korvane::versionText, ".");
    const auto theirs = OAStringTools::split (documentVersion, ".");

    // A missing piece reads as empty text.
    return ours[0] > theirs[0] || ours[1] > theirs[1];
}

juce::String kvAP::versionMismatchText (const juce::String& documentVersion)
{
    return "This patch was made with version " + documentVersion + " of the plugin. You are using version "
         + Korvane::versionText + ". So this patch might not work as expected!";
}
