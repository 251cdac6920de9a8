#include "OAXmlTools.h"

#include "OAStringTools.h"

#include <cstring>
#include <set>

bool OAXmlTools::isSafeToParse (const char* utf8, int numBytes)
{
    if (utf8 == nullptr || numBytes <= 0)
        return true;

    const auto* end = utf8 + numBytes;

    if (const auto* zero = static_cast<const char*> (std::memchr (utf8, 0, (size_t) numBytes)))
        end = zero;

    if (! OAStringTools::isWellFormedUtf8 (utf8, (size_t) (end - utf8)))
        return false;

    const auto* p = utf8;

    if (end - p >= 3 && std::memcmp (p, "\xef\xbb\xbf", 3) == 0)
        p += 3;

    while (p < end && juce::CharacterFunctions::isWhitespace (*p))
        ++p;

    // The declaration, if there is one, ends at its first "?>".
    if (end - p >= 2 && p[0] == '<' && p[1] == '?')
    {
        for (p += 2; p < end && ! (p[0] == '?' && p + 1 < end && p[1] == '>'); ++p) {}

        if (p >= end)
            return false;

        p += 2;
    }

    for (; p + 1 < end; ++p)
        if (p[0] == '<' && p[1] == '?')
            return false;

    return true;
}

bool OAXmlTools::hasDuplicateAttributes (const juce::XmlElement& element)
{
    std::set<juce::String> names;

    for (int i = 0; i < element.getNumAttributes(); ++i)
        if (! names.insert (element.getAttributeName (i)).second)
            return true;

    for (auto* child : element.getChildIterator())
        if (hasDuplicateAttributes (*child))
            return true;

    return false;
}

std::unique_ptr<juce::XmlElement> OAXmlTools::parse (const juce::String& text)
{
    if (! isSafeToParse (text.toRawUTF8(), (int) text.getNumBytesAsUTF8()))
        return nullptr;

    return juce::parseXML (text);
}
