// To be completed: the request, drawing, layout and the two buttons (members and interface only so far).
#pragma once

#include "net/OAMotdMessage.h"

#include <juce_gui_basics/juce_gui_basics.h>

/** The message of the day in a box over the dimmed editor, with "ok" (sends
    "motd.<tag>.-1", on which the editor stores the tag) and "more info"
    (opens moreInfoUrl). Until a request succeeds it shows its built-in
    texts. */
class OAMotdScreen : public juce::Component,
                     public juce::Button::Listener,
                     public juce::ActionBroadcaster
{
public:
    OAMotdScreen();
    ~OAMotdScreen() override;

    /** Fetches requestUrl and, for a well-formed reply, replaces the four
        texts. Blocks the calling (message) thread for the request. */
    void requestMotd();

    void paint (juce::Graphics& g) override;
    void resized() override;
    void buttonClicked (juce::Button* button) override;

    juce::String productKey { "korvane" };
    juce::Colour textColour { juce::Colours::white };
    juce::Colour boxColour { juce::Colours::darkslategrey };
    juce::TextButton okButton { "ok" };
    juce::TextButton moreInfoButton { "more info" };

    // The message; built-in values until a reply replaces all four.
    juce::String headline { OAMotdMessage().headline };
    juce::String bodyText { OAMotdMessage().bodyText };
    juce::String moreInfoUrl { OAMotdMessage().moreInfoUrl };
    juce::String tag { OAMotdMessage().tag };

    juce::String requestUrl { "https://orbelaudio.github.io/motd/" + productKey + ".txt" };

    /** The message box within the screen; the editor centres it. */
    struct BoxBounds
    {
        int height = 0, width = 0, x = 0, y = 0;
    };

    BoxBounds boxBounds;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (OAMotdScreen)
};
