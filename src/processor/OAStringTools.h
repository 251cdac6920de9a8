#pragma once

#include <juce_core/juce_core.h>

namespace OAStringTools
{
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
