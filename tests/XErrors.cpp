// Kept apart from the tests: the X11 headers' macros clash with GoogleTest's names.
#define JUCE_GUI_BASICS_INCLUDE_XHEADERS 1

#include "UiTestSupport.h"

namespace
{
    int ignoreXError (::Display*, XErrorEvent*) { return 0; }
}

void ignoreXErrorsLikeTheStandalone()
{
    juce::XWindowSystem::getInstance(); // loads the X symbols
    juce::X11Symbols::getInstance()->xSetErrorHandler (ignoreXError);
}
