#pragma once

#include <juce_core/juce_core.h>

#include <memory>

/** XML from outside (patch files, host state, settings) goes through here
    before the framework's parser sees it. */
namespace OAXmlTools
{
    /** How far a document from outside may reach. The framework's parser
        recurses once per level of nesting (tens of thousands of levels run it
        out of stack), and its value tree copies attributes one by one with a
        search each time (tens of thousands on one element take seconds).
        The program's own documents are three levels deep, hold about ninety
        elements of at most ten attributes, and use names of at most twenty
        characters. The element bound lies above what a patch file of the
        largest size read can hold, so that anything loaded from a file can
        be saved and loaded again. The parser decodes an attribute value one
        character reference ("&amp;", "&#65;") at a time, measuring the whole
        value so far at each one: a value of millions of them takes minutes. */
    struct Limits
    {
        static constexpr int maxDepth = 32;
        static constexpr int maxElements = 1 << 17;
        static constexpr int maxAttributesPerElement = 256;
        static constexpr int maxNameBytes = 256;
        static constexpr int maxReferencesPerValue = 4096;
    };

    /** Empty when the framework's XML parser can take these bytes safely,
        otherwise why not ("the document is nested more than 32 levels deep").
        Safe means: well-formed UTF-8 (the parser reads past the end of a text
        that ends inside a multi-byte sequence, and the framework's strings
        overrun their buffers on overlong forms); "<?" only in the leading
        declaration (a processing instruction followed by text inside an
        element makes the parser loop forever); no document type declaration
        (it defines entities that expand into more markup); and, measured by
        a flat scan that reads the markup exactly as the parser will, no more
        nesting, elements, attributes per element or name length than Limits
        allows. Within the markup the scan takes only what the program writes
        and the parser reads alike: ASCII names, quoted attribute values, the
        five named entities and character numbers, comments and CDATA.
        Anything else is refused as not well-formed. Reads up to numBytes or
        the first zero byte, and stops where the parser stops: at the end of
        the first element. */
    juce::String checkBeforeParsing (const char* utf8, int numBytes);

    inline bool isSafeToParse (const char* utf8, int numBytes)
    {
        return checkBeforeParsing (utf8, numBytes).isEmpty();
    }

    /** Whether an element or any element inside it names an attribute twice.
        The framework's parser keeps both, the value tree reads the first and
        writes the last, so such a document changes when saved and reloaded. */
    bool hasDuplicateAttributes (const juce::XmlElement& element);

    /** juce::parseXML for text that passes checkBeforeParsing; null otherwise,
        and then whyRefused (when given) says why. A text that passes but does
        not parse also gives null, with whyRefused left empty. */
    std::unique_ptr<juce::XmlElement> parse (const juce::String& text, juce::String* whyRefused = nullptr);
}
