#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

namespace HostX11
{
    /** Counts X errors instead of letting Xlib end the process at the first. */
    void countXErrors();
    int xErrorCount();
    /** BadAtom errors for the atom None, counted apart from xErrorCount(). */
    int unknownPropertyNameCount();

    /** The pixels the server shows in that area of a native window (the
        window and the windows embedded in it); null when it cannot be read. */
    juce::Image grabWindow (void* nativeHandle, juce::Rectangle<int> area);
}
