#pragma once

#include <juce_core/juce_core.h>

#include <memory>

/** XML from outside (patch files, host state, settings) goes through here
    before the framework's parser sees it. */
namespace OAXmlTools
{
    /** Whether the framework's XML parser can take these bytes safely: they
        must be well-formed UTF-8 (the parser reads past the end of a text that
        ends inside a multi-byte sequence, and the framework's strings overrun
        their buffers on overlong forms), and "<?" may only open the leading
        declaration (a processing instruction followed by text inside an
        element makes the parser loop forever). The program never writes
        anything else. Reads up to numBytes or the first zero byte. */
    bool isSafeToParse (const char* utf8, int numBytes);

    /** Whether an element or any element inside it names an attribute twice.
        The framework's parser keeps both, the value tree reads the first and
        writes the last, so such a document changes when saved and reloaded. */
    bool hasDuplicateAttributes (const juce::XmlElement& element);

    /** juce::parseXML for text that passes isSafeToParse; null otherwise. */
    std::unique_ptr<juce::XmlElement> parse (const juce::String& text);
}
