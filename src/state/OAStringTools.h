#pragma once

#include <juce_core/juce_core.h>

namespace OAStringTools
{
    /** Whether numBytes bytes are well-formed UTF-8 (RFC 3629): no overlong
        forms, no surrogates, nothing above U+10FFFF, no sequence cut short.
        A zero byte is a character like any other. The framework's own check
        lets overlong forms through, and its strings copy such text into a
        buffer sized for the shorter re-encoding: text from outside is checked
        here before it becomes a juce::String. */
    inline bool isWellFormedUtf8 (const void* data, size_t numBytes)
    {
        const auto* p = static_cast<const unsigned char*> (data);
        const auto* end = p + numBytes;

        while (p < end)
        {
            const auto lead = *p++;

            if (lead < 0x80)
                continue;

            int extra = 0;
            unsigned char lo = 0x80, hi = 0xbf; // allowed range of the first continuation byte

            if (lead >= 0xc2 && lead <= 0xdf)      { extra = 1; }
            else if (lead == 0xe0)                 { extra = 2; lo = 0xa0; }
            else if (lead == 0xed)                 { extra = 2; hi = 0x9f; } // no surrogates
            else if (lead >= 0xe1 && lead <= 0xef) { extra = 2; }
            else if (lead == 0xf0)                 { extra = 3; lo = 0x90; }
            else if (lead >= 0xf1 && lead <= 0xf3) { extra = 3; }
            else if (lead == 0xf4)                 { extra = 3; hi = 0x8f; } // up to U+10FFFF
            else                                   return false;              // 0x80..0xc1, 0xf5..0xff

            if (end - p < extra || *p < lo || *p > hi)
                return false;

            for (int i = 1; i < extra; ++i)
                if ((p[i] & 0xc0) != 0x80)
                    return false;

            p += extra;
        }

        return true;
    }

    /** Splits text at every occurrence of separator (used as a single
        character): "synth1_attack" gives ("synth1", "attack"), "velMin" gives
        ("velMin"), "" gives (""); two separators in a row give an empty piece. */
    inline juce::Array<juce::String> split (juce::String text, juce::String separator)
    {
        juce::Array<juce::String> pieces;

        for (int index = text.indexOf (separator); index >= 0; index = text.indexOf (separator))
        {
            pieces.add (text.substring (0, index));
            text = text.substring (index + 1);
        }

        pieces.add (text);
        return pieces;
    }
}
