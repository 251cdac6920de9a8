#include "OAXmlTools.h"

#include "OAStringTools.h"

#include <algorithm>
#include <cstring>
#include <set>

namespace
{
    using Limits = OAXmlTools::Limits;

    // Reasons, as the end of "... couldn't be loaded: <reason>".
    const char* const notUtf8 = "the document is not UTF-8 text";
    const char* const instruction = "the document holds a processing instruction after its declaration";
    const char* const documentType = "the document declares a document type";
    const char* const malformed = "the document is not well-formed XML";
    const char* const tooDeep = "the document is nested more than 32 levels deep";
    const char* const tooManyElements = "the document holds more than 131072 elements";
    const char* const tooManyAttributes = "an element of the document has more than 256 attributes";
    const char* const nameTooLong = "the document holds a name longer than 256 characters";
    const char* const tooManyReferences = "an attribute value of the document holds more than 4096 character references";

    static_assert (Limits::maxDepth == 32 && Limits::maxElements == 131072
                    && Limits::maxAttributesPerElement == 256 && Limits::maxNameBytes == 256
                    && Limits::maxReferencesPerValue == 4096,
                   "the reasons above name the limits");

    /** The ASCII characters the parser takes into a name (it also takes
        non-ASCII letters, which the scan refuses). */
    bool isNameByte (char c) noexcept
    {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')
            || c == '_' || c == '-' || c == ':' || c == '.';
    }

    /** What the parser skips as white space between the parts of a tag. */
    bool isSpaceByte (char c) noexcept
    {
        return c == ' ' || (c >= 9 && c <= 13);
    }

    /** Reads the markup from the root element on, as juce::XmlDocument will
        read it, and measures it against Limits. Each step takes only forms
        that the scan and the parser split identically; anything else ends the
        scan with a refusal, so that the two can never disagree about where a
        tag, a quoted value or a comment ends. */
    class MarkupScan
    {
    public:
        MarkupScan (const char* start, const char* stop) noexcept : p (start), end (stop) {}

        /** The reason for refusing, or nullptr. */
        const char* run() noexcept
        {
            while (p < end)
            {
                if (*p == '&')
                {
                    if (! skipEntity())
                        return malformed;

                    continue;
                }

                if (*p != '<')
                {
                    ++p;
                    continue;
                }

                if (startsWith ("<!--"))
                {
                    if (! skipPast (4, "-->"))
                        return malformed;
                }
                else if (startsWith ("<![CDATA["))
                {
                    if (! skipPast (9, "]]>"))
                        return malformed;
                }
                else if (startsWith ("<!"))
                {
                    return malformed;
                }
                else if (startsWith ("<?"))
                {
                    return instruction;
                }
                else if (startsWith ("</"))
                {
                    // The parser closes the innermost element at the next '>',
                    // whatever the name; without one it closes them all.
                    if (! skipPast (2, ">") || --depth <= 0)
                        return nullptr;
                }
                else
                {
                    if (const auto* problem = readTag())
                        return problem;

                    if (depth == 0)
                        return nullptr; // a root element without children
                }
            }

            // Cut off inside an element: the parser fails at the end of the text.
            return nullptr;
        }

    private:
        const char* p;
        const char* const end;
        int depth = 0;
        int elements = 0;

        bool startsWith (const char* text) const noexcept
        {
            const auto length = std::strlen (text);
            return (size_t) (end - p) >= length && std::memcmp (p, text, length) == 0;
        }

        /** Whether p starts with text (lower case) in any ASCII letter case. */
        bool startsWithIgnoringCase (const char* text) const noexcept
        {
            const auto length = std::strlen (text);

            if ((size_t) (end - p) < length)
                return false;

            for (size_t i = 0; i < length; ++i)
            {
                const auto c = p[i];

                if ((c >= 'A' && c <= 'Z' ? (char) (c - 'A' + 'a') : c) != text[i])
                    return false;
            }

            return true;
        }

        /** Moves past the first `marker` that starts `offset` bytes on. */
        bool skipPast (size_t offset, const char* marker) noexcept
        {
            const auto length = std::strlen (marker);
            const auto* found = std::search (p + offset, end, marker, marker + length);

            if (found == end)
                return false;

            p = found + length;
            return true;
        }

        void skipSpaces() noexcept
        {
            while (p < end && isSpaceByte (*p))
                ++p;
        }

        /** A name at p; false when there is none or it is too long (the reason goes to problem). */
        bool readName (const char*& problem) noexcept
        {
            const auto* start = p;

            while (p < end && isNameByte (*p))
                ++p;

            if (p == start)
                problem = malformed;
            else if (p - start > Limits::maxNameBytes)
                problem = nameTooLong;

            return problem == nullptr;
        }

        /** An entity at p, as the parser reads it: "&amp;", "&quot;",
            "&apos;", "&lt;", "&gt;" in any letter case, or a character number
            "&#65;" / "&#x41;" naming a Unicode character. Other entities would
            send the parser looking for a document type's definitions, and a
            malformed number makes it read past the closing quote. */
        bool skipEntity() noexcept
        {
            ++p;

            for (const auto* name : { "amp;", "quot;", "apos;", "lt;", "gt;" })
            {
                if (startsWithIgnoringCase (name))
                {
                    p += std::strlen (name);
                    return true;
                }
            }

            if (p >= end || *p != '#')
                return false;

            ++p;
            const auto hex = p < end && (*p == 'x' || *p == 'X');

            if (hex)
                ++p;

            const int maxDigits = hex ? 8 : 12; // as many as the parser reads
            juce::uint64 code = 0;
            int digits = 0;

            for (; p < end && *p != ';'; ++p)
            {
                const auto digit = hex ? juce::CharacterFunctions::getHexDigitValue ((juce::juce_wchar) (unsigned char) *p)
                                       : (*p >= '0' && *p <= '9' ? *p - '0' : -1);

                if (digit < 0 || ++digits > maxDigits)
                    return false;

                code = code * (hex ? 16u : 10u) + (juce::uint64) digit;
            }

            if (p >= end || digits == 0 || code == 0 || code > 0x10ffff || (code >= 0xd800 && code <= 0xdfff))
                return false;

            ++p;
            return true;
        }

        /** A quoted attribute value at p; the parser ends it at the next
            quote of the same kind, which the entity rule keeps it from
            skipping. Counts its character references into references. */
        bool skipQuotedValue (int& references) noexcept
        {
            const auto quote = *p++;
            references = 0;

            while (p < end)
            {
                if (*p == quote)
                {
                    ++p;
                    return true;
                }

                if (*p == '&')
                {
                    if (! skipEntity())
                        return false;

                    ++references;
                }
                else
                {
                    ++p;
                }
            }

            return false;
        }

        /** An element's opening tag at p ('<' followed by anything but '/', '!' or '?'). */
        const char* readTag() noexcept
        {
            ++p;
            const char* problem = nullptr;

            // The name must end where the parser's does: at a space, '/' or '>'.
            if (! readName (problem))
                return problem;

            if (p < end && ! (isSpaceByte (*p) || *p == '/' || *p == '>'))
                return malformed;

            if (++elements > Limits::maxElements)
                return tooManyElements;

            const auto level = depth + 1;

            if (level > Limits::maxDepth)
                return tooDeep;

            for (int attributes = 0;;)
            {
                skipSpaces();

                if (p >= end)
                    return malformed;

                if (*p == '/')
                {
                    if (end - p < 2 || p[1] != '>')
                        return malformed;

                    p += 2;
                    return nullptr;
                }

                if (*p == '>')
                {
                    ++p;
                    depth = level; // the parser reads the children one level down
                    return nullptr;
                }

                if (! readName (problem))
                    return problem;

                if (p < end && ! (isSpaceByte (*p) || *p == '='))
                    return malformed;

                skipSpaces();

                if (p >= end || *p != '=')
                    return malformed;

                ++p;
                skipSpaces();

                int references = 0;

                if (p >= end || (*p != '"' && *p != '\'') || ! skipQuotedValue (references))
                    return malformed;

                if (references > Limits::maxReferencesPerValue)
                    return tooManyReferences;

                if (++attributes > Limits::maxAttributesPerElement)
                    return tooManyAttributes;
            }
        }
    };

    /** The reason for refusing the text in [p, end), or nullptr. */
    const char* problemWith (const char* p, const char* end) noexcept
    {
        if (! OAStringTools::isWellFormedUtf8 (p, (size_t) (end - p)))
            return notUtf8;

        if (end - p >= 3 && std::memcmp (p, "\xef\xbb\xbf", 3) == 0)
            p += 3;

        while (p < end && juce::CharacterFunctions::isWhitespace (*p))
            ++p;

        // The declaration, if there is one, ends at its first "?>".
        if (end - p >= 2 && p[0] == '<' && p[1] == '?')
        {
            for (p += 2; p < end && ! (p[0] == '?' && p + 1 < end && p[1] == '>'); ++p) {}

            if (p >= end)
                return instruction;

            p += 2;
        }

        for (const auto* q = p; q + 1 < end; ++q)
            if (q[0] == '<' && q[1] == '?')
                return instruction;

        // Before the root the parser skips white space and comments; a
        // document type declaration defines entities, which the program never
        // writes. Anything else there leaves the parser without a document.
        for (;;)
        {
            while (p < end && isSpaceByte (*p))
                ++p;

            if (end - p >= 4 && std::memcmp (p, "<!--", 4) == 0)
            {
                const auto* close = std::search (p + 4, end, "-->", "-->" + 3);

                if (close == end)
                    return malformed;

                p = close + 3;
                continue;
            }

            break;
        }

        if (end - p >= 2 && p[0] == '<' && p[1] == '!')
            return documentType;

        // Without an element here the parser reads nothing further.
        if (p >= end || *p != '<')
            return nullptr;

        return MarkupScan (p, end).run();
    }
}

juce::String OAXmlTools::checkBeforeParsing (const char* utf8, int numBytes)
{
    if (utf8 == nullptr || numBytes <= 0)
        return {};

    const auto* end = utf8 + numBytes;

    if (const auto* zero = static_cast<const char*> (std::memchr (utf8, 0, (size_t) numBytes)))
        end = zero;

    const auto* problem = problemWith (utf8, end);
    return problem != nullptr ? juce::String (problem) : juce::String();
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

std::unique_ptr<juce::XmlElement> OAXmlTools::parse (const juce::String& text, juce::String* whyRefused)
{
    const auto problem = checkBeforeParsing (text.toRawUTF8(), (int) text.getNumBytesAsUTF8());

    if (problem.isNotEmpty())
    {
        if (whyRefused != nullptr)
            *whyRefused = problem;

        return nullptr;
    }

    return juce::parseXML (text);
}
